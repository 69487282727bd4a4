// The board's own data: device ID and release texts, self-test, the
// mezzanine, the MAC addresses, the engineering options and the OEM
// configuration.
#include <cstddef>
#include <cstring>

#include "hvl/board_info.h"
#include "hvl/hvl_ipmi_bmc.h"
#include "hvl/hvl_ipmi_fru.h"
#include "hvl/hvl_ipmi_ostrel.h"
#include "hwboard.h"

namespace {

Value byte_array(const uint8_t *bytes, size_t count) {
    Value a = Value::array();
    for (size_t i = 0; i < count; ++i) {
        a.push(Value::hex(bytes[i]));
    }
    return a;
}

const char *const selftest_names[] = {"passed", "not-implemented", "corrupted", "fatal",
                                      "reserved"};

// The MAC address of a MacInfo: text as stored, octets, suffix.
Value mac_value(int rc, const MacInfo &mac) {
    Value v = Value::object();
    v.add("result", result_value(rc));
    v.add("text", rc == 0 || rc == BOARD_INFO_MAC_NOT_PARSEABLE
                      ? Value::text(mac.text, sizeof mac.text)
                      : Value::null());
    if (rc == 0) {
        char octets[BOARD_INFO_MAC_TEXT_SIZE];
        snprintf(octets, sizeof octets, "%02x:%02x:%02x:%02x:%02x:%02x", mac.mac[0], mac.mac[1],
                 mac.mac[2], mac.mac[3], mac.mac[4], mac.mac[5]);
        v.add("address", Value::text(octets));
        v.add("suffix", Value::integer(mac.suffix));
    } else {
        v.add("address", Value::null());
        v.add("suffix", Value::null());
    }
    return v;
}

struct Mezzanine {
    int rc;
    uint8_t fru_id;
};

Mezzanine mezzanine_get(IpmiIntf *intf) {
    Mezzanine m{0, 0};
    m.rc = board_info_get_piggy_fruid(intf, &m.fru_id);
    return m;
}

Value fitted_value(const Mezzanine &m) {
    if (m.rc == 0) {
        return Value::boolean(true);
    }
    return m.rc == BOARD_INFO_NO_MEZZANINE ? Value::boolean(false) : Value::null();
}

// The failure of a mezzanine query, if it is one; the engineering options'
// CRC is named.
int mezzanine_status(const Context &ctx, const Mezzanine &m) {
    if (m.rc == 0 || m.rc == BOARD_INFO_NO_MEZZANINE) {
        return kStatusOk;
    }
    return query_failed(ctx,
                        m.rc == -5 ? "the mezzanine query (engineering options fail their CRC)"
                                   : "the mezzanine query",
                        m.rc);
}

int mac_status(const Context &ctx, const char *what, int rc) {
    return rc == 0 || rc == BOARD_INFO_NO_MAC ? kStatusOk : query_failed(ctx, what, rc);
}

int worst(int a, int b) { return a > b ? a : b; }

} // namespace

int cmd_devid(Context &ctx, int /*argc*/, char ** /*argv*/, Value &out) {
    IpmcDeviceId id;
    const int rc = ipmc_devid_get_data(ctx.intf, &id);
    if (rc != 0) {
        out = Value::null();
        return query_failed(ctx, "Get Device ID", rc);
    }
    out.add("target", Value::hex(ctx.intf->target_addr));
    out.add("firmware", Value::text(id.fw_version, sizeof id.fw_version));
    out.add("ipmi_version", Value::text(id.ipmi_version, sizeof id.ipmi_version));
    out.add("manufacturer_id", Value::integer(id.manufacturer_id));
    out.add("product_id", Value::hex(id.product_id, 4));
    const uint8_t aux[2] = {id.aux_fw_rev0, id.aux_fw_rev1};
    out.add("aux_firmware", byte_array(aux, 2));
    // The release texts are the IPMC's own: a controller behind it has none.
    if (ctx.intf->target_addr != 0) {
        out.add("release", Value::null());
        return kStatusOk;
    }
    IpmcRelease release;
    const int release_rc = ipmc_release_get_data(ctx.intf, &release);
    Value &texts = out.add("release", release_rc == 0 ? Value::array() : Value::null());
    if (release_rc != 0) {
        return query_failed(ctx, "the release texts", release_rc);
    }
    for (const auto &text : release.text) {
        texts.push(Value::text(text, sizeof text));
    }
    return kStatusOk;
}

int cmd_selftest(Context &ctx, int /*argc*/, char ** /*argv*/, Value &out) {
    uint32_t state = 0;
    uint8_t detail = 0;
    const int rc = ipmc_get_selftest_result(ctx.intf, &state, &detail);
    if (rc != 0) {
        out = Value::null();
        return query_failed(ctx, "Get Self Test Results", rc);
    }
    out.add("passed", Value::boolean(state == IPMC_SELFTEST_PASSED));
    out.add("state",
            Value::text(state <= IPMC_SELFTEST_RESERVED ? selftest_names[state] : "unknown"));
    out.add("state_code", Value::integer(state));
    out.add("detail", Value::hex(detail));
    return kStatusOk;
}

int cmd_mezzanine(Context &ctx, int /*argc*/, char ** /*argv*/, Value &out) {
    const Mezzanine m = mezzanine_get(ctx.intf);
    out.add("result", result_value(m.rc));
    out.add("fitted", fitted_value(m));
    out.add("fru_id", m.rc == 0 ? Value::integer(m.fru_id) : Value::null());
    int status = mezzanine_status(ctx, m);
    EngOptions opts;
    const int opts_rc = ostrel_engineering_options_get(ctx.intf, &opts);
    out.add("option", opts_rc == 0 ? Value::hex(opts.mezzanine_option) : Value::null());
    if (m.rc != 0) {
        out.add("board_area", Value::null());
        return status;
    }
    FruBoardInfo board;
    const int fru_rc = fru_board_info_get(ctx.intf, m.fru_id, &board);
    Value &fru = out.add("board_area", Value::object());
    fru.add("result", result_value(fru_rc));
    if (fru_rc != 0) {
        return worst(status, query_failed(ctx, "reading the mezzanine's FRU board area", fru_rc));
    }
    fru.add("manufacturer", Value::text(board.manufacturer));
    fru.add("product_name", Value::text(board.product_name));
    fru.add("part_number", Value::text(board.part_number));
    fru.add("serial_number", Value::text(board.serial_number));
    fru.add("mfg_date", Value::text(board.mfg_date));
    return status;
}

int cmd_mac(Context &ctx, int /*argc*/, char ** /*argv*/, Value &out) {
    MacInfo fru{};
    MacInfo eng{};
    const int fru_rc = board_info_get_mac(ctx.intf, &fru);
    const int eng_rc = board_info_get_eng_mac(ctx.intf, &eng);
    out.add("fru", mac_value(fru_rc, fru));
    out.add("options", mac_value(eng_rc, eng));
    out.add("same", fru_rc == 0 && eng_rc == 0
                        ? Value::boolean(memcmp(fru.mac, eng.mac, sizeof fru.mac) == 0 &&
                                         fru.suffix == eng.suffix)
                        : Value::null());
    return worst(mac_status(ctx, "the FRU's MAC address", fru_rc),
                 mac_status(ctx, "the engineering options' MAC address", eng_rc));
}

int cmd_board(Context &ctx, int /*argc*/, char ** /*argv*/, Value &out) {
    EngRecord record;
    const int record_rc = ipmi_ostrel_eng_record_get(ctx.intf, &record);
    const bool crc_valid =
        record_rc == 0 && ostrel_crc8(reinterpret_cast<const uint8_t *>(&record.options),
                                      OSTREL_ENG_OPTIONS_SIZE - 1) == record.options.crc;
    out.add("options_crc_valid", record_rc == 0 ? Value::boolean(crc_valid) : Value::null());
    const Mezzanine m = mezzanine_get(ctx.intf);
    out.add("mezzanine", fitted_value(m));
    out.add("mezzanine_fru_id", m.rc == 0 ? Value::integer(m.fru_id) : Value::null());
    MacInfo fru{};
    MacInfo eng{};
    const int fru_rc = board_info_get_mac(ctx.intf, &fru);
    const int eng_rc = board_info_get_eng_mac(ctx.intf, &eng);
    out.add("mac_fru", fru_rc == 0 ? Value::text(fru.text, sizeof fru.text) : Value::null());
    out.add("mac_options", eng_rc == 0 ? Value::text(eng.text, sizeof eng.text) : Value::null());
    int status =
        record_rc == 0 ? kStatusOk : query_failed(ctx, "reading the engineering record", record_rc);
    status = worst(status, mezzanine_status(ctx, m));
    status = worst(status, mac_status(ctx, "the FRU's MAC address", fru_rc));
    return worst(status, mac_status(ctx, "the engineering options' MAC address", eng_rc));
}

int cmd_options(Context &ctx, int /*argc*/, char ** /*argv*/, Value &out) {
    EngRecord record;
    const int rc = ipmi_ostrel_eng_record_get(ctx.intf, &record);
    if (rc != 0) {
        out = Value::null();
        return query_failed(ctx, "reading the engineering record", rc);
    }
    const EngOptions &o = record.options;
    const uint8_t crc =
        ostrel_crc8(reinterpret_cast<const uint8_t *>(&o), OSTREL_ENG_OPTIONS_SIZE - 1);
    out.add("crc_valid", Value::boolean(crc == o.crc));
    out.add("crc", Value::hex(o.crc));
    out.add("crc_computed", Value::hex(crc));
    out.add("board_option", Value::hex(o.board_option));
    out.add("mezzanine", Value::hex(o.mezzanine));
    out.add("mezzanine_option", Value::hex(o.mezzanine_option));
    out.add("further", byte_array(o.further, sizeof o.further));
    MacInfo mac{};
    board_info_mac_parse(o.mac, &mac);
    out.add("mac", Value::text(mac.text, sizeof mac.text));
    out.add("mac_suffix", Value::integer(o.mac_suffix));
    out.add("fcap", byte_array(record.fcap, sizeof record.fcap));
    Value &flags = out.add("flags", Value::array());
    for (const FcapDef *row = board_info_fcap_table; row->byte >= 0; ++row) {
        // The table's texts carry blanks after them.
        size_t length = 0;
        const char *name = trim_blanks(row->name, sizeof row->name, false, &length);
        Value &flag = flags.push(Value::object());
        flag.add("name", Value::text(name, length));
        flag.add("byte", Value::integer(row->byte));
        flag.add("mask", Value::hex(row->mask));
        flag.add("set", Value::boolean(row->byte < OSTREL_FCAP_SIZE &&
                                       (record.fcap[row->byte] & row->mask) != 0));
        flag.add("description", Value::text(row->description, sizeof row->description));
    }
    return kStatusOk;
}

namespace {

// The fields of the engineering record migrate compares, as the table
// shows them: their bytes in hexadecimal.
struct RecordField {
    const char *name;
    size_t offset;
    size_t size;
};

const RecordField record_fields[] = {
    {"fcap", offsetof(EngRecord, fcap), sizeof(EngRecord::fcap)},
    {"board_option", offsetof(EngRecord, options.board_option), 1},
    {"mezzanine", offsetof(EngRecord, options.mezzanine), 1},
    {"mezzanine_option", offsetof(EngRecord, options.mezzanine_option), 1},
    {"further", offsetof(EngRecord, options.further), sizeof(EngOptions::further)},
    {"mac", offsetof(EngRecord, options.mac), sizeof(EngOptions::mac)},
    {"mac_suffix", offsetof(EngRecord, options.mac_suffix), 1},
    {"crc", offsetof(EngRecord, options.crc), 1},
};

// The field's bytes of `r` in hexadecimal.
Value field_hex(const RecordField &field, const EngRecord &r) {
    const uint8_t *bytes = reinterpret_cast<const uint8_t *>(&r) + field.offset;
    char text[2 * sizeof(EngRecord) + 1];
    for (size_t i = 0; i < field.size; ++i) {
        text[2 * i] = "0123456789abcdef"[bytes[i] >> 4];
        text[2 * i + 1] = "0123456789abcdef"[bytes[i] & 0xF];
    }
    return Value::text(text, 2 * field.size);
}

bool record_crc_valid(const EngRecord &r) {
    return ostrel_crc8(reinterpret_cast<const uint8_t *>(&r.options),
                       OSTREL_ENG_OPTIONS_SIZE - 1) == r.options.crc;
}

} // namespace

// Moves the FRU data into the engineering options, which the library does
// only while they fail their CRC; the record is read before and after, and
// every field that differs is reported.
int cmd_migrate(Context &ctx, int /*argc*/, char ** /*argv*/, Value &out) {
    EngRecord before;
    EngRecord after;
    int rc = ipmi_ostrel_eng_record_get(ctx.intf, &before);
    if (rc != 0) {
        out = Value::null();
        return query_failed(ctx, "reading the engineering record", rc);
    }
    rc = board_info_migrate_to_fcap(ctx.intf);
    out.add("result", result_value(rc));
    out.add("crc_valid_before", Value::boolean(record_crc_valid(before)));
    const int after_rc = ipmi_ostrel_eng_record_get(ctx.intf, &after);
    out.add("crc_valid_after",
            after_rc == 0 ? Value::boolean(record_crc_valid(after)) : Value::null());
    Value &changes = out.add("changes", Value::array());
    if (after_rc == 0) {
        for (const RecordField &field : record_fields) {
            const auto *was = reinterpret_cast<const uint8_t *>(&before) + field.offset;
            const auto *is = reinterpret_cast<const uint8_t *>(&after) + field.offset;
            if (memcmp(was, is, field.size) != 0) {
                Value &change = changes.push(Value::object());
                change.add("field", Value::text(field.name));
                change.add("before", field_hex(field, before));
                change.add("after", field_hex(field, after));
            }
        }
    }
    out.add("changed", after_rc == 0 ? Value::boolean(!changes.empty()) : Value::null());
    if (rc != 0) {
        return query_failed(ctx, "the migration", rc);
    }
    return after_rc == 0 ? kStatusOk
                         : query_failed(ctx, "reading the engineering record back", after_rc);
}
