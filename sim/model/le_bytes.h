// Little-endian fields of the persistent state, assembled a byte at a time so
// the file reads the same on the board and on the build host.
#pragma once

#include <cstdint>

namespace sim {

inline std::uint32_t get_le32(const std::uint8_t *bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline void put_le32(std::uint8_t *bytes, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

inline std::uint64_t get_le64(const std::uint8_t *bytes) {
    return static_cast<std::uint64_t>(get_le32(bytes)) |
           static_cast<std::uint64_t>(get_le32(bytes + 4)) << 32;
}

inline void put_le64(std::uint8_t *bytes, std::uint64_t value) {
    put_le32(bytes, static_cast<std::uint32_t>(value));
    put_le32(bytes + 4, static_cast<std::uint32_t>(value >> 32));
}

} // namespace sim
