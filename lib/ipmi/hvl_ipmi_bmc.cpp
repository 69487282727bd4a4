// The IPMC's device ID record and its self-test result.
#include "hvl/hvl_ipmi_bmc.h"

#include <cstdio>
#include <cstring>

#include "hvl/hvl_ipmi_ostrel.h"
#include "ipmi/ipmi_codes.h"
#include "ipmi/ipmi_request.h"
#include "ipmi/ostrel_constants.h"

namespace {

using hvl::ipmi::intf_missing;
using hvl::ipmi::kNoInterface;
using hvl::ipmi::kNotAvailable;

constexpr int kFailed = -1;
constexpr uint8_t kCmdGetSelfTestResults = 0x04;

// The self-test result codes and the state each sets; `detailed` codes also
// hand on the second result byte.
struct SelfTestCode {
    uint8_t code;
    uint32_t state;
    bool detailed;
};

constexpr SelfTestCode kSelfTestCodes[] = {
    {0x55, IPMC_SELFTEST_PASSED, false},   {0x56, IPMC_SELFTEST_NOT_IMPLEMENTED, false},
    {0x57, IPMC_SELFTEST_CORRUPTED, true}, {0x58, IPMC_SELFTEST_FATAL, true},
    {0xFF, IPMC_SELFTEST_RESERVED, false},
};

// Fills the record from the answer's fixed places, in the order the fields are known.
void read_device_id(const IpmiResponse &response, IpmcDeviceId &out) {
    hvl::ByteReader in = hvl::ipmi::unchecked_data(response);
    in.skip(2);
    const unsigned major = in.u8() & 0x7Fu;
    const unsigned minor = in.u8();
    const unsigned ipmi = in.u8();
    in.skip(1);
    (void)std::snprintf(out.fw_version, sizeof out.fw_version, "%u.%x", major, minor);
    (void)std::snprintf(out.ipmi_version, sizeof out.ipmi_version, "%x.%x", ipmi & 0x0Fu,
                        ipmi >> 4);
    const uint32_t low = in.u16();
    out.manufacturer_id = low | static_cast<uint32_t>(in.u8()) << 16;
    out.product_id = in.u16();
    out.aux_fw_rev0 = in.u8();
    out.aux_fw_rev1 = in.u8();
}

} // namespace

extern "C" {

int ipmi_selftest_get(IpmiIntf *intf, IpmiResponse *response) {
    const hvl::ByteWriter none(nullptr, 0);
    const int rc = hvl::ipmi::send_request(intf, hvl::ostrel::kNetFnApp, 0, kCmdGetSelfTestResults,
                                           none, response);
    return hvl::ipmi::succeeded(rc, *response) ? 0 : kFailed;
}

int ipmc_devid_get_data(IpmiIntf *intf, IpmcDeviceId *out) {
    std::memset(out, 0, sizeof *out);
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    IpmiResponse response{};
    const int rc = ipmi_device_id_get(intf, &response);
    if (hvl::ipmi::not_available(rc)) {
        return kNotAvailable;
    }
    if (rc != 0) {
        return kFailed;
    }
    read_device_id(response, *out);
    return 0;
}

int ipmc_get_selftest_result(IpmiIntf *intf, uint32_t *state, uint8_t *detail) {
    *state = IPMC_SELFTEST_NOT_IMPLEMENTED;
    *detail = 0;
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    IpmiResponse response{};
    if (ipmi_selftest_get(intf, &response) != 0) {
        return kFailed;
    }
    const uint8_t code = response.data[0];
    const uint8_t second = response.data[1];
    *detail = second;
    for (const SelfTestCode &known : kSelfTestCodes) {
        if (known.code == code) {
            *state = known.state;
            *detail = known.detailed ? second : 0;
        }
    }
    return 0;
}

} // extern "C"
