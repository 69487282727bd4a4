// Reading and writing FRU devices through a scripted IPMC: the pieces a read
// and a write go out in, what ends them, and the common header.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fake_ipmi.h"
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
        data_answer(21),          // one byte more than asked
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

} // namespace
