// The OEM requests against a scripted interface: the bytes of every request,
// how each answer is judged, and the engineering options with their CRC-8.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "fake_ipmi.h"
#include "hvl/hvl_ipmi_ostrel.h"
#include "ipmi/ostrel_constants.h"
#include "log_capture.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Bytes = std::vector<uint8_t>;

namespace {

namespace oem = hvl::ostrel;

const Bytes kSignature(std::begin(oem::kAccessSignature), std::end(oem::kAccessSignature));
constexpr uint16_t kKnownProduct = oem::kAccessCodes[0].product_id;
constexpr uint16_t kUnknownProduct = 0x0001;

Bytes code_of(size_t entry) {
    return Bytes(std::begin(oem::kAccessCodes[entry].code),
                 std::end(oem::kAccessCodes[entry].code));
}

Bytes cat(Bytes head, const Bytes &tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Bytes ascii(const std::string &text) { return Bytes(text.begin(), text.end()); }

// A bitwise CRC-8 written from the polynomial, to check the table-driven one.
uint8_t crc8_bitwise(const Bytes &data) {
    uint8_t crc = 0xA5;
    for (uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = static_cast<uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
        }
    }
    return crc;
}

// The 17 bytes of a record whose options carry a good CRC.
Bytes good_record() {
    Bytes record{0x81, 0x00, 0x04, 0x02, 0x01, 0x07, 0x00, 0x00,
                 0x00, 0x00, 0x80, 0x42, 0x1A, 0x2B, 0x3C, 0x05};
    const Bytes options(record.begin() + 3, record.end());
    record.push_back(crc8_bitwise(options));
    return record;
}

void expect_request(const SentRequest &sent, uint8_t netfn, uint8_t lun, uint8_t cmd,
                    const Bytes &data) {
    EXPECT_EQ(sent.netfn, netfn);
    EXPECT_EQ(sent.lun, lun);
    EXPECT_EQ(sent.cmd, cmd);
    EXPECT_THAT(sent.data, ElementsAreArray(data));
}

void expect_device_id_request(const SentRequest &sent) { expect_request(sent, 0x06, 0, 0x01, {}); }

class Ostrel : public ::testing::Test {
protected:
    LogCapture log;
    FakeIpmi fake;
};

TEST_F(Ostrel, CpldRegisterReadSendsSignatureOffsetAndReadFlag) {
    fake.then(answer(0x00, {0x5C}));
    uint8_t value = 0xEE;
    EXPECT_EQ(ostrel_cpldreg_read(fake.intf(), 0x1A7, &value), 0);
    EXPECT_EQ(value, 0x5C);
    ASSERT_EQ(fake.sent().size(), 1U);
    expect_request(fake.last(), 0x3E, 3, 0x62, cat(kSignature, {0xA7, 0x01}));
}

struct ReadOutcome {
    const char *what;
    ScriptedAnswer reply;
    int result;
    uint8_t value;
};

class OstrelCpldRead : public Ostrel, public ::testing::WithParamInterface<ReadOutcome> {};

TEST_P(OstrelCpldRead, AcceptsExactlyOneDataByte) {
    const ReadOutcome &c = GetParam();
    fake.then(c.reply);
    uint8_t value = 0xEE;
    EXPECT_EQ(ostrel_cpldreg_read(fake.intf(), 0x10, &value), c.result);
    EXPECT_EQ(value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, OstrelCpldRead,
    ::testing::Values(ReadOutcome{"OneByte", answer(0x00, {0x42}), 0, 0x42},
                      ReadOutcome{"NoByte", answer(0x00), -1, 0},
                      ReadOutcome{"TwoBytes", answer(0x00, {0x42, 0x43}), -1, 0},
                      ReadOutcome{"CompletionCode", answer(0xC1, {0x42}), -1, 0},
                      ReadOutcome{"NoAnswer", transport_failure(74), -1, 0}),
    [](const ::testing::TestParamInfo<ReadOutcome> &p) { return p.param.what; });

TEST_F(Ostrel, CpldRegisterWriteSendsTheLowByteAndNeverReadsBack) {
    fake.then(answer(0x00, {0x99, 0x98})).then(answer(0xD5)).then(transport_failure(-1));
    EXPECT_EQ(ostrel_cpldreg_write(fake.intf(), 0x22, 0x1234), 0);
    expect_request(fake.last(), 0x3E, 3, 0x62, cat(kSignature, {0x22, 0x00, 0x34, 0xFF}));
    EXPECT_EQ(ostrel_cpldreg_write(fake.intf(), 0x22, 0x01), -1);
    EXPECT_EQ(ostrel_cpldreg_write(fake.intf(), 0x22, 0x01), -1);
    EXPECT_EQ(fake.sent().size(), 3U);
}

TEST(OstrelNullInterface, EveryPublicFunctionRefusesAndSaysWho) {
    LogCapture log;
    uint8_t value = 0xEE;
    EngOptions opts{};
    const std::vector<std::pair<const char *, std::function<int()>>> calls = {
        {"ostrel_cpldreg_read", [&] { return ostrel_cpldreg_read(nullptr, 1, &value); }},
        {"ostrel_cpldreg_write", [&] { return ostrel_cpldreg_write(nullptr, 1, 2); }},
        {"ostrel_engineering_options_get",
         [&] { return ostrel_engineering_options_get(nullptr, &opts); }},
        {"ostrel_engineering_options_set",
         [&] { return ostrel_engineering_options_set(nullptr, &opts); }},
    };
    for (const auto &[name, call] : calls) {
        log.clear();
        EXPECT_EQ(call(), -2) << name;
        EXPECT_TRUE(log.contains(std::string(name) + "): HVL_IPMI API called with intf == NULL"))
            << name;
    }
    EXPECT_EQ(value, 0) << "the read clears the value first";
}

class OstrelAccessCode : public Ostrel, public ::testing::WithParamInterface<size_t> {};

TEST_P(OstrelAccessCode, EachKnownProductHasItsCode) {
    fake.then(device_id_answer(oem::kAccessCodes[GetParam()].product_id));
    uint8_t code[OSTREL_ACCESS_CODE_SIZE] = {};
    EXPECT_EQ(ipmi_ostrel_access_code_get(fake.intf(), code), 0);
    EXPECT_THAT(code, ElementsAreArray(code_of(GetParam())));
    expect_device_id_request(fake.last());
}

INSTANTIATE_TEST_SUITE_P(Products, OstrelAccessCode, ::testing::Values(0, 1, 2, 3));

TEST_F(Ostrel, UnknownProductZeroesTheCode) {
    fake.then(device_id_answer(kUnknownProduct));
    uint8_t code[OSTREL_ACCESS_CODE_SIZE] = {1, 2, 3, 4, 5};
    EXPECT_EQ(ipmi_ostrel_access_code_get(fake.intf(), code), -1);
    EXPECT_THAT(code, ElementsAre(0, 0, 0, 0, 0));
}

TEST_F(Ostrel, UnreadableProductLeavesTheCodeAlone) {
    fake.then(answer(0xC0)).then(transport_failure(19));
    uint8_t code[OSTREL_ACCESS_CODE_SIZE] = {1, 2, 3, 4, 5};
    EXPECT_EQ(ipmi_ostrel_access_code_get(fake.intf(), code), -1);
    EXPECT_EQ(ipmi_ostrel_access_code_get(fake.intf(), code), -1);
    EXPECT_THAT(code, ElementsAre(1, 2, 3, 4, 5));
}

struct ProductIdAnswer {
    const char *what;
    ScriptedAnswer reply;
    int result;
    uint16_t product_id;
};

class OstrelProductId : public Ostrel, public ::testing::WithParamInterface<ProductIdAnswer> {};

TEST_P(OstrelProductId, ReadsBytesNineAndTenWithoutCheckingTheLength) {
    const ProductIdAnswer &c = GetParam();
    fake.then(c.reply);
    uint16_t product_id = 0xEEEE;
    EXPECT_EQ(ipmi_ostrel_product_id_get(fake.intf(), &product_id), c.result);
    EXPECT_EQ(product_id, c.product_id);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, OstrelProductId,
    ::testing::Values(
        ProductIdAnswer{"ElevenBytes", answer(0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0x34, 0x12}), 0,
                        0x1234},
        ProductIdAnswer{"FullAnswer", device_id_answer(0xBEEF), 0, 0xBEEF},
        ProductIdAnswer{"ShortAnswerReadsAsZero", answer(0, {1, 2, 3}), 0, 0x0000},
        ProductIdAnswer{"CompletionCodePassedUp", answer(0xC3), 0xC3, 0xEEEE},
        ProductIdAnswer{"TransportFailurePassedUp", transport_failure(74), 74, 0xEEEE}),
    [](const ::testing::TestParamInfo<ProductIdAnswer> &p) { return p.param.what; });

TEST_F(Ostrel, EngineeringRecordGetIsCodePrefixed) {
    fake.then(device_id_answer(oem::kAccessCodes[2].product_id)).then(answer(0, good_record()));
    EngRecord record{};
    ASSERT_EQ(ipmi_ostrel_eng_record_get(fake.intf(), &record), 0);
    ASSERT_EQ(fake.sent().size(), 2U);
    expect_device_id_request(fake.sent()[0]);
    expect_request(fake.sent()[1], 0x30, 3, 0x03, code_of(2));
    EXPECT_THAT(record.fcap, ElementsAre(0x81, 0x00, 0x04));
    EXPECT_EQ(record.options.board_option, 0x02);
    EXPECT_EQ(record.options.mezzanine, 0x01);
    EXPECT_EQ(record.options.mezzanine_option, 0x07);
    EXPECT_THAT(record.options.mac, ElementsAre(0x00, 0x80, 0x42, 0x1A, 0x2B, 0x3C));
    EXPECT_EQ(record.options.mac_suffix, 0x05);
}

struct RecordLength {
    const char *what;
    size_t length;
    int result;
};

class OstrelRecordLength : public Ostrel, public ::testing::WithParamInterface<RecordLength> {};

TEST_P(OstrelRecordLength, OnlySeventeenBytesAreARecord) {
    Bytes bytes = good_record();
    bytes.resize(GetParam().length, 0x77);
    fake.then(device_id_answer(kKnownProduct)).then(answer(0, bytes));
    EngRecord record{};
    record.fcap[0] = 0xEE;
    EXPECT_EQ(ipmi_ostrel_eng_record_get(fake.intf(), &record), GetParam().result);
    EXPECT_EQ(record.fcap[0], GetParam().result == 0 ? 0x81 : 0xEE);
}

INSTANTIATE_TEST_SUITE_P(Lengths, OstrelRecordLength,
                         ::testing::Values(RecordLength{"Exact", 17, 0},
                                           RecordLength{"TooMany", 18, -1},
                                           RecordLength{"TooFew", 16, -1}),
                         [](const ::testing::TestParamInfo<RecordLength> &p) {
                             return p.param.what;
                         });

TEST_F(Ostrel, UnknownProductSendsNoCodePrefixedRequest) {
    fake.then(device_id_answer(kUnknownProduct)).then(device_id_answer(kUnknownProduct));
    EngRecord record{};
    EXPECT_EQ(ipmi_ostrel_eng_record_get(fake.intf(), &record), -1);
    EXPECT_EQ(ipmi_ostrel_eng_record_set(fake.intf(), &record), -1);
    ASSERT_EQ(fake.sent().size(), 2U);
    expect_device_id_request(fake.sent()[1]);

    fake.then(answer(0, {0x3C}));
    uint8_t value = 0;
    EXPECT_EQ(ostrel_cpldreg_read(fake.intf(), 0x10, &value), 0) << "signed requests need no code";
}

TEST_F(Ostrel, EngineeringOptionsGetChecksTheCrc) {
    fake.then(device_id_answer(kKnownProduct)).then(answer(0, good_record()));
    EngOptions opts{};
    EXPECT_EQ(ostrel_engineering_options_get(fake.intf(), &opts), 0);
    EXPECT_EQ(opts.mezzanine, 1);
    EXPECT_EQ(opts.crc, good_record()[16]);
}

class OstrelCorruptOptions : public Ostrel, public ::testing::WithParamInterface<Bytes> {};

TEST_P(OstrelCorruptOptions, AreCopiedButReportedCorrupted) {
    fake.then(device_id_answer(kKnownProduct)).then(answer(0, GetParam()));
    EngOptions opts{};
    EXPECT_EQ(ostrel_engineering_options_get(fake.intf(), &opts), -5);
    EXPECT_EQ(opts.board_option, GetParam()[3]);
    EXPECT_EQ(opts.crc, GetParam()[16]);
    EXPECT_TRUE(log.contains("ostrel_engineering_options_get): engineering options corrupted "));
}

INSTANTIATE_TEST_SUITE_P(Records, OstrelCorruptOptions,
                         ::testing::Values(Bytes(17, 0xFF), Bytes(17, 0x00), [] {
                             Bytes flipped = good_record();
                             flipped[9] ^= 0x01;
                             return flipped;
                         }()));

TEST_F(Ostrel, EngineeringOptionsSetKeepsFcapAndStoresTheFreshCrc) {
    const Bytes stored = good_record();
    fake.then(device_id_answer(kKnownProduct)).then(answer(0, stored));
    fake.then(device_id_answer(kKnownProduct)).then(answer(0));
    EngOptions opts{0x09, 0x00, 0x00, {0x01, 0x02, 0x03}, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5},
                    0x07, 0xEE};
    EXPECT_EQ(ostrel_engineering_options_set(fake.intf(), &opts), 0);
    const Bytes options{0x09, 0x00, 0x00, 0x01, 0x02, 0x03, 0xA0,
                        0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0x07};
    EXPECT_EQ(opts.crc, crc8_bitwise(options));
    ASSERT_EQ(fake.sent().size(), 4U);
    Bytes written = cat(code_of(0), {stored[0], stored[1], stored[2]});
    written = cat(cat(written, options), {opts.crc});
    expect_request(fake.last(), 0x30, 3, 0x04, written);
}

TEST_F(Ostrel, EngineeringOptionsSetWritesNothingWhenTheRecordIsUnreadable) {
    fake.then(device_id_answer(kKnownProduct)).then(answer(0xC0));
    EngOptions opts{};
    opts.crc = 0xEE;
    EXPECT_EQ(ostrel_engineering_options_set(fake.intf(), &opts), -1);
    EXPECT_EQ(opts.crc, 0xEE);
    EXPECT_EQ(fake.sent().size(), 2U);
}

TEST_F(Ostrel, EngineeringOptionsSurviveARoundTrip) {
    fake.then(device_id_answer(kKnownProduct)).then(answer(0, Bytes(17, 0xFF)));
    fake.then(device_id_answer(kKnownProduct)).then(answer(0));
    EngOptions written{0x01, 0x01, 0x02, {0, 0, 0}, {0x00, 0x80, 0x42, 0x00, 0x00, 0x01}, 3, 0};
    ASSERT_EQ(ostrel_engineering_options_set(fake.intf(), &written), 0);
    const Bytes record(fake.last().data.begin() + OSTREL_ACCESS_CODE_SIZE, fake.last().data.end());

    fake.then(device_id_answer(kKnownProduct)).then(answer(0, record));
    EngOptions read{};
    ASSERT_EQ(ostrel_engineering_options_get(fake.intf(), &read), 0);
    EXPECT_EQ(std::memcmp(&read, &written, sizeof read), 0);
    EXPECT_THAT(Bytes(record.begin(), record.begin() + 3), ElementsAre(0xFF, 0xFF, 0xFF));
}

struct CrcCase {
    std::string text;
    uint8_t crc;
};

class OstrelCrc8 : public ::testing::TestWithParam<CrcCase> {};

TEST_P(OstrelCrc8, MatchesTheCheckValues) {
    const Bytes data = ascii(GetParam().text);
    EXPECT_EQ(ostrel_crc8(data.data(), data.size()), GetParam().crc);
}

INSTANTIATE_TEST_SUITE_P(Values, OstrelCrc8,
                         ::testing::Values(CrcCase{"", 0xA5}, CrcCase{"abc", 0xD7},
                                           CrcCase{"123456789", 0x57}));

TEST(OstrelCrc8Table, AgreesWithTheBitwiseFormulaAndChecksItself) {
    Bytes data;
    for (int i = 0; i < 300; ++i) {
        data.push_back(static_cast<uint8_t>(i * 37 + 11));
        const uint8_t crc = ostrel_crc8(data.data(), data.size());
        ASSERT_EQ(crc, crc8_bitwise(data)) << "length " << data.size();
        Bytes sealed = cat(data, {crc});
        ASSERT_EQ(ostrel_crc8(sealed.data(), sealed.size()), 0) << "length " << data.size();
    }
}

TEST_F(Ostrel, ParameterGetReadsTheModeBitsAndExtra) {
    fake.then(answer(0, {0xFF, 0x11, 0x5A}));
    ControllerParams params{};
    EXPECT_EQ(ipmi_ostrel_param_get(fake.intf(), &params), 0);
    expect_request(fake.last(), 0x3E, 3, 0x05, cat(kSignature, {0x00, 0x00, 0x00}));
    EXPECT_EQ(params.pm_mode, 1);
    EXPECT_EQ(params.ipmb_mode, 1);
    EXPECT_EQ(params.extra, 0x5A);
}

struct ParamsAnswer {
    const char *what;
    Bytes data;
    ControllerParams expected;
};

class OstrelParamsAnswer : public Ostrel, public ::testing::WithParamInterface<ParamsAnswer> {};

TEST_P(OstrelParamsAnswer, TakesBitsZeroAndFourOfByteOne) {
    fake.then(answer(0, GetParam().data));
    ControllerParams params{9, 9, 9};
    EXPECT_EQ(ipmi_ostrel_param_get(fake.intf(), &params), 0);
    EXPECT_EQ(params.pm_mode, GetParam().expected.pm_mode);
    EXPECT_EQ(params.ipmb_mode, GetParam().expected.ipmb_mode);
    EXPECT_EQ(params.extra, GetParam().expected.extra);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, OstrelParamsAnswer,
    ::testing::Values(ParamsAnswer{"PmOnly", {0, 0x01, 0x00}, {1, 0, 0}},
                      ParamsAnswer{"IpmbOnly", {0, 0x10, 0x00}, {0, 1, 0}},
                      ParamsAnswer{"OtherBitsIgnored", {0, 0xEE, 0x80}, {0, 0, 0x80}},
                      ParamsAnswer{"TooManyBytes", {0, 0x11, 0x22, 0x33}, {1, 1, 0x22}},
                      ParamsAnswer{"TooFewBytesReadAsZero", {0x07}, {0, 0, 0}}),
    [](const ::testing::TestParamInfo<ParamsAnswer> &p) { return p.param.what; });

TEST_F(Ostrel, ParameterFailuresAreLoggedAndCompletionCodesPassedUp) {
    fake.then(transport_failure(74)).then(answer(0xC1));
    fake.then(device_id_answer(kKnownProduct)).then(transport_failure(-1));
    fake.then(device_id_answer(kKnownProduct)).then(answer(0xD5));
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
}

struct ParamsSet {
    const char *what;
    uint16_t product_id;
    ControllerParams params;
    uint8_t mode_byte;
};

class OstrelParamsSet : public Ostrel, public ::testing::WithParamInterface<ParamsSet> {};

TEST_P(OstrelParamsSet, SendsTheIpmbBitOnlyForTheFourthProduct) {
    const ParamsSet &c = GetParam();
    fake.then(device_id_answer(c.product_id)).then(answer(0));
    EXPECT_EQ(ipmi_ostrel_param_set(fake.intf(), &c.params), 0);
    ASSERT_EQ(fake.sent().size(), 2U);
    expect_device_id_request(fake.sent()[0]);
    expect_request(fake.last(), 0x3E, 3, 0x05,
                   cat(kSignature, {0x03, c.mode_byte, c.params.extra}));
}

INSTANTIATE_TEST_SUITE_P(
    Products, OstrelParamsSet,
    ::testing::Values(
        ParamsSet{"FourthBothModes", oem::kAccessCodes[3].product_id, {1, 1, 0x42}, 0x11},
        ParamsSet{"FourthIpmbOnly", oem::kAccessCodes[3].product_id, {0, 1, 0x00}, 0x10},
        ParamsSet{"FourthOnlyBitZeroCounts", oem::kAccessCodes[3].product_id, {2, 3, 0}, 0x10},
        ParamsSet{"FirstNeverIpmb", oem::kAccessCodes[0].product_id, {1, 1, 0x42}, 0x01},
        ParamsSet{"UnknownNeverIpmb", kUnknownProduct, {0, 1, 0x07}, 0x00}),
    [](const ::testing::TestParamInfo<ParamsSet> &p) { return p.param.what; });

TEST_F(Ostrel, ParameterSetSendsNothingWithoutTheProductId) {
    fake.then(answer(0xC1));
    const ControllerParams params{1, 1, 1};
    log.clear();
    EXPECT_EQ(ipmi_ostrel_param_set(fake.intf(), &params), -1);
    EXPECT_EQ(fake.sent().size(), 1U);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(Ostrel, DeviceIdPassesUpEveryFailure) {
    fake.then(transport_failure(19)).then(answer(0xC3)).then(device_id_answer(0x1234));
    IpmiResponse response{};
    EXPECT_EQ(ipmi_device_id_get(fake.intf(), &response), 19);
    EXPECT_EQ(ipmi_device_id_get(fake.intf(), &response), 0xC3);
    EXPECT_EQ(ipmi_device_id_get(fake.intf(), &response), 0);
    EXPECT_EQ(response.data_len, 15);
    expect_device_id_request(fake.last());
}

} // namespace
