// What the preloaded shim and the runner say to each other. Each open
// descriptor of a simulated device is a connected SOCK_SEQPACKET socket to
// the runner, which keeps the board; each message is one packet, made and
// read with the byte reader and writer, every number little-endian.
//
// Open:   shim Open, runner Opened.
// ioctl:  shim Ioctl (with the record it points to, if it can be read, and
//         the buffers the record points to, as the runner described them);
//         the runner asks Read for whatever else of the caller's memory it
//         reads, and the shim answers each Read with Bytes; the runner ends
//         with Done,
//         which carries the writes to the caller's memory in order. When it
//         has writes, the shim answers Applied: all made, or the first one
//         that could not be, after which the runner sends Result.
// An IPMI descriptor must be readable exactly while an answer waits: the
// runner keeps one Ready packet in the socket then. The shim drops the one
// it finds before the runner's answer to its next request, and, when Done or
// Result says one follows, waits until it is there before it returns.
#pragma once

#include "common/byte_io.h"

#include <cstdint>

namespace sim::wire {

enum Kind : std::uint8_t {
    kOpen = 1, // abi: pointer size, long size, big-endian; pid u32, fd u32, flags u32, path
    kOpened,   // errno u32 (0: open), the size of a record without one in its number u16,
               // buffers u8, each: code u8, pointer at u16, its size u8, length at u16,
               // its size u8, most u16 (see PointedBuffer)
    kIoctl,    // number u32, type u8, code u8, size u16, arg u64, record size u16, record,
               // buffers u8, each: address u64, count u32, readable u8, count bytes
    kRead,     // address u64, count u32
    kBytes,    // readable u8, count bytes (their value if readable)
    kDone,     // ret u32, errno u32, ready u8, writes u16, each: address u64, count u32, bytes
    kApplied,  // the index of the write that failed, or kAllApplied
    kResult,   // errno u32, ready u8
    kReady,
};

constexpr std::uint16_t kAllApplied = 0xFFFF;
// The most the runner reads in one Read, and the longest packet.
constexpr std::uint32_t kMaxRead = 64 * 1024;
constexpr std::size_t kMaxPacket = kMaxRead + 64;
// The most of a record the shim sends along with its request.
constexpr std::uint16_t kMaxRecord = 1024;

// The environment variable that names the runner's socket: an abstract
// AF_UNIX address, its leading NUL left out; the address is zero-padded to the
// whole of sun_path.
constexpr const char *kSocketVariable = "HWSIM_SOCKET";

// A buffer a request's record points to, which the caller may send along
// with the record so that the driver need not ask for it: where the pointer
// and the buffer's length stand in the record, in the caller's layout, and
// how much of it the driver reads at most.
// The runner tells the shim of them at the open, in the order of the fields.
struct PointedBuffer {
    std::uint8_t code; // the request's command
    std::uint16_t pointer_at;
    std::uint8_t pointer_size;
    std::uint16_t length_at;
    std::uint8_t length_size;
    std::uint16_t most;
};

inline void put_buffer(hvl::ByteWriter &out, const PointedBuffer &buffer) {
    out.u8(buffer.code)
        .u16(buffer.pointer_at)
        .u8(buffer.pointer_size)
        .u16(buffer.length_at)
        .u8(buffer.length_size)
        .u16(buffer.most);
}

inline PointedBuffer get_buffer(hvl::ByteReader &in) {
    return {in.u8(), in.u16(), in.u8(), in.u16(), in.u8(), in.u16()}; // read left to right
}

} // namespace sim::wire
