// Piggy-back detection against a scripted IPMC: which sources it asks, in
// which order, and what each answer makes of the result; the MAC address
// from the raw octets of the engineering options.
#include <gtest/gtest.h>

#include "fake_ipmi.h"
#include "hvl/board_info.h"
#include "hvl/hvl_ipmi_ostrel.h"

namespace {

constexpr uint16_t kProduct = 0x3120;

// The engineering record with the mezzanine flag, its CRC-8 right or wrong.
ScriptedAnswer eng_record(uint8_t mezzanine, bool crc_right = true) {
    Bytes record = {0, 0, 0, 0x01, mezzanine, 0x02, 0, 0, 0, 0x00, 0x80, 0x42, 1, 2, 3, 1};
    const uint8_t crc = ostrel_crc8(record.data() + 3, 13);
    record.push_back(crc_right ? crc : static_cast<uint8_t>(crc ^ 1));
    return answer(0, record);
}

// The SDR exchanges that fetch record 0x0200 with this 11-byte locator body.
void sdr_record(FakeIpmi &ipmi, uint8_t type, Bytes body) {
    ipmi.then(answer(0, {3, 0x01}))                                 // SDR info
        .then(answer(0, {0x11, 0x22}))                              // reservation
        .then(answer(0, {0xFF, 0xFF, 0x00, 0x02, 0x51, type, 11})); // header
    body.insert(body.begin(), {0xFF, 0xFF});                        // next record ID
    ipmi.then(answer(0, body));
}

// A FRU device locator: FRU device ID, device type and modifier as given.
Bytes locator(uint8_t fru, uint8_t type, uint8_t modifier) {
    return {0x82, fru, 0x80, 0x00, 0x00, type, modifier, 0xC1, 0x00, 0x00, 0xC0};
}

void options_and_devid(FakeIpmi &ipmi, uint8_t mezzanine = 1) {
    ipmi.then(device_id_answer(kProduct)).then(eng_record(mezzanine));
    if (mezzanine != 0) {
        ipmi.then(device_id_answer(kProduct));
    }
}

TEST(PiggyBack, AMezzanineLocatorGivesItsFruId) {
    FakeIpmi ipmi;
    options_and_devid(ipmi);
    sdr_record(ipmi, 0x11, locator(3, 0x10, 2));
    uint8_t fruid = 0xEE;
    EXPECT_EQ(board_info_get_piggy_fruid(ipmi.intf(), &fruid), 0);
    EXPECT_EQ(fruid, 3);
    ASSERT_EQ(ipmi.sent.size(), 7U);
    EXPECT_EQ(ipmi.sent[5].data, (Bytes{0x11, 0x22, 0x00, 0x02, 0, 5})) << "record 0x0200's header";
}

TEST(PiggyBack, EachSourceThatSaysNoEndsTheQuery) {
    struct Case {
        const char *what;
        void (*script)(FakeIpmi &);
        int result;
    };
    const Case cases[] = {
        {"options fail their CRC",
         [](FakeIpmi &i) { i.then(device_id_answer(kProduct)).then(eng_record(1, false)); }, -5},
        {"no mezzanine flag", [](FakeIpmi &i) { options_and_devid(i, 0); }, -12},
        {"device ID refused",
         [](FakeIpmi &i) {
             i.then(device_id_answer(kProduct)).then(eng_record(1)).then(answer(0xCB));
         },
         -4},
        {"record 0x0200 missing",
         [](FakeIpmi &i) {
             options_and_devid(i);
             i.then(answer(0, {3, 0x01})).then(answer(0, {0x11, 0x22})).then(answer(0xCB));
         },
         -7},
        {"wrong device type",
         [](FakeIpmi &i) {
             options_and_devid(i);
             sdr_record(i, 0x11, locator(3, 0x11, 2));
         },
         -1},
        {"wrong modifier",
         [](FakeIpmi &i) {
             options_and_devid(i);
             sdr_record(i, 0x11, locator(3, 0x10, 1));
         },
         -1},
        {"not a FRU locator",
         [](FakeIpmi &i) {
             options_and_devid(i);
             sdr_record(i, 0x12, locator(3, 0x10, 2));
         },
         -1},
    };
    for (const Case &c : cases) {
        FakeIpmi ipmi;
        c.script(ipmi);
        uint8_t fruid = 0xEE;
        EXPECT_EQ(board_info_get_piggy_fruid(ipmi.intf(), &fruid), c.result) << c.what;
        EXPECT_EQ(fruid, 0xEE) << c.what << ": the FRU ID is left alone";
    }
}

TEST(PiggyBack, ANullInterfaceReachesTheFirstGuard) {
    uint8_t fruid = 0xEE;
    EXPECT_EQ(board_info_get_piggy_fruid(nullptr, &fruid), -2);
    EXPECT_EQ(fruid, 0xEE);
}

TEST(BoardMac, RawOctetsReadAsUpperCaseText) {
    const uint8_t raw[] = {0x02, 0x00, 0xAB, 0x0C, 0xFF, 0x01, 0x07};
    MacInfo mac{};
    EXPECT_EQ(board_info_mac_parse(raw, &mac), 0);
    EXPECT_STREQ(mac.text, "02:00:AB:0C:FF:01");
    EXPECT_EQ(Bytes(std::begin(mac.mac), std::end(mac.mac)), Bytes(raw, raw + 6));
    EXPECT_EQ(std::make_pair(mac.suffix, mac.valid), std::make_pair(uint8_t{7}, uint8_t{1}));
}

} // namespace
