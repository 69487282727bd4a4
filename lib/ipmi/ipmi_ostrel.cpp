// One function per OEM request of the IPMC: it frames the request, sends it
// through the interface and checks the answer. The interface is not null here;
// the public functions check it.
#include <cstring>

#include "common/byte_io.h"
#include "hvl/hvl_ipmi_ostrel.h"
#include "ipmi/ipmi_codes.h"
#include "ipmi/ipmi_request.h"
#include "ipmi/ostrel_constants.h"
#include "log/log_site.h"

namespace {

using namespace hvl::ostrel;
using hvl::ipmi::answer_data;
using hvl::ipmi::kCcSuccess;
using hvl::ipmi::send_request;
using hvl::ipmi::succeeded;
using hvl::ipmi::unchecked_data;

constexpr int kFailed = -1;

struct Crc8Table {
    uint8_t entry[256];
};

// Polynomial x^8 + x^2 + x + 1, most significant bit first.
constexpr Crc8Table make_crc8_table() {
    Crc8Table table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned v = i;
        for (int bit = 0; bit < 8; ++bit) {
            v = (v & 0x80) != 0 ? (v << 1) ^ 0x107 : v << 1;
        }
        table.entry[i] = static_cast<uint8_t>(v);
    }
    return table;
}

constexpr Crc8Table kCrc8 = make_crc8_table();
constexpr uint8_t kCrc8Initial = 0xA5;

// Starts a request of the signature-prefixed group.
template <size_t N> hvl::ByteWriter signed_request(uint8_t (&buffer)[N]) {
    hvl::ByteWriter out(buffer, N);
    const AccessSignature signature = access_signature();
    out.bytes(signature.data(), signature.size());
    return out;
}

// Starts a request of the code-prefixed group; -1 for a board without a code.
int coded_request(IpmiIntf *intf, hvl::ByteWriter &out) {
    uint8_t code[OSTREL_ACCESS_CODE_SIZE];
    if (ipmi_ostrel_access_code_get(intf, code) != 0) {
        return kFailed;
    }
    out.bytes(code);
    return 0;
}

// How the parameter requests judge their answer: 0, -1 or the completion code.
int params_outcome(int rc, const IpmiResponse &response, const char *function) {
    if (rc != 0) {
        HVL_LOGF_AS(function, TRACE, "no response\n");
        return kFailed;
    }
    if (response.ccode != kCcSuccess) {
        HVL_LOGF_AS(function, TRACE, "CC code 0x%02x\n", static_cast<unsigned>(response.ccode));
        return response.ccode;
    }
    return 0;
}

} // namespace

extern "C" {

uint8_t ostrel_crc8(const uint8_t *data, size_t length) {
    uint8_t crc = kCrc8Initial;
    for (size_t i = 0; i < length; ++i) {
        crc = kCrc8.entry[crc ^ data[i]];
    }
    return crc;
}

int ipmi_device_id_get(IpmiIntf *intf, IpmiResponse *response) {
    const hvl::ByteWriter none(nullptr, 0);
    const int rc = send_request(intf, kNetFnApp, 0, kCmdGetDeviceId, none, response);
    if (rc != 0) {
        return rc;
    }
    return response->ccode;
}

int ipmi_ostrel_product_id_get(IpmiIntf *intf, uint16_t *product_id) {
    IpmiResponse response{};
    const int rc = ipmi_device_id_get(intf, &response);
    if (rc != 0) {
        return rc;
    }
    hvl::ByteReader in = unchecked_data(response);
    in.skip(kProductIdOffset);
    *product_id = in.u16();
    return 0;
}

int ipmi_ostrel_access_code_get(IpmiIntf *intf, uint8_t code[OSTREL_ACCESS_CODE_SIZE]) {
    uint16_t product_id = 0;
    if (ipmi_ostrel_product_id_get(intf, &product_id) != 0) {
        return kFailed;
    }
    const std::optional<AccessCode> found = access_code(product_id);
    if (!found) {
        std::memset(code, 0, OSTREL_ACCESS_CODE_SIZE);
        return kFailed;
    }
    hvl::ByteWriter out(code, OSTREL_ACCESS_CODE_SIZE);
    out.bytes(found->data(), found->size());
    return 0;
}

int ipmi_ostrel_cpldreg_read(IpmiIntf *intf, uint32_t offset, uint8_t *value) {
    uint8_t data[kSignatureSize + 2] = {};
    hvl::ByteWriter out = signed_request(data);
    out.u8(static_cast<uint8_t>(offset)).u8(kCpldRegRead);
    IpmiResponse response{};
    if (!succeeded(send_request(intf, kNetFnSigned, kOemLun, kCmdCpldReg, out, &response),
                   response)) {
        return kFailed;
    }
    hvl::ByteReader in = answer_data(response);
    const uint8_t read = in.u8();
    if (!in.finished()) {
        return kFailed;
    }
    *value = read;
    return 0;
}

int ipmi_ostrel_cpldreg_write(IpmiIntf *intf, uint32_t offset, uint32_t value) {
    uint8_t data[kSignatureSize + 4] = {};
    hvl::ByteWriter out = signed_request(data);
    out.u8(static_cast<uint8_t>(offset)).u8(kCpldRegWrite);
    out.u8(static_cast<uint8_t>(value)).u8(kCpldRegWriteEnd);
    IpmiResponse response{};
    const int rc = send_request(intf, kNetFnSigned, kOemLun, kCmdCpldReg, out, &response);
    return succeeded(rc, response) ? 0 : kFailed;
}

int ipmi_ostrel_eng_record_get(IpmiIntf *intf, EngRecord *record) {
    uint8_t data[OSTREL_ACCESS_CODE_SIZE] = {};
    hvl::ByteWriter out(data, sizeof data);
    if (coded_request(intf, out) != 0) {
        return kFailed;
    }
    IpmiResponse response{};
    if (!succeeded(send_request(intf, kNetFnCoded, kOemLun, kCmdEngRecordGet, out, &response),
                   response)) {
        return kFailed;
    }
    hvl::ByteReader in = answer_data(response);
    EngRecord read{};
    get_eng_record(in, read);
    if (!in.finished()) {
        return kFailed;
    }
    *record = read;
    return 0;
}

int ipmi_ostrel_eng_record_set(IpmiIntf *intf, const EngRecord *record) {
    uint8_t data[OSTREL_ACCESS_CODE_SIZE + OSTREL_ENG_RECORD_SIZE] = {};
    hvl::ByteWriter out(data, sizeof data);
    if (coded_request(intf, out) != 0) {
        return kFailed;
    }
    put_eng_record(out, *record);
    IpmiResponse response{};
    const int rc = send_request(intf, kNetFnCoded, kOemLun, kCmdEngRecordSet, out, &response);
    return succeeded(rc, response) ? 0 : kFailed;
}

int ipmi_ostrel_param_get(IpmiIntf *intf, ControllerParams *params) {
    uint8_t data[kSignatureSize + 3] = {};
    hvl::ByteWriter out = signed_request(data);
    out.u8(kParamsQuery).u8(0).u8(0);
    IpmiResponse response{};
    const int rc = send_request(intf, kNetFnSigned, kOemLun, kCmdParams, out, &response);
    const int outcome = params_outcome(rc, response, __func__);
    if (outcome != 0) {
        return outcome;
    }
    hvl::ByteReader in = unchecked_data(response);
    in.skip(1);
    const uint8_t modes = in.u8();
    params->pm_mode = (modes & kParamsPmBit) != 0 ? 1 : 0;
    params->ipmb_mode = (modes & kParamsIpmbBit) != 0 ? 1 : 0;
    params->extra = in.u8();
    return 0;
}

int ipmi_ostrel_param_set(IpmiIntf *intf, const ControllerParams *params) {
    uint16_t product_id = 0;
    if (ipmi_ostrel_product_id_get(intf, &product_id) != 0) {
        return kFailed;
    }
    uint8_t modes = (params->pm_mode & 1) != 0 ? kParamsPmBit : 0;
    if (product_id == kIpmbModeProduct && (params->ipmb_mode & 1) != 0) {
        modes |= kParamsIpmbBit;
    }
    uint8_t data[kSignatureSize + 3] = {};
    hvl::ByteWriter out = signed_request(data);
    out.u8(kParamsStore).u8(modes).u8(params->extra);
    IpmiResponse response{};
    const int rc = send_request(intf, kNetFnSigned, kOemLun, kCmdParams, out, &response);
    return params_outcome(rc, response, __func__);
}

} // extern "C"
