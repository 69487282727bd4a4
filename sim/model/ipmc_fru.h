// The IPMC's FRU devices as the Storage requests see them: Get FRU Inventory
// Area Info, Read FRU Data and Write FRU Data. Each device's inventory area
// is the store region "ipmc.fru.ID", from the board file's image at reset, so
// writes last like every other state.
#pragma once

#include "board.h"
#include "store.h"

#include <cstdint>
#include <vector>

namespace sim {

struct Exchange;

// The inventory area of each of the board's FRU devices, in its order.
std::vector<Region *> fru_areas(const IpmcBoard &board, Store &store);

// Each answers a request: the completion code.
std::uint8_t fru_area_info(Exchange &x);
std::uint8_t read_fru(Exchange &x);
std::uint8_t write_fru(Exchange &x);

} // namespace sim
