// A driver request as a device receives it, and what it comes to.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace sim {

// An ioctl as the caller made it. The request number is taken apart by the
// caller, whose numbering differs between the host and the board; the number
// itself is kept for the trace.
struct IoctlCall {
    std::uint32_t number = 0;
    std::uint8_t type = 0;  // the driver's letter
    std::uint8_t code = 0;  // the command within it
    std::uint16_t size = 0; // the record size the number says
    std::uint64_t arg = 0;  // the caller's pointer
};

// What a request came to, before the writes to the caller's memory are
// known to have been made: the result, the record as sent and as written for
// the trace, and what undoes it should a write fail.
struct Outcome {
    int ret = 0;
    int err = 0;
    std::string name; // the request's name for the trace
    std::string sent; // its fields as sent
    std::string got;  // its fields as the driver wrote them
    std::function<void()> undo;
};

// The outcome of a request that failed with `err`.
inline Outcome failed(std::string name, int err, std::string sent = {}) {
    Outcome outcome;
    outcome.ret = -1;
    outcome.err = err;
    outcome.name = std::move(name);
    outcome.sent = std::move(sent);
    return outcome;
}

} // namespace sim
