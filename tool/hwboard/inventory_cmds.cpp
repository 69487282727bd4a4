// FRU inventory and sensors: the areas of a FRU device, and the SDR records
// with their readings and thresholds, converted and raw.
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "hvl/hvl_ipmi_fru.h"
#include "hvl/hvl_ipmi_sensor.h"
#include "hwboard.h"

namespace {

struct TextField {
    const char *name;
    size_t offset;
};

constexpr TextField board_fields[] = {
    {"mfg_date", offsetof(FruBoardInfo, mfg_date)},
    {"manufacturer", offsetof(FruBoardInfo, manufacturer)},
    {"product_name", offsetof(FruBoardInfo, product_name)},
    {"serial_number", offsetof(FruBoardInfo, serial_number)},
    {"part_number", offsetof(FruBoardInfo, part_number)},
    {"fru_file_id", offsetof(FruBoardInfo, fru_file_id)},
};

constexpr TextField product_fields[] = {
    {"manufacturer", offsetof(FruProductInfo, manufacturer)},
    {"product_name", offsetof(FruProductInfo, product_name)},
    {"part_number", offsetof(FruProductInfo, part_number)},
    {"version", offsetof(FruProductInfo, version)},
    {"serial_number", offsetof(FruProductInfo, serial_number)},
    {"asset_tag", offsetof(FruProductInfo, asset_tag)},
    {"fru_file_id", offsetof(FruProductInfo, fru_file_id)},
};

const char *const field_types[] = {"binary", "bcd-plus", "6-bit-ascii", "text"};

void add_fields(Value &area, const void *record, const TextField *fields, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const char *text = static_cast<const char *>(record) + fields[i].offset;
        area.add(fields[i].name, Value::text(text, FRU_FIELD_SIZE));
    }
}

// The used custom fields: their type and length, their bytes in hexadecimal
// and, for text fields, the text.
void add_customs(Value &area, const FruCustomField *custom) {
    Value &list = area.add("custom", Value::array());
    for (int i = 0; i < FRU_CUSTOM_FIELD_COUNT; ++i) {
        if (custom[i].type_length == 0) {
            continue;
        }
        const int length = custom[i].type_length & 0x3F;
        char hex[2 * FRU_CUSTOM_FIELD_SIZE + 1];
        size_t hex_length = 0;
        for (int b = 0; b < length && b < FRU_CUSTOM_FIELD_SIZE; ++b) {
            hex[hex_length++] = "0123456789abcdef"[custom[i].bytes[b] >> 4];
            hex[hex_length++] = "0123456789abcdef"[custom[i].bytes[b] & 0xF];
        }
        const int type = custom[i].type_length >> 6;
        Value &field = list.push(Value::object());
        field.add("index", Value::integer(i));
        field.add("type", Value::text(field_types[type]));
        field.add("type_length", Value::hex(custom[i].type_length)).json_only();
        field.add("length", Value::integer(length));
        const char *bytes = reinterpret_cast<const char *>(custom[i].bytes);
        field.add("text",
                  type == 3 ? Value::text(bytes, static_cast<size_t>(length)) : Value::null());
        field.add("hex", Value::text(hex, hex_length));
    }
}

// An area's result counts as a failure unless the FRU has no such area.
bool area_failed(int rc) { return rc != 0 && rc != FRU_NO_AREA; }

} // namespace

int cmd_fru(Context &ctx, int argc, char **argv, Value &out) {
    unsigned long id = 0;
    if (argc > 0 && !parse_number(argv[0], 0xFF, &id)) {
        return usage_error(ctx, "bad FRU ID '%s' (0 to 255)", argv[0]);
    }
    const int fru_id = static_cast<int>(id);
    out.add("fru_id", Value::integer(fru_id));
    int status = kStatusOk;

    auto *board = static_cast<FruBoardInfo *>(calloc(1, sizeof(FruBoardInfo)));
    auto *product = static_cast<FruProductInfo *>(calloc(1, sizeof(FruProductInfo)));
    if (board == nullptr || product == nullptr) {
        free(board);
        free(product);
        return query_failed(ctx, "allocating the FRU records", -1);
    }
    const int board_rc = fru_board_info_get(ctx.intf, fru_id, board);
    Value &b = out.add("board", Value::object());
    b.add("result", result_value(board_rc));
    if (board_rc == 0) {
        b.add("valid", Value::boolean(board->valid != 0));
        b.add("mfg_minutes", Value::integer(board->mfg_minutes));
        add_fields(b, board, board_fields, sizeof board_fields / sizeof board_fields[0]);
        add_customs(b, board->custom);
    } else if (area_failed(board_rc)) {
        status = query_failed(ctx, "reading the board area", board_rc);
    }

    const int product_rc = fru_product_info_get(ctx.intf, fru_id, product);
    Value &p = out.add("product", Value::object());
    p.add("result", result_value(product_rc));
    if (product_rc == 0) {
        p.add("valid", Value::boolean(product->valid != 0));
        add_fields(p, product, product_fields, sizeof product_fields / sizeof product_fields[0]);
        add_customs(p, product->custom);
    } else if (area_failed(product_rc)) {
        status = query_failed(ctx, "reading the product area", product_rc);
    }
    free(board);
    free(product);

    FruMultiRecord *list = nullptr;
    const int multi_rc = fru_multi_record_info_get(ctx.intf, fru_id, &list);
    Value &m = out.add("multirecords", Value::object());
    m.add("result", result_value(multi_rc));
    Value &records = m.add("records", Value::array());
    while (list != nullptr) {
        FruMultiRecord *next = list->next;
        Value &r = records.push(Value::object());
        r.add("type", Value::hex(list->type_id));
        r.add("format", Value::hex(list->format));
        r.add("length", Value::integer(list->length));
        r.add("checksum", Value::hex(list->record_checksum));
        free(list);
        list = next;
    }
    if (area_failed(multi_rc)) {
        status = query_failed(ctx, "reading the multirecord area", multi_rc);
    }
    return status;
}

namespace {

const char *const kind_names[] = {"none",       "discrete",   "analog",
                                  "event-only", "mc-locator", "fru-locator"};
const char *const severity_names[] = {"not-determined", "ok", "non-critical", "critical",
                                      "non-recoverable"};
const char *const threshold_names[SENSOR_THRESHOLD_COUNT] = {"lnc", "lc", "lnr",
                                                             "unc", "uc", "unr"};

Value kind_details(const SensorInfo &s) {
    Value d = Value::object();
    switch (s.kind) {
    case SENSOR_KIND_DISCRETE:
        d.add("type", Value::text(s.u.discrete.type_name));
        d.add("states",
              Value::hex(s.u.discrete.state_bits[0] << 8 | s.u.discrete.state_bits[1], 4));
        break;
    case SENSOR_KIND_EVENT_ONLY:
        d.add("type", Value::text(s.u.event_only.type_name));
        d.add("entity_id", Value::hex(s.u.event_only.entity_id));
        d.add("entity_instance", Value::integer(s.u.event_only.entity_instance));
        d.add("event_reading_type", Value::hex(s.u.event_only.event_reading_type));
        break;
    case SENSOR_KIND_MC_LOCATOR:
        d.add("entity_id", Value::hex(s.u.mc_locator.entity_id));
        d.add("entity_instance", Value::integer(s.u.mc_locator.entity_instance));
        d.add("address", Value::hex(s.u.mc_locator.slave_address));
        d.add("channel", Value::integer(s.u.mc_locator.channel));
        break;
    case SENSOR_KIND_FRU_LOCATOR:
        d.add("entity_id", Value::hex(s.u.fru_locator.entity_id));
        d.add("entity_instance", Value::integer(s.u.fru_locator.entity_instance));
        d.add("address", Value::hex(s.u.fru_locator.access_address));
        d.add("channel", Value::integer(s.u.fru_locator.channel));
        d.add("fru_id", Value::integer(s.u.fru_locator.fru_device_id));
        d.add("logical", Value::boolean(s.u.fru_locator.logical != 0));
        d.add("device_type", Value::hex(s.u.fru_locator.device_type));
        d.add("device_type_modifier", Value::hex(s.u.fru_locator.device_type_modifier));
        break;
    default:
        break;
    }
    return d;
}

// A member only JSON has; the table would not show it, so it is not even
// made for one.
void add_json_only(Value &v, bool json, const char *key, const Value &member) {
    if (json) {
        v.add(key, member).json_only();
    }
}

// The raw reading byte of a sensor, or -1.
int raw_reading(IpmiIntf *intf, uint8_t number) {
    IpmiResponse rsp;
    if (sensor_get_reading(intf, number, &rsp) != 0 || rsp.ccode != 0 || rsp.data_len < 1) {
        return -1;
    }
    return rsp.data[0];
}

// The analog members: the reading converted and raw, its unit and
// severity, and the thresholds the sensor has, converted and raw. The raw
// bytes cost a request each (Get Sensor Reading, Get Sensor Thresholds) and
// are asked for only when `with_raw`: the table of sensors leaves them out.
void add_analog(IpmiIntf *intf, const SensorInfo &s, bool with_raw, bool json, Value &v) {
    const SensorAnalog &a = s.u.analog;
    const int raw =
        with_raw && a.reading_available != 0 ? raw_reading(intf, s.sensor_number & 0xFF) : -1;
    add_json_only(v, json, "available", Value::boolean(a.reading_available != 0));
    v.add("value", a.reading_available != 0 ? Value::real(a.value) : Value::null());
    v.add("raw", raw >= 0 ? Value::integer(raw) : Value::null());
    v.add("unit", Value::text(a.unit));
    v.add("state", Value::word(a.severity <= SEVERITY_NON_RECOVERABLE ? severity_names[a.severity]
                                                                      : "unknown"));
    IpmiResponse rsp;
    const bool raw_known = with_raw && a.threshold_mask != 0 &&
                           sensor_get_thresholds(intf, s.sensor_number & 0xFF, &rsp) == 0 &&
                           rsp.ccode == 0 && rsp.data_len >= 1 + SENSOR_THRESHOLD_COUNT;
    Value &t = v.add("thresholds", Value::object());
    for (int i = 0; i < SENSOR_THRESHOLD_COUNT; ++i) {
        const bool has = (a.threshold_mask >> i & 1) != 0;
        t.add(threshold_names[i], has ? Value::real(a.thresholds[i]) : Value::null());
    }
    if (!json) {
        return;
    }
    Value &r = v.add("raw_thresholds", Value::object());
    r.json_only();
    for (int i = 0; i < SENSOR_THRESHOLD_COUNT; ++i) {
        const bool has = (a.threshold_mask >> i & 1) != 0;
        r.add(threshold_names[i],
              has && raw_known ? Value::integer(rsp.data[1 + i]) : Value::null());
    }
}

// A sensor as sensors and sensor show it; the raw bytes of an analog one
// only `with_raw`, the members only JSON has only for `json`.
Value sensor_value(IpmiIntf *intf, const SensorInfo &s, bool with_raw, bool json) {
    Value v = Value::object();
    v.add("record_id", Value::hex(s.record_id, 4));
    v.add("number", Value::hex(s.sensor_number));
    v.add("name", Value::text(s.name, sizeof s.name));
    v.add("kind", Value::word(s.kind <= SENSOR_KIND_FRU_LOCATOR ? kind_names[s.kind] : "none"));
    add_json_only(v, json, "valid", Value::boolean(s.valid != 0));
    if (s.kind == SENSOR_KIND_ANALOG) {
        add_analog(intf, s, with_raw, json, v);
    } else {
        const bool discrete = s.kind == SENSOR_KIND_DISCRETE;
        const bool available = discrete && s.u.discrete.reading_available != 0;
        add_json_only(v, json, "available", Value::boolean(available));
        v.add("value", Value::null());
        v.add("raw", available ? Value::integer(s.u.discrete.reading) : Value::null());
        v.add("unit", Value::null());
        v.add("state", Value::null());
        v.add("thresholds", Value::null());
        add_json_only(v, json, "raw_thresholds", Value::null());
    }
    v.add("details", kind_details(s));
    return v;
}

} // namespace

int cmd_sensors(Context &ctx, int /*argc*/, char ** /*argv*/, Value &out) {
    SensorInfo *list = nullptr;
    const int rc = sensor_info_get_list(ctx.intf, &list);
    Value &sensors = out.add("sensors", Value::array());
    while (list != nullptr) {
        SensorInfo *next = list->next;
        // The table shows no raw bytes of analog sensors; JSON has them all.
        sensors.push(sensor_value(ctx.intf, *list, ctx.json, ctx.json));
        free(list);
        list = next;
    }
    return rc == 0 ? kStatusOk : query_failed(ctx, "reading the SDR repository", rc);
}

int cmd_sensor(Context &ctx, int /*argc*/, char **argv, Value &out) {
    SensorInfo info;
    const int rc = sensor_info_get_data_by_id(ctx.intf, &info, argv[0]);
    if (rc == -7) {
        return usage_error(ctx, "no sensor named '%s'", argv[0]);
    }
    if (rc != 0) {
        out = Value::null();
        return query_failed(ctx, "reading the sensor", rc);
    }
    out = sensor_value(ctx.intf, info, true, ctx.json);
    return kStatusOk;
}

namespace {

// Full sensor record bytes, from body[0] (the record's byte 6).
constexpr int kCapabilitiesAt = 6; // bits 3:2: threshold access
constexpr int kSettableAt = 13;    // bits 5:0: the thresholds that can be set
constexpr int kThresholdBits = 0x3F;

// A threshold sensor as found for threshold: its interpretation and record.
struct ThresholdSensor {
    SensorInfo info;
    SdrHeader hdr;
    SdrRecord rec;
};

// Its raw thresholds as the IPMC answers them now; false when it did not.
bool raw_thresholds(IpmiIntf *intf, const SensorInfo &s, uint8_t raw[SENSOR_THRESHOLD_COUNT]) {
    IpmiResponse rsp;
    if (sensor_get_thresholds(intf, s.sensor_number & 0xFF, &rsp) != 0 || rsp.ccode != 0 ||
        rsp.data_len < 1 + SENSOR_THRESHOLD_COUNT) {
        return false;
    }
    memcpy(raw, rsp.data + 1, SENSOR_THRESHOLD_COUNT);
    return true;
}

// The lowest and the highest value a raw byte of the record converts to.
void value_range(const SdrRecord &rec, float *low, float *high) {
    *low = sensor_raw_to_value(rec.body, 0);
    *high = *low;
    for (int raw = 1; raw <= 0xFF; ++raw) {
        const float v = sensor_raw_to_value(rec.body, static_cast<uint8_t>(raw));
        *low = v < *low ? v : *low;
        *high = v > *high ? v : *high;
    }
}

int threshold_index(const char *word) {
    for (int i = 0; i < SENSOR_THRESHOLD_COUNT; ++i) {
        if (strcmp(word, threshold_names[i]) == 0) {
            return i;
        }
    }
    return -1;
}

} // namespace

// Shows a sensor's thresholds, or sets the ones given in the sensor's unit
// (the library converts them to raw) and reports each threshold that was
// asked for or changed, before and after, converted and raw.
int cmd_threshold(Context &ctx, int argc, char **argv, Value &out) {
    const char *name = argv[0];
    if (argc % 2 == 0) {
        return usage_error(ctx, "'%s' wants a value", argv[argc - 1]);
    }
    double asked[SENSOR_THRESHOLD_COUNT] = {};
    unsigned asked_mask = 0;
    for (int i = 1; i + 1 < argc; i += 2) {
        const int t = threshold_index(argv[i]);
        if (t < 0) {
            return usage_error(ctx, "unknown threshold '%s' (lnc, lc, lnr, unc, uc, unr)", argv[i]);
        }
        if ((asked_mask >> t & 1) != 0) {
            return usage_error(ctx, "threshold '%s' given twice", argv[i]);
        }
        if (!parse_real(argv[i + 1], &asked[t])) {
            return usage_error(ctx, "bad value '%s' for %s (a number)", argv[i + 1], argv[i]);
        }
        asked_mask |= 1u << t;
    }

    ThresholdSensor s{};
    int rc = sensor_info_get_data_by_id(ctx.intf, &s.info, name);
    if (rc == -7) {
        return usage_error(ctx, "no sensor named '%s'", name);
    }
    if (rc != 0) {
        out = Value::null();
        return query_failed(ctx, "reading the sensor", rc);
    }
    SdrIterator it;
    rc = sdr_start(ctx.intf, &it);
    rc = rc == 0 ? sdr_find_by_id_string(ctx.intf, &it, name, &s.hdr, &s.rec) : rc;
    if (rc != 0) {
        out = Value::null();
        return query_failed(ctx, "reading the sensor's record", rc);
    }
    const bool full =
        s.info.kind == SENSOR_KIND_ANALOG && s.hdr.record_type == SDR_TYPE_FULL_SENSOR;
    const SensorAnalog &a = s.info.u.analog;
    const unsigned has = s.info.kind == SENSOR_KIND_ANALOG ? a.threshold_mask : 0;
    // Thresholds can be set when the record says they are readable and
    // settable (access 2) and names them settable; the library sets those of
    // full records only.
    const unsigned settable = full && (s.rec.body[kCapabilitiesAt] >> 2 & 3) == 2
                                  ? s.rec.body[kSettableAt] & kThresholdBits
                                  : 0;
    if (s.info.kind != SENSOR_KIND_ANALOG) {
        return usage_error(ctx, "sensor '%s' has no thresholds", name);
    }
    float low = 0;
    float high = 0;
    value_range(s.rec, &low, &high);
    for (int t = 0; t < SENSOR_THRESHOLD_COUNT; ++t) {
        if ((asked_mask >> t & 1) == 0) {
            continue;
        }
        if ((has >> t & 1) == 0) {
            return usage_error(ctx, "sensor '%s' has no %s threshold", name, threshold_names[t]);
        }
        if ((settable >> t & 1) == 0) {
            return usage_error(ctx, "the %s threshold of '%s' cannot be set", threshold_names[t],
                               name);
        }
        if (!full || asked[t] < low || asked[t] > high) {
            return usage_error(ctx, "%s %g is outside what '%s' can hold (%g to %g %s)",
                               threshold_names[t], asked[t], name, static_cast<double>(low),
                               static_cast<double>(high), a.unit);
        }
    }

    uint8_t raw_before[SENSOR_THRESHOLD_COUNT] = {};
    const bool before_known = has != 0 && raw_thresholds(ctx.intf, s.info, raw_before);
    int status = kStatusOk;
    if (asked_mask != 0) {
        if (const int allowed = write_allowed(ctx); allowed != kStatusOk) {
            out = Value::null();
            return allowed;
        }
        if (!before_known) {
            out = Value::null();
            return query_failed(ctx, "reading the thresholds", -1);
        }
        for (int t = 0; t < SENSOR_THRESHOLD_COUNT && status == kStatusOk; ++t) {
            if ((asked_mask >> t & 1) != 0) {
                rc = sensor_set_threshold(ctx.intf, static_cast<uint32_t>(t), s.info.record_id,
                                          static_cast<float>(asked[t]));
                status = rc == 0 ? kStatusOk : query_failed(ctx, "setting the threshold", rc);
            }
        }
    }
    uint8_t raw_after[SENSOR_THRESHOLD_COUNT] = {};
    const bool after_known = has != 0 && raw_thresholds(ctx.intf, s.info, raw_after);

    out.add("name", Value::text(s.info.name, sizeof s.info.name));
    out.add("record_id", Value::hex(s.info.record_id, 4));
    out.add("number", Value::hex(s.info.sensor_number));
    out.add("unit", Value::text(a.unit));
    Value &list = out.add("thresholds", Value::array());
    Value &changes = out.add("changes", Value::array());
    for (int t = 0; t < SENSOR_THRESHOLD_COUNT; ++t) {
        const bool present = (has >> t & 1) != 0;
        Value &row = list.push(Value::object());
        row.add("threshold", Value::text(threshold_names[t]));
        row.add("settable", Value::boolean((settable >> t & 1) != 0));
        row.add("value", present && after_known
                             ? Value::real(sensor_raw_to_value(s.rec.body, raw_after[t]))
                             : Value::null());
        row.add("raw", present && after_known ? Value::integer(raw_after[t]) : Value::null());
        const bool was_asked = (asked_mask >> t & 1) != 0;
        if (!present || !before_known || !after_known ||
            (!was_asked && raw_before[t] == raw_after[t])) {
            continue;
        }
        const uint8_t expected = sensor_value_to_raw(s.rec.body, static_cast<float>(asked[t]));
        Value &change = changes.push(Value::object());
        change.add("threshold", Value::text(threshold_names[t]));
        change.add("asked", was_asked ? Value::real(asked[t]) : Value::null());
        change.add("before", Value::real(sensor_raw_to_value(s.rec.body, raw_before[t])));
        change.add("after", Value::real(sensor_raw_to_value(s.rec.body, raw_after[t])));
        change.add("raw_before", Value::integer(raw_before[t]));
        change.add("raw_after", Value::integer(raw_after[t]));
        change.add("changed", Value::boolean(raw_before[t] != raw_after[t]));
        if (status == kStatusOk && was_asked && raw_after[t] != expected) {
            fprintf(stderr, "hwboard: threshold: %s reads back as raw %d, not %d\n",
                    threshold_names[t], raw_after[t], expected);
            status = kStatusFailed;
        }
    }
    if (has != 0 && !after_known && status == kStatusOk) {
        status = query_failed(ctx, "reading the thresholds", -1);
    }
    return status;
}
