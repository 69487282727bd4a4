#include "picmg.h"

#include "board.h"
#include "ipmc.h"

#include "common/byte_io.h"
#include "ipmi/ostrel_constants.h"

#include <algorithm>

namespace sim {
namespace {

constexpr std::uint8_t kPicmgIdentifier = 0x00;

// Get Address Info may go on after the FRU with an address key type, the key
// and a site type, which are not looked at. The FRU, its site number and site
// type are the last three bytes of the answer.
constexpr std::size_t kAddressKeys = 3;
constexpr std::size_t kFruAt = 4;

constexpr std::uint8_t kFirstAppLed = 4; // LED IDs below are the four general status LEDs
constexpr std::uint8_t kLedLocal = 0x01, kLedOverride = 0x02; // LED states
constexpr std::size_t kColourAt = 2;                          // in an LedState
constexpr std::size_t kLinksPerAnswer = 4;                    // of one port

// One PICMG request being answered: its data after the identifier, and the
// answer after the identifier.
struct Ask {
    const IpmcBoard &board;
    hvl::ByteReader in;
    Bytes &out;
};

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

// Extension version, max FRU ID, the controller's FRU.
std::uint8_t properties(Ask &a) {
    if (!a.in.finished()) {
        return kCcBadLength;
    }
    a.out.insert(a.out.end(), a.board.properties.begin() + 1, a.board.properties.end());
    return kCcSuccess;
}

// The controller's address information, with the FRU's site for a FRU other than 0.
std::uint8_t address_info(Ask &a) {
    const std::uint8_t id = a.in.remaining() != 0 ? a.in.u8() : 0;
    if (a.in.remaining() > kAddressKeys) {
        return kCcBadLength;
    }
    if (!has_fru(a.board, id)) {
        return kCcNotPresent;
    }
    Bytes info = a.board.address_info;
    if (const PicmgFru *fru = fru_of(a.board, id)) {
        info[kFruAt] = id;
        info[kFruAt + 1] = fru->site_id;
        info[kFruAt + 2] = fru->site_type;
    }
    a.out.insert(a.out.end(), info.begin() + 1, info.end());
    return kCcSuccess;
}

// The general status LEDs a FRU has (a bit each), and how many more.
std::uint8_t led_properties(Ask &a) {
    const std::uint8_t fru = a.in.u8();
    if (!a.in.finished()) {
        return kCcBadLength;
    }
    if (!has_fru(a.board, fru)) {
        return kCcNotPresent;
    }
    std::uint8_t general = 0;
    std::uint8_t more = 0;
    for (const PicmgLed &led : a.board.picmg.leds) {
        general |= led.fru == fru && led.id < kFirstAppLed ? 1U << led.id : 0U;
        more += led.fru == fru && led.id >= kFirstAppLed ? 1 : 0;
    }
    a.out.push_back(general);
    a.out.push_back(more);
    return kCcSuccess;
}

// The LED a request names by FRU and LED ID, or null and the completion code.
const PicmgLed *named_led(Ask &a, std::uint8_t &ccode) {
    const std::uint8_t fru = a.in.u8();
    const std::uint8_t id = a.in.u8();
    const auto &leds = a.board.picmg.leds;
    const auto found = std::find_if(leds.begin(), leds.end(), [&](const PicmgLed &led) {
        return led.fru == fru && led.id == id;
    });
    ccode = !a.in.finished()         ? kCcBadLength
            : !has_fru(a.board, fru) ? kCcNotPresent
            : found == leds.end()    ? kCcInvalidField
                                     : kCcSuccess;
    return ccode == kCcSuccess ? &*found : nullptr;
}

// The colours it can show; its colour in local control and in override state
// are their defaults.
std::uint8_t led_colours(Ask &a) {
    std::uint8_t ccode = 0;
    if (const PicmgLed *led = named_led(a, ccode)) {
        a.out.push_back(led->colours);
        a.out.push_back(led->local[kColourAt]);
        a.out.push_back(led->override_state.value_or(led->local)[kColourAt]);
    }
    return ccode;
}

// The states it is in and the local control state; the override state when
// it is in it.
std::uint8_t led_state(Ask &a) {
    std::uint8_t ccode = 0;
    const PicmgLed *led = named_led(a, ccode);
    if (led == nullptr) {
        return ccode;
    }
    a.out.push_back(led->override_state ? kLedLocal | kLedOverride : kLedLocal);
    a.out.insert(a.out.end(), led->local.begin(), led->local.end());
    if (led->override_state) {
        a.out.insert(a.out.end(), led->override_state->begin(), led->override_state->end());
    }
    return kCcSuccess;
}

// Up to four links of the port `where`/`channel`, each its link info and state:
// four bytes of a backplane link (channel, interface, ports, type, extension,
// grouping), three of an AMC link (lanes, type, extension, grouping).
void add_links(Ask &a, const std::vector<PicmgLink> &links, std::uint8_t where,
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
            a.out.push_back(static_cast<std::uint8_t>(info >> (8 * i)));
        }
        a.out.push_back(l.enabled ? 1 : 0);
    }
}

std::uint8_t port_state(Ask &a) {
    const std::uint8_t link = a.in.u8();
    if (!a.in.finished()) {
        return kCcBadLength;
    }
    add_links(a, a.board.picmg.ports, link >> 6, link & 0x3F, false);
    return kCcSuccess;
}

// The channel, and the on-carrier device when the request names one (0 when not).
std::uint8_t amc_port_state(Ask &a) {
    const std::uint8_t channel = a.in.u8();
    const std::uint8_t device = a.in.remaining() != 0 ? a.in.u8() : 0;
    if (!a.in.finished()) {
        return kCcBadLength;
    }
    add_links(a, a.board.picmg.amc_ports, device, channel, true);
    return kCcSuccess;
}

struct Command {
    std::uint8_t cmd;
    std::uint8_t (*run)(Ask &);
};

// Get PICMG Properties, Get Address Info, Get FRU LED Properties, Get LED Color
// Capabilities, Get FRU LED State, Get Port State, Get AMC Port State.
constexpr Command kCommands[] = {
    {0x00, properties}, {0x01, address_info}, {0x05, led_properties}, {0x06, led_colours},
    {0x08, led_state},  {0x0F, port_state},   {0x1A, amc_port_state}};

} // namespace

Bytes picmg_answer(const IpmcBoard &board, const IpmiRequestBytes &request) {
    const auto *command = std::find_if(std::begin(kCommands), std::end(kCommands),
                                       [&](const Command &c) { return c.cmd == request.cmd; });
    if (request.netfn != kNetFnPicmg || command == std::end(kCommands)) {
        return {kCcInvalidCommand};
    }
    Bytes out{kCcSuccess, kPicmgIdentifier};
    Ask a{board, hvl::ByteReader(request.data, request.length), out};
    const std::uint8_t identifier = a.in.u8();
    const std::uint8_t ccode = !a.in.ok()                       ? kCcBadLength
                               : identifier != kPicmgIdentifier ? kCcInvalidField
                                                                : command->run(a);
    return ccode == kCcSuccess ? out : Bytes{ccode};
}

// A controller on IPMB-L tells its device ID and answers the PICMG requests.
std::optional<Bytes> behind_ipmc(const IpmcBoard &ipmc, std::uint16_t channel, std::uint8_t address,
                                 const IpmiRequestBytes &request) {
    const auto &all = ipmc.controllers;
    const auto found = std::find_if(all.begin(), all.end(), [&](const IpmcBoard &controller) {
        return ipmb0_address(controller) == address;
    });
    if (channel != kIpmbLChannel || found == all.end()) {
        return std::nullopt;
    }
    if (request.netfn == hvl::ostrel::kNetFnApp && request.cmd == hvl::ostrel::kCmdGetDeviceId) {
        Bytes answer{request.length == 0 ? kCcSuccess : kCcBadLength};
        answer.insert(answer.end(), found->device_id.begin(),
                      request.length == 0 ? found->device_id.end() : found->device_id.begin());
        return answer;
    }
    return picmg_answer(*found, request);
}

} // namespace sim
