// The IPMC's FRU devices as the Storage requests see them: Get FRU Inventory
// Area Info, Read FRU Data and Write FRU Data. Each device's inventory area
// is the store region "ipmc.fru.ID", from the board file's image at reset, so
// writes last like every other state.
#pragma once

#include "board.h"
#include "store.h"

#include "common/byte_io.h"

#include <cstdint>
#include <vector>

namespace sim {

class FruDevices {
public:
    FruDevices(const IpmcBoard &board, Store &store);

    // Each answers a request whose data `in` holds: the completion code, and
    // the answer's data in `out`.
    std::uint8_t area_info(hvl::ByteReader &in, hvl::ByteWriter &out) const;
    std::uint8_t read(hvl::ByteReader &in, hvl::ByteWriter &out) const;
    std::uint8_t write(hvl::ByteReader &in, hvl::ByteWriter &out);

private:
    struct Device {
        const FruDevice &board;
        Region &area;
    };
    // The device the request's first byte names, or none.
    const Device *device(hvl::ByteReader &in) const;

    std::vector<Device> devices_;
};

} // namespace sim
