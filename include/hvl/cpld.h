/*
 * CPLD access: the process-wide connection to the CPLD driver (/dev/cpld),
 * DCR access, register access by area, and a handle-based variant.
 *
 * Names: CPLD_AREA_PPC and CPLD_AREA_IPMC always name the two areas. PPC and
 * IPMC name them too, unless your program has a macro of that name: then it
 * keeps its macro. One macro is removed: GNU C on PowerPC (gcc without a
 * strict -std=c..) predefines PPC as 1, the IPMC area, so there this header
 * undefines PPC to keep PPC meaning the PPC area.
 *
 * Results differ by family:
 * - process-wide functions (cpld_open to cpld_cmd5_send): 0 success, -1 the
 *   driver is not open, the ioctl failed (errno tells why) or an argument is
 *   out of range, else the driver's own non-zero result;
 * - area functions (cpld_reg_read, cpld_reg_write): -1 for a register that is
 *   not in the register table, else the result of the PPC access above or of
 *   the OEM request (hvl_ipmi_ostrel.h: -1 failed, -2 IPMC area not open);
 * - handle functions (cpld_handle_*): 0 success, 22 (EINVAL) null handle,
 *   19 (ENODEV) handle not open or no device, -1 the ioctl failed, else the
 *   driver's own non-zero result.
 */
#ifndef HVL_CPLD_H
#define HVL_CPLD_H

#include <stdint.h>
#include <sys/ioctl.h>

#include "hvl_export.h"

HVL_BEGIN_DECLS

#if defined(PPC) && defined(__powerpc__) && !defined(__STRICT_ANSI__)
#undef PPC
#endif

/* Area of a CPLD register: PPC through the driver, IPMC through OEM IPMI requests. */
typedef enum RegisterArea {
    CPLD_AREA_PPC = 0,
    CPLD_AREA_IPMC = 1,
#ifndef PPC
    PPC = CPLD_AREA_PPC,
#endif
#ifndef IPMC
    IPMC = CPLD_AREA_IPMC,
#endif
} RegisterArea;

/* The record passed by address with every driver request. */
typedef struct CpldIo {
    int32_t rc;      /* set to -1 before a request; the driver's result */
    uint32_t param0; /* first parameter or result */
    uint32_t param1; /* second parameter or result */
} CpldIo;

HVL_ASSERT_LAYOUT(sizeof(CpldIo) == 12, "the driver takes three 32-bit words");

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

/*
 * Opens one area and keeps it until cpld_close: the driver descriptor (PPC
 * area; the CPLD version is read at once), or an IPMI interface to the IPMC
 * (IPMC area; one already held is replaced). PPC: 0, -1 when /dev/cpld does
 * not open, else the result of the version read (the driver then stays
 * open). IPMC: 0, or -1 when the interface does not open. Other areas: 0,
 * nothing opened.
 */
HVL_API int cpld_open(RegisterArea area);
/* Closes both areas; may be repeated. */
HVL_API void cpld_close(void);
/* Sends one driver request with the caller's record, which the driver updates. */
HVL_API int cpld_cmd_send(uint32_t request, CpldIo *io);
/* A PPC-area register by raw offset. The read stores a byte also on failure (0 if none came). */
HVL_API int cpld_ppcreg_read(uint32_t offset, uint8_t *value);
HVL_API int cpld_ppcreg_write(uint32_t offset, uint8_t value);
/* A 32-bit DCR. The read stores a word also on failure. */
HVL_API int cpld_dcr_read(uint32_t dcr, uint32_t *value);
HVL_API int cpld_dcr_write(uint32_t dcr, uint32_t value);
/* An SDRAM0 configuration register; stores a word also on failure. */
HVL_API int cpld_sdram0cfg_read(uint32_t reg, uint32_t *value);
/* The CPLD version; stores a byte also on failure. */
HVL_API int cpld_version_read(uint8_t *version);
/* PPC-area offsets 0 (low) and 1 (high); a failed low read is returned before high is read. */
HVL_API int cpld_post_code_read(uint8_t *low, uint8_t *high);
/* Debug LED mode 0 or 1; -1 for any other, sent to nobody. */
HVL_API int cpld_dbg_led_mode_set(int mode);
/* Stores the mode only on success. */
HVL_API int cpld_dbg_led_mode_get(uint32_t *mode);
/* Debug LED `which` (0 or 1; -1 otherwise) is bit 6 or 7 of PPC-area register 0x11. */
HVL_API int cpld_debug_led_bit_set(int which, int on);
HVL_API int cpld_debug_led_bit_get(int which, uint8_t *state);
HVL_API int cpld_cmd5_send(uint32_t value);

/* Register access by area: only registers of the register table (cpld_registers.h). */
HVL_API int cpld_reg_read(int offset, RegisterArea area, uint8_t *value);
/* Writes the low byte of `value`. */
HVL_API int cpld_reg_write(int offset, RegisterArea area, int value);

/* Handle-based access: the caller owns the handle and sets it to -1 first. */
typedef int CpldHandle;

/* Opens /dev/cpld into the handle; on failure the handle holds a negative value. */
HVL_API int cpld_handle_open(CpldHandle *handle);
/* Closes an open handle and sets it to -1; 0 also for a handle that was not open. */
HVL_API int cpld_handle_close(CpldHandle *handle);
HVL_API int cpld_handle_cmd_send(CpldHandle *handle, uint32_t request, CpldIo *io);
/* Stores a byte also when the request fails, not when the handle is refused. */
HVL_API int cpld_handle_read_reg(CpldHandle *handle, uint32_t offset, uint8_t *value);
HVL_API int cpld_handle_write_reg(CpldHandle *handle, uint32_t offset, uint8_t value);

HVL_END_DECLS

#endif /* HVL_CPLD_H */
