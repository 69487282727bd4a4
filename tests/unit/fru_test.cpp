// FRU area decoding: fields of every type, checksums, the manufacturing date
// and the board and product areas of real images of other projects.
#include "hvl/hvl_ipmi_fru.h"

#include "fru_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iterator>
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

// What the board and product areas of an image hold; the texts are
// FreeIPMI's decode beside the image, except where noted.
struct ImageCase {
    const char *file;
    const char *board[6]; // date, manufacturer, product, serial, part, file ID
    int board_custom;
    Bytes first_custom;     // the type/length byte and the data of the board's first
    const char *product[7]; // manufacturer, name, part, version, serial, asset tag, file ID
    int product_custom;
};

Bytes image_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int custom_count(const FruCustomField *custom) {
    int count = 0;
    while (count < FRU_CUSTOM_FIELD_COUNT && custom[count].type_length != 0) {
        ++count;
    }
    return count;
}

TEST_F(UtcClock, RealImagesDecodeAsFreeIpmiReadsThem) {
    const ImageCase cases[] = {
        {"fru-tool/basic-all.bin",
         {"2017-07-10 16:30", "board-manufacturer", "board-product", "board-serial", "board-part",
          "board-fileid"},
         2,
         {0xCC, 'b', 'o', 'a', 'r', 'd', '-', 'e', 'x', 't', 'r', 'a', '1'},
         {"product-manufacturer", "product-product", "product-part", "product-version",
          "product-serial", "product-asset", "product-fileid"},
         3},
        // The board part number is 6-bit ASCII of 8 bytes: four characters
        // for every started group of three, the padding included; FreeIPMI
        // keeps only the ten characters whole bytes cover.
        // The board serial is BCD plus packed two digits to a byte ("123456"
        // to the tool that wrote it); FreeIPMI rejects it. Each byte here is
        // one character from its low four bits, so 12h 34h 56h read "246".
        {"frugen-example/frugen-example.bin",
         {"2024-02-26 11:09", "Biggest International Corp.", "Some Cool Product", "246",
          "BRD-PN-345  ", "example1.json"},
         3,
         {0x06, 0x01, 0x23, 0xDE, 0xAD, 0xBA, 0xBE},
         {"Super OEM Company", "Label-engineered Super Product", "PRD-PN-1234 ", "v1.1", "OEM12345",
          "Accounting Dept.", "example2.json"},
         4},
        {"adi-fru_tools/AD-FMCDAQ3-EBZ.bin",
         {"2012-07-17 14:53", "Analog Devices", "AD9680/AD9152 FMC Module", "0022",
          "AD-FMCDAQ3-EBZ", ""},
         4,
         {0x02, 0x00, 0x43},
         {},
         0},
    };
    for (const ImageCase &c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = std::string(HWREGS_DATA_DIR) + "/fru/" + c.file;
        const Bytes image = image_bytes(path);
        if (image.empty()) {
            GTEST_SKIP() << "no FRU image at " << path;
        }
        FruImage device(image);
        FruBoardInfo board;
        EXPECT_EQ(fru_board_info_get(device.intf(), 0, &board), 0);
        EXPECT_EQ(board.valid, 1);
        const char *board_texts[] = {board.mfg_date,      board.manufacturer, board.product_name,
                                     board.serial_number, board.part_number,  board.fru_file_id};
        for (int i = 0; i < 6; ++i) {
            EXPECT_STREQ(board_texts[i], c.board[i]);
        }
        EXPECT_EQ(custom_count(board.custom), c.board_custom);
        Bytes first(FRU_CUSTOM_FIELD_SIZE + 1, 0);
        first[0] = board.custom[0].type_length;
        std::copy(std::begin(board.custom[0].bytes), std::end(board.custom[0].bytes),
                  first.begin() + 1);
        first.resize(c.first_custom.size());
        EXPECT_EQ(first, c.first_custom);
        EXPECT_EQ(board.custom[0].bytes[c.first_custom.size() - 1], 0);

        FruProductInfo product;
        if (c.product[0] == nullptr) {
            EXPECT_EQ(fru_product_info_get(device.intf(), 0, &product), -13);
            continue;
        }
        EXPECT_EQ(fru_product_info_get(device.intf(), 0, &product), 0);
        EXPECT_EQ(product.valid, 1);
        const char *product_texts[] = {
            product.manufacturer,  product.product_name, product.part_number, product.version,
            product.serial_number, product.asset_tag,    product.fru_file_id};
        for (int i = 0; i < 7; ++i) {
            EXPECT_STREQ(product_texts[i], c.product[i]);
        }
        EXPECT_EQ(custom_count(product.custom), c.product_custom);
    }
}

TEST(FruMultiRecords, ReadTheRecordsOfARealImage) {
    const std::string path = std::string(HWREGS_DATA_DIR) + "/fru/adi-fru_tools/AD-FMCDAQ3-EBZ.bin";
    FruImage image(image_bytes(path));
    if (image.bytes.empty()) {
        GTEST_SKIP() << "no FRU image at " << path;
    }
    FruMultiRecord *list = nullptr;
    ASSERT_EQ(fru_multi_record_info_get(image.intf(), 0, &list), 0);
    // Three DC loads, three DC outputs and two OEM records, as FreeIPMI lists them.
    std::vector<int> types;
    for (const FruMultiRecord *r = list; r != nullptr; r = r->next) {
        types.push_back(r->type_id);
    }
    EXPECT_EQ(types, (std::vector<int>{2, 2, 2, 1, 1, 1, 0xFA, 0xFA}));
    // The first load: output 0, nominal 2500 mV in units of 10 mV.
    ASSERT_EQ(list->length, 13);
    EXPECT_EQ(list->format, 2);
    EXPECT_EQ(list->data[0], 0);
    EXPECT_EQ(list->data[1] | (list->data[2] << 8), 250);
    while (list != nullptr) {
        FruMultiRecord *next = list->next;
        std::free(list);
        list = next;
    }
}

} // namespace
