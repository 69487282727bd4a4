// A driver request as a device receives it, and what it comes to; the
// calling program's memory as the driver sees it. A request carries a pointer
// to a record, whose fields may point further; the driver copies them in and
// out as the kernel's copy_from_user and copy_to_user do, field by field in
// the caller's layout (pointer and long size, byte order), so the same model
// serves a program of the host and one of the board.
#pragma once

#include "protocol.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// An ioctl as the caller made it. The request number is taken apart by the
// caller, whose numbering differs between the host and the board; the number
// itself is kept for the trace.
struct IoctlCall {
    std::uint32_t number = 0;
    std::uint8_t type = 0;  // the driver's letter
    std::uint8_t code = 0;  // the command within it
    std::uint16_t size = 0; // the record size the number says
    std::uint64_t arg = 0;  // the caller's pointer
};

// What a request came to, before the writes to the caller's memory are
// known to have been made: the result, the record as sent and as written for
// the trace, and what undoes it should a write fail.
struct Outcome {
    int ret = 0;
    int err = 0;
    std::string name; // the request's name for the trace
    std::string sent; // its fields as sent
    std::string got;  // its fields as the driver wrote them
    std::function<void()> undo;
};

// The outcome of a request that failed with `err`.
inline Outcome failed(std::string name, int err, std::string sent = {}) {
    return Outcome{-1, err, std::move(name), std::move(sent), {}, {}};
}

// The caller's C layout: fields are aligned to their size, as on both targets.
struct Abi {
    std::uint8_t pointer_size = sizeof(void *);
    std::uint8_t long_size = sizeof(long);
    bool big_endian = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__;
};

enum class Field : std::uint8_t { U8, U16, U32, Long, Pointer };

// The values of a record's fields, in the order of its layout.
template <std::size_t N> using Values = std::array<std::uint64_t, N>;

inline std::size_t field_size(Field field, const Abi &abi) {
    const std::size_t sizes[] = {1, 2, 4, abi.long_size, abi.pointer_size}; // as Field
    return sizes[static_cast<std::size_t>(field)];
}

// Calls `each(offset, size, index)` for every field and returns the record's
// size, padded to its widest field.
template <std::size_t N, typename Each>
std::size_t lay_out(const std::array<Field, N> &layout, const Abi &abi, Each each) {
    std::size_t at = 0;
    std::size_t widest = 1;
    for (std::size_t i = 0; i < N; ++i) {
        const std::size_t size = field_size(layout[i], abi);
        at = (at + size - 1) / size * size;
        each(at, size, i);
        at += size;
        widest = size > widest ? size : widest;
    }
    return (at + widest - 1) / widest * widest;
}

// The offset and size of each field of a layout.
template <std::size_t N>
std::array<std::pair<std::size_t, std::size_t>, N> field_places(const std::array<Field, N> &layout,
                                                                const Abi &abi) {
    std::array<std::pair<std::size_t, std::size_t>, N> places{};
    lay_out(layout, abi, [&](std::size_t at, std::size_t size, std::size_t i) {
        places[i] = {at, size};
    });
    return places;
}

template <std::size_t N>
std::size_t record_size(const std::array<Field, N> &layout, const Abi &abi) {
    return lay_out(layout, abi, [](std::size_t, std::size_t, std::size_t) {});
}

inline std::uint64_t get_number(const std::uint8_t *bytes, std::size_t size, const Abi &abi) {
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        value |= std::uint64_t{bytes[abi.big_endian ? size - 1 - i : i]} << (8 * i);
    }
    return value;
}

inline void put_number(std::uint8_t *bytes, std::size_t size, const Abi &abi, std::uint64_t value) {
    for (std::size_t i = 0; i < size; ++i) {
        bytes[abi.big_endian ? size - 1 - i : i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

template <std::size_t N>
Values<N> decode(const std::array<Field, N> &layout, const Abi &abi, const std::uint8_t *bytes) {
    Values<N> values{};
    lay_out(layout, abi, [&](std::size_t at, std::size_t size, std::size_t i) {
        values[i] = get_number(bytes + at, size, abi);
    });
    return values;
}

template <std::size_t N>
std::vector<std::uint8_t> encode(const std::array<Field, N> &layout, const Abi &abi,
                                 const Values<N> &values) {
    std::vector<std::uint8_t> bytes(record_size(layout, abi));
    lay_out(layout, abi, [&](std::size_t at, std::size_t size, std::size_t i) {
        put_number(bytes.data() + at, size, abi, values[i]);
    });
    return bytes;
}

// A long or a pointer-sized number of the caller, as the signed value it is.
inline std::int64_t as_signed(std::uint64_t value, std::size_t size) {
    const unsigned shift = 64 - 8 * static_cast<unsigned>(size);
    return static_cast<std::int64_t>(value << shift) >> shift;
}

class UserMemory {
public:
    explicit UserMemory(const Abi &abi) : abi_(abi) {}
    virtual ~UserMemory() = default;
    UserMemory(const UserMemory &) = delete;
    UserMemory &operator=(const UserMemory &) = delete;

    const Abi &abi() const { return abi_; }
    // copy_from_user: false when the bytes cannot be read.
    virtual bool read(std::uint64_t address, std::uint8_t *to, std::size_t count) = 0;
    // copy_to_user. A write that fails fails the request with EFAULT, after
    // the writes before it were made; whether one did is known once the
    // request is done (see Devices::finish).
    virtual void write(std::uint64_t address, const std::uint8_t *from, std::size_t count) = 0;
    void write(std::uint64_t address, const std::vector<std::uint8_t> &bytes) {
        write(address, bytes.data(), bytes.size());
    }

    // Reads a record at `address` into `values`.
    template <std::size_t N>
    bool read_record(std::uint64_t address, const std::array<Field, N> &layout, Values<N> &values) {
        std::vector<std::uint8_t> bytes(record_size(layout, abi_));
        if (!read(address, bytes.data(), bytes.size())) {
            return false;
        }
        values = decode(layout, abi_, bytes.data());
        return true;
    }

private:
    Abi abi_;
};

} // namespace sim
