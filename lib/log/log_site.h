// How library code logs: the level test first, then the message, with the
// calling function, the source file's name and the line.
#pragma once

#include "hvl/hvl_log.h"

namespace hvl::log {

// The file name without its directories, worked out at compile time.
constexpr const char *base_name(const char *path) {
    const char *base = path;
    for (const char *p = path; *p != '\0'; ++p) {
        if (*p == '/') {
            base = p + 1;
        }
    }
    return base;
}

// Where a log call stands, for helpers that log on their caller's behalf.
struct Site {
    const char *function;
    const char *file;
    int line;
};

} // namespace hvl::log

// The site of the code that names it: its function, source file and line.
#define HVL_HERE (hvl::log::Site{__func__, hvl::log::base_name(__FILE__), __LINE__})

// Each source file of the library has its own submodule index; nothing in this
// program changes it, so every message goes to submodule 0.
namespace {
// NOLINTNEXTLINE(misc-definitions-in-headers): one per source file on purpose
[[maybe_unused]] int hvl_log_submodule_index = 0;
} // namespace

// Logs at `level` (the value) under the name of `function`.
#define HVL_LOG_AT(function, level, ...)                                                           \
    do {                                                                                           \
        if (hvl_log_level_enabled(_hvl_log_this_module, 0, hvl_log_submodule_index, (level))) {    \
            hvl_log_message(_hvl_log_this_module, 0, hvl_log_submodule_index, (level), (function), \
                            hvl::log::base_name(__FILE__), __LINE__, __VA_ARGS__);                 \
        }                                                                                          \
    } while (0)

// `level` is a level name (MINOR, DEBUG, ...), pasted onto HVL_LOG_ before any
// macro of that name could replace it: a build with -DDEBUG still logs right.
// HVL_LOGF_AS logs under the name of `function`, for helpers that report for
// their caller.
#define HVL_LOGF_AS(function, level, ...) HVL_LOG_AT(function, HVL_LOG_##level, __VA_ARGS__)
#define HVL_LOGF(level, ...) HVL_LOG_AT(__func__, HVL_LOG_##level, __VA_ARGS__)
