// list: every register of the areas in use, with its value and description.
#include <cstdio>

#include "hvl/cpld.h"
#include "hvl/cpld_registers.h"
#include "tool.h"

bool area_shown(uint32_t area) {
    return (area == PPC && tool_options.ignore_ppc == 0) ||
           (area == IPMC && tool_options.ignore_ipmc == 0);
}

int cmd_list(int /*argc*/, char ** /*argv*/) {
    for (const RegisterDef *row = register_table; row->name != nullptr; ++row) {
        if (!area_shown(row->area)) {
            continue;
        }
        uint8_t value = 0;
        const int rc = cpld_reg_read(row->offset, static_cast<RegisterArea>(row->area), &value);
        printf("%-20s (0x%02x %-4s)\t: ", row->name, row->offset, register_area_text(row->area));
        if (rc != 0) {
            printf("ERROR\n");
        } else {
            printf("0x%02x\t%-40s\n", value, row->description);
        }
    }
    return 0;
}
