// PICMG queries of the IPMC, or of the controller the interface is aimed at:
// properties, address information, LED states, backplane and AMC port states.
#include <cstring>

#include "hvl/hvl_ipmi_picmg.h"
#include "hwboard.h"

namespace {

constexpr uint8_t kAmcSite = 0x07;     // site type of an AMC module
constexpr int kPicmgLinkBytes = 5;     // a backplane link: 4 bytes of link info, its state
constexpr int kAmcLinkBytes = 4;       // an AMC link: 3 bytes of link info, its state
constexpr uint8_t kLedOverride = 0x02; // LED states: the override state is in force
constexpr int kLedStateBytes = 3;      // function, on-duration, colour

const char *const site_types[] = {"atca-board", "power-entry", "shelf-fru", "dedicated-shmc",
                                  "fan-tray",   "fan-filter",  "alarm",     "amc",
                                  "pmc",        "rtm"};

// One state of an LED as Get FRU LED State answers it (function, on-duration,
// colour from `at`).
Value led_state(const IpmiResponse &rsp, int at) {
    Value s = Value::object();
    const uint8_t function = rsp.data[at];
    s.add("function", Value::text(function == 0x00 ? "off" : function == 0xFF ? "on" : "blinking"));
    s.add("off_duration", Value::integer(function == 0x00 || function == 0xFF ? 0 : function));
    s.add("on_duration", Value::integer(rsp.data[at + 1]));
    s.add("colour", Value::hex(rsp.data[at + 2]));
    return s;
}

int picmg_props(Context &ctx, Value &out) {
    IpmiResponse rsp{};
    const int rc = picmg_get_properties(ctx.intf, &rsp);
    out.add("result", result_value(rc));
    const bool ok = rc == 0 && rsp.data_len >= 4;
    const uint8_t version = ok ? rsp.data[1] : 0;
    char text[8];
    snprintf(text, sizeof text, "%u.%u", version & 0x0Fu, version >> 4u);
    out.add("extension_version", ok ? Value::text(text) : Value::null());
    out.add("max_fru_id", ok ? Value::integer(rsp.data[2]) : Value::null());
    out.add("fru_id", ok ? Value::integer(rsp.data[3]) : Value::null());
    return ok ? kStatusOk : query_failed(ctx, "Get PICMG Properties", rc != 0 ? rc : -1);
}

int picmg_addr(Context &ctx, int argc, char **argv, Value &out) {
    unsigned long fru = 0;
    if (argc > 1 || (argc == 1 && !parse_number(argv[0], 0xFF, &fru))) {
        return argc > 1 ? usage_error(ctx, "usage: hwboard picmg addr [FRU]")
                        : usage_error(ctx, "bad FRU ID '%s' (0 to 255)", argv[0]);
    }
    PicmgAddrInfo info{};
    const int rc = argc == 0 ? picmg_addr_get_data(ctx.intf, &info)
                             : picmg_addr_get_by_fruid(ctx.intf, static_cast<uint8_t>(fru), &info);
    out.add("result", result_value(rc));
    // The site type is in the answer only, not in the library's record.
    IpmiResponse rsp{};
    const bool typed = rc == 0 &&
                       picmg_get_address_info(ctx.intf, static_cast<uint8_t>(fru), &rsp) == 0 &&
                       rsp.data_len >= 7;
    const uint8_t type = typed ? rsp.data[6] : 0;
    uint8_t ipml = 0;
    const bool amc =
        typed && type == kAmcSite && picmg_get_ipml_by_siteid(info.site_id, &ipml) == 0;
    out.add("hardware_address", rc == 0 ? Value::hex(info.hw_addr) : Value::null());
    out.add("ipmb0_address", rc == 0 ? Value::hex(info.ipmb_addr) : Value::null());
    out.add("fru_id", rc == 0 ? Value::integer(info.fru_id) : Value::null());
    out.add("site_id", rc == 0 ? Value::integer(info.site_id) : Value::null());
    out.add("site_type", typed ? Value::hex(type) : Value::null());
    out.add("site_type_name",
            typed ? Value::text(type < sizeof site_types / sizeof site_types[0] ? site_types[type]
                                                                                : "unknown")
                  : Value::null());
    out.add("ipmbl_address", amc ? Value::hex(ipml) : Value::null());
    return rc == 0 ? kStatusOk : query_failed(ctx, "Get Address Info", rc);
}

int picmg_led(Context &ctx, int argc, char **argv, Value &out) {
    unsigned long fru = 0;
    if (argc != 1) {
        return usage_error(ctx, "usage: hwboard picmg led FRU");
    }
    if (!parse_number(argv[0], 0xFF, &fru)) {
        return usage_error(ctx, "bad FRU ID '%s' (0 to 255)", argv[0]);
    }
    PicmgLedInfo leds[PICMG_LED_COUNT];
    const int rc = picmg_led_get_data(ctx.intf, leds, static_cast<uint8_t>(fru));
    out.add("fru_id", Value::integer(static_cast<long long>(fru)));
    out.add("result", result_value(rc));
    Value &list = out.add("leds", Value::array());
    // The library stops at the first LED the FRU lacks; the answers of the
    // LEDs before it carry their local and override states.
    for (int id = 0; id < PICMG_LED_COUNT; ++id) {
        IpmiResponse rsp{};
        if (picmg_get_fru_led_state(ctx.intf, static_cast<uint8_t>(fru), static_cast<uint8_t>(id),
                                    &rsp) != 0 ||
            rsp.data_len < 2 + kLedStateBytes) {
            break;
        }
        const PicmgLedInfo &led = leds[id];
        const bool overridden =
            (rsp.data[1] & kLedOverride) != 0 && rsp.data_len >= 2 + 2 * kLedStateBytes;
        Value &row = list.push(Value::object());
        row.add("led", Value::integer(id));
        row.add("states", Value::hex(led.led_states));
        row.add("function", Value::text(led.function == PICMG_LED_OFF  ? "off"
                                        : led.function == PICMG_LED_ON ? "on"
                                                                       : "blinking"));
        row.add("colour_name", Value::text(led.color, sizeof led.color));
        row.add("local", led_state(rsp, 2));
        row.add("override", overridden ? led_state(rsp, 2 + kLedStateBytes) : Value::null());
    }
    // A FRU with fewer than four LEDs is not a failure; one without any is.
    return list.empty() ? query_failed(ctx, "Get FRU LED State", rc) : kStatusOk;
}

int picmg_port(Context &ctx, int argc, char **argv, Value &out) {
    unsigned long interface = 0;
    unsigned long channel = 0;
    if (argc != 2) {
        return usage_error(ctx, "usage: hwboard picmg port INTERFACE CHANNEL");
    }
    if (!parse_number(argv[0], 2, &interface)) {
        return usage_error(ctx, "bad interface '%s' (0 base, 1 fabric, 2 update channel)", argv[0]);
    }
    if (!parse_number(argv[1], 63, &channel)) {
        return usage_error(ctx, "bad channel '%s' (0 to 63)", argv[1]);
    }
    uint8_t enabled = 0;
    const int rc = picmg_port_state(ctx.intf, static_cast<uint8_t>(channel),
                                    static_cast<uint8_t>(interface), &enabled);
    out.add("interface", Value::integer(static_cast<long long>(interface)));
    out.add("channel", Value::integer(static_cast<long long>(channel)));
    out.add("result", result_value(rc));
    out.add("enabled", rc == 0 ? Value::boolean(enabled != 0) : Value::null());
    Value &links = out.add("links", Value::array());
    IpmiResponse rsp{};
    if (rc == 0 && picmg_get_port_state(ctx.intf, static_cast<uint8_t>(channel),
                                        static_cast<uint8_t>(interface), &rsp) == 0) {
        for (int at = 1; at + kPicmgLinkBytes <= rsp.data_len; at += kPicmgLinkBytes) {
            const uint32_t info = rsp.data[at] | rsp.data[at + 1] << 8u | rsp.data[at + 2] << 16u |
                                  static_cast<uint32_t>(rsp.data[at + 3]) << 24u;
            Value &link = links.push(Value::object());
            link.add("ports", Value::hex(info >> 8u & 0x0Fu, 1));
            link.add("link_type", Value::hex(info >> 12u & 0xFFu));
            link.add("extension", Value::integer(info >> 20u & 0x0Fu));
            link.add("group", Value::integer(info >> 24u));
            link.add("enabled", Value::boolean(rsp.data[at + 4] != 0));
        }
    }
    return rc == 0 ? kStatusOk : query_failed(ctx, "Get Port State", rc);
}

int picmg_amc(Context &ctx, int argc, char **argv, Value &out) {
    unsigned long channel = 0;
    unsigned long device = 0;
    if (argc < 1 || argc > 2) {
        return usage_error(ctx, "usage: hwboard picmg amc CHANNEL [DEVICE]");
    }
    if (!parse_number(argv[0], 0xFF, &channel)) {
        return usage_error(ctx, "bad AMC channel '%s' (0 to 255)", argv[0]);
    }
    if (argc == 2 && !parse_number(argv[1], 0xFF, &device)) {
        return usage_error(ctx, "bad on-carrier device '%s' (0 to 255)", argv[1]);
    }
    AmcPortInfo port{};
    port.channel = static_cast<uint8_t>(channel);
    port.device = static_cast<uint8_t>(device);
    const int rc = picmg_amc_portstate(ctx.intf, &port);
    // The library reads a channel without links as a disabled one: the
    // answer tells how many links there are.
    IpmiResponse rsp{};
    const bool counted =
        rc == 0 && picmg_get_amc_port_state(ctx.intf, port.channel, port.device, &rsp) == 0;
    out.add("channel", Value::integer(static_cast<long long>(channel)));
    out.add("device", Value::integer(static_cast<long long>(device)));
    out.add("result", result_value(rc));
    out.add("link_count",
            counted ? Value::integer((rsp.data_len - 1) / kAmcLinkBytes) : Value::null());
    out.add("lanes", rc == 0 ? Value::hex(port.lanes, 1) : Value::null());
    out.add("group", rc == 0 ? Value::integer(port.group_id) : Value::null());
    out.add("protocol", rc == 0 ? Value::text(port.protocol, sizeof port.protocol) : Value::null());
    out.add("enabled", rc == 0 ? Value::boolean(port.enabled != 0) : Value::null());
    return rc == 0 ? kStatusOk : query_failed(ctx, "Get AMC Port State", rc);
}

} // namespace

int cmd_picmg(Context &ctx, int argc, char **argv, Value &out) {
    const char *what = argv[0];
    if (strcmp(what, "props") == 0 && argc == 1) {
        return picmg_props(ctx, out);
    }
    if (strcmp(what, "props") == 0) {
        return usage_error(ctx, "usage: hwboard picmg props");
    }
    if (strcmp(what, "addr") == 0) {
        return picmg_addr(ctx, argc - 1, argv + 1, out);
    }
    if (strcmp(what, "led") == 0) {
        return picmg_led(ctx, argc - 1, argv + 1, out);
    }
    if (strcmp(what, "port") == 0) {
        return picmg_port(ctx, argc - 1, argv + 1, out);
    }
    if (strcmp(what, "amc") == 0) {
        return picmg_amc(ctx, argc - 1, argv + 1, out);
    }
    return usage_error(ctx, "unknown picmg query '%s' (props, addr, led, port, amc)", what);
}
