// The OEM requests against a scripted interface: the bytes of every request,
// how each answer is judged, and the engineering options with their CRC-8.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <iterator>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "fake_ipmi.h"
#include "hvl/hvl_ipmi_ostrel.h"
#include "ipmi/ostrel_constants.h"
#include "log_capture.h"

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using Bytes = std::vector<uint8_t>;

namespace {

namespace oem = hvl::ostrel;

constexpr uint16_t kKnownProduct = oem::kAccessCodes[0].product_id;
constexpr uint16_t kIpmbProduct = oem::kAccessCodes[3].product_id; // sends the IPMB mode bit
constexpr uint16_t kUnknownProduct = 0x0001;

Bytes code_of(size_t entry) {
    return Bytes(std::begin(oem::kAccessCodes[entry].code),
                 std::end(oem::kAccessCodes[entry].code));
}

Bytes cat(Bytes head, const Bytes &tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// The access signature, then `tail`.
Bytes signed_data(const Bytes &tail) {
    return cat(Bytes(std::begin(oem::kAccessSignature), std::end(oem::kAccessSignature)), tail);
}

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
    Bytes record{0x81, 0x00, 0x04, 0x02, 0x01, 0x07, 0x0A, 0x0B,
                 0x0C, 0x00, 0x80, 0x42, 0x1A, 0x2B, 0x3C, 0x05};
    record.push_back(crc8_bitwise(Bytes(record.begin() + 3, record.end())));
    return record;
}

void expect_request(const SentRequest &sent, uint8_t netfn, uint8_t lun, uint8_t cmd,
                    const Bytes &data) {
    EXPECT_EQ(std::make_tuple(netfn, lun, cmd), std::tie(sent.netfn, sent.lun, sent.cmd));
    EXPECT_THAT(sent.data, ElementsAreArray(data));
}

void expect_device_id_request(const SentRequest &sent) { expect_request(sent, 0x06, 0, 0x01, {}); }

class Ostrel : public ::testing::Test {
protected:
    // Scripts the Get Device ID answer of `product_id`, then `reply`.
    void after_product(uint16_t product_id, ScriptedAnswer reply) {
        fake.then(device_id_answer(product_id)).then(std::move(reply));
    }

    LogCapture log;
    FakeIpmi fake;
};

template <class Case> class OstrelWith : public Ostrel, public ::testing::WithParamInterface<Case> {
protected:
    const Case &c = this->GetParam();
};

TEST_F(Ostrel, CpldRegisterRequestsAreSignedAndAWriteNeverReadsBack) {
    fake.then(answer(0x00, {0x5C}));
    uint8_t value = 0xEE;
    EXPECT_EQ(ostrel_cpldreg_read(fake.intf(), 0x1A7, &value), 0);
    EXPECT_EQ(value, 0x5C);
    expect_request(fake.last(), 0x3E, 3, 0x62, signed_data({0xA7, 0x01}));

    fake.then(answer(0x00, {0x99, 0x98})).then(answer(0xD5)).then(transport_failure(-1));
    EXPECT_EQ(ostrel_cpldreg_write(fake.intf(), 0x22, 0x1234), 0);
    expect_request(fake.last(), 0x3E, 3, 0x62, signed_data({0x22, 0x00, 0x34, 0xFF}));
    EXPECT_EQ(ostrel_cpldreg_write(fake.intf(), 0x22, 0x01), -1);
    EXPECT_EQ(ostrel_cpldreg_write(fake.intf(), 0x22, 0x01), -1);
    EXPECT_EQ(fake.sent().size(), 4U);
}

struct ReadOutcome {
    const char *name;
    ScriptedAnswer reply;
    int result;
    uint8_t value;
};
void PrintTo(const ReadOutcome &c, std::ostream *os) { *os << c.name; }

using OstrelCpldRead = OstrelWith<ReadOutcome>;

TEST_P(OstrelCpldRead, AcceptsExactlyOneDataByte) {
    fake.then(c.reply);
    uint8_t value = 0xEE;
    EXPECT_EQ(ostrel_cpldreg_read(fake.intf(), 0x10, &value), c.result);
    EXPECT_EQ(value, c.value);
}

INSTANTIATE_TEST_SUITE_P(Answers, OstrelCpldRead,
                         ::testing::Values(ReadOutcome{"OneByte", answer(0, {0x42}), 0, 0x42},
                                           ReadOutcome{"NoByte", answer(0), -1, 0},
                                           ReadOutcome{"TwoBytes", answer(0, {0x42, 0x43}), -1, 0},
                                           ReadOutcome{"CompletionCode", answer(0xC1, {0x42}), -1,
                                                       0},
                                           ReadOutcome{"NoAnswer", transport_failure(74), -1, 0}),
                         ::testing::PrintToStringParamName());

TEST(OstrelNullInterface, EveryPublicFunctionRefusesAndSaysWho) {
    LogCapture log;
    uint8_t value = 0xEE;
    EngOptions opts{};
    const int results[] = {ostrel_cpldreg_read(nullptr, 1, &value),
                           ostrel_cpldreg_write(nullptr, 1, 2),
                           ostrel_engineering_options_get(nullptr, &opts),
                           ostrel_engineering_options_set(nullptr, &opts)};
    EXPECT_THAT(results, Each(-2));
    const std::string who[] = {"ostrel_cpldreg_read", "ostrel_cpldreg_write",
                               "ostrel_engineering_options_get", "ostrel_engineering_options_set"};
    ASSERT_EQ(log.lines().size(), 4U);
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_THAT(log.lines()[i], HasSubstr(who[i] + "): HVL_IPMI API called with intf == NULL"));
    }
    EXPECT_EQ(value, 0) << "the read clears the value first";
}

TEST_F(Ostrel, AccessCodeIsTheProductsOrZeroesAndLeftAloneWithoutAProduct) {
    uint8_t code[OSTREL_ACCESS_CODE_SIZE] = {};
    for (size_t entry = 0; entry < std::size(oem::kAccessCodes); ++entry) {
        fake.then(device_id_answer(oem::kAccessCodes[entry].product_id));
        EXPECT_EQ(ipmi_ostrel_access_code_get(fake.intf(), code), 0);
        EXPECT_THAT(code, ElementsAreArray(code_of(entry)));
        expect_device_id_request(fake.last());
    }
    fake.then(answer(0xC0)).then(transport_failure(19));
    EXPECT_EQ(ipmi_ostrel_access_code_get(fake.intf(), code), -1);
    EXPECT_EQ(ipmi_ostrel_access_code_get(fake.intf(), code), -1);
    EXPECT_THAT(code, ElementsAreArray(code_of(3)));
    fake.then(device_id_answer(kUnknownProduct));
    EXPECT_EQ(ipmi_ostrel_access_code_get(fake.intf(), code), -1);
    EXPECT_THAT(code, ElementsAre(0, 0, 0, 0, 0));
}

struct ProductIdAnswer {
    const char *name;
    ScriptedAnswer reply;
    int result;
    uint16_t product_id;
};
void PrintTo(const ProductIdAnswer &c, std::ostream *os) { *os << c.name; }

using OstrelProductId = OstrelWith<ProductIdAnswer>;

TEST_P(OstrelProductId, ReadsBytesNineAndTenWithoutCheckingTheLength) {
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
    ::testing::PrintToStringParamName());

TEST_F(Ostrel, DeviceIdPassesUpEveryFailure) {
    fake.then(transport_failure(19)).then(answer(0xC3)).then(device_id_answer(0x1234));
    IpmiResponse response{};
    EXPECT_EQ(ipmi_device_id_get(fake.intf(), &response), 19);
    EXPECT_EQ(ipmi_device_id_get(fake.intf(), &response), 0xC3);
    EXPECT_EQ(ipmi_device_id_get(fake.intf(), &response), 0);
    EXPECT_EQ(response.data_len, 15);
    expect_device_id_request(fake.last());
}

TEST_F(Ostrel, EngineeringRecordGetIsCodePrefixed) {
    after_product(oem::kAccessCodes[2].product_id, answer(0, good_record()));
    EngRecord record{};
    ASSERT_EQ(ipmi_ostrel_eng_record_get(fake.intf(), &record), 0);
    ASSERT_EQ(fake.sent().size(), 2U);
    expect_device_id_request(fake.sent()[0]);
    expect_request(fake.sent()[1], 0x30, 3, 0x03, code_of(2));
    const EngOptions &o = record.options;
    EXPECT_THAT(record.fcap, ElementsAre(0x81, 0x00, 0x04));
    EXPECT_EQ(std::make_tuple(0x02, 0x01, 0x07, 0x05),
              std::tie(o.board_option, o.mezzanine, o.mezzanine_option, o.mac_suffix));
    EXPECT_THAT(o.further, ElementsAre(0x0A, 0x0B, 0x0C));
    EXPECT_THAT(o.mac, ElementsAre(0x00, 0x80, 0x42, 0x1A, 0x2B, 0x3C));
}

TEST_F(Ostrel, OnlySeventeenBytesAreARecord) {
    for (size_t length : {16, 17, 18}) {
        Bytes bytes = good_record();
        bytes.resize(length, 0x77);
        after_product(kKnownProduct, answer(0, bytes));
        EngRecord record{};
        record.fcap[0] = 0xEE;
        EXPECT_EQ(ipmi_ostrel_eng_record_get(fake.intf(), &record), length == 17 ? 0 : -1)
            << length;
        EXPECT_EQ(record.fcap[0], length == 17 ? 0x81 : 0xEE) << length;
    }
}

TEST_F(Ostrel, UnknownProductSendsNoCodePrefixedRequest) {
    fake.then(device_id_answer(kUnknownProduct)).then(device_id_answer(kUnknownProduct));
    EngRecord record{};
    EXPECT_EQ(ipmi_ostrel_eng_record_get(fake.intf(), &record), -1);
    EXPECT_EQ(ipmi_ostrel_eng_record_set(fake.intf(), &record), -1);
    ASSERT_EQ(fake.sent().size(), 2U);
    expect_device_id_request(fake.sent()[1]);
}

Bytes flip(Bytes bytes, size_t index) {
    bytes[index] ^= 0x01;
    return bytes;
}

struct OptionsRecord {
    const char *name;
    Bytes record;
    int result;
};
void PrintTo(const OptionsRecord &c, std::ostream *os) { *os << c.name; }

using OstrelOptionsGet = OstrelWith<OptionsRecord>;

TEST_P(OstrelOptionsGet, CopiesTheOptionsAndChecksTheirCrc) {
    after_product(kKnownProduct, answer(0, c.record));
    EngOptions opts{};
    EXPECT_EQ(ostrel_engineering_options_get(fake.intf(), &opts), c.result);
    EXPECT_EQ(std::make_tuple(c.record[3], c.record[16]), std::tie(opts.board_option, opts.crc));
    EXPECT_EQ(log.contains("ostrel_engineering_options_get): engineering options corrupted "),
              c.result == -5);
}

INSTANTIATE_TEST_SUITE_P(Records, OstrelOptionsGet,
                         ::testing::Values(OptionsRecord{"GoodCrc", good_record(), 0},
                                           OptionsRecord{"AllOnes", Bytes(17, 0xFF), -5},
                                           OptionsRecord{"AllZeros", Bytes(17, 0x00), -5},
                                           OptionsRecord{"OneBitFlipped", flip(good_record(), 9),
                                                         -5}),
                         ::testing::PrintToStringParamName());

TEST_F(Ostrel, EngineeringOptionsSetKeepsFcapAndStoresTheFreshCrc) {
    const Bytes stored = good_record();
    after_product(kKnownProduct, answer(0, stored));
    after_product(kKnownProduct, answer(0));
    EngOptions opts{0x09, 0x00, 0x00, {0x01, 0x02, 0x03}, {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5},
                    0x07, 0xEE};
    EXPECT_EQ(ostrel_engineering_options_set(fake.intf(), &opts), 0);
    const Bytes options{0x09, 0x00, 0x00, 0x01, 0x02, 0x03, 0xA0,
                        0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0x07};
    EXPECT_EQ(opts.crc, crc8_bitwise(options));
    ASSERT_EQ(fake.sent().size(), 4U);
    const Bytes written = cat(cat(code_of(0), {stored[0], stored[1], stored[2]}), options);
    expect_request(fake.last(), 0x30, 3, 0x04, cat(written, {opts.crc}));
}

TEST_F(Ostrel, EngineeringOptionsSetWritesNothingWhenTheRecordIsUnreadable) {
    after_product(kKnownProduct, answer(0xC0));
    EngOptions opts{};
    opts.crc = 0xEE;
    EXPECT_EQ(ostrel_engineering_options_set(fake.intf(), &opts), -1);
    EXPECT_EQ(opts.crc, 0xEE);
    EXPECT_EQ(fake.sent().size(), 2U);
}

TEST(OstrelCrc8, MatchesTheCheckValuesAndTheBitwiseFormulaAndChecksItself) {
    const std::pair<std::string, uint8_t> checks[] = {
        {"", 0xA5}, {"abc", 0xD7}, {"123456789", 0x57}};
    for (const auto &[text, crc] : checks) {
        const Bytes data(text.begin(), text.end());
        EXPECT_EQ(ostrel_crc8(data.data(), data.size()), crc) << '"' << text << '"';
    }
    Bytes data;
    for (int i = 0; i < 300; ++i) {
        data.push_back(static_cast<uint8_t>(i * 37 + 11));
        const uint8_t crc = ostrel_crc8(data.data(), data.size());
        ASSERT_EQ(crc, crc8_bitwise(data)) << "length " << data.size();
        const Bytes sealed = cat(data, {crc});
        ASSERT_EQ(ostrel_crc8(sealed.data(), sealed.size()), 0) << "length " << data.size();
    }
}

struct ParamsAnswer {
    const char *name;
    Bytes data;
    ControllerParams expected;
};
void PrintTo(const ParamsAnswer &c, std::ostream *os) { *os << c.name; }

using OstrelParamsGet = OstrelWith<ParamsAnswer>;

TEST_P(OstrelParamsGet, TakesBitsZeroAndFourOfByteOneAndTheExtraByte) {
    fake.then(answer(0, c.data));
    ControllerParams params{9, 9, 9};
    EXPECT_EQ(ipmi_ostrel_param_get(fake.intf(), &params), 0);
    expect_request(fake.last(), 0x3E, 3, 0x05, signed_data({0x00, 0x00, 0x00}));
    EXPECT_EQ(std::make_tuple(c.expected.pm_mode, c.expected.ipmb_mode, c.expected.extra),
              std::tie(params.pm_mode, params.ipmb_mode, params.extra));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, OstrelParamsGet,
    ::testing::Values(ParamsAnswer{"BothModes", {0xFF, 0x11, 0x5A}, {1, 1, 0x5A}},
                      ParamsAnswer{"PmOnly", {0, 0x01, 0x00}, {1, 0, 0}},
                      ParamsAnswer{"IpmbOnly", {0, 0x10, 0x00}, {0, 1, 0}},
                      ParamsAnswer{"OtherBitsIgnored", {0, 0xEE, 0x80}, {0, 0, 0x80}},
                      ParamsAnswer{"TooManyBytes", {0, 0x11, 0x22, 0x33}, {1, 1, 0x22}},
                      ParamsAnswer{"TooFewBytesReadAsZero", {0x07}, {0, 0, 0}}),
    ::testing::PrintToStringParamName());

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
    EXPECT_EQ(fake.sent().size(), 7U);
    EXPECT_TRUE(log.lines().empty());
}

struct ParamsSet {
    const char *name;
    uint16_t product_id;
    ControllerParams params;
    uint8_t mode_byte;
};
void PrintTo(const ParamsSet &c, std::ostream *os) { *os << c.name; }

using OstrelParamsSet = OstrelWith<ParamsSet>;

TEST_P(OstrelParamsSet, SendsTheIpmbBitOnlyForTheFourthProduct) {
    after_product(c.product_id, answer(0));
    EXPECT_EQ(ipmi_ostrel_param_set(fake.intf(), &c.params), 0);
    ASSERT_EQ(fake.sent().size(), 2U);
    expect_device_id_request(fake.sent()[0]);
    expect_request(fake.last(), 0x3E, 3, 0x05, signed_data({0x03, c.mode_byte, c.params.extra}));
}

INSTANTIATE_TEST_SUITE_P(
    Products, OstrelParamsSet,
    ::testing::Values(ParamsSet{"FourthBothModes", kIpmbProduct, {1, 1, 0x42}, 0x11},
                      ParamsSet{"FourthIpmbOnly", kIpmbProduct, {0, 1, 0x00}, 0x10},
                      ParamsSet{"FourthOnlyBitZeroCounts", kIpmbProduct, {2, 3, 0}, 0x10},
                      ParamsSet{"FirstNeverIpmb", kKnownProduct, {1, 1, 0x42}, 0x01},
                      ParamsSet{"UnknownNeverIpmb", kUnknownProduct, {0, 1, 0x07}, 0x00}),
    ::testing::PrintToStringParamName());

} // namespace
