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

namespace hvl {

class ByteReader {
public:
    ByteReader(const uint8_t *data, size_t size) : data_(data), size_(data != nullptr ? size : 0) {}

    uint8_t u8() { return take(1) ? data_[pos_ - 1] : 0; }

    uint16_t u16() {
        if (!take(2)) {
            return 0;
        }
        return static_cast<uint16_t>(data_[pos_ - 2] | (data_[pos_ - 1] << 8));
    }

    uint32_t u32() {
        if (!take(4)) {
            return 0;
        }
        const uint8_t *p = data_ + pos_ - 4;
        return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
               (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    }

    // Copies `count` bytes to `out`; `out` may overlap the source.
    void bytes(uint8_t *out, size_t count) {
        if (take(count) && count > 0) {
            std::memmove(out, data_ + pos_ - count, count);
        }
    }

    void skip(size_t count) { take(count); }

    bool ok() const { return !overrun_; }
    size_t remaining() const { return size_ - pos_; }
    // Every field was there and nothing follows them.
    bool finished() const { return ok() && remaining() == 0; }

private:
    bool take(size_t count) {
        if (overrun_ || count > size_ - pos_) {
            overrun_ = true;
            return false;
        }
        pos_ += count;
        return true;
    }

    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
    bool overrun_ = false;
};

class ByteWriter {
public:
    ByteWriter(uint8_t *data, size_t size) : data_(data), size_(data != nullptr ? size : 0) {}

    ByteWriter &u8(uint8_t value) { return store(value, 1); }
    ByteWriter &u16(uint16_t value) { return store(value, 2); }
    ByteWriter &u32(uint32_t value) { return store(value, 4); }

    ByteWriter &bytes(const uint8_t *in, size_t count) {
        if (take(count) && count > 0) {
            std::memmove(data_ + pos_ - count, in, count);
        }
        return *this;
    }

    template <size_t N> ByteWriter &bytes(const uint8_t (&in)[N]) { return bytes(in, N); }

    bool ok() const { return !overrun_; }
    // The bytes written so far, from the start of the buffer.
    const uint8_t *data() const { return data_; }
    size_t length() const { return pos_; }

private:
    bool take(size_t count) {
        if (overrun_ || count > size_ - pos_) {
            overrun_ = true;
            return false;
        }
        pos_ += count;
        return true;
    }

    // A field that does not fit whole is not written at all.
    ByteWriter &store(uint32_t value, size_t count) {
        if (take(count)) {
            for (size_t i = 0; i < count; ++i) {
                data_[pos_ - count + i] = static_cast<uint8_t>(value >> (8 * i));
            }
        }
        return *this;
    }

    uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
    bool overrun_ = false;
};

} // namespace hvl
