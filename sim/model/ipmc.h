// The board's IPMC as the host reaches it: every request it is sent gets one
// answer, completion code first. It answers the standard requests the host
// software asks at start with the board's bytes as they are, its device SDR
// repository and sensors, its FRU devices (ipmc_fru.h), the PICMG requests
// (picmg.h), and the board's OEM requests: CPLD registers of the IPMC area, the
// controller parameters, the engineering record and the configuration values
// (ipmc_oem.h). The controllers behind it on IPMB-L tell their device ID and
// answer the PICMG requests.
#pragma once

#include "board.h"
#include "ipmc_oem.h"
#include "store.h"

#include "common/byte_io.h"

#include <cstddef>
#include <cstdint>
#include <optional>
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

// What opens the data of a request and its answer: nothing, the access
// signature (netfn 0x3E), the access code of the board's product (netfn 0x30;
// a product without one refuses them all), or the PICMG identifier.
enum class Prefix { None, Signature, AccessCode, Picmg };

// The IPMC and what of it changes while the board runs, each a store region.
struct Ipmc {
    Ipmc(const IpmcBoard &board, Store &store);

    // The answer to one request: completion code, then its data.
    Bytes answer(const IpmiRequestBytes &request);
    // The answer of the controller behind it at IPMB `channel` and `address`,
    // if one is there.
    std::optional<Bytes> answer_behind(std::uint16_t channel, std::uint8_t address,
                                       const IpmiRequestBytes &request);

    const IpmcBoard &board;
    Region &registers;
    Region &engineering;
    Region &params;
    Region &thresholds;
    Region &oem;                   // laid out as kOemValues says
    std::vector<Region *> fru;     // the inventory area of each of board.fru
    std::uint16_t reservation = 0; // of the SDR repository; 0: none yet
};

// One request being answered by the controller `board` (the IPMC's own or
// one behind it): its data after the prefix to read, the answer data to
// write. `value` is the OEM value a configuration request works on.
struct Exchange {
    const IpmcBoard &board;
    Ipmc &ipmc;
    const OemValue *value;
    hvl::ByteReader in;
    hvl::ByteWriter out;
};

// The answer: the bytes of `given` from `from` on.
template <typename Given>
std::uint8_t answer_bytes(Exchange &x, const Given &given, std::size_t from = 0) {
    x.out.bytes(given.data() + from, given.size() - from);
    return kCcSuccess;
}

} // namespace sim
