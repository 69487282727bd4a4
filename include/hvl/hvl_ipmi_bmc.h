/*
 * The IPMC itself: who it is and which firmware it runs (Get Device ID), and
 * how its power-on self-test ended (Get Self Test Results).
 */
#ifndef HVL_IPMI_BMC_H
#define HVL_IPMI_BMC_H

#include <stdint.h>

#include "hvl_export.h"
#include "hvl_ipmi_interface.h"

HVL_BEGIN_DECLS

#define IPMC_FW_VERSION_SIZE 32
#define IPMC_IPMI_VERSION_SIZE 35

typedef struct IpmcDeviceId {
    char fw_version[IPMC_FW_VERSION_SIZE];     /* "major.minor", minor as its BCD digits */
    uint8_t aux_fw_rev0;                       /* first auxiliary firmware byte */
    char ipmi_version[IPMC_IPMI_VERSION_SIZE]; /* "2.0", "1.5" */
    uint32_t manufacturer_id;                  /* 24 bits */
    uint16_t product_id;
    uint8_t aux_fw_rev1; /* second auxiliary firmware byte */
} IpmcDeviceId;

/* Self-test states. */
#define IPMC_SELFTEST_PASSED 0
#define IPMC_SELFTEST_NOT_IMPLEMENTED 1
#define IPMC_SELFTEST_CORRUPTED 2
#define IPMC_SELFTEST_FATAL 3
#define IPMC_SELFTEST_RESERVED 4

/*
 * Clears *out, then fills it: 0; -2 null interface; -4 the IPMC answered
 * 0xC3 or 0xCB; -1 any other failure.
 */
HVL_API int ipmc_devid_get_data(IpmiIntf *intf, IpmcDeviceId *out);
/*
 * Presets *state to 1 and *detail to 0, then interprets the answer: 0; -2
 * null interface; -1 the request failed.
 */
HVL_API int ipmc_get_selftest_result(IpmiIntf *intf, uint32_t *state, uint8_t *detail);
/* Get Self Test Results into the caller's response: 0, or -1 unless answered with success. */
HVL_API int ipmi_selftest_get(IpmiIntf *intf, IpmiResponse *response);

HVL_END_DECLS

#endif /* HVL_IPMI_BMC_H */
