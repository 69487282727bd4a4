// Interpreting one SDR record into a SensorInfo: the current reading and the
// thresholds of sensor records, the linear conversion between raw readings
// and values, unit texts and sensor type names. The interface is not null
// here; the public functions of the sensor module check it.
#include <cmath>
#include <cstdio>

#include "common/byte_io.h"
#include "hvl/hvl_ipmi_sensor.h"
#include "ipmi/ipmi_request.h"
#include "ipmi/sdr_walk.h"

namespace {

using hvl::ipmi::send_request;
using hvl::ipmi::unchecked_data;

constexpr int kFailed = -1;

using hvl::sdr::kNetFnSensor;
constexpr uint8_t kCmdGetThresholds = 0x27;
constexpr uint8_t kCmdGetReading = 0x2D;

// Body offsets: the standard's record byte numbers minus 6.
using hvl::sdr::kSensorNumberAt;
constexpr size_t kSensorTypeAt = 7;
constexpr size_t kUnits1At = 15;
constexpr size_t kBaseUnitAt = 16;
constexpr size_t kModifierUnitAt = 17;
constexpr size_t kLinearizationAt = 18;
constexpr size_t kFullIdAt = 43;
constexpr size_t kCompactIdAt = 27;

constexpr unsigned kFormatUnsigned = 0;
constexpr unsigned kFormatOnesComplement = 1;
constexpr unsigned kFormatTwosComplement = 2;
constexpr unsigned kFormatNoReading = 3;

constexpr uint8_t kReadingUnavailable = 0x20;

constexpr const char *kTypeNames[] = {
    "reserved",
    "Temperature",
    "Voltage",
    "Current",
    "Fan",
    "Physical Security",
    "Platform Security Violation Attempt",
    "Processor",
    "Power Supply",
    "Power Unit",
    "Cooling Device",
    "Other",
    "Memory",
    "Drive Slot / Bay",
    "POST Memory Resize",
    "System Firmware Progress",
    "Event Logging Disabled",
    "Watchdog",
    "System Event",
    "Critical Interrupt",
    "Button",
    "Module / Board",
    "Microcontroller / Coprocessor",
    "Add-in Card",
    "Chassis",
    "Chip Set",
    "Other FRU",
    "Cable / Interconnect",
    "Terminator",
    "System Boot Initiated",
    "Boot Error",
    "OS Boot",
    "OS Critical Stop",
    "Slot / Connector",
    "System ACPI Power State",
    "Watchdog",
    "Platform Alert",
    "Entity Presence",
    "Monitor ASIC / IC",
    "LAN",
    "Management Subsystem Health",
    "Battery",
};
static_assert(sizeof kTypeNames / sizeof kTypeNames[0] == 0x2A, "types 0x00 to 0x29");
constexpr uint8_t kFirstOemType = 0xC0;

constexpr const char *kUnitNames[] = {
    "unspecified",
    "degrees C",
    "degrees F",
    "degrees K",
    "Volts",
    "Amps",
    "Watts",
    "Joules",
    "Coulombs",
    "VA",
    "Nits",
    "lumen",
    "lux",
    "Candela",
    "kPa",
    "PSI",
    "Newton",
    "CFM",
    "RPM",
    "Hz",
    "microsecond",
    "millisecond",
    "second",
    "minute",
    "hour",
    "day",
    "week",
    "mil",
    "inches",
    "feet",
    "cu in",
    "cu feet",
    "mm",
    "cm",
    "m",
    "cu cm",
    "cu m",
    "liters",
    "fluid ounce",
    "radians",
    "steradians",
    "revolutions",
    "cycles",
    "gravities",
    "ounce",
    "pound",
    "ft-lb",
    "oz-in",
    "gauss",
    "gilberts",
    "henry",
    "millihenry",
    "farad",
    "microfarad",
    "ohms",
    "siemens",
    "mole",
    "becquerel",
    "PPM",
    "reserved",
    "Decibels",
    "DbA",
    "DbC",
    "gray",
    "sievert",
    "color temp deg K",
    "bit",
    "kilobit",
    "megabit",
    "gigabit",
    "byte",
    "kilobyte",
    "megabyte",
    "gigabyte",
    "word",
    "dword",
    "qword",
    "line",
    "hit",
    "miss",
    "retry",
    "reset",
    "overflow",
    "underrun",
    "collision",
    "packets",
    "messages",
    "characters",
    "error",
    "correctable error",
    "uncorrectable error",
};
static_assert(sizeof kUnitNames / sizeof kUnitNames[0] == 91, "units 0 to 90");

// Threshold comparison bits of the reading answer, the most severe first.
struct SeverityBits {
    uint8_t bits;
    uint32_t severity;
};
constexpr SeverityBits kSeverities[] = {
    {0x24, SEVERITY_NON_RECOVERABLE},
    {0x12, SEVERITY_CRITICAL},
    {0x09, SEVERITY_NON_CRITICAL},
};

// The byte at a fixed place of a record body; places past its end read 0.
uint8_t body_at(const uint8_t *body, size_t offset) {
    hvl::ByteReader in(body, SDR_BODY_SIZE);
    in.skip(offset);
    return in.u8();
}

// The conversion factors of a full sensor record.
struct Factors {
    int m, b, k1, k2;
    unsigned format;
    unsigned tolerance;
};

Factors read_factors(const uint8_t *body) {
    hvl::ByteReader in(body, SDR_BODY_SIZE);
    in.skip(kUnits1At);
    const unsigned units1 = in.u8();
    in.skip(3); // the two unit codes and the linearization
    const unsigned m_low = in.u8();
    const unsigned m_high_tolerance = in.u8();
    const unsigned b_low = in.u8();
    const unsigned b_high_accuracy = in.u8();
    in.skip(1);
    const unsigned exponents = in.u8();
    Factors f{};
    f.m = sensor_sign_extend(static_cast<int>(m_low | (m_high_tolerance & 0xC0U) << 2), 10);
    f.b = sensor_sign_extend(static_cast<int>(b_low | (b_high_accuracy & 0xC0U) << 2), 10);
    f.k1 = sensor_sign_extend(static_cast<int>(exponents & 0x0FU), 4);
    f.k2 = sensor_sign_extend(static_cast<int>(exponents >> 4), 4);
    f.format = units1 >> 6;
    f.tolerance = m_high_tolerance & 0x3FU;
    return f;
}

// The record's ID string from `at`, at most 16 characters and a 0.
void copy_id(char (&name)[SENSOR_NAME_SIZE], const uint8_t *body, size_t at) {
    hvl::ByteReader in(body, SDR_BODY_SIZE);
    in.skip(at);
    size_t length = 0;
    for (uint8_t c = in.u8(); c != 0 && length < SENSOR_NAME_MAX; c = in.u8()) {
        name[length++] = static_cast<char>(c);
    }
    name[length] = '\0';
}

void copy_text(char (&out)[SENSOR_TEXT_SIZE], const char *text) {
    (void)std::snprintf(out, sizeof out, "%s", text);
}

void write_unit(char (&unit)[SENSOR_TEXT_SIZE], const uint8_t *body) {
    const char *base = sensor_unit_name(body_at(body, kBaseUnitAt));
    const char *modifier = sensor_unit_name(body_at(body, kModifierUnitAt));
    switch ((body_at(body, kUnits1At) >> 1) & 0x03U) {
    case 1:
        (void)std::snprintf(unit, sizeof unit, "%s/%s", base, modifier);
        break;
    case 2:
        (void)std::snprintf(unit, sizeof unit, "%s * %s", base, modifier);
        break;
    default:
        copy_text(unit, base);
        break;
    }
}

uint32_t severity_of(uint8_t status) {
    for (const SeverityBits &level : kSeverities) {
        if ((status & level.bits) != 0) {
            return level.severity;
        }
    }
    return SEVERITY_OK;
}

// Sends one of the sensor requests that carry only the sensor number.
int send_sensor(IpmiIntf *intf, uint8_t cmd, uint8_t number, IpmiResponse *rsp) {
    uint8_t data[1] = {};
    hvl::ByteWriter out(data, sizeof data);
    out.u8(number);
    return send_request(intf, kNetFnSensor, 0, cmd, out, rsp);
}

// Full records without analog reading and compact records.
int parse_discrete(IpmiIntf *intf, const uint8_t *body, size_t id_at, SensorInfo &info) {
    SensorDiscrete &out = info.u.discrete;
    info.kind = SENSOR_KIND_DISCRETE;
    info.sensor_number = body_at(body, kSensorNumberAt);
    copy_id(info.name, body, id_at);
    copy_text(out.type_name, sensor_type_name(body_at(body, kSensorTypeAt)));
    IpmiResponse response{};
    const int rc = sensor_get_reading(intf, static_cast<uint8_t>(info.sensor_number), &response);
    if (rc != 0) {
        return rc;
    }
    if (response.ccode != 0) {
        return kFailed;
    }
    hvl::ByteReader in = unchecked_data(response);
    const uint8_t raw = in.u8();
    if ((in.u8() & kReadingUnavailable) == 0) {
        out.reading_available = 1;
        out.reading = raw;
        in.bytes(out.state_bits, sizeof out.state_bits);
    }
    return 0;
}

void read_thresholds(IpmiIntf *intf, const uint8_t *body, SensorInfo &info) {
    SensorAnalog &out = info.u.analog;
    out.threshold_mask = 0;
    IpmiResponse response{};
    const int rc = sensor_get_thresholds(intf, static_cast<uint8_t>(info.sensor_number), &response);
    if (!hvl::ipmi::succeeded(rc, response)) {
        return;
    }
    hvl::ByteReader in = unchecked_data(response);
    const uint8_t readable = in.u8();
    for (unsigned i = 0; i < SENSOR_THRESHOLD_COUNT; ++i) {
        const uint8_t raw = in.u8();
        if ((readable & (1U << i)) != 0) {
            out.threshold_mask = static_cast<uint8_t>(out.threshold_mask | 1U << i);
            out.thresholds[i] = sensor_raw_to_value(body, raw);
        }
    }
}

// Full records with an analog reading; only linear sensors are interpreted.
int parse_analog(IpmiIntf *intf, const uint8_t *body, SensorInfo &info) {
    if (body_at(body, kLinearizationAt) != 0) {
        return kFailed;
    }
    SensorAnalog &out = info.u.analog;
    info.kind = SENSOR_KIND_ANALOG;
    info.sensor_number = body_at(body, kSensorNumberAt);
    copy_id(info.name, body, kFullIdAt);
    IpmiResponse response{};
    const int rc = sensor_get_reading(intf, static_cast<uint8_t>(info.sensor_number), &response);
    if (rc != 0) {
        return rc;
    }
    write_unit(out.unit, body);
    if (response.ccode != 0) {
        return kFailed;
    }
    hvl::ByteReader in = unchecked_data(response);
    const uint8_t raw = in.u8();
    const uint8_t flags = in.u8();
    const uint8_t status = in.u8();
    if ((flags & kReadingUnavailable) == 0) {
        out.reading_available = 1;
        // A raw reading of 0 stands for no reading at all, whatever the factors say.
        out.value = raw != 0 ? sensor_raw_to_value(body, raw) : 0.0F;
        out.tolerance =
            sensor_raw_to_value(body, static_cast<uint8_t>(2 * read_factors(body).tolerance));
        out.severity = severity_of(status);
    }
    read_thresholds(intf, body, info);
    return 0;
}

int parse_full(IpmiIntf *intf, const SdrRecord &rec, SensorInfo &info) {
    if (read_factors(rec.body).format == kFormatNoReading) {
        return parse_discrete(intf, rec.body, kFullIdAt, info);
    }
    return parse_analog(intf, rec.body, info);
}

int parse_compact(IpmiIntf *intf, const SdrRecord &rec, SensorInfo &info) {
    return parse_discrete(intf, rec.body, kCompactIdAt, info);
}

int parse_event_only(IpmiIntf * /*intf*/, const SdrRecord &rec, SensorInfo &info) {
    hvl::ByteReader in(rec.body, SDR_BODY_SIZE);
    SensorEventOnly &out = info.u.event_only;
    info.kind = SENSOR_KIND_EVENT_ONLY;
    in.skip(kSensorNumberAt);
    info.sensor_number = in.u8();
    out.entity_id = in.u8();
    out.entity_instance = in.u8() & 0x7FU;
    copy_text(out.type_name, sensor_type_name(in.u8()));
    out.event_reading_type = in.u8();
    constexpr size_t kIdTypeLengthAt = 11;
    if (body_at(rec.body, kIdTypeLengthAt) != 0) {
        copy_id(info.name, rec.body, kIdTypeLengthAt + 1);
    }
    return 0;
}

// Both device locators keep their ID string's type/length byte here.
constexpr size_t kLocatorIdTypeLengthAt = 10;
constexpr size_t kLocatorEntityAt = 7;

int parse_mc_locator(IpmiIntf * /*intf*/, const SdrRecord &rec, SensorInfo &info) {
    hvl::ByteReader in(rec.body, SDR_BODY_SIZE);
    SensorMcLocator &out = info.u.mc_locator;
    info.kind = SENSOR_KIND_MC_LOCATOR;
    out.slave_address = (in.u8() >> 1) & 0x7FU;
    out.channel = in.u8() & 0x0FU;
    const unsigned power = in.u8();
    out.power_state_notification = (power >> 5) & 0x07U;
    out.global_init = power & 0x0FU;
    out.capabilities = in.u8();
    in.skip(kLocatorEntityAt - 4);
    out.entity_id = in.u8();
    out.entity_instance = in.u8();
    if (body_at(rec.body, kLocatorIdTypeLengthAt) != 0) {
        copy_id(info.name, rec.body, kLocatorIdTypeLengthAt + 1);
    }
    return 0;
}

int parse_fru_locator(IpmiIntf * /*intf*/, const SdrRecord &rec, SensorInfo &info) {
    hvl::ByteReader in(rec.body, SDR_BODY_SIZE);
    SensorFruLocator &out = info.u.fru_locator;
    info.kind = SENSOR_KIND_FRU_LOCATOR;
    out.access_address = (in.u8() >> 1) & 0x7FU;
    out.fru_device_id = in.u8();
    const unsigned access = in.u8();
    out.logical = (access >> 7) & 0x01U;
    out.access_lun = (access >> 3) & 0x03U;
    out.private_bus = access & 0x07U;
    out.channel = (in.u8() >> 4) & 0x0FU;
    in.skip(1);
    out.device_type = in.u8();
    out.device_type_modifier = in.u8();
    out.entity_id = in.u8();
    out.entity_instance = in.u8();
    if (body_at(rec.body, kLocatorIdTypeLengthAt) != 0) {
        copy_id(info.name, rec.body, kLocatorIdTypeLengthAt + 1);
    }
    return 0;
}

struct RecordParse {
    uint8_t record_type;
    int (*parse)(IpmiIntf *intf, const SdrRecord &rec, SensorInfo &info);
};

constexpr RecordParse kParses[] = {
    {SDR_TYPE_FULL_SENSOR, parse_full},      {SDR_TYPE_COMPACT_SENSOR, parse_compact},
    {SDR_TYPE_EVENT_ONLY, parse_event_only}, {SDR_TYPE_FRU_LOCATOR, parse_fru_locator},
    {SDR_TYPE_MC_LOCATOR, parse_mc_locator},
};

} // namespace

extern "C" {

int sensor_get_reading(IpmiIntf *intf, uint8_t number, IpmiResponse *rsp) {
    return send_sensor(intf, kCmdGetReading, number, rsp);
}

int sensor_get_thresholds(IpmiIntf *intf, uint8_t number, IpmiResponse *rsp) {
    return send_sensor(intf, kCmdGetThresholds, number, rsp);
}

void sensor_record_parse(IpmiIntf *intf, const SdrHeader *hdr, const SdrRecord *rec,
                         SensorInfo *info) {
    info->record_id = hvl::ByteReader(hdr->record_id, sizeof hdr->record_id).u16();
    for (const RecordParse &known : kParses) {
        if (known.record_type == hdr->record_type) {
            info->valid = known.parse(intf, *rec, *info) == 0 ? 1 : 0;
            return;
        }
    }
    info->valid = 0;
}

float sensor_raw_to_value(const uint8_t *body, uint8_t raw) {
    const Factors f = read_factors(body);
    int x = 0;
    switch (f.format) {
    case kFormatUnsigned:
        x = raw;
        break;
    case kFormatOnesComplement:
        // Negative readings count from -0: one more makes them two's complement.
        x = sensor_sign_extend((raw & 0x80U) != 0 ? static_cast<uint8_t>(raw + 1) : raw, 8);
        break;
    case kFormatTwosComplement:
        x = sensor_sign_extend(raw, 8);
        break;
    default:
        return 0.0F;
    }
    const double y =
        (static_cast<double>(x * f.m) + f.b * std::pow(10.0, f.k1)) * std::pow(10.0, f.k2);
    return static_cast<float>(y);
}

uint8_t sensor_value_to_raw(const uint8_t *body, float value) {
    const Factors f = read_factors(body);
    if (f.format == kFormatNoReading || f.m == 0) {
        return 0;
    }
    const double x =
        (static_cast<double>(value) / std::pow(10.0, f.k2) - f.b * std::pow(10.0, f.k1)) / f.m;
    if (!std::isfinite(x)) {
        return 0;
    }
    // Positive results round half up; negative ones are cut toward zero.
    const double whole = std::trunc(x);
    const double rounded = x - whole >= 0.5 ? std::ceil(x) : whole;
    // The low eight bits of the integer, also where it would not fit an int.
    double low = std::fmod(rounded, 256.0);
    if (low < 0) {
        low += 256.0;
    }
    return static_cast<uint8_t>(low);
}

int sensor_sign_extend(int value, int bits) {
    if (bits < 1 || bits > 31) {
        return value;
    }
    const unsigned sign = 1U << (bits - 1);
    if ((static_cast<unsigned>(value) & sign) == 0) {
        return value;
    }
    return -static_cast<int>((~static_cast<unsigned>(value) & (sign - 1)) + 1);
}

const char *sensor_unit_name(uint8_t code) {
    return code < sizeof kUnitNames / sizeof kUnitNames[0] ? kUnitNames[code] : " ";
}

const char *sensor_type_name(uint8_t code) {
    if (code < sizeof kTypeNames / sizeof kTypeNames[0]) {
        return kTypeNames[code];
    }
    return code < kFirstOemType ? "reserved" : "OEM reserved";
}

} // extern "C"
