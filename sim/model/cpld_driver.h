// The CPLD driver behind /dev/cpld: one ioctl per command, _IO('C', code), on
// a CpldIo record of three 32-bit words.
#pragma once

#include "board.h"
#include "faults.h"
#include "request.h"
#include "store.h"

#include <optional>
#include <string_view>

namespace sim {

// The size of the CpldIo record, which the request numbers do not give.
constexpr std::uint16_t kCpldRecordSize = 12;

// The command code of a driver request by the name board files and traces
// use for it ("PPCREG_READ").
std::optional<std::uint8_t> cpld_code_named(std::string_view name);

class CpldDriver {
public:
    CpldDriver(const CpldBoard &board, Store &store);

    // One ioctl on an open descriptor of the device, with the faults of the
    // calling process.
    Outcome ioctl(const IoctlCall &call, UserMemory &memory, FaultPlan &faults);

private:
    const CpldBoard &board_;
    Region &registers_;
    Region &dcrs_;
    Region &led_mode_;
};

} // namespace sim
