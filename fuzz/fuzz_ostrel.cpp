// Feeds arbitrary answers to every OEM request: each request takes the next
// answer of the input (completion code first), or fails when the input ends.
#include <cstring>

#include "fuzz_input.h"
#include "hvl/hvl_ipmi_interface.h"
#include "hvl/hvl_ipmi_ostrel.h"

namespace {

FuzzInput *input = nullptr;

int replay(IpmiIntf * /*intf*/, const IpmiRequest *request, IpmiResponse *response) {
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) {
        return 0;
    }
    FuzzInput fuzz(data + 1, size - 1);
    input = &fuzz;
    IpmiIntf intf{};
    intf.fd = 3;
    intf.opened = 1;
    intf.send = replay;
    run_every_command(&intf, data[0]);
    input = nullptr;
    return 0;
}
