// The PICMG side of a management controller: the FRUs it represents, their
// LEDs and the ports of its links, as the board file gives them (read in
// board_toml.cpp), and its answers to the PICMG requests (netfn 0x2C). The
// IPMC answers them, and so do the controllers behind it on IPMB-L (ipmc.h).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

struct Exchange;

constexpr std::uint8_t kNetFnPicmg = 0x2C;

// The IPMB channel of IPMB-L, where the controllers behind the IPMC are.
constexpr std::uint16_t kIpmbLChannel = 7;

// A FRU other than 0 (the controller itself): where it sits.
struct PicmgFru {
    std::uint8_t id = 0;
    std::uint8_t site_id = 0;
    std::uint8_t site_type = 0;
};

// Function, on-duration and colour of an LED in one of its states.
using LedState = std::array<std::uint8_t, 3>;

struct PicmgLed {
    std::uint8_t fru = 0;
    std::uint8_t id = 0;      // 0 blue, 1-3 LED1-LED3, 4 and up application-specific
    std::uint8_t colours = 0; // the colours it can show, bit n for colour n
    LedState local{};
    std::optional<LedState> override_state;
};

// A link of a backplane port (`where` its interface) or of an AMC port
// (`where` its on-carrier device).
struct PicmgLink {
    std::uint8_t where = 0;
    std::uint8_t channel = 0;
    std::uint8_t lanes = 0; // port or lane flags
    std::uint8_t type = 0;
    std::uint8_t extension = 0;
    std::uint8_t group = 0;
    bool enabled = false;
};

struct PicmgBoard {
    std::vector<PicmgFru> frus;
    std::vector<PicmgLed> leds;
    std::vector<PicmgLink> ports;
    std::vector<PicmgLink> amc_ports;
};

// Get PICMG Properties, Get Address Info, Get FRU LED Properties, Get LED Color
// Capabilities, Get FRU LED State, Get Port State, Get AMC Port State: each
// answers from the request's data after the identifier with the completion code.
std::uint8_t picmg_properties(Exchange &x);
std::uint8_t picmg_address_info(Exchange &x);
std::uint8_t picmg_led_properties(Exchange &x);
std::uint8_t picmg_led_colours(Exchange &x);
std::uint8_t picmg_led_state(Exchange &x);
std::uint8_t picmg_port_state(Exchange &x);
std::uint8_t picmg_amc_port_state(Exchange &x);

} // namespace sim
