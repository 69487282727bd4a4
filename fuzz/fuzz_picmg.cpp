// Feeds arbitrary answers to the PICMG queries and to targeting by FRU: each
// request takes the next answer of the input (completion code first), or
// fails when the input ends. The texts must end inside their fields, and a
// failed targeting must leave the target alone.
#include <cstring>

#include "fuzz_input.h"
#include "hvl/hvl_ipmi_interface.h"
#include "hvl/hvl_ipmi_picmg.h"

namespace {

void require_text(const char (&text)[PICMG_TEXT_SIZE]) {
    if (memchr(text, '\0', sizeof text) == nullptr) {
        __builtin_trap();
    }
}

void run_every_query(IpmiIntf *intf, uint8_t selector) {
    PicmgAddrInfo addr{};
    picmg_addr_get_data(intf, &addr);
    picmg_addr_get_by_fruid(intf, selector, &addr);
    PicmgLedInfo leds[PICMG_LED_COUNT];
    picmg_led_get_data(intf, leds, selector);
    for (const PicmgLedInfo &led : leds) {
        require_text(led.color);
    }
    AmcPortInfo port{};
    port.channel = selector;
    std::memset(port.protocol, 'x', sizeof port.protocol - 1); // text left alone must stay ended
    picmg_amc_portstate(intf, &port);
    require_text(port.protocol);
    uint8_t value = 0;
    picmg_port_state(intf, selector & 0x3FU, selector >> 6, &value);
    picmg_get_max_fruid(intf, &value);
    const uint32_t before = intf->target_addr;
    if (set_target_by_fruid(intf, selector) != 0 && intf->target_addr != before) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    FuzzInput fuzz(data + 1, size - 1);
    ReplayingIntf intf(fuzz);
    run_every_query(intf.get(), data[0]);
    return 0;
}
