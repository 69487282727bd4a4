#include "trace.h"

#include "unique_fd.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace sim {
namespace {

std::string hex32(std::uint32_t value) {
    char text[16];
    (void)std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

std::string result(int ret, int err) {
    return "-> ret=" + std::to_string(ret) + " errno=" + std::to_string(ret < 0 ? err : 0);
}

std::string fields(const CpldIo &io) {
    return "param0=" + hex32(io.param0) + " param1=" + hex32(io.param1);
}

void append_line(const std::string &path, const std::string &line) {
    UniqueFd fd = out_of_the_way(
        UniqueFd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644)));
    if (!fd.valid()) {
        return;
    }
    const std::string text = line + '\n';
    ssize_t written = 0;
    do {
        written = ::write(fd.get(), text.data(), text.size());
    } while (written < 0 && errno == EINTR);
}

} // namespace

Trace::Trace(std::string path, bool in_memory) : path_(std::move(path)), in_memory_(in_memory) {}

void Trace::record(std::string line) {
    if (!path_.empty()) {
        const int saved = errno;
        append_line(path_, line);
        errno = saved;
    }
    if (in_memory_) {
        lines_.push_back(std::move(line));
    }
}

std::string trace_open(std::string_view device, int flags, int ret, int err) {
    return std::string(device) + " open flags=" + hex32(static_cast<std::uint32_t>(flags)) + " " +
           result(ret, err);
}

std::string trace_close(std::string_view device, int fd, int ret, int err) {
    return std::string(device) + " close fd=" + std::to_string(fd) + " " + result(ret, err);
}

std::string trace_cpld(std::string_view name, const CpldIo &in, const CpldIo &out, int ret,
                       int err) {
    std::string line = "cpld " + std::string(name) + " " + fields(in) + " " + result(ret, err);
    if (ret == 0) {
        line += " rc=" + std::to_string(out.rc) + " " + fields(out);
    }
    return line;
}

std::string trace_cpld_no_record(std::string_view name, int ret, int err) {
    return "cpld " + std::string(name) + " arg=NULL " + result(ret, err);
}

std::string trace_unknown(std::string_view device, unsigned long request, int ret, int err) {
    char text[24];
    (void)std::snprintf(text, sizeof text, "0x%08lx", request);
    return std::string(device) + " request=" + text + " " + result(ret, err);
}

std::string trace_ipmi(std::string_view name, const std::string &sent, int ret, int err,
                       const std::string &got) {
    std::string line = "ipmi " + std::string(name) + " ";
    if (!sent.empty()) {
        line += sent + " ";
    }
    line += result(ret, err);
    if (!got.empty()) {
        line += " " + got;
    }
    return line;
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
