/* A C program on the board links libhvl through its public headers. */
#include <hvl/cpld.h>
#include <hvl/hvl_log.h>
#include <stdio.h>

static LogModule module;

int main(void) {
    CpldHandle handle = -1;
    uint8_t value = 0;

    if (hvl_log_init() != 0 || hvl_log_module_register(&module, "CAPI", 1) != 0) {
        return 1;
    }
    /* Nothing is open: every access reports it without touching the driver. */
    if (cpld_ppcreg_read(0x10, &value) != -1 || value != 0) {
        return 2;
    }
    if (cpld_handle_read_reg(&handle, 0x10, &value) != 19 || cpld_handle_close(&handle) != 0) {
        return 3;
    }
    if (hvl_log_module_unregister(&module) != 0) {
        return 4;
    }
    puts("ok");
    return 0;
}
