// The process-wide CPLD connection, driven against the simulated board.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hvl/cpld.h"
#include "log_capture.h"
#include "sim_seam.h"

using ::testing::Contains;
using ::testing::HasSubstr;

namespace {

constexpr const char *default_board = R"(base = "default.toml")";

class Cpld : public ::testing::Test {
protected:
    void TearDown() override { cpld_close(); }
    LogCapture log;
};

TEST_F(Cpld, OpenReadsTheVersionAndRegistersReadBack) {
    SimulatedBoard sim(default_board);
    ASSERT_EQ(cpld_open(PPC), 0);
    EXPECT_TRUE(log.contains("found CPLD version 12"));

    uint8_t version = 0;
    uint8_t board_id = 0;
    EXPECT_EQ(cpld_ppcreg_read(0x10, &version), 0);
    EXPECT_EQ(cpld_ppcreg_read(0xFD, &board_id), 0);
    EXPECT_EQ(version, 0x0C);
    EXPECT_EQ(board_id, 0xB5);

    uint8_t value = 0;
    EXPECT_EQ(cpld_ppcreg_write(0x55, 0xA5), 0);
    EXPECT_EQ(cpld_ppcreg_read(0x55, &value), 0);
    EXPECT_EQ(value, 0xA5);
}

TEST_F(Cpld, EveryCommandFailsWithoutRequestWhileClosed) {
    SimulatedBoard sim(default_board);
    uint8_t byte = 0xEE;
    uint32_t word = 0;
    uint8_t high = 0;
    EXPECT_EQ(cpld_ppcreg_read(0x10, &byte), -1);
    EXPECT_EQ(byte, 0) << "the untouched record's param1 is stored";
    EXPECT_EQ(cpld_ppcreg_write(0x10, 1), -1);
    EXPECT_EQ(cpld_dcr_read(0x0C, &word), -1);
    EXPECT_EQ(cpld_dcr_write(0x0C, 1), -1);
    EXPECT_EQ(cpld_sdram0cfg_read(0x20, &word), -1);
    EXPECT_EQ(cpld_version_read(&byte), -1);
    EXPECT_EQ(cpld_post_code_read(&byte, &high), -1);
    EXPECT_EQ(cpld_dbg_led_mode_set(1), -1);
    EXPECT_EQ(cpld_dbg_led_mode_get(&word), -1);
    EXPECT_EQ(cpld_cmd5_send(7), -1);
    EXPECT_EQ(sim.requests(), 0U);
    EXPECT_THAT(log.lines(), Contains(HasSubstr("TRCE: global: : cpld.cpp(")));
    EXPECT_TRUE(log.contains("cpld_cmd_send): CPLD driver not open"));
}

TEST_F(Cpld, MissingDriverFailsTheOpenWithErrnoText) {
    SimulatedBoard sim(R"(base = "cpld-absent.toml")");
    EXPECT_EQ(cpld_open(PPC), -1);
    EXPECT_TRUE(log.contains("cannot open /dev/cpld: No such file or directory (2)"));
}

TEST_F(Cpld, FailedVersionReadFailsTheOpenButKeepsTheDriverOpen) {
    SimulatedBoard sim(R"(base = "version-fails.toml")");
    EXPECT_NE(cpld_open(PPC), 0);
    uint8_t value = 0;
    EXPECT_EQ(cpld_ppcreg_read(0xFE, &value), 0);
    EXPECT_EQ(value, 0x14);
}

TEST_F(Cpld, DriverResultIsTheResultAndTheValueIsStoredAnyway) {
    SimulatedBoard sim(R"(base = "rc-5.toml")");
    ASSERT_EQ(cpld_open(PPC), 0);
    uint8_t value = 0;
    EXPECT_EQ(cpld_ppcreg_read(0x10, &value), 5);
    EXPECT_TRUE(log.contains("ioctl returned no error io->rc 5"));
    EXPECT_TRUE(log.contains("cpld_ppcreg_read): ioctl failed:"));
}

TEST_F(Cpld, FailedIoctlReturnsMinusOneAndLogsErrno) {
    SimulatedBoard sim(R"(base = "ioctl-eio.toml")");
    ASSERT_EQ(cpld_open(PPC), 0);
    uint8_t value = 0;
    EXPECT_EQ(cpld_ppcreg_read(0x10, &value), -1);
    EXPECT_TRUE(log.contains("ioctl failed: Input/output error (5)"));
    EXPECT_EQ(cpld_ppcreg_read(0x11, &value), 0);
}

TEST_F(Cpld, CloseForgetsDriverAndMayBeRepeated) {
    SimulatedBoard sim(default_board);
    ASSERT_EQ(cpld_open(PPC), 0);
    cpld_close();
    cpld_close();
    uint8_t value = 0;
    EXPECT_EQ(cpld_ppcreg_read(0x10, &value), -1);
}

TEST_F(Cpld, DcrsHoldThirtyTwoBitValues) {
    SimulatedBoard sim(default_board);
    ASSERT_EQ(cpld_open(PPC), 0);
    uint32_t value = 0;
    EXPECT_EQ(cpld_dcr_write(0x10, 0xDEADBEEF), 0);
    EXPECT_EQ(cpld_dcr_read(0x10, &value), 0);
    EXPECT_EQ(value, 0xDEADBEEFU);
    EXPECT_EQ(cpld_sdram0cfg_read(0x20, &value), 0);
    EXPECT_TRUE(log.contains("cpld_cmd_send CPLD_SDRAM0CFG_READ io.param0 0x20 io.param1 0x"));
}

TEST_F(Cpld, LedModeIsSetAndGotButInvalidModesAreNotSent) {
    SimulatedBoard sim(default_board);
    ASSERT_EQ(cpld_open(PPC), 0);
    const size_t before = sim.requests();
    EXPECT_EQ(cpld_dbg_led_mode_set(2), -1);
    EXPECT_TRUE(log.contains("invalid led mode:"));
    EXPECT_EQ(sim.requests(), before);

    uint32_t mode = 7;
    EXPECT_EQ(cpld_dbg_led_mode_set(1), 0);
    EXPECT_EQ(cpld_dbg_led_mode_get(&mode), 0);
    EXPECT_EQ(mode, 1U);
    EXPECT_EQ(cpld_dbg_led_mode_set(0), 0);
    EXPECT_EQ(cpld_dbg_led_mode_get(&mode), 0);
    EXPECT_EQ(mode, 0U);
}

TEST_F(Cpld, DebugLedBitsAreBitsSixAndSevenOfTheLedRegister) {
    SimulatedBoard sim(default_board);
    ASSERT_EQ(cpld_open(PPC), 0);
    ASSERT_EQ(cpld_ppcreg_write(0x11, 0x10), 0);

    EXPECT_EQ(cpld_debug_led_bit_set(1, 3), 0); // only the low bit of `on` counts
    uint8_t reg = 0;
    ASSERT_EQ(cpld_ppcreg_read(0x11, &reg), 0);
    EXPECT_EQ(reg, 0x90);

    uint8_t state = 9;
    EXPECT_EQ(cpld_debug_led_bit_get(1, &state), 0);
    EXPECT_EQ(state, 1);
    EXPECT_EQ(cpld_debug_led_bit_get(0, &state), 0);
    EXPECT_EQ(state, 0);
    EXPECT_EQ(cpld_debug_led_bit_set(1, 0), 0);
    ASSERT_EQ(cpld_ppcreg_read(0x11, &reg), 0);
    EXPECT_EQ(reg, 0x10);

    const size_t before = sim.requests();
    EXPECT_EQ(cpld_debug_led_bit_set(2, 1), -1);
    EXPECT_EQ(cpld_debug_led_bit_get(-1, &state), -1);
    EXPECT_EQ(sim.requests(), before);
}

TEST_F(Cpld, PostCodeIsTheFirstTwoRegisters) {
    SimulatedBoard sim(default_board);
    ASSERT_EQ(cpld_open(PPC), 0);
    ASSERT_EQ(cpld_ppcreg_write(1, 0x12), 0);
    uint8_t low = 0;
    uint8_t high = 0;
    EXPECT_EQ(cpld_post_code_read(&low, &high), 0);
    EXPECT_EQ(low, 0x3F);
    EXPECT_EQ(high, 0x12);
}

TEST(CpldRequests, AreTheDriversIoctlNumbers) {
#if defined(__powerpc__)
    EXPECT_EQ(CPLD_VERSION_READ, 0x20004300U);
    EXPECT_EQ(CPLD_SDRAM0CFG_READ, 0x2000430AU);
#else
    EXPECT_EQ(CPLD_VERSION_READ, 0x4300U);
    EXPECT_EQ(CPLD_SDRAM0CFG_READ, 0x430AU);
#endif
    EXPECT_EQ(CPLD_PPCREG_READ - CPLD_VERSION_READ, 6U);
}

} // namespace
