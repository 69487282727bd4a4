// The board's IPMC as the host reaches it: every request it is sent gets one
// answer, completion code first. It answers the standard requests the host
// software asks at start with the board's bytes as they are, its device SDR
// repository and sensors, its FRU devices (ipmc_fru.h), and the board's OEM requests: CPLD
// registers of the IPMC area, the controller parameters, the engineering record and the
// configuration values (ipmc_oem.h).
#pragma once

#include "board.h"
#include "ipmc_fru.h"
#include "ipmc_oem.h"
#include "store.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// Completion codes the IPMC answers with.
constexpr std::uint8_t kCcSuccess = 0x00;
constexpr std::uint8_t kCcTimeout = 0xC3;               // also the driver's "no answer"
constexpr std::uint8_t kCcInvalidCommand = 0xC1;        // unknown netfn or command
constexpr std::uint8_t kCcBadLength = 0xC7;             // too few or too many data bytes
constexpr std::uint8_t kCcInvalidField = 0xCC;          // a data byte out of range
constexpr std::uint8_t kCcOutOfRange = 0xC9;            // a parameter out of range
constexpr std::uint8_t kCcNotPresent = 0xCB;            // no such sensor, record or device
constexpr std::uint8_t kCcCannotReturn = 0xCA;          // more bytes than it can return
constexpr std::uint8_t kCcInsufficientPrivilege = 0xD4; // wrong access signature or code

// A request as sent: its data are the sender's, read in place.
struct IpmiRequestBytes {
    std::uint8_t netfn = 0;
    std::uint8_t lun = 0;
    std::uint8_t cmd = 0;
    const std::uint8_t *data = nullptr;
    std::size_t length = 0;
};

class Ipmc {
public:
    Ipmc(const IpmcBoard &board, Store &store);

    // The answer to one request: completion code, then its data.
    Bytes answer(const IpmiRequestBytes &request);

private:
    const IpmcBoard &board_;
    Region &registers_;
    Region &engineering_;
    Region &params_;
    Region &thresholds_;
    OemConfig oem_;
    FruDevices fru_;
    std::uint16_t reservation_ = 0; // of the SDR repository; 0: none yet
};

} // namespace sim
