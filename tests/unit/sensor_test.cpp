// The sensor module against a scripted IPMC: the repository walk and its
// pieces, the interpretation of records, the conversions and the queries.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "fake_ipmi.h"
#include "hvl/hvl_ipmi_sensor.h"
#include "ipmi/sdr_walk.h"
#include "log_capture.h"
#include "sys/sys_ops.h"

namespace {

uint8_t lo(unsigned v) { return static_cast<uint8_t>(v); }
uint8_t hi(unsigned v) { return static_cast<uint8_t>(v >> 8); }

// `fill` with the ID string `id` at `id_at` and its type/length byte before it.
Bytes with_id(size_t id_at, const std::string &id, Bytes fill = {}) {
    fill.resize(std::max(fill.size(), id_at + id.size()));
    fill[id_at - 1] = static_cast<uint8_t>(0xC0 | id.size());
    std::copy(id.begin(), id.end(), fill.begin() + static_cast<long>(id_at));
    return fill;
}

// A full sensor record body: sensor 0x21 "TEMP" with these factors.
struct Full {
    int m = 1, b = 0, k1 = 0, k2 = 0;
    uint8_t units1 = 0, base = 4, modifier = 0, linearization = 0, tolerance = 0;
    Bytes body() const {
        Bytes out(43);
        out[2] = 0x21, out[15] = units1, out[16] = base, out[17] = modifier;
        out[18] = linearization, out[19] = lo(m), out[21] = lo(b);
        out[20] = static_cast<uint8_t>(((m >> 8) & 3) << 6 | tolerance);
        out[22] = static_cast<uint8_t>(((b >> 8) & 3) << 6);
        out[24] = static_cast<uint8_t>((k2 & 0xF) << 4 | (k1 & 0xF));
        return with_id(43, "TEMP", out);
    }
};

ScriptedAnswer header(unsigned id, unsigned next, uint8_t type, size_t length) {
    return answer(0, {lo(next), hi(next), lo(id), hi(id), 0x51, type, lo(length)});
}

ScriptedAnswer piece(const Bytes &bytes, size_t from = 0, size_t count = 1024) {
    Bytes data{0xFF, 0xFF};
    data.insert(data.end(), bytes.begin() + static_cast<long>(from),
                bytes.begin() + static_cast<long>(std::min(bytes.size(), from + count)));
    return answer(0, data);
}

// Get Device SDR Info and the reservation 0x1234 of a walk's start.
void start(FakeIpmi &ipmi) { ipmi.then(answer(0, {9})).then(answer(0, {0x34, 0x12})); }

// One record's header and its bytes in one piece.
void record(FakeIpmi &ipmi, unsigned id, unsigned next, uint8_t type, const Bytes &body) {
    ipmi.then(header(id, next, type, body.size())).then(piece(body));
}

SdrHeader header_of(unsigned id, uint8_t type, size_t length) {
    return SdrHeader{{0xFF, 0xFF}, {lo(id), hi(id)}, 0x51, type, lo(length)};
}

SensorInfo parse(FakeIpmi &ipmi, uint8_t type, const Bytes &body) {
    const SdrHeader hdr = header_of(0x0102, type, body.size());
    SdrRecord rec{};
    std::copy_n(body.begin(), std::min(body.size(), sizeof rec.body), rec.body);
    SensorInfo info{};
    sensor_record_parse(ipmi.intf(), &hdr, &rec, &info);
    return info;
}

template <typename T> Bytes bytes_of(const T &fields) {
    const auto *at = reinterpret_cast<const uint8_t *>(&fields);
    return Bytes(at, at + sizeof fields);
}

bool all_zero(const SensorInfo &info) { return bytes_of(info) == Bytes(sizeof info, 0); }

std::vector<unsigned> pauses;
unsigned note_pause(unsigned seconds) {
    pauses.push_back(seconds);
    return 0;
}
// Nothing here opens a device: only the pause is stood in for.
const hvl::sys::Ops kNoWaiting{nullptr, nullptr, nullptr, nullptr, note_pause};

// Every case starts from the initial piece size and notes its pauses instead of waiting.
class Sensor : public ::testing::Test {
protected:
    Sensor() { hvl::sdr::reset_chunk_size(), pauses.clear(); }
    hvl::sys::OpsOverride seam_{kNoWaiting};
    LogCapture log;
};

// Scripts `answers` in order.
void script(FakeIpmi &ipmi, const std::vector<ScriptedAnswer> &answers) {
    for (const ScriptedAnswer &next : answers) {
        ipmi.then(next);
    }
}

TEST(SensorConversion, RawReadingsFollowTheLinearFormulaAndValuesRoundBack) {
    enum Way { kToValue = 1, kToRaw = 2, kBoth = 3 };
    struct Case {
        int m, b, k1, k2, format, raw;
        float value;
        int way;
    };
    const Case cases[] = {
        {2, 0, 0, -2, 0, 150, 3.0F, kBoth},     {1, -40, 0, 0, 0, 65, 25.0F, kBoth},
        {1, 0, 0, 0, 2, 0xF6, -10.0F, kBoth},   {1, 0, 0, 0, 0, 0xF6, 246.0F, kBoth},
        {1, 0, 0, 0, 1, 0xF6, -9.0F, kToValue}, {1, 0, 0, 0, 1, 0xFF, 0.0F, kToValue},
        {0x3FF, 0, 0, 0, 0, 5, -5.0F, kBoth},   {3, 7, 2, -1, 0, 10, 73.0F, kBoth},
        {1, 0, 0, 0, 3, 0x40, 0.0F, kToValue},  {2, 0, 0, 0, 0, 2, 3.0F, kToRaw},
        {2, 0, 0, 0, 0, 1, 2.5F, kToRaw},       {2, 0, 0, 0, 2, 0xFF, -3.0F, kToRaw},
        {2, 0, 0, 0, 2, 0xFE, -5.0F, kToRaw},   {1, 0, 0, 0, 0, 44, 300.0F, kToRaw},
        {0, 5, 0, 0, 0, 0, 3.0F, kToRaw},       {1, 0, 0, 0, 3, 0, 7.0F, kToRaw},
        {1, 0, 0, 0, 0, 0, NAN, kToRaw}};
    for (const Case &c : cases) {
        Full full;
        full.m = c.m, full.b = c.b, full.k1 = c.k1, full.k2 = c.k2;
        full.units1 = static_cast<uint8_t>(c.format << 6);
        const Bytes body = full.body();
        if ((c.way & kToValue) != 0) {
            EXPECT_FLOAT_EQ(sensor_raw_to_value(body.data(), lo(c.raw)), c.value) << c.raw;
        }
        if ((c.way & kToRaw) != 0) {
            EXPECT_EQ(sensor_value_to_raw(body.data(), c.value), c.raw) << c.value;
        }
    }
    EXPECT_EQ(sensor_sign_extend(0x1FF, 10), 0x1FF);
}

TEST(SensorNames, TablesEndWhereTheStandardsCodesDo) {
    using Names = std::vector<std::pair<int, const char *>>;
    const Names units{{0, "unspecified"},          {4, "Volts"}, {82, "overflow"},
                      {90, "uncorrectable error"}, {91, " "},    {255, " "}};
    const Names types{{0x00, "reserved"},     {0x11, "Watchdog"},    {0x23, "Watchdog"},
                      {0x29, "Battery"},      {0x2A, "reserved"},    {0xBF, "reserved"},
                      {0xC0, "OEM reserved"}, {0xFF, "OEM reserved"}};
    for (const auto &[code, text] : units) {
        EXPECT_STREQ(sensor_unit_name(lo(code)), text) << code;
    }
    for (const auto &[code, text] : types) {
        EXPECT_STREQ(sensor_type_name(lo(code)), text) << code;
    }
}

TEST_F(Sensor, AnalogRecordGivesValueToleranceSeverityAndThresholds) {
    FakeIpmi ipmi;
    Full full;
    full.b = 2, full.tolerance = 3;
    ipmi.then(answer(0, {48, 0xC0, 0x12 | 0x08, 0x00})).then(answer(0, {0x38, 1, 2, 3, 4, 5, 6}));
    const SensorInfo info = parse(ipmi, SDR_TYPE_FULL_SENSOR, full.body());
    EXPECT_EQ(std::make_pair(info.valid, info.kind), std::make_pair(uint8_t{1}, 2U));
    EXPECT_STREQ(info.name, "TEMP");
    const SensorAnalog &a = info.u.analog;
    EXPECT_EQ(a.reading_available, 1);
    EXPECT_FLOAT_EQ(a.value, 50.0F);
    EXPECT_FLOAT_EQ(a.tolerance, 8.0F) << "twice the tolerance field, offset B included";
    EXPECT_EQ(a.severity, SEVERITY_CRITICAL) << "critical wins over non-critical";
    EXPECT_EQ(a.threshold_mask, 0x38);
    const float thresholds[6] = {0, 0, 0, 6.0F, 7.0F, 8.0F};
    EXPECT_EQ(0, std::memcmp(a.thresholds, thresholds, sizeof thresholds));
    EXPECT_EQ(std::make_tuple(ipmi.sent[0].netfn, ipmi.sent[0].cmd, ipmi.sent[0].data,
                              ipmi.sent[1].cmd, ipmi.sent[1].data),
              std::make_tuple(uint8_t{4}, uint8_t{0x2D}, Bytes{0x21}, uint8_t{0x27}, Bytes{0x21}));
}

// (Plain units, a raw 0 and an unavailable reading are compared with
// ipmitool's on rich.toml by hwboard_vs_peers.py.)
TEST_F(Sensor, AnalogReadingsBySeverityUnitAndAvailability) {
    struct Case {
        uint8_t units1, base, modifier, raw, flags, status;
        const char *unit;
        float value;
        uint32_t severity;
    };
    const Case cases[] = {
        {0x02, 4, 22, 10, 0x00, 0x01, "Volts/second", 12.0F, SEVERITY_NON_CRITICAL},
        {0x04, 4, 5, 10, 0x00, 0x02, "Volts * Amps", 12.0F, SEVERITY_CRITICAL},
        {0x06, 4, 5, 10, 0x00, 0x04, "Volts", 12.0F, SEVERITY_NON_RECOVERABLE},
        {0x00, 91, 0, 10, 0x00, 0x20, " ", 12.0F, SEVERITY_NON_RECOVERABLE},
        {0x04, 65, 90, 10, 0x00, 0x00, "color temp deg K * uncorrectabl", 12.0F, SEVERITY_OK},
    };
    for (const Case &c : cases) {
        FakeIpmi ipmi;
        Full full;
        full.b = 2, full.units1 = c.units1, full.base = c.base, full.modifier = c.modifier;
        ipmi.then(answer(0, {c.raw, c.flags, c.status, 0})).then(answer(0xCB));
        const SensorAnalog a = parse(ipmi, SDR_TYPE_FULL_SENSOR, full.body()).u.analog;
        EXPECT_STREQ(a.unit, c.unit);
        EXPECT_EQ(a.reading_available, c.flags == 0 ? 1 : 0) << c.unit;
        EXPECT_FLOAT_EQ(a.value, c.value) << c.unit;
        EXPECT_EQ(a.severity, c.severity) << int{c.status};
        EXPECT_EQ(a.threshold_mask, 0);
    }
}

TEST_F(Sensor, RecordsThatCannotBeInterpretedStayInvalid) {
    Full nonlinear;
    nonlinear.linearization = 1;
    FakeIpmi ipmi;
    SensorInfo info = parse(ipmi, SDR_TYPE_FULL_SENSOR, nonlinear.body());
    EXPECT_EQ(std::make_pair(info.valid, info.kind), std::make_pair(uint8_t{0}, 0U));
    EXPECT_TRUE(ipmi.sent.empty());
    ipmi.then(answer(0xCB));
    info = parse(ipmi, SDR_TYPE_FULL_SENSOR, Full{}.body());
    EXPECT_EQ(info.valid, 0);
    EXPECT_STREQ(info.u.analog.unit, "Volts") << "the unit is written before the reading is judged";
}

TEST_F(Sensor, DiscreteRecordsKeepTheirStateBitsAndAShortName) {
    FakeIpmi ipmi;
    Bytes compact = with_id(27, "ABCDEFGHIJKLMNOPQRST", Bytes(27));
    compact[2] = 0x44, compact[7] = 0x06;
    ipmi.then(answer(0, {0x7E, 0x00, 0x5A, 0xA5})).then(answer(0, {0x7E, 0x20, 0x5A, 0xA5}));
    SensorInfo info = parse(ipmi, SDR_TYPE_COMPACT_SENSOR, compact);
    EXPECT_EQ(std::make_tuple(info.valid, info.kind, info.sensor_number),
              std::make_tuple(uint8_t{1}, uint32_t{SENSOR_KIND_DISCRETE}, uint16_t{0x44}));
    EXPECT_STREQ(info.name, "ABCDEFGHIJKLMNOP");
    EXPECT_STREQ(info.u.discrete.type_name, "Platform Security Violation Att");
    EXPECT_EQ(Bytes(&info.u.discrete.reading_available, &info.u.discrete.reading_available + 4),
              (Bytes{1, 0x7E, 0x5A, 0xA5}));
    Full full;
    full.units1 = 0xC0;
    info = parse(ipmi, SDR_TYPE_FULL_SENSOR, full.body());
    EXPECT_EQ(std::make_tuple(info.valid, info.kind, info.u.discrete.reading_available),
              std::make_tuple(uint8_t{1}, uint32_t{SENSOR_KIND_DISCRETE}, uint8_t{0}));
    EXPECT_STREQ(info.name, "TEMP");
}

TEST_F(Sensor, LocatorsAndEventOnlyRecordsAreReadFromTheRecordAlone) {
    FakeIpmi ipmi;
    SensorInfo info =
        parse(ipmi, SDR_TYPE_FRU_LOCATOR,
              with_id(11, "MEZZ", {0x20, 0x05, 0x9A, 0x70, 0, 0x10, 0x02, 0xC1, 0x60}));
    EXPECT_EQ(info.kind, SENSOR_KIND_FRU_LOCATOR);
    EXPECT_EQ(bytes_of(info.u.fru_locator), (Bytes{0xC1, 0x60, 0x10, 7, 5, 1, 3, 2, 0x10, 2}));
    EXPECT_STREQ(info.name, "MEZZ");
    info =
        parse(ipmi, SDR_TYPE_MC_LOCATOR, {0x82, 0x1E, 0xA9, 0x3F, 0, 0, 0, 0xC2, 0x61, 0, 0, 'X'});
    EXPECT_EQ(info.kind, SENSOR_KIND_MC_LOCATOR);
    EXPECT_EQ(bytes_of(info.u.mc_locator), (Bytes{0xC2, 0x61, 0x41, 0x0E, 5, 9, 0x3F}));
    EXPECT_STREQ(info.name, "") << "no name without a type/length byte";
    info =
        parse(ipmi, SDR_TYPE_EVENT_ONLY, with_id(12, "EVT", {0, 0, 0x33, 0x07, 0x85, 0x23, 0x6F}));
    EXPECT_EQ(std::make_tuple(info.kind, info.sensor_number, info.u.event_only.entity_id,
                              info.u.event_only.entity_instance,
                              info.u.event_only.event_reading_type),
              std::make_tuple(uint32_t{SENSOR_KIND_EVENT_ONLY}, uint16_t{0x33}, uint8_t{7},
                              uint8_t{5}, uint8_t{0x6F}));
    EXPECT_STREQ(info.u.event_only.type_name, "Watchdog");
    EXPECT_STREQ(info.name, "EVT");
}

TEST_F(Sensor, CancelledReservationIsRenewedAfterARandomPause) {
    FakeIpmi ipmi;
    const Bytes bytes = Full{}.body();
    script(ipmi, std::vector<ScriptedAnswer>(4, answer(0xCA)));
    ipmi.then(piece(bytes, 0, 14)).then(answer(0xC5)).then(answer(0, {0x78, 0x56}));
    ipmi.then(answer(0xC5)).then(answer(0, {0x9A, 0xBC})).then(piece(bytes, 14, 14));
    ipmi.then(piece(bytes, 28, 14)).then(piece(bytes, 42, 5));
    SdrIterator it{{0x34, 0x12}, 0, 0};
    const SdrHeader hdr = header_of(0x0009, SDR_TYPE_FULL_SENSOR, 47);
    SdrRecord rec{};
    unsigned seed = 1; // one whose first draw asks for the longest pause
    while (std::srand(seed), (std::rand() & 3) != 3) {
        ++seed;
    }
    const std::vector<unsigned> expected{3, static_cast<unsigned>(std::rand() & 3)};
    std::srand(seed);
    ASSERT_EQ(ipmi_sensor_get_record(ipmi.intf(), &hdr, &it, &rec), 0);
    EXPECT_EQ(pauses, expected);
    EXPECT_EQ(ipmi.sent[6].cmd, 0x22);
    EXPECT_EQ(ipmi.sent[7].data, (Bytes{0x78, 0x56, 0x09, 0x00, 19, 14}));
    EXPECT_EQ(ipmi.sent[9].data, (Bytes{0x9A, 0xBC, 0x09, 0x00, 19, 14}));
    EXPECT_EQ(it.reservation_id[0], 0x9A);
    EXPECT_EQ(Bytes(rec.body, rec.body + 47), bytes) << "the first piece stays";
}

// (Endless cancellations, 0xCA down to the smallest piece, records longer
// than 60 bytes, short pieces, records changing at every read and walks
// whose next-record IDs go round are the command-line cases of
// hostile_ipmc.t.)
TEST_F(Sensor, HostileAnswersEndTheReadAfterBoundedRequests) {
    struct Case {
        const char *what;
        size_t length;
        std::vector<ScriptedAnswer> answers;
    };
    const Case cases[] = {
        {"record empty", 0, {}},
        {"renewal refused", 20, {answer(0xC5), answer(0xC1)}},
        {"piece without data", 20, {answer(0)}},
        {"transport fails", 20, {transport_failure(74)}},
    };
    for (const Case &c : cases) {
        hvl::sdr::reset_chunk_size();
        FakeIpmi ipmi;
        script(ipmi, c.answers);
        SdrIterator it{};
        const SdrHeader hdr = header_of(0x0003, SDR_TYPE_FULL_SENSOR, c.length);
        SdrRecord rec{};
        EXPECT_EQ(ipmi_sensor_get_record(ipmi.intf(), &hdr, &it, &rec), -1) << c.what;
        EXPECT_EQ(ipmi.sent.size(), c.answers.size()) << c.what;
    }
    for (const int changes : {3, 4}) {
        FakeIpmi ipmi;
        for (const ScriptedAnswer &last : {header(1, 2, 0x11, 1), piece(Bytes{0x42})}) {
            script(ipmi, std::vector<ScriptedAnswer>(static_cast<size_t>(changes), answer(0x80)));
            script(ipmi, changes == 3 ? std::vector<ScriptedAnswer>{last}
                                      : std::vector<ScriptedAnswer>{});
        }
        const uint8_t reservation[2] = {0x34, 0x12};
        SdrHeader hdr{};
        EXPECT_EQ(ipmi_sensor_get_header(ipmi.intf(), reservation, 1, &hdr), changes == 3 ? 0 : -1);
        hdr = header_of(0x0001, 0x11, 1);
        SdrIterator it{};
        SdrRecord rec{};
        EXPECT_EQ(ipmi_sensor_get_record(ipmi.intf(), &hdr, &it, &rec), changes == 3 ? 0 : -1);
    }
}

TEST_F(Sensor, IdStringsMatchAsFarAsTheRecordsOwnLength) {
    struct Case {
        uint8_t type;
        size_t id_at;
        std::string id;
        const char *name;
        bool match;
    };
    const Case cases[] = {
        {SDR_TYPE_FULL_SENSOR, 43, "FAN 1", "FAN 12", true},
        {SDR_TYPE_FULL_SENSOR, 43, "FAN 12", "FAN 1", false},
        {SDR_TYPE_FULL_SENSOR, 43, "FAN 1", "fan 1", false},
        {SDR_TYPE_FULL_SENSOR, 43, "", "ANYTHING", true},
        {SDR_TYPE_COMPACT_SENSOR, 27, "CPU", "CPU", true},
        {SDR_TYPE_EVENT_ONLY, 12, "EVT", "EVT", true},
        {SDR_TYPE_FRU_LOCATOR, 11, "MEZZ", "MEZZANINE", true},
        {SDR_TYPE_MC_LOCATOR, 11, "IPMC", "IPMC", true},
        {0x10, 11, "IPMC", "IPMC", false},
    };
    for (const Case &c : cases) {
        FakeIpmi ipmi;
        Bytes body = with_id(c.id_at, c.id);
        body[c.id_at - 1] = static_cast<uint8_t>(0x20 | c.id.size()); // other type bits
        record(ipmi, 0x0005, 0xFFFF, c.type, body);
        SdrIterator it{};
        SdrHeader hdr{};
        SdrRecord rec{};
        EXPECT_EQ(sdr_find_by_id_string(ipmi.intf(), &it, c.name, &hdr, &rec), c.match ? 0 : -1)
            << c.id << " and " << c.name;
    }
}

TEST_F(Sensor, QueriesByRecordIdNameAndNumber) {
    FakeIpmi ipmi;
    start(ipmi);
    ipmi.then(answer(0xCB));
    SensorInfo info;
    std::memset(&info, 0xEE, sizeof info);
    EXPECT_EQ(sensor_info_get_data(ipmi.intf(), &info, 0x0200), -7);
    EXPECT_TRUE(all_zero(info));
    EXPECT_TRUE(log.contains("hvl_ipmi_sensor.cpp("));
    EXPECT_TRUE(log.contains("sensor_single_parse): ipmi_sensor_get_header for ID= 512 failed"));
    EXPECT_EQ(std::make_pair(ipmi.sent[0].cmd, ipmi.sent[1].cmd),
              std::make_pair(uint8_t{0x20}, uint8_t{0x22}));
    EXPECT_EQ(ipmi.sent[2].data, (Bytes{0x34, 0x12, 0x00, 0x02, 0, 5}));
    start(ipmi);
    record(ipmi, 0x0300, 0x0301, 0x10, with_id(11, "GENERIC"));
    EXPECT_EQ(sensor_info_get_data(ipmi.intf(), &info, 0x0300), 0);
    EXPECT_EQ(std::make_tuple(info.valid, info.kind, info.record_id),
              std::make_tuple(uint8_t{0}, 0U, uint16_t{0x0300}));

    start(ipmi);
    ipmi.then(header(0x0001, 0x0002, SDR_TYPE_FRU_LOCATOR, 15)).then(answer(0xCB));
    record(ipmi, 0x0002, 0xFFFF, SDR_TYPE_FRU_LOCATOR, with_id(11, "MEZZ", Bytes(6, 0x05)));
    EXPECT_EQ(sensor_info_get_data_by_id(ipmi.intf(), &info, "MEZZANINE"), 0)
        << "an unreadable record is passed over";
    EXPECT_EQ(std::make_pair(info.record_id, info.u.fru_locator.device_type),
              std::make_pair(uint16_t{2}, uint8_t{5}));
    start(ipmi);
    record(ipmi, 0x0001, 0xFFFF, SDR_TYPE_FRU_LOCATOR, with_id(11, "BOARD"));
    EXPECT_EQ(sensor_info_get_data_by_id(ipmi.intf(), &info, "MEZZ"), -7);
    EXPECT_TRUE(log.contains("sensor_id_parse): no record for ID= MEZZ found"));

    Bytes event_only = with_id(12, "EVT", Bytes(12));
    Bytes compact = with_id(27, "CPU", Bytes(27));
    event_only[2] = compact[2] = 0x44;
    for (const bool with_compact : {false, true}) {
        start(ipmi);
        record(ipmi, 0x0001, 0x0002, SDR_TYPE_EVENT_ONLY, event_only);
        record(ipmi, 0x0002, 0xFFFF, with_compact ? SDR_TYPE_COMPACT_SENSOR : SDR_TYPE_FULL_SENSOR,
               with_compact ? compact : Full{}.body());
        if (with_compact) {
            ipmi.then(answer(0, {0x01, 0x00, 0x00, 0x00}));
        }
        EXPECT_EQ(sensor_info_get_data_by_num(ipmi.intf(), &info, 0x44), with_compact ? 0 : -1);
        EXPECT_STREQ(info.name, with_compact ? "CPU" : "");
    }
}

TEST_F(Sensor, ListKeepsTheRecordsReadBeforeAFailure) {
    FakeIpmi ipmi;
    start(ipmi);
    record(ipmi, 0x0001, 0x0002, SDR_TYPE_FRU_LOCATOR, with_id(11, "A"));
    ipmi.then(header(0x0002, 0x0003, SDR_TYPE_FRU_LOCATOR, 15)).then(answer(0xCB));
    record(ipmi, 0x0003, 0x0004, 0xC0, Bytes(8, 0x11));
    ipmi.then(header(0x0004, 0xFFFF, SDR_TYPE_FRU_LOCATOR, 15)).then(answer(0xCB));
    SensorInfo before{};
    SensorInfo *list = &before;
    EXPECT_EQ(sensor_info_get_list(ipmi.intf(), &list), -1);
    ASSERT_TRUE(list != nullptr && list->next != nullptr);
    EXPECT_STREQ(list->name, "A");
    EXPECT_EQ(std::make_tuple(list->next->record_id, list->next->valid, list->next->next),
              std::make_tuple(uint16_t{3}, uint8_t{0}, nullptr))
        << "an OEM record is listed uninterpreted";
    std::free(list->next);
    std::free(list);
    start(ipmi);
    ipmi.then(answer(0xCB));
    EXPECT_EQ(sensor_info_get_list(ipmi.intf(), &list), 0) << "an empty repository";
    EXPECT_EQ(list, nullptr);
    ipmi.then(answer(0xC1));
    EXPECT_EQ(sensor_info_get_list(ipmi.intf(), &list), -1);
}

TEST_F(Sensor, SetThresholdConvertsTheValueForTheOneThresholdNamed) {
    FakeIpmi ipmi;
    start(ipmi);
    record(ipmi, 0x0010, 0xFFFF, SDR_TYPE_FULL_SENSOR, Full{}.body());
    ipmi.then(answer(0));
    EXPECT_EQ(sensor_set_threshold(ipmi.intf(), SENSOR_UPPER_CRITICAL, 0x0010, 75.0F), 0);
    EXPECT_EQ(std::make_tuple(ipmi.sent.back().netfn, ipmi.sent.back().cmd, ipmi.sent.back().data),
              std::make_tuple(uint8_t{4}, uint8_t{0x26}, Bytes{0x21, 0x10, 0, 0, 0, 0, 75, 0}));
    struct Case {
        uint32_t index;
        std::vector<ScriptedAnswer> answers;
        int rc;
        const char *line;
    };
    const ScriptedAnswer full = header(0x10, 0xFFFF, 1, 47), compact = header(0x10, 0, 2, 30);
    const Case cases[] = {
        {6, {full, piece(Full{}.body())}, -1, ""},
        {0, {compact, piece(with_id(27, "CPU"))}, -7, "record with ID= 16 is not full sensor"},
        {0, {answer(0xCB)}, -7, "ipmi_sensor_get_header for ID= 16 failed"},
        {0, {full, answer(0xCB)}, -1, "ipmi_sensor_get_record failed"},
        {0, {full, piece(Full{}.body()), transport_failure(19)}, 19, ""}};
    for (const Case &c : cases) {
        log.clear();
        ipmi.sent.clear();
        start(ipmi);
        script(ipmi, c.answers);
        EXPECT_EQ(sensor_set_threshold(ipmi.intf(), c.index, 0x0010, 1.0F), c.rc);
        EXPECT_EQ(ipmi.sent.size(), 2 + c.answers.size());
        EXPECT_TRUE(*c.line == '\0' || log.contains(std::string("threshold_record): ") + c.line))
            << c.line;
    }
    for (const uint8_t mask : {0x00, 0x03, 0x40, 0x80}) {
        IpmiResponse response{};
        EXPECT_EQ(sensor_set_thresholds_raw(ipmi.intf(), 1, mask, 2, &response), -1);
    }
}

TEST_F(Sensor, NullInterfaceIsLoggedUnderEachPublicFunctionAfterClearing) {
    SensorInfo info;
    SensorInfo *list = &info;
    EXPECT_EQ(sensor_info_get_list(nullptr, &list) + sensor_set_threshold(nullptr, 0, 1, 1), -4);
    EXPECT_EQ(list, nullptr);
    for (int query = 0; query < 3; ++query) {
        std::memset(&info, 0xEE, sizeof info);
        EXPECT_EQ(query == 0   ? sensor_info_get_data(nullptr, &info, 1)
                  : query == 1 ? sensor_info_get_data_by_id(nullptr, &info, "X")
                               : sensor_info_get_data_by_num(nullptr, &info, 1),
                  -2);
        EXPECT_TRUE(all_zero(info)) << query;
    }
    EXPECT_TRUE(log.contains("hvl_ipmi_sensor.cpp("));
    for (const char *function : {"list", "data", "data_by_id", "data_by_num", "threshold"}) {
        EXPECT_TRUE(
            log.contains(std::string(function) + "): HVL_IPMI API called with intf == NULL"))
            << function;
    }
}

} // namespace
