// Bounds-checked reading and writing of wire bytes. Multi-byte fields are
// least significant byte first and are assembled with shifts, so the code is
// the same on the big-endian board and on a little-endian workstation.
//
// Running past the end sets an error that stays set: reads then yield 0 and
// writes store nothing, so a decoder can read every field and check once at
// the end. `finished()` also rejects bytes that were left over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#define HVL_ALWAYS_INLINE inline __attribute__((always_inline))

namespace hvl {

// The position in a buffer of bytes and the sticky overrun error, shared by
// the reader and the writer.
template <typename Byte> class ByteCursor {
public:
    bool ok() const { return !overrun_; }

protected:
    ByteCursor(Byte *data, size_t size) : data_(data), size_(data != nullptr ? size : 0) {}

    // Moves past `count` bytes if they are all there; the first overrun sticks.
    // Inlined even where the build favours size: a call costs more than the test.
    HVL_ALWAYS_INLINE bool take(size_t count) {
        if (overrun_ || count > size_ - pos_) {
            overrun_ = true;
            return false;
        }
        pos_ += count;
        return true;
    }

    // The `count` bytes just taken.
    Byte *taken(size_t count) const { return data_ + pos_ - count; }

    Byte *data_;
    size_t size_;
    size_t pos_ = 0;

private:
    bool overrun_ = false;
};

class ByteReader : public ByteCursor<const uint8_t> {
public:
    ByteReader(const uint8_t *data, size_t size) : ByteCursor(data, size) {}

    uint8_t u8() { return static_cast<uint8_t>(load<1>()); }
    uint16_t u16() { return static_cast<uint16_t>(load<2>()); }
    uint32_t u32() { return static_cast<uint32_t>(load<4>()); }
    uint64_t u64() { return load<8>(); }

    // Copies `count` bytes to `out`; `out` may overlap the source.
    void bytes(uint8_t *out, size_t count) {
        if (take(count) && count > 0) {
            std::memmove(out, taken(count), count);
        }
    }

    void skip(size_t count) { take(count); }

    size_t remaining() const { return size_ - pos_; }
    // Every field was there and nothing follows them.
    bool finished() const { return ok() && remaining() == 0; }

private:
    // A field that is not there whole reads as 0. The width is a constant and
    // the loop unrolled, so the compiler makes it one load where it can.
    template <size_t count> HVL_ALWAYS_INLINE uint64_t load() {
        uint64_t value = 0;
        if (take(count)) {
            const uint8_t *field = taken(count);
#pragma GCC unroll 8
            for (size_t i = 0; i < count; ++i) {
                value |= static_cast<uint64_t>(field[i]) << (8 * i);
            }
        }
        return value;
    }
};

class ByteWriter : public ByteCursor<uint8_t> {
public:
    ByteWriter(uint8_t *data, size_t size) : ByteCursor(data, size) {}

    ByteWriter &u8(uint8_t value) { return store<1>(value); }
    ByteWriter &u16(uint16_t value) { return store<2>(value); }
    ByteWriter &u32(uint32_t value) { return store<4>(value); }
    ByteWriter &u64(uint64_t value) { return store<8>(value); }

    ByteWriter &bytes(const uint8_t *in, size_t count) {
        if (take(count) && count > 0) {
            std::memmove(taken(count), in, count);
        }
        return *this;
    }

    template <size_t N> ByteWriter &bytes(const uint8_t (&in)[N]) { return bytes(in, N); }

    // The bytes written so far, from the start of the buffer.
    const uint8_t *data() const { return data_; }
    size_t length() const { return pos_; }

private:
    // A field that does not fit whole is not written at all.
    template <size_t count> HVL_ALWAYS_INLINE ByteWriter &store(uint64_t value) {
        if (take(count)) {
            uint8_t *field = taken(count);
#pragma GCC unroll 8
            for (size_t i = 0; i < count; ++i) {
                field[i] = static_cast<uint8_t>(value >> (8 * i));
            }
        }
        return *this;
    }
};

} // namespace hvl
