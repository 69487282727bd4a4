#include "ipmc.h"

#include "ipmc_fru.h"
#include "picmg.h"

#include "ipmi/ostrel_constants.h"

#include <linux/ipmi.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace sim {
namespace {

using namespace hvl::ostrel;

// The driver's largest message: enough for a whole SDR record.
constexpr std::size_t kMaxAnswerData = IPMI_MAX_MSG_LENGTH;

constexpr std::uint8_t kParamsModes = kParamsPmBit | kParamsIpmbBit;

// The engineering record: the mezzanine flag is the second option byte; the
// last is the CRC-8 of the options before it, as the IPMC firmware computes it:
// polynomial 0x07, initial value 0xA5, most significant bit first.
constexpr std::size_t kMezzanineFlagAt = OSTREL_FCAP_SIZE + 1;
constexpr std::uint8_t kCrcInitial = 0xA5;
constexpr std::uint8_t kCrcPolynomial = 0x07;

constexpr std::uint8_t kPicmgIdentifier = 0x00;
constexpr std::uint8_t kNetFnStorage = 0x0A; // the FRU devices
constexpr std::uint8_t kNetFnSensor = 0x04;  // the device SDR repository and the sensors
constexpr std::uint8_t kCcReservationCancelled = 0xC5;
constexpr std::uint8_t kCcWrongSensorKind = 0xCD;
constexpr std::uint16_t kEndOfRepository = 0xFFFF;
constexpr std::uint8_t kWholeRecord = 0xFF;
constexpr std::uint8_t kStaticSensorsOnLun0 = 0x01; // Get Device SDR Info flags
constexpr std::uint8_t kScanning = 0xC0;            // reading flags: events and scanning on
constexpr std::uint8_t kUnavailable = 0x20;

// Bytes of a record, counted from 0 at its header: full (type 0x01) and
// compact (0x02) sensor records agree up to the units.
constexpr std::uint8_t kFullSensor = 0x01;
constexpr std::uint8_t kCompactSensor = 0x02;
constexpr std::uint8_t kEventOnly = 0x03;
constexpr std::size_t kTypeAt = 3;
constexpr std::size_t kNumberAt = 7;
constexpr std::size_t kReadingTypeAt = 13; // event/reading type, 0x01: threshold
constexpr std::uint8_t kThresholdType = 0x01;
constexpr std::size_t kLowerReturnedAt = 15; // bits 6:4: the comparisons with LNC, LC, LNR
constexpr std::size_t kUpperReturnedAt = 17; //   and with UNC, UC, UNR the sensor returns
constexpr std::size_t kSettableAt = 18;      // thresholds settable (bits 5:0), then readable
constexpr std::size_t kReadableAt = 19;
constexpr std::uint8_t kThresholdBits = 0x3F;
constexpr std::size_t kUnits1At = 20;          // bits 7:6: unsigned, 1's or 2's complement
constexpr std::size_t kCharacteristicsAt = 30; // bit 0: a nominal reading is given
constexpr std::size_t kNominalAt = 31;
constexpr std::size_t kUpperNonRecoverableAt = 36; // the six thresholds, upper first
constexpr std::size_t kThresholds = 6;             // LNC, LC, LNR, UNC, UC, UNR in messages
constexpr std::size_t kSensorNumbers = 0x100;

static_assert(kSignatureSize <= OSTREL_ACCESS_CODE_SIZE);

std::uint8_t check_prefix(Exchange &x, Prefix prefix) {
    if (prefix == Prefix::Picmg) {
        const std::uint8_t identifier = x.in.u8();
        x.out.u8(kPicmgIdentifier);
        return !x.in.ok()                       ? kCcBadLength
               : identifier != kPicmgIdentifier ? kCcInvalidField
                                                : kCcSuccess;
    }
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

std::uint8_t get_device_id(Exchange &x) { return answer_bytes(x, x.board.device_id); }
std::uint8_t get_self_test(Exchange &x) { return answer_bytes(x, x.board.self_test); }
std::uint8_t eng_record_get(Exchange &x) { return answer_bytes(x, x.ipmc.engineering); }

// Offset, operation, and for a write the value and the end byte: a read
// answers the register (0xFF where it is not implemented); a write changes
// it where it is implemented and writable.
std::uint8_t cpld_register(Exchange &x) {
    const std::uint8_t offset = x.in.u8();
    const std::uint8_t operation = x.in.u8();
    const bool write = operation == kCpldRegWrite;
    const bool known = write || operation == kCpldRegRead;
    const std::uint8_t value = write ? x.in.u8() : 0;
    const std::uint8_t end = write ? x.in.u8() : kCpldRegWriteEnd;
    if (!x.in.ok() || (known && !x.in.finished())) {
        return kCcBadLength;
    }
    if (!known || end != kCpldRegWriteEnd) {
        return kCcInvalidField;
    }
    const CpldRegister &reg = x.board.registers[offset];
    if (!write) {
        x.out.u8(reg.implemented ? x.ipmc.registers.byte(offset) : 0xFF);
    } else if (reg.implemented && !reg.read_only) {
        x.ipmc.registers.set_byte(offset, value);
    }
    return kCcSuccess;
}

// Byte 4 selects: a query answers the selector, the modes and the extra byte;
// a store keeps the two mode bits and the extra byte.
std::uint8_t controller_params(Exchange &x) {
    const std::uint8_t selector = x.in.u8();
    const std::uint8_t modes = x.in.u8();
    const std::uint8_t extra = x.in.u8();
    if (selector == kParamsQuery) {
        x.out.u8(selector).bytes(x.ipmc.params.data(), x.ipmc.params.size());
        return kCcSuccess;
    }
    if (selector == kParamsStore) {
        const std::uint8_t kept[] = {static_cast<std::uint8_t>(modes & kParamsModes), extra};
        x.ipmc.params.write(0, kept, sizeof kept);
        return kCcSuccess;
    }
    return kCcInvalidField;
}

// The record is kept as sent: checking its CRC is the reader's business.
std::uint8_t eng_record_set(Exchange &x) {
    std::array<std::uint8_t, OSTREL_ENG_RECORD_SIZE> record{};
    x.in.bytes(record.data(), record.size());
    x.ipmc.engineering.write(0, record.data(), record.size());
    return kCcSuccess;
}

std::uint8_t byte_at(const Bytes &record, std::size_t at) {
    return at < record.size() ? record[at] : 0;
}

std::uint16_t record_id(const Bytes &record) {
    return static_cast<std::uint16_t>(record[0] | record[1] << 8U);
}

// The record of sensor `number`: the first full or compact record that
// carries it (owner and LUN are not looked at).
const Bytes *sensor_record(const IpmcBoard &board, std::size_t number) {
    const auto found = std::find_if(board.sdr.begin(), board.sdr.end(), [&](const Bytes &r) {
        return (r[kTypeAt] == kFullSensor || r[kTypeAt] == kCompactSensor) &&
               byte_at(r, kNumberAt) == number;
    });
    return found != board.sdr.end() ? &*found : nullptr;
}

bool threshold_based(const Bytes *record) {
    return record != nullptr && byte_at(*record, kReadingTypeAt) == kThresholdType;
}

// A raw value as a number of the record's data format.
int as_number(std::uint8_t raw, std::uint8_t units1) {
    const int format = units1 >> 6;
    return format == 1 && (raw & 0x80) != 0 ? -(~raw & 0x7F)
           : format == 2                    ? static_cast<std::int8_t>(raw)
                                            : raw;
}

// Bit i set when the reading is at or beyond threshold i, if the sensor returns
// that comparison: at or below the three lower ones, at or above the upper ones.
std::uint8_t threshold_status(const Bytes &record, std::uint8_t reading,
                              const std::uint8_t *thresholds) {
    const std::uint8_t format = byte_at(record, kUnits1At);
    const unsigned returned = (byte_at(record, kLowerReturnedAt) >> 4 & 7U) |
                              (byte_at(record, kUpperReturnedAt) >> 4 & 7U) << 3;
    const int value = as_number(reading, format);
    std::uint8_t status = 0;
    for (std::size_t i = 0; i < kThresholds; ++i) {
        const int limit = as_number(thresholds[i], format);
        const bool beyond = i < kThresholds / 2 ? value <= limit : value >= limit;
        status |= beyond && (returned >> i & 1) != 0 ? 1U << i : 0U;
    }
    return status;
}

// An optional operation byte: bit 0 counts the records instead of the sensors.
std::uint8_t get_sdr_info(Exchange &x) {
    const std::uint8_t operation = x.in.remaining() != 0 ? x.in.u8() : 0;
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    const auto sensors = std::count_if(x.board.sdr.begin(), x.board.sdr.end(), [](const Bytes &r) {
        return r[kTypeAt] == kFullSensor || r[kTypeAt] == kCompactSensor ||
               r[kTypeAt] == kEventOnly;
    });
    const std::size_t count = (operation & 1) != 0 ? x.board.sdr.size() : std::size_t(sensors);
    x.out.u8(static_cast<std::uint8_t>(std::min<std::size_t>(count, 0xFF)))
        .u8(kStaticSensorsOnLun0);
    return kCcSuccess;
}

// Each reservation cancels the one before.
std::uint8_t reserve_sdr(Exchange &x) {
    x.ipmc.reservation = x.ipmc.reservation == kEndOfRepository ? 1 : x.ipmc.reservation + 1;
    x.out.u16(x.ipmc.reservation);
    return kCcSuccess;
}

// Reservation, record ID (0: the first), offset, count (0xFF: the rest):
// the next record's ID, then the bytes. A read from offset 0 needs no
// reservation; bytes past the record's end are not sent.
std::uint8_t get_sdr(Exchange &x) {
    const std::uint16_t reservation = x.in.u16();
    const std::uint16_t id = x.in.u16();
    const std::uint8_t offset = x.in.u8();
    const std::uint8_t count = x.in.u8();
    const std::vector<Bytes> &sdr = x.board.sdr;
    const auto record = std::find_if(sdr.begin(), sdr.end(),
                                     [&](const Bytes &r) { return id == 0 || record_id(r) == id; });
    if (record == sdr.end()) {
        return kCcNotPresent;
    }
    if (offset != 0 && (reservation == 0 || reservation != x.ipmc.reservation)) {
        return kCcReservationCancelled;
    }
    if (offset > record->size()) {
        return kCcOutOfRange;
    }
    const std::size_t rest = record->size() - offset;
    const std::size_t sent = count == kWholeRecord ? rest : std::min<std::size_t>(count, rest);
    if (x.board.sdr_transfer_limit != 0 && sent > x.board.sdr_transfer_limit) {
        return kCcCannotReturn;
    }
    x.out.u16(record + 1 != sdr.end() ? record_id(record[1]) : kEndOfRepository)
        .bytes(record->data() + offset, sent);
    return kCcSuccess;
}

// The board's reading, else the full record's nominal one, else 0. A
// threshold sensor's first state byte compares it with the thresholds now set.
std::uint8_t get_reading(Exchange &x) {
    const std::uint8_t number = x.in.u8();
    const Bytes *record = sensor_record(x.board, number);
    const auto given = x.board.sensors.find(number);
    if (record == nullptr && given == x.board.sensors.end()) {
        return kCcNotPresent;
    }
    const SensorLive live = given != x.board.sensors.end() ? given->second : SensorLive{};
    const bool nominal = record != nullptr && (*record)[kTypeAt] == kFullSensor &&
                         (byte_at(*record, kCharacteristicsAt) & 1) != 0;
    const std::uint8_t reading = live.reading.value_or(nominal ? (*record)[kNominalAt] : 0);
    Bytes states = live.states.empty() ? Bytes{0, 0} : live.states;
    if (live.states.empty() && !live.unavailable && threshold_based(record)) {
        states[0] =
            threshold_status(*record, reading, x.ipmc.thresholds.data() + number * kThresholds);
    }
    x.out.u8(reading).u8(live.unavailable ? kScanning | kUnavailable : kScanning);
    x.out.bytes(states.data(), states.size());
    return kCcSuccess;
}

// The readable ones of a threshold sensor, as set now.
std::uint8_t get_thresholds(Exchange &x) {
    const std::uint8_t number = x.in.u8();
    const Bytes *record = sensor_record(x.board, number);
    if (!threshold_based(record)) {
        return record == nullptr ? kCcNotPresent : kCcWrongSensorKind;
    }
    x.out.u8(byte_at(*record, kReadableAt) & kThresholdBits)
        .bytes(x.ipmc.thresholds.data() + number * kThresholds, kThresholds);
    return kCcSuccess;
}

// Sensor number, a mask of the thresholds to set, the six thresholds: all of
// them settable, or none is set.
std::uint8_t set_thresholds(Exchange &x) {
    const std::uint8_t number = x.in.u8();
    const std::uint8_t mask = x.in.u8();
    std::array<std::uint8_t, kThresholds> given{};
    x.in.bytes(given.data(), given.size());
    const Bytes *record = sensor_record(x.board, number);
    if (!threshold_based(record)) {
        return record == nullptr ? kCcNotPresent : kCcWrongSensorKind;
    }
    if ((mask & ~(byte_at(*record, kSettableAt) & kThresholdBits)) != 0) {
        return kCcInvalidField;
    }
    const std::uint8_t *now = x.ipmc.thresholds.data() + number * kThresholds;
    for (std::size_t i = 0; i < kThresholds; ++i) {
        given[i] = (mask >> i & 1) != 0 ? given[i] : now[i];
    }
    x.ipmc.thresholds.write(number * kThresholds, given.data(), given.size());
    return kCcSuccess;
}

constexpr std::size_t kAny = SIZE_MAX; // a length the handler checks
constexpr auto kNone = Prefix::None;
constexpr auto kSigned = Prefix::Signature;
constexpr auto kCoded = Prefix::AccessCode;
constexpr auto kPicmg = Prefix::Picmg;

struct Command {
    std::uint8_t netfn;
    std::uint8_t cmd;
    Prefix prefix;
    std::size_t length; // of the data after the prefix
    std::uint8_t (*run)(Exchange &);
    std::string_view value = {}; // the OEM value it works on
};

// Every request the IPMC answers; the controllers behind it answer Get Device
// ID and the PICMG requests.
constexpr Command kCommands[] = {
    {kNetFnApp, kCmdGetDeviceId, kNone, 0, get_device_id},
    {kNetFnApp, 0x04, kNone, 0, get_self_test},
    {kNetFnSensor, 0x20, kNone, kAny, get_sdr_info},
    {kNetFnSensor, 0x21, kNone, 6, get_sdr},
    {kNetFnSensor, 0x22, kNone, 0, reserve_sdr},
    {kNetFnSensor, 0x2D, kNone, 1, get_reading},
    {kNetFnSensor, 0x27, kNone, 1, get_thresholds},
    {kNetFnSensor, 0x26, kNone, 2 + kThresholds, set_thresholds},
    {kNetFnStorage, 0x10, kNone, 1, fru_area_info},
    {kNetFnStorage, 0x11, kNone, 4, read_fru},
    {kNetFnStorage, 0x12, kNone, kAny, write_fru},
    {kNetFnPicmg, 0x00, kPicmg, 0, picmg_properties},
    {kNetFnPicmg, 0x01, kPicmg, kAny, picmg_address_info},
    {kNetFnPicmg, 0x05, kPicmg, 1, picmg_led_properties},
    {kNetFnPicmg, 0x06, kPicmg, 2, picmg_led_colours},
    {kNetFnPicmg, 0x08, kPicmg, 2, picmg_led_state},
    {kNetFnPicmg, 0x0F, kPicmg, 1, picmg_port_state},
    {kNetFnPicmg, 0x1A, kPicmg, kAny, picmg_amc_port_state},
    {kNetFnSigned, kCmdCpldReg, kSigned, kAny, cpld_register},
    {kNetFnSigned, kCmdParams, kSigned, 3, controller_params},
    {kNetFnSigned, kCmdDeviceIdString, kSigned, kAny, oem_set_id_string, "device_id_string"},
    {kNetFnCoded, kCmdEngRecordGet, kCoded, 0, eng_record_get},
    {kNetFnCoded, kCmdEngRecordSet, kCoded, OSTREL_ENG_RECORD_SIZE, eng_record_set},
    {kNetFnCoded, kCmdRelease, kCoded, kAny, oem_get, "release"},
    {kNetFnCoded, kCmdDebug, kCoded, kAny, oem_set, "debug"},
    {kNetFnCoded, kCmdBootCycleGet, kCoded, kAny, oem_get, "boot_cycle"},
    {kNetFnCoded, kCmdBootCycleSet, kCoded, kAny, oem_set, "boot_cycle"},
    {kNetFnCoded, kCmdClockSourceSet, kCoded, kAny, oem_set, "clock_source"},
    {kNetFnCoded, kCmdClockSourceGet, kCoded, kAny, oem_get, "clock_source"},
    {kNetFnCoded, kCmdClockDriverSet, kCoded, kAny, oem_set, "clock_driver"},
    {kNetFnCoded, kCmdClockDriverGet, kCoded, kAny, oem_get, "clock_driver"},
    {kNetFnCoded, kCmdPllConfigSet, kCoded, kAny, oem_set, "pll_config"},
    {kNetFnCoded, kCmdPllConfigGet, kCoded, kAny, oem_get, "pll_config"},
    {kNetFnCoded, kCmdPllStatusGet, kCoded, kAny, oem_get, "pll_status"},
    {kNetFnCoded, kCmdStorageSwGet, kCoded, kAny, oem_get, "storage_switch"},
    {kNetFnCoded, kCmdStorageSwSet, kCoded, kAny, oem_set, "storage_switch"},
    {kNetFnCoded, kCmdPciePortConfGet, kCoded, kAny, oem_get, "pcie_port_config"},
    {kNetFnCoded, kCmdPciePortConfSet, kCoded, kAny, oem_set, "pcie_port_config"},
    {kNetFnCoded, kCmdPcieClockGet, kCoded, kAny, oem_get, "pcie_clock"},
    {kNetFnCoded, kCmdPcieClockSet, kCoded, kAny, oem_set, "pcie_clock"},
    {kNetFnCoded, kCmdPcieHotplugGet, kCoded, kAny, oem_get, "pcie_hotplug"},
    {kNetFnCoded, kCmdPcieHotplugSet, kCoded, kAny, oem_set, "pcie_hotplug"},
    {kNetFnCoded, kCmdPcieModeGet, kCoded, kAny, oem_get, "pcie_mode"},
    {kNetFnCoded, kCmdPcieModeSet, kCoded, kAny, oem_set, "pcie_mode"},
    {kNetFnCoded, kCmdXfpRead, kCoded, kAny, oem_read_memory, "xfp"},
    {kNetFnCoded, kCmdBlockRead, kNone, kAny, oem_read_memory, "block"},
    {kNetFnCoded, kCmdBlockWrite, kNone, kAny, oem_write_memory, "block"},
};

// The answer of `board` to a request, from the commands `behind` allows.
Bytes answer_as(Ipmc &ipmc, const IpmcBoard &board, const IpmiRequestBytes &request, bool behind) {
    const auto *command =
        std::find_if(std::begin(kCommands), std::end(kCommands), [&](const Command &c) {
            return c.netfn == request.netfn && c.cmd == request.cmd &&
                   (!behind || c.prefix == kPicmg || c.run == get_device_id);
        });
    if (command == std::end(kCommands)) {
        return {kCcInvalidCommand};
    }
    Bytes answer(1 + kMaxAnswerData);
    Exchange x{board, ipmc, oem_value(command->value),
               hvl::ByteReader(request.data, request.length),
               hvl::ByteWriter(answer.data() + 1, kMaxAnswerData)};
    std::uint8_t ccode = check_prefix(x, command->prefix);
    if (ccode == kCcSuccess && command->length != kAny && x.in.remaining() != command->length) {
        ccode = kCcBadLength;
    }
    answer[0] = ccode == kCcSuccess ? command->run(x) : ccode;
    answer.resize(answer[0] == kCcSuccess ? 1 + x.out.length() : 1);
    return answer;
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

// The thresholds of each sensor number as its full record gives them, in the
// order of the messages.
Bytes thresholds_after_reset(const IpmcBoard &board) {
    Bytes reset(kSensorNumbers * kThresholds);
    for (std::size_t number = 0; number < kSensorNumbers; ++number) {
        const Bytes *record = sensor_record(board, number);
        for (std::size_t i = 0;
             record != nullptr && (*record)[kTypeAt] == kFullSensor && i < kThresholds; ++i) {
            reset[number * kThresholds + i] =
                byte_at(*record, kUpperNonRecoverableAt + kThresholds - 1 - i);
        }
    }
    return reset;
}

Bytes oem_after_reset(const IpmcBoard &board) {
    Bytes reset = board.oem;
    reset.resize(kOemSize);
    return reset;
}

} // namespace

Ipmc::Ipmc(const IpmcBoard &ipmc, Store &store)
    : board(ipmc), registers(store.region("ipmc.registers", register_reset(ipmc))),
      engineering(store.region("ipmc.engineering", record_after_reset(ipmc))),
      params(store.region("ipmc.params", ipmc.params)),
      thresholds(store.region("ipmc.thresholds", thresholds_after_reset(ipmc))),
      oem(store.region("ipmc.oem", oem_after_reset(ipmc))), fru(fru_areas(ipmc, store)) {}

Bytes Ipmc::answer(const IpmiRequestBytes &request) {
    return answer_as(*this, board, request, false);
}

std::optional<Bytes> Ipmc::answer_behind(std::uint16_t channel, std::uint8_t address,
                                         const IpmiRequestBytes &request) {
    const auto &all = board.controllers;
    const auto found = std::find_if(all.begin(), all.end(), [&](const IpmcBoard &controller) {
        return ipmb0_address(controller) == address;
    });
    if (channel != kIpmbLChannel || found == all.end()) {
        return std::nullopt;
    }
    return answer_as(*this, *found, request, true);
}

} // namespace sim
