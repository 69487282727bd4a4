// The engineering record the IPMC keeps for the host: 3 feature-capability
// bytes and the 14 bytes of engineering options, whose last byte is a CRC-8
// of the 13 before it.
#pragma once

#include "board.h"

#include <hvl/hvl_ipmi_ostrel.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

using EngRecordBytes = std::array<std::uint8_t, OSTREL_ENG_RECORD_SIZE>;

// CRC-8 as the IPMC firmware computes it over the options: polynomial 0x07,
// initial value 0xA5, most significant bit first, no final XOR.
std::uint8_t eng_crc8(const std::uint8_t *data, std::size_t length);

// The record after reset: the board file's fields with the mezzanine flag and
// a valid CRC, or the verbatim record the board file gives.
std::vector<std::uint8_t> eng_record_after_reset(const IpmcBoard &ipmc);

} // namespace sim
