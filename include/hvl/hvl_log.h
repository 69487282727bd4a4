/*
 * Logging library: one log module per process with up to 32 submodules and
 * 32 scopes, level masks per submodule and scope, and console, syslog and
 * callback targets.
 *
 * Names: HVL_LOG_CRITICAL to HVL_LOG_DEBUG always name the levels. CRITICAL,
 * MAJOR, MINOR, INFO, TRACE and DEBUG name them too, unless your program has a
 * macro of that name (-DDEBUG is common): then it keeps its macro, and DEBUG
 * in your code means your macro, not the level.
 *
 * Results: 0 success; -22 a bad argument or no module registered; -12 a
 * module is already registered. Functions that answer something else say so.
 */
#ifndef HVL_LOG_H
#define HVL_LOG_H

#include <stdarg.h>
#include <stdint.h>

#include "hvl_export.h"

HVL_BEGIN_DECLS

/* Levels; the mask bit of a level is 1 << level. */
enum HvlLogLevel {
    HVL_LOG_CRITICAL = 0,
    HVL_LOG_MAJOR = 1,
    HVL_LOG_MINOR = 2,
    HVL_LOG_INFO = 3,
    HVL_LOG_TRACE = 4,
    HVL_LOG_DEBUG = 5,
#ifndef CRITICAL
    CRITICAL = HVL_LOG_CRITICAL,
#endif
#ifndef MAJOR
    MAJOR = HVL_LOG_MAJOR,
#endif
#ifndef MINOR
    MINOR = HVL_LOG_MINOR,
#endif
#ifndef INFO
    INFO = HVL_LOG_INFO,
#endif
#ifndef TRACE
    TRACE = HVL_LOG_TRACE,
#endif
#ifndef DEBUG
    DEBUG = HVL_LOG_DEBUG,
#endif
};

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

/* Does nothing; 0. */
HVL_API int hvl_log_init(void);
/*
 * Registers the caller's record under `module_name` with `submodule_count`
 * submodules (at most 32): the record is zeroed and filled, scope 0 "global"
 * gets every level. The library keeps both pointers until
 * hvl_log_module_unregister, and syslog keeps the name as its identity: the
 * record and the name must live that long. Null pointers are asserted.
 */
HVL_API int hvl_log_module_register(LogModule *log_module, const char *module_name,
                                    int submodule_count);
/* -22 unless `log_module` is the registered one; closes the syslog connection. */
HVL_API int hvl_log_module_unregister(LogModule *log_module);
/* The module's enabled flag and target bits; -1 keeps a field. */
HVL_API int hvl_log_config_module(int enabled, int targets);
/* Applies HVL_LOG, then HVL_LOG_TARGET. */
HVL_API int hvl_log_config_env(void);
/* Submodule 0 to 31, whatever the count; -1 keeps a field. */
HVL_API int hvl_log_config_submodule(int index, int enabled, int mask);
/* The first submodule named exactly `name`; -22 if none is. */
HVL_API int hvl_log_config_submodule_by_name(const char *name, int enabled, int mask);
/* All 32 submodules. */
HVL_API int hvl_log_config_all_submodules(int enabled, int mask);
/* Names submodule `index` (below the count; at most 15 characters are copied) and disables it. */
HVL_API int hvl_log_name_submodule(const char *name, int index);
/* Calls `function` with each of the first submodule-count submodules, in order. */
HVL_API int hvl_log_foreach_submodule(void (*function)(LogSubmodule *submodule, void *argument),
                                      void *argument);
/* Zeroes the error counters of all 32 submodules. */
HVL_API int hvl_log_reset_counters(void);
/* The callback target; the library keeps `data` and hands it back with every message. */
HVL_API int hvl_log_set_callback(HvlLogCallback function, void *data);
/* The module's enabled flag, or -22. */
HVL_API int hvl_log_get_enabled(void);
/* The module's target bits, or -22. */
HVL_API int hvl_log_get_targets(void);
/* The mask of submodule 0 to 31, or -22. */
HVL_API int hvl_log_get_submodule_mask(int index);
/*
 * 1 when a message with these coordinates is to be emitted, else 0 (never an
 * error code). Counts error levels (0 to 2) of an enabled module, emitted or not.
 */
HVL_API int hvl_log_level_enabled(LogModule *module, int scope, int submodule, int level);
/*
 * Formats and emits one message without testing its level (the caller has);
 * `function`, `file` and `format` may be null. -22 for a null module or a
 * scope, submodule or level out of range.
 */
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
