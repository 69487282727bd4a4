// The configuration family against the simulated IPMC, through the OpenIPMI
// transport: the board file's values, what a set keeps, the board's refusals
// and the faults a board file gives.
#include <gmock/gmock.h>

#include <numeric>

#include "hvl/hvl_ipmi_ostrel.h"
#include "sim_seam.h"

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

const std::string kOnDefault = "base = \"default.toml\"\nname = \"test\"\n";

class OstrelOnBoard : public ::testing::Test {
protected:
    void open(const std::string &board_file = kOnDefault) {
        sim = std::make_unique<SimulatedBoard>(
            sim::SimBoard::from_toml(board_file, HWREGS_BOARD_DIR));
        ASSERT_EQ(open_ipmi_intf(&intf), 0);
    }
    void TearDown() override { close_ipmi_intf(intf); }

    LogCapture log;
    std::unique_ptr<SimulatedBoard> sim;
    IpmiIntf *intf = nullptr;
};

const FcapDef kFlags[] = {{"x", "byte 2, bit 7", 2, 0x80}, {"end", "", -1, 0}};

struct Setting {
    const char *name;
    int (*set)(IpmiIntf *intf, int value);
    int (*get)(IpmiIntf *intf, int *value);
    int before, value, after;
};

using I = IpmiIntf;

// The library and the IPMC agree on each member's bytes.
TEST_F(OstrelOnBoard, EachGetReadsTheBoardFileAndThenWhatItsSetKept) {
    open();
    // clang-format off
    const Setting settings[] = {
        {"switch 0", [](I *i, int v) { return ostrel_storage_sw_set(i, 3, v); },
         [](I *i, int *o) { return ostrel_storage_sw_get(i, 3, o); }, 5, 1, 1},
        {"switch 1", [](I *i, int v) { return ostrel_storage_sw_set(i, 0, v); },
         [](I *i, int *o) { return ostrel_storage_sw_get(i, 0, o); }, 2, 5, 5},
        {"PCIe mode", ostrel_pcie_mode_set, ostrel_pcie_mode_get, 0, 7, 7},
        {"hot-plug port 3", [](I *i, int v) { return ostrel_pcie_hotplug_set(i, 3, v); },
         [](I *i, int *o) { return ostrel_pcie_hotplug_get(i, 3, o); }, 0, 1, 1},
        {"PCIe clock", ostrel_pcie_clock_set, ostrel_pcie_clock_get, 1, 2, 2},
        {"clock 2 source", [](I *i, int v) { return ostrel_set_clock_source(i, 2, v); },
         [](I *i, int *o) { return ostrel_get_clock_source(i, 2, o); }, 1, 4, 4},
        {"clock 3 driver", [](I *i, int v) { return ostrel_set_clock_driver(i, 3, v); },
         [](I *i, int *o) { return ostrel_get_clock_driver(i, 3, o); }, 0, 1, 1},
        {"PLL 1", [](I *i, int v) { return ostrel_set_pll_config(i, 1, v); },
         [](I *i, int *o) { return ostrel_get_pll_config(i, 1, o); }, 0x21, 0x33, 0x33},
        {"port configuration a", [](I *i, int v) { return ostrel_pcie_portconf_set(i, v, 0); },
         [](I *i, int *o) { int b = 0; return ostrel_pcie_portconf_get(i, o, &b); }, 1, 0x0A, 0x0A},
        {"boot cycle b", [](I *i, int v) { return ostrel_bootcycle_set(i, 2, v, 9); },
         [](I *i, int *o) { int a = 0; return ostrel_bootcycle_get(i, &a, o, &a); }, 300, 0x123, 0x123},
        {"PM mode", ostrel_pm_mode_set, ostrel_pm_mode_get, 1, 0, 0},
        {"IPMB mode, not this product's", ostrel_ipmb_mode_set, ostrel_ipmb_mode_get, 0, 1, 0},
        {"fcap flag", [](I *i, int v) { return ostrel_fcap_set(i, v, 0, kFlags); },
         [](I *i, int *o) { return ostrel_fcap_get(i, 0, o, kFlags); }, 0, 1, 1},
    };
    // clang-format on
    for (const Setting &s : settings) {
        SCOPED_TRACE(s.name);
        int value = -1;
        EXPECT_EQ(s.get(intf, &value), 0);
        EXPECT_EQ(value, s.before);
        EXPECT_EQ(s.set(intf, s.value), 0);
        EXPECT_EQ(s.get(intf, &value), 0);
        EXPECT_EQ(value, s.after);
    }
    int status = 0;
    EXPECT_EQ(ostrel_get_pll_status(intf, &status), 0);
    EXPECT_EQ(status, 3);
    EXPECT_EQ(ipmi_set_debug(intf, 1, 1), 0);
    EXPECT_EQ(ostrel_set_device_id_string(intf, "Board 42"), 0);
    EXPECT_EQ(ostrel_set_clock_source(intf, 4, 1), 0xC9) << "no fifth clock";
}

TEST_F(OstrelOnBoard, TextsAndMemoriesComeFromTheBoardAndBlocksKeepWhatIsWritten) {
    open();
    IpmcRelease release;
    EXPECT_EQ(ipmc_release_get_data(intf, &release), 0);
    EXPECT_STREQ(release.text[0], "1.05");
    EXPECT_STREQ(release.text[1], "r0042");
    EXPECT_STREQ(release.text[2], "2019-06-14 IPMC firmware");

    uint8_t xfp[45] = {};
    EXPECT_EQ(ostrel_xfp_read(intf, 0, 0, 45, xfp), 0);
    EXPECT_THAT(std::vector<uint8_t>(xfp, xfp + 7), ElementsAre(6, 0, 1, 2, 3, 0, 0));

    uint8_t written[45];
    uint8_t read[45] = {};
    std::iota(std::begin(written), std::end(written), 0x80);
    EXPECT_EQ(ipmi_ostrel_block_write(intf, 0x1FF0, 45, written), 0);
    EXPECT_EQ(ipmi_ostrel_block_read(intf, 0x1FF0, 45, read), 0);
    EXPECT_THAT(read, ElementsAreArray(written));
    EXPECT_EQ(ipmi_ostrel_block_read(intf, 0xFFF0, 45, read), 74) << "past the memory's end";
}

// Faults of the board file reach every member; the transfer limit the
// chunked reads.
TEST_F(OstrelOnBoard, FaultsAndTheTransferLimitReachTheFamily) {
    open(kOnDefault + "[ipmc.oem]\ntransfer_limit = 16\n"
                      "[[ipmc.faults]]\nnetfn = 0x30\ncmd = 0x71\nccode = 0xC0\n"
                      "[[ipmc.faults]]\nnetfn = 0x30\ncmd = 0x99\nlength = 1\n"
                      "[[ipmc.faults]]\nnetfn = 0x30\ncmd = 0x93\nlength = 4\n");
    int a = -1;
    int b = -1;
    EXPECT_EQ(ostrel_get_clock_source(intf, 0, &a), 0xC0);
    EXPECT_EQ(ostrel_pcie_mode_get(intf, &a), -1) << "the completion code alone";
    EXPECT_EQ(ostrel_pcie_portconf_get(intf, &a, &b), 0) << "a byte too many";
    EXPECT_EQ(std::make_tuple(a, b), std::make_tuple(0, 0));

    uint8_t buffer[45] = {};
    EXPECT_EQ(ostrel_xfp_read(intf, 0, 0, 16, buffer), 0);
    EXPECT_EQ(ostrel_xfp_read(intf, 0, 0, 17, buffer), 0xCA);
    EXPECT_EQ(ipmi_ostrel_block_read(intf, 0, 45, buffer), 74);
    EXPECT_TRUE(log.contains("ipmi_ostrel_xfp_read): CC code 0xca"));
}

} // namespace
