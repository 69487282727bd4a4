// Reading and writing FRU devices through the IPMC: the pieces a read and a
// write go out in, what ends them, the common header and the areas it
// locates, and the storage test of FRU device 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "fake_ipmi.h"
#include "fru_image.h"
#include "hvl/hvl_ipmi_fru.h"
#include "log_capture.h"

namespace {

ScriptedAnswer area_info(uint16_t size, bool words = false) {
    return answer(0, {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                      static_cast<uint8_t>(words ? 1 : 0)});
}

// A Read FRU Data answer of `count` bytes of 0x5A, counted in words on a
// word-accessed device.
ScriptedAnswer data_answer(int count, bool words = false) {
    Bytes data(static_cast<size_t>(count) + 1, 0x5A);
    data[0] = static_cast<uint8_t>(words ? count / 2 : count);
    return answer(0, data);
}

std::vector<int> counts_asked(const FakeIpmi &ipmi) {
    std::vector<int> counts;
    for (const SentRequest &r : ipmi.sent) {
        EXPECT_EQ(r.netfn, 0x0A);
        counts.push_back(r.cmd == 0x11 ? r.data.at(3) : static_cast<int>(r.data.size()) - 3);
    }
    return counts;
}

TEST(FruAreaInfo, SizeIsLittleEndianAndAccessIsBitZero) {
    FakeIpmi ipmi;
    ipmi.then(answer(0, {0x00, 0x02, 0xFF})).then(answer(0xCB)).then(transport_failure(74));
    FruAreaInfo info{};
    ASSERT_EQ(fru_inventory_area_info_get(ipmi.intf(), 0x107, &info), 0);
    EXPECT_EQ(info.size, 512);
    EXPECT_EQ(info.word_access, 1U);
    EXPECT_EQ(ipmi.sent[0].cmd, 0x10);
    EXPECT_EQ(ipmi.sent[0].data, Bytes{0x07}) << "only the low 8 bits name the device";
    EXPECT_EQ(fru_inventory_area_info_get(ipmi.intf(), 0, &info), 0xCB);
    EXPECT_EQ(fru_inventory_area_info_get(ipmi.intf(), 0, &info), -1);
}

struct PieceCase {
    const char *name;
    uint32_t target;
    bool words;
    int offset, length;
    std::vector<int> counts;  // asked for
    std::vector<int> answers; // bytes returned
};

TEST(FruDataRead, GoesOutInPiecesOfTheLimit) {
    const PieceCase cases[] = {
        {"the IPMC itself", 0, false, 0, 40, {23, 17}, {23, 17}},
        {"address 0x20", 0x20, false, 0, 40, {22, 18}, {22, 18}},
        {"words at 0x20", 0x20, true, 0, 40, {16, 16, 8}, {16, 16, 8}},
        {"whole words elsewhere", 0x72, true, 8, 24, {11, 11, 4}, {10, 10, 4}},
        {"nothing asked", 0, false, 0, 0, {0}, {0}},
    };
    for (const PieceCase &c : cases) {
        SCOPED_TRACE(c.name);
        FakeIpmi ipmi;
        ipmi.intf()->target_addr = c.target;
        for (const int count : c.answers) {
            ipmi.then(data_answer(count, c.words));
        }
        const FruAreaInfo info{64, c.words};
        Bytes buffer(64, 0);
        EXPECT_EQ(fru_data_read(ipmi.intf(), &info, 1, c.offset, c.length, buffer.data()), 0);
        EXPECT_EQ(counts_asked(ipmi), c.counts);
        EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0x5A), c.length);
        const Bytes &last = ipmi.sent.back().data;
        const int offset = c.offset + c.length - c.answers.back();
        EXPECT_EQ(last[1] | last[2] << 8, c.words ? offset / 2 : offset);
    }
}

TEST(FruDataRead, LengthCodesShrinkThePiecesDownToNine) {
    FakeIpmi ipmi;
    ipmi.then(answer(0xC7)).then(answer(0xC8)).then(data_answer(21)).then(data_answer(19));
    for (int i = 0; i < 15; ++i) {
        ipmi.then(answer(i % 2 == 0 ? 0xC7 : 0xC8));
    }
    const FruAreaInfo info{100, 0};
    Bytes buffer(100);
    ASSERT_EQ(fru_data_read(ipmi.intf(), &info, 0, 0, 40, buffer.data()), 0);
    EXPECT_EQ(counts_asked(ipmi), (std::vector<int>{23, 22, 21, 19}));
    ipmi.sent.clear();
    EXPECT_EQ(fru_data_read(ipmi.intf(), &info, 0, 0, 40, buffer.data()), 1);
    const std::vector<int> counts = counts_asked(ipmi);
    EXPECT_EQ(counts.front(), 23) << "each read starts afresh";
    EXPECT_EQ(counts.back(), 9);
    EXPECT_EQ(counts.size(), 15U);
}

TEST(FruDataRead, AnAnswerItCannotUseEndsTheRead) {
    const ScriptedAnswer broken[] = {
        answer(0, {0}),           // nothing returned
        answer(0, {30, 1, 2, 3}), // more than asked
        answer(0, {20, 1, 2, 3}), // fewer bytes than it says
        answer(0xC9),             // any other completion code
        transport_failure(74),    // no answer
    };
    for (const ScriptedAnswer &bad : broken) {
        FakeIpmi ipmi;
        ipmi.then(data_answer(10)).then(bad);
        const FruAreaInfo info{100, 0};
        Bytes buffer(30, 0);
        EXPECT_EQ(fru_data_read(ipmi.intf(), &info, 0, 0, 30, buffer.data()), 1);
        EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0x5A), 10) << "nothing of it is copied";
    }
    FakeIpmi ipmi;
    const FruAreaInfo info{100, 0};
    Bytes buffer(30);
    EXPECT_EQ(fru_data_read(ipmi.intf(), &info, 0, 90, 11, buffer.data()), -1);
    EXPECT_EQ(fru_data_write(ipmi.intf(), &info, 0, 0, 99, 2, buffer.data()), -1);
    EXPECT_TRUE(ipmi.sent.empty()) << "a range past the inventory asks nothing";
}

TEST(FruDataWrite, SendsSixteenBytesAtATime) {
    Bytes source(50);
    for (size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<uint8_t>(i);
    }
    FakeIpmi ipmi;
    ipmi.then(answer(0, {16})).then(answer(0, {0})).then(answer(0, {8}));
    const FruAreaInfo words{200, 1};
    ASSERT_EQ(fru_data_write(ipmi.intf(), &words, 2, 10, 100, 40, source.data()), 0);
    EXPECT_EQ(counts_asked(ipmi), (std::vector<int>{16, 16, 8}))
        << "the count written is not looked at";
    EXPECT_EQ(ipmi.sent[1].data,
              (Bytes{2, 58, 0, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 39, 40, 41}))
        << "device, offset in words, then the bytes from the buffer offset on";

    FakeIpmi failing;
    failing.then(answer(0)).then(answer(0xD5));
    const FruAreaInfo bytes{200, 0};
    EXPECT_EQ(fru_data_write(failing.intf(), &bytes, 0, 0, 0, 40, source.data()), 1);
    EXPECT_EQ(failing.sent.size(), 2U);
}

TEST(FruCommonHeader, FailuresOfTheAreaInfoAndTheHeader) {
    struct Case {
        ScriptedAnswer info;
        Bytes header;
        int result;
    };
    const Case cases[] = {
        {answer(0xCB), {}, -4},
        {answer(0xC3), {}, -4},
        {answer(0xC1), {}, -1},
        {transport_failure(74), {}, -1},
        {area_info(64), {1, 0, 0, 1, 0, 0, 0, 0xFE}, 0},
        {area_info(64), {1, 0, 0, 1, 0, 0, 0, 0xFF}, -5},
        {area_info(4), {}, -1},
    };
    for (const Case &c : cases) {
        FakeIpmi ipmi;
        ipmi.then(c.info);
        if (!c.header.empty()) {
            Bytes data = c.header;
            data.insert(data.begin(), 8);
            ipmi.then(answer(0, data));
        }
        FruAreaInfo info{};
        uint8_t header[FRU_COMMON_HEADER_SIZE];
        EXPECT_EQ(fru_common_header_get(3, ipmi.intf(), &info, header), c.result);
    }
}

TEST(FruQueries, RefuseANullInterface) {
    LogCapture log;
    FruBoardInfo board;
    FruProductInfo product;
    FruMultiRecord *list = reinterpret_cast<FruMultiRecord *>(&board);
    uint8_t buffer[8];
    int size = sizeof buffer;
    board.valid = 7;
    EXPECT_EQ(fru_board_info_get(nullptr, 0, &board), -2);
    EXPECT_EQ(board.valid, 0) << "the record is zero-filled first";
    EXPECT_EQ(fru_product_info_get(nullptr, 0, &product), -2);
    EXPECT_EQ(fru_multi_record_info_get(nullptr, 0, &list), -2);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(fru_internal_area_info_get(nullptr, 0, buffer, &size), -2);
    EXPECT_EQ(seeprom_rw_test(nullptr), -2);
    EXPECT_EQ(std::count_if(log.lines().begin(), log.lines().end(),
                            [](const std::string &line) {
                                return line.find("HVL_IPMI API called with intf == NULL") !=
                                       std::string::npos;
                            }),
              5);
}

// ---- Whole areas from a device serving an image ----

struct RecordList {
    FruMultiRecord *first = nullptr;
    RecordList() = default;
    RecordList(const RecordList &) = delete;
    RecordList &operator=(const RecordList &) = delete;
    ~RecordList() {
        while (first != nullptr) {
            FruMultiRecord *next = first->next;
            std::free(first);
            first = next;
        }
    }
    std::vector<int> types() const {
        std::vector<int> out;
        for (const FruMultiRecord *r = first; r != nullptr; r = r->next) {
            out.push_back(r->type_id);
        }
        return out;
    }
};

TEST(FruAreas, AMadeImageReadsBack) {
    FruImage image = FruImage::made();
    FruBoardInfo board{};
    ASSERT_EQ(fru_board_info_get(image.intf(), 0, &board), 0);
    EXPECT_EQ(board.valid, 1);
    EXPECT_STREQ(board.manufacturer, "Maker");
    EXPECT_STREQ(board.product_name, "Board");
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(board.custom[0].bytes)),
              "MAC=02:00:00:00:00:01/3");
    FruProductInfo product{};
    ASSERT_EQ(fru_product_info_get(image.intf(), 0, &product), 0);
    EXPECT_EQ(product.valid, 1);
    EXPECT_STREQ(product.version, "v2");
    RecordList list;
    ASSERT_EQ(fru_multi_record_info_get(image.intf(), 0, &list.first), 0);
    EXPECT_EQ(list.types(), (std::vector<int>{0x01, 0xC0}));
    EXPECT_EQ(list.first->format, 2) << "the end-of-list flag is not part of the format";
    EXPECT_EQ(list.first->next->length, 0);
    uint8_t internal[64];
    int size = sizeof internal;
    ASSERT_EQ(fru_internal_area_info_get(image.intf(), 0, internal, &size), 0);
    EXPECT_EQ(size, 16) << "up to the board area";
    EXPECT_EQ(internal[0], 0x01);
    size = 5;
    ASSERT_EQ(fru_internal_area_info_get(image.intf(), 0, internal, &size), 0);
    EXPECT_EQ(size, 5) << "cut to the buffer";

    // A word-accessed device gives the areas, but not the odd five bytes of
    // a record header.
    image.words = true;
    board = FruBoardInfo{};
    ASSERT_EQ(fru_board_info_get(image.intf(), 0, &board), 0);
    EXPECT_STREQ(board.part_number, "P01");
    RecordList none;
    EXPECT_EQ(fru_multi_record_info_get(image.intf(), 0, &none.first), 1);
}

TEST(FruAreas, BrokenImagesGiveTheirCodes) {
    struct Case {
        const char *name;
        void (*breaks)(Bytes &image);
        int board, product, records;
        std::vector<int> types; // read before the failure
    };
    const Case cases[] = {
        {"no board area", [](Bytes &i) { FruImage::set_offset(i, 3, 0); }, -13, 0, 0, {0x01, 0xC0}},
        {"no areas but internal use",
         [](Bytes &i) {
             for (int slot = 2; slot < 6; ++slot) {
                 FruImage::set_offset(i, slot, 0);
             }
         },
         -13,
         -13,
         -13,
         {}},
        {"board checksum", [](Bytes &i) { i[FruImage::kBoard + 5] ^= 1; }, -5, 0, 0, {0x01, 0xC0}},
        {"board length 0",
         [](Bytes &i) { FruImage::set_area_length(i, FruImage::kBoard, 0); },
         -1,
         0,
         0,
         {0x01, 0xC0}},
        {"board length past the inventory",
         [](Bytes &i) { FruImage::set_area_length(i, FruImage::kBoard, 255); },
         -1,
         0,
         0,
         {0x01, 0xC0}},
        {"header checksum", [](Bytes &i) { i[7] ^= 1; }, -5, -5, -5, {}},
        {"record header checksum", [](Bytes &i) { i[FruImage::kRecords + 4] ^= 1; }, 0, 0, -5, {}},
        {"record data checksum",
         [](Bytes &i) {
             i[FruImage::kRecords + 3] ^= 1;
             i[FruImage::kRecords + 4] = FruImage::checksum_of(&i[FruImage::kRecords], 4);
         },
         0,
         0,
         -5,
         {}},
        // The zeros behind read as empty records, up to the inventory's end.
        {"list without its end",
         [](Bytes &i) { FruImage::clear_end_of_list(i); },
         0,
         0,
         -1,
         {0x01, 0xC0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FruImage image = FruImage::made();
        c.breaks(image.bytes);
        FruBoardInfo board{};
        EXPECT_EQ(fru_board_info_get(image.intf(), 0, &board), c.board);
        FruProductInfo product{};
        EXPECT_EQ(fru_product_info_get(image.intf(), 0, &product), c.product);
        RecordList list;
        EXPECT_EQ(fru_multi_record_info_get(image.intf(), 0, &list.first), c.records);
        EXPECT_EQ(list.types(), c.types);
    }
}

TEST(FruAreas, AFieldRunningPastItsAreaStopsAtTheAreaEnd) {
    FruImage image = FruImage::made();
    // The file ID field claims 63 bytes; the area is read into a buffer that
    // is zero behind it, but nothing behind the area's end is taken.
    image.bytes[FruImage::kBoard + FruImage::kFileIdAt] = 0xFF;
    FruImage::fix_area_checksum(image.bytes, FruImage::kBoard);
    FruBoardInfo board{};
    ASSERT_EQ(fru_board_info_get(image.intf(), 0, &board), 0);
    EXPECT_EQ(board.valid, 1);
    EXPECT_EQ(std::string(board.fru_file_id).substr(0, 7), "F1\xd7MAC=");
    EXPECT_EQ(board.custom[0].type_length, 0) << "the area has nothing left";
}

TEST(FruInternalArea, EndsWhereTheNextAreaBegins) {
    LogCapture log;
    FruImage image = FruImage::made();
    FruImage::set_offset(image.bytes, 3, 0);
    FruImage::set_offset(image.bytes, 4, 0);
    uint8_t buffer[64];
    int size = sizeof buffer;
    EXPECT_EQ(fru_internal_area_info_get(image.intf(), 0, buffer, &size), -1)
        << "the multirecord area does not end it";
    EXPECT_TRUE(log.contains("Incorrect FRU data"));
    FruImage::set_offset(image.bytes, 1, 0);
    EXPECT_EQ(fru_internal_area_info_get(image.intf(), 0, buffer, &size), -13);
}

TEST(SeepromTest, WritesReadsBackAndRestores) {
    FruImage image = FruImage::made();
    const Bytes before = image.bytes;
    ASSERT_EQ(seeprom_rw_test(image.intf()), 0);
    EXPECT_EQ(image.bytes, before);
    EXPECT_EQ(image.writes, 2) << "the pattern and the saved bytes";

    image.stuck_bit = 0x01; // the device keeps bit 0 of every byte it stores at 0
    EXPECT_EQ(seeprom_rw_test(image.intf()), -1);
    EXPECT_EQ(image.writes, 4) << "the saved bytes go back after a mismatch too";

    image.stuck_bit = 0;
    image.writes = 0;
    FruImage::set_offset(image.bytes, 1, 0);
    EXPECT_EQ(seeprom_rw_test(image.intf()), -1);
    EXPECT_EQ(image.writes, 0) << "without an internal use area nothing is written";
    image.bytes[7] ^= 1;
    EXPECT_EQ(seeprom_rw_test(image.intf()), -5);
}

} // namespace
