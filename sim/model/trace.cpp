#include "trace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <utility>

namespace sim {

Trace::Trace(const std::string &path)
    : file_(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644)) {
    if (!file_.valid()) {
        throw std::runtime_error("trace file " + path + ": " + std::strerror(errno));
    }
}

Trace Trace::in_memory() {
    Trace trace;
    trace.in_memory_ = true;
    return trace;
}

void Trace::record(std::string line) {
    if (file_.valid()) {
        const std::string text = line + '\n';
        while (::write(file_.get(), text.data(), text.size()) < 0 && errno == EINTR) {
        }
    }
    if (in_memory_) {
        lines_.push_back(std::move(line));
    }
}

std::string trace_hex(std::uint64_t value, int digits) {
    char text[24];
    (void)std::snprintf(text, sizeof text, "0x%0*llx", digits,
                        static_cast<unsigned long long>(value));
    return text;
}

std::string trace_bytes(const std::uint8_t *bytes, std::size_t count) {
    constexpr std::size_t kShown = 64;
    std::string text;
    for (std::size_t i = 0; i < count && i < kShown; ++i) {
        char pair[4];
        (void)std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>(bytes[i]));
        text += pair;
    }
    if (count > kShown) {
        text += "...(" + std::to_string(count) + " bytes)";
    }
    return text;
}

} // namespace sim
