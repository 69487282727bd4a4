// The IPMC's device ID record and self-test result against a scripted interface.
#include <gtest/gtest.h>

#include <cstring>

#include "fake_ipmi.h"
#include "hvl/hvl_ipmi_bmc.h"
#include "log_capture.h"

namespace {

// A Get Device ID answer: firmware major/minor, IPMI version, manufacturer,
// product and the first two auxiliary bytes at their places.
ScriptedAnswer device_id(uint8_t major, uint8_t minor, uint8_t ipmi) {
    return answer(0, {0x20, 0x81, major, minor, ipmi, 0x29, 0x12, 0x34, 0x56, 0x01, 0x02, 0xA1,
                      0xB2, 0xC3, 0xD4});
}

bool all_zero(const IpmcDeviceId &record) {
    IpmcDeviceId zero;
    std::memset(&zero, 0, sizeof zero);
    return std::memcmp(&record, &zero, sizeof record) == 0;
}

TEST(DeviceId, FieldsComeFromTheirPlacesInTheAnswer) {
    FakeIpmi ipmi;
    ipmi.then(device_id(0x81, 0x05, 0x02)).then(device_id(0x7F, 0x99, 0x51));
    IpmcDeviceId id{};
    ASSERT_EQ(ipmc_devid_get_data(ipmi.intf(), &id), 0);
    EXPECT_STREQ(id.fw_version, "1.5") << "the device-available bit does not show";
    EXPECT_STREQ(id.ipmi_version, "2.0");
    EXPECT_EQ(id.manufacturer_id, 0x563412U);
    EXPECT_EQ(id.product_id, 0x0201);
    EXPECT_EQ(id.aux_fw_rev0, 0xA1);
    EXPECT_EQ(id.aux_fw_rev1, 0xB2);
    ASSERT_EQ(ipmc_devid_get_data(ipmi.intf(), &id), 0);
    EXPECT_STREQ(id.fw_version, "127.99") << "the BCD minor revision reads as its digits";
    EXPECT_STREQ(id.ipmi_version, "1.5");
    ASSERT_EQ(ipmi.sent.size(), 2U);
    EXPECT_EQ(ipmi.sent[0].netfn, 0x06);
    EXPECT_EQ(ipmi.sent[0].cmd, 0x01);
    EXPECT_TRUE(ipmi.sent[0].data.empty());
}

TEST(DeviceId, AShortAnswerLeavesTheMissingFieldsZero) {
    FakeIpmi ipmi;
    ipmi.then(answer(0, {0x20, 0x81, 0x02, 0x10, 0x02, 0x29, 0x12, 0x34}));
    IpmcDeviceId id{};
    ASSERT_EQ(ipmc_devid_get_data(ipmi.intf(), &id), 0);
    EXPECT_STREQ(id.fw_version, "2.10");
    EXPECT_EQ(id.manufacturer_id, 0x3412U);
    EXPECT_EQ(id.product_id, 0);
}

// A null interface is logged under the function and its file.
TEST(DeviceId, FailuresLeaveTheRecordZeroed) {
    LogCapture log;
    FakeIpmi ipmi;
    ipmi.then(answer(0xCB)).then(answer(0xC3)).then(answer(0xC1)).then(transport_failure(74));
    for (const int expected : {-4, -4, -1, -1, -2}) {
        IpmcDeviceId id;
        std::memset(&id, 0xEE, sizeof id);
        EXPECT_EQ(ipmc_devid_get_data(expected == -2 ? nullptr : ipmi.intf(), &id), expected);
        EXPECT_TRUE(all_zero(id));
    }
    EXPECT_TRUE(log.contains("hvl_ipmi_bmc.cpp("));
    EXPECT_TRUE(log.contains("ipmc_devid_get_data): HVL_IPMI API called with intf == NULL"));
}

TEST(SelfTest, EachResultCodeGivesItsStateAndDetail) {
    struct Case {
        uint8_t code, second;
        uint32_t state;
        uint8_t detail;
    };
    const Case cases[] = {{0x55, 0x33, 0, 0},    {0x56, 0x33, 1, 0}, {0x57, 0xA5, 2, 0xA5},
                          {0x58, 0x81, 3, 0x81}, {0xFF, 0x33, 4, 0}, {0x60, 0x07, 1, 0x07}};
    FakeIpmi ipmi;
    for (const Case &c : cases) {
        ipmi.then(answer(0, {c.code, c.second}));
    }
    for (const Case &c : cases) {
        uint32_t state = 9;
        uint8_t detail = 9;
        ASSERT_EQ(ipmc_get_selftest_result(ipmi.intf(), &state, &detail), 0);
        EXPECT_EQ(state, c.state) << "code " << int{c.code};
        EXPECT_EQ(detail, c.detail) << "code " << int{c.code};
    }
    EXPECT_EQ(ipmi.sent.back().cmd, 0x04);
}

TEST(SelfTest, ARefusedRequestKeepsThePresetOutputs) {
    LogCapture log;
    FakeIpmi ipmi;
    ipmi.then(answer(0xC1)).then(transport_failure(74));
    for (IpmiIntf *intf : {ipmi.intf(), ipmi.intf(), static_cast<IpmiIntf *>(nullptr)}) {
        uint32_t state = 9;
        uint8_t detail = 9;
        EXPECT_EQ(ipmc_get_selftest_result(intf, &state, &detail), intf != nullptr ? -1 : -2);
        EXPECT_EQ(state, 1U);
        EXPECT_EQ(detail, 0);
    }
    EXPECT_TRUE(log.contains("ipmc_get_selftest_result): HVL_IPMI API called with intf == NULL"));
}

} // namespace
