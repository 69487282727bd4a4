// Registers the process's log module with every level on and collects the
// messages through the callback target, so a test can see what was logged.
#pragma once

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "hvl/hvl_log.h"

class LogCapture {
public:
    LogCapture() {
        hvl_log_module_register(&module_, "TEST", 1);
        hvl_log_config_module(1, HVL_LOG_TARGET_CALLBACK);
        hvl_log_config_all_submodules(1, 0x3f);
        hvl_log_set_callback(&LogCapture::collect, this);
    }
    ~LogCapture() { hvl_log_module_unregister(&module_); }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    // "header: body" of every message so far.
    const std::vector<std::string> &lines() const { return lines_; }
    bool contains(const std::string &text) const {
        return std::any_of(lines_.begin(), lines_.end(), [&text](const std::string &line) {
            return line.find(text) != std::string::npos;
        });
    }
    void clear() { lines_.clear(); }

private:
    __attribute__((format(printf, 9, 10))) static int
    collect(void *data, int64_t /*sec*/, int32_t /*usec*/, int /*scope*/, int /*submodule*/,
            int /*level*/, const char * /*file*/, int /*line*/, const char *format, ...) {
        char text[512];
        va_list args;
        va_start(args, format);
        vsnprintf(text, sizeof text, format, args);
        va_end(args);
        std::string line(text);
        if (!line.empty() && line.back() == '\n') {
            line.pop_back();
        }
        static_cast<LogCapture *>(data)->lines_.push_back(line);
        return 0;
    }

    LogModule module_{};
    std::vector<std::string> lines_;
};
