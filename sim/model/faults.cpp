#include "faults.h"

#include <algorithm>
#include <utility>

namespace sim {
namespace {

constexpr std::string_view kSendCommand = "SEND_COMMAND";

bool data_matches(const IpmiFault &fault, const std::uint8_t *data, std::size_t length) {
    if (fault.data.empty()) {
        return true;
    }
    if (fault.data_from > length || length - fault.data_from < fault.data.size()) {
        return false;
    }
    return std::equal(fault.data.begin(), fault.data.end(), data + fault.data_from);
}

} // namespace

FaultPlan::FaultPlan(std::vector<Fault> faults)
    : faults_(std::move(faults)), seen_(faults_.size()) {}

const Fault *FaultPlan::on_open() {
    return seen_.fire(faults_, [](const Fault &fault) { return fault.on_open; });
}

const Fault *FaultPlan::on_request(std::uint8_t code, std::uint32_t param0) {
    return seen_.fire(faults_, [&](const Fault &fault) {
        return !fault.on_open && fault.code == code && (!fault.param0 || *fault.param0 == param0);
    });
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

IpmiFaultPlan::IpmiFaultPlan(std::vector<IpmiFault> faults)
    : faults_(std::move(faults)), seen_(faults_.size()) {}

const IpmiFault *IpmiFaultPlan::on_call(std::string_view request) {
    return seen_.fire(faults_, [&](const IpmiFault &fault) {
        return request != kSendCommand && fault.request == request;
    });
}

const IpmiFault *IpmiFaultPlan::on_message(std::uint8_t netfn, std::uint8_t cmd,
                                           const std::uint8_t *data, std::size_t length) {
    return seen_.fire(faults_, [&](const IpmiFault &fault) {
        return fault.request == kSendCommand && (!fault.netfn || *fault.netfn == netfn) &&
               (!fault.cmd || *fault.cmd == cmd) && data_matches(fault, data, length);
    });
}

std::vector<std::uint8_t> faulty_answer(std::vector<std::uint8_t> own, const IpmiFault *fault) {
    if (fault == nullptr) {
        return own;
    }
    switch (fault->effect) {
    case IpmiFaultEffect::Ccode:
        return {static_cast<std::uint8_t>(fault->value)};
    case IpmiFaultEffect::Answer:
        return fault->answer;
    case IpmiFaultEffect::Length:
        own.resize(static_cast<std::size_t>(fault->value), 0);
        return own;
    default:
        return own;
    }
}

} // namespace sim
