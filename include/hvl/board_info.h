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
#include "hvl_ipmi_fru.h"
#include "hvl_ipmi_interface.h"
#include "hvl_ipmi_ostrel.h"

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

/* Results of the MAC address functions besides 0 and those passed up. */
#define BOARD_INFO_MAC_NOT_PARSEABLE 22
#define BOARD_INFO_NO_MAC 99

#define BOARD_INFO_MAC_TEXT_SIZE 18

/* The board's MAC address. */
typedef struct MacInfo {
    uint8_t valid;                       /* 1 once filled */
    char text[BOARD_INFO_MAC_TEXT_SIZE]; /* 17 characters and a 0 */
    uint8_t mac[6];                      /* first octet first */
    uint8_t suffix;                      /* after the slash in the FRU text */
} MacInfo;

/* The board's FRU board area, as board_info_get fills it. */
typedef struct BoardInfo {
    uint8_t valid; /* 1 whatever the read returns */
    FruBoardInfo board;
} BoardInfo;

/*
 * The FRU board area of FRU device fru_id: the whole record is zeroed and
 * valid set to 1 first; the result is fru_board_info_get's.
 */
HVL_DEPRECATED("use fru_board_info_get")
HVL_API int board_info_get(IpmiIntf *intf, int fru_id, BoardInfo *info);

/*
 * The MAC address from the "MAC=" custom fields of FRU device 0's board
 * area (the last one wins): 0; 22 a field does not read as
 * "%x:%x:%x:%x:%x:%x/%x"; 99 no such field; else fru_board_info_get's
 * failure. text holds the first 17 characters after "MAC=" as stored.
 */
HVL_API int board_info_get_mac(IpmiIntf *intf, MacInfo *mac);
/* The MAC address and suffix of the engineering options: 0, or their failure (-5 CRC). */
HVL_API int board_info_get_eng_mac(IpmiIntf *intf, MacInfo *mac);
/* Six octets and the suffix from raw[0..6]; text as "%02X:..:%02X". Always 0. */
HVL_API int board_info_mac_parse(const uint8_t *raw, MacInfo *mac);

/*
 * Moves the board's option bytes, MAC address and suffix from the binary
 * custom fields of the board's FRU (and the mezzanine's) into the IPMC's
 * engineering options, once: 0 when the options were valid already or have
 * been written; -1 a FRU field of the wrong type or length, or SDR record
 * 0x0200 not the mezzanine's locator; else the failure passed up. Nothing is
 * written unless every step succeeded.
 */
HVL_API int board_info_migrate_to_fcap(IpmiIntf *intf);

/* The board's feature-capability flags: row 0 "handle", then the end row. */
#define BOARD_INFO_FCAP_HANDLE 0
HVL_API extern const FcapDef board_info_fcap_table[2];
/* ostrel_fcap_set and ostrel_fcap_get on board_info_fcap_table. */
HVL_API int board_info_fcap_set(IpmiIntf *intf, int index, int value);
HVL_API int board_info_fcap_get(IpmiIntf *intf, int index, int *value);

HVL_END_DECLS

#endif /* HVL_BOARD_INFO_H */
