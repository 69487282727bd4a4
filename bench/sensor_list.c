/*
 * Lists the IPMC's sensors through libhvl, one line per SDR record, fields
 * separated by "|": record ID, kind, sensor number, valid, name, then by kind
 *   analog:     available, value, unit, severity, threshold mask, 6 thresholds
 *               (na where the mask has none)
 *   discrete:   available, reading, the two state bytes, type name
 *   event-only: entity ID, instance, type name, event/reading type
 *   locators:   entity ID, instance, address, channel, FRU device ID (FRU locators)
 * Values are printed with %.3f. With -e it prints what `ipmitool sdr elist
 * full` shows instead, one line per full sensor record: name, sensor number,
 * state, value and unit. A C program on the public API alone: the benchmark
 * measures it and the client comparison reads it.
 */
#include <hvl/hvl_ipmi_interface.h>
#include <hvl/hvl_ipmi_sensor.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static void print_analog(const SensorAnalog *a) {
    printf("|%u|%.3f|%s|%u|0x%02x", a->reading_available, (double)a->value, a->unit,
           (unsigned)a->severity, a->threshold_mask);
    for (int i = 0; i < SENSOR_THRESHOLD_COUNT; ++i) {
        if ((a->threshold_mask >> i & 1) != 0) {
            printf("|%.3f", (double)a->thresholds[i]);
        } else {
            fputs("|na", stdout);
        }
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

/* The state as ipmitool words it, by severity. */
static const char *const state_text[] = {"ns", "ok", "nc", "cr", "nr"};

static void print_brief(const SensorInfo *s) {
    if (s->kind == SENSOR_KIND_ANALOG && s->u.analog.reading_available != 0) {
        printf("%s | %02Xh | %s | %.2f %s\n", s->name, s->sensor_number,
               state_text[s->u.analog.severity % 5], (double)s->u.analog.value, s->u.analog.unit);
    } else if (s->kind == SENSOR_KIND_ANALOG) {
        printf("%s | %02Xh | ns | No Reading\n", s->name, s->sensor_number);
    } else if (s->kind == SENSOR_KIND_DISCRETE) {
        printf("%s | %02Xh | ok | 0x%02x%02x\n", s->name, s->sensor_number,
               s->u.discrete.state_bits[0], s->u.discrete.state_bits[1]);
    }
}

int main(int argc, char **argv) {
    const int brief = argc > 1 && strcmp(argv[1], "-e") == 0;
    IpmiIntf *intf = NULL;
    if (open_ipmi_intf(&intf) != 0) {
        fprintf(stderr, "sensor_list: cannot open the IPMI interface\n");
        return 2;
    }
    SensorInfo *list = NULL;
    const int rc = sensor_info_get_list(intf, &list);
    while (list != NULL) {
        SensorInfo *next = list->next;
        if (brief) {
            print_brief(list);
        } else {
            print_record(list);
        }
        free(list);
        list = next;
    }
    close_ipmi_intf(intf);
    return rc == 0 ? 0 : 1;
}
