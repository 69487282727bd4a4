// The register table and register access by area, against the simulated board.
#include "hvl/cpld_registers.h"
#include "sim_seam.h"

namespace {

TEST(RegisterTable, FindsRegistersByOffsetAndAreaOrByTheBeginningOfTheirName) {
    EXPECT_STREQ(register_find(0x14, PPC)->name, "IPMC_INT_A_EN_REG");
    EXPECT_STREQ(register_find(0x14, IPMC)->name, "PIGGY_BACK_CONTROL_REG");
    EXPECT_EQ(register_find(0x00, IPMC)->mask, 0xFD) << "BOARD_CONTROL_REG ignores bit 1";
    EXPECT_EQ(register_find(0x20, PPC), nullptr);
    EXPECT_EQ(register_find(0xFF, PPC), nullptr);
    EXPECT_EQ(register_find(0x100 + 0x14, IPMC), nullptr) << "offsets are not cut to a byte";
    EXPECT_EQ(register_find(0x14, static_cast<RegisterArea>(2)), nullptr);
    EXPECT_EQ(register_find_by_name("KCS"), &register_table[2]);
    EXPECT_EQ(register_find_by_name(""), &register_table[0]);
    EXPECT_EQ(register_find_by_name("KCS_CTL_REG_X"), nullptr);
    EXPECT_STREQ(register_area_text(PPC), "PPC");
    EXPECT_STREQ(register_area_text(7), "IPMC");
}

using CpldArea = OnSimulatedBoard;

// The same offset names different registers in the two areas; a byte is written.
TEST_F(CpldArea, TableRegistersAreReachedThroughTheirAreaAndOthersNotAtAll) {
    SimulatedBoard sim;
    ASSERT_EQ(cpld_open(PPC), 0);
    ASSERT_EQ(cpld_open(IPMC), 0);
    uint8_t ppc = 0xEE;
    uint8_t ipmc = 0xEE;
    EXPECT_EQ(cpld_reg_read(0x15, PPC, &ppc), 0);
    EXPECT_EQ(cpld_reg_read(0x15, IPMC, &ipmc), 0);
    EXPECT_EQ(ppc, 0x08);
    EXPECT_EQ(ipmc, 0x05);

    EXPECT_EQ(cpld_reg_write(0x55, IPMC, 0x1A5), 0);
    EXPECT_EQ(cpld_reg_write(0xAA, PPC, 0x25A), 0);
    EXPECT_EQ(cpld_reg_read(0x55, IPMC, &ipmc), 0);
    EXPECT_EQ(ipmc, 0xA5);
    EXPECT_EQ(cpld_reg_read(0xAA, PPC, &ppc), 0);
    EXPECT_EQ(ppc, 0x5A);
    EXPECT_EQ(cpld_reg_read(0x55, PPC, &ppc), 0);
    EXPECT_EQ(ppc, 0x00);

    log.clear();
    const size_t before = sim.requests();
    EXPECT_EQ(cpld_reg_read(0x20, PPC, &ppc), -1);
    EXPECT_EQ(cpld_reg_write(0x20, IPMC, 1), -1);
    EXPECT_EQ(sim.requests(), before);
    EXPECT_TRUE(log.lines().empty());
}

TEST_F(CpldArea, IpmcRegistersNeedTheAreaOpenAndASecondOpenReplacesTheInterface) {
    SimulatedBoard sim;
    uint8_t value = 0;
    EXPECT_EQ(cpld_reg_read(0x14, IPMC, &value), -2);
    EXPECT_EQ(cpld_reg_write(0x14, IPMC, 1), -2);
    EXPECT_TRUE(log.contains("ostrel_cpldreg_read): HVL_IPMI API called with intf == NULL"));
    EXPECT_EQ(sim.requests(), 0U);

    ASSERT_EQ(cpld_open(IPMC), 0);
    ASSERT_EQ(cpld_open(IPMC), 0);
    EXPECT_EQ(cpld_reg_read(0xFD, IPMC, &value), 0);
    EXPECT_EQ(value, 0xB5);
    cpld_close();
    EXPECT_EQ(cpld_reg_read(0xFD, IPMC, &value), -2);
}

} // namespace
