// The faults of a board file, as they fire during one process run.
#pragma once

#include "board.h"

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace sim {

// Counts, per fault, the calls it matches and tells which fault fires: the
// first whose occurrences are every call or take in this very one. Every call
// counts towards the occurrences of all the faults it matches.
class FaultPlan {
public:
    explicit FaultPlan(std::vector<Fault> faults)
        : faults_(std::move(faults)), seen_(faults_.size(), 0) {}

    // The fault that fires for an open ("open") or a driver request, with the
    // param0 of a CPLD request, if any. Messages are not requests here.
    const Fault *on_call(std::string_view request, std::uint32_t param0 = 0);
    // The fault that fires for a message sent to the IPMC, if any.
    const Fault *on_message(std::uint8_t netfn, std::uint8_t cmd, const std::uint8_t *data,
                            std::size_t length);

private:
    template <typename Match> const Fault *fire(Match matches);

    std::vector<Fault> faults_;
    std::vector<unsigned> seen_;
};

// The value a write stores: the one sent, unless a Store fault fired.
std::uint32_t stored_value(std::uint32_t sent, const Fault *fault);

// The answer the IPMC gives: its own, unless a fault changes it.
Bytes faulty_answer(Bytes own, const Fault *fault);

} // namespace sim
