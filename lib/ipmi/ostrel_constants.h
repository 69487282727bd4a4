// The IPMC's OEM protocol as both ends know it: network functions, commands,
// the build constants that prefix the requests (board access codes per
// product, access signature) and the engineering record's byte layout. The
// library and the simulated IPMC include this one header.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Byte 5 of a CPLD register request, and the closing byte of a write.
constexpr uint8_t kCpldRegWrite = 0;
constexpr uint8_t kCpldRegRead = 1;
constexpr uint8_t kCpldRegWriteEnd = 0xFF;

// Byte 4 of a parameter request; byte 5 of a set carries the two mode bits.
constexpr uint8_t kParamsQuery = 0;
constexpr uint8_t kParamsStore = 3;
constexpr uint8_t kParamsPmBit = 0x01;
constexpr uint8_t kParamsIpmbBit = 0x10;

constexpr size_t kSignatureSize = 4;
constexpr uint8_t kAccessSignature[kSignatureSize] = {0x7E, 0x31, 0xB6, 0x0F};

struct AccessCodeEntry {
    uint16_t product_id;
    uint8_t code[OSTREL_ACCESS_CODE_SIZE];
};

constexpr AccessCodeEntry kAccessCodes[] = {
    {0x3120, {0x5A, 0xC3, 0x17, 0x8E, 0x21}},
    {0x3121, {0x6B, 0x0D, 0xF2, 0x44, 0x93}},
    {0x3130, {0x19, 0xA7, 0x5C, 0xE0, 0x3B}},
    {0x3140, {0xD4, 0x62, 0x8B, 0x07, 0xC9}},
};

// The one product whose parameter set request carries the IPMB mode bit.
constexpr uint16_t kIpmbModeProduct = kAccessCodes[3].product_id;

// The access code entry of a product, or null for a product we do not know.
constexpr const AccessCodeEntry *find_access_code(uint16_t product_id) {
    for (const AccessCodeEntry &entry : kAccessCodes) {
        if (entry.product_id == product_id) {
            return &entry;
        }
    }
    return nullptr;
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
