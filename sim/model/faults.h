// The faults of a board file, as they fire during one process run.
#pragma once

#include "board.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace sim {

// Counts, per fault, the calls it matches and tells which fault fires: the
// first whose occurrence is every call or this very one. Every call counts
// towards the occurrences of all the faults it matches.
class Occurrences {
public:
    explicit Occurrences(std::size_t faults) : seen_(faults, 0) {}

    template <typename FaultT, typename Match>
    const FaultT *fire(const std::vector<FaultT> &faults, Match matches) {
        const FaultT *fired = nullptr;
        for (std::size_t i = 0; i < faults.size(); ++i) {
            if (!matches(faults[i])) {
                continue;
            }
            ++seen_[i];
            if (fired == nullptr &&
                (faults[i].occurrence == 0 || faults[i].occurrence == seen_[i])) {
                fired = &faults[i];
            }
        }
        return fired;
    }

private:
    std::vector<unsigned> seen_;
};

class FaultPlan {
public:
    explicit FaultPlan(std::vector<Fault> faults);

    // The fault that fires for this open of the device, if any.
    const Fault *on_open();
    // The fault that fires for this request, if any.
    const Fault *on_request(std::uint8_t code, std::uint32_t param0);

private:
    std::vector<Fault> faults_;
    Occurrences seen_;
};

// The value a write stores: the one sent, unless a Store fault fired.
std::uint32_t stored_value(std::uint32_t sent, const Fault *fault);

// The faults of the IPMI device.
class IpmiFaultPlan {
public:
    explicit IpmiFaultPlan(std::vector<IpmiFault> faults);

    // The fault that fires for an open or a driver request ("open",
    // "SET_MY_ADDRESS"), if any. Messages are not requests here.
    const IpmiFault *on_call(std::string_view request);
    // The fault that fires for a message sent to the IPMC, if any.
    const IpmiFault *on_message(std::uint8_t netfn, std::uint8_t cmd, const std::uint8_t *data,
                                std::size_t length);

private:
    std::vector<IpmiFault> faults_;
    Occurrences seen_;
};

// The answer the IPMC gives: its own, unless a fault changes it.
std::vector<std::uint8_t> faulty_answer(std::vector<std::uint8_t> own, const IpmiFault *fault);

} // namespace sim
