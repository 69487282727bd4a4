/*
 * PICMG queries to the IPMC, or to the controller the interface targets: the
 * address information of a FRU, its LEDs, the state of an AMC port and of a
 * backplane port, the highest FRU device ID, and the IPMB-L address of an AMC
 * site. Every request is of the PICMG group extension (netfn 0x2C) and opens
 * with the PICMG identifier 0x00.
 *
 * Results: 0 success; -1 the request failed (for the LED and port-state
 * queries also any completion code other than success); -2 null interface;
 * -4 the address query was answered 0xC3 (time-out) or 0xCB (not present);
 * 22 no IPMB-L address for that site; a positive completion code otherwise.
 */
#ifndef HVL_IPMI_PICMG_H
#define HVL_IPMI_PICMG_H

#include <stdint.h>

#include "hvl_export.h"
#include "hvl_ipmi_interface.h"

HVL_BEGIN_DECLS

#define PICMG_LED_COUNT 4  /* LED IDs 0 to 3 */
#define PICMG_TEXT_SIZE 32 /* colour and protocol texts, terminator included */

/* The local-control function of an LED. */
#define PICMG_LED_OFF 0
#define PICMG_LED_ON 1
#define PICMG_LED_BLINKING 2

/* Get Address Info of one FRU. */
typedef struct PicmgAddrInfo {
    uint8_t hw_addr;   /* hardware address */
    uint8_t ipmb_addr; /* IPMB-0 address */
    uint8_t fru_id;
    uint8_t site_id; /* site number */
} PicmgAddrInfo;

HVL_ASSERT_LAYOUT(sizeof(PicmgAddrInfo) == 4, "the address record is 4 bytes");

/* Get FRU LED State of one LED. */
typedef struct PicmgLedInfo {
    uint8_t led_id;
    uint8_t led_states;          /* local control, override and lamp-test flags, as answered */
    char color[PICMG_TEXT_SIZE]; /* "RED", ...; "0x%02x" of a colour byte without a name */
    uint32_t function;           /* PICMG_LED_OFF, PICMG_LED_ON or PICMG_LED_BLINKING */
} PicmgLedInfo;

/* One AMC port: the caller gives channel and device, the query the rest. */
typedef struct AmcPortInfo {
    uint8_t channel;                /* in: AMC channel ID */
    uint8_t device;                 /* in: on-carrier device ID */
    uint8_t lanes;                  /* bits 0-3: lanes 0-3 included */
    uint8_t group_id;               /* link grouping ID */
    char protocol[PICMG_TEXT_SIZE]; /* the link type as text, see picmg_amc_portstate */
    uint8_t enabled;                /* 1: the port is enabled */
} AmcPortInfo;

/* Clears *info, then asks for the address information of FRU 0, the controller itself. */
HVL_API int picmg_addr_get_data(IpmiIntf *intf, PicmgAddrInfo *info);
/* Clears *info, then asks for the address information of FRU `fruid`. */
HVL_API int picmg_addr_get_by_fruid(IpmiIntf *intf, uint8_t fruid, PicmgAddrInfo *info);
/*
 * Clears the four records, then fills leds[i] with the state of LED i of FRU
 * `fruid`, in order; the first failed query ends it with -1, the records
 * filled before it stay filled.
 */
HVL_API int picmg_led_get_data(IpmiIntf *intf, PicmgLedInfo leds[PICMG_LED_COUNT], uint8_t fruid);
/*
 * Asks for the state of AMC port lane->channel of on-carrier device
 * lane->device and fills the rest of the record; the record is not cleared.
 * The protocol text names the link type and its extension:
 *   PCI Express (2): "PCIe Gen1 NSSC", "PCIe Gen1 SSC", "PCIe Gen2 NSSC",
 *     "PCIe Gen2 SSC" (extension 3, second generation with spread-spectrum
 *     clocking), "PCIe reserved"; then the width: " - 8x" for a grouped
 *     link, else " - 1x", " - 2x", " - 3x" or " - 4x" for lanes 0x1, 0x3,
 *     0x7 and 0xF;
 *   Ethernet (5): "Ethernet 1000 Base-BX", "Ethernet 10Gbit XAUI",
 *     "Ethernet reserved";
 *   Storage (7): "Storage Fibre Channel", "Storage Serial ATA",
 *     "Storage Serial Attached SCSI", "Storage reserved";
 *   link types 3, 4 and 6 leave the text as it was; any other type gives
 *   "Unknown protocol".
 */
HVL_API int picmg_amc_portstate(IpmiIntf *intf, AmcPortInfo *lane);
/* Sets *enabled to 0, then to 1 if the first link of the backplane port is enabled. */
HVL_API int picmg_port_state(IpmiIntf *intf, uint8_t channel, uint8_t interface, uint8_t *enabled);
/* The highest FRU device ID of the controller: 0, -1 for a null max_fruid, else as Get PICMG
 * Properties failed (the transport's result or the completion code). */
HVL_API int picmg_get_max_fruid(IpmiIntf *intf, uint8_t *max_fruid);
/* The IPMB-L address of AMC site 1 to 8 (0x70 + 2 * site): 0, or 22 for another site. */
HVL_API int picmg_get_ipml_by_siteid(uint8_t site, uint8_t *addr);

/* The work of the public queries above, with the same arguments; no clearing. */
HVL_API int picmg_addr_parse(IpmiIntf *intf, uint8_t fruid, PicmgAddrInfo *info);
HVL_API int picmg_led_parse(IpmiIntf *intf, PicmgLedInfo leds[PICMG_LED_COUNT], uint8_t fruid);
HVL_API int picmg_amc_lanestate_parse(IpmiIntf *intf, AmcPortInfo *lane);
HVL_API int picmg_port_state_parse(IpmiIntf *intf, uint8_t channel, uint8_t interface,
                                   uint8_t *enabled);

/*
 * One request each into the caller's response: 0 when it succeeded; when it
 * did not, Get PICMG Properties gives the transport's result or the
 * completion code, Get Address Info and Get AMC Port State -1 or the
 * completion code, Get FRU LED State and Get Port State -1.
 */
HVL_API int picmg_get_properties(IpmiIntf *intf, IpmiResponse *response);
HVL_API int picmg_get_address_info(IpmiIntf *intf, uint8_t fruid, IpmiResponse *response);
HVL_API int picmg_get_fru_led_state(IpmiIntf *intf, uint8_t fruid, uint8_t led_id,
                                    IpmiResponse *response);
HVL_API int picmg_get_port_state(IpmiIntf *intf, uint8_t channel, uint8_t interface,
                                 IpmiResponse *response);
HVL_API int picmg_get_amc_port_state(IpmiIntf *intf, uint8_t channel, uint8_t device,
                                     IpmiResponse *response);

HVL_END_DECLS

#endif /* HVL_IPMI_PICMG_H */
