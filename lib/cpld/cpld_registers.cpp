// The CPLD register table and its look-ups.
#include "hvl/cpld_registers.h"

#include <cstring>

// clang-format off
RegisterDef register_table[REGISTER_TABLE_ROWS + 1] = {
    {"POST_LOW_REG", "lower 8 bit of POST code", 0x00, 0x3F, 0xFF, PPC},
    {"POST_HIGH_REG", "higher 8 bit of POST code", 0x01, 0x00, 0xFF, PPC},
    {"KCS_CTL_REG", "PPC Reset Status Control", 0x02, 0x00, 0xFF, PPC},
    {"VERSION_REG", "CPLD Version Register", 0x10, 0x0C, 0xFF, PPC},
    {"DEBUG_LED_REG", "Debug LED Register", 0x11, 0x10, 0xFF, PPC},
    {"VELM_REG", "VELM Control and Status Register", 0x12, 0x22, 0xFF, PPC},
    {"FPGA_INT_EN_REG", "Interrupt Enable Register", 0x13, 0x00, 0xFF, PPC},
    {"IPMC_INT_A_EN_REG", "IPMC Interrupt Register A", 0x14, 0x00, 0xFF, PPC},
    {"IPMC_INT_B_EN_REG", "IPMC Interrupt Register B", 0x15, 0x08, 0xFF, PPC},
    {"FPGA_INT_STATUS_REG", "Interrupt status Register", 0x16, 0x00, 0xFF, PPC},
    {"IPMC_INT_A_STATUS_REG", "IPMC Interrupt status Register A", 0x17, 0x00, 0xFF, PPC},
    {"IPMC_INT_B_STATUS_REG", "IPMC Interrupt status Register B", 0x18, 0x00, 0xF7, PPC},
    {"IPMC_USER_LED_REG", "User LED Register", 0x19, 0x00, 0xFF, PPC},
    {"LPC_CTRL_REG", "LPC FIFO Control Register", 0x2F, 0x00, 0xFF, PPC},
    {"LPC_WRITE_ADDR0", "LPC Write ADDR0 Register", 0x30, 0x00, 0xFF, PPC},
    {"LPC_WRITE_ADDR1", "LPC Write ADDR0 Register", 0x31, 0x00, 0xFF, PPC},
    {"LPC_WRITE_ADDR2", "LPC Write ADDR0 Register", 0x32, 0x00, 0xFF, PPC},
    {"LPC_WRITE_FIFO", "LPC Write FIFO Register", 0x33, 0x00, 0xFF, PPC},
    {"LPC_READ_ADDR0", "LPC Read ADDR0 Register", 0x34, 0x00, 0xFF, PPC},
    {"LPC_READ_ADDR1", "LPC Read ADDR0 Register", 0x35, 0x00, 0xFF, PPC},
    {"LPC_READ_ADDR2", "LPC Read ADDR0 Register", 0x36, 0x00, 0xFF, PPC},
    {"LPC_READ_COUNT", "LPC Read count Register", 0x37, 0x00, 0xFF, PPC},
    {"LPC_READ_FIFO", "LPC Read FIFO Register", 0x38, 0x00, 0xFF, PPC},
    {"LPC_WRITE_STATUS", "LPC Write Status Register", 0x39, 0x02, 0xFF, PPC},
    {"LPC_READ_STATUS", "LPC Read Status Register", 0x3A, 0x02, 0xFF, PPC},
    {"PPC_TEST_A_REG", "Test Register A", 0x55, 0x00, 0xFF, PPC},
    {"PPC_TEST_B_REG", "Test Register B", 0xAA, 0x00, 0xFF, PPC},
    {"PPC_BOARD_ID_LOW_REG", "Board ID Low Register", 0xFD, 0xB5, 0xFF, PPC},
    {"PPC_BOARD_ID_HIGH_REG", "Board ID High Register", 0xFE, 0x14, 0xFF, PPC},
    {"BOARD_CONTROL_REG", "Board Control Register", 0x00, 0x40, 0xFD, IPMC},
    {"BOARD_STATUS_REG", "Board Status Register", 0x01, 0x7C, 0xFF, IPMC},
    {"POST_LOW_IPMC_REG", "lower 8 bit of Post code as seen by IPMC", 0x02, 0x3F, 0xFF, IPMC},
    {"POST_HIGH_IPMC_REG", "higher 8 bit of Post code as seen by IPMC", 0x03, 0x00, 0xFF, IPMC},
    {"KCS_CTL_REG", "PPC Reset Status Control", 0x04, 0x00, 0xFF, IPMC},
    {"DBG_LED_CTL_REG", "Debug LED Control Register", 0x06, 0x00, 0x01, IPMC},
    {"LED_CONTROL_REG", "LED Control Register", 0x07, 0x00, 0xF0, IPMC},
    {"MDIO_SELECT_REG", "MDIO Selection Register", 0x08, 0x00, 0xFF, IPMC},
    {"CLOCK_SYNC1_REG", "Clock Synchronisation Control 1 Register", 0x09, 0x00, 0xFF, IPMC},
    {"CLOCK_SYNC2_REG", "Clock Synchronisation Control 2 Register", 0x0A, 0x00, 0xFF, IPMC},
    {"UPDATE_CHANNEL_CONTROL_REG", "Update Channel Control Register", 0x0B, 0x01, 0xFF, IPMC},
    {"AMC1_CONTROL_REG", "AMC 1 Control Register", 0x10, 0x0F, 0x0F, IPMC},
    {"AMC1_STATUS_REG", "AMC 1 Status Register", 0x11, 0x15, 0x1F, IPMC},
    {"AMC2_CONTROL_REG", "AMC 2 Control Register", 0x12, 0x0F, 0x0F, IPMC},
    {"AMC2_STATUS_REG", "AMC 2 Status Register", 0x13, 0x15, 0x1F, IPMC},
    {"PIGGY_BACK_CONTROL_REG", "Piggy Back Control Register", 0x14, 0x00, 0xFF, IPMC},
    {"PIGGY_BACK_STATUS_REG", "Piggy Back Status Register", 0x15, 0x00, 0xFF, IPMC},
    {"RTM_CONTOL_REG", "RTM Control Register", 0x16, 0x03, 0xFF, IPMC},
    {"RTM_STATUS_REG", "RTM Status Register", 0x17, 0x30, 0xFF, IPMC},
    {"CPU_STATUS_REG", "CPU Status Register", 0x19, 0x01, 0xFF, IPMC},
    {"INT_REQ_REG", "Interrupt Request Register", 0x26, 0x00, 0xFF, IPMC},
    {"RESET_SOURCE_REG", "Reset Source Register", 0x27, 0x00, 0xFF, IPMC},
    {"USER_LED_CONTROL_REG", "User LED Control Register", 0x29, 0x00, 0xFF, IPMC},
    {"IPMC_TEST_A_REG", "Test Register A", 0x55, 0x00, 0xFF, IPMC},
    {"IPMC_TEST_B_REG", "Test Register B", 0xAA, 0x00, 0xFF, IPMC},
    {"IPMC_BOARD_ID_LOW_REG", "Board ID Low Register", 0xFD, 0xB5, 0xFF, IPMC},
    {"IPMC_BOARD_ID_HIGH_REG", "Board ID High Register", 0xFE, 0x14, 0xFF, IPMC},
    {"CPLD_VERSION_REG", "CPLD Version Register", 0xFF, 0x0C, 0xFF, IPMC},
    {nullptr, nullptr, 0, 0, 0, 0},
};
// clang-format on

extern "C" {

RegisterDef *register_find(int offset, RegisterArea area) {
    for (RegisterDef *row = register_table; row->name != nullptr; ++row) {
        if (row->offset == offset && row->area == static_cast<uint32_t>(area)) {
            return row;
        }
    }
    return nullptr;
}

RegisterDef *register_find_by_name(const char *text) {
    const size_t length = strlen(text);
    for (RegisterDef *row = register_table; row->name != nullptr; ++row) {
        if (strncmp(row->name, text, length) == 0) {
            return row;
        }
    }
    return nullptr;
}

const char *register_area_text(uint32_t area) { return area == PPC ? "PPC" : "IPMC"; }

} // extern "C"
