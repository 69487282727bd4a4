// The faults of a board file, as they fire during one process run.
#pragma once

#include "board.h"

#include <cstdint>
#include <vector>

namespace sim {

class FaultPlan {
public:
    explicit FaultPlan(std::vector<Fault> faults);

    // The fault that fires for this open of the device, if any. Every call
    // counts towards the occurrences of the faults it matches.
    const Fault *on_open();
    // The fault that fires for this request, if any.
    const Fault *on_request(unsigned long request, std::uint32_t param0);

private:
    const Fault *fire(bool open, unsigned long request, std::uint32_t param0);

    std::vector<Fault> faults_;
    std::vector<unsigned> seen_; // matching calls so far, per fault
};

// The value a write stores: the one sent, unless a Store fault fired.
std::uint32_t stored_value(std::uint32_t sent, const Fault *fault);

} // namespace sim
