// The OEM configuration family: storage switches, PCIe, boot cycle, clocks,
// PLLs and the controller's IPMB and PM modes.
#include <cstring>

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

int cmd_config(Context &ctx, int argc, char **argv, Value &out) {
    if (argc > 0 && strcmp(argv[0], "get") != 0) {
        return usage_error(ctx, "unknown config action '%s' (get)", argv[0]);
    }
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
