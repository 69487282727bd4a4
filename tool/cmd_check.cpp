// check: the default-value check of every register, and the access tests of
// the two test registers of an area.
#include <cstdio>
#include <cstring>

#include "hvl/board_info.h"
#include "hvl/cpld.h"
#include "hvl/cpld_registers.h"
#include "hvl/hvl_ipmi_interface.h"
#include "tool.h"

namespace {

// The test registers of both areas, and the defaults of the piggy-back rows
// of the IPMC area when the piggy-back is fitted.
constexpr int kTestA = 0x55;
constexpr int kTestB = 0xAA;
constexpr int kPiggyControl = 0x14;
constexpr int kPiggyStatus = 0x15;
constexpr uint8_t kPiggyControlFitted = 0x04;
constexpr uint8_t kPiggyStatusFitted = 0x05;
constexpr int kPpcIterations = 100;
constexpr int kIpmcIterations = 20;

// One access-test step: a register and the pattern written to it.
struct Step {
    int offset;
    uint8_t value;
};

constexpr Step kAccessSteps[] = {{kTestA, 0x55}, {kTestB, 0xAA}, {kTestA, 0xAA}, {kTestB, 0x55}};

int check_help() {
    printf("default     - checks registers for default values\n");
    printf("accppc      - checks ppc register access (databus and small mem test)\n");
    printf("accipmc     - checks ipmc register access (databus and small mem test)\n");
    return -1;
}

// The expected defaults of the piggy-back rows when it is fitted: 0, or -1
// when a row is missing from the table.
int expect_piggy_back() {
    RegisterDef *control = register_find(kPiggyControl, IPMC);
    RegisterDef *status = register_find(kPiggyStatus, IPMC);
    if (control == nullptr || status == nullptr) {
        return -1;
    }
    control->default_value = kPiggyControlFitted;
    status->default_value = kPiggyStatusFitted;
    return 0;
}

// One row: its name first, so that log lines of a failing read stand inside it.
int check_row(const RegisterDef &row) {
    printf("%-20s (0x%02x %-4s):\t", row.name, row.offset, register_area_text(row.area));
    uint8_t value = 0;
    if (cpld_reg_read(row.offset, static_cast<RegisterArea>(row.area), &value) != 0) {
        printf("failed to read register\n");
        return -1;
    }
    printf("0x%02x (0x%02x:0x%02x)\t", value, row.default_value, row.mask);
    printf("%-40s\t", row.description);
    const bool passed = (value & row.mask) == (row.default_value & row.mask);
    printf("%s\n", passed ? "passed" : "failed");
    return passed ? 0 : -1;
}

// Saves or restores the byte of a test register: 0, or -1 with the message.
int keep_test_register(int offset, RegisterArea area, uint8_t &saved, bool restore) {
    const int rc =
        restore ? cpld_reg_write(offset, area, saved) : cpld_reg_read(offset, area, &saved);
    if (rc != 0) {
        printf("ERROR: cannot %s reg at offset 0x%02X\n", restore ? "restore" : "buffer", offset);
        return -1;
    }
    return 0;
}

} // namespace

int piggy_back_detect() {
    IpmiIntf *intf = nullptr;
    uint8_t fruid = 0;
    const bool fitted =
        open_ipmi_intf(&intf) == 0 && board_info_get_piggy_fruid(intf, &fruid) == 0 && fruid != 0;
    close_ipmi_intf(intf);
    return fitted ? 1 : 0;
}

int check_default() {
    if (tool_options.force_piggy_present == 0 && tool_options.force_piggy_absent == 0) {
        if (piggy_back_detect() != 0) {
            tool_options.force_piggy_present = 1;
        }
        if (cpld_open(IPMC) != 0) {
            printf("Error: cannot open CPLD IPMC memory register space\n");
            return -1;
        }
    }
    if (tool_options.force_piggy_present != 0 && expect_piggy_back() != 0) {
        return -1;
    }
    int result = 0;
    for (const RegisterDef *row = register_table; row->name != nullptr; ++row) {
        if (area_shown(row->area) && check_row(*row) != 0) {
            result = -1;
        }
    }
    return result;
}

int check_write_read(RegisterArea area, int offset, uint8_t value) {
    const char *text = register_area_text(area);
    if (const int rc = cpld_reg_write(offset, area, value); rc != 0) {
        printf("cannot write reg 0x%02x (%s)\n", offset, text);
        return rc;
    }
    uint8_t read = 0;
    if (const int rc = cpld_reg_read(offset, area, &read); rc != 0) {
        printf("cannot read reg 0x%02x (%s)\n", offset, text);
        return rc;
    }
    if (read != value) {
        printf("test failed for reg 0x%02x (%s): wrote 0x%02x read 0x%02x\n", offset, text, value,
               read);
        return -1;
    }
    return 0;
}

int check_access(RegisterArea area, int iterations) {
    if (!area_shown(area)) {
        printf("WARNING: test ignored due to missing memory access\n");
        return -1;
    }
    uint8_t saved_a = 0;
    uint8_t saved_b = 0;
    if (keep_test_register(kTestA, area, saved_a, false) != 0 ||
        keep_test_register(kTestB, area, saved_b, false) != 0) {
        return -1;
    }
    for (int i = 0; i < iterations; ++i) {
        for (const Step &step : kAccessSteps) {
            if (const int rc = check_write_read(area, step.offset, step.value); rc != 0) {
                return rc;
            }
        }
    }
    if (keep_test_register(kTestA, area, saved_a, true) != 0 ||
        keep_test_register(kTestB, area, saved_b, true) != 0) {
        return -1;
    }
    printf("test completed successfully for %s\n", register_area_text(area));
    return 0;
}

int cmd_check(int argc, char **argv) {
    const char *word = argc > 0 ? argv[0] : nullptr;
    if (word == nullptr || strncmp(word, "help", 4) == 0) {
        return check_help();
    }
    if (strncmp(word, "default", 7) == 0) {
        return check_default();
    }
    if (strncmp(word, "accppc", 6) == 0) {
        return check_access(PPC, kPpcIterations);
    }
    if (strncmp(word, "accipmc", 6) == 0) {
        return check_access(IPMC, kIpmcIterations);
    }
    printf("invalid check command\n");
    return -1;
}
