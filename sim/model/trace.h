// The trace of what programs asked of the simulated devices: one line per
// open, close and driver request (for the IPMI device: with the message sent
// and the IPMC's answer), kept in memory and appended to a file.
#pragma once

#include "unique_fd.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class Trace {
public:
    // No lines kept anywhere.
    Trace() = default;
    // Lines appended to the file at `path`, created if missing. Throws
    // std::runtime_error when it cannot be opened.
    explicit Trace(const std::string &path);
    // Lines kept for lines().
    static Trace in_memory();

    // Whether lines go anywhere: when not, callers need not make them.
    bool on() const { return file_.valid() || in_memory_; }
    // Appends one line (without its newline). The file gets it with a single
    // write on an O_APPEND descriptor, so lines of two processes never mix.
    void record(std::string line);
    const std::vector<std::string> &lines() const { return lines_; }

private:
    UniqueFd file_;
    bool in_memory_ = false;
    std::vector<std::string> lines_;
};

// `value` as 0x and `digits` lower-case hex digits.
std::string trace_hex(std::uint64_t value, int digits);
// Bytes as lower-case hex pairs; a long run is cut after 64 bytes and ends in
// "...(N bytes)".
std::string trace_bytes(const std::uint8_t *bytes, std::size_t count);

} // namespace sim
