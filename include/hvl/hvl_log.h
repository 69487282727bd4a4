/*
 * Logging library: one log module per process with up to 32 submodules and
 * 32 scopes, level masks per submodule and scope, and console, syslog and
 * callback targets.
 */
#ifndef HVL_LOG_H
#define HVL_LOG_H

#include <stdarg.h>
#include <stdint.h>

#include "hvl_export.h"

HVL_BEGIN_DECLS

/* Levels; the mask bit of a level is 1 << level. */
enum HvlLogLevel { CRITICAL = 0, MAJOR = 1, MINOR = 2, INFO = 3, TRACE = 4, DEBUG = 5 };

/* Target bits of a module. */
#define HVL_LOG_TARGET_CONSOLE 1u
#define HVL_LOG_TARGET_SYSLOG 2u
#define HVL_LOG_TARGET_CALLBACK 8u

#define HVL_LOG_NAME_SIZE 16
#define HVL_LOG_MAX_SUBMODULES 32
#define HVL_LOG_MAX_SCOPES 32

/*
 * Callback target. Receives the callback data, the time of the message
 * (seconds and microseconds), its coordinates, and the ready format "%s: %s\n"
 * with the header and the body as its two arguments.
 */
typedef int (*HvlLogCallback)(void *data, int64_t sec, int32_t usec, int scope, int submodule,
                              int level, const char *file, int line, const char *format, ...);

typedef struct LogSubmodule {
    char name[HVL_LOG_NAME_SIZE];
    int32_t enabled;
    uint32_t mask;
    uint32_t err_count[3]; /* level tests made at CRITICAL, MAJOR, MINOR */
} LogSubmodule;

typedef struct LogScope {
    char name[HVL_LOG_NAME_SIZE];
    int32_t enabled;
    uint32_t mask;
} LogScope;

typedef struct LogModule {
    int32_t enabled;
    uint32_t targets;
    char name[HVL_LOG_NAME_SIZE];
    int32_t submodule_count;
    HvlLogCallback log_cb;
    void *log_cb_data;
    LogSubmodule submodules[HVL_LOG_MAX_SUBMODULES];
    LogScope scopes[HVL_LOG_MAX_SCOPES];
} LogModule;

/* The registered module, null while none is registered. */
HVL_API extern LogModule *_hvl_log_this_module;

HVL_API int hvl_log_init(void);
HVL_API int hvl_log_module_register(LogModule *log_module, const char *module_name,
                                    int submodule_count);
HVL_API int hvl_log_module_unregister(LogModule *log_module);
HVL_API int hvl_log_config_module(int enabled, int targets);
HVL_API int hvl_log_config_env(void);
HVL_API int hvl_log_config_submodule(int index, int enabled, int mask);
HVL_API int hvl_log_config_submodule_by_name(const char *name, int enabled, int mask);
HVL_API int hvl_log_config_all_submodules(int enabled, int mask);
HVL_API int hvl_log_name_submodule(const char *name, int index);
HVL_API int hvl_log_foreach_submodule(void (*function)(LogSubmodule *submodule, void *argument),
                                      void *argument);
HVL_API int hvl_log_reset_counters(void);
HVL_API int hvl_log_set_callback(HvlLogCallback function, void *data);
HVL_API int hvl_log_get_enabled(void);
HVL_API int hvl_log_get_targets(void);
HVL_API int hvl_log_get_submodule_mask(int index);
HVL_API int hvl_log_level_enabled(LogModule *module, int scope, int submodule, int level);
HVL_API int hvl_log_message(LogModule *module, int scope, int submodule, int level,
                            const char *function, const char *file, int line, const char *format,
                            ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 8, 9)))
#endif
    ;
HVL_API int hvl_log_message_va(LogModule *module, int scope, int submodule, int level,
                               const char *function, const char *file, int line, const char *format,
                               va_list args)
#if defined(__GNUC__)
    __attribute__((format(printf, 8, 0)))
#endif
    ;

HVL_END_DECLS

#endif /* HVL_LOG_H */
