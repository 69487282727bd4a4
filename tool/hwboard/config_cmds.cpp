// The OEM configuration family: storage switches, PCIe, boot cycle, clocks,
// PLLs, the controller's IPMB and PM modes and the feature flags; shown all at
// once, set one setting at a time.
#include <cstring>

#include "hvl/board_info.h"
#include "hvl/hvl_ipmi_ostrel.h"
#include "hwboard.h"

namespace {

constexpr int kClocks = 4;
constexpr int kPlls = 2;
constexpr int kHotplugPorts = 4;

// Collects the values of many gets: a failed one is null and named on
// standard error, and the command fails.
struct Gets {
    Context &ctx;
    int status = kStatusOk;

    Value take(const char *what, int rc, int value, bool hex = false) {
        if (rc != 0) {
            status = query_failed(ctx, what, rc);
            return Value::null();
        }
        return hex ? Value::hex(value) : Value::integer(value);
    }
};

} // namespace

namespace {

int config_get(Context &ctx, Value &out) {
    IpmiIntf *intf = ctx.intf;
    Gets gets{ctx};
    int a = 0;
    int b = 0;
    int c = 0;

    Value &switches = out.add("storage_switch", Value::array());
    // Target 3 is switch 0, any other target switch 1.
    const int switch_targets[2] = {3, 0};
    for (int i = 0; i < 2; ++i) {
        const int rc = ostrel_storage_sw_get(intf, switch_targets[i], &a);
        Value &s = switches.push(Value::object());
        s.add("switch", Value::integer(i));
        s.add("mode", gets.take("the storage switch", rc, a));
        s.add("on", rc == 0 ? Value::boolean(a != 5) : Value::null());
    }

    Value &pcie = out.add("pcie", Value::object());
    int rc = ostrel_pcie_portconf_get(intf, &a, &b);
    pcie.add("port_config_a", gets.take("the PCIe port configuration", rc, a, true));
    pcie.add("port_config_b", rc == 0 ? Value::hex(b) : Value::null());
    rc = ostrel_pcie_mode_get(intf, &a);
    pcie.add("mode", gets.take("the PCIe mode", rc, a, true));
    rc = ostrel_pcie_clock_get(intf, &a);
    pcie.add("clock", gets.take("the PCIe clock", rc, a, true));
    Value &hotplug = pcie.add("hotplug", Value::array());
    for (int port = 0; port < kHotplugPorts; ++port) {
        rc = ostrel_pcie_hotplug_get(intf, port, &a);
        hotplug.push(gets.take("the PCIe hot-plug state", rc, a));
    }

    Value &boot = out.add("boot_cycle", Value::object());
    rc = ostrel_bootcycle_get(intf, &a, &b, &c);
    boot.add("a", gets.take("the boot cycle", rc, a));
    boot.add("b", rc == 0 ? Value::integer(b) : Value::null());
    boot.add("c", rc == 0 ? Value::integer(c) : Value::null());

    Value &clocks = out.add("clocks", Value::array());
    for (int clock = 0; clock < kClocks; ++clock) {
        Value &k = clocks.push(Value::object());
        k.add("clock", Value::integer(clock));
        rc = ostrel_get_clock_source(intf, clock, &a);
        k.add("source", gets.take("the clock source", rc, a));
        rc = ostrel_get_clock_driver(intf, clock, &a);
        k.add("driver", gets.take("the clock driver", rc, a));
    }

    Value &plls = out.add("plls", Value::array());
    for (int pll = 0; pll < kPlls; ++pll) {
        Value &p = plls.push(Value::object());
        p.add("pll", Value::integer(pll));
        rc = ostrel_get_pll_config(intf, pll, &a);
        p.add("config", gets.take("the PLL configuration", rc, a, true));
    }
    rc = ostrel_get_pll_status(intf, &a);
    out.add("pll_status", gets.take("the PLL status", rc, a, true));

    rc = ostrel_ipmb_mode_get(intf, &a);
    out.add("ipmb_mode", gets.take("the IPMB mode", rc, a));
    rc = ostrel_pm_mode_get(intf, &a);
    out.add("pm_mode", gets.take("the PM mode", rc, a));
    return gets.status;
}

constexpr int kMaxArgs = 3;

struct Arg {
    const char *name; // lower case; the synopsis has it in upper case
    unsigned long max;
};

// One setting of the family. Its first `selectors` arguments pick what is
// set (a switch, a port, a clock, a PLL, a flag), the rest are the values;
// get reads the values of what the selectors pick.
struct Setting {
    const char *key;
    int selectors;
    int count; // arguments in all
    Arg args[kMaxArgs];
    const char *set_name;
    const char *get_name;
    int (*set)(IpmiIntf *intf, const int *args);
    int (*get)(IpmiIntf *intf, const int *args, int *values);
};

constexpr int kStorageOff = 5; // the storage switch mode of state 0

// Switch 0 is target 3, switch 1 any other target.
int storage_target(int which) { return which == 0 ? 3 : 0; }

const Setting settings[] = {
    {"storage_switch",
     1,
     2,
     {{"switch", 1}, {"on", 1}},
     "ostrel_storage_sw_set",
     "ostrel_storage_sw_get",
     [](IpmiIntf *i, const int *a) {
         return ostrel_storage_sw_set(i, storage_target(a[0]), a[1] != 0 ? 1 : kStorageOff);
     },
     [](IpmiIntf *i, const int *a, int *v) {
         int mode = 0;
         const int rc = ostrel_storage_sw_get(i, storage_target(a[0]), &mode);
         v[0] = mode != kStorageOff ? 1 : 0;
         return rc;
     }},
    {"pcie_port_config",
     0,
     2,
     {{"port_config_a", 0xFF}, {"port_config_b", 0xFF}},
     "ostrel_pcie_portconf_set",
     "ostrel_pcie_portconf_get",
     [](IpmiIntf *i, const int *a) { return ostrel_pcie_portconf_set(i, a[0], a[1]); },
     [](IpmiIntf *i, const int * /*a*/, int *v) {
         return ostrel_pcie_portconf_get(i, &v[0], &v[1]);
     }},
    {"pcie_mode",
     0,
     1,
     {{"mode", 0xFF}},
     "ostrel_pcie_mode_set",
     "ostrel_pcie_mode_get",
     [](IpmiIntf *i, const int *a) { return ostrel_pcie_mode_set(i, a[0]); },
     [](IpmiIntf *i, const int * /*a*/, int *v) { return ostrel_pcie_mode_get(i, v); }},
    {"pcie_hotplug",
     1,
     2,
     {{"port", kHotplugPorts - 1}, {"state", 0xFF}},
     "ostrel_pcie_hotplug_set",
     "ostrel_pcie_hotplug_get",
     [](IpmiIntf *i, const int *a) { return ostrel_pcie_hotplug_set(i, a[0], a[1]); },
     [](IpmiIntf *i, const int *a, int *v) { return ostrel_pcie_hotplug_get(i, a[0], v); }},
    {"pcie_clock",
     0,
     1,
     {{"clock", 0xFF}},
     "ostrel_pcie_clock_set",
     "ostrel_pcie_clock_get",
     [](IpmiIntf *i, const int *a) { return ostrel_pcie_clock_set(i, a[0]); },
     [](IpmiIntf *i, const int * /*a*/, int *v) { return ostrel_pcie_clock_get(i, v); }},
    // The IPMC keeps the low 12 bits of b.
    {"boot_cycle",
     0,
     3,
     {{"a", 2}, {"b", 0xFFF}, {"c", 0xFF}},
     "ostrel_bootcycle_set",
     "ostrel_bootcycle_get",
     [](IpmiIntf *i, const int *a) { return ostrel_bootcycle_set(i, a[0], a[1], a[2]); },
     [](IpmiIntf *i, const int * /*a*/, int *v) {
         return ostrel_bootcycle_get(i, &v[0], &v[1], &v[2]);
     }},
    {"clock_source",
     1,
     2,
     {{"clock", kClocks - 1}, {"source", 0xFF}},
     "ostrel_set_clock_source",
     "ostrel_get_clock_source",
     [](IpmiIntf *i, const int *a) { return ostrel_set_clock_source(i, a[0], a[1]); },
     [](IpmiIntf *i, const int *a, int *v) { return ostrel_get_clock_source(i, a[0], v); }},
    {"clock_driver",
     1,
     2,
     {{"clock", kClocks - 1}, {"driver", 1}},
     "ostrel_set_clock_driver",
     "ostrel_get_clock_driver",
     [](IpmiIntf *i, const int *a) { return ostrel_set_clock_driver(i, a[0], a[1]); },
     [](IpmiIntf *i, const int *a, int *v) { return ostrel_get_clock_driver(i, a[0], v); }},
    {"pll_config",
     1,
     2,
     {{"pll", kPlls - 1}, {"config", 0xFF}},
     "ostrel_set_pll_config",
     "ostrel_get_pll_config",
     [](IpmiIntf *i, const int *a) { return ostrel_set_pll_config(i, a[0], a[1]); },
     [](IpmiIntf *i, const int *a, int *v) { return ostrel_get_pll_config(i, a[0], v); }},
    {"ipmb_mode",
     0,
     1,
     {{"mode", 1}},
     "ostrel_ipmb_mode_set",
     "ostrel_ipmb_mode_get",
     [](IpmiIntf *i, const int *a) { return ostrel_ipmb_mode_set(i, a[0]); },
     [](IpmiIntf *i, const int * /*a*/, int *v) { return ostrel_ipmb_mode_get(i, v); }},
    {"pm_mode",
     0,
     1,
     {{"mode", 1}},
     "ostrel_pm_mode_set",
     "ostrel_pm_mode_get",
     [](IpmiIntf *i, const int *a) { return ostrel_pm_mode_set(i, a[0]); },
     [](IpmiIntf *i, const int * /*a*/, int *v) { return ostrel_pm_mode_get(i, v); }},
    // The flag by its name in the board's table or by its row.
    {"flag",
     1,
     2,
     {{"flag", 0xFF}, {"set", 1}},
     "board_info_fcap_set",
     "board_info_fcap_get",
     [](IpmiIntf *i, const int *a) { return board_info_fcap_set(i, a[0], a[1]); },
     [](IpmiIntf *i, const int *a, int *v) { return board_info_fcap_get(i, a[0], v); }},
};

// The row of the board's feature flag named `word` (or numbered so), else -1.
int flag_row(const char *word) {
    int rows = 0;
    for (const FcapDef *row = board_info_fcap_table; row->byte >= 0; ++row, ++rows) {
        size_t length = 0;
        const char *name = trim_blanks(row->name, sizeof row->name, true, &length);
        if (strlen(word) == length && strncmp(name, word, length) == 0) {
            return rows;
        }
    }
    unsigned long n = 0;
    return parse_number(word, 0xFF, &n) && n < static_cast<unsigned long>(rows)
               ? static_cast<int>(n)
               : -1;
}

// The setting's key and its arguments in upper case, in `text`.
const char *synopsis(const Setting &s, char (&text)[128]) {
    size_t length = 0;
    for (const char *c = s.key; *c != '\0' && length + 1 < sizeof text; ++c) {
        text[length++] = *c;
    }
    for (int i = 0; i < s.count; ++i) {
        if (length + 1 < sizeof text) {
            text[length++] = ' ';
        }
        for (const char *c = s.args[i].name; *c != '\0' && length + 1 < sizeof text; ++c) {
            text[length++] = static_cast<char>(*c - 'a' + 'A');
        }
    }
    text[length] = '\0';
    return text;
}

int config_set(Context &ctx, int argc, char **argv, Value &out) {
    const Setting *s = nullptr;
    for (const Setting &row : settings) {
        s = argc > 0 && strcmp(argv[0], row.key) == 0 ? &row : s;
    }
    if (s == nullptr) {
        char keys[256] = "";
        size_t length = 0;
        for (const Setting &row : settings) {
            const int n = snprintf(keys + length, sizeof keys - length, "%s%s",
                                   length == 0 ? "" : ", ", row.key);
            length +=
                n > 0 && static_cast<size_t>(n) < sizeof keys - length ? static_cast<size_t>(n) : 0;
        }
        return argc == 0 ? usage_error(ctx, "usage: hwboard config set KEY VALUE... (%s)", keys)
                         : usage_error(ctx, "unknown setting '%s' (%s)", argv[0], keys);
    }
    if (argc - 1 != s->count) {
        char text[128];
        return usage_error(ctx, "usage: hwboard config set %s", synopsis(*s, text));
    }
    int args[kMaxArgs] = {};
    for (int i = 0; i < s->count; ++i) {
        unsigned long n = 0;
        const bool flag = strcmp(s->key, "flag") == 0 && i == 0;
        const int row = flag ? flag_row(argv[i + 1]) : 0;
        if (flag ? row < 0 : !parse_number(argv[i + 1], s->args[i].max, &n)) {
            return flag ? usage_error(ctx, "unknown flag '%s' (see options)", argv[i + 1])
                        : usage_error(ctx, "bad %s '%s' for %s (0 to %lu)", s->args[i].name,
                                      argv[i + 1], s->key, s->args[i].max);
        }
        args[i] = flag ? row : static_cast<int>(n);
    }
    if (const int allowed = write_allowed(ctx); allowed != kStatusOk) {
        out = Value::null();
        return allowed;
    }
    int before[kMaxArgs] = {};
    int after[kMaxArgs] = {};
    const int before_rc = s->get(ctx.intf, args, before);
    if (before_rc != 0) {
        out = Value::null();
        return query_failed(ctx, s->get_name, before_rc);
    }
    const int set_rc = s->set(ctx.intf, args);
    const int after_rc = s->get(ctx.intf, args, after);
    out.add("key", Value::text(s->key));
    Value &select = out.add("select", Value::object());
    for (int i = 0; i < s->selectors; ++i) {
        select.add(s->args[i].name, Value::integer(args[i]));
    }
    out.add("result", result_value(set_rc));
    Value &values = out.add("values", Value::array());
    int status = set_rc == 0 ? kStatusOk : query_failed(ctx, s->set_name, set_rc);
    if (after_rc != 0) {
        status = query_failed(ctx, s->get_name, after_rc);
    }
    bool changed = false;
    for (int i = s->selectors; i < s->count; ++i) {
        const int k = i - s->selectors;
        Value &v = values.push(Value::object());
        v.add("name", Value::text(s->args[i].name));
        v.add("asked", Value::integer(args[i]));
        v.add("before", Value::integer(before[k]));
        v.add("after", after_rc == 0 ? Value::integer(after[k]) : Value::null());
        changed = changed || (after_rc == 0 && after[k] != before[k]);
        if (status == kStatusOk && after[k] != args[i]) {
            fprintf(stderr, "hwboard: config: %s %s reads back as %d, not %d\n", s->key,
                    s->args[i].name, after[k], args[i]);
            status = kStatusFailed;
        }
    }
    out.add("changed", after_rc == 0 ? Value::boolean(changed) : Value::null());
    return status;
}

} // namespace

void print_settings(FILE *out) {
    for (const Setting &s : settings) {
        char text[128];
        fprintf(out, "  %s\n", synopsis(s, text));
    }
}

int cmd_config(Context &ctx, int argc, char **argv, Value &out) {
    if (argc == 0 || (strcmp(argv[0], "get") == 0 && argc == 1)) {
        return config_get(ctx, out);
    }
    if (strcmp(argv[0], "set") == 0) {
        return config_set(ctx, argc - 1, argv + 1, out);
    }
    return strcmp(argv[0], "get") == 0
               ? usage_error(ctx, "usage: hwboard config get")
               : usage_error(ctx, "unknown config action '%s' (get, set)", argv[0]);
}
