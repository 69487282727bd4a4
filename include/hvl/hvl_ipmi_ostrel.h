/*
 * The board's OEM IPMI requests: CPLD registers of the IPMC area, the
 * engineering record with its options and CRC-8, the controller parameters,
 * and the configuration family (storage switch, PCIe, clocks and PLLs, boot
 * cycle, feature-capability flags, device ID string, release texts, debug
 * flags, XFP module memory and block memory).
 *
 * Results: 0 success; -1 the request failed (no answer, a completion code, a
 * wrong answer length, an unknown product); -2 null interface; -5 the
 * engineering options fail their CRC. The parameter pair returns a non-zero
 * completion code itself.
 */
#ifndef HVL_IPMI_OSTREL_H
#define HVL_IPMI_OSTREL_H

#include <stddef.h>
#include <stdint.h>

#include "hvl_export.h"
#include "hvl_ipmi_interface.h"

HVL_BEGIN_DECLS

#define OSTREL_ACCESS_CODE_SIZE 5
#define OSTREL_FCAP_SIZE 3
#define OSTREL_ENG_OPTIONS_SIZE 14
#define OSTREL_ENG_RECORD_SIZE 17

/* The engineering options, 14 bytes in this order on the wire. */
typedef struct EngOptions {
    uint8_t board_option;     /* from the board's FRU data */
    uint8_t mezzanine;        /* non-zero: the mezzanine is fitted */
    uint8_t mezzanine_option; /* from the mezzanine's FRU data */
    uint8_t further[3];       /* carried unchanged */
    uint8_t mac[6];           /* MAC address octets in text order */
    uint8_t mac_suffix;       /* the value after the slash in the MAC text */
    uint8_t crc;              /* CRC-8 of the 13 bytes before it */
} EngOptions;

HVL_ASSERT_LAYOUT(sizeof(EngOptions) == OSTREL_ENG_OPTIONS_SIZE, "the options are 14 bytes");

/* The engineering record as the IPMC keeps it, 17 bytes. */
typedef struct EngRecord {
    uint8_t fcap[OSTREL_FCAP_SIZE]; /* feature-capability flags */
    EngOptions options;
} EngRecord;

HVL_ASSERT_LAYOUT(sizeof(EngRecord) == OSTREL_ENG_RECORD_SIZE, "the record is 17 bytes");

typedef struct ControllerParams {
    uint8_t pm_mode;   /* 0 or 1 */
    uint8_t ipmb_mode; /* 0 or 1 */
    uint8_t extra;     /* carried unchanged */
} ControllerParams;

/*
 * Checked API: a null interface is logged and gives -2, before anything is
 * sent. Records are the caller's; on failure they keep what they held,
 * except as said.
 */
/* Stores 0 in *value first, then the register's value: 0, -1, -2. */
HVL_API int ostrel_cpldreg_read(IpmiIntf *intf, uint32_t offset, uint8_t *value);
/* Writes the low byte of `value`: 0, -1, -2. */
HVL_API int ostrel_cpldreg_write(IpmiIntf *intf, uint32_t offset, uint32_t value);
/* 0, -1, -2, or -5 when the CRC does not match: the options are copied even then. */
HVL_API int ostrel_engineering_options_get(IpmiIntf *intf, EngOptions *opts);
/* Reads the record, stores the fresh CRC-8 in opts->crc and writes it back: 0, -1, -2. */
HVL_API int ostrel_engineering_options_set(IpmiIntf *intf, EngOptions *opts);

/* One request each; the interface must not be null. 0 or -1, except as said. */
HVL_API int ipmi_ostrel_cpldreg_read(IpmiIntf *intf, uint32_t offset, uint8_t *value);
HVL_API int ipmi_ostrel_cpldreg_write(IpmiIntf *intf, uint32_t offset, uint32_t value);
HVL_API int ipmi_ostrel_eng_record_get(IpmiIntf *intf, EngRecord *record);
HVL_API int ipmi_ostrel_eng_record_set(IpmiIntf *intf, const EngRecord *record);
/* 0, -1 no answer, or the non-zero completion code. */
HVL_API int ipmi_ostrel_param_get(IpmiIntf *intf, ControllerParams *params);
HVL_API int ipmi_ostrel_param_set(IpmiIntf *intf, const ControllerParams *params);
/* 0, or the result of ipmi_device_id_get. */
HVL_API int ipmi_ostrel_product_id_get(IpmiIntf *intf, uint16_t *product_id);
/* The board's access code: 0, or -1 (an unknown product zeroes the code). */
HVL_API int ipmi_ostrel_access_code_get(IpmiIntf *intf, uint8_t code[OSTREL_ACCESS_CODE_SIZE]);
/* Get Device ID into the caller's response: 0, the send failure or the completion code. */
HVL_API int ipmi_device_id_get(IpmiIntf *intf, IpmiResponse *response);

/* CRC-8, polynomial 0x07, initial value 0xA5, MSB first, no final XOR. */
HVL_API uint8_t ostrel_crc8(const uint8_t *data, size_t length);

#define OSTREL_FCAP_NAME_SIZE 32
#define OSTREL_FCAP_DESC_SIZE 256
#define OSTREL_RELEASE_TEXT_SIZE 32

/* One feature-capability flag of a caller's table; the table ends with the first row whose byte is
 * negative. */
typedef struct FcapDef {
    char name[OSTREL_FCAP_NAME_SIZE];
    char description[OSTREL_FCAP_DESC_SIZE];
    int byte; /* the fcap byte of the engineering record, 0 to 2 */
    int mask; /* its bits in that byte, 0 to 255 */
} FcapDef;

/*
 * The IPMC firmware's three release texts, in the order it answers them. A
 * text of 32 characters fills its field and has no terminator.
 */
typedef struct IpmcRelease {
    char text[3][OSTREL_RELEASE_TEXT_SIZE];
} IpmcRelease;

/*
 * The configuration family. Every function checks its interface first (-2).
 * Byte arguments are sent as their low 8 bits; an output receives a byte
 * value (boot cycle b: 16 bits) and means something only when the result is
 * 0.
 *
 * Plain results: 0, or -1 when the request failed; the plain gets of one or
 * two bytes (storage switch, PCIe port configuration, mode, hot-plug and
 * clock) store what an empty answer yields (0; mode 5 for the storage
 * switch) even then. Logged results (clock source and driver, PLLs, XFP):
 * 0, -1 no answer or no access code, or the completion code itself; their
 * outputs are written on success only, as are the boot cycle's.
 */
/* Storage switch: target 3 is switch 0, any other switch 1; mode 5 is state
 * 0, any other state 1. The get yields 5 for state 0, else 1 for target 3
 * and 2 for the others; an answer of other than one byte is state 0. The set
 * gives -2 when the IPMC refuses it (completion code 0xD5). */
HVL_API int ostrel_storage_sw_set(IpmiIntf *intf, int target, int mode);
HVL_API int ostrel_storage_sw_get(IpmiIntf *intf, int target, int *mode);
/* An answer of other than two bytes is a success that yields 0 and 0. */
HVL_API int ostrel_pcie_portconf_set(IpmiIntf *intf, int conf_a, int conf_b);
HVL_API int ostrel_pcie_portconf_get(IpmiIntf *intf, int *conf_a, int *conf_b);
/* The get fails unless the answer is one byte. */
HVL_API int ostrel_pcie_mode_set(IpmiIntf *intf, int mode);
HVL_API int ostrel_pcie_mode_get(IpmiIntf *intf, int *mode);
HVL_API int ostrel_pcie_hotplug_set(IpmiIntf *intf, int port, int state);
HVL_API int ostrel_pcie_hotplug_get(IpmiIntf *intf, int port, int *state);
/* An answer of other than one byte is a success that yields 0. */
HVL_API int ostrel_pcie_clock_set(IpmiIntf *intf, int clock);
HVL_API int ostrel_pcie_clock_get(IpmiIntf *intf, int *clock);
/* The set refuses a above 2, b above 0xFFFF or c above 255 (unsigned) with
 * 22; the IPMC takes the low 12 bits of b. */
HVL_API int ostrel_bootcycle_get(IpmiIntf *intf, int *a, int *b, int *c);
HVL_API int ostrel_bootcycle_set(IpmiIntf *intf, int a, int b, int c);
HVL_API int ostrel_set_clock_source(IpmiIntf *intf, int clock, int source);
HVL_API int ostrel_get_clock_source(IpmiIntf *intf, int clock, int *source);
/* Bit 0 of enable. */
HVL_API int ostrel_set_clock_driver(IpmiIntf *intf, int clock, int enable);
HVL_API int ostrel_get_clock_driver(IpmiIntf *intf, int clock, int *enable);
HVL_API int ostrel_set_pll_config(IpmiIntf *intf, int pll, int config);
HVL_API int ostrel_get_pll_config(IpmiIntf *intf, int pll, int *config);
HVL_API int ostrel_get_pll_status(IpmiIntf *intf, int *status);
/* Sets bit 0 of the IPMC's debug flags when flag_a is non-zero, bit 4 when flag_b is. */
HVL_API int ipmi_set_debug(IpmiIntf *intf, int flag_a, int flag_b);
/* Zeroes *release first, also without an interface, then fills it. */
HVL_API int ipmc_release_get_data(IpmiIntf *intf, IpmcRelease *release);
/*
 * Sends the first 16 characters of text with the manufacturer and product
 * ID of the IPMC's Get Device ID answer: 0, -1, or the failure of Get Device
 * ID (its send result or completion code). A null text: -1.
 */
HVL_API int ostrel_set_device_id_string(IpmiIntf *intf, const char *text);

/*
 * Reads `length` bytes of the XFP module at `port` (0 or 1) from `offset`
 * into buffer, 20 at a time; byte 255 is not readable. 22 without a request
 * when a chunk would pass byte 254, when port is above 1, or when length is
 * negative (as the other arguments, compared as signed integers: a negative
 * port or offset is sent as its low 8 bits); else as the logged results,
 * for the first chunk that fails. The chunks read before stay in buffer.
 */
HVL_API int ostrel_xfp_read(IpmiIntf *intf, int port, int offset, int length, uint8_t *buffer);

/*
 * The feature-capability flag of row `index` of table: the get stores 1 or
 * 0 in *value and returns the engineering record read's result; the set
 * changes the row's bits and writes the record back, all else as read.
 * Both give -1 for a null table or an index past its end (the set after
 * reading the record), the set also for a row whose byte or mask is out of
 * range (logged). The get yields 0 for a row whose byte is out of range.
 */
HVL_API int ostrel_fcap_set(IpmiIntf *intf, int value, int index, const FcapDef *table);
HVL_API int ostrel_fcap_get(IpmiIntf *intf, int index, int *value, const FcapDef *table);

/*
 * The IPMB and PM modes of the controller parameters: the results of the
 * parameter pair. A set reads the parameters first and writes them only
 * when the mode differs; the IPMC takes bit 0, the IPMB mode only from the
 * product that has it.
 */
HVL_API int ostrel_ipmb_mode_set(IpmiIntf *intf, int mode);
HVL_API int ostrel_ipmb_mode_get(IpmiIntf *intf, int *mode);
HVL_API int ostrel_pm_mode_set(IpmiIntf *intf, int mode);
HVL_API int ostrel_pm_mode_get(IpmiIntf *intf, int *mode);

/* The logged requests under the API above; the interface must not be null. */
HVL_API int ipmi_ostrel_clock_source_set(IpmiIntf *intf, int clock, int source);
HVL_API int ipmi_ostrel_clock_source_get(IpmiIntf *intf, int clock, int *source);
HVL_API int ipmi_ostrel_clock_driver_set(IpmiIntf *intf, int clock, int enable);
HVL_API int ipmi_ostrel_clock_driver_get(IpmiIntf *intf, int clock, int *enable);
HVL_API int ipmi_ostrel_pll_config_set(IpmiIntf *intf, int pll, int config);
HVL_API int ipmi_ostrel_pll_config_get(IpmiIntf *intf, int pll, int *config);
HVL_API int ipmi_ostrel_pll_status_get(IpmiIntf *intf, int *status);
/* One chunk of ostrel_xfp_read: length at most 20. Logs "invalid board type"
 * when the board has no access code. */
HVL_API int ipmi_ostrel_xfp_read(IpmiIntf *intf, int port, int offset, int length, uint8_t *buffer);

/*
 * The IPMC's block memory at a 16-bit address, 20 bytes per request, no
 * prefix: 0; 19 null interface; 22 null buffer or negative length (nothing
 * sent); 74 a request failed (the chunks before it are done). Nothing is
 * logged.
 */
HVL_API int ipmi_ostrel_block_read(IpmiIntf *intf, int address, int length, uint8_t *buffer);
HVL_API int ipmi_ostrel_block_write(IpmiIntf *intf, int address, int length, const uint8_t *buffer);

HVL_END_DECLS

#endif /* HVL_IPMI_OSTREL_H */
