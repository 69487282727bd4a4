// Decoding of FRU inventory data already read: checksums, type/length coded
// fields, the manufacturing date and the board and product info areas. Every
// byte is read through a reader bounded by the end of what was read, so a
// field whose length runs past its area stops there.
#include "hvl/hvl_ipmi_fru.h"

#include <array>
#include <cstring>
#include <ctime>

#include "common/byte_io.h"
#include "log/log_site.h"

namespace {

constexpr int kFailed = FRU_FAILED;

// The type of a field: bits 7 and 6 of its type/length byte.
constexpr unsigned kTypeBinary = 0;
constexpr unsigned kTypeBcdPlus = 1;
constexpr unsigned kTypeSixBitAscii = 2;
constexpr uint8_t kLengthMask = 0x3F;

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kBcdPlusDigits[] = "0123456789 -.:,_";
constexpr char kSixBitBase = 0x20;
constexpr int kSixBitGroup = 3; // bytes giving four characters

// An area's fields are parsed while the position is below its length less
// these bytes; they may still read up to the area's end.
constexpr int kAreaTail = 3;

constexpr int kDateBytes = 3;
constexpr int kSecondsPerMinute = 60;
constexpr int kEpochYear = 96; // 1996, as years since 1900
constexpr char kDateFormat[] = "%Y-%m-%d %H:%M";

// A reader over [0, end) of data, at position. Null when the position lies
// outside it.
bool reader_at(const uint8_t *data, int position, int end, hvl::ByteReader *in) {
    if (data == nullptr || position < 0 || position >= end) {
        return false;
    }
    *in = hvl::ByteReader(data, static_cast<size_t>(end));
    in->skip(static_cast<size_t>(position));
    return true;
}

// Characters of the text of a field of `count` data bytes.
int decoded_length(unsigned type, int count) {
    switch (type) {
    case kTypeBinary:
        return 2 * count;
    case kTypeSixBitAscii:
        return 4 * ((count + kSixBitGroup - 1) / kSixBitGroup);
    default:
        return count;
    }
}

void decode_six_bit(hvl::ByteReader &in, int count, char *out) {
    while (count > 0) {
        const int group = count < kSixBitGroup ? count : kSixBitGroup;
        uint32_t bits = 0;
        for (int i = 0; i < group; ++i) {
            bits |= static_cast<uint32_t>(in.u8()) << (8 * i);
        }
        for (int i = 0; i < 4; ++i) {
            *out++ = static_cast<char>(kSixBitBase + ((bits >> (6 * i)) & 0x3F));
        }
        count -= group;
    }
}

void decode(hvl::ByteReader &in, unsigned type, int count, char *out) {
    if (type == kTypeSixBitAscii) {
        decode_six_bit(in, count, out);
        return;
    }
    for (int i = 0; i < count; ++i) {
        const uint8_t byte = in.u8();
        if (type == kTypeBinary) {
            *out++ = kHexDigits[byte >> 4];
            *out++ = kHexDigits[byte & 0x0F];
        } else if (type == kTypeBcdPlus) {
            *out++ = kBcdPlusDigits[byte & 0x0F];
        } else {
            *out++ = static_cast<char>(byte);
        }
    }
}

// The custom fields from the position up to the end marker, the end of the
// area or the last entry; returns how many were stored.
int parse_custom_fields(const uint8_t *data, int *position, int end, FruCustomField *custom) {
    int count = 0;
    hvl::ByteReader in(nullptr, 0);
    while (count < FRU_CUSTOM_FIELD_COUNT && *position < end &&
           reader_at(data, *position, end + kAreaTail, &in)) {
        const uint8_t type_length = in.u8();
        if (type_length == FRU_END_OF_FIELDS) {
            break;
        }
        size_t length = type_length & kLengthMask;
        if (length > in.remaining()) {
            length = in.remaining();
        }
        custom[count].type_length = type_length;
        in.bytes(custom[count].bytes, length);
        *position += 1 + static_cast<int>(length);
        HVL_LOGF(TRACE, "found custom field %d with header %02x\n", count, type_length);
        ++count;
    }
    return count;
}

// One field into out, when the position is still inside the area.
int next_field(const uint8_t *data, int *position, int end, char *out) {
    if (*position >= end) {
        return 0;
    }
    return fru_field_parse(data, position, end + kAreaTail, out, FRU_FIELD_SIZE);
}

// The text fields of the records, in the order the areas hold them.
template <typename Record> using Text = char (Record::*)[FRU_FIELD_SIZE];
constexpr std::array<Text<FruBoardInfo>, 5> kBoardTexts{
    &FruBoardInfo::manufacturer, &FruBoardInfo::product_name, &FruBoardInfo::serial_number,
    &FruBoardInfo::part_number, &FruBoardInfo::fru_file_id};
constexpr std::array<Text<FruProductInfo>, 7> kProductTexts{
    &FruProductInfo::manufacturer, &FruProductInfo::product_name,  &FruProductInfo::part_number,
    &FruProductInfo::version,      &FruProductInfo::serial_number, &FruProductInfo::asset_tag,
    &FruProductInfo::fru_file_id};

// The text fields and then the custom fields (*count of them), with
// `result` so far: the combined result, -1 when the custom fields fill all
// 16 entries. valid is set when it is 0.
template <typename Record, size_t N>
int parse_fields(const uint8_t *data, int *position, int end,
                 const std::array<Text<Record>, N> &texts, int result, Record *record, int *count) {
    for (const Text<Record> text : texts) {
        result |= next_field(data, position, end, record->*text);
    }
    *count = parse_custom_fields(data, position, end, record->custom);
    if (*count == FRU_CUSTOM_FIELD_COUNT) {
        result = kFailed;
    }
    if (result == 0) {
        record->valid = 1;
    }
    return result;
}

} // namespace

int fru_checksum(const uint8_t *data, int length) {
    hvl::ByteReader in(data, length > 0 ? static_cast<size_t>(length) : 0);
    unsigned sum = 0;
    while (in.remaining() > 0) {
        sum += in.u8();
    }
    return (sum & 0xFFU) == 0 ? FRU_OK : FRU_BAD_CHECKSUM;
}

int fru_field_parse(const uint8_t *data, int *position, int end, char *out, int out_size) {
    hvl::ByteReader in(nullptr, 0);
    if (out == nullptr || position == nullptr || !reader_at(data, *position, end, &in)) {
        return kFailed;
    }
    const uint8_t type_length = in.u8();
    const unsigned type = type_length >> 6;
    int count = type_length & kLengthMask;
    if (static_cast<size_t>(count) > in.remaining()) {
        count = static_cast<int>(in.remaining());
    }
    const int length = decoded_length(type, count);
    if (length + 1 > out_size) {
        return kFailed;
    }
    decode(in, type, count, out);
    out[length] = '\0';
    *position += 1 + count;
    return FRU_OK;
}

int fru_mfg_date_parse(const uint8_t *data, int *position, int end, char *out, int out_size) {
    hvl::ByteReader in(nullptr, 0);
    if (out == nullptr || out_size <= 0 || position == nullptr ||
        !reader_at(data, *position, end, &in) || in.remaining() < kDateBytes) {
        return kFailed;
    }
    const uint32_t low = in.u16();
    const uint32_t minutes = low | (static_cast<uint32_t>(in.u8()) << 16);
    *position += kDateBytes;

    std::tm epoch{};
    epoch.tm_year = kEpochYear;
    epoch.tm_mday = 1;
    epoch.tm_isdst = -1;
    const std::time_t start = std::mktime(&epoch);
    if (start == static_cast<std::time_t>(-1)) {
        return kFailed;
    }
    const std::time_t when = start + static_cast<std::time_t>(minutes) * kSecondsPerMinute;
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr) {
        return kFailed;
    }
    if (std::strftime(out, static_cast<size_t>(out_size), kDateFormat, &local) == 0) {
        out[0] = '\0';
        return kFailed;
    }
    return FRU_OK;
}

int fru_board_info_area_parse(const uint8_t *data, int *position, int end, FruBoardInfo *board) {
    if (position == nullptr || board == nullptr) {
        return FRU_OK;
    }
    int result = 0;
    hvl::ByteReader in(nullptr, 0);
    if (*position < end && reader_at(data, *position, end + kAreaTail, &in)) {
        if (in.remaining() >= kDateBytes) {
            const uint32_t low = in.u16();
            board->mfg_minutes = static_cast<int32_t>(low | (static_cast<uint32_t>(in.u8()) << 16));
        }
        result =
            fru_mfg_date_parse(data, position, end + kAreaTail, board->mfg_date, FRU_FIELD_SIZE);
    }
    int count = 0;
    if (parse_fields(data, position, end, kBoardTexts, result, board, &count) != 0 &&
        count < FRU_CUSTOM_FIELD_COUNT) {
        board->custom[count].type_length = FRU_END_OF_FIELDS; // behind the last one read
    }
    return FRU_OK;
}

int fru_product_area_parse(const uint8_t *data, int *position, int end, FruProductInfo *product) {
    if (position == nullptr || product == nullptr) {
        return FRU_OK;
    }
    int count = 0;
    parse_fields(data, position, end, kProductTexts, 0, product, &count);
    return FRU_OK;
}
