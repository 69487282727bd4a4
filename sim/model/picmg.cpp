#include "picmg.h"

#include "ipmc.h"

#include <algorithm>

namespace sim {
namespace {

// Get Address Info may go on after the FRU with an address key type, the key
// and a site type, which are not looked at. The FRU, its site number and site
// type are the last three bytes of the answer.
constexpr std::size_t kAddressKeys = 3;
constexpr std::size_t kFruAt = 4;

constexpr std::uint8_t kFirstAppLed = 4; // LED IDs below are the four general status LEDs
constexpr std::uint8_t kLedLocal = 0x01, kLedOverride = 0x02; // LED states
constexpr std::size_t kColourAt = 2;                          // in an LedState
constexpr std::size_t kLinksPerAnswer = 4;                    // of one port

// FRU `id` of the controller; null for FRU 0, the controller itself, and for
// a FRU it does not have.
const PicmgFru *fru_of(const IpmcBoard &board, std::uint8_t id) {
    const auto &frus = board.picmg.frus;
    const auto found =
        std::find_if(frus.begin(), frus.end(), [&](const PicmgFru &f) { return f.id == id; });
    return found != frus.end() ? &*found : nullptr;
}

bool has_fru(const IpmcBoard &board, std::uint8_t id) {
    return id == 0 || fru_of(board, id) != nullptr;
}

// The LED a request names by FRU and LED ID, or null and the completion code.
const PicmgLed *named_led(Exchange &x, std::uint8_t &ccode) {
    const std::uint8_t fru = x.in.u8();
    const std::uint8_t id = x.in.u8();
    const auto &leds = x.board.picmg.leds;
    const auto found = std::find_if(leds.begin(), leds.end(), [&](const PicmgLed &led) {
        return led.fru == fru && led.id == id;
    });
    ccode = !has_fru(x.board, fru) ? kCcNotPresent
            : found == leds.end()  ? kCcInvalidField
                                   : kCcSuccess;
    return ccode == kCcSuccess ? &*found : nullptr;
}

// Up to four links of the port `where`/`channel`, each its link info and state:
// four bytes of a backplane link (channel, interface, ports, type, extension,
// grouping), three of an AMC link (lanes, type, extension, grouping).
std::uint8_t add_links(Exchange &x, const std::vector<PicmgLink> &links, std::uint8_t where,
                       std::uint8_t channel, bool amc) {
    std::size_t added = 0;
    for (const PicmgLink &l : links) {
        if (l.where != where || l.channel != channel || added == kLinksPerAnswer) {
            continue;
        }
        ++added;
        const std::uint32_t common = l.type | l.extension << 8U | l.group << 12U;
        const std::uint32_t info = amc ? l.lanes | common << 4U
                                       : l.channel | l.where << 6U | l.lanes << 8U | common << 12U;
        for (std::size_t i = 0; i < (amc ? 3U : 4U); ++i) {
            x.out.u8(static_cast<std::uint8_t>(info >> (8 * i)));
        }
        x.out.u8(l.enabled ? 1 : 0);
    }
    return kCcSuccess;
}

} // namespace

// Extension version, max FRU ID, the controller's FRU.
std::uint8_t picmg_properties(Exchange &x) { return answer_bytes(x, x.board.properties, 1); }

// The controller's address information, with the FRU's site for a FRU other than 0.
std::uint8_t picmg_address_info(Exchange &x) {
    const std::uint8_t id = x.in.remaining() != 0 ? x.in.u8() : 0;
    if (x.in.remaining() > kAddressKeys) {
        return kCcBadLength;
    }
    if (!has_fru(x.board, id)) {
        return kCcNotPresent;
    }
    Bytes info = x.board.address_info;
    if (const PicmgFru *fru = fru_of(x.board, id)) {
        info[kFruAt] = id;
        info[kFruAt + 1] = fru->site_id;
        info[kFruAt + 2] = fru->site_type;
    }
    return answer_bytes(x, info, 1);
}

// The general status LEDs a FRU has (a bit each), and how many more.
std::uint8_t picmg_led_properties(Exchange &x) {
    const std::uint8_t fru = x.in.u8();
    if (!has_fru(x.board, fru)) {
        return kCcNotPresent;
    }
    std::uint8_t general = 0;
    std::uint8_t more = 0;
    for (const PicmgLed &led : x.board.picmg.leds) {
        general |= led.fru == fru && led.id < kFirstAppLed ? 1U << led.id : 0U;
        more += led.fru == fru && led.id >= kFirstAppLed ? 1 : 0;
    }
    x.out.u8(general).u8(more);
    return kCcSuccess;
}

// The colours it can show; its colour in local control and in override state
// are their defaults.
std::uint8_t picmg_led_colours(Exchange &x) {
    std::uint8_t ccode = 0;
    if (const PicmgLed *led = named_led(x, ccode)) {
        x.out.u8(led->colours).u8(led->local[kColourAt]);
        x.out.u8(led->override_state.value_or(led->local)[kColourAt]);
    }
    return ccode;
}

// The states it is in and the local control state; the override state when
// it is in it.
std::uint8_t picmg_led_state(Exchange &x) {
    std::uint8_t ccode = 0;
    if (const PicmgLed *led = named_led(x, ccode)) {
        x.out.u8(led->override_state ? kLedLocal | kLedOverride : kLedLocal);
        x.out.bytes(led->local.data(), led->local.size());
        if (led->override_state) {
            x.out.bytes(led->override_state->data(), led->override_state->size());
        }
    }
    return ccode;
}

std::uint8_t picmg_port_state(Exchange &x) {
    const std::uint8_t link = x.in.u8();
    return add_links(x, x.board.picmg.ports, link >> 6, link & 0x3F, false);
}

// The channel, and the on-carrier device when the request names one (0 when not).
std::uint8_t picmg_amc_port_state(Exchange &x) {
    const std::uint8_t channel = x.in.u8();
    const std::uint8_t device = x.in.remaining() != 0 ? x.in.u8() : 0;
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    return add_links(x, x.board.picmg.amc_ports, device, channel, true);
}

} // namespace sim
