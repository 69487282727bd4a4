#include "faults.h"

#include <algorithm>

namespace sim {
namespace {

constexpr std::string_view kMessage = "SEND_COMMAND";

bool data_matches(const Fault &fault, const std::uint8_t *data, std::size_t length) {
    const std::size_t from = fault.data_from;
    return fault.data.empty() || (from <= length && length - from >= fault.data.size() &&
                                  std::equal(fault.data.begin(), fault.data.end(), data + from));
}

} // namespace

template <typename Match> const Fault *FaultPlan::fire(Match matches) {
    const Fault *fired = nullptr;
    for (std::size_t i = 0; i < faults_.size(); ++i) {
        if (!matches(faults_[i])) {
            continue;
        }
        const unsigned seen = ++seen_[i];
        const Fault &fault = faults_[i];
        if (fired == nullptr &&
            (fault.occurrence == 0 ||
             (seen >= fault.occurrence && seen - fault.occurrence < fault.count))) {
            fired = &fault;
        }
    }
    return fired;
}

const Fault *FaultPlan::on_call(std::string_view request, std::uint32_t param0) {
    return fire([&](const Fault &fault) {
        return request != kMessage && fault.request == request &&
               (!fault.param0 || *fault.param0 == param0);
    });
}

const Fault *FaultPlan::on_message(std::uint8_t netfn, std::uint8_t cmd, const std::uint8_t *data,
                                   std::size_t length) {
    return fire([&](const Fault &fault) {
        return fault.request == kMessage && (!fault.netfn || *fault.netfn == netfn) &&
               (!fault.cmd || *fault.cmd == cmd) && data_matches(fault, data, length);
    });
}

std::uint32_t stored_value(std::uint32_t sent, const Fault *fault) {
    const auto value = static_cast<std::uint32_t>(fault != nullptr ? fault->value : 0);
    const FaultEffect effect = fault != nullptr ? fault->effect : FaultEffect::Errno;
    return effect == FaultEffect::Store      ? value
           : effect == FaultEffect::StoreXor ? sent ^ value
                                             : sent;
}

Bytes faulty_answer(Bytes own, const Fault *fault) {
    const FaultEffect effect = fault != nullptr ? fault->effect : FaultEffect::Errno;
    if (effect == FaultEffect::Ccode) {
        return {static_cast<std::uint8_t>(fault->value)};
    }
    if (effect == FaultEffect::Answer) {
        return fault->answer;
    }
    if (effect == FaultEffect::Length) {
        own.resize(static_cast<std::size_t>(fault->value), 0);
    }
    return own;
}

} // namespace sim
