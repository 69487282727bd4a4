// Feeds arbitrary answers to every OEM request: each request takes the next
// answer of the input (completion code first), or fails when the input ends.
// The input's first byte chooses the requests' arguments: the lengths of the
// chunked reads, ports, offsets and addresses, and the fcap table's row.
#include <cstring>

#include "fuzz_input.h"
#include "hvl/hvl_ipmi_interface.h"
#include "hvl/hvl_ipmi_ostrel.h"
#include "hvl/hvl_process_utils.h"
#include "ipmi/ostrel_constants.h"

namespace {

FuzzInput *input = nullptr;

// While set, Get Device ID is answered with this product ID rather than
// from the input, so that every answer of the input goes to a member.
uint16_t product = 0;

int replay(IpmiIntf * /*intf*/, const IpmiRequest *request, IpmiResponse *response) {
    if (product != 0 && request->netfn == hvl::ostrel::kNetFnApp &&
        request->cmd == hvl::ostrel::kCmdGetDeviceId) {
        const uint8_t id[] = {0,
                              0,
                              0,
                              0,
                              0x51,
                              0,
                              0xD9,
                              0x7E,
                              0,
                              static_cast<uint8_t>(product),
                              static_cast<uint8_t>(product >> 8)};
        response->ccode = 0;
        memcpy(response->data, id, sizeof id);
        response->data_len = sizeof id;
        return 0;
    }
    return replay_answer(*input, request, response);
}

void run_every_command(IpmiIntf *intf, uint8_t selector) {
    uint8_t value = 0;
    EngOptions options{};
    EngRecord record{};
    ControllerParams params{};
    uint16_t product_id = 0;
    uint8_t code[OSTREL_ACCESS_CODE_SIZE] = {};
    IpmiResponse response{};
    ostrel_cpldreg_read(intf, selector, &value);
    ostrel_cpldreg_write(intf, selector, value);
    ostrel_engineering_options_get(intf, &options);
    ostrel_engineering_options_set(intf, &options);
    ipmi_ostrel_eng_record_get(intf, &record);
    ipmi_ostrel_eng_record_set(intf, &record);
    ipmi_ostrel_param_get(intf, &params);
    ipmi_ostrel_param_set(intf, &params);
    ipmi_ostrel_product_id_get(intf, &product_id);
    ipmi_ostrel_access_code_get(intf, code);
    ipmi_device_id_get(intf, &response);
}

// Rows in range, a byte and a mask out of range, and the end.
constexpr FcapDef kFcaps[] = {
    {"a", "", 1, 0x0C}, {"b", "", 3, 0x01}, {"c", "", 0, 0x1FF}, {"end", "", -1, 0}};

void run_configuration(IpmiIntf *intf, uint8_t selector) {
    int a = 0;
    int b = 0;
    int c = 0;
    const int flag = selector & 1;
    const int row = selector % 5 - 1; // -1 to 3, the last two past the table
    uint8_t buffer[256] = {};
    IpmcRelease release;
    ostrel_storage_sw_set(intf, flag != 0 ? 3 : 0, selector & 2 ? 5 : 1);
    ostrel_storage_sw_get(intf, flag != 0 ? 3 : 0, &a);
    ostrel_pcie_portconf_set(intf, a, selector);
    ostrel_pcie_portconf_get(intf, &a, &b);
    ostrel_pcie_mode_set(intf, b);
    ostrel_pcie_mode_get(intf, &a);
    ostrel_pcie_hotplug_set(intf, selector, a);
    ostrel_pcie_hotplug_get(intf, selector, &a);
    ostrel_pcie_clock_set(intf, a);
    ostrel_pcie_clock_get(intf, &a);
    ostrel_bootcycle_get(intf, &a, &b, &c);
    ostrel_bootcycle_set(intf, a, b, c);
    ostrel_set_clock_source(intf, selector, a);
    ostrel_get_clock_source(intf, selector, &a);
    ostrel_set_clock_driver(intf, selector, a);
    ostrel_get_clock_driver(intf, selector, &a);
    ostrel_set_pll_config(intf, selector, a);
    ostrel_get_pll_config(intf, selector, &a);
    ostrel_get_pll_status(intf, &a);
    ipmi_set_debug(intf, flag, a);
    ipmc_release_get_data(intf, &release);
    ostrel_set_device_id_string(intf, flag != 0 ? release.text[2] : nullptr);
    ostrel_fcap_set(intf, flag, row, kFcaps);
    ostrel_fcap_get(intf, row, &a, kFcaps);
    ostrel_ipmb_mode_set(intf, a);
    ostrel_ipmb_mode_get(intf, &a);
    ostrel_pm_mode_set(intf, a);
    ostrel_pm_mode_get(intf, &a);
    ostrel_xfp_read(intf, flag, selector >> 4, selector, buffer);
    ipmi_ostrel_block_read(intf, selector << 8, selector, buffer);
    ipmi_ostrel_block_write(intf, a, selector, buffer);
    (void)ipmi_checksum(buffer, selector);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    FuzzInput fuzz(data + 1, size - 1);
    input = &fuzz;
    IpmiIntf intf = replaying_intf(replay);
    run_every_command(&intf, data[0]);
    // One of the products, or one without an access code.
    const size_t pick = data[0] % (hvl::ostrel::kCodedProductCount + 1);
    product = pick < hvl::ostrel::kCodedProductCount ? hvl::ostrel::kCodedProducts[pick] : 0xFFFF;
    run_configuration(&intf, data[0]);
    product = 0;
    input = nullptr;
    return 0;
}
