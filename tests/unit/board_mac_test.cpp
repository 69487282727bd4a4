// The board's MAC address from the text custom fields of its FRU board area,
// and the board data query kept for old callers.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fru_image.h"
#include "hvl/board_info.h"
#include "log_capture.h"

namespace {

using Octets = std::vector<int>;

Octets octets(const MacInfo &mac) { return Octets(std::begin(mac.mac), std::end(mac.mac)); }

TEST(BoardMac, ReadsTheTextFormOfTheCustomFields) {
    struct Case {
        std::vector<std::string> custom;
        int result;
        const char *text;
        Octets mac;
        int suffix;
    };
    const Case cases[] = {
        {{"MAC=2:0:0:0:0:1/3"}, 0, "2:0:0:0:0:1/3", {2, 0, 0, 0, 0, 1}, 3},
        // Seventeen characters go into the text; the suffix is still read.
        {{"MAC=02:00:00:00:00:01/3"}, 0, "02:00:00:00:00:01", {2, 0, 0, 0, 0, 1}, 3},
        {{"id", "MAC=2:0:0:0:0:1/3", "MAC=a:b:c:d:e:1ff/9"},
         0,
         "a:b:c:d:e:1ff/9",
         {10, 11, 12, 13, 14, 0xFF},
         9},
        {{"MAC=02:00:00:00:00:01", "MAC=2:0:0:0:0:1/3"}, 22, "02:00:00:00:00:01", {}, 0},
        {{"serial=1"}, 99, "", {}, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.custom.back());
        LogCapture log;
        FruImage image = FruImage::made(c.custom);
        MacInfo mac{};
        EXPECT_EQ(board_info_get_mac(image.intf(), &mac), c.result);
        EXPECT_STREQ(mac.text, c.text);
        EXPECT_EQ(mac.valid, c.result == 0 ? 1 : 0);
        if (c.result == 0) {
            EXPECT_EQ(octets(mac), c.mac);
            EXPECT_EQ(mac.suffix, c.suffix);
        }
        EXPECT_EQ(log.contains("MAC address MAC=02:00:00:00:00:01 not parseable"), c.result == 22);
    }
    FruImage image = FruImage::made();
    FruImage::set_offset(image.bytes, 3, 0);
    MacInfo mac{};
    EXPECT_EQ(board_info_get_mac(image.intf(), &mac), -13) << "the FRU's failure is passed up";
}

TEST(BoardMac, RawOctetsReadAsUpperCaseText) {
    const uint8_t raw[] = {0x02, 0x00, 0xAB, 0x0C, 0xFF, 0x01, 0x07};
    MacInfo mac{};
    EXPECT_EQ(board_info_mac_parse(raw, &mac), 0);
    EXPECT_STREQ(mac.text, "02:00:AB:0C:FF:01");
    EXPECT_EQ(octets(mac), (Octets{2, 0, 0xAB, 0x0C, 0xFF, 1}));
    EXPECT_EQ(mac.suffix, 7);
    EXPECT_EQ(mac.valid, 1);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
TEST(BoardInfo, IsValidWhateverTheReadGives) {
    FruImage image = FruImage::made();
    BoardInfo info;
    EXPECT_EQ(board_info_get(image.intf(), 0, &info), 0);
    EXPECT_EQ(info.valid, 1);
    EXPECT_STREQ(info.board.product_name, "Board");
    LogCapture log;
    EXPECT_EQ(board_info_get(nullptr, 0, &info), -2);
    EXPECT_EQ(info.valid, 1);
    EXPECT_EQ(info.board.product_name[0], '\0') << "zeroed first";
    EXPECT_TRUE(log.contains("deprecated function"));
}
#pragma GCC diagnostic pop

} // namespace
