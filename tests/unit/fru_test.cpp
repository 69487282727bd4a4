// FRU area decoding: fields of every type, checksums, the manufacturing date
// and the board area's custom fields.
#include "hvl/hvl_ipmi_fru.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

class UtcClock : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
    }
};

struct FieldCase {
    const char *name;
    Bytes bytes; // a type/length byte and its data; the area ends behind them
    int out_size;
    int result;
    const char *text;
    int position; // after the call
};

TEST(FruField, DecodesEveryTypeWithinTheArea) {
    const FieldCase cases[] = {
        {"binary", {0x04, 0x01, 0xAB, 0x00, 0xFF}, 64, 0, "01ab00ff", 5},
        {"six-bit", {0x83, 0x29, 0xDC, 0xA6}, 64, 0, "IPMI", 4},
        {"six-bit short group", {0x84, 0x29, 0xDC, 0xA6, 0x21}, 64, 0, "IPMIA   ", 5},
        {"bcd plus low nibbles", {0x42, 0x12, 0x3A}, 64, 0, "2 ", 3},
        {"bcd plus symbols", {0x45, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F}, 64, 0, "-.:,_", 6},
        {"eight-bit", {0xC3, 'a', 'b', 'c'}, 64, 0, "abc", 4},
        {"empty", {0xC0}, 64, 0, "", 1},
        {"runs past the area", {0xC5, 'a', 'b'}, 64, 0, "ab", 3},
        {"text and zero fit exactly", {0xC3, 'a', 'b', 'c'}, 4, 0, "abc", 4},
        {"no room for the zero", {0xC3, 'a', 'b', 'c'}, 3, -1, nullptr, 0},
        {"binary doubles", {0x02, 0x01, 0x02}, 4, -1, nullptr, 0},
        {"six-bit widens", {0x83, 0x29, 0xDC, 0xA6}, 4, -1, nullptr, 0},
    };
    for (const FieldCase &c : cases) {
        SCOPED_TRACE(c.name);
        std::string out(64, 'x');
        int position = 0;
        EXPECT_EQ(fru_field_parse(c.bytes.data(), &position, static_cast<int>(c.bytes.size()),
                                  &out[0], c.out_size),
                  c.result);
        EXPECT_EQ(position, c.position);
        if (c.text != nullptr) {
            EXPECT_STREQ(out.c_str(), c.text);
        }
    }
}

TEST(FruField, RefusesPositionsOutsideTheArea) {
    const uint8_t bytes[] = {0xC1, 'a'};
    char out[8];
    int position = 1;
    EXPECT_EQ(fru_field_parse(bytes, &position, 1, out, sizeof out), -1);
    EXPECT_EQ(position, 1);
    position = 0;
    EXPECT_EQ(fru_field_parse(bytes, &position, 2, nullptr, 8), -1);
}

TEST(FruChecksum, SumsToZero) {
    const struct {
        Bytes bytes;
        int result;
    } cases[] = {{{}, 0},      {{0x00}, 0},       {{0x01, 0xFF}, 0}, {{0x80, 0x80, 0x01}, -5},
                 {{0x80}, -5}, {{0x01, 0x00}, -5}};
    for (const auto &c : cases) {
        EXPECT_EQ(fru_checksum(c.bytes.data(), static_cast<int>(c.bytes.size())), c.result);
    }
}

TEST_F(UtcClock, DateCountsMinutesFrom1996) {
    const struct {
        Bytes bytes;
        const char *text;
    } cases[] = {{{0x00, 0x00, 0x00}, "1996-01-01 00:00"},
                 {{0xA1, 0x05, 0x00}, "1996-01-02 00:01"}, // 1441 minutes
                 {{0xFF, 0xFF, 0xFF}, "2027-11-24 20:15"}};
    for (const auto &c : cases) {
        char out[FRU_FIELD_SIZE] = {};
        int position = 0;
        EXPECT_EQ(fru_mfg_date_parse(c.bytes.data(), &position, 3, out, sizeof out), 0);
        EXPECT_STREQ(out, c.text);
        EXPECT_EQ(position, 3);
    }
    int position = 0;
    char out[FRU_FIELD_SIZE];
    EXPECT_EQ(fru_mfg_date_parse(cases[0].bytes.data(), &position, 2, out, sizeof out), -1);
}

// Parses an area's fields followed by the 3 bytes its parse leaves aside.
void parse_board(Bytes area, FruBoardInfo *board) {
    const int end = static_cast<int>(area.size());
    area.insert(area.end(), {0x00, 0x00, 0x00});
    int position = 0;
    EXPECT_EQ(fru_board_info_area_parse(area.data(), &position, end, board), 0);
}

TEST(FruBoardArea, SixteenCustomFieldsAreNeverValid) {
    Bytes area = {0x00, 0x00, 0x00, 0xC0, 0xC0, 0xC0, 0xC0, 0xC0};
    for (int i = 0; i < FRU_CUSTOM_FIELD_COUNT; ++i) {
        area.insert(area.end(), {0xC2, 'c', 'f'});
    }
    area.push_back(0xC1);
    FruBoardInfo board{};
    parse_board(area, &board);
    EXPECT_EQ(board.valid, 0);
    EXPECT_EQ(board.custom[15].type_length, 0xC2);

    // Fifteen are, and the entry behind them stays unused.
    area.erase(area.end() - 4, area.end() - 1);
    board = FruBoardInfo{};
    parse_board(area, &board);
    EXPECT_EQ(board.valid, 1);
    EXPECT_EQ(board.custom[14].type_length, 0xC2);
    EXPECT_EQ(board.custom[15].type_length, 0);
}

TEST(FruBoardArea, AFieldThatDoesNotDecodeMarksTheEnd) {
    // A 32-byte binary manufacturer needs 65 characters.
    Bytes area = {0x00, 0x00, 0x00, 0x20};
    area.resize(area.size() + 32, 0xAA);
    area.insert(area.end(), {0xC0, 0xC0, 0xC0, 0xC0, 0xC2, 'c', 'f', 0xC1});
    FruBoardInfo board{};
    parse_board(area, &board);
    EXPECT_EQ(board.valid, 0);
    // The fields behind stay on it, so it is read again as a custom field;
    // the marker goes behind the last one read.
    EXPECT_EQ(board.custom[0].type_length, 0x20);
    EXPECT_EQ(board.custom[5].type_length, 0xC2);
    EXPECT_EQ(board.custom[6].type_length, FRU_END_OF_FIELDS);
}

} // namespace
