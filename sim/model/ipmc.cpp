#include "ipmc.h"

#include "state.h"

#include "common/byte_io.h"
#include "ipmi/ostrel_constants.h"

#include <algorithm>
#include <array>

namespace sim {
namespace {

using namespace hvl::ostrel;

// Enough for the longest answer: the engineering record.
constexpr std::size_t kMaxAnswerData = 32;

// Get Address Info may name a FRU, an address key and its type, and a site type.
constexpr std::size_t kAddressInfoOptional = 4;
constexpr std::uint8_t kIpmb1Unused = 0xFF;
constexpr std::uint8_t kIpmcFruId = 0;

constexpr std::uint8_t kProvidesSdrs = 0x80;
constexpr std::uint8_t kDeviceRevisionMask = 0x0F;
constexpr std::uint8_t kFirmwareMajorMask = 0x7F;
constexpr std::uint8_t kParamsModes = kParamsPmBit | kParamsIpmbBit;

// One request being answered: its data to read, the answer data to write.
struct Exchange {
    const IpmcBoard &board;
    State &state;
    hvl::ByteReader in;
    hvl::ByteWriter out;
};

using Handler = std::uint8_t (*)(Exchange &);

// The 4-byte access signature that opens requests of netfn 0x3E.
std::uint8_t check_signature(hvl::ByteReader &in) {
    std::array<std::uint8_t, kSignatureSize> signature{};
    in.bytes(signature.data(), signature.size());
    if (!in.ok()) {
        return kCcBadLength;
    }
    return signature == access_signature() ? kCcSuccess : kCcInsufficientPrivilege;
}

// The 5-byte access code of the board's product that opens requests of netfn
// 0x30; a product without one refuses them all.
std::uint8_t check_access_code(hvl::ByteReader &in, const IpmcBoard &board) {
    std::array<std::uint8_t, OSTREL_ACCESS_CODE_SIZE> code{};
    in.bytes(code.data(), code.size());
    if (!in.ok()) {
        return kCcBadLength;
    }
    const std::optional<AccessCode> expected = access_code(board.identity.product_id);
    return expected && code == *expected ? kCcSuccess : kCcInsufficientPrivilege;
}

std::uint8_t get_device_id(Exchange &x) {
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    const DeviceIdentity &id = x.board.identity;
    x.out.u8(id.device_id)
        .u8(static_cast<std::uint8_t>((id.device_revision & kDeviceRevisionMask) |
                                      (id.provides_sdrs ? kProvidesSdrs : 0)))
        .u8(id.firmware_major & kFirmwareMajorMask)
        .u8(id.firmware_minor)
        .u8(id.ipmi_version)
        .u8(id.device_support)
        .u16(static_cast<std::uint16_t>(id.manufacturer_id))
        .u8(static_cast<std::uint8_t>(id.manufacturer_id >> 16))
        .u16(id.product_id)
        .bytes(id.aux_firmware.data(), id.aux_firmware.size());
    return kCcSuccess;
}

std::uint8_t get_picmg_properties(Exchange &x) {
    const std::uint8_t identifier = x.in.u8();
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    if (identifier != kPicmgIdentifier) {
        return kCcInvalidField;
    }
    const PicmgAddress &picmg = x.board.picmg;
    x.out.u8(kPicmgIdentifier).u8(picmg.extension_version).u8(picmg.max_fru_id).u8(kIpmcFruId);
    return kCcSuccess;
}

std::uint8_t get_address_info(Exchange &x) {
    const std::uint8_t identifier = x.in.u8();
    if (!x.in.ok() || x.in.remaining() > kAddressInfoOptional) {
        return kCcBadLength;
    }
    if (identifier != kPicmgIdentifier) {
        return kCcInvalidField;
    }
    const PicmgAddress &picmg = x.board.picmg;
    x.out.u8(kPicmgIdentifier)
        .u8(picmg.hardware_address)
        .u8(picmg.ipmb0_address)
        .u8(kIpmb1Unused)
        .u8(kIpmcFruId)
        .u8(picmg.site_id)
        .u8(picmg.site_type);
    return kCcSuccess;
}

std::uint8_t read_register(Exchange &x, std::uint8_t offset) {
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    const bool implemented = x.board.registers[offset].implemented;
    x.out.u8(implemented ? x.state.ipmc_register(offset) : 0xFF);
    return kCcSuccess;
}

std::uint8_t write_register(Exchange &x, std::uint8_t offset) {
    const std::uint8_t value = x.in.u8();
    const std::uint8_t end = x.in.u8();
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    if (end != kCpldRegWriteEnd) {
        return kCcInvalidField;
    }
    const CpldRegister &reg = x.board.registers[offset];
    if (reg.implemented && !reg.read_only) {
        x.state.set_ipmc_register(offset, value);
    }
    return kCcSuccess;
}

std::uint8_t cpld_register(Exchange &x) {
    if (const std::uint8_t refused = check_signature(x.in)) {
        return refused;
    }
    const std::uint8_t offset = x.in.u8();
    const std::uint8_t operation = x.in.u8();
    if (!x.in.ok()) {
        return kCcBadLength;
    }
    if (operation == kCpldRegRead) {
        return read_register(x, offset);
    }
    if (operation == kCpldRegWrite) {
        return write_register(x, offset);
    }
    return kCcInvalidField;
}

// Byte 4 selects: a query answers the selector, the modes and the extra byte;
// a store keeps the two mode bits and the extra byte.
std::uint8_t controller_params(Exchange &x) {
    if (const std::uint8_t refused = check_signature(x.in)) {
        return refused;
    }
    const std::uint8_t selector = x.in.u8();
    const std::uint8_t modes = x.in.u8();
    const std::uint8_t extra = x.in.u8();
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    if (selector == kParamsQuery) {
        const IpmcParams params = x.state.params();
        x.out.u8(selector).u8(params.modes).u8(params.extra);
        return kCcSuccess;
    }
    if (selector == kParamsStore) {
        x.state.set_params(IpmcParams{static_cast<std::uint8_t>(modes & kParamsModes), extra});
        return kCcSuccess;
    }
    return kCcInvalidField;
}

std::uint8_t eng_record_get(Exchange &x) {
    if (const std::uint8_t refused = check_access_code(x.in, x.board)) {
        return refused;
    }
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    const EngRecordBytes record = x.state.eng_record();
    x.out.bytes(record.data(), record.size());
    return kCcSuccess;
}

// The record is kept as sent: checking its CRC is the reader's business.
std::uint8_t eng_record_set(Exchange &x) {
    if (const std::uint8_t refused = check_access_code(x.in, x.board)) {
        return refused;
    }
    EngRecordBytes record{};
    x.in.bytes(record.data(), record.size());
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    x.state.set_eng_record(record);
    return kCcSuccess;
}

struct Command {
    std::uint8_t netfn;
    std::uint8_t cmd;
    Handler run;
};

constexpr Command kCommands[] = {
    {kNetFnApp, kCmdGetDeviceId, get_device_id},
    {kNetFnPicmg, kCmdGetPicmgProperties, get_picmg_properties},
    {kNetFnPicmg, kCmdGetAddressInfo, get_address_info},
    {kNetFnSigned, kCmdCpldReg, cpld_register},
    {kNetFnSigned, kCmdParams, controller_params},
    {kNetFnCoded, kCmdEngRecordGet, eng_record_get},
    {kNetFnCoded, kCmdEngRecordSet, eng_record_set},
};

const Command *command_for(std::uint8_t netfn, std::uint8_t cmd) {
    for (const Command &command : kCommands) {
        if (command.netfn == netfn && command.cmd == cmd) {
            return &command;
        }
    }
    return nullptr;
}

} // namespace

Ipmc::Ipmc(const IpmcBoard &board, State &state) : board_(board), state_(state) {}

std::vector<std::uint8_t> Ipmc::answer(const IpmiRequestBytes &request) {
    const Command *command = command_for(request.netfn, request.cmd);
    if (command == nullptr) {
        return {kCcInvalidCommand};
    }
    std::array<std::uint8_t, kMaxAnswerData> data{};
    Exchange x{board_, state_, hvl::ByteReader(request.data, request.length),
               hvl::ByteWriter(data.data(), data.size())};
    const std::uint8_t ccode = command->run(x);
    std::vector<std::uint8_t> answer{ccode};
    if (ccode == kCcSuccess) {
        answer.insert(answer.end(), x.out.data(), x.out.data() + x.out.length());
    }
    return answer;
}

} // namespace sim
