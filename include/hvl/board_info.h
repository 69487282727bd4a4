/*
 * What the board is, from several of the IPMC's sources at once.
 *
 * Every function takes an open interface and returns 0 on success; failures
 * of the APIs it asks are passed up unchanged.
 */
#ifndef HVL_BOARD_INFO_H
#define HVL_BOARD_INFO_H

#include <stdint.h>

#include "hvl_export.h"
#include "hvl_ipmi_interface.h"

HVL_BEGIN_DECLS

/* The result when the engineering options say no mezzanine is fitted. */
#define BOARD_INFO_NO_MEZZANINE (-12)

/*
 * The mezzanine's FRU device ID into *fruid: 0; -12 no mezzanine; -1 SDR
 * record 0x0200 is not the mezzanine's FRU device locator; else the failure
 * of the engineering options (-5 CRC), the device ID or the SDR record (-7
 * missing). *fruid is left alone on failure.
 */
HVL_API int board_info_get_piggy_fruid(IpmiIntf *intf, uint8_t *fruid);

HVL_END_DECLS

#endif /* HVL_BOARD_INFO_H */
