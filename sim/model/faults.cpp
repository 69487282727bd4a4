#include "faults.h"

#include <utility>

namespace sim {
namespace {

bool matches(const Fault &fault, bool open, unsigned long request, std::uint32_t param0) {
    if (fault.on_open || open) {
        return fault.on_open == open;
    }
    return fault.request == request && (!fault.param0 || *fault.param0 == param0);
}

} // namespace

FaultPlan::FaultPlan(std::vector<Fault> faults)
    : faults_(std::move(faults)), seen_(faults_.size(), 0) {}

const Fault *FaultPlan::on_open() { return fire(true, 0, 0); }

const Fault *FaultPlan::on_request(unsigned long request, std::uint32_t param0) {
    return fire(false, request, param0);
}

const Fault *FaultPlan::fire(bool open, unsigned long request, std::uint32_t param0) {
    const Fault *fired = nullptr;
    for (std::size_t i = 0; i < faults_.size(); ++i) {
        const Fault &fault = faults_[i];
        if (!matches(fault, open, request, param0)) {
            continue;
        }
        ++seen_[i];
        if (fired == nullptr && (fault.occurrence == 0 || fault.occurrence == seen_[i])) {
            fired = &fault;
        }
    }
    return fired;
}

std::uint32_t stored_value(std::uint32_t sent, const Fault *fault) {
    if (fault == nullptr) {
        return sent;
    }
    switch (fault->effect) {
    case FaultEffect::Store:
        return static_cast<std::uint32_t>(fault->value);
    case FaultEffect::StoreXor:
        return sent ^ static_cast<std::uint32_t>(fault->value);
    default:
        return sent;
    }
}

} // namespace sim
