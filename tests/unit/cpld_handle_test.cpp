// Caller-owned CPLD handles: argument checks first, errno-style results.
#include "sim_seam.h"

namespace {

using CpldHandles = OnSimulatedBoard;

TEST_F(CpldHandles, MissingOrClosedHandleIsRefusedWithoutRequest) {
    SimulatedBoard sim;
    CpldIo io{-1, 0, 0};
    uint8_t value = 0;
    EXPECT_EQ(cpld_handle_open(nullptr), 22);
    EXPECT_EQ(cpld_handle_close(nullptr), 22);
    EXPECT_EQ(cpld_handle_cmd_send(nullptr, CPLD_VERSION_READ, &io), 22);
    EXPECT_EQ(cpld_handle_read_reg(nullptr, 0x10, &value), 22);
    EXPECT_TRUE(log.contains("ERROR*MAJOR*: global: : cpld_handle.cpp("));
    EXPECT_TRUE(log.contains(" cpld_handle_read_reg): invalid handle"));

    CpldHandle handle = -1;
    EXPECT_EQ(cpld_handle_write_reg(&handle, 0x10, 1), 19);
    EXPECT_TRUE(log.contains("cpld_handle_write_reg): handle not opened"));
    EXPECT_EQ(cpld_handle_close(&handle), 0);
    EXPECT_EQ(sim.requests(), 0U);
}

TEST_F(CpldHandles, SeveralHandlesWorkAtOnceAndDriverFailuresArePassedUp) {
    SimulatedBoard sim("ioctl-eio.toml");
    CpldHandle first = -1;
    CpldHandle second = -1;
    ASSERT_EQ(cpld_handle_open(&first), 0);
    ASSERT_EQ(cpld_handle_open(&second), 0);
    uint8_t value = 0;
    EXPECT_EQ(cpld_handle_write_reg(&first, 0xAA, 0x5A), 0);
    EXPECT_EQ(cpld_handle_read_reg(&second, 0xAA, &value), 0);
    EXPECT_EQ(value, 0x5A);
    EXPECT_TRUE(log.contains("ioctl returned no error: io->rc 0"));

    EXPECT_EQ(cpld_handle_close(&first), 0);
    EXPECT_EQ(first, -1);
    EXPECT_EQ(cpld_handle_read_reg(&second, 0x10, &value), -1);
    EXPECT_TRUE(log.contains("cpld_handle_read_reg): ioctl failed: Input/output error (5)"));
    EXPECT_EQ(cpld_handle_close(&second), 0);
}

TEST_F(CpldHandles, MissingDriverLeavesHandleClosed) {
    SimulatedBoard sim("cpld-absent.toml");
    CpldHandle handle = -1;
    EXPECT_EQ(cpld_handle_open(&handle), 19);
    EXPECT_LT(handle, 0);
    EXPECT_TRUE(log.contains("cannot open /dev/cpld: No such file or directory (2)"));
}

} // namespace
