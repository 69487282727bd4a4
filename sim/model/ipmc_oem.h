// The IPMC's OEM configuration: the values its configuration requests read
// and change (the settings, release texts, device ID string, the XFP
// modules' memory and the block memory), kept in the store region
// "ipmc.oem" laid out as kOemValues says. The board file gives them by the
// same names in [ipmc.oem] (board_toml.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sim {

// One value: `entries` of `size` bytes, an entry chosen by the request's
// first byte when there are more. A set refuses bits outside `bits`.
struct OemValue {
    std::string_view key;
    std::size_t entries;
    std::size_t size;
    std::uint8_t bits;
};

inline constexpr OemValue kOemValues[] = {
    {"storage_switch", 2, 1, 0x01},   // state of switch 0 (target 3) and switch 1
    {"pcie_port_config", 1, 2, 0xFF}, // configurations a and b
    {"pcie_mode", 1, 1, 0xFF},
    {"pcie_hotplug", 4, 1, 0xFF}, // by port
    {"pcie_clock", 1, 1, 0xFF},
    {"boot_cycle", 1, 4, 0xFF}, // a, b (16 bits), c
    {"clock_source", 4, 1, 0xFF},
    {"clock_driver", 4, 1, 0x01},
    {"pll_config", 2, 1, 0xFF},
    {"pll_status", 1, 1, 0x00},        // read only
    {"debug", 1, 1, 0x11},             // flags a (bit 0) and b (bit 4), set only
    {"release", 1, 44, 0x00},          // three texts (hvl::ostrel::kReleaseTextAt)
    {"device_id_string", 1, 16, 0x00}, // set by its own request
    {"xfp", 2, 0x100, 0x00},           // module memory by port, read in pieces
    {"block", 1, 0x10000, 0x00},       // read and written in pieces
};

// Where the value `key` starts in the region; for a key of none, its size.
constexpr std::size_t oem_at(std::string_view key) {
    std::size_t at = 0;
    for (const OemValue &value : kOemValues) {
        if (value.key == key) {
            break;
        }
        at += value.entries * value.size;
    }
    return at;
}

constexpr std::size_t kOemSize = oem_at("");

// The value of `key`, if it is one.
const OemValue *oem_value(std::string_view key);

struct Exchange;

// The configuration requests on `x.value`: get and set an entry, read a
// memory's bytes, write the block memory, set the device ID string.
std::uint8_t oem_get(Exchange &x);
std::uint8_t oem_set(Exchange &x);
std::uint8_t oem_read_memory(Exchange &x);
std::uint8_t oem_write_memory(Exchange &x);
std::uint8_t oem_set_id_string(Exchange &x);

} // namespace sim
