// Logging library: the one log module of the process, its level test, the
// message formatter with its console, syslog and callback targets, and the
// configuration from HVL_LOG and HVL_LOG_TARGET.
#include "hvl/hvl_log.h"

#include <assert.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/time.h>
#include <syslog.h>
#include <time.h>

#include <cstddef>
#include <cstdint>

LogModule *_hvl_log_this_module = nullptr;

namespace {

constexpr int kBadArgument = -22;
constexpr int kAlreadyRegistered = -12;
constexpr int kKeep = -1; // a configuration argument that leaves its field as it is

constexpr std::uint32_t kAllLevels = 0x3f;
constexpr int kErrorLevels = 3; // CRITICAL, MAJOR and MINOR are counted

// Fixed buffers of the message function and the limits handed to snprintf.
constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kHeaderLimit = kHeaderSize - 1;
constexpr std::size_t kBodySize = 256;
constexpr std::size_t kBodyLimit = kBodySize - 1;
constexpr std::size_t kTimeSize = 32;

// HVL_LOG is scanned through buffers of this size; longer names and words stop the scan.
constexpr std::size_t kEnvTokenSize = 80;

// Per level, indexed by level: the prefix printed in messages and the syslog priority.
struct LevelRow {
    const char *prefix;
    int priority;
};

constexpr LevelRow kLevels[] = {
    {"ERROR*CRITICAL*", LOG_CRIT}, {"ERROR*MAJOR*", LOG_ERR}, {"ERROR*MINOR*", LOG_WARNING},
    {"INFO", LOG_NOTICE},          {"TRCE", LOG_INFO},        {"DBUG", LOG_DEBUG},
};
constexpr int kLevelCount = static_cast<int>(sizeof kLevels / sizeof kLevels[0]);

// The words that name a level mask in the configuration, searched in this
// order; the empty row closes the table.
struct LevelWord {
    const char *word;
    std::uint32_t mask;
};

constexpr LevelWord kLevelWords[] = {
    {"OFF", 0x00},  {"ON", 0x3f},    {"ALL", 0x3f},   {"DEBUG", 0x3f},    {"TRACE", 0x1f},
    {"INFO", 0x0f}, {"MINOR", 0x07}, {"MAJOR", 0x03}, {"CRITICAL", 0x01}, {nullptr, 0},
};

int initialised = 0;

// The row of `word` (ignoring case), or null.
const LevelWord *find_level_word(const char *word) {
    for (const LevelWord *row = kLevelWords; row->word != nullptr; ++row) {
        if (strcasecmp(row->word, word) == 0) {
            return row;
        }
    }
    return nullptr;
}

bool in_table(int index) { return index >= 0 && index < HVL_LOG_MAX_SUBMODULES; }

// The mask bit of a level; a level outside 0 to 31 has none.
std::uint32_t level_bit(int level) { return level >= 0 && level < 32 ? 1u << level : 0u; }

// Copies at most 15 characters and always terminates.
void copy_name(char (&dest)[HVL_LOG_NAME_SIZE], const char *src) {
    std::size_t len = strnlen(src, HVL_LOG_NAME_SIZE - 1);
    memcpy(dest, src, len);
    dest[len] = '\0';
}

LogModule *registered() { return initialised != 0 ? _hvl_log_this_module : nullptr; }

void set_unless_keep(std::int32_t &field, int value) {
    if (value != kKeep) {
        field = value;
    }
}

void set_unless_keep(std::uint32_t &field, int value) {
    if (value != kKeep) {
        field = static_cast<std::uint32_t>(value);
    }
}

void build_header(char (&header)[kHeaderSize], const LogModule *m, int scope, int submodule,
                  int level, const char *function, const char *file, int line) {
    header[kHeaderSize - 1] = '\0';
    snprintf(header, kHeaderLimit, "%s: %s: %s: %s%s %s%s%d%s%s%s", m->name, kLevels[level].prefix,
             m->scopes[scope].name, m->submodules[submodule].name, file != nullptr ? ":" : "",
             file != nullptr ? file : "", file != nullptr ? "(" : "", line,
             function != nullptr ? " " : "", function != nullptr ? function : "",
             file != nullptr ? ")" : "");
}

// Formats the body on one line: newlines become blanks.
[[gnu::format(printf, 2, 0)]] void build_body(char (&body)[kBodySize], const char *format,
                                              va_list args) {
    body[0] = '\0';
    body[kBodySize - 1] = '\0';
    if (format == nullptr) {
        return;
    }
    vsnprintf(body, kBodyLimit, format, args); // NOLINT(clang-analyzer-valist.Uninitialized)
    for (char *c = body; *c != '\0'; ++c) {
        if (*c == '\n') {
            *c = ' ';
        }
    }
}

// The local date and time of `now` as "%x %X" (a two-digit year in the POSIX
// locale, which the program keeps); empty if the time cannot be converted.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
#endif
void format_time(char (&text)[kTimeSize], const struct timeval &now) {
    text[0] = '\0';
    time_t seconds = now.tv_sec;
    const struct tm *local = localtime(&seconds);
    if (local == nullptr || strftime(text, sizeof text, "%x %X", local) == 0) {
        text[0] = '\0';
    }
}
#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

void emit_console(const char *time_text, const struct timeval &now, const char *header,
                  const char *body) {
    printf("%s:%06lu: %s: %s\n", time_text, static_cast<unsigned long>(now.tv_usec), header, body);
    fflush(stdout);
}

void emit_callback(const LogModule *m, const struct timeval &now, int scope, int submodule,
                   int level, const char *file, int line, const char *header, const char *body) {
    assert(m->log_cb);
    m->log_cb(m->log_cb_data, static_cast<std::int64_t>(now.tv_sec),
              static_cast<std::int32_t>(now.tv_usec), scope, submodule, level, file, line,
              "%s: %s\n", header, body);
}

void emit_syslog(int level, const char *header, const char *body) {
    syslog(kLevels[level].priority | LOG_LOCAL0, "%s: %s", header, body);
}

// One NAME:WORD pair of HVL_LOG, and where the pair behind it starts.
struct EnvPair {
    char name[kEnvTokenSize];
    char word[kEnvTokenSize];
    const char *next;
};

// Copies [begin, begin + len) into `dest`; false if it is empty or does not fit.
bool take_token(char (&dest)[kEnvTokenSize], const char *begin, std::size_t len) {
    if (len == 0 || len >= kEnvTokenSize) {
        return false;
    }
    memcpy(dest, begin, len);
    dest[len] = '\0';
    return true;
}

// Reads the pair at `text`; false when the scan has to stop there.
bool take_pair(const char *text, EnvPair &pair) {
    const char *colon = strchr(text, ':');
    if (colon == nullptr || !take_token(pair.name, text, static_cast<std::size_t>(colon - text))) {
        return false;
    }
    const char *word = colon + 1;
    std::size_t word_len = strcspn(word, ",");
    if (!take_token(pair.word, word, word_len)) {
        return false;
    }
    pair.next = word + word_len + (word[word_len] == ',' ? 1 : 0);
    return true;
}

// Applies one pair; true if it enabled some level somewhere.
bool apply_pair(const EnvPair &pair) {
    const LevelWord *row = find_level_word(pair.word);
    if (row == nullptr) {
        return false; // an unknown level word applies nothing
    }
    int mask = static_cast<int>(row->mask);
    int enabled = mask != 0 ? 1 : 0;
    bool applied = hvl_log_config_submodule_by_name(pair.name, enabled, mask) == 0;
    if (!applied && strcasecmp(pair.name, "DEFAULT") == 0) {
        applied = hvl_log_config_all_submodules(enabled, mask) == 0;
    }
    return applied && mask != 0;
}

// Applies every pair of HVL_LOG up to the first malformed one.
void apply_levels(const char *value) {
    bool something_enabled = false;
    EnvPair pair{};
    for (const char *p = value; *p != '\0' && take_pair(p, pair); p = pair.next) {
        something_enabled = apply_pair(pair) || something_enabled;
    }
    if (something_enabled) {
        hvl_log_config_module(1, kKeep);
    }
}

void apply_targets(const char *value) {
    unsigned targets = 0;
    if (strstr(value, "CONSOLE") != nullptr) {
        targets |= HVL_LOG_TARGET_CONSOLE;
    }
    if (strstr(value, "SYSLOG") != nullptr) {
        targets |= HVL_LOG_TARGET_SYSLOG;
    }
    hvl_log_config_module(kKeep, static_cast<int>(targets));
}

} // namespace

int hvl_log_init(void) { return 0; }

int hvl_log_module_register(LogModule *log_module, const char *module_name, int submodule_count) {
    assert(log_module);
    assert(module_name);
    if (initialised != 0) {
        return kAlreadyRegistered;
    }
    if (submodule_count > HVL_LOG_MAX_SUBMODULES) {
        return kBadArgument;
    }
    initialised = 1;
    assert(_hvl_log_this_module == 0); // NOLINT(modernize-use-nullptr): the assertion text
    _hvl_log_this_module = log_module;

    *log_module = LogModule{};
    copy_name(log_module->name, module_name);
    log_module->submodule_count = submodule_count;
    LogScope &global = log_module->scopes[0];
    copy_name(global.name, "global");
    global.enabled = 1;
    global.mask = kAllLevels;

    openlog(module_name, LOG_PID | LOG_NDELAY, LOG_LOCAL0);
    return 0;
}

int hvl_log_module_unregister(LogModule *log_module) {
    if (log_module == nullptr || log_module != registered()) {
        return kBadArgument;
    }
    closelog();
    initialised = 0;
    _hvl_log_this_module = nullptr;
    return 0;
}

int hvl_log_config_module(int enabled, int targets) {
    LogModule *m = registered();
    if (m == nullptr) {
        return kBadArgument;
    }
    set_unless_keep(m->enabled, enabled);
    set_unless_keep(m->targets, targets);
    return 0;
}

int hvl_log_config_env(void) {
    if (registered() == nullptr) {
        return kBadArgument;
    }
    if (const char *levels = getenv("HVL_LOG")) {
        apply_levels(levels);
    }
    if (const char *targets = getenv("HVL_LOG_TARGET")) {
        apply_targets(targets);
    }
    return 0;
}

int hvl_log_config_submodule(int index, int enabled, int mask) {
    LogModule *m = registered();
    if (m == nullptr || !in_table(index)) {
        return kBadArgument;
    }
    set_unless_keep(m->submodules[index].enabled, enabled);
    set_unless_keep(m->submodules[index].mask, mask);
    return 0;
}

int hvl_log_config_submodule_by_name(const char *name, int enabled, int mask) {
    LogModule *m = registered();
    if (m == nullptr || name == nullptr) {
        return kBadArgument;
    }
    for (int i = 0; i < HVL_LOG_MAX_SUBMODULES; ++i) {
        if (strcmp(m->submodules[i].name, name) == 0) {
            return hvl_log_config_submodule(i, enabled, mask);
        }
    }
    return kBadArgument;
}

int hvl_log_config_all_submodules(int enabled, int mask) {
    for (int i = 0; i < HVL_LOG_MAX_SUBMODULES; ++i) {
        int rc = hvl_log_config_submodule(i, enabled, mask);
        if (rc != 0) {
            return rc;
        }
    }
    return 0;
}

int hvl_log_name_submodule(const char *name, int index) {
    LogModule *m = registered();
    if (m == nullptr || name == nullptr || index < 0 || index >= m->submodule_count) {
        return kBadArgument;
    }
    LogSubmodule &sub = m->submodules[index];
    copy_name(sub.name, name);
    sub.enabled = 0;
    sub.mask = 0;
    return 0;
}

int hvl_log_foreach_submodule(void (*function)(LogSubmodule *submodule, void *argument),
                              void *argument) {
    LogModule *m = registered();
    if (m == nullptr || function == nullptr) {
        return kBadArgument;
    }
    for (int i = 0; i < m->submodule_count; ++i) {
        function(&m->submodules[i], argument);
    }
    return 0;
}

int hvl_log_reset_counters(void) {
    LogModule *m = registered();
    if (m == nullptr) {
        return kBadArgument;
    }
    for (LogSubmodule &sub : m->submodules) {
        for (std::uint32_t &count : sub.err_count) {
            count = 0;
        }
    }
    return 0;
}

int hvl_log_set_callback(HvlLogCallback function, void *data) {
    LogModule *m = registered();
    if (m == nullptr) {
        return kBadArgument;
    }
    m->log_cb = function;
    m->log_cb_data = data;
    return 0;
}

int hvl_log_get_enabled(void) {
    const LogModule *m = registered();
    return m != nullptr ? m->enabled : kBadArgument;
}

int hvl_log_get_targets(void) {
    const LogModule *m = registered();
    return m != nullptr ? static_cast<int>(m->targets) : kBadArgument;
}

int hvl_log_get_submodule_mask(int index) {
    const LogModule *m = registered();
    if (m == nullptr || !in_table(index)) {
        return kBadArgument;
    }
    return static_cast<int>(m->submodules[index].mask);
}

int hvl_log_level_enabled(LogModule *module, int scope, int submodule, int level) {
    if (registered() == nullptr || module == nullptr || module->enabled == 0 ||
        !in_table(submodule)) {
        return 0;
    }
    LogSubmodule &sub = module->submodules[submodule];
    if (level >= 0 && level < kErrorLevels) {
        ++sub.err_count[level];
    }
    std::uint32_t bit = level_bit(level);
    if (sub.enabled == 0 || (sub.mask & bit) == 0 || scope < 0 || scope >= HVL_LOG_MAX_SCOPES) {
        return 0;
    }
    const LogScope &sc = module->scopes[scope];
    return sc.enabled != 0 && (sc.mask & bit) != 0 ? 1 : 0;
}

int hvl_log_message(LogModule *module, int scope, int submodule, int level, const char *function,
                    const char *file, int line, const char *format, ...) {
    va_list args;
    va_start(args, format);
    int rc =
        hvl_log_message_va(module, scope, submodule, level, function, file, line, format, args);
    va_end(args);
    return rc;
}

int hvl_log_message_va(LogModule *module, int scope, int submodule, int level, const char *function,
                       const char *file, int line, const char *format, va_list args) {
    if (module == nullptr || scope < 0 || scope >= HVL_LOG_MAX_SCOPES || !in_table(submodule) ||
        level < 0 || level >= kLevelCount) {
        return kBadArgument;
    }
    const LogModule *m = module;
    char header[kHeaderSize];
    char body[kBodySize];
    build_header(header, m, scope, submodule, level, function, file, line);
    build_body(body, format, args);

    if ((m->targets & (HVL_LOG_TARGET_CONSOLE | HVL_LOG_TARGET_CALLBACK)) != 0) {
        struct timeval now {};
        gettimeofday(&now, nullptr);
        if ((m->targets & HVL_LOG_TARGET_CONSOLE) != 0) {
            char time_text[kTimeSize];
            format_time(time_text, now);
            emit_console(time_text, now, header, body);
        }
        if ((m->targets & HVL_LOG_TARGET_CALLBACK) != 0) {
            emit_callback(m, now, scope, submodule, level, file, line, header, body);
        }
    }
    if ((m->targets & HVL_LOG_TARGET_SYSLOG) != 0) {
        emit_syslog(level, header, body);
    }
    return 0;
}
