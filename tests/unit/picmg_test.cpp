// The PICMG queries and IPMB-L targeting against a scripted interface: how
// each outcome is judged and the records read from the answers (the bytes of
// the requests are checked against ipmitool's by hwboard_vs_peers.py); and the
// formatting helpers.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <numeric>
#include <string>
#include <tuple>

#include "fake_ipmi.h"
#include "hvl/hvl_ipmi_interface.h"
#include "hvl/hvl_ipmi_picmg.h"
#include "log_capture.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

namespace {

// A Get AMC Port State answer: lanes, the link type split over two bytes, its extension.
ScriptedAnswer amc_port(uint8_t lanes, uint8_t type, uint8_t extension, uint8_t group,
                        uint8_t state) {
    return answer(0, {0x00, static_cast<uint8_t>(lanes | (type & 0x0F) << 4),
                      static_cast<uint8_t>(type >> 4 | extension << 4), group, state});
}

// A Get FRU LED State answer: states, local-control function, on-duration and colour.
ScriptedAnswer led_state(uint8_t states, uint8_t function, uint8_t colour) {
    return answer(0, {0x00, states, function, 0x0A, colour});
}

TEST(Picmg, EachQueryJudgesFailuresByItsOwnRule) {
    IpmiResponse r{};
    const std::pair<std::function<int(IpmiIntf *)>, std::array<int, 4>> cases[] = {
        // results for: no answer (send gives 74), 0xC3, 0xCB, 0xCC
        {[&](IpmiIntf *i) { return picmg_get_properties(i, &r); }, {74, 0xC3, 0xCB, 0xCC}},
        {[&](IpmiIntf *i) { return picmg_get_address_info(i, 1, &r); }, {-1, 0xC3, 0xCB, 0xCC}},
        {[&](IpmiIntf *i) { return picmg_get_fru_led_state(i, 1, 0, &r); }, {-1, -1, -1, -1}},
        {[&](IpmiIntf *i) { return picmg_get_port_state(i, 1, 0, &r); }, {-1, -1, -1, -1}},
        {[&](IpmiIntf *i) { return picmg_get_amc_port_state(i, 1, 0, &r); },
         {-1, 0xC3, 0xCB, 0xCC}},
        {[&](IpmiIntf *i) {
             PicmgAddrInfo a{};
             return picmg_addr_parse(i, 1, &a);
         },
         {-1, -4, -4, 0xCC}},
        {[&](IpmiIntf *i) {
             uint8_t max = 0;
             return picmg_get_max_fruid(i, &max);
         },
         {74, 0xC3, 0xCB, 0xCC}},
    };
    for (const auto &[call, results] : cases) {
        FakeIpmi fake;
        fake.then(transport_failure(74)).then(answer(0xC3)).then(answer(0xCB)).then(answer(0xCC));
        for (const int expected : results) {
            EXPECT_EQ(call(fake.intf()), expected);
        }
    }
}

TEST(Picmg, AddressInfoTakesItsFieldsFromTheirPlacesAndIsClearedOnFailure) {
    FakeIpmi fake;
    fake.then(answer(0, {0x00, 0x41, 0x82, 0xFF, 0x02, 0x05, 0x07})).then(answer(0xCB));
    PicmgAddrInfo info{};
    ASSERT_EQ(picmg_addr_get_by_fruid(fake.intf(), 2, &info), 0);
    EXPECT_EQ(std::make_tuple(info.hw_addr, info.ipmb_addr, info.fru_id, info.site_id),
              std::make_tuple(0x41, 0x82, 0x02, 0x05));
    EXPECT_EQ(picmg_addr_get_by_fruid(fake.intf(), 2, &info), -4);
    EXPECT_EQ(std::make_tuple(info.hw_addr, info.ipmb_addr, info.fru_id, info.site_id),
              std::make_tuple(0, 0, 0, 0));
}

TEST(Picmg, LedsAreNamedInOrderAndTheFirstFailureEndsTheRound) {
    FakeIpmi fake;
    fake.then(led_state(0x01, 0x00, 2))
        .then(led_state(0x03, 0xFF, 7))
        .then(led_state(0x07, 0x32, 9))
        .then(answer(0xCC));
    PicmgLedInfo leds[PICMG_LED_COUNT];
    std::memset(leds, 0xEE, sizeof leds);
    EXPECT_EQ(picmg_led_get_data(fake.intf(), leds, 1), -1);
    const std::tuple<uint8_t, uint8_t, std::string, uint32_t> expected[] = {
        {0, 0x01, "RED", PICMG_LED_OFF},
        {1, 0x03, "reserved", PICMG_LED_ON},
        {2, 0x07, "0x09", PICMG_LED_BLINKING},
        {0, 0x00, "", PICMG_LED_OFF}, // not answered: as cleared
    };
    for (size_t i = 0; i < PICMG_LED_COUNT; ++i) {
        EXPECT_EQ(std::make_tuple(leds[i].led_id, leds[i].led_states, std::string(leds[i].color),
                                  leds[i].function),
                  expected[i]);
    }
}

TEST(Picmg, AmcPortProtocolNamesTheLinkTypeExtensionAndWidth) {
    const std::tuple<uint8_t, uint8_t, uint8_t, uint8_t, const char *> cases[] = {
        // type, extension, lanes, group: protocol ("before" where it is left
        // alone); hwboard_vs_peers.py compares more with ipmitool's texts
        {2, 0, 0x3, 0, "PCIe Gen1 NSSC - 2x"},
        {2, 0, 0x3, 5, "PCIe Gen1 NSSC - 8x"},
        {2, 0, 0x5, 0, "PCIe Gen1 NSSC"},
        {2, 1, 0x1, 0, "PCIe Gen1 SSC - 1x"},
        {2, 2, 0x7, 0, "PCIe Gen2 NSSC - 3x"},
        {2, 3, 0xF, 0, "PCIe Gen2 SSC - 4x"},
        {2, 9, 0xF, 0, "PCIe reserved - 4x"},
        {5, 1, 0xF, 1, "Ethernet 10Gbit XAUI"},
        {5, 2, 0x1, 0, "Ethernet reserved"},
        {7, 0, 0x1, 0, "Storage Fibre Channel"},
        {7, 2, 0x1, 0, "Storage Serial Attached SCSI"},
        {7, 15, 0x1, 0, "Storage reserved"},
        {3, 0, 0x1, 0, "before"},
        {4, 1, 0x1, 0, "before"},
        {6, 0, 0x1, 0, "before"},
        {0, 0, 0x1, 0, "Unknown protocol"},
        {1, 0, 0x1, 0, "Unknown protocol"},
        {8, 0, 0x1, 0, "Unknown protocol"},
        {0x25, 0, 0x1, 0, "Unknown protocol"}, // not PCI Express: both halves of the type count
        {0x52, 0, 0x1, 0, "Unknown protocol"},
    };
    for (const auto &[type, extension, lanes, group, protocol] : cases) {
        FakeIpmi fake;
        fake.then(amc_port(lanes, type, extension, group, 1));
        AmcPortInfo port{1, 0, 0xEE, 0xEE, "before", 0};
        ASSERT_EQ(picmg_amc_portstate(fake.intf(), &port), 0);
        EXPECT_STREQ(port.protocol, protocol)
            << "type " << int(type) << " extension " << int(extension);
        EXPECT_EQ(std::make_tuple(port.lanes, port.group_id, port.enabled),
                  std::make_tuple(lanes, group, 1));
    }
}

TEST(Picmg, OnlyStateOneIsEnabled) {
    FakeIpmi fake;
    for (const uint8_t state : {1, 0, 2}) {
        fake.then(amc_port(0x1, 2, 0, 0, state));
        fake.then(answer(0, {0x00, 0x41, 0x13, 0x05, 0x00, state}));
    }
    fake.then(answer(0xCC));
    for (const uint8_t enabled : {1, 0, 0}) {
        AmcPortInfo port{};
        uint8_t backplane = 0xEE;
        EXPECT_EQ(picmg_amc_portstate(fake.intf(), &port), 0);
        EXPECT_EQ(picmg_port_state(fake.intf(), 1, 1, &backplane), 0);
        EXPECT_EQ(std::make_pair(port.enabled, backplane), std::make_pair(enabled, enabled));
    }
    uint8_t refused = 0xEE;
    EXPECT_EQ(picmg_port_state(fake.intf(), 1, 1, &refused), -1);
    EXPECT_EQ(refused, 0);
}

TEST(Picmg, OnlyAmcSitesOneToEightHaveAnIpmbLAddress) {
    LogCapture log;
    uint8_t addr = 0;
    EXPECT_EQ(picmg_get_ipml_by_siteid(1, &addr), 0);
    EXPECT_EQ(addr, 0x72);
    EXPECT_EQ(picmg_get_ipml_by_siteid(8, &addr), 0);
    EXPECT_EQ(addr, 0x80);
    for (const uint8_t site : {0, 9, 0xFF}) {
        EXPECT_EQ(picmg_get_ipml_by_siteid(site, &addr), 22);
        EXPECT_TRUE(log.contains("got invalid size id " + std::to_string(site)));
    }
    EXPECT_EQ(addr, 0x80);
}

TEST(Picmg, ANullInterfaceIsRefusedUnderTheCallersNameAndANullOutputSendsNothing) {
    LogCapture log;
    IpmiResponse r{};
    PicmgAddrInfo a{};
    PicmgLedInfo l[PICMG_LED_COUNT]{};
    AmcPortInfo p{};
    uint8_t v = 0;
    const std::pair<const char *, std::function<int(IpmiIntf *)>> calls[] = {
        {"picmg_addr_get_data", [&](IpmiIntf *i) { return picmg_addr_get_data(i, &a); }},
        {"picmg_addr_get_by_fruid", [&](IpmiIntf *i) { return picmg_addr_get_by_fruid(i, 1, &a); }},
        {"picmg_addr_parse", [&](IpmiIntf *i) { return picmg_addr_parse(i, 1, &a); }},
        {"picmg_led_get_data", [&](IpmiIntf *i) { return picmg_led_get_data(i, l, 1); }},
        {"picmg_led_parse", [&](IpmiIntf *i) { return picmg_led_parse(i, l, 1); }},
        {"picmg_amc_portstate", [&](IpmiIntf *i) { return picmg_amc_portstate(i, &p); }},
        {"picmg_amc_lanestate_parse",
         [&](IpmiIntf *i) { return picmg_amc_lanestate_parse(i, &p); }},
        {"picmg_port_state", [&](IpmiIntf *i) { return picmg_port_state(i, 1, 0, &v); }},
        {"picmg_port_state_parse",
         [&](IpmiIntf *i) { return picmg_port_state_parse(i, 1, 0, &v); }},
        {"picmg_get_max_fruid", [&](IpmiIntf *i) { return picmg_get_max_fruid(i, &v); }},
        {"picmg_get_properties", [&](IpmiIntf *i) { return picmg_get_properties(i, &r); }},
        {"picmg_get_address_info", [&](IpmiIntf *i) { return picmg_get_address_info(i, 1, &r); }},
        {"picmg_get_fru_led_state",
         [&](IpmiIntf *i) { return picmg_get_fru_led_state(i, 1, 0, &r); }},
        {"picmg_get_port_state", [&](IpmiIntf *i) { return picmg_get_port_state(i, 1, 0, &r); }},
        {"picmg_get_amc_port_state",
         [&](IpmiIntf *i) { return picmg_get_amc_port_state(i, 1, 0, &r); }},
        {"set_ipml_target_addr", [&](IpmiIntf *i) { return set_ipml_target_addr(i, 0x72); }},
        {"set_target_by_fruid", [&](IpmiIntf *i) { return set_target_by_fruid(i, 1); }},
    };
    for (const auto &[name, call] : calls) {
        log.clear();
        EXPECT_EQ(call(nullptr), -2) << name;
        EXPECT_THAT(
            log.lines(),
            ElementsAre(HasSubstr(std::string(name) + "): HVL_IPMI API called with intf == NULL")));
    }
    FakeIpmi fake;
    EXPECT_EQ(picmg_get_max_fruid(fake.intf(), nullptr), -1);
    EXPECT_EQ(picmg_port_state(fake.intf(), 1, 0, nullptr), -1);
    EXPECT_TRUE(fake.sent.empty());
}

TEST(Targeting, AFruIsFoundThroughItsSiteAndAFailureKeepsTheTarget) {
    LogCapture log;
    FakeIpmi fake;
    IpmiIntf *intf = fake.intf();
    const auto target = [&] { return std::make_pair(intf->target_addr, intf->target_channel); };
    ASSERT_EQ(set_ipml_target_addr(intf, 0x74), 0);
    EXPECT_EQ(target(), std::make_pair(0x74U, 7U));
    ASSERT_EQ(set_ipml_target_addr(intf, 0), 0);
    EXPECT_EQ(target(), std::make_pair(0U, 0U));

    const std::tuple<ScriptedAnswer, int, uint32_t, const char *> cases[] = {
        // the address answer, the result, the target after it, a line logged
        {answer(0, {0x00, 0x41, 0x82, 0xFF, 0x02, 0x03, 0x07}), 0, 0x76,
         "FRU #2 has IPML addr 0x76"},
        {answer(0xCB), -4, 0x76, "searching IPML addr for FRU #2"},
        {answer(0, {0x00, 0x41, 0x82, 0xFF, 0x02, 0x09, 0x07}), 22, 0x76,
         "cannot discover ipml addr for FRU #2"},
        {transport_failure(74), -1, 0x76, "searching IPML addr for FRU #2"},
    };
    for (const auto &[reply, result, addr, line] : cases) {
        log.clear();
        fake.then(reply);
        EXPECT_EQ(set_target_by_fruid(intf, 2), result);
        EXPECT_EQ(target(), std::make_pair(addr, 7U));
        EXPECT_TRUE(log.contains(line)) << line;
        EXPECT_THAT(fake.sent.back().data, ElementsAreArray({0x00, 0x02}));
    }
    const size_t sent = fake.sent.size();
    EXPECT_EQ(set_target_by_fruid(intf, 0), 0);
    EXPECT_EQ(target(), std::make_pair(0U, 0U));
    EXPECT_EQ(fake.sent.size(), sent) << "FRU 0 is the IPMC: nothing to ask";
}

TEST(Formatting, LittleEndianFieldsHexDumpAndCodeTables) {
    const uint8_t bytes[] = {0x78, 0x56, 0x34, 0xF2, 0xAA};
    EXPECT_EQ(ipmi_get_le16(bytes), 0x5678);
    EXPECT_EQ(ipmi_get_le32(bytes), 0xF2345678U);
    EXPECT_EQ(ipmi_get_le32(nullptr), 0U);

    uint8_t seventeen[17];
    std::iota(std::begin(seventeen), std::end(seventeen), 0xF0);
    ::testing::internal::CaptureStdout();
    ipmi_print_hexdump(seventeen, 17, "answer");
    ipmi_print_hexdump(seventeen, 0, "nothing");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "answer (17 bytes)\n f0 f1 f2 f3 f4 f5 f6 f7 f8 f9 fa fb fc fd fe ff\n 00\n");

    const ValueText table[] = {{1, "Power"}, {2, "Pressure"}, {0x1000, "Temp"}, {0, nullptr}};
    EXPECT_STREQ(ipmi_value_to_text(2, table), "Pressure");
    EXPECT_STREQ(ipmi_value_to_text(0x1234, table), "Unknown (0x1234)");
    EXPECT_STREQ(ipmi_value_to_text(5, table), "Unknown (0x05)");
    const std::pair<const char *, uint16_t> names[] = {
        {"pr", 2}, {"PO", 1}, {"p", 1}, {"", 1}, {"temp", 0x1000}, {"Temps", 0}, {"x", 0}};
    for (const auto &[text, value] : names) {
        EXPECT_EQ(ipmi_text_to_value(text, table), value) << text;
    }
}

} // namespace
