// The IPMC's device SDR repository: a walk with its reservation, record
// headers, whole records read in pieces whose size follows what the IPMC can
// return, and the search by ID string. The interface is not null here; the
// public functions of the sensor module check it. This layer logs nothing:
// the queries report its failures.
#include <cstdlib>
#include <cstring>

#include "common/byte_io.h"
#include "hvl/hvl_ipmi_sensor.h"
#include "ipmi/ipmi_codes.h"
#include "ipmi/ipmi_request.h"
#include "ipmi/sdr_walk.h"
#include "sys/sys_ops.h"

namespace {

using hvl::ipmi::answer_data;
using hvl::ipmi::kCcSuccess;
using hvl::ipmi::send_request;

constexpr int kFailed = -1;

using hvl::sdr::kNetFnSensor;
constexpr uint8_t kCmdGetSdrInfo = 0x20;
constexpr uint8_t kCmdGetSdr = 0x21;
constexpr uint8_t kCmdReserveSdr = 0x22;

constexpr uint8_t kCcRecordChanged = 0x80;
constexpr uint8_t kCcReservationCancelled = 0xC5;
constexpr uint8_t kCcCannotReturn = 0xCA;

// Header reads and record passes against a record that keeps changing.
constexpr int kAttempts = 4;
// Renewed reservations in a row for one piece before the read gives up.
constexpr int kMaxRenewals = 8;
constexpr int kInitialChunk = 255;
// The last size the halving reaches before it would ask for nothing.
constexpr int kMinChunk = 2;
// The header read: offset 0, the five header bytes.
constexpr uint8_t kHeaderCount = SDR_HEADER_SIZE;
// The next-record ID in front of the bytes of every Get Device SDR answer.
constexpr size_t kNextIdSize = 2;
constexpr size_t kHeaderAnswerSize = sizeof(SdrHeader);
// What a search clears of the record before each read: the ID bytes, the
// type and the first 59 body bytes.
constexpr size_t kClearedBeforeSearch = 62;

// Shared by every walk of the process; only shrinks.
int sdr_chunk_size = kInitialChunk;

// The ID string's type/length byte of the records that carry one; the string follows it.
struct IdPlace {
    uint8_t record_type;
    uint8_t type_length_at;
};

constexpr IdPlace kIdPlaces[] = {
    {SDR_TYPE_FULL_SENSOR, 42}, {SDR_TYPE_COMPACT_SENSOR, 26}, {SDR_TYPE_EVENT_ONLY, 11},
    {SDR_TYPE_FRU_LOCATOR, 10}, {SDR_TYPE_MC_LOCATOR, 10},
};

constexpr uint8_t kIdLengthMask = 0x1F;

// Sends one of the SDR requests; `data` may be empty.
int send_sdr(IpmiIntf *intf, uint8_t cmd, const hvl::ByteWriter &data, IpmiResponse *response) {
    return send_request(intf, kNetFnSensor, 0, cmd, data, response);
}

// The IPMC carried the request out and said something.
bool answered(int rc, const IpmiResponse &response) {
    return hvl::ipmi::succeeded(rc, response) && response.data_len > 0;
}

uint16_t id_number(const uint8_t (&id)[2]) { return hvl::ByteReader(id, sizeof id).u16(); }

// Get Device SDR for `count` bytes at `offset` of the record.
void get_sdr_request(hvl::ByteWriter &out, const uint8_t (&reservation)[2],
                     const uint8_t (&record_id)[2], uint8_t offset, uint8_t count) {
    out.bytes(reservation).bytes(record_id).u8(offset).u8(count);
}

// The first `id_length` characters of the record's ID string equal those of
// `name`, as far as both go; the string ends at a 0 or at the end of the body.
bool id_matches(const SdrRecord &rec, size_t at, size_t id_length, const char *name) {
    for (size_t i = 0; i < id_length; ++i) {
        const char c = at + i < SDR_BODY_SIZE ? static_cast<char>(rec.body[at + i]) : '\0';
        if (c != name[i]) {
            return false;
        }
        if (c == '\0') {
            break;
        }
    }
    return true;
}

bool record_has_id(const SdrRecord &rec, const char *name) {
    for (const IdPlace &place : kIdPlaces) {
        if (place.record_type == rec.record_type) {
            const size_t id_length = rec.body[place.type_length_at] & kIdLengthMask;
            return id_matches(rec, place.type_length_at + 1U, id_length, name);
        }
    }
    return false;
}

// How one piece of a record read went.
enum class Piece { kArrived, kRetry, kStop, kFail };

// Asks for `count` bytes at `done` and handles the answer; `renewals` counts
// the reservations renewed for this piece so far.
Piece read_piece(IpmiIntf *intf, const SdrHeader &hdr, SdrIterator *it, SdrRecord *rec, size_t done,
                 size_t count, int &renewals, uint8_t &ccode) {
    uint8_t data[6] = {};
    hvl::ByteWriter out(data, sizeof data);
    get_sdr_request(out, it->reservation_id, hdr.record_id,
                    static_cast<uint8_t>(done + SDR_HEADER_SIZE), static_cast<uint8_t>(count));
    IpmiResponse response{};
    if (send_sdr(intf, kCmdGetSdr, out, &response) != 0) {
        return Piece::kFail;
    }
    ccode = response.ccode;
    if (ccode == kCcReservationCancelled) {
        if (++renewals > kMaxRenewals) {
            return Piece::kFail;
        }
        (void)hvl::sys::ops().sleep(static_cast<unsigned>(std::rand() & 3));
        return sdr_reserve(intf, it) == 1 ? Piece::kRetry : Piece::kFail;
    }
    if (ccode == kCcCannotReturn) {
        if (sdr_chunk_size <= kMinChunk) {
            return Piece::kFail;
        }
        sdr_chunk_size = (sdr_chunk_size >> 1) - 1;
        return Piece::kRetry;
    }
    if (ccode != kCcSuccess || response.data_len <= 0) {
        return Piece::kStop;
    }
    hvl::ByteReader in = answer_data(response);
    in.skip(kNextIdSize);
    if (in.remaining() < count) {
        return Piece::kFail;
    }
    in.bytes(rec->body + done, count);
    renewals = 0;
    return Piece::kArrived;
}

} // namespace

namespace hvl::sdr {

bool Walk::next(SdrHeader *hdr) {
    const uint32_t next_id = it_->next_record_id;
    if (headers_ >= kMaxWalkHeaders ||
        (headers_ > 0 &&
         (next_id == first_id_ || next_id == last_id_ || next_id == remembered_id_))) {
        return false;
    }
    if (sdr_next_header(intf_, it_, hdr) != 0) {
        return false;
    }
    last_id_ = id_number(hdr->record_id);
    if (headers_ == 0) {
        first_id_ = last_id_;
    }
    ++headers_;
    // The ID asked for at the 1st, 2nd, 4th, ... header: once it lies on a
    // loop no longer than the headers read so far, the walk meets it again
    // before the next one is remembered.
    if ((headers_ & (headers_ - 1)) == 0) {
        remembered_id_ = next_id;
    }
    return true;
}

int chunk_size() { return sdr_chunk_size; }

void reset_chunk_size() { sdr_chunk_size = kInitialChunk; }

} // namespace hvl::sdr

extern "C" {

int sdr_start(IpmiIntf *intf, SdrIterator *it) {
    const hvl::ByteWriter none(nullptr, 0);
    IpmiResponse response{};
    if (!answered(send_sdr(intf, kCmdGetSdrInfo, none, &response), response)) {
        return kFailed;
    }
    it->sensor_count = answer_data(response).u8();
    if (sdr_reserve(intf, it) != 1) {
        return kFailed;
    }
    it->next_record_id = 0;
    return 0;
}

int sdr_reserve(IpmiIntf *intf, SdrIterator *it) {
    const hvl::ByteWriter none(nullptr, 0);
    IpmiResponse response{};
    if (!answered(send_sdr(intf, kCmdReserveSdr, none, &response), response)) {
        return 0;
    }
    hvl::ipmi::unchecked_data(response).bytes(it->reservation_id, sizeof it->reservation_id);
    return 1;
}

int ipmi_sensor_get_header(IpmiIntf *intf, const uint8_t reservation_id[2], uint16_t record_id,
                           SdrHeader *hdr) {
    uint8_t data[6] = {};
    hvl::ByteWriter out(data, sizeof data);
    out.bytes(reservation_id, 2).u16(record_id).u8(0).u8(kHeaderCount);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        IpmiResponse response{};
        if (send_sdr(intf, kCmdGetSdr, out, &response) != 0) {
            return kFailed;
        }
        if (response.ccode == kCcRecordChanged) {
            continue;
        }
        if (!answered(0, response) || static_cast<size_t>(response.data_len) < kHeaderAnswerSize) {
            return kFailed;
        }
        hvl::ByteReader in = answer_data(response);
        in.bytes(hdr->next_record_id, sizeof hdr->next_record_id);
        in.bytes(hdr->record_id, sizeof hdr->record_id);
        hdr->sdr_version = in.u8();
        hdr->record_type = in.u8();
        hdr->record_length = in.u8();
        return hdr->record_length == 0 ? kFailed : 0;
    }
    return kFailed;
}

int sdr_next_header(IpmiIntf *intf, SdrIterator *it, SdrHeader *hdr) {
    if (it->next_record_id == SDR_LAST_RECORD_ID) {
        return kFailed;
    }
    if (ipmi_sensor_get_header(intf, it->reservation_id, static_cast<uint16_t>(it->next_record_id),
                               hdr) != 0) {
        return kFailed;
    }
    it->next_record_id = id_number(hdr->next_record_id);
    return 0;
}

int ipmi_sensor_get_record(IpmiIntf *intf, const SdrHeader *hdr, SdrIterator *it, SdrRecord *rec) {
    const size_t length = hdr->record_length;
    if (length == 0 || length > SDR_MAX_RECORD_LENGTH) {
        return kFailed;
    }
    for (int pass = 0; pass < kAttempts; ++pass) {
        std::memset(rec->body, 0, length + 1);
        size_t done = 0;
        int renewals = 0;
        uint8_t ccode = kCcSuccess;
        Piece piece = Piece::kArrived;
        while (done < length) {
            const size_t count = length - done < static_cast<size_t>(sdr_chunk_size)
                                     ? length - done
                                     : sdr_chunk_size;
            piece = read_piece(intf, *hdr, it, rec, done, count, renewals, ccode);
            if (piece == Piece::kFail) {
                return kFailed;
            }
            if (piece == Piece::kStop) {
                break;
            }
            if (piece == Piece::kArrived) {
                done += count;
            }
        }
        if (piece == Piece::kArrived) {
            std::memcpy(rec->record_id, hdr->record_id, sizeof rec->record_id);
            rec->record_type = hdr->record_type;
            return 0;
        }
        if (ccode != kCcRecordChanged) {
            return kFailed;
        }
    }
    return kFailed;
}

int sdr_find_by_id_string(IpmiIntf *intf, SdrIterator *it, const char *name, SdrHeader *hdr,
                          SdrRecord *rec) {
    if (name == nullptr) {
        return kFailed;
    }
    hvl::sdr::Walk walk(intf, it);
    while (walk.next(hdr)) {
        std::memset(rec, 0, kClearedBeforeSearch);
        std::memcpy(rec->record_id, hdr->record_id, sizeof rec->record_id);
        rec->record_type = hdr->record_type;
        if (ipmi_sensor_get_record(intf, hdr, it, rec) == 0 && record_has_id(*rec, name)) {
            return 0;
        }
    }
    return kFailed;
}

} // extern "C"
