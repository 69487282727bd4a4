// The OEM requests against a scripted interface: the bytes of every request,
// how each answer is judged, and the engineering options with their CRC-8.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

TEST(OstrelCrc8, MatchesItsCheckValuesAndChecksItself) {
    const Bytes digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    Bytes ramp(1024);
    std::iota(ramp.begin(), ramp.end(), 0);
    EXPECT_EQ(ostrel_crc8(nullptr, 0), 0xA5);
    EXPECT_EQ(ostrel_crc8(digits.data(), digits.size()), 0x57);
    EXPECT_EQ(ostrel_crc8(ramp.data(), ramp.size()), 0x9C);
    ramp.push_back(0x9C);
    EXPECT_EQ(ostrel_crc8(ramp.data(), ramp.size()), 0) << "bytes followed by their CRC";
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

} // namespace
