/*
 * Prints the PICMG records and the device ID that libhvl reads, one
 * "name: value" line each, the query's result last ("result: N"):
 *
 *   picmg_show [-t ADDRESS | -f FRU] QUERY
 *   QUERY: props | addr [FRU] | led FRU | port INTERFACE CHANNEL
 *          | amc CHANNEL DEVICE | devid
 *
 * With -t the requests go to the controller at that IPMB-L address
 * (set_ipml_target_addr), with -f to the one of the IPMC's FRU
 * (set_target_by_fruid); "target:" tells the outcome. A C program on the
 * public API alone: the client comparison reads it.
 */
#include <hvl/hvl_ipmi_bmc.h>
#include <hvl/hvl_ipmi_interface.h>
#include <hvl/hvl_ipmi_picmg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static uint8_t number(const char *text) { return (uint8_t)strtoul(text, NULL, 0); }

static int show_addr(IpmiIntf *intf, int argc, char **argv) {
    PicmgAddrInfo info;
    uint8_t ipml = 0;
    const int rc = argc > 0 ? picmg_addr_get_by_fruid(intf, number(argv[0]), &info)
                            : picmg_addr_get_data(intf, &info);
    printf("hw_addr: 0x%02x\nipmb_addr: 0x%02x\nfru_id: 0x%02x\nsite_id: 0x%02x\n", info.hw_addr,
           info.ipmb_addr, info.fru_id, info.site_id);
    if (picmg_get_ipml_by_siteid(info.site_id, &ipml) == 0) {
        printf("ipml_addr: 0x%02x\n", ipml);
    }
    return rc;
}

static int show_leds(IpmiIntf *intf, uint8_t fru) {
    PicmgLedInfo leds[PICMG_LED_COUNT];
    const int rc = picmg_led_get_data(intf, leds, fru);
    for (int i = 0; i < PICMG_LED_COUNT; ++i) {
        printf("led %d: id=%u states=0x%02x function=%u color=%s\n", i, leds[i].led_id,
               leds[i].led_states, (unsigned)leds[i].function, leds[i].color);
    }
    return rc;
}

static int show_amc(IpmiIntf *intf, uint8_t channel, uint8_t device) {
    AmcPortInfo port;
    memset(&port, 0, sizeof port);
    port.channel = channel;
    port.device = device;
    const int rc = picmg_amc_portstate(intf, &port);
    printf("lanes: 0x%02x\ngroup_id: 0x%02x\nprotocol: %s\nenabled: %u\n", port.lanes,
           port.group_id, port.protocol, port.enabled);
    return rc;
}

static int show_device_id(IpmiIntf *intf) {
    IpmcDeviceId id;
    const int rc = ipmc_devid_get_data(intf, &id);
    printf("fw_version: %s\nipmi_version: %s\nmanufacturer_id: %u\nproduct_id: %u\n"
           "aux: 0x%02x 0x%02x\n",
           id.fw_version, id.ipmi_version, (unsigned)id.manufacturer_id, id.product_id,
           id.aux_fw_rev0, id.aux_fw_rev1);
    return rc;
}

static int show(IpmiIntf *intf, int argc, char **argv) {
    const char *query = argv[0];
    uint8_t value = 0;
    int rc = -100;
    if (strcmp(query, "props") == 0) {
        rc = picmg_get_max_fruid(intf, &value);
        printf("max_fru_id: 0x%02x\n", value);
    } else if (strcmp(query, "addr") == 0) {
        rc = show_addr(intf, argc - 1, argv + 1);
    } else if (strcmp(query, "led") == 0 && argc == 2) {
        rc = show_leds(intf, number(argv[1]));
    } else if (strcmp(query, "port") == 0 && argc == 3) {
        rc = picmg_port_state(intf, number(argv[2]), number(argv[1]), &value);
        printf("enabled: %u\n", value);
    } else if (strcmp(query, "amc") == 0 && argc == 3) {
        rc = show_amc(intf, number(argv[1]), number(argv[2]));
    } else if (strcmp(query, "devid") == 0) {
        rc = show_device_id(intf);
    } else {
        fprintf(stderr, "picmg_show: unknown query %s\n", query);
        return 2;
    }
    printf("result: %d\n", rc);
    return 0;
}

int main(int argc, char **argv) {
    IpmiIntf *intf = NULL;
    int next = 1;
    if (argc < 2 || open_ipmi_intf(&intf) != 0) {
        fprintf(stderr, "picmg_show: no query, or cannot open the IPMI interface\n");
        return 2;
    }
    if (argc > 3 && (strcmp(argv[1], "-t") == 0 || strcmp(argv[1], "-f") == 0)) {
        const int rc = argv[1][1] == 't' ? set_ipml_target_addr(intf, number(argv[2]))
                                         : set_target_by_fruid(intf, number(argv[2]));
        printf("target: %d 0x%02x %u\n", rc, (unsigned)intf->target_addr,
               (unsigned)intf->target_channel);
        next = 3;
    }
    const int status = show(intf, argc - next, argv + next);
    close_ipmi_intf(intf);
    return status;
}
