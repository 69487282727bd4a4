#include "ipmc_fru.h"

#include "ipmc.h"

#include <linux/ipmi.h>

#include <algorithm>
#include <string>

namespace sim {
namespace {

constexpr std::uint8_t kWordAccess = 0x01; // Get FRU Inventory Area Info: the access byte
constexpr std::size_t kWordSize = 2;
// A count of bytes written fits its byte.
constexpr std::size_t kMaxWrite = 0xFF;

std::size_t unit(const FruDevice &device) { return device.word_access ? kWordSize : 1; }

} // namespace

FruDevices::FruDevices(const IpmcBoard &board, Store &store) {
    for (const FruDevice &fru : board.fru) {
        devices_.push_back({fru, store.region("ipmc.fru." + std::to_string(fru.id), fru.image)});
    }
}

const FruDevices::Device *FruDevices::device(hvl::ByteReader &in) const {
    const std::uint8_t id = in.u8();
    const auto found = std::find_if(devices_.begin(), devices_.end(),
                                    [&](const Device &d) { return d.board.id == id; });
    return found != devices_.end() ? &*found : nullptr;
}

// FRU ID: the area's size in bytes, least significant byte first, and the
// access byte.
std::uint8_t FruDevices::area_info(hvl::ByteReader &in, hvl::ByteWriter &out) const {
    const Device *fru = device(in);
    if (!in.finished()) {
        return kCcBadLength;
    }
    if (fru == nullptr) {
        return kCcNotPresent;
    }
    out.u16(static_cast<std::uint16_t>(fru->area.size()))
        .u8(fru->board.word_access ? kWordAccess : 0);
    return kCcSuccess;
}

// FRU ID, offset (2 bytes), count: the count returned, then the area's bytes
// from the offset, cut at its end. With word access the offset and the count
// returned are in words, while the count asked is in bytes, as the board's
// IPMC takes it: it sends the whole words within it.
std::uint8_t FruDevices::read(hvl::ByteReader &in, hvl::ByteWriter &out) const {
    const Device *fru = device(in);
    const std::size_t offset = in.u16();
    const std::size_t count = in.u8();
    if (!in.finished()) {
        return kCcBadLength;
    }
    if (fru == nullptr) {
        return kCcNotPresent;
    }
    const std::size_t size = unit(fru->board);
    const std::size_t from = offset * size;
    const std::size_t asked = count / size * size;
    if (fru->board.transfer_limit != 0 && count > fru->board.transfer_limit) {
        return fru->board.limit_code;
    }
    if (from >= fru->area.size()) {
        return kCcOutOfRange;
    }
    const std::size_t sent = std::min(asked, fru->area.size() - from);
    out.u8(static_cast<std::uint8_t>(sent / size)).bytes(fru->area.data() + from, sent);
    return kCcSuccess;
}

// FRU ID, offset (2 bytes), the bytes (whole words with word access): the
// count written. What runs past the area's end is not written.
std::uint8_t FruDevices::write(hvl::ByteReader &in, hvl::ByteWriter &out) {
    const Device *fru = device(in);
    const std::size_t offset = in.u16();
    const std::size_t given = in.remaining();
    if (!in.ok() || given == 0 || given > kMaxWrite ||
        (fru != nullptr && given % unit(fru->board) != 0)) {
        return kCcBadLength;
    }
    if (fru == nullptr) {
        return kCcNotPresent;
    }
    const std::size_t to = offset * unit(fru->board);
    if (to >= fru->area.size()) {
        return kCcOutOfRange;
    }
    Bytes bytes(given);
    in.bytes(bytes.data(), bytes.size());
    const std::size_t written = std::min(given, fru->area.size() - to);
    fru->area.write(to, bytes.data(), written);
    out.u8(static_cast<std::uint8_t>(written / unit(fru->board)));
    return kCcSuccess;
}

} // namespace sim
