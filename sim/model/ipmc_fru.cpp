#include "ipmc_fru.h"

#include "ipmc.h"

#include <algorithm>
#include <string>

namespace sim {
namespace {

constexpr std::uint8_t kWordAccess = 0x01; // Get FRU Inventory Area Info: the access byte
constexpr std::size_t kWordSize = 2;
// A count of bytes written fits its byte.
constexpr std::size_t kMaxWrite = 0xFF;

// The device the request's first byte names, its area and its access unit.
struct Device {
    const FruDevice *board = nullptr; // null: no such device
    Region *area = nullptr;
    std::size_t unit = 1;
};

Device device(Exchange &x) {
    const std::uint8_t id = x.in.u8();
    const auto &all = x.board.fru;
    const auto found =
        std::find_if(all.begin(), all.end(), [&](const FruDevice &d) { return d.id == id; });
    if (found == all.end()) {
        return {};
    }
    return {&*found, x.ipmc.fru[found - all.begin()], found->word_access ? kWordSize : 1};
}

} // namespace

std::vector<Region *> fru_areas(const IpmcBoard &board, Store &store) {
    std::vector<Region *> areas;
    for (const FruDevice &fru : board.fru) {
        areas.push_back(&store.region("ipmc.fru." + std::to_string(fru.id), fru.image));
    }
    return areas;
}

// FRU ID: the area's size in bytes, least significant byte first, and the
// access byte.
std::uint8_t fru_area_info(Exchange &x) {
    const Device fru = device(x);
    if (fru.board == nullptr) {
        return kCcNotPresent;
    }
    x.out.u16(static_cast<std::uint16_t>(fru.area->size()))
        .u8(fru.board->word_access ? kWordAccess : 0);
    return kCcSuccess;
}

// FRU ID, offset (2 bytes), count: the count returned, then the area's bytes
// from the offset, cut at its end. With word access the offset and the count
// returned are in words, while the count asked is in bytes, as the board's
// IPMC takes it: it sends the whole words within it.
std::uint8_t read_fru(Exchange &x) {
    const Device fru = device(x);
    const std::size_t offset = x.in.u16();
    const std::size_t count = x.in.u8();
    if (fru.board == nullptr) {
        return kCcNotPresent;
    }
    const std::size_t from = offset * fru.unit;
    if (fru.board->transfer_limit != 0 && count > fru.board->transfer_limit) {
        return fru.board->limit_code;
    }
    if (from >= fru.area->size()) {
        return kCcOutOfRange;
    }
    const std::size_t sent = std::min(count / fru.unit * fru.unit, fru.area->size() - from);
    x.out.u8(static_cast<std::uint8_t>(sent / fru.unit)).bytes(fru.area->data() + from, sent);
    return kCcSuccess;
}

// FRU ID, offset (2 bytes), the bytes (whole words with word access): the
// count written. What runs past the area's end is not written.
std::uint8_t write_fru(Exchange &x) {
    const Device fru = device(x);
    const std::size_t to = x.in.u16() * fru.unit;
    const std::size_t given = x.in.remaining();
    if (!x.in.ok() || given == 0 || given > kMaxWrite || given % fru.unit != 0) {
        return kCcBadLength;
    }
    if (fru.board == nullptr) {
        return kCcNotPresent;
    }
    if (to >= fru.area->size()) {
        return kCcOutOfRange;
    }
    Bytes bytes(given);
    x.in.bytes(bytes.data(), bytes.size());
    const std::size_t written = std::min(given, fru.area->size() - to);
    fru.area->write(to, bytes.data(), written);
    x.out.u8(static_cast<std::uint8_t>(written / fru.unit));
    return kCcSuccess;
}

} // namespace sim
