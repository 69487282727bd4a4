/*
 * A C program on the board links libhvl through its public headers. It is
 * built as it stands, and again with macros that C programs commonly define
 * (-DDEBUG, -DINFO, -DPPC=1, ...), which the headers must leave alone.
 */
#include <hvl/board_info.h>
#include <hvl/cpld.h>
#include <hvl/cpld_registers.h>
#include <hvl/hvl_export.h>
#include <hvl/hvl_ipmi_bmc.h>
#include <hvl/hvl_ipmi_fru.h>
#include <hvl/hvl_ipmi_interface.h>
#include <hvl/hvl_ipmi_ostrel.h>
#include <hvl/hvl_ipmi_picmg.h>
#include <hvl/hvl_ipmi_sensor.h>
#include <hvl/hvl_log.h>
#include <hvl/hvl_process_utils.h>
#include <stdio.h>
#include <string.h>

#ifdef DEBUG
#if DEBUG != 1 || INFO != 1 || PPC != 1
#error "a public header changed the program's macros"
#endif
#else
_Static_assert(CRITICAL == HVL_LOG_CRITICAL && DEBUG == HVL_LOG_DEBUG && DEBUG == 5,
               "the level names");
_Static_assert(PPC == CPLD_AREA_PPC && PPC == 0 && IPMC == CPLD_AREA_IPMC, "the area names");
#endif

static LogModule module;

int main(void) {
    CpldHandle handle = -1;
    uint8_t value = 0;

    if (hvl_log_init() != 0 || hvl_log_module_register(&module, "CAPI", 1) != 0) {
        return 1;
    }
    if (hvl_log_level_enabled(&module, 0, 0, HVL_LOG_DEBUG) != 0) {
        return 2;
    }
    /* Nothing is open: every access reports it without touching a device. */
    if (cpld_ppcreg_read(0x10, &value) != -1 || value != 0 ||
        cpld_reg_read(0x14, CPLD_AREA_IPMC, &value) != -2) {
        return 3;
    }
    if (cpld_handle_read_reg(&handle, 0x10, &value) != 19 || cpld_handle_close(&handle) != 0) {
        return 4;
    }
    {
        IpmcDeviceId id;
        if (ipmc_devid_get_data(NULL, &id) != -2 || id.product_id != 0) {
            return 6;
        }
    }
    {
        SensorInfo info;
        if (strcmp(sensor_unit_name(4), "Volts") != 0 ||
            sensor_info_get_data(NULL, &info, 0x0200) != -2 || info.kind != 0) {
            return 7;
        }
    }
    {
        const uint8_t bytes[] = {0x20, 0x18};
        int mode = 7;
        if (ostrel_pcie_mode_get(NULL, &mode) != -2 || mode != 7 ||
            ipmi_checksum(bytes, 2) != 0xC8) {
            return 8;
        }
    }
    {
        PicmgAddrInfo addr;
        if (picmg_addr_get_data(NULL, &addr) != -2 || addr.site_id != 0) {
            return 9;
        }
    }
    {
        const uint8_t raw[7] = {2, 0, 0, 0, 0, 1, 3};
        const uint8_t sum[2] = {0x20, 0xE0};
        MacInfo mac;
        FruBoardInfo board;
        if (board_info_mac_parse(raw, &mac) != 0 || strcmp(mac.text, "02:00:00:00:00:01") != 0 ||
            fru_checksum(sum, 2) != 0 || fru_board_info_get(NULL, 0, &board) != -2 ||
            board.valid != 0 || strcmp(board_info_fcap_table[0].name, "handle ") != 0) {
            return 10;
        }
    }
    if (hvl_log_module_unregister(&module) != 0) {
        return 5;
    }
    puts("ok");
    return 0;
}
