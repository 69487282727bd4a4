// FRU data and board data on the simulated board, through the OpenIPMI
// transport: the board's own FRU and the mezzanine's, devices that misbehave,
// the MAC address from both sources, the storage test and the migration of
// FRU data into the engineering options, whole or not at all.
#include <gmock/gmock.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "hvl/board_info.h"
#include "hvl/hvl_ipmi_fru.h"
#include "sim_seam.h"

namespace {

class FruOnBoard : public ::testing::Test {
protected:
    // Another board, as after a power cycle: nothing of the last one is kept.
    void open(const std::string &text) {
        close_ipmi_intf(intf);
        intf = nullptr;
        sim.reset();
        sim = std::make_unique<SimulatedBoard>(sim::SimBoard::from_toml(text, HWREGS_BOARD_DIR));
        ASSERT_EQ(open_ipmi_intf(&intf), 0);
    }
    void open_file(const std::string &file) { open("base = \"" + file + "\"\nname = \"test\"\n"); }
    void TearDown() override { close_ipmi_intf(intf); }

    EngRecord record() {
        EngRecord now{};
        EXPECT_EQ(ipmi_ostrel_eng_record_get(intf, &now), 0);
        return now;
    }

    LogCapture log;
    std::unique_ptr<SimulatedBoard> sim;
    IpmiIntf *intf = nullptr;
};

int multi_records(IpmiIntf *intf, int fru, std::vector<int> *types) {
    FruMultiRecord *list = nullptr;
    const int rc = fru_multi_record_info_get(intf, fru, &list);
    while (list != nullptr) {
        types->push_back(list->type_id);
        FruMultiRecord *next = list->next;
        std::free(list);
        list = next;
    }
    return rc;
}

TEST_F(FruOnBoard, TheBoardAndTheMezzanineDescribeThemselves) {
    open_file("default.toml");
    FruBoardInfo board{};
    ASSERT_EQ(fru_board_info_get(intf, 0, &board), 0);
    EXPECT_EQ(board.valid, 1);
    EXPECT_STREQ(board.product_name, "PPC Board");
    FruBoardInfo mezzanine{};
    ASSERT_EQ(fru_board_info_get(intf, 1, &mezzanine), 0);
    EXPECT_STREQ(mezzanine.part_number, "PM-0200 ") << "6-bit ASCII, padding included";
    FruProductInfo product{};
    ASSERT_EQ(fru_product_info_get(intf, 0, &product), 0);
    EXPECT_STREQ(product.asset_tag, "ASSET-0001");
    std::vector<int> types;
    EXPECT_EQ(multi_records(intf, 0, &types), 0);
    EXPECT_EQ(types, (std::vector<int>{0x00, 0x01, 0xC0}));

    // The FRU and the engineering options name the same address.
    MacInfo from_fru{};
    MacInfo from_options{};
    ASSERT_EQ(board_info_get_mac(intf, &from_fru), 0);
    ASSERT_EQ(board_info_get_eng_mac(intf, &from_options), 0);
    EXPECT_STREQ(from_fru.text, "02:00:00:00:00:01");
    EXPECT_STREQ(from_options.text, from_fru.text);
    EXPECT_EQ(from_options.suffix, from_fru.suffix);
}

TEST_F(FruOnBoard, MisbehavingDevicesGiveTheirCodes) {
    struct Case {
        const char *board;
        int board_rc, product_rc, records_rc;
    };
    const Case cases[] = {
        {"fru-absent.toml", -4, -4, -4},
        {"fru-short.toml", 1, 1, 1},
        {"fru-limit.toml", 0, 0, 0},
        {"fru-limit-c8.toml", 0, 0, 0},
        {"fru-word.toml", 0, 0, 1}, // no odd bytes from a device of words
        {"fru-hostile-bad-checksum.toml", -5, 0, -13},
        {"fru-hostile-zero-length.toml", -1, 0, -13},
        {"fru-hostile-huge-length.toml", -1, -13, -13},
        {"fru-hostile-no-board-offset.toml", -13, 0, -13},
        {"fru-hostile-field-overrun.toml", 0, 0, -13},
        {"fru-hostile-endless-multirecord.toml", 0, -13, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.board);
        open_file(c.board);
        FruBoardInfo board{};
        EXPECT_EQ(fru_board_info_get(intf, 0, &board), c.board_rc);
        FruProductInfo product{};
        EXPECT_EQ(fru_product_info_get(intf, 0, &product), c.product_rc);
        std::vector<int> types;
        EXPECT_EQ(multi_records(intf, 0, &types), c.records_rc);
    }
}

TEST_F(FruOnBoard, TheStorageTestLeavesTheFruAsItWas) {
    open_file("default.toml");
    uint8_t before[16];
    int size = sizeof before;
    ASSERT_EQ(fru_internal_area_info_get(intf, 0, before, &size), 0);
    EXPECT_EQ(seeprom_rw_test(intf), 0);
    uint8_t after[16];
    ASSERT_EQ(fru_internal_area_info_get(intf, 0, after, &size), 0);
    EXPECT_THAT(after, ::testing::ElementsAreArray(before));
}

// What the migrate board's FRUs give: options, mezzanine flag and option,
// three bytes carried unchanged, MAC and suffix.
const EngOptions kMigrated = {0x05, 0x01, 0x03, {0, 0, 0}, {0x02, 0, 0, 0, 0x10, 0x01}, 0x03, 0};

void expect_migrated(const EngRecord &now) {
    EXPECT_THAT(now.fcap, ::testing::Each(0xFF)) << "the flags are kept";
    EXPECT_EQ(now.options.board_option, kMigrated.board_option);
    EXPECT_EQ(now.options.mezzanine, kMigrated.mezzanine);
    EXPECT_EQ(now.options.mezzanine_option, kMigrated.mezzanine_option);
    EXPECT_THAT(now.options.mac, ::testing::ElementsAreArray(kMigrated.mac));
    EXPECT_EQ(now.options.mac_suffix, kMigrated.mac_suffix);
    EXPECT_EQ(now.options.crc, ostrel_crc8(&now.options.board_option, 13));
}

TEST_F(FruOnBoard, MigrationMovesTheFruDataOnce) {
    open_file("migrate.toml");
    ASSERT_EQ(board_info_migrate_to_fcap(intf), 0);
    EXPECT_TRUE(log.contains("engineering options not yet set"));
    EXPECT_TRUE(log.contains("migrate eng. options for mezzanine card"));
    expect_migrated(record());
    MacInfo mac{};
    ASSERT_EQ(board_info_get_eng_mac(intf, &mac), 0);
    EXPECT_STREQ(mac.text, "02:00:00:00:10:01");

    const size_t before = sim->messages();
    EXPECT_EQ(board_info_migrate_to_fcap(intf), 0);
    EXPECT_TRUE(log.contains("engineering allready set"));
    EXPECT_EQ(sim->messages() - before, 2U) << "device ID and record, nothing written";
}

TEST_F(FruOnBoard, MigrationWritesNothingOnTheDefaultBoard) {
    // Valid options already; and with them broken, a FRU of text fields.
    open_file("default.toml");
    const EngRecord valid = record();
    EXPECT_EQ(board_info_migrate_to_fcap(intf), 0);
    open("base = \"eng-corrupt.toml\"\nname = \"test\"\n");
    const EngRecord corrupt = record();
    EXPECT_EQ(board_info_migrate_to_fcap(intf), -1);
    const EngRecord now = record();
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&now), sizeof now),
              std::string(reinterpret_cast<const char *>(&corrupt), sizeof corrupt));
    EXPECT_NE(valid.options.crc, corrupt.options.crc);
}

TEST_F(FruOnBoard, MigrationIsWholeOrNothingWhicheverRequestFails) {
    open_file("migrate.toml");
    const size_t start = sim->messages();
    ASSERT_EQ(board_info_migrate_to_fcap(intf), 0);
    const size_t requests = sim->messages() - start;
    ASSERT_GT(requests, 20U);
    int failed = 0;
    for (size_t n = 1; n <= requests; ++n) {
        SCOPED_TRACE("request " + std::to_string(n) + " answered 0xC0");
        // The open's own request comes first.
        open("base = \"migrate.toml\"\nname = \"test\"\n[[ipmc.faults]]\noccurrence = " +
             std::to_string(n + 1) + "\nccode = 0xC0\n");
        const int rc = board_info_migrate_to_fcap(intf);
        const EngRecord now = record();
        if (rc == 0) {
            expect_migrated(now);
        } else {
            ++failed;
            EXPECT_THAT(now.options.mac, ::testing::Each(0xFF)) << "nothing written";
            EXPECT_EQ(now.options.crc, 0xFF);
        }
    }
    EXPECT_GT(failed, static_cast<int>(requests) / 2);
}

} // namespace
