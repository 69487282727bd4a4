#include "ipmc_oem.h"

#include "ipmc.h"

#include <algorithm>

namespace sim {
namespace {

constexpr std::size_t kIdsAt = 6; // manufacturer and product ID in Get Device ID
constexpr std::size_t kIdsSize = 5;

// The entry the request's first byte chooses, when the value has several.
std::size_t entry(Exchange &x) { return x.value->entries > 1 ? x.in.u8() : 0; }

// A memory's address: one byte within 256, else two.
std::size_t address(Exchange &x) { return x.value->size > 0x100 ? x.in.u16() : x.in.u8(); }

// Where the value's entry `chosen` starts in the region.
std::size_t entry_at(const Exchange &x, std::size_t chosen) {
    return oem_at(x.value->key) + chosen * x.value->size;
}

} // namespace

std::uint8_t oem_get(Exchange &x) {
    const std::size_t chosen = entry(x);
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    if (chosen >= x.value->entries) {
        return kCcOutOfRange;
    }
    x.out.bytes(x.ipmc.oem.data() + entry_at(x, chosen), x.value->size);
    return kCcSuccess;
}

std::uint8_t oem_set(Exchange &x) {
    const std::size_t chosen = entry(x);
    Bytes given(x.value->size);
    x.in.bytes(given.data(), given.size());
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    if (chosen >= x.value->entries) {
        return kCcOutOfRange;
    }
    if (std::any_of(given.begin(), given.end(),
                    [&](auto b) { return (b & ~x.value->bits) != 0; })) {
        return kCcInvalidField;
    }
    x.ipmc.oem.write(entry_at(x, chosen), given.data(), given.size());
    return kCcSuccess;
}

// Entry, address, count: the count, then the bytes.
std::uint8_t oem_read_memory(Exchange &x) {
    const std::size_t chosen = entry(x);
    const std::size_t from = address(x);
    const std::uint8_t count = x.in.u8();
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    if (chosen >= x.value->entries || from + count > x.value->size) {
        return kCcOutOfRange;
    }
    if (x.board.oem_transfer_limit != 0 && count > x.board.oem_transfer_limit) {
        return kCcCannotReturn;
    }
    x.out.u8(count).bytes(x.ipmc.oem.data() + entry_at(x, chosen) + from, count);
    return kCcSuccess;
}

// Address, then the bytes to write there.
std::uint8_t oem_write_memory(Exchange &x) {
    const std::size_t to = address(x);
    Bytes given(x.in.remaining());
    x.in.bytes(given.data(), given.size());
    if (!x.in.ok()) {
        return kCcBadLength;
    }
    if (to + given.size() > x.value->size) {
        return kCcOutOfRange;
    }
    x.ipmc.oem.write(entry_at(x, 0) + to, given.data(), given.size());
    return kCcSuccess;
}

// The IPMC's own manufacturer and product ID, then up to `size` characters;
// nothing after the signature puts the board's string back.
std::uint8_t oem_set_id_string(Exchange &x) {
    const std::size_t at = entry_at(x, 0);
    Bytes text(x.value->size);
    if (x.in.remaining() == 0) {
        for (std::size_t i = 0; i < text.size() && at + i < x.board.oem.size(); ++i) {
            text[i] = x.board.oem[at + i];
        }
    } else {
        Bytes ids(kIdsSize);
        x.in.bytes(ids.data(), ids.size());
        if (!x.in.ok() || x.in.remaining() > text.size()) {
            return kCcBadLength;
        }
        if (!std::equal(ids.begin(), ids.end(), x.board.device_id.begin() + kIdsAt)) {
            return kCcInvalidField;
        }
        x.in.bytes(text.data(), x.in.remaining());
    }
    x.ipmc.oem.write(at, text.data(), text.size());
    return kCcSuccess;
}

const OemValue *oem_value(std::string_view key) {
    const auto *found = std::find_if(std::begin(kOemValues), std::end(kOemValues),
                                     [&](const OemValue &value) { return value.key == key; });
    return found != std::end(kOemValues) ? found : nullptr;
}

} // namespace sim
