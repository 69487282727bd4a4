/*
 * Lists the IPMC's sensors through libhvl, one line per SDR record, fields
 * separated by "|": record ID, kind, sensor number, valid, name, then by kind
 *   analog:     available, value, unit, severity, threshold mask, 6 thresholds
 *   discrete:   available, reading, the two state bytes, type name
 *   event-only: entity ID, instance, type name, event/reading type
 *   locators:   entity ID, instance, address, channel, FRU device ID (FRU locators)
 * Values are printed with %.3f. A C program on the public API alone: the
 * benchmark measures it and the client comparison reads it.
 */
#include <hvl/hvl_ipmi_interface.h>
#include <hvl/hvl_ipmi_sensor.h>
#include <stdio.h>
#include <stdlib.h>

static void print_analog(const SensorAnalog *a) {
    printf("|%u|%.3f|%s|%u|0x%02x", a->reading_available, (double)a->value, a->unit,
           (unsigned)a->severity, a->threshold_mask);
    for (int i = 0; i < SENSOR_THRESHOLD_COUNT; ++i) {
        printf("|%.3f", (double)a->thresholds[i]);
    }
}

static void print_record(const SensorInfo *s) {
    printf("0x%04x|%u|0x%02x|%u|%s", s->record_id, (unsigned)s->kind, s->sensor_number, s->valid,
           s->name);
    switch (s->kind) {
    case SENSOR_KIND_ANALOG:
        print_analog(&s->u.analog);
        break;
    case SENSOR_KIND_DISCRETE:
        printf("|%u|0x%02x|0x%02x|0x%02x|%s", s->u.discrete.reading_available,
               s->u.discrete.reading, s->u.discrete.state_bits[0], s->u.discrete.state_bits[1],
               s->u.discrete.type_name);
        break;
    case SENSOR_KIND_EVENT_ONLY:
        printf("|0x%02x|%u|%s|0x%02x", s->u.event_only.entity_id, s->u.event_only.entity_instance,
               s->u.event_only.type_name, s->u.event_only.event_reading_type);
        break;
    case SENSOR_KIND_MC_LOCATOR:
        printf("|0x%02x|%u|0x%02x|%u", s->u.mc_locator.entity_id, s->u.mc_locator.entity_instance,
               s->u.mc_locator.slave_address, s->u.mc_locator.channel);
        break;
    case SENSOR_KIND_FRU_LOCATOR:
        printf("|0x%02x|%u|0x%02x|%u|%u", s->u.fru_locator.entity_id,
               s->u.fru_locator.entity_instance, s->u.fru_locator.access_address,
               s->u.fru_locator.channel, s->u.fru_locator.fru_device_id);
        break;
    default:
        break;
    }
    printf("\n");
}

int main(void) {
    IpmiIntf *intf = NULL;
    if (open_ipmi_intf(&intf) != 0) {
        fprintf(stderr, "sensor_list: cannot open the IPMI interface\n");
        return 2;
    }
    SensorInfo *list = NULL;
    const int rc = sensor_info_get_list(intf, &list);
    while (list != NULL) {
        SensorInfo *next = list->next;
        print_record(list);
        free(list);
        list = next;
    }
    close_ipmi_intf(intf);
    return rc == 0 ? 0 : 1;
}
