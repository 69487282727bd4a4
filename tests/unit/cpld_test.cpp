// The process-wide CPLD connection, driven against the simulated board.
#include "sim_seam.h"

namespace {

using Cpld = OnSimulatedBoard;

TEST_F(Cpld, OpenReadsTheVersionThenRegistersAndDcrsReadBackWhatWasWritten) {
    SimulatedBoard sim;
    ASSERT_EQ(cpld_open(PPC), 0);
    EXPECT_TRUE(log.contains("cpld_open): found CPLD version 12"));
    uint8_t byte = 0;
    EXPECT_EQ(cpld_ppcreg_write(0x55, 0xA5), 0);
    EXPECT_EQ(cpld_ppcreg_read(0x55, &byte), 0);
    EXPECT_EQ(byte, 0xA5);

    uint32_t word = 0;
    EXPECT_EQ(cpld_dcr_write(0x10, 0xDEADBEEF), 0);
    EXPECT_EQ(cpld_dcr_read(0x10, &word), 0);
    EXPECT_EQ(word, 0xDEADBEEFU);
    EXPECT_EQ(cpld_sdram0cfg_read(0x20, &word), 0);
    EXPECT_EQ(word, 0x82000000U);
    EXPECT_TRUE(log.contains("cpld_cmd_send CPLD_SDRAM0CFG_READ io.param0 0x20 io.param1 0x82"));

    uint8_t high = 0;
    ASSERT_EQ(cpld_ppcreg_write(1, 0x12), 0);
    EXPECT_EQ(cpld_post_code_read(&byte, &high), 0);
    EXPECT_EQ(byte, 0x3F);
    EXPECT_EQ(high, 0x12);
}

TEST_F(Cpld, PostCodeStopsAtAFailedLowByte) {
    SimulatedBoard sim("post-low-fails.toml");
    ASSERT_EQ(cpld_open(PPC), 0);
    uint8_t low = 0;
    uint8_t high = 0xEE;
    EXPECT_EQ(cpld_post_code_read(&low, &high), -1);
    EXPECT_EQ(high, 0xEE);
}

TEST_F(Cpld, CommandsFailWithoutRequestWhileClosed) {
    SimulatedBoard sim;
    ASSERT_EQ(cpld_open(PPC), 0);
    cpld_close();
    cpld_close(); // may be repeated
    const size_t before = sim.requests();
    uint8_t byte = 0xEE;
    uint32_t word = 0;
    EXPECT_EQ(cpld_ppcreg_read(0x10, &byte), -1);
    EXPECT_EQ(byte, 0) << "the untouched record's param1 is stored";
    EXPECT_EQ(cpld_dcr_write(0x0C, 1), -1);
    EXPECT_EQ(cpld_dbg_led_mode_get(&word), -1);
    EXPECT_EQ(sim.requests(), before);
    EXPECT_TRUE(log.contains("TRCE: global: : cpld.cpp("));
    EXPECT_TRUE(log.contains("cpld_cmd_send): CPLD driver not open"));
}

TEST_F(Cpld, OpenFailsWithoutDriverOrVersionButKeepsADriverThatOpened) {
    {
        SimulatedBoard sim("cpld-absent.toml");
        EXPECT_EQ(cpld_open(PPC), -1);
        EXPECT_TRUE(log.contains("cannot open /dev/cpld: No such file or directory (2)"));
    }
    SimulatedBoard sim("version-fails.toml");
    EXPECT_NE(cpld_open(PPC), 0);
    uint8_t value = 0;
    EXPECT_EQ(cpld_ppcreg_read(0xFE, &value), 0);
    EXPECT_EQ(value, 0x14);
}

TEST_F(Cpld, LedModeIsSetAndGotButInvalidModesAreNotSent) {
    SimulatedBoard sim;
    ASSERT_EQ(cpld_open(PPC), 0);
    const size_t before = sim.requests();
    EXPECT_EQ(cpld_dbg_led_mode_set(2), -1);
    EXPECT_TRUE(log.contains("invalid led mode:"));
    EXPECT_EQ(sim.requests(), before);
    for (const uint32_t mode : {1U, 0U}) {
        uint32_t got = 7;
        EXPECT_EQ(cpld_dbg_led_mode_set(static_cast<int>(mode)), 0);
        EXPECT_EQ(cpld_dbg_led_mode_get(&got), 0);
        EXPECT_EQ(got, mode);
    }
}

// Only the low bit of `on` counts; the other bits of the register stay.
TEST_F(Cpld, DebugLedsAreBitsSixAndSevenOfTheLedRegister) {
    SimulatedBoard sim;
    ASSERT_EQ(cpld_open(PPC), 0);
    ASSERT_EQ(cpld_ppcreg_write(0x11, 0x10), 0);
    const int steps[][3] = {{0, 3, 0x50}, {1, 3, 0xD0}, {0, 2, 0x90}, {1, 0, 0x10}};
    for (const auto &[which, on, reads] : steps) {
        EXPECT_EQ(cpld_debug_led_bit_set(which, on), 0);
        uint8_t reg = 0;
        ASSERT_EQ(cpld_ppcreg_read(0x11, &reg), 0);
        EXPECT_EQ(reg, reads) << "LED " << which << " set to " << on;
        for (int led : {0, 1}) {
            uint8_t state = 9;
            EXPECT_EQ(cpld_debug_led_bit_get(led, &state), 0);
            EXPECT_EQ(state, (reads >> (6 + led)) & 1) << "LED " << led << " of " << reads;
        }
    }
    const size_t before = sim.requests();
    uint8_t state = 0;
    EXPECT_EQ(cpld_debug_led_bit_set(2, 1), -1);
    EXPECT_EQ(cpld_debug_led_bit_get(-1, &state), -1);
    EXPECT_EQ(sim.requests(), before);
}

} // namespace
