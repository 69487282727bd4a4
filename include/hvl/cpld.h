/*
 * CPLD access: the process-wide connection to the CPLD driver (/dev/cpld),
 * DCR access, register access by area, and a handle-based variant.
 */
#ifndef HVL_CPLD_H
#define HVL_CPLD_H

#include <stdint.h>
#include <sys/ioctl.h>

#include "hvl_export.h"

HVL_BEGIN_DECLS

/* GCC predefines PPC on PowerPC in GNU C mode; here it names the register area. */
#ifdef PPC
#undef PPC
#endif

/* Area of a CPLD register: PPC through the driver, IPMC through OEM IPMI requests. */
typedef enum RegisterArea { PPC = 0, IPMC = 1 } RegisterArea;

/* The record passed by address with every driver request. */
typedef struct CpldIo {
    int32_t rc;      /* set to -1 before a request; the driver's result */
    uint32_t param0; /* first parameter or result */
    uint32_t param1; /* second parameter or result */
} CpldIo;

#define CPLD_IOC_MAGIC 'C'
#define CPLD_VERSION_READ _IO(CPLD_IOC_MAGIC, 0)
#define CPLD_DBG_LED_MODE _IO(CPLD_IOC_MAGIC, 1)
#define CPLD_CMD5 _IO(CPLD_IOC_MAGIC, 5)
#define CPLD_PPCREG_READ _IO(CPLD_IOC_MAGIC, 6)
#define CPLD_PPCREG_WRITE _IO(CPLD_IOC_MAGIC, 7)
#define CPLD_DCR_READ _IO(CPLD_IOC_MAGIC, 8)
#define CPLD_DCR_WRITE _IO(CPLD_IOC_MAGIC, 9)
#define CPLD_SDRAM0CFG_READ _IO(CPLD_IOC_MAGIC, 10)

/* param0 of a CPLD_DBG_LED_MODE request that asks for the mode instead of setting it. */
#define CPLD_DBG_LED_MODE_GET 0xFFFFFFFFu

#define CPLD_DEVICE "/dev/cpld"

/* Process-wide connection. */
HVL_API int cpld_open(RegisterArea area);
HVL_API void cpld_close(void);
HVL_API int cpld_cmd_send(uint32_t request, CpldIo *io);
HVL_API int cpld_ppcreg_read(uint32_t offset, uint8_t *value);
HVL_API int cpld_ppcreg_write(uint32_t offset, uint8_t value);
HVL_API int cpld_dcr_read(uint32_t dcr, uint32_t *value);
HVL_API int cpld_dcr_write(uint32_t dcr, uint32_t value);
HVL_API int cpld_sdram0cfg_read(uint32_t reg, uint32_t *value);
HVL_API int cpld_version_read(uint8_t *version);
HVL_API int cpld_post_code_read(uint8_t *low, uint8_t *high);
HVL_API int cpld_dbg_led_mode_set(int mode);
HVL_API int cpld_dbg_led_mode_get(uint32_t *mode);
HVL_API int cpld_debug_led_bit_set(int which, int on);
HVL_API int cpld_debug_led_bit_get(int which, uint8_t *state);
HVL_API int cpld_cmd5_send(uint32_t value);

/* Register access by area: only registers of the register table. */
HVL_API int cpld_reg_read(int offset, RegisterArea area, uint8_t *value);
HVL_API int cpld_reg_write(int offset, RegisterArea area, int value);

/* Handle-based access: the caller owns the handle and sets it to -1 first. */
typedef int CpldHandle;

HVL_API int cpld_handle_open(CpldHandle *handle);
HVL_API int cpld_handle_close(CpldHandle *handle);
HVL_API int cpld_handle_cmd_send(CpldHandle *handle, uint32_t request, CpldIo *io);
HVL_API int cpld_handle_read_reg(CpldHandle *handle, uint32_t offset, uint8_t *value);
HVL_API int cpld_handle_write_reg(CpldHandle *handle, uint32_t offset, uint8_t value);

HVL_END_DECLS

#endif /* HVL_CPLD_H */
