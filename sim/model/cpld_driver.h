// The CPLD driver behind /dev/cpld: one ioctl per command on a CpldIo record.
#pragma once

#include "board.h"
#include "faults.h"

#include <hvl/cpld.h>

#include <optional>
#include <string_view>

namespace sim {

class State;
class Trace;

// The request a driver command is sent with, by the name board files and
// traces use for it ("PPCREG_READ").
std::optional<unsigned long> cpld_request_named(std::string_view name);
// The name of a driver command's request; empty for a request the driver does not know.
std::string_view cpld_request_name(unsigned long request);

class CpldDriver {
public:
    CpldDriver(const CpldBoard &board, State &state, Trace &trace);

    // The errno an open of the device fails with, or 0 when it opens.
    int open_error();
    // One ioctl on an open descriptor of the device: 0 when the driver took
    // the request (the record then holds its rc and results), or -1 with `err`.
    int ioctl(unsigned long request, void *arg, int &err);

private:
    const CpldBoard &board_;
    State &state_;
    Trace &trace_;
    FaultPlan faults_;
};

} // namespace sim
