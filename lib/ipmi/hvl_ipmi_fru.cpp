// FRU inventory data through the IPMC: the Storage requests that read and
// write a FRU device in pieces, its common header, the areas it locates, and
// the write and read-back test of FRU device 0's storage.
#include "hvl/hvl_ipmi_fru.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "common/byte_io.h"
#include "ipmi/ipmi_codes.h"
#include "ipmi/ipmi_request.h"
#include "log/log_site.h"

namespace {

using hvl::ipmi::intf_missing;
using hvl::ipmi::kNoInterface;

constexpr int kFailed = FRU_FAILED;

constexpr uint8_t kNetFnStorage = 0x0A;
constexpr uint8_t kCmdGetAreaInfo = 0x10;
constexpr uint8_t kCmdReadData = 0x11;
constexpr uint8_t kCmdWriteData = 0x12;

// Bytes asked for in one Read FRU Data: the IPMC's own limits, and those of
// a controller reached through it. 0xC7 or 0xC8 lowers the limit by one,
// down to the floor, where the read gives up.
struct PieceLimits {
    int bytes;
    int words;
};
constexpr uint32_t kIpmcAddress = 0x20;
constexpr PieceLimits kAtIpmcAddress{22, 16};
constexpr PieceLimits kElsewhere{23, 11};
constexpr int kPieceFloor = 8;
constexpr uint8_t kCcLengthInvalid = 0xC7;
constexpr uint8_t kCcLengthExceeded = 0xC8;

constexpr int kWritePiece = 16;

// The common header: area offsets in multiples of 8 bytes.
enum HeaderSlot { kInternalUse = 1, kChassis = 2, kBoard = 3, kProduct = 4, kMultiRecord = 5 };
constexpr int kOffsetUnit = 8;

// An area read takes one work buffer the size of the largest inventory.
constexpr size_t kWorkBufferSize = 65536;
constexpr int kBoardFirstBytes = 28;
constexpr int kProductFirstBytes = 32;
constexpr int kAreaStart = 3; // behind format version, length and language
constexpr int kAreaTail = 3;

constexpr uint8_t kEndOfList = 0x80;

// What seeprom_rw_test writes into FRU device 0 and reads back.
constexpr int kTestBytes = 8;
constexpr std::array<uint8_t, kTestBytes> kTestPattern{0x55, 0xAA, 0x33, 0xCC,
                                                       0x0F, 0xF0, 0x00, 0xFF};

uint8_t low_byte(int value) { return static_cast<uint8_t>(value & 0xFF); }

// The FRU address of a byte: in words on a word-accessed device.
int device_offset(const FruAreaInfo &info, int offset) {
    return info.word_access != 0 ? offset / 2 : offset;
}

bool in_range(const FruAreaInfo *info, int offset, int length) {
    return info != nullptr && offset >= 0 && length >= 0 && offset + length <= info->size;
}

int starting_limit(const IpmiIntf &intf, const FruAreaInfo &info) {
    const PieceLimits &limits = intf.target_addr == kIpmcAddress ? kAtIpmcAddress : kElsewhere;
    return info.word_access != 0 ? limits.words : limits.bytes;
}

// Sends one Read FRU Data; the bytes go to `out` when the answer holds
// exactly what it says it returns, of at most `wanted`. The count
// returned, or -1 when the read ends here. *limit shrinks on 0xC7/0xC8.
int read_piece(IpmiIntf *intf, const FruAreaInfo &info, int fru_id, int offset, int wanted,
               int *limit, uint8_t *out) {
    for (;;) {
        const int count = std::min(wanted, *limit);
        std::array<uint8_t, 4> request{};
        hvl::ByteWriter data(request.data(), request.size());
        data.u8(low_byte(fru_id));
        data.u16(static_cast<uint16_t>(device_offset(info, offset)));
        data.u8(low_byte(count));
        IpmiResponse response{};
        const int rc =
            hvl::ipmi::send_request(intf, kNetFnStorage, 0, kCmdReadData, data, &response);
        if (rc != 0) {
            return -1;
        }
        if (response.ccode == kCcLengthInvalid || response.ccode == kCcLengthExceeded) {
            if (--*limit > kPieceFloor) {
                continue;
            }
            return -1;
        }
        if (response.ccode != hvl::ipmi::kCcSuccess) {
            return -1;
        }
        hvl::ByteReader in = hvl::ipmi::answer_data(response);
        int returned = in.u8();
        if (info.word_access != 0) {
            returned *= 2;
        }
        if (returned == 0 || returned > wanted || static_cast<size_t>(returned) > in.remaining()) {
            return -1;
        }
        in.bytes(out, static_cast<size_t>(returned));
        return returned;
    }
}

// A header checksum, bounds and record checksum, then the node in the list.
class RecordReader {
public:
    RecordReader(IpmiIntf *intf, const FruAreaInfo *info, int fru_id)
        : intf_(intf), info_(info), fru_id_(fru_id) {}

    // Reads the record at *offset into *tail and moves past it: 0, or the
    // failure. `last` tells whether it ends the list.
    int next(int *offset, FruMultiRecord **tail, bool *last) {
        uint8_t header[FRU_MULTI_RECORD_HEADER_SIZE];
        if (const int rc = fru_data_read(intf_, info_, fru_id_, *offset, sizeof header, header);
            rc != 0) {
            return rc;
        }
        if (fru_checksum(header, sizeof header) != FRU_OK) {
            return FRU_BAD_CHECKSUM;
        }
        *offset += FRU_MULTI_RECORD_HEADER_SIZE;
        const uint8_t length = header[2];
        if (*offset + length > info_->size) {
            return kFailed;
        }
        // The checksum and the data lie side by side in the block, so one
        // sum covers both.
        auto *node =
            static_cast<FruMultiRecord *>(std::malloc(sizeof(FruMultiRecord) + 1 + length));
        if (node == nullptr) {
            return kFailed;
        }
        *node = FruMultiRecord{};
        uint8_t *summed = reinterpret_cast<uint8_t *>(node + 1);
        summed[0] = header[3];
        node->data = summed + 1;
        node->type_id = header[0];
        node->format = header[1] & ~kEndOfList;
        node->length = length;
        node->record_checksum = header[3];
        if (const int rc = read_data(*offset, length, node->data); rc != 0) {
            std::free(node);
            return rc;
        }
        *offset += length;
        if (fru_checksum(summed, 1 + length) != FRU_OK) {
            std::free(node);
            return FRU_BAD_CHECKSUM;
        }
        *tail = node;
        *last = (header[1] & kEndOfList) != 0;
        return FRU_OK;
    }

private:
    int read_data(int offset, uint8_t length, uint8_t *data) {
        return length == 0 ? FRU_OK : fru_data_read(intf_, info_, fru_id_, offset, length, data);
    }

    IpmiIntf *intf_;
    const FruAreaInfo *info_;
    int fru_id_;
};

struct Release {
    void operator()(uint8_t *bytes) const { std::free(bytes); }
};
using WorkBuffer = std::unique_ptr<uint8_t[], Release>;

// Reads the area at `offset` whole into a fresh work buffer and checks its
// sum; *length is its length.
int read_area(int fru_id, IpmiIntf *intf, const FruAreaInfo *info, int offset, int first_bytes,
              WorkBuffer *buffer, int *length) {
    buffer->reset(static_cast<uint8_t *>(std::calloc(kWorkBufferSize, 1)));
    if (*buffer == nullptr) {
        return kFailed;
    }
    uint8_t *bytes = buffer->get();
    if (const int rc = fru_data_read(intf, info, fru_id, offset, first_bytes, bytes); rc != 0) {
        return rc;
    }
    *length = bytes[1] * kOffsetUnit;
    if (*length == 0) {
        return kFailed; // an area is at least its header and checksum
    }
    if (const int rc = fru_data_read(intf, info, fru_id, offset, *length, bytes); rc != 0) {
        return rc;
    }
    return fru_checksum(bytes, *length);
}

template <typename Record>
int parse_area(int fru_id, IpmiIntf *intf, const FruAreaInfo *info, int offset, int first_bytes,
               Record *record, int (*parse)(const uint8_t *, int *, int, Record *)) {
    WorkBuffer buffer;
    int length = 0;
    if (const int rc = read_area(fru_id, intf, info, offset, first_bytes, &buffer, &length);
        rc != 0) {
        return rc;
    }
    int position = kAreaStart;
    return parse(buffer.get(), &position, length - kAreaTail, record);
}

// The offset of one area from the common header, in bytes: 0 and -13 when
// the header names none, or the header's failure.
int area_offset(IpmiIntf *intf, int fru_id, HeaderSlot slot, FruAreaInfo *info,
                uint8_t header[FRU_COMMON_HEADER_SIZE]) {
    if (const int rc = fru_common_header_get(fru_id, intf, info, header); rc != 0) {
        return rc;
    }
    return header[slot] == 0 ? FRU_NO_AREA : 0;
}

// Where the internal use area ends: at the next area that follows it.
int internal_area_end(const uint8_t header[FRU_COMMON_HEADER_SIZE]) {
    for (const HeaderSlot slot : {kChassis, kBoard, kProduct}) {
        if (header[slot] != 0) {
            return header[slot];
        }
    }
    return 0;
}

} // namespace

extern "C" {

int fru_inventory_area_info_get(IpmiIntf *intf, int fru_id, FruAreaInfo *info) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    std::array<uint8_t, 1> request{};
    hvl::ByteWriter data(request.data(), request.size());
    data.u8(low_byte(fru_id));
    IpmiResponse response{};
    if (hvl::ipmi::send_request(intf, kNetFnStorage, 0, kCmdGetAreaInfo, data, &response) != 0) {
        return kFailed;
    }
    if (response.ccode != hvl::ipmi::kCcSuccess) {
        return response.ccode;
    }
    hvl::ByteReader in = hvl::ipmi::unchecked_data(response);
    info->size = in.u16();
    info->word_access = in.u8() & 0x01U;
    return FRU_OK;
}

int fru_data_read(IpmiIntf *intf, const FruAreaInfo *info, int fru_id, int offset, int length,
                  uint8_t *buffer) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    if (!in_range(info, offset, length) || buffer == nullptr) {
        return kFailed;
    }
    int limit = starting_limit(*intf, *info);
    int done = 0;
    do {
        const int returned =
            read_piece(intf, *info, fru_id, offset + done, length - done, &limit, buffer + done);
        if (returned <= 0) {
            break;
        }
        done += returned;
    } while (done < length);
    return done == length ? FRU_OK : FRU_PARTIAL;
}

int fru_data_write(IpmiIntf *intf, const FruAreaInfo *info, int fru_id, int buffer_offset,
                   int offset, int length, const uint8_t *buffer) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    if (!in_range(info, offset, length) || buffer == nullptr || buffer_offset < 0) {
        return kFailed;
    }
    int done = 0;
    while (done < length) {
        const int count = std::min(kWritePiece, length - done);
        std::array<uint8_t, 3 + kWritePiece> request{};
        hvl::ByteWriter data(request.data(), request.size());
        data.u8(low_byte(fru_id));
        data.u16(static_cast<uint16_t>(device_offset(*info, offset + done)));
        data.bytes(buffer + buffer_offset + done, static_cast<size_t>(count));
        IpmiResponse response{};
        const int rc =
            hvl::ipmi::send_request(intf, kNetFnStorage, 0, kCmdWriteData, data, &response);
        if (!hvl::ipmi::succeeded(rc, response)) {
            break;
        }
        done += count;
    }
    return done == length ? FRU_OK : FRU_PARTIAL;
}

int fru_common_header_get(int fru_id, IpmiIntf *intf, FruAreaInfo *info,
                          uint8_t header[FRU_COMMON_HEADER_SIZE]) {
    const int rc = fru_inventory_area_info_get(intf, fru_id, info);
    if (hvl::ipmi::not_available(rc)) {
        return FRU_NOT_PRESENT;
    }
    if (rc == kNoInterface) {
        return rc;
    }
    if (rc != 0) {
        return kFailed;
    }
    if (const int read = fru_data_read(intf, info, fru_id, 0, FRU_COMMON_HEADER_SIZE, header);
        read != 0) {
        return read;
    }
    return fru_checksum(header, FRU_COMMON_HEADER_SIZE);
}

int fru_board_area_read(int fru_id, IpmiIntf *intf, const FruAreaInfo *info, int offset,
                        FruBoardInfo *board) {
    if (offset == 0) {
        return kFailed;
    }
    return parse_area(fru_id, intf, info, offset, kBoardFirstBytes, board,
                      fru_board_info_area_parse);
}

int fru_product_area_read(int fru_id, IpmiIntf *intf, const FruAreaInfo *info, int offset,
                          FruProductInfo *product) {
    return parse_area(fru_id, intf, info, offset, kProductFirstBytes, product,
                      fru_product_area_parse);
}

int fru_board_info_parse(IpmiIntf *intf, int fru_id, FruBoardInfo *board) {
    HVL_LOGF(TRACE, "Enter");
    FruAreaInfo info{};
    uint8_t header[FRU_COMMON_HEADER_SIZE];
    if (const int rc = area_offset(intf, fru_id, kBoard, &info, header); rc != 0) {
        return rc;
    }
    return fru_board_area_read(fru_id, intf, &info, header[kBoard] * kOffsetUnit, board);
}

int fru_product_info_parse(IpmiIntf *intf, int fru_id, FruProductInfo *product) {
    FruAreaInfo info{};
    uint8_t header[FRU_COMMON_HEADER_SIZE];
    if (const int rc = area_offset(intf, fru_id, kProduct, &info, header); rc != 0) {
        return rc;
    }
    return fru_product_area_read(fru_id, intf, &info, header[kProduct] * kOffsetUnit, product);
}

int fru_multi_record_read(int fru_id, IpmiIntf *intf, const FruAreaInfo *info, int offset,
                          FruMultiRecord **list) {
    FruMultiRecord **tail = list;
    while (*tail != nullptr) {
        tail = &(*tail)->next;
    }
    // Every record moves the offset on, and a record past the inventory
    // fails, so a list without its end flag ends at the area's end.
    RecordReader records(intf, info, fru_id);
    for (bool last = false; !last; tail = &(*tail)->next) {
        if (const int rc = records.next(&offset, tail, &last); rc != 0) {
            return rc;
        }
    }
    return FRU_OK;
}

int fru_multi_record_parse(IpmiIntf *intf, int fru_id, FruMultiRecord **list) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    FruAreaInfo info{};
    uint8_t header[FRU_COMMON_HEADER_SIZE];
    if (const int rc = area_offset(intf, fru_id, kMultiRecord, &info, header); rc != 0) {
        return rc;
    }
    return fru_multi_record_read(fru_id, intf, &info, header[kMultiRecord] * kOffsetUnit, list);
}

int fru_internal_area_parse(IpmiIntf *intf, int fru_id, uint8_t *buffer, int *size) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    FruAreaInfo info{};
    uint8_t header[FRU_COMMON_HEADER_SIZE];
    if (const int rc = area_offset(intf, fru_id, kInternalUse, &info, header); rc != 0) {
        return rc;
    }
    const int next = internal_area_end(header);
    if (next <= header[kInternalUse]) {
        HVL_LOGF(TRACE, "Incorrect FRU data\n");
        return kFailed;
    }
    if (size == nullptr || *size < 0) {
        return kFailed;
    }
    *size = std::min(*size, (next - header[kInternalUse]) * kOffsetUnit);
    return fru_data_read(intf, &info, fru_id, header[kInternalUse] * kOffsetUnit, *size, buffer);
}

int fru_board_info_get(IpmiIntf *intf, int fru_id, FruBoardInfo *board) {
    HVL_LOGF(TRACE, "Enter");
    if (board == nullptr) {
        return kFailed;
    }
    std::memset(board, 0, sizeof *board);
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    return fru_board_info_parse(intf, fru_id, board);
}

int fru_product_info_get(IpmiIntf *intf, int fru_id, FruProductInfo *product) {
    if (product == nullptr) {
        return kFailed;
    }
    std::memset(product, 0, sizeof *product);
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    return fru_product_info_parse(intf, fru_id, product);
}

int fru_multi_record_info_get(IpmiIntf *intf, int fru_id, FruMultiRecord **list) {
    if (list == nullptr) {
        return kFailed;
    }
    *list = nullptr;
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    return fru_multi_record_parse(intf, fru_id, list);
}

int fru_internal_area_info_get(IpmiIntf *intf, int fru_id, uint8_t *buffer, int *size) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    return fru_internal_area_parse(intf, fru_id, buffer, size);
}

int seeprom_rw_test(IpmiIntf *intf) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    FruAreaInfo info{};
    uint8_t header[FRU_COMMON_HEADER_SIZE];
    const int rc = fru_common_header_get(0, intf, &info, header);
    if (rc == FRU_BAD_CHECKSUM) {
        return rc;
    }
    // Without an internal use area the test range would be the header itself.
    if (rc != 0 || header[kInternalUse] == 0) {
        return kFailed;
    }
    const int offset = header[kInternalUse] * kOffsetUnit;
    std::array<uint8_t, kTestBytes> saved{};
    if (fru_data_read(intf, &info, 0, offset, kTestBytes, saved.data()) != 0) {
        return kFailed;
    }
    std::array<uint8_t, kTestBytes> back{};
    const bool passed =
        fru_data_write(intf, &info, 0, 0, offset, kTestBytes, kTestPattern.data()) == 0 &&
        fru_data_read(intf, &info, 0, offset, kTestBytes, back.data()) == 0 && back == kTestPattern;
    // What was there goes back whatever the outcome: a failed test must not
    // leave the pattern in the device.
    const bool restored = fru_data_write(intf, &info, 0, 0, offset, kTestBytes, saved.data()) == 0;
    return passed && restored ? FRU_OK : kFailed;
}

} // extern "C"
