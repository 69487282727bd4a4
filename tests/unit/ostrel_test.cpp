// The OEM requests against a scripted interface: the bytes of every request,
// how each answer is judged, and the engineering options with their CRC-8.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numeric>
#include <string>
#include <tuple>
#include <vector>

#include "fake_ipmi.h"
#include "hvl/hvl_ipmi_ostrel.h"
#include "log_capture.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

namespace {

// The board access codes as the IPMC expects them, by product.
const std::pair<uint16_t, Bytes> kCodes[] = {
    {0x3120, {0x5A, 0xC3, 0x17, 0x8E, 0x21}},
    {0x3121, {0x6B, 0x0D, 0xF2, 0x44, 0x93}},
    {0x3130, {0x19, 0xA7, 0x5C, 0xE0, 0x3B}},
    {0x3140, {0xD4, 0x62, 0x8B, 0x07, 0xC9}},
};
const Bytes kSignature{0x7E, 0x31, 0xB6, 0x0F};

constexpr uint16_t kKnownProduct = 0x3120;
constexpr uint16_t kIpmbProduct = 0x3140; // sends the IPMB mode bit
constexpr uint16_t kUnknownProduct = 0x0001;

Bytes cat(Bytes head, const Bytes &tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The access signature, then `tail`.
Bytes signed_data(const Bytes &tail) { return cat(kSignature, tail); }

// The 17 bytes of a record whose options carry a good CRC.
const Bytes kGoodRecord{0x81, 0x00, 0x04, 0x02, 0x01, 0x07, 0x0A, 0x0B, 0x0C,
                        0x00, 0x80, 0x42, 0x1A, 0x2B, 0x3C, 0x05, 0x47};

void expect_request(const SentRequest &sent, uint8_t netfn, uint8_t cmd, const Bytes &data) {
    const uint8_t lun = netfn == 0x06 ? 0 : 3; // Get Device ID, else an OEM request
    EXPECT_EQ(std::make_tuple(netfn, lun, cmd), std::tie(sent.netfn, sent.lun, sent.cmd));
    EXPECT_THAT(sent.data, ElementsAreArray(data));
}

void expect_device_id_request(const SentRequest &sent) { expect_request(sent, 0x06, 0x01, {}); }

class Ostrel : public ::testing::Test {
protected:
    // Scripts the Get Device ID answer of `product_id`, then `reply`.
    void after_product(uint16_t product_id, ScriptedAnswer reply) {
        fake.then(device_id_answer(product_id)).then(std::move(reply));
    }

    LogCapture log;
    FakeIpmi fake;
};

// A read accepts exactly one data byte and otherwise clears the value; a
// write never reads back.
TEST_F(Ostrel, CpldRegisterRequestsAreSignedAndAReadTakesExactlyOneByte) {
    const std::tuple<const char *, ScriptedAnswer, int, uint8_t> cases[] = {
        {"one byte", answer(0, {0x42}), 0, 0x42},
        {"no byte", answer(0), -1, 0},
        {"two bytes", answer(0, {0x42, 0x43}), -1, 0},
        {"completion code", answer(0xC1, {0x42}), -1, 0},
        {"no answer", transport_failure(74), -1, 0},
    };
    for (const auto &[name, reply, result, expected] : cases) {
        SCOPED_TRACE(name);
        fake.then(reply);
        uint8_t value = 0xEE;
        EXPECT_EQ(ostrel_cpldreg_read(fake.intf(), 0x1A7, &value), result);
        EXPECT_EQ(value, expected);
        expect_request(fake.sent.back(), 0x3E, 0x62, signed_data({0xA7, 0x01}));
    }

    fake.then(answer(0x00, {0x99, 0x98})).then(answer(0xD5)).then(transport_failure(-1));
    EXPECT_EQ(ostrel_cpldreg_write(fake.intf(), 0x22, 0x1234), 0);
    expect_request(fake.sent.back(), 0x3E, 0x62, signed_data({0x22, 0x00, 0x34, 0xFF}));
    EXPECT_EQ(ostrel_cpldreg_write(fake.intf(), 0x22, 0x01), -1);
    EXPECT_EQ(ostrel_cpldreg_write(fake.intf(), 0x22, 0x01), -1);
    EXPECT_EQ(fake.sent.size(), 8U);
}

TEST(OstrelNullInterface, EveryPublicFunctionRefusesAndSaysWho) {
    LogCapture log;
    uint8_t value = 0xEE;
    EngOptions opts{};
    EXPECT_EQ(ostrel_cpldreg_read(nullptr, 1, &value), -2);
    EXPECT_EQ(value, 0) << "the read clears the value first";
    EXPECT_EQ(ostrel_cpldreg_write(nullptr, 1, 2), -2);
    EXPECT_EQ(ostrel_engineering_options_get(nullptr, &opts), -2);
    EXPECT_EQ(ostrel_engineering_options_set(nullptr, &opts), -2);
    EXPECT_EQ(log.lines().size(), 4U);
    EXPECT_TRUE(log.contains("ostrel_cpldreg_read): HVL_IPMI API called with intf == NULL"));
    EXPECT_TRUE(log.contains("options_set): HVL_IPMI API called with intf == NULL"));
    EXPECT_TRUE(log.contains("hvl_ipmi_ostrel.cpp(")) << "the line names the caller's file";
}

// Without a code no code-prefixed request is sent.
TEST_F(Ostrel, AccessCodeIsTheProductsOrZeroesAndLeftAloneWithoutAProduct) {
    uint8_t code[OSTREL_ACCESS_CODE_SIZE] = {};
    for (size_t entry = 0; entry < std::size(kCodes); ++entry) {
        fake.then(device_id_answer(kCodes[entry].first));
        EXPECT_EQ(ipmi_ostrel_access_code_get(fake.intf(), code), 0);
        EXPECT_THAT(code, ElementsAreArray(kCodes[entry].second));
    }
    fake.then(answer(0xC0)).then(transport_failure(19));
    EXPECT_EQ(ipmi_ostrel_access_code_get(fake.intf(), code), -1);
    EXPECT_EQ(ipmi_ostrel_access_code_get(fake.intf(), code), -1);
    EXPECT_THAT(code, ElementsAreArray(kCodes[3].second));
    fake.then(device_id_answer(kUnknownProduct));
    EXPECT_EQ(ipmi_ostrel_access_code_get(fake.intf(), code), -1);
    EXPECT_THAT(code, ElementsAre(0, 0, 0, 0, 0));

    fake.then(device_id_answer(kUnknownProduct)).then(device_id_answer(kUnknownProduct));
    EngRecord record{};
    EXPECT_EQ(ipmi_ostrel_eng_record_get(fake.intf(), &record), -1);
    EXPECT_EQ(ipmi_ostrel_eng_record_set(fake.intf(), &record), -1);
    EXPECT_EQ(fake.sent.size(), 9U);
    expect_device_id_request(fake.sent.back());
}

// Short answers read as zeros; a completion code or a failure is passed up.
TEST_F(Ostrel, ProductIdIsDeviceIdBytesNineAndTenWithoutALengthCheck) {
    const std::tuple<const char *, ScriptedAnswer, int, uint16_t> cases[] = {
        {"eleven bytes", answer(0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x34, 0x12}), 0, 0x1234},
        {"short answer", answer(0, {1, 2, 3}), 0, 0x0000},
        {"completion code", answer(0xC3), 0xC3, 0xEEEE},
        {"no answer", transport_failure(74), 74, 0xEEEE},
    };
    for (const auto &[name, reply, result, expected] : cases) {
        SCOPED_TRACE(name);
        fake.then(reply);
        uint16_t product_id = 0xEEEE;
        EXPECT_EQ(ipmi_ostrel_product_id_get(fake.intf(), &product_id), result);
        EXPECT_EQ(product_id, expected);
        expect_device_id_request(fake.sent.back());
    }
}

TEST_F(Ostrel, EngineeringRecordGetIsCodePrefixedAndTakesExactlySeventeenBytes) {
    after_product(kCodes[2].first, answer(0, kGoodRecord));
    EngRecord record{};
    ASSERT_EQ(ipmi_ostrel_eng_record_get(fake.intf(), &record), 0);
    ASSERT_EQ(fake.sent.size(), 2U);
    expect_device_id_request(fake.sent[0]);
    expect_request(fake.sent[1], 0x30, 0x03, kCodes[2].second);
    const EngOptions &o = record.options;
    EXPECT_THAT(record.fcap, ElementsAre(0x81, 0x00, 0x04));
    EXPECT_EQ(std::make_tuple(0x02, 0x01, 0x07, 0x05),
              std::tie(o.board_option, o.mezzanine, o.mezzanine_option, o.mac_suffix));
    EXPECT_THAT(o.further, ElementsAre(0x0A, 0x0B, 0x0C));
    EXPECT_THAT(o.mac, ElementsAre(0x00, 0x80, 0x42, 0x1A, 0x2B, 0x3C));

    for (size_t length : {16, 18}) {
        Bytes bytes = kGoodRecord;
        bytes.resize(length, 0x77);
        after_product(kKnownProduct, answer(0, bytes));
        record.fcap[0] = 0xEE;
        EXPECT_EQ(ipmi_ostrel_eng_record_get(fake.intf(), &record), -1) << length;
        EXPECT_EQ(record.fcap[0], 0xEE) << length;
    }
}

TEST_F(Ostrel, EngineeringOptionsGetCopiesTheOptionsAndChecksTheirCrc) {
    Bytes flipped = kGoodRecord;
    flipped[9] ^= 0x01;
    const std::tuple<const char *, Bytes, int> cases[] = {{"good CRC", kGoodRecord, 0},
                                                          {"all ones", Bytes(17, 0xFF), -5},
                                                          {"all zeros", Bytes(17, 0x00), -5},
                                                          {"one bit flipped", flipped, -5}};
    for (const auto &[name, record, result] : cases) {
        SCOPED_TRACE(name);
        log.clear();
        after_product(kKnownProduct, answer(0, record));
        EngOptions opts{};
        EXPECT_EQ(ostrel_engineering_options_get(fake.intf(), &opts), result);
        EXPECT_EQ(std::make_tuple(record[3], record[16]), std::tie(opts.board_option, opts.crc));
        EXPECT_EQ(log.contains("ostrel_engineering_options_get): engineering options corrupted "),
                  result == -5);
    }
}

// An unreadable record leaves the options alone and nothing is written.
TEST_F(Ostrel, EngineeringOptionsSetKeepsFcapAndStoresTheFreshCrc) {
    after_product(kKnownProduct, answer(0, kGoodRecord));
    after_product(kKnownProduct, answer(0));
    EngOptions opts{0x09, 0x00, 0x00, {0x01, 0x02, 0x03}, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5},
                    0x07, 0xEE};
    EXPECT_EQ(ostrel_engineering_options_set(fake.intf(), &opts), 0);
    EXPECT_EQ(opts.crc, 0xCA);
    ASSERT_EQ(fake.sent.size(), 4U);
    // The code, the fcap bytes as read, then the options and their CRC.
    const Bytes written{0x81, 0x00, 0x04, 0x09, 0x00, 0x00, 0x01, 0x02, 0x03,
                        0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0x07, 0xCA};
    expect_request(fake.sent.back(), 0x30, 0x04, cat(kCodes[0].second, written));

    after_product(kKnownProduct, answer(0xC0));
    opts.crc = 0xEE;
    EXPECT_EQ(ostrel_engineering_options_set(fake.intf(), &opts), -1);
    EXPECT_EQ(opts.crc, 0xEE);
    EXPECT_EQ(fake.sent.size(), 6U);
}

// Bits 0 and 4 of the second byte are the modes, the third is carried; extra
// bytes are ignored and missing ones read as zeros.
TEST_F(Ostrel, ParamsGetIsSignedAndTakesTheModeBitsAndTheExtraByte) {
    const std::tuple<const char *, Bytes, ControllerParams> cases[] = {
        {"both modes", {0xFF, 0x11, 0x5A}, {1, 1, 0x5A}},
        {"other bits ignored", {0, 0xEE, 0x80}, {0, 0, 0x80}},
        {"PM only, a byte too many", {0, 0x01, 0x22, 0x33}, {1, 0, 0x22}},
        {"IPMB only, no extra byte", {0, 0x10}, {0, 1, 0}},
        {"no mode byte", {0x07}, {0, 0, 0}},
    };
    for (const auto &[name, data, expected] : cases) {
        SCOPED_TRACE(name);
        fake.then(answer(0, data));
        ControllerParams params{9, 9, 9};
        EXPECT_EQ(ipmi_ostrel_param_get(fake.intf(), &params), 0);
        expect_request(fake.sent.back(), 0x3E, 0x05, signed_data({0x00, 0x00, 0x00}));
        EXPECT_EQ(std::make_tuple(expected.pm_mode, expected.ipmb_mode, expected.extra),
                  std::tie(params.pm_mode, params.ipmb_mode, params.extra));
    }
}

TEST_F(Ostrel, ParameterFailuresAreLoggedAndCompletionCodesPassedUp) {
    fake.then(transport_failure(74)).then(answer(0xC1));
    after_product(kKnownProduct, transport_failure(-1));
    after_product(kKnownProduct, answer(0xD5));
    ControllerParams params{1, 1, 1};
    EXPECT_EQ(ipmi_ostrel_param_get(fake.intf(), &params), -1);
    EXPECT_TRUE(log.contains("ipmi_ostrel_param_get): no response "));
    EXPECT_EQ(ipmi_ostrel_param_get(fake.intf(), &params), 0xC1);
    EXPECT_TRUE(log.contains("ipmi_ostrel_param_get): CC code 0xc1 "));
    EXPECT_EQ(ipmi_ostrel_param_set(fake.intf(), &params), -1);
    EXPECT_TRUE(log.contains("ipmi_ostrel_param_set): no response "));
    EXPECT_EQ(ipmi_ostrel_param_set(fake.intf(), &params), 0xD5);
    EXPECT_TRUE(log.contains("ipmi_ostrel_param_set): CC code 0xd5 "));
    EXPECT_EQ(params.pm_mode, 1) << "failures leave the record alone";

    fake.then(answer(0xC1)); // no product ID: nothing sent, nothing logged
    log.clear();
    EXPECT_EQ(ipmi_ostrel_param_set(fake.intf(), &params), -1);
    EXPECT_EQ(fake.sent.size(), 7U);
    EXPECT_TRUE(log.lines().empty());
}

// Only bit 0 of each mode counts; the IPMB bit goes only to the fourth product.
TEST_F(Ostrel, ParamsSetSendsTheIpmbBitOnlyForTheFourthProduct) {
    const std::tuple<const char *, uint16_t, ControllerParams, uint8_t> cases[] = {
        {"fourth, both modes", kIpmbProduct, {1, 1, 0x42}, 0x11},
        {"fourth, IPMB only", kIpmbProduct, {0, 1, 0x00}, 0x10},
        {"fourth, bit 1 only", kIpmbProduct, {2, 2, 0}, 0x00},
        {"first", kKnownProduct, {1, 1, 0x42}, 0x01},
        {"unknown", kUnknownProduct, {0, 1, 0x07}, 0x00},
    };
    for (const auto &[name, product_id, params, mode_byte] : cases) {
        SCOPED_TRACE(name);
        const size_t before = fake.sent.size();
        after_product(product_id, answer(0));
        EXPECT_EQ(ipmi_ostrel_param_set(fake.intf(), &params), 0);
        ASSERT_EQ(fake.sent.size(), before + 2);
        expect_device_id_request(fake.sent[before]);
        expect_request(fake.sent.back(), 0x3E, 0x05, signed_data({0x03, mode_byte, params.extra}));
    }
}

// Both are built byte by byte when a request is made.
TEST(OstrelConstants, SignatureAndCodesDoNotStandInTheLibraryAsSent) {
    for (const char *path : {HVL_SHARED_LIBRARY, HVL_STATIC_LIBRARY}) {
        std::ifstream file(path, std::ios::binary);
        const std::string image{std::istreambuf_iterator<char>(file), {}};
        ASSERT_GT(image.size(), 1000U) << path;
        EXPECT_EQ(image.find(std::string(kSignature.begin(), kSignature.end())), std::string::npos)
            << path;
        for (const auto &[product, code] : kCodes) {
            EXPECT_EQ(image.find(std::string(code.begin(), code.end())), std::string::npos)
                << path << ", code of product " << product;
        }
    }
}

// ---- The configuration family ----

constexpr int kU = -7; // an output left alone
using I = IpmiIntf;
struct Member {
    const char *name;
    int (*call)(I *intf, int *out);
    uint8_t cmd;
    Bytes args; // after the access code
    ScriptedAnswer reply;
    int result;
    std::vector<int> out; // the outputs after the call
    const char *logged;   // the message, if any
};

// The members as a caller sees them: the bytes sent, the answer judged by the
// member's rule, what it yields and logs; then the same without an access
// code (nothing sent or logged; plain gets yield as from an empty answer),
// and without an interface.
TEST_F(Ostrel, ConfigurationMembersSendTheirBytesAndJudgeTheirAnswers) {
    const std::vector<int> none{kU, kU, kU};
    const std::vector<int> zero{0, kU, kU};
    const ScriptedAnswer ok = answer(0);
    // clang-format off
    const Member members[] = {
        {"switch 0 to mode 5", [](I *i, int *) { return ostrel_storage_sw_set(i, 3, 5); },
         0x92, {0, 0}, ok, 0, none, nullptr},
        {"switch refused", [](I *i, int *) { return ostrel_storage_sw_set(i, 3, 1); },
         0x92, {0, 1}, answer(0xD5), -2, none, nullptr},
        {"switch set fails", [](I *i, int *) { return ostrel_storage_sw_set(i, 3, 2); },
         0x92, {0, 1}, answer(0xC0), -1, none, nullptr},
        {"target 3 on", [](I *i, int *o) { return ostrel_storage_sw_get(i, 3, o); },
         0x91, {0}, answer(0, {1}), 0, {1, kU, kU}, nullptr},
        {"target 0 off", [](I *i, int *o) { return ostrel_storage_sw_get(i, 0, o); },
         0x91, {1}, answer(0, {0}), 0, {5, kU, kU}, nullptr},
        {"switch state too long", [](I *i, int *o) { return ostrel_storage_sw_get(i, 3, o); },
         0x91, {0}, answer(0, {1, 1}), 0, {5, kU, kU}, nullptr},
        {"switch get fails", [](I *i, int *o) { return ostrel_storage_sw_get(i, 3, o); },
         0x91, {0}, transport_failure(74), -1, {5, kU, kU}, nullptr},
        {"port configuration set", [](I *i, int *) { return ostrel_pcie_portconf_set(i, 0x1AB, 0x22); },
         0x94, {0xAB, 0x22}, ok, 0, none, nullptr},
        {"port configuration", [](I *i, int *o) { return ostrel_pcie_portconf_get(i, o, o + 1); },
         0x93, {}, answer(0, {3, 4}), 0, {3, 4, kU}, nullptr},
        {"port configuration short", [](I *i, int *o) { return ostrel_pcie_portconf_get(i, o, o + 1); },
         0x93, {}, answer(0, {3}), 0, {0, 0, kU}, nullptr},
        {"mode", ostrel_pcie_mode_get, 0x99, {}, answer(0, {9}), 0, {9, kU, kU}, nullptr},
        {"mode missing", ostrel_pcie_mode_get, 0x99, {}, ok, -1, zero, nullptr},
        {"mode too long", ostrel_pcie_mode_get, 0x99, {}, answer(0, {9, 9}), -1, zero, nullptr},
        {"hot-plug, any length", [](I *i, int *o) { return ostrel_pcie_hotplug_get(i, 2, o); },
         0x97, {2}, answer(0, {5, 6}), 0, {5, kU, kU}, nullptr},
        {"hot-plug missing", [](I *i, int *o) { return ostrel_pcie_hotplug_get(i, 2, o); },
         0x97, {2}, ok, 0, zero, nullptr},
        {"clock set", [](I *i, int *) { return ostrel_pcie_clock_set(i, 0x103); },
         0x96, {3}, ok, 0, none, nullptr},
        {"clock", ostrel_pcie_clock_get, 0x95, {}, answer(0, {4}), 0, {4, kU, kU}, nullptr},
        {"clock too long", ostrel_pcie_clock_get, 0x95, {}, answer(0, {4, 4}), 0, zero, nullptr},
        {"clock fails", ostrel_pcie_clock_get, 0x95, {}, answer(0xC0, {4}), -1, zero, nullptr},
        {"boot cycle", [](I *i, int *o) { return ostrel_bootcycle_get(i, o, o + 1, o + 2); },
         0x05, {}, answer(0, {2, 0x34, 0x12, 9, 9}), 0, {2, 0x1234, 9}, nullptr},
        {"boot cycle fails", [](I *i, int *o) { return ostrel_bootcycle_get(i, o, o + 1, o + 2); },
         0x05, {}, answer(0xC0, {2, 0x34, 0x12, 9}), -1, none, nullptr},
        {"boot cycle set, 12 bits of b", [](I *i, int *) { return ostrel_bootcycle_set(i, 2, 0xF234, 255); },
         0x06, {2, 0x34, 0x02, 0xFF}, ok, 0, none, nullptr},
        {"clock source set", [](I *i, int *) { return ostrel_set_clock_source(i, 1, 2); },
         0x70, {1, 2}, answer(0xC9), 0xC9, none, "ipmi_ostrel_clock_source_set): CC code 0xc9"},
        {"clock source", [](I *i, int *o) { return ostrel_get_clock_source(i, 1, o); },
         0x71, {1}, answer(0, {7}), 0, {7, kU, kU}, nullptr},
        {"clock source fails", [](I *i, int *o) { return ostrel_get_clock_source(i, 1, o); },
         0x71, {1}, transport_failure(74), -1, none, "ipmi_ostrel_clock_source_get): no response"},
        {"driver on, bit 0", [](I *i, int *) { return ostrel_set_clock_driver(i, 1, 3); },
         0x72, {1, 1}, ok, 0, none, nullptr},
        {"driver", [](I *i, int *o) { return ostrel_get_clock_driver(i, 2, o); },
         0x73, {2}, answer(0xCB, {1}), 0xCB, none, "ipmi_ostrel_clock_driver_get): CC code 0xcb"},
        {"PLL set", [](I *i, int *) { return ostrel_set_pll_config(i, 1, 0x55); },
         0x74, {1, 0x55}, transport_failure(-1), -1, none, "ipmi_ostrel_pll_config_set): no response"},
        {"PLL status", ostrel_get_pll_status, 0x76, {}, ok, 0, zero, nullptr},
        {"debug a", [](I *i, int *) { return ipmi_set_debug(i, 2, 0); }, 0x02, {0x01}, ok, 0, none, nullptr},
        {"debug b", [](I *i, int *) { return ipmi_set_debug(i, 0, -1); }, 0x02, {0x10}, answer(0xD5), -1, none, nullptr},
    };
    // clang-format on
    for (const Member &m : members) {
        SCOPED_TRACE(m.name);
        log.clear();
        const size_t before = fake.sent.size();
        after_product(kKnownProduct, m.reply);
        int out[3] = {kU, kU, kU};
        EXPECT_EQ(m.call(fake.intf(), out), m.result);
        EXPECT_THAT(out, ElementsAreArray(m.out));
        ASSERT_EQ(fake.sent.size(), before + 2);
        expect_request(fake.sent.back(), 0x30, m.cmd, cat(kCodes[0].second, m.args));
        EXPECT_EQ(log.lines().size(), m.logged != nullptr ? 1U : 0U);
        EXPECT_TRUE(m.logged == nullptr || log.contains(m.logged));

        log.clear();
        fake.then(device_id_answer(kUnknownProduct));
        std::fill(std::begin(out), std::end(out), kU);
        EXPECT_EQ(m.call(fake.intf(), out), -1);
        EXPECT_EQ(fake.sent.size(), before + 3);
        EXPECT_TRUE(out[0] == kU || out[0] == (m.cmd == 0x91 ? 5 : 0)) << out[0];
        EXPECT_EQ(m.call(nullptr, out), -2);
        EXPECT_THAT(log.lines(), ElementsAre(HasSubstr("API called with intf == NULL")));
    }
}

TEST_F(Ostrel, BootCycleSetChecksItsArgumentsBeforeSending) {
    for (const auto &[a, b, c] :
         {std::tuple{3, 0, 0}, {-1, 0, 0}, {0, 0x10000, 0}, {0, -1, 0}, {0, 0, 256}}) {
        EXPECT_EQ(ostrel_bootcycle_set(fake.intf(), a, b, c), 22) << a << " " << b << " " << c;
    }
    EXPECT_EQ(ostrel_bootcycle_set(nullptr, 3, 0, 0), -2);
    EXPECT_TRUE(fake.sent.empty());
}

// 45 bytes from offset 10 are 20, 20 and 5; byte 254 is the last. A failed
// chunk ends the read with its completion code, the bytes before it kept.
TEST_F(Ostrel, XfpReadGoesInChunksOfTwentyFromDataByteOne) {
    Bytes chunk(21);
    std::iota(chunk.begin(), chunk.end(), 0x40);
    for (const auto &reply :
         {answer(0, chunk), answer(0, chunk), answer(0, chunk), answer(0, chunk), answer(0xCA)}) {
        after_product(kKnownProduct, reply);
    }
    uint8_t buffer[46] = {};
    EXPECT_EQ(ostrel_xfp_read(fake.intf(), 1, 10, 45, buffer), 0);
    ASSERT_EQ(fake.sent.size(), 6U);
    for (const auto &[at, offset, size] :
         {std::tuple<size_t, uint8_t, uint8_t>{1, 10, 20}, {3, 30, 20}, {5, 50, 5}}) {
        expect_request(fake.sent[at], 0x30, 0xA0, cat(kCodes[0].second, {1, offset, size}));
    }
    EXPECT_EQ(std::make_tuple(buffer[0], buffer[19], buffer[20], buffer[44], buffer[45]),
              std::make_tuple(0x41, 0x54, 0x41, 0x45, 0));

    const std::tuple<int, int, int> refused[] = {{0, 250, 6}, {2, 0, 1}, {0, 0, -1}, {0, 236, 20}};
    for (const auto &[port, offset, length] : refused) {
        EXPECT_EQ(ostrel_xfp_read(fake.intf(), port, offset, length, buffer), 22) << offset;
    }
    EXPECT_EQ(ipmi_ostrel_xfp_read(fake.intf(), 0, 0, 21, buffer), 22);
    EXPECT_EQ(ipmi_ostrel_xfp_read(fake.intf(), 0, 0, -1, buffer), 22);
    EXPECT_EQ(fake.sent.size(), 6U);
    EXPECT_TRUE(log.lines().empty());

    std::fill(std::begin(buffer), std::end(buffer), 0xEE);
    EXPECT_EQ(ostrel_xfp_read(fake.intf(), 0, 0, 45, buffer), 0xCA);
    EXPECT_EQ(std::make_tuple(buffer[0], buffer[20]), std::make_tuple(0x41, 0xEE));
    EXPECT_TRUE(log.contains("ipmi_ostrel_xfp_read): CC code 0xca"));
    fake.then(device_id_answer(kUnknownProduct));
    EXPECT_EQ(ostrel_xfp_read(fake.intf(), 0, 0, 45, buffer), -1);
    EXPECT_TRUE(log.contains("ipmi_ostrel_xfp_read): invalid board type"));
    EXPECT_EQ(ostrel_xfp_read(nullptr, 0, 0, 1, buffer), -2);
}

// Address least significant byte first, no prefix; a failure is 74.
TEST_F(Ostrel, BlockTransfersGoInChunksAndStopAtTheFirstFailure) {
    Bytes chunk(21);
    std::iota(chunk.begin(), chunk.end(), 0x40);
    fake.then(answer(0, chunk)).then(answer(0, chunk)).then(answer(0xC0));
    uint8_t buffer[45] = {};
    EXPECT_EQ(ipmi_ostrel_block_read(fake.intf(), 0x1FF0, 45, buffer), 74);
    expect_request(fake.sent[0], 0x30, 0x87, {0xF0, 0x1F, 20});
    expect_request(fake.sent[2], 0x30, 0x87, {0x18, 0x20, 5});
    EXPECT_EQ(std::make_tuple(buffer[0], buffer[39], buffer[40]), std::make_tuple(0x41, 0x54, 0));

    std::iota(std::begin(buffer), std::end(buffer), 0);
    fake.then(answer(0)).then(answer(0)).then(answer(0)).then(answer(0xC0));
    EXPECT_EQ(ipmi_ostrel_block_write(fake.intf(), 0xFFF8, 45, buffer), 0);
    expect_request(fake.sent[3], 0x30, 0x81, cat({0xF8, 0xFF}, Bytes(buffer, buffer + 20)));
    expect_request(fake.sent[5], 0x30, 0x81, {0x20, 0x00, 40, 41, 42, 43, 44});
    EXPECT_EQ(ipmi_ostrel_block_write(fake.intf(), 0, 5, buffer), 74);

    EXPECT_EQ(ipmi_ostrel_block_read(nullptr, 0, 1, buffer), 19);
    EXPECT_EQ(ipmi_ostrel_block_write(nullptr, 0, 1, buffer), 19);
    EXPECT_EQ(ipmi_ostrel_block_read(fake.intf(), 0, 1, nullptr), 22);
    EXPECT_EQ(ipmi_ostrel_block_write(fake.intf(), 0, -1, buffer), 22);
    EXPECT_EQ(fake.sent.size(), 7U);
    EXPECT_TRUE(log.lines().empty());
}

// A text of 32 characters fills its field without a terminator; the record
// is zeroed first, also without an interface.
TEST_F(Ostrel, ReleaseTextsStartAtOffsetsZeroFiveAndEleven) {
    const std::string text = std::string("1.05\0r0042\0", 11) + std::string(40, 'x');
    after_product(kKnownProduct, answer(0, Bytes(text.begin(), text.end())));
    IpmcRelease release;
    std::memset(&release, 'E', sizeof release);
    EXPECT_EQ(ipmc_release_get_data(fake.intf(), &release), 0);
    expect_request(fake.sent.back(), 0x30, 0x01, kCodes[0].second);
    EXPECT_EQ(std::string(release.text[0], 32), std::string("1.05") + std::string(28, '\0'));
    EXPECT_EQ(std::string(release.text[1], 32), std::string("r0042") + std::string(27, '\0'));
    EXPECT_EQ(std::string(release.text[2], sizeof release.text[2]), std::string(32, 'x'));

    std::memset(&release, 'E', sizeof release);
    EXPECT_EQ(ipmc_release_get_data(nullptr, &release), -2);
    EXPECT_THAT(release.text[2], ::testing::Each('\0'));
}

// Zero IDs and no text: the signature alone; no text otherwise: nothing.
TEST_F(Ostrel, DeviceIdStringCarriesTheIdsAndSixteenCharacters) {
    fake.then(device_id_answer(0x3456)).then(answer(0));
    fake.then(answer(0, Bytes(15))).then(answer(0xC0)).then(device_id_answer(1)).then(answer(0xC3));
    EXPECT_EQ(ostrel_set_device_id_string(fake.intf(), "ABCDEFGHIJKLMNOPQRST"), 0);
    expect_request(fake.sent[1], 0x3E, 0x0A,
                   signed_data({0x5A, 0x31, 0x00, 0x56, 0x34, 'A', 'B', 'C', 'D', 'E', 'F',
                                'G',  'H',  'I',  'J',  'K',  'L', 'M', 'N', 'O', 'P'}));
    EXPECT_EQ(ostrel_set_device_id_string(fake.intf(), nullptr), -1);
    expect_request(fake.sent.back(), 0x3E, 0x0A, kSignature);
    EXPECT_EQ(ostrel_set_device_id_string(fake.intf(), nullptr), -1);
    expect_device_id_request(fake.sent.back());
    EXPECT_EQ(ostrel_set_device_id_string(fake.intf(), "x"), 0xC3) << "Get Device ID's failure";
    EXPECT_EQ(ostrel_set_device_id_string(nullptr, "x"), -2);
    EXPECT_EQ(fake.sent.size(), 6U);
}

const FcapDef kFcaps[] = {{"a", "byte 1, bits 2 and 3", 1, 0x0C},
                          {"bad byte", "", 3, 0x01},
                          {"bad mask", "", 0, 0x100},
                          {"negative mask", "", 0, -1},
                          {"end", "", -1, 0}};

// The record goes back as read but for the row's bits; a bad row is logged,
// and read as no flag set.
TEST_F(Ostrel, FcapFlagsChangeTheirBitsOfTheRecordAlone) {
    for (const auto &[value, fcap1] : {std::pair{1, 0x3E}, {0, 0x32}}) {
        Bytes record = kGoodRecord;
        record[1] = 0x36;
        after_product(kKnownProduct, answer(0, record));
        after_product(kKnownProduct, answer(0));
        EXPECT_EQ(ostrel_fcap_set(fake.intf(), value, 0, kFcaps), 0);
        record[1] = static_cast<uint8_t>(fcap1);
        expect_request(fake.sent.back(), 0x30, 0x04, cat(kCodes[0].second, record));
    }
    for (const int index : {1, 2, 3, 4, -1}) {
        after_product(kKnownProduct, answer(0, kGoodRecord));
        EXPECT_EQ(ostrel_fcap_set(fake.intf(), 1, index, kFcaps), -1) << index;
        expect_request(fake.sent.back(), 0x30, 0x03, kCodes[0].second);
    }
    EXPECT_THAT(log.lines(), ElementsAre(HasSubstr("set): invalid fcap locator (1, 3, 1)"),
                                         HasSubstr("set): invalid fcap locator (2, 0, 256)"),
                                         HasSubstr("set): invalid fcap locator (3, 0, -1)")));

    int value = kU;
    for (const auto &[index, fcap1, expected] : {std::tuple{0, 0x08, 1}, {0, 0x33, 0}, {1, 0, 0}}) {
        Bytes record = kGoodRecord;
        record[1] = static_cast<uint8_t>(fcap1);
        record[3] = 0xFF;
        after_product(kKnownProduct, answer(0, record));
        EXPECT_EQ(ostrel_fcap_get(fake.intf(), index, &value, kFcaps), 0);
        EXPECT_EQ(value, expected);
    }
    after_product(kKnownProduct, answer(0xC0));
    EXPECT_EQ(ostrel_fcap_get(fake.intf(), 0, &value, kFcaps), -1);
    const size_t sent = fake.sent.size();
    EXPECT_EQ(ostrel_fcap_get(fake.intf(), 4, &value, kFcaps), -1);
    EXPECT_EQ(ostrel_fcap_get(fake.intf(), 0, &value, nullptr), -1);
    EXPECT_EQ(ostrel_fcap_set(fake.intf(), 1, 0, nullptr), -1);
    EXPECT_EQ(ostrel_fcap_set(nullptr, 1, 0, kFcaps), -2);
    EXPECT_EQ(ostrel_fcap_get(nullptr, 0, &value, kFcaps), -2);
    EXPECT_EQ(fake.sent.size(), sent);
    EXPECT_EQ(value, 0);
}

// A set reads the parameters and writes them only when its mode changes.
TEST_F(Ostrel, ModesAreFieldsOfTheControllerParameters) {
    fake.then(answer(0, {0, 0x11, 0x5A})).then(answer(0, {0, 0x01, 0x5A}));
    fake.then(answer(0, {0, 0x01, 0x5A}));
    after_product(kIpmbProduct, answer(0));
    fake.then(answer(0, {0, 0x11, 0x07}));
    after_product(kKnownProduct, answer(0));
    fake.then(answer(0xC1)).then(answer(0xC1));
    int mode = kU;
    EXPECT_EQ(ostrel_ipmb_mode_get(fake.intf(), &mode), 0);
    EXPECT_EQ(mode, 1);
    EXPECT_EQ(ostrel_pm_mode_set(fake.intf(), 1), 0);
    EXPECT_EQ(fake.sent.size(), 2U) << "only the read";
    EXPECT_EQ(ostrel_ipmb_mode_set(fake.intf(), 1), 0);
    expect_request(fake.sent.back(), 0x3E, 0x05, signed_data({0x03, 0x11, 0x5A}));
    EXPECT_EQ(ostrel_pm_mode_set(fake.intf(), 0), 0);
    expect_request(fake.sent.back(), 0x3E, 0x05, signed_data({0x03, 0x00, 0x07}));
    EXPECT_EQ(ostrel_pm_mode_get(fake.intf(), &mode), 0xC1);
    EXPECT_EQ(ostrel_ipmb_mode_set(fake.intf(), 0), 0xC1);
    EXPECT_EQ(mode, 1);
    for (const auto call : {ostrel_ipmb_mode_get, ostrel_pm_mode_get}) {
        EXPECT_EQ(call(nullptr, &mode), -2);
    }
    for (const auto call : {ostrel_ipmb_mode_set, ostrel_pm_mode_set}) {
        EXPECT_EQ(call(nullptr, 1), -2);
    }
    EXPECT_EQ(fake.sent.size(), 10U);
}

} // namespace
