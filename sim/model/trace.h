// The trace of what a program asked of the simulated devices: one line per
// open, close and driver request (for the IPMI device: with the message sent
// and the IPMC's answer), kept in memory and appended to a file.
#pragma once

#include <hvl/cpld.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class Trace {
public:
    // `path` empty: no file. `in_memory`: the lines are kept for lines().
    explicit Trace(std::string path = {}, bool in_memory = true);

    // Whether lines go anywhere: when not, callers need not make them.
    bool on() const { return !path_.empty() || in_memory_; }
    // Appends one line (without its newline). The file gets it with a single
    // write on an O_APPEND descriptor, so lines of two processes never mix.
    void record(std::string line);
    const std::vector<std::string> &lines() const { return lines_; }

private:
    std::string path_;
    bool in_memory_;
    std::vector<std::string> lines_;
};

std::string trace_open(std::string_view device, int flags, int ret, int err);
std::string trace_close(std::string_view device, int fd, int ret, int err);
// A request the driver knows; `out` is the record after a call that returned 0.
std::string trace_cpld(std::string_view name, const CpldIo &in, const CpldIo &out, int ret,
                       int err);
// A request the driver knows, without a record to read (`arg` was null).
std::string trace_cpld_no_record(std::string_view name, int ret, int err);
// A request the driver of `device` does not know.
std::string trace_unknown(std::string_view device, unsigned long request, int ret, int err);

// A request of the IPMI driver: its record's fields as sent (`sent`) and as
// the driver left them (`got`, empty when it did not write the record).
std::string trace_ipmi(std::string_view name, const std::string &sent, int ret, int err,
                       const std::string &got);
// Bytes as lower-case hex pairs; a long run is cut after 64 bytes and ends in
// "...(N bytes)".
std::string trace_bytes(const std::uint8_t *bytes, std::size_t count);

} // namespace sim
