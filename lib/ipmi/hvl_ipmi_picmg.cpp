// PICMG queries: one request of the PICMG group extension each, its answer
// read at the places the PICMG 3.0 and AMC.0 commands give their fields.
#include "hvl/hvl_ipmi_picmg.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "common/byte_io.h"
#include "ipmi/ipmi_codes.h"
#include "ipmi/ipmi_request.h"
#include "log/log_site.h"

namespace {

using hvl::ipmi::intf_missing;
using hvl::ipmi::kNoInterface;

constexpr int kFailed = -1;
constexpr int kBadSite = 22;
using hvl::ipmi::kNetFnPicmg;
using hvl::ipmi::kNotAvailable;
using hvl::ipmi::kPicmgIdentifier;

// How a query reports a request that failed: the value itself (the send
// operation's result, the completion code), or -1.
enum class Report { Value, Failed };

struct Query {
    uint8_t cmd;
    Report send_failed;
    Report refused; // answered with a completion code other than success
};

constexpr Query kGetProperties{0x00, Report::Value, Report::Value};
constexpr Query kGetAddressInfo{hvl::ipmi::kCmdGetAddressInfo, Report::Failed, Report::Value};
constexpr Query kGetFruLedState{0x08, Report::Failed, Report::Failed};
constexpr Query kGetPortState{0x0F, Report::Failed, Report::Failed};
constexpr Query kGetAmcPortState{0x1A, Report::Failed, Report::Value};

// Sends `query` with the PICMG identifier and `args` as its data.
template <typename... Args>
int ask(IpmiIntf *intf, const Query &query, IpmiResponse *response, Args... args) {
    uint8_t data[1 + sizeof...(args)];
    hvl::ByteWriter out(data, sizeof data);
    out.u8(kPicmgIdentifier);
    (out.u8(args), ...);
    const int rc = hvl::ipmi::send_request(intf, kNetFnPicmg, 0, query.cmd, out, response);
    if (rc != 0) {
        return query.send_failed == Report::Value ? rc : kFailed;
    }
    if (response->ccode != hvl::ipmi::kCcSuccess) {
        return query.refused == Report::Value ? response->ccode : kFailed;
    }
    return 0;
}

// The PICMG 3.0 colour codes.
constexpr const char *kColourNames[] = {"reserved", "BLUE",   "RED",   "GREEN",
                                        "AMBER",    "ORANGE", "WHITE", "reserved"};

// The local-control function byte: 0x00 off, 0xFF on, anything else blinks.
uint32_t led_function(uint8_t function) {
    return function == 0x00 ? PICMG_LED_OFF : function == 0xFF ? PICMG_LED_ON : PICMG_LED_BLINKING;
}

// The texts of the AMC link types, by type and a range of extensions; a
// row without text leaves the caller's text as it was. A type without a row
// is an unknown protocol.
struct LinkText {
    uint8_t type;
    uint8_t first, last; // extensions
    const char *text;
};

constexpr uint8_t kPciExpress = 2;
constexpr LinkText kLinkTexts[] = {
    {kPciExpress, 0, 0, "PCIe Gen1 NSSC"},
    {kPciExpress, 1, 1, "PCIe Gen1 SSC"},
    {kPciExpress, 2, 2, "PCIe Gen2 NSSC"},
    {kPciExpress, 3, 3, "PCIe Gen2 SSC"},
    {kPciExpress, 4, 15, "PCIe reserved"},
    {3, 0, 15, nullptr}, // PCI Express Advanced Switching
    {4, 0, 15, nullptr},
    {5, 0, 0, "Ethernet 1000 Base-BX"},
    {5, 1, 1, "Ethernet 10Gbit XAUI"},
    {5, 2, 15, "Ethernet reserved"},
    {6, 0, 15, nullptr}, // Serial RapidIO
    {7, 0, 0, "Storage Fibre Channel"},
    {7, 1, 1, "Storage Serial ATA"},
    {7, 2, 2, "Storage Serial Attached SCSI"},
    {7, 3, 15, "Storage reserved"},
};

// The width of a PCI Express link by its lanes, when it is not grouped.
struct Width {
    uint8_t lanes;
    const char *text;
};

constexpr Width kWidths[] = {{0x1, " - 1x"}, {0x3, " - 2x"}, {0x7, " - 3x"}, {0xF, " - 4x"}};
constexpr const char *kGroupedWidth = " - 8x";

void describe_link(AmcPortInfo &lane, uint8_t type, uint8_t extension) {
    const char *text = "Unknown protocol";
    for (const LinkText &row : kLinkTexts) {
        if (row.type == type && extension >= row.first && extension <= row.last) {
            text = row.text;
            break;
        }
    }
    if (text == nullptr) {
        return;
    }
    (void)std::snprintf(lane.protocol, sizeof lane.protocol, "%s", text);
    if (type != kPciExpress) {
        return;
    }
    const char *width = lane.group_id != 0 ? kGroupedWidth : "";
    for (const Width &row : kWidths) {
        width = lane.group_id == 0 && row.lanes == lane.lanes ? row.text : width;
    }
    const size_t used = std::strlen(lane.protocol);
    (void)std::snprintf(lane.protocol + used, sizeof lane.protocol - used, "%s", width);
}

// What a query checks before it asks: the interface (a null one is logged
// under the name of the function called at `site`), then its output.
int unusable(const IpmiIntf *intf, const void *out, const hvl::log::Site &site) {
    if (intf_missing(intf, site)) {
        return kNoInterface;
    }
    return out == nullptr ? kFailed : 0;
}

int addr_get(IpmiIntf *intf, uint8_t fruid, PicmgAddrInfo *info, const hvl::log::Site &site) {
    if (info != nullptr) {
        *info = PicmgAddrInfo{};
    }
    if (const int rc = unusable(intf, info, site)) {
        return rc;
    }
    return picmg_addr_parse(intf, fruid, info);
}

constexpr uint8_t kFirstAmcSite = 1;
constexpr uint8_t kLastAmcSite = 8;
constexpr uint8_t kIpmbLBase = 0x70;

} // namespace

extern "C" {

int picmg_get_properties(IpmiIntf *intf, IpmiResponse *response) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    return ask(intf, kGetProperties, response);
}

int picmg_get_address_info(IpmiIntf *intf, uint8_t fruid, IpmiResponse *response) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    return ask(intf, kGetAddressInfo, response, fruid);
}

int picmg_get_fru_led_state(IpmiIntf *intf, uint8_t fruid, uint8_t led_id, IpmiResponse *response) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    return ask(intf, kGetFruLedState, response, fruid, led_id);
}

int picmg_get_port_state(IpmiIntf *intf, uint8_t channel, uint8_t interface,
                         IpmiResponse *response) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    const auto link = static_cast<uint8_t>((interface & 0x03U) << 6 | (channel & 0x3FU));
    return ask(intf, kGetPortState, response, link);
}

int picmg_get_amc_port_state(IpmiIntf *intf, uint8_t channel, uint8_t device,
                             IpmiResponse *response) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    return ask(intf, kGetAmcPortState, response, channel, device);
}

int picmg_addr_parse(IpmiIntf *intf, uint8_t fruid, PicmgAddrInfo *info) {
    if (const int rc = unusable(intf, info, HVL_HERE)) {
        return rc;
    }
    IpmiResponse response{};
    const int rc = picmg_get_address_info(intf, fruid, &response);
    if (hvl::ipmi::not_available(rc)) {
        return kNotAvailable;
    }
    if (rc != 0) {
        return rc;
    }
    hvl::ByteReader in = hvl::ipmi::unchecked_data(response);
    in.skip(1);
    info->hw_addr = in.u8();
    info->ipmb_addr = in.u8();
    in.skip(1); // IPMB-1 address
    info->fru_id = in.u8();
    info->site_id = in.u8();
    return 0;
}

int picmg_addr_get_data(IpmiIntf *intf, PicmgAddrInfo *info) {
    return addr_get(intf, 0, info, HVL_HERE);
}

int picmg_addr_get_by_fruid(IpmiIntf *intf, uint8_t fruid, PicmgAddrInfo *info) {
    return addr_get(intf, fruid, info, HVL_HERE);
}

int picmg_led_parse(IpmiIntf *intf, PicmgLedInfo leds[PICMG_LED_COUNT], uint8_t fruid) {
    if (const int rc = unusable(intf, leds, HVL_HERE)) {
        return rc;
    }
    for (uint8_t id = 0; id < PICMG_LED_COUNT; ++id) {
        IpmiResponse response{};
        if (picmg_get_fru_led_state(intf, fruid, id, &response) != 0) {
            return kFailed;
        }
        hvl::ByteReader in = hvl::ipmi::unchecked_data(response);
        in.skip(1);
        PicmgLedInfo &led = leds[id];
        led.led_id = id;
        led.led_states = in.u8();
        led.function = led_function(in.u8());
        in.skip(1); // on-duration
        const uint8_t colour = in.u8();
        if (colour < std::size(kColourNames)) {
            (void)std::snprintf(led.color, sizeof led.color, "%s", kColourNames[colour]);
        } else {
            (void)std::snprintf(led.color, sizeof led.color, "0x%02x", colour);
        }
    }
    return 0;
}

int picmg_led_get_data(IpmiIntf *intf, PicmgLedInfo leds[PICMG_LED_COUNT], uint8_t fruid) {
    if (leds != nullptr) {
        std::memset(leds, 0, PICMG_LED_COUNT * sizeof *leds);
    }
    if (const int rc = unusable(intf, leds, HVL_HERE)) {
        return rc;
    }
    return picmg_led_parse(intf, leds, fruid);
}

int picmg_amc_lanestate_parse(IpmiIntf *intf, AmcPortInfo *lane) {
    if (const int rc = unusable(intf, lane, HVL_HERE)) {
        return rc;
    }
    IpmiResponse response{};
    const int rc = picmg_get_amc_port_state(intf, lane->channel, lane->device, &response);
    if (rc != 0) {
        return rc;
    }
    // Lanes in bits 0-3, the link type in bits 4-11, its extension in 12-15.
    hvl::ByteReader in = hvl::ipmi::unchecked_data(response);
    in.skip(1);
    const uint16_t link = in.u16();
    lane->lanes = link & 0x0FU;
    lane->group_id = in.u8();
    lane->enabled = in.u8() == 1 ? 1 : 0;
    describe_link(*lane, static_cast<uint8_t>(link >> 4), static_cast<uint8_t>(link >> 12));
    return 0;
}

int picmg_amc_portstate(IpmiIntf *intf, AmcPortInfo *lane) {
    if (const int rc = unusable(intf, lane, HVL_HERE)) {
        return rc;
    }
    return picmg_amc_lanestate_parse(intf, lane);
}

int picmg_port_state_parse(IpmiIntf *intf, uint8_t channel, uint8_t interface, uint8_t *enabled) {
    if (const int rc = unusable(intf, enabled, HVL_HERE)) {
        return rc;
    }
    IpmiResponse response{};
    if (picmg_get_port_state(intf, channel, interface, &response) != 0) {
        return kFailed;
    }
    // The PICMG identifier, then the first link's four bytes of link info and its state.
    hvl::ByteReader in = hvl::ipmi::unchecked_data(response);
    in.skip(5);
    *enabled = in.u8() == 1 ? 1 : 0;
    return 0;
}

int picmg_port_state(IpmiIntf *intf, uint8_t channel, uint8_t interface, uint8_t *enabled) {
    if (enabled != nullptr) {
        *enabled = 0;
    }
    if (const int rc = unusable(intf, enabled, HVL_HERE)) {
        return rc;
    }
    return picmg_port_state_parse(intf, channel, interface, enabled);
}

int picmg_get_max_fruid(IpmiIntf *intf, uint8_t *max_fruid) {
    if (const int rc = unusable(intf, max_fruid, HVL_HERE)) {
        return rc;
    }
    IpmiResponse response{};
    const int rc = picmg_get_properties(intf, &response);
    if (rc == 0) {
        hvl::ByteReader in = hvl::ipmi::unchecked_data(response);
        in.skip(2);
        *max_fruid = in.u8();
    }
    return rc;
}

int picmg_get_ipml_by_siteid(uint8_t site, uint8_t *addr) {
    if (site < kFirstAmcSite || site > kLastAmcSite) {
        HVL_LOGF(MINOR, "got invalid size id %d", static_cast<int>(site));
        return kBadSite;
    }
    if (addr != nullptr) {
        *addr = static_cast<uint8_t>(kIpmbLBase + 2 * site);
    }
    return 0;
}

} // extern "C"
