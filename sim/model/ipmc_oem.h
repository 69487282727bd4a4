// The IPMC's OEM configuration: the values its configuration requests read
// and change (the settings, release texts, device ID string, the XFP
// modules' memory and the block memory), kept in the store region
// "ipmc.oem" laid out as kOemValues says. The board file gives them by the
// same names in [ipmc.oem] (board_toml.cpp).
#pragma once

#include "board.h"
#include "store.h"

#include "common/byte_io.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace sim {

// What opens the data of a request: nothing, the access signature (netfn
// 0x3E), or the access code of the board's product (netfn 0x30; a product
// without one refuses them all).
enum class Prefix { None, Signature, AccessCode };

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

class OemConfig {
public:
    OemConfig(const IpmcBoard &board, Store &store);

    // The prefix of a configuration request; none for another request.
    std::optional<Prefix> prefix(std::uint8_t netfn, std::uint8_t cmd) const;

    // Answers a configuration request whose prefix was read: the completion
    // code, and the answer's data in `out`.
    std::uint8_t answer(std::uint8_t netfn, std::uint8_t cmd, hvl::ByteReader &in,
                        hvl::ByteWriter &out);

private:
    const IpmcBoard &board_;
    Region &values_;
};

} // namespace sim
