#include "ipmc.h"

#include "common/byte_io.h"
#include "ipmi/ostrel_constants.h"

#include <algorithm>
#include <array>

namespace sim {
namespace {

using namespace hvl::ostrel;

// Enough for the longest answer: the engineering record.
constexpr std::size_t kMaxAnswerData = 32;

// PICMG requests name the PICMG identifier first. Get Address Info may go on
// with a FRU, an address key and its type, and a site type: the IPMC's own
// address is answered all the same.
constexpr std::uint8_t kNetFnPicmg = 0x2C;
constexpr std::uint8_t kCmdGetPicmgProperties = 0x00;
constexpr std::uint8_t kCmdGetAddressInfo = 0x01;
constexpr std::uint8_t kPicmgIdentifier = 0x00;
constexpr std::size_t kAddressInfoOptional = 4;

constexpr std::uint8_t kParamsModes = kParamsPmBit | kParamsIpmbBit;

// The engineering record: the mezzanine flag is the second option byte; the
// last is the CRC-8 of the options before it, as the IPMC firmware computes it:
// polynomial 0x07, initial value 0xA5, most significant bit first.
constexpr std::size_t kMezzanineFlagAt = OSTREL_FCAP_SIZE + 1;
constexpr std::uint8_t kCrcInitial = 0xA5;
constexpr std::uint8_t kCrcPolynomial = 0x07;

// What opens the data of a request: nothing, the access signature (netfn
// 0x3E), or the access code of the board's product (netfn 0x30; a product
// without one refuses them all).
enum class Prefix { None, Signature, AccessCode };
static_assert(kSignatureSize <= OSTREL_ACCESS_CODE_SIZE);

// One request being answered: its data to read, the answer data to write.
struct Exchange {
    const IpmcBoard &board;
    Region &registers;
    Region &engineering;
    Region &params;
    hvl::ByteReader in;
    hvl::ByteWriter out;
};

std::uint8_t check_prefix(Exchange &x, Prefix prefix) {
    if (prefix == Prefix::None) {
        return kCcSuccess;
    }
    const bool signed_request = prefix == Prefix::Signature;
    const AccessSignature signature = access_signature();
    const std::optional<AccessCode> code =
        access_code(hvl::ByteReader(x.board.device_id.data() + kProductIdOffset, 2).u16());
    const std::uint8_t *expected = signed_request ? signature.data()
                                   : code         ? code->data()
                                                  : nullptr;
    const std::size_t size = signed_request ? kSignatureSize : OSTREL_ACCESS_CODE_SIZE;
    AccessCode got{};
    x.in.bytes(got.data(), size);
    if (!x.in.ok()) {
        return kCcBadLength;
    }
    return expected != nullptr && std::equal(got.begin(), got.begin() + size, expected)
               ? kCcSuccess
               : kCcInsufficientPrivilege;
}

std::uint8_t get_device_id(Exchange &x) {
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    x.out.bytes(x.board.device_id.data(), x.board.device_id.size());
    return kCcSuccess;
}

std::uint8_t picmg_answer(Exchange &x, const Bytes &answer, std::size_t optional) {
    const std::uint8_t identifier = x.in.u8();
    if (!x.in.ok() || x.in.remaining() > optional) {
        return kCcBadLength;
    }
    if (identifier != kPicmgIdentifier) {
        return kCcInvalidField;
    }
    x.out.bytes(answer.data(), answer.size());
    return kCcSuccess;
}

std::uint8_t get_picmg_properties(Exchange &x) { return picmg_answer(x, x.board.properties, 0); }

std::uint8_t get_address_info(Exchange &x) {
    return picmg_answer(x, x.board.address_info, kAddressInfoOptional);
}

std::uint8_t read_register(Exchange &x, std::uint8_t offset) {
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    const bool implemented = x.board.registers[offset].implemented;
    x.out.u8(implemented ? x.registers.byte(offset) : 0xFF);
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
        x.registers.set_byte(offset, value);
    }
    return kCcSuccess;
}

std::uint8_t cpld_register(Exchange &x) {
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
    const std::uint8_t selector = x.in.u8();
    const std::uint8_t modes = x.in.u8();
    const std::uint8_t extra = x.in.u8();
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    if (selector == kParamsQuery) {
        x.out.u8(selector).bytes(x.params.data(), x.params.size());
        return kCcSuccess;
    }
    if (selector == kParamsStore) {
        const std::uint8_t kept[] = {static_cast<std::uint8_t>(modes & kParamsModes), extra};
        x.params.write(0, kept, sizeof kept);
        return kCcSuccess;
    }
    return kCcInvalidField;
}

std::uint8_t eng_record_get(Exchange &x) {
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    x.out.bytes(x.engineering.data(), x.engineering.size());
    return kCcSuccess;
}

// The record is kept as sent: checking its CRC is the reader's business.
std::uint8_t eng_record_set(Exchange &x) {
    std::array<std::uint8_t, OSTREL_ENG_RECORD_SIZE> record{};
    x.in.bytes(record.data(), record.size());
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    x.engineering.write(0, record.data(), record.size());
    return kCcSuccess;
}

struct Command {
    std::uint8_t netfn;
    std::uint8_t cmd;
    Prefix prefix;
    std::uint8_t (*run)(Exchange &);
};

constexpr Command kCommands[] = {
    {kNetFnApp, kCmdGetDeviceId, Prefix::None, get_device_id},
    {kNetFnPicmg, kCmdGetPicmgProperties, Prefix::None, get_picmg_properties},
    {kNetFnPicmg, kCmdGetAddressInfo, Prefix::None, get_address_info},
    {kNetFnSigned, kCmdCpldReg, Prefix::Signature, cpld_register},
    {kNetFnSigned, kCmdParams, Prefix::Signature, controller_params},
    {kNetFnCoded, kCmdEngRecordGet, Prefix::AccessCode, eng_record_get},
    {kNetFnCoded, kCmdEngRecordSet, Prefix::AccessCode, eng_record_set},
};

const Command *command_for(std::uint8_t netfn, std::uint8_t cmd) {
    for (const Command &command : kCommands) {
        if (command.netfn == netfn && command.cmd == cmd) {
            return &command;
        }
    }
    return nullptr;
}

Bytes register_reset(const IpmcBoard &board) {
    Bytes reset;
    for (const CpldRegister &reg : board.registers) {
        reset.push_back(reset_value(reg, board.mezzanine));
    }
    return reset;
}

// The board file's record with the mezzanine flag and its CRC, or the record
// it gives verbatim.
Bytes record_after_reset(const IpmcBoard &board) {
    if (!board.given_record.empty()) {
        return board.given_record;
    }
    Bytes record = board.engineering;
    record[kMezzanineFlagAt] = board.mezzanine ? 1 : 0;
    std::uint8_t crc = kCrcInitial;
    for (std::size_t i = OSTREL_FCAP_SIZE; i + 1 < record.size(); ++i) {
        crc ^= record[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<std::uint8_t>((crc << 1) ^ ((crc & 0x80) != 0 ? kCrcPolynomial : 0));
        }
    }
    record.back() = crc;
    return record;
}

} // namespace

Ipmc::Ipmc(const IpmcBoard &board, Store &store)
    : board_(board), registers_(store.region("ipmc.registers", register_reset(board))),
      engineering_(store.region("ipmc.engineering", record_after_reset(board))),
      params_(store.region("ipmc.params", board.params)) {}

Bytes Ipmc::answer(const IpmiRequestBytes &request) {
    const Command *command = command_for(request.netfn, request.cmd);
    if (command == nullptr) {
        return {kCcInvalidCommand};
    }
    std::array<std::uint8_t, kMaxAnswerData> data{};
    Exchange x{board_,
               registers_,
               engineering_,
               params_,
               hvl::ByteReader(request.data, request.length),
               hvl::ByteWriter(data.data(), data.size())};
    std::uint8_t ccode = check_prefix(x, command->prefix);
    ccode = ccode == kCcSuccess ? command->run(x) : ccode;
    Bytes answer{ccode};
    if (ccode == kCcSuccess) {
        answer.insert(answer.end(), x.out.data(), x.out.data() + x.out.length());
    }
    return answer;
}

} // namespace sim
