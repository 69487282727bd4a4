// The IPMC's OEM protocol as both ends know it: network functions, commands,
// the build constants that prefix the requests (access_signature() and the
// board access code of a product, access_code()) and the engineering
// record's byte layout. The library and the simulated IPMC include this one
// header.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <optional>

#include "common/byte_io.h"
#include "hvl/hvl_ipmi_ostrel.h"

namespace hvl::ostrel {

// Get Device ID, whose answer carries the product ID in data bytes 9 and 10.
constexpr uint8_t kNetFnApp = 0x06;
constexpr uint8_t kCmdGetDeviceId = 0x01;
constexpr size_t kProductIdOffset = 9;

// The two OEM groups, both on LUN 3: requests prefixed by the board access
// code, and requests prefixed by the access signature.
constexpr uint8_t kNetFnCoded = 0x30;
constexpr uint8_t kNetFnSigned = 0x3E;
constexpr uint8_t kOemLun = 3;

constexpr uint8_t kCmdEngRecordGet = 0x03;
constexpr uint8_t kCmdEngRecordSet = 0x04;
constexpr uint8_t kCmdParams = 0x05;
constexpr uint8_t kCmdCpldReg = 0x62;

// The configuration requests: code-prefixed, but for the two block transfers
// (no prefix) and the device ID string (signature-prefixed).
constexpr uint8_t kCmdRelease = 0x01;
constexpr uint8_t kCmdDebug = 0x02;
constexpr uint8_t kCmdBootCycleGet = 0x05;
constexpr uint8_t kCmdBootCycleSet = 0x06;
constexpr uint8_t kCmdDeviceIdString = 0x0A;
constexpr uint8_t kCmdClockSourceSet = 0x70;
constexpr uint8_t kCmdClockSourceGet = 0x71;
constexpr uint8_t kCmdClockDriverSet = 0x72;
constexpr uint8_t kCmdClockDriverGet = 0x73;
constexpr uint8_t kCmdPllConfigSet = 0x74;
constexpr uint8_t kCmdPllConfigGet = 0x75;
constexpr uint8_t kCmdPllStatusGet = 0x76;
constexpr uint8_t kCmdBlockWrite = 0x81;
constexpr uint8_t kCmdBlockRead = 0x87;
constexpr uint8_t kCmdStorageSwGet = 0x91;
constexpr uint8_t kCmdStorageSwSet = 0x92;
constexpr uint8_t kCmdPciePortConfGet = 0x93;
constexpr uint8_t kCmdPciePortConfSet = 0x94;
constexpr uint8_t kCmdPcieClockGet = 0x95;
constexpr uint8_t kCmdPcieClockSet = 0x96;
constexpr uint8_t kCmdPcieHotplugGet = 0x97;
constexpr uint8_t kCmdPcieHotplugSet = 0x98;
constexpr uint8_t kCmdPcieModeGet = 0x99;
constexpr uint8_t kCmdPcieModeSet = 0x9A;
constexpr uint8_t kCmdXfpRead = 0xA0;

// The release answer: three texts, starting at these data offsets.
inline constexpr size_t kReleaseTextAt[] = {0, 5, 11};

// The two chunked reads answer a byte of their own before the bytes read.
constexpr size_t kChunkAnswerSkip = 1;

// Byte 5 of a CPLD register request, and the closing byte of a write.
constexpr uint8_t kCpldRegWrite = 0;
constexpr uint8_t kCpldRegRead = 1;
constexpr uint8_t kCpldRegWriteEnd = 0xFF;

// Byte 4 of a parameter request; byte 5 of a set carries the two mode bits.
constexpr uint8_t kParamsQuery = 0;
constexpr uint8_t kParamsStore = 3;
constexpr uint8_t kParamsPmBit = 0x01;
constexpr uint8_t kParamsIpmbBit = 0x10;

// The access signature that opens every request of netfn 0x3E, and the board
// access code of each product that opens every request of netfn 0x30, are
// build constants. They are put together at run time, byte by byte, from
// parts kept apart, so that neither stands in the program as it is sent.
constexpr size_t kSignatureSize = 4;
using AccessSignature = std::array<uint8_t, kSignatureSize>;
using AccessCode = std::array<uint8_t, OSTREL_ACCESS_CODE_SIZE>;

// Reads one stored part at run time: through a volatile access the compiler
// cannot fold the parts back into the finished bytes.
inline uint8_t stored(const uint8_t &part) { return *static_cast<const volatile uint8_t *>(&part); }

// Bytes 2 and 3 that follow from byte 1, each the byte before times `mul` plus `add`.
struct Derivation {
    uint8_t mul;
    uint8_t add;
};

template <size_t N> void derive_bytes_2_and_3(std::array<uint8_t, N> &bytes, const Derivation &d) {
    for (size_t i = 2; i <= 3; ++i) {
        bytes[i] = static_cast<uint8_t>(bytes[i - 1] * stored(d.mul) + stored(d.add));
    }
}

inline constexpr uint8_t kSignatureHead[] = {0x7E, 0x31};
inline constexpr Derivation kSignatureTail{0xC5, 0x01};

inline AccessSignature access_signature() {
    AccessSignature signature{};
    signature[0] = stored(kSignatureHead[0]);
    signature[1] = stored(kSignatureHead[1]);
    derive_bytes_2_and_3(signature, kSignatureTail);
    return signature;
}

// The products that have an access code, and byte n of each one's code in
// row n, so that no code is stored whole. The fourth product's bytes 2 and 3
// follow from its byte 1 and stand as 0 here.
inline constexpr uint16_t kCodedProducts[] = {0x3120, 0x3121, 0x3130, 0x3140};
inline constexpr size_t kCodedProductCount = std::size(kCodedProducts);
inline constexpr uint8_t kCodeBytes[OSTREL_ACCESS_CODE_SIZE][kCodedProductCount] = {
    {0x5A, 0x6B, 0x19, 0xD4}, {0xC3, 0x0D, 0xA7, 0x62}, {0x17, 0xF2, 0x5C, 0x00},
    {0x8E, 0x44, 0xE0, 0x00}, {0x21, 0x93, 0x3B, 0xC9},
};
inline constexpr size_t kDerivedCodeProduct = 3;
inline constexpr Derivation kDerivedCodeMiddle{0x1C, 0xD3};

// The one product whose parameter set request carries the IPMB mode bit.
inline constexpr uint16_t kIpmbModeProduct = kCodedProducts[3];

// The access code of a product; none for a product without one.
inline std::optional<AccessCode> access_code(uint16_t product_id) {
    for (size_t p = 0; p < kCodedProductCount; ++p) {
        if (kCodedProducts[p] != product_id) {
            continue;
        }
        AccessCode code{};
        for (size_t n = 0; n < code.size(); ++n) {
            code[n] = stored(kCodeBytes[n][p]);
        }
        if (p == kDerivedCodeProduct) {
            derive_bytes_2_and_3(code, kDerivedCodeMiddle);
        }
        return code;
    }
    return std::nullopt;
}

// The engineering record on the wire: fcap bytes, then the options in
// declaration order, the CRC-8 last.
constexpr size_t kEngCrcCovered = OSTREL_ENG_OPTIONS_SIZE - 1;

inline void put_eng_options(ByteWriter &out, const EngOptions &opts) {
    out.u8(opts.board_option).u8(opts.mezzanine).u8(opts.mezzanine_option);
    out.bytes(opts.further).bytes(opts.mac).u8(opts.mac_suffix).u8(opts.crc);
}

inline void get_eng_options(ByteReader &in, EngOptions &opts) {
    opts.board_option = in.u8();
    opts.mezzanine = in.u8();
    opts.mezzanine_option = in.u8();
    in.bytes(opts.further, sizeof opts.further);
    in.bytes(opts.mac, sizeof opts.mac);
    opts.mac_suffix = in.u8();
    opts.crc = in.u8();
}

inline void put_eng_record(ByteWriter &out, const EngRecord &record) {
    out.bytes(record.fcap);
    put_eng_options(out, record.options);
}

inline void get_eng_record(ByteReader &in, EngRecord &record) {
    in.bytes(record.fcap, sizeof record.fcap);
    get_eng_options(in, record.options);
}

} // namespace hvl::ostrel
