/*
 * Sensors and the IPMC's device SDR repository: walking the repository,
 * reading records in pieces, interpreting sensor records into SensorInfo
 * with their current readings and thresholds, and setting one threshold.
 *
 * Results: 0 success; -1 the SDR access, the record read or the search by
 * number failed; -2 null interface; -7 no such record, or not of the type
 * required. sensor_set_threshold also passes on the transport's codes.
 */
#ifndef HVL_IPMI_SENSOR_H
#define HVL_IPMI_SENSOR_H

#include <stdint.h>

#include "hvl_export.h"
#include "hvl_ipmi_interface.h"

HVL_BEGIN_DECLS

#define SDR_RECORD_SIZE 64
#define SDR_BODY_SIZE 61  /* 60 record bytes and the 0 after them */
#define SDR_HEADER_SIZE 5 /* the record header inside a record */
#define SDR_MAX_RECORD_LENGTH 60
#define SDR_LAST_RECORD_ID 0xFFFF
#define SENSOR_NAME_SIZE 32
#define SENSOR_NAME_MAX 16 /* characters of an ID string kept in a name */
#define SENSOR_TEXT_SIZE 32
#define SENSOR_THRESHOLD_COUNT 6

/* Record types. */
#define SDR_TYPE_FULL_SENSOR 0x01
#define SDR_TYPE_COMPACT_SENSOR 0x02
#define SDR_TYPE_EVENT_ONLY 0x03
#define SDR_TYPE_FRU_LOCATOR 0x11
#define SDR_TYPE_MC_LOCATOR 0x12

/* One walk over the repository; the caller's, on its stack. */
typedef struct SdrIterator {
    uint8_t reservation_id[2]; /* as the IPMC sent it */
    uint32_t sensor_count;     /* what Get Device SDR Info reported */
    uint32_t next_record_id;   /* read next; 0xFFFF at the end */
} SdrIterator;

/* The first seven data bytes of a header read; IDs least significant byte first. */
typedef struct SdrHeader {
    uint8_t next_record_id[2];
    uint8_t record_id[2];
    uint8_t sdr_version;
    uint8_t record_type;
    uint8_t record_length; /* record bytes after the 5-byte record header */
} SdrHeader;

HVL_ASSERT_LAYOUT(sizeof(SdrHeader) == 7, "the header is 7 bytes");

/* One record: body[0] is the standard's record byte 6. */
typedef struct SdrRecord {
    uint8_t record_id[2];
    uint8_t record_type;
    uint8_t body[SDR_RECORD_SIZE - 3];
} SdrRecord;

HVL_ASSERT_LAYOUT(sizeof(SdrRecord) == SDR_RECORD_SIZE, "the record is 64 bytes");

typedef enum SensorKind {
    SENSOR_KIND_DISCRETE = 1,
    SENSOR_KIND_ANALOG = 2,
    SENSOR_KIND_EVENT_ONLY = 3,
    SENSOR_KIND_MC_LOCATOR = 4,
    SENSOR_KIND_FRU_LOCATOR = 5
} SensorKind;

typedef enum SensorSeverity {
    SEVERITY_NOT_DETERMINED = 0,
    SEVERITY_OK = 1,
    SEVERITY_NON_CRITICAL = 2,
    SEVERITY_CRITICAL = 3,
    SEVERITY_NON_RECOVERABLE = 4
} SensorSeverity;

/* Threshold index: the order of thresholds[] and of the bits of threshold_mask. */
enum {
    SENSOR_LOWER_NON_CRITICAL = 0,
    SENSOR_LOWER_CRITICAL = 1,
    SENSOR_LOWER_NON_RECOVERABLE = 2,
    SENSOR_UPPER_NON_CRITICAL = 3,
    SENSOR_UPPER_CRITICAL = 4,
    SENSOR_UPPER_NON_RECOVERABLE = 5
};

typedef struct SensorDiscrete {
    uint8_t reading_available;
    uint8_t reading;
    uint8_t state_bits[2];
    char type_name[SENSOR_TEXT_SIZE];
} SensorDiscrete;

typedef struct SensorAnalog {
    uint8_t reading_available;
    float value;
    float tolerance;
    char unit[SENSOR_TEXT_SIZE];
    uint32_t severity; /* SensorSeverity */
    uint8_t threshold_mask;
    float thresholds[SENSOR_THRESHOLD_COUNT];
} SensorAnalog;

typedef struct SensorEventOnly {
    uint8_t entity_id;
    uint8_t entity_instance;
    char type_name[SENSOR_TEXT_SIZE];
    uint8_t event_reading_type;
} SensorEventOnly;

typedef struct SensorMcLocator {
    uint8_t entity_id;
    uint8_t entity_instance;
    uint8_t slave_address;
    uint8_t channel;
    uint8_t power_state_notification;
    uint8_t global_init;
    uint8_t capabilities;
} SensorMcLocator;

typedef struct SensorFruLocator {
    uint8_t entity_id;
    uint8_t entity_instance;
    uint8_t access_address;
    uint8_t channel;
    uint8_t fru_device_id;
    uint8_t logical;
    uint8_t access_lun;
    uint8_t private_bus;
    uint8_t device_type;
    uint8_t device_type_modifier;
} SensorFruLocator;

/* One interpreted record; cleared by whoever provides it. */
typedef struct SensorInfo {
    struct SensorInfo *next; /* the next element of a list, else null */
    uint16_t record_id;
    uint32_t kind; /* SensorKind; 0 when no parse applies */
    uint16_t sensor_number;
    char name[SENSOR_NAME_SIZE]; /* the ID string, at most 16 characters */
    uint8_t valid;               /* 1 when the record was interpreted */
    union {
        SensorDiscrete discrete;
        SensorAnalog analog;
        SensorEventOnly event_only;
        SensorMcLocator mc_locator;
        SensorFruLocator fru_locator;
    } u;
} SensorInfo;

/*
 * The walk. 0 or -1, except sdr_reserve: 1 on success, 0 on failure.
 *
 * Every read ends after a bounded number of requests, whatever the IPMC
 * answers:
 * - A record read renews a cancelled reservation (0xC5) at most 8 times in a
 *   row for one piece; the next 0xC5 fails the read.
 * - The piece size halves on 0xCA down to 2 bytes and no further: a 0xCA to a
 *   piece asked for with that size fails the read, and the size stays 2.
 * - A header whose record_length is 0 or above 60 is not read (-1 without a
 *   request): such a record does not fit an SdrRecord.
 * - An answer with fewer bytes than asked for (a header shorter than 7 bytes,
 *   a piece shorter than its next-record ID and the bytes asked for) fails the
 *   read.
 * - The walks of sdr_find_by_id_string and of the list and number queries end,
 *   as at the end of the repository, when the next record ID is that of the
 *   walk's first record or of the record just read, or the one it remembered
 *   (the ID asked for at the 1st, 2nd, 4th, 8th, ... header), so that any
 *   loop ends before the walk has read three times as many headers as there
 *   are records in it; and after 65536 headers in any case.
 * - sdr_find_by_id_string matches no record for a null name.
 */
HVL_API int sdr_start(IpmiIntf *intf, SdrIterator *it);
HVL_API int sdr_reserve(IpmiIntf *intf, SdrIterator *it);
HVL_API int ipmi_sensor_get_header(IpmiIntf *intf, const uint8_t reservation_id[2],
                                   uint16_t record_id, SdrHeader *hdr);
HVL_API int sdr_next_header(IpmiIntf *intf, SdrIterator *it, SdrHeader *hdr);
HVL_API int ipmi_sensor_get_record(IpmiIntf *intf, const SdrHeader *hdr, SdrIterator *it,
                                   SdrRecord *rec);
HVL_API int sdr_find_by_id_string(IpmiIntf *intf, SdrIterator *it, const char *name, SdrHeader *hdr,
                                  SdrRecord *rec);

/* Requests into the caller's response: the send operation's result. */
HVL_API int sensor_get_reading(IpmiIntf *intf, uint8_t number, IpmiResponse *rsp);
HVL_API int sensor_get_thresholds(IpmiIntf *intf, uint8_t number, IpmiResponse *rsp);
/* -1 without a request unless `mask` has exactly one of its six bits. */
HVL_API int sensor_set_thresholds_raw(IpmiIntf *intf, uint8_t number, uint8_t mask, uint8_t raw,
                                      IpmiResponse *rsp);

/*
 * Interpretation and conversion. A value that converts to no finite raw
 * number (an infinity, NaN) gives raw 0; sensor_sign_extend leaves a value
 * alone unless bits is 1 to 31. Texts longer than their 32-byte field (the
 * longest sensor type name, unit texts of two names) are cut to 31
 * characters and a 0.
 */
HVL_API void sensor_record_parse(IpmiIntf *intf, const SdrHeader *hdr, const SdrRecord *rec,
                                 SensorInfo *info);
HVL_API float sensor_raw_to_value(const uint8_t *body, uint8_t raw);
HVL_API uint8_t sensor_value_to_raw(const uint8_t *body, float value);
HVL_API int sensor_sign_extend(int value, int bits);
HVL_API const char *sensor_unit_name(uint8_t code);
HVL_API const char *sensor_type_name(uint8_t code);

/*
 * Queries. Each clears its output first (a list to null); the caller frees
 * every list element with free(). When an element cannot be allocated,
 * sensor_info_get_list ends the walk and returns -1 with the list built so far.
 */
HVL_API int sensor_info_get_list(IpmiIntf *intf, SensorInfo **list);
HVL_API int sensor_info_get_data(IpmiIntf *intf, SensorInfo *info, uint16_t record_id);
HVL_API int sensor_info_get_data_by_id(IpmiIntf *intf, SensorInfo *info, const char *name);
HVL_API int sensor_info_get_data_by_num(IpmiIntf *intf, SensorInfo *info, uint8_t number);
HVL_API int sensor_set_threshold(IpmiIntf *intf, uint32_t threshold_index, uint16_t record_id,
                                 float value);

HVL_END_DECLS

#endif /* HVL_IPMI_SENSOR_H */
