// The sensor queries: every record as a list, one record by record ID, by ID
// string or by sensor number, and setting one threshold of a full sensor
// record. Each query opens a walk of its own with a fresh reservation.
#include "hvl/hvl_ipmi_sensor.h"

#include <cstdlib>
#include <cstring>

#include "common/byte_io.h"
#include "ipmi/ipmi_codes.h"
#include "ipmi/ipmi_request.h"
#include "ipmi/sdr_walk.h"
#include "log/log_site.h"

namespace {

using hvl::ipmi::intf_missing;
using hvl::ipmi::kNoInterface;

constexpr int kFailed = -1;
constexpr int kNotFound = -7;

using hvl::sdr::kNetFnSensor;
constexpr uint8_t kCmdSetThresholds = 0x26;
using hvl::sdr::kSensorNumberAt;

// The request data of every Set Sensor Thresholds request of the process:
// the sensor number, the mask and the six thresholds in threshold-index order.
uint8_t threshold_request[2 + SENSOR_THRESHOLD_COUNT];

// What a query keeps on its stack for the length of the call: one walk's
// iterator, header and record.
struct Query {
    SdrIterator it{};
    SdrHeader hdr{};
    SdrRecord rec{};
};

// Checks the interface (logged at `site`) and starts the walk: 0, or the
// query's result.
int start(IpmiIntf *intf, Query &q, const hvl::log::Site &site) {
    if (intf_missing(intf, site)) {
        return kNoInterface;
    }
    return sdr_start(intf, &q.it) != 0 ? kFailed : 0;
}

// Reads the header of `record_id` into q.hdr: 0, or -7 with the log line
// under `function`.
int find_header(IpmiIntf *intf, Query &q, uint16_t record_id, const char *function) {
    if (ipmi_sensor_get_header(intf, q.it.reservation_id, record_id, &q.hdr) != 0) {
        HVL_LOGF_AS(function, TRACE, "ipmi_sensor_get_header for ID= %d failed\n",
                    static_cast<int>(record_id));
        return kNotFound;
    }
    return 0;
}

uint8_t sensor_number_of(const SdrRecord &rec) {
    hvl::ByteReader in(rec.body, sizeof rec.body);
    in.skip(kSensorNumberAt);
    return in.u8();
}

int sensor_list_parse(IpmiIntf *intf, SensorInfo **list) {
    Query q;
    if (const int rc = start(intf, q, HVL_HERE); rc != 0) {
        return rc;
    }
    SdrIterator &it = q.it;
    SdrHeader &hdr = q.hdr;
    SdrRecord &rec = q.rec;
    SensorInfo **tail = list;
    int rc = 0;
    hvl::sdr::Walk walk(intf, &it);
    while (walk.next(&hdr)) {
        // Nothing of the record before may show through a shorter one.
        rec = SdrRecord{};
        rc = ipmi_sensor_get_record(intf, &hdr, &it, &rec);
        if (rc != 0) {
            continue;
        }
        auto *element = static_cast<SensorInfo *>(std::malloc(sizeof(SensorInfo)));
        if (element == nullptr) {
            return kFailed;
        }
        std::memset(element, 0, sizeof *element);
        sensor_record_parse(intf, &hdr, &rec, element);
        *tail = element;
        tail = &element->next;
    }
    return rc;
}

int sensor_single_parse(IpmiIntf *intf, SensorInfo *info, uint16_t record_id) {
    Query q;
    if (const int rc = start(intf, q, HVL_HERE); rc != 0) {
        return rc;
    }
    if (const int rc = find_header(intf, q, record_id, __func__); rc != 0) {
        return rc;
    }
    const int rc = ipmi_sensor_get_record(intf, &q.hdr, &q.it, &q.rec);
    if (rc == 0) {
        sensor_record_parse(intf, &q.hdr, &q.rec, info);
    }
    return rc;
}

int sensor_id_parse(IpmiIntf *intf, SensorInfo *info, const char *name) {
    Query q;
    if (const int rc = start(intf, q, HVL_HERE); rc != 0) {
        return rc;
    }
    if (sdr_find_by_id_string(intf, &q.it, name, &q.hdr, &q.rec) != 0) {
        HVL_LOGF(TRACE, "no record for ID= %s found\n", name != nullptr ? name : "");
        return kNotFound;
    }
    sensor_record_parse(intf, &q.hdr, &q.rec, info);
    return 0;
}

int sensor_num_parse(IpmiIntf *intf, SensorInfo *info, uint8_t number) {
    Query q;
    if (const int rc = start(intf, q, HVL_HERE); rc != 0) {
        return rc;
    }
    hvl::sdr::Walk walk(intf, &q.it);
    while (walk.next(&q.hdr)) {
        q.rec = SdrRecord{};
        if (ipmi_sensor_get_record(intf, &q.hdr, &q.it, &q.rec) != 0) {
            return kFailed;
        }
        const uint8_t type = q.hdr.record_type;
        const bool sensor = type == SDR_TYPE_FULL_SENSOR || type == SDR_TYPE_COMPACT_SENSOR;
        if (sensor && sensor_number_of(q.rec) == number) {
            std::memset(info, 0, sizeof *info);
            sensor_record_parse(intf, &q.hdr, &q.rec, info);
            return 0;
        }
    }
    return kFailed;
}

int sensor_set_threshold_record(IpmiIntf *intf, uint32_t threshold_index, uint16_t record_id,
                                float value) {
    Query q;
    if (const int rc = start(intf, q, HVL_HERE); rc != 0) {
        return rc;
    }
    if (const int rc = find_header(intf, q, record_id, __func__); rc != 0) {
        return rc;
    }
    const SdrRecord &rec = q.rec;
    const int rc = ipmi_sensor_get_record(intf, &q.hdr, &q.it, &q.rec);
    if (rc != 0) {
        HVL_LOGF(TRACE, "ipmi_sensor_get_record failed\n");
        return rc;
    }
    if (q.hdr.record_type != SDR_TYPE_FULL_SENSOR) {
        HVL_LOGF(TRACE, "record with ID= %d is not full sensor\n", static_cast<int>(record_id));
        return kNotFound;
    }
    const uint8_t mask =
        threshold_index < SENSOR_THRESHOLD_COUNT ? static_cast<uint8_t>(1U << threshold_index) : 0;
    const uint8_t raw = sensor_value_to_raw(rec.body, value);
    IpmiResponse response{};
    return sensor_set_thresholds_raw(intf, sensor_number_of(rec), mask, raw, &response);
}

} // namespace

extern "C" {

int sensor_set_thresholds_raw(IpmiIntf *intf, uint8_t number, uint8_t mask, uint8_t raw,
                              IpmiResponse *rsp) {
    std::memset(threshold_request, 0, sizeof threshold_request);
    hvl::ByteWriter out(threshold_request, sizeof threshold_request);
    out.u8(number).u8(mask);
    bool one_bit = false;
    for (unsigned i = 0; i < SENSOR_THRESHOLD_COUNT; ++i) {
        const bool this_one = mask == (1U << i);
        one_bit = one_bit || this_one;
        out.u8(this_one ? raw : 0);
    }
    if (!one_bit) {
        return kFailed;
    }
    return hvl::ipmi::send_request(intf, kNetFnSensor, 0, kCmdSetThresholds, out, rsp);
}

int sensor_info_get_list(IpmiIntf *intf, SensorInfo **list) {
    *list = nullptr;
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    return sensor_list_parse(intf, list);
}

int sensor_info_get_data(IpmiIntf *intf, SensorInfo *info, uint16_t record_id) {
    std::memset(info, 0, sizeof *info);
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    return sensor_single_parse(intf, info, record_id);
}

int sensor_info_get_data_by_id(IpmiIntf *intf, SensorInfo *info, const char *name) {
    std::memset(info, 0, sizeof *info);
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    return sensor_id_parse(intf, info, name);
}

int sensor_info_get_data_by_num(IpmiIntf *intf, SensorInfo *info, uint8_t number) {
    std::memset(info, 0, sizeof *info);
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    return sensor_num_parse(intf, info, number);
}

int sensor_set_threshold(IpmiIntf *intf, uint32_t threshold_index, uint16_t record_id,
                         float value) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    return sensor_set_threshold_record(intf, threshold_index, record_id, value);
}

} // extern "C"
