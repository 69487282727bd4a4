// The configuration family of OEM requests: every member is a row of one
// table (ipmi_ostrel.cpp) that says its command, how its answer is judged and
// what it yields. The public functions and the logged low-level ones are
// each one call of config_request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "common/byte_io.h"
#include "hvl/hvl_ipmi_ostrel.h"

namespace hvl::ostrel {

enum class Config : uint8_t {
    StorageSwSet,
    StorageSwGet,
    PciePortConfSet,
    PciePortConfGet,
    PcieModeSet,
    PcieModeGet,
    PcieHotplugSet,
    PcieHotplugGet,
    PcieClockSet,
    PcieClockGet,
    BootCycleGet,
    BootCycleSet,
    ClockSourceSet,
    ClockSourceGet,
    ClockDriverSet,
    ClockDriverGet,
    PllConfigSet,
    PllConfigGet,
    PllStatusGet,
    XfpRead,
    Debug,
    Release,
    DeviceIdString,
};

// Where a member puts what its answer yields.
struct Outputs {
    int *values[3] = {};
    uint8_t *bytes = nullptr;       // an XFP chunk
    IpmcRelease *release = nullptr; // the release texts
};

// Sends `member` with `args` after its prefix and judges the answer as its
// row says: 0, -1, -2 (a refusal the member knows) or a completion code.
int config_request(IpmiIntf *intf, Config member, const ByteWriter &args, const Outputs &out);

// The same with each argument sent as its low 8 bits.
int config_request(IpmiIntf *intf, Config member, std::initializer_list<int> args,
                   const Outputs &out = {});

// The storage switch: target 3 selects switch 0 (request byte 0), any other
// target switch 1; a switch in state 0 is in mode 5, otherwise in mode 1 for
// switch 0 and 2 for switch 1.
constexpr int kSwitch0Target = 3;
constexpr int kIdleMode = 5;

// The result of an argument out of range: nothing was sent.
constexpr int kOutOfRange = 22;

// A transfer of `length` bytes in pieces of at most kChunk: `piece(done,
// size)` for each, until one does not return 0, whose result is the
// transfer's.
constexpr int kChunk = 20;

template <typename Piece> int in_pieces(int length, Piece piece) {
    int rc = 0;
    for (int done = 0; done < length && rc == 0; done += kChunk) {
        rc = piece(done, length - done < kChunk ? length - done : kChunk);
    }
    return rc;
}

} // namespace hvl::ostrel
