// Feeds arbitrary records and answers to the sensor module. The input's first
// byte picks the record ID, sensor number, threshold and name the queries ask
// for; its first answer is a record (type, then body) that is interpreted and
// converted with the answers that follow as its reading and thresholds; the
// rest of the answers go to the queries' SDR walks, reading and threshold
// requests in turn, until the input ends and every request fails.
#include <cstdlib>
#include <cstring>

#include "fuzz_input.h"
#include "hvl/hvl_ipmi_interface.h"
#include "hvl/hvl_ipmi_sensor.h"
#include "ipmi/sdr_walk.h"
#include "sys/sys_ops.h"

namespace {

// The pause after a cancelled reservation costs nothing here.
unsigned no_pause(unsigned /*seconds*/) { return 0; }

// Nothing here opens a device: only the pause is stood in for.
constexpr hvl::sys::Ops no_waiting{nullptr, nullptr, nullptr, nullptr, no_pause};

// A value of any bit pattern, NaN and infinities included.
float value_of(const FuzzAnswer &record) {
    uint32_t bits = 0;
    for (size_t i = 0; i < 4 && i < record.size; ++i) {
        bits = bits << 8 | record.bytes[i];
    }
    float value = 0;
    memcpy(&value, &bits, sizeof value);
    return value;
}

void interpret_record(IpmiIntf *intf, const FuzzAnswer &record, uint8_t selector) {
    SdrHeader hdr{};
    SdrRecord rec{};
    if (record.size > 0) {
        const size_t length = record.size - 1 < SDR_BODY_SIZE ? record.size - 1 : SDR_BODY_SIZE;
        hdr.record_type = record.bytes[0];
        hdr.record_length = static_cast<uint8_t>(length);
        rec.record_type = hdr.record_type;
        memcpy(rec.body, record.bytes + 1, length);
    }
    SensorInfo info{};
    sensor_record_parse(intf, &hdr, &rec, &info);
    const float value = sensor_raw_to_value(rec.body, selector);
    (void)sensor_value_to_raw(rec.body, value);
    (void)sensor_value_to_raw(rec.body, value_of(record));
}

void run_every_query(IpmiIntf *intf, uint8_t selector) {
    SensorInfo *list = nullptr;
    sensor_info_get_list(intf, &list);
    while (list != nullptr) {
        SensorInfo *next = list->next;
        free(list);
        list = next;
    }
    SensorInfo info{};
    const char name[] = {static_cast<char>('A' + (selector & 0x0F)), '\0'};
    sensor_info_get_data(intf, &info, selector);
    sensor_info_get_data_by_id(intf, &info, name);
    sensor_info_get_data_by_num(intf, &info, selector);
    sensor_set_threshold(intf, selector & 0x07U, selector, static_cast<float>(selector));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // Every input starts from the same piece size, so that it replays alike.
    hvl::sdr::reset_chunk_size();
    hvl::sys::OpsOverride seam(no_waiting);
    FuzzInput fuzz(data + 1, size - 1);
    ReplayingIntf intf(fuzz);
    interpret_record(intf.get(), fuzz.next(), data[0]);
    run_every_query(intf.get(), data[0]);
    return 0;
}
