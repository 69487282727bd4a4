// FRU data and board data on the simulated board, through the OpenIPMI
// transport: the board's own FRU and the mezzanine's, devices and images that
// misbehave, the MAC address from both sources, the storage test, the real
// FRU images of other projects and the migration of FRU data into the
// engineering options, whole or not at all.
#include <gmock/gmock.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "hvl/board_info.h"
#include "hvl/hvl_ipmi_fru.h"
#include "sim_seam.h"

namespace {

using Bytes = std::vector<uint8_t>;

const std::string kBase = "base = \"default.toml\"\nname = \"test\"\n";

Bytes file_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Makes the `length` bytes from `at` sum to zero with the last of them.
void fix_sum(Bytes &bytes, size_t at, size_t length) {
    unsigned sum = 0;
    for (size_t i = at; i < at + length - 1; ++i) {
        sum += bytes[i];
    }
    bytes[at + length - 1] = static_cast<uint8_t>(-sum);
}

// A common header and a board area of these texts: manufacturer, name,
// serial, part, file ID, then the custom fields.
Bytes board_image(const std::vector<std::string> &texts) {
    Bytes image{0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xFE, 0x01, 0x00, 0x00, 0, 0, 0};
    for (const std::string &text : texts) {
        image.push_back(static_cast<uint8_t>(0xC0 | text.size()));
        image.insert(image.end(), text.begin(), text.end());
    }
    image.push_back(0xC1);
    image.resize((image.size() + 8) / 8 * 8);
    image[9] = static_cast<uint8_t>(image.size() / 8 - 1);
    fix_sum(image, 8, image.size() - 8);
    return image;
}

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
    // The default board with FRU 0 serving `image`.
    void open_image(const Bytes &image) {
        std::ofstream(image_path, std::ios::binary)
            .write(reinterpret_cast<const char *>(image.data()),
                   static_cast<std::streamsize>(image.size()));
        open(kBase + "[[ipmc.fru]]\nid = 0\nimage = \"" + image_path + "\"\n");
    }
    void TearDown() override {
        close_ipmi_intf(intf);
        std::remove(image_path.c_str());
    }

    EngRecord record() {
        EngRecord now{};
        EXPECT_EQ(ipmi_ostrel_eng_record_get(intf, &now), 0);
        return now;
    }

    // The image's file, of this process alone.
    const std::string image_path =
        ::testing::TempDir() + "fru_board_test." + std::to_string(getpid());
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

// A file of the board directory, or the default board's FRU 0 image broken.
TEST_F(FruOnBoard, MisbehavingDevicesAndImagesGiveTheirCodes) {
    struct Case {
        const char *board;
        void (*breaks)(Bytes &image);
        int board_rc, product_rc, records_rc;
    };
    constexpr size_t kRecords = 0xD0; // the multirecord area of default-0.bin
    const Case cases[] = {
        {"fru-absent.toml", nullptr, -4, -4, -4},
        {"fru-short.toml", nullptr, 1, 1, 1},
        {"fru-limit.toml", nullptr, 0, 0, 0},
        {"fru-limit-c8.toml", nullptr, 0, 0, 0},
        {"fru-word.toml", nullptr, 0, 0, 1}, // no odd bytes from a device of words
        {"fru-hostile-bad-checksum.toml", nullptr, -5, 0, -13},
        {"fru-hostile-zero-length.toml", nullptr, -1, 0, -13},
        {"fru-hostile-huge-length.toml", nullptr, -1, -13, -13},
        {"fru-hostile-no-board-offset.toml", nullptr, -13, 0, -13},
        {"fru-hostile-field-overrun.toml", nullptr, 0, 0, -13},
        {"fru-hostile-endless-multirecord.toml", nullptr, 0, -13, -1},
        {"header checksum", [](Bytes &i) { i[7] ^= 1; }, -5, -5, -5},
        {"record header checksum", [](Bytes &i) { i[kRecords + 4] ^= 1; }, 0, 0, -5},
        {"record data checksum",
         [](Bytes &i) {
             i[kRecords + 3] ^= 1;
             fix_sum(i, kRecords, 5);
         },
         0, 0, -5},
    };
    const Bytes image = file_bytes(HWREGS_BOARD_DIR "/fru/default-0.bin");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.board);
        if (c.breaks != nullptr) {
            Bytes broken = image;
            c.breaks(broken);
            open_image(broken);
        } else {
            open_file(c.board);
        }
        FruBoardInfo board{};
        EXPECT_EQ(fru_board_info_get(intf, 0, &board), c.board_rc);
        FruProductInfo product{};
        EXPECT_EQ(fru_product_info_get(intf, 0, &product), c.product_rc);
        std::vector<int> types;
        EXPECT_EQ(multi_records(intf, 0, &types), c.records_rc);
    }
}

// The internal use area ends at the next area, which the multirecord area is not.
TEST_F(FruOnBoard, TheInternalAreaEndsAtTheNextArea) {
    Bytes image = file_bytes(HWREGS_BOARD_DIR "/fru/default-0.bin");
    uint8_t buffer[64];
    int size = sizeof buffer;
    open_image(image);
    ASSERT_EQ(fru_internal_area_info_get(intf, 0, buffer, &size), 0);
    EXPECT_EQ(size, 16);
    EXPECT_EQ(buffer[1], 0x10);
    size = 5;
    ASSERT_EQ(fru_internal_area_info_get(intf, 0, buffer, &size), 0);
    EXPECT_EQ(size, 5) << "cut to the buffer";
    image[3] = image[4] = 0;
    fix_sum(image, 0, 8);
    open_image(image);
    EXPECT_EQ(fru_internal_area_info_get(intf, 0, buffer, &size), -1);
    EXPECT_TRUE(log.contains("Incorrect FRU data"));
    image[1] = 0;
    fix_sum(image, 0, 8);
    open_image(image);
    EXPECT_EQ(fru_internal_area_info_get(intf, 0, buffer, &size), -13);
}

// The pattern goes to the internal use area and what was there goes back,
// also after a read-back that does not match (the third read of offset 8).
TEST_F(FruOnBoard, TheStorageTestLeavesTheFruAsItWas) {
    for (const bool read_back_wrong : {false, true}) {
        open(kBase + (read_back_wrong ? "[[ipmc.faults]]\nnetfn = 0x0A\ncmd = 0x11\ndata_from = 1\n"
                                        "data = [0x08, 0x00]\noccurrence = 3\n"
                                        "answer = [0, 8, 0, 0, 0, 0, 0, 0, 0, 0]\n"
                                      : ""));
        uint8_t before[16];
        int size = sizeof before;
        ASSERT_EQ(fru_internal_area_info_get(intf, 0, before, &size), 0);
        EXPECT_EQ(seeprom_rw_test(intf), read_back_wrong ? -1 : 0);
        uint8_t after[16];
        ASSERT_EQ(fru_internal_area_info_get(intf, 0, after, &size), 0);
        EXPECT_THAT(after, ::testing::ElementsAreArray(before));
    }
    Bytes image = board_image({"M", "B", "S", "P", "F"});
    open_image(image);
    EXPECT_EQ(seeprom_rw_test(intf), -1) << "no internal use area";
    image[7] ^= 1;
    open_image(image);
    EXPECT_EQ(seeprom_rw_test(intf), -5);
}

// The MAC text is the last MAC= custom field; 17 characters go into the text
// and the suffix is still read.
TEST_F(FruOnBoard, TheMacAddressIsTheLastMacFieldOfTheBoardArea) {
    struct Case {
        std::vector<std::string> custom;
        int result;
        const char *text;
        std::vector<int> mac;
        int suffix;
    };
    const Case cases[] = {
        {{"MAC=2:0:0:0:0:1/3"}, 0, "2:0:0:0:0:1/3", {2, 0, 0, 0, 0, 1}, 3},
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
        std::vector<std::string> texts{"M", "B", "S", "P", "F"};
        texts.insert(texts.end(), c.custom.begin(), c.custom.end());
        open_image(board_image(texts));
        log.clear();
        MacInfo mac{};
        EXPECT_EQ(board_info_get_mac(intf, &mac), c.result);
        EXPECT_STREQ(mac.text, c.text);
        EXPECT_EQ(mac.valid, c.result == 0 ? 1 : 0);
        if (c.result == 0) {
            EXPECT_EQ(std::vector<int>(std::begin(mac.mac), std::end(mac.mac)), c.mac);
            EXPECT_EQ(mac.suffix, c.suffix);
        }
        EXPECT_EQ(log.contains("MAC address MAC=02:00:00:00:00:01 not parseable"), c.result == 22);
    }
    open_file("fru-hostile-no-board-offset.toml");
    MacInfo mac{};
    EXPECT_EQ(board_info_get_mac(intf, &mac), -13) << "the FRU's failure is passed up";
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
TEST_F(FruOnBoard, TheOldBoardQueryIsValidWhateverTheReadGives) {
    open_file("fru-hostile-no-board-offset.toml");
    BoardInfo info;
    EXPECT_EQ(board_info_get(intf, 0, &info), -13);
    EXPECT_EQ(info.valid, 1);
    EXPECT_TRUE(log.contains("deprecated function"));
    EXPECT_EQ(board_info_get(nullptr, 0, &info), -2);
    EXPECT_EQ(info.board.product_name[0], '\0') << "zeroed first";
}
#pragma GCC diagnostic pop

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

int custom_count(const FruCustomField *custom) {
    int count = 0;
    while (count < FRU_CUSTOM_FIELD_COUNT && custom[count].type_length != 0) {
        ++count;
    }
    return count;
}

TEST_F(FruOnBoard, RealImagesDecodeAsFreeIpmiReadsThem) {
    setenv("TZ", "UTC", 1);
    tzset();
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
        const Bytes image = file_bytes(path);
        if (image.empty()) {
            GTEST_SKIP() << "no FRU image at " << path;
        }
        open_image(image);
        FruBoardInfo board;
        EXPECT_EQ(fru_board_info_get(intf, 0, &board), 0);
        EXPECT_EQ(board.valid, 1);
        const char *board_texts[] = {board.mfg_date,      board.manufacturer, board.product_name,
                                     board.serial_number, board.part_number,  board.fru_file_id};
        for (int i = 0; i < 6; ++i) {
            EXPECT_STREQ(board_texts[i], c.board[i]);
        }
        EXPECT_EQ(custom_count(board.custom), c.board_custom);
        Bytes first{board.custom[0].type_length};
        first.insert(first.end(), board.custom[0].bytes,
                     board.custom[0].bytes + c.first_custom.size());
        Bytes expected = c.first_custom;
        expected.push_back(0); // behind the data
        EXPECT_EQ(first, expected);

        FruProductInfo product;
        if (c.product[0] == nullptr) {
            EXPECT_EQ(fru_product_info_get(intf, 0, &product), -13);
            // Three DC loads, three DC outputs and two OEM records, as FreeIPMI
            // lists them; the first load: output 0, nominal 2500 mV in 10 mV.
            FruMultiRecord *list = nullptr;
            ASSERT_EQ(fru_multi_record_info_get(intf, 0, &list), 0);
            EXPECT_EQ(
                Bytes({list->length, list->format, list->data[0], list->data[1], list->data[2]}),
                Bytes({13, 2, 0, 250, 0}));
            std::vector<int> types;
            for (FruMultiRecord *next = nullptr; list != nullptr; list = next) {
                types.push_back(list->type_id);
                next = list->next;
                std::free(list);
            }
            EXPECT_EQ(types, (std::vector<int>{2, 2, 2, 1, 1, 1, 0xFA, 0xFA}));
            continue;
        }
        EXPECT_EQ(fru_product_info_get(intf, 0, &product), 0);
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
