/*
 * The board's OEM IPMI requests: CPLD registers of the IPMC area, the
 * engineering record with its options and CRC-8, and the controller
 * parameters.
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

HVL_END_DECLS

#endif /* HVL_IPMI_OSTREL_H */
