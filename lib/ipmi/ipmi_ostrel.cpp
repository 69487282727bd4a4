// One function per OEM request of the IPMC: it frames the request, sends it
// through the interface and checks the answer. The interface is not null here;
// the public functions check it.
#include <cstring>

#include "common/byte_io.h"
#include "hvl/hvl_ipmi_ostrel.h"
#include "ipmi/ipmi_codes.h"
#include "ipmi/ipmi_request.h"
#include "ipmi/ostrel_config.h"
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

void put_signature(hvl::ByteWriter &out) {
    const AccessSignature signature = access_signature();
    out.bytes(signature.data(), signature.size());
}

// Starts a request of the signature-prefixed group.
template <size_t N> hvl::ByteWriter signed_request(uint8_t (&buffer)[N]) {
    hvl::ByteWriter out(buffer, N);
    put_signature(out);
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

// How the parameter requests and the logged configuration requests judge
// their answer: 0, -1 or the completion code.
int logged_outcome(int rc, const IpmiResponse &response, const char *function) {
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

// ---- The configuration family ----

constexpr uint8_t kCcRefused = 0xD5; // the storage switch will not change now
constexpr int kRefused = -2;
constexpr int kNotOpen = 19;
constexpr int kTransferFailed = 74;
constexpr int kXfpLastPort = 1;
constexpr int kXfpEnd = 255; // a chunk ends at most here: byte 255 is not read

// How a member reports a failure.
enum class Style : uint8_t {
    Plain,     // -1
    Refusable, // -1, but kCcRefused gives kRefused
    Logged,    // as logged_outcome: "no response" -1, or the completion code logged and returned
};

// How the length of an answer is judged against the bytes its yield takes.
enum class Length : uint8_t {
    Any,         // bytes not sent read as 0
    Exact,       // any other length fails
    ExactOrNone, // any other length is taken as an empty answer, and succeeds
};

// What an answer yields: `take` reads it into the outputs (`args` are the
// request's bytes after its prefix); `size` is what an exact answer has.
struct Yield {
    void (*take)(hvl::ByteReader &in, const uint8_t *args, const Outputs &out);
    size_t size;
};

void take_byte(hvl::ByteReader &in, const uint8_t * /*args*/, const Outputs &out) {
    *out.values[0] = in.u8();
}

void take_pair(hvl::ByteReader &in, const uint8_t * /*args*/, const Outputs &out) {
    *out.values[0] = in.u8();
    *out.values[1] = in.u8();
}

// The mode of the switch the request's first byte chose.
void take_storage_mode(hvl::ByteReader &in, const uint8_t *args, const Outputs &out) {
    const uint8_t state = in.u8();
    *out.values[0] = state == 0 ? kIdleMode : args[0] == 0 ? 1 : 2;
}

void take_boot_cycle(hvl::ByteReader &in, const uint8_t * /*args*/, const Outputs &out) {
    *out.values[0] = in.u8();
    *out.values[1] = in.u16();
    *out.values[2] = in.u8();
}

// As many bytes as the request's third argument asked for.
void take_chunk(hvl::ByteReader &in, const uint8_t *args, const Outputs &out) {
    in.skip(kChunkAnswerSkip);
    in.bytes(out.bytes, args[2]);
}

// Each text up to its terminator, at most the field's size (the record is zeroed).
void take_release(hvl::ByteReader &in, const uint8_t * /*args*/, const Outputs &out) {
    for (size_t i = 0; i < std::size(kReleaseTextAt); ++i) {
        hvl::ByteReader text = in;
        text.skip(kReleaseTextAt[i]);
        char *field = out.release->text[i];
        for (size_t n = 0; n < OSTREL_RELEASE_TEXT_SIZE && text.remaining() > 0; ++n) {
            field[n] = static_cast<char>(text.u8());
            if (field[n] == '\0') {
                break;
            }
        }
    }
}

constexpr Yield kNothing{nullptr, 0};
constexpr Yield kByte{take_byte, 1};
constexpr Yield kPair{take_pair, 2};
constexpr Yield kStorageMode{take_storage_mode, 1};
constexpr Yield kBootCycle{take_boot_cycle, 4};
constexpr Yield kChunkBytes{take_chunk, 0};
constexpr Yield kReleaseTexts{take_release, 0};

struct Member {
    Config id;
    uint8_t netfn; // kNetFnCoded: the access code first; kNetFnSigned: the signature
    uint8_t cmd;
    Style style;
    Length length;
    bool yields_on_failure; // a failure yields what an empty answer does
    const char *name;       // of the low-level request, under which the logged style logs
    Yield yield;
    const char *no_code; // logged when the board has no access code
};

constexpr bool kYieldsZero = true;
constexpr auto kCoded = kNetFnCoded;
constexpr auto kPlain = Style::Plain;
constexpr auto kLogged = Style::Logged;
constexpr auto kAny = Length::Any;

// Each member: its command, how a failure comes out, how the answer's length
// is judged and whether a failure still yields, the low-level request's
// name, what the answer yields and what is logged without an access code.
constexpr Member kMembers[] = {
    {Config::StorageSwSet, kCoded, kCmdStorageSwSet, Style::Refusable, kAny, false,
     "ipmi_ostrel_storage_sw_set", kNothing, nullptr},
    {Config::StorageSwGet, kCoded, kCmdStorageSwGet, kPlain, Length::ExactOrNone, kYieldsZero,
     "ipmi_ostrel_storage_sw_get", kStorageMode, nullptr},
    {Config::PciePortConfSet, kCoded, kCmdPciePortConfSet, kPlain, kAny, false,
     "ipmi_ostrel_pcie_portconf_set", kNothing, nullptr},
    {Config::PciePortConfGet, kCoded, kCmdPciePortConfGet, kPlain, Length::ExactOrNone, kYieldsZero,
     "ipmi_ostrel_pcie_portconf_get", kPair, nullptr},
    {Config::PcieModeSet, kCoded, kCmdPcieModeSet, kPlain, kAny, false, "ipmi_ostrel_pcie_mode_set",
     kNothing, nullptr},
    {Config::PcieModeGet, kCoded, kCmdPcieModeGet, kPlain, Length::Exact, kYieldsZero,
     "ipmi_ostrel_pcie_mode_get", kByte, nullptr},
    {Config::PcieHotplugSet, kCoded, kCmdPcieHotplugSet, kPlain, kAny, false,
     "ipmi_ostrel_pcie_hotplug_set", kNothing, nullptr},
    {Config::PcieHotplugGet, kCoded, kCmdPcieHotplugGet, kPlain, kAny, kYieldsZero,
     "ipmi_ostrel_pcie_hotplug_get", kByte, nullptr},
    {Config::PcieClockSet, kCoded, kCmdPcieClockSet, kPlain, kAny, false,
     "ipmi_ostrel_pcie_clock_set", kNothing, nullptr},
    {Config::PcieClockGet, kCoded, kCmdPcieClockGet, kPlain, Length::ExactOrNone, kYieldsZero,
     "ipmi_ostrel_pcie_clock_get", kByte, nullptr},
    {Config::BootCycleGet, kCoded, kCmdBootCycleGet, kPlain, kAny, false,
     "ipmi_ostrel_bootcycle_get", kBootCycle, nullptr},
    {Config::BootCycleSet, kCoded, kCmdBootCycleSet, kPlain, kAny, false,
     "ipmi_ostrel_bootcycle_set", kNothing, nullptr},
    {Config::ClockSourceSet, kCoded, kCmdClockSourceSet, kLogged, kAny, false,
     "ipmi_ostrel_clock_source_set", kNothing, nullptr},
    {Config::ClockSourceGet, kCoded, kCmdClockSourceGet, kLogged, kAny, false,
     "ipmi_ostrel_clock_source_get", kByte, nullptr},
    {Config::ClockDriverSet, kCoded, kCmdClockDriverSet, kLogged, kAny, false,
     "ipmi_ostrel_clock_driver_set", kNothing, nullptr},
    {Config::ClockDriverGet, kCoded, kCmdClockDriverGet, kLogged, kAny, false,
     "ipmi_ostrel_clock_driver_get", kByte, nullptr},
    {Config::PllConfigSet, kCoded, kCmdPllConfigSet, kLogged, kAny, false,
     "ipmi_ostrel_pll_config_set", kNothing, nullptr},
    {Config::PllConfigGet, kCoded, kCmdPllConfigGet, kLogged, kAny, false,
     "ipmi_ostrel_pll_config_get", kByte, nullptr},
    {Config::PllStatusGet, kCoded, kCmdPllStatusGet, kLogged, kAny, false,
     "ipmi_ostrel_pll_status_get", kByte, nullptr},
    {Config::XfpRead, kCoded, kCmdXfpRead, kLogged, kAny, false, "ipmi_ostrel_xfp_read",
     kChunkBytes, "invalid board type"},
    {Config::Debug, kCoded, kCmdDebug, kPlain, kAny, false, "ipmi_ostrel_debug_set", kNothing,
     nullptr},
    {Config::Release, kCoded, kCmdRelease, kPlain, kAny, false, "ipmi_ostrel_release_get",
     kReleaseTexts, nullptr},
    {Config::DeviceIdString, kNetFnSigned, kCmdDeviceIdString, kPlain, kAny, false,
     "ipmi_ostrel_device_id_string_set", kNothing, nullptr},
};

// The table is looked up by position.
constexpr bool members_in_order() {
    for (size_t i = 0; i < std::size(kMembers); ++i) {
        if (static_cast<size_t>(kMembers[i].id) != i) {
            return false;
        }
    }
    return true;
}
static_assert(members_in_order());

// The longest request: the signature, manufacturer and product ID and 16 characters.
constexpr size_t kLongestConfigRequest = 32;

// Starts the request with the member's prefix: false for a board without an
// access code, which the member may log.
bool prefixed(IpmiIntf *intf, const Member &member, hvl::ByteWriter &request) {
    if (member.netfn == kNetFnSigned) {
        put_signature(request);
        return true;
    }
    if (coded_request(intf, request) == 0) {
        return true;
    }
    if (member.no_code != nullptr) {
        HVL_LOGF_AS(member.name, TRACE, "%s", member.no_code);
    }
    return false;
}

// The result of a member's request by its style; the answer was not looked at yet.
int outcome(const Member &member, int rc, const IpmiResponse &response) {
    if (member.style == Style::Logged) {
        return logged_outcome(rc, response, member.name);
    }
    if (succeeded(rc, response)) {
        return 0;
    }
    const bool refused = rc == 0 && response.ccode == kCcRefused;
    return member.style == Style::Refusable && refused ? kRefused : kFailed;
}

} // namespace

namespace hvl::ostrel {

int config_request(IpmiIntf *intf, Config id, const ByteWriter &args, const Outputs &out) {
    const Member &member = kMembers[static_cast<size_t>(id)];
    uint8_t data[kLongestConfigRequest] = {};
    ByteWriter request(data, sizeof data);
    IpmiResponse response{};
    int result = kFailed;
    if (prefixed(intf, member, request)) {
        request.bytes(args.data(), args.length());
        const int rc = send_request(intf, member.netfn, kOemLun, member.cmd, request, &response);
        result = outcome(member, rc, response);
    }
    const bool exact = response.data_len == static_cast<int32_t>(member.yield.size);
    if (result == 0 && member.length == Length::Exact && !exact) {
        result = kFailed;
    }
    if (member.yield.take == nullptr || (result != 0 && !member.yields_on_failure)) {
        return result;
    }
    if (result != 0 || (member.length != Length::Any && !exact)) {
        response = IpmiResponse{};
    }
    ByteReader in = unchecked_data(response);
    member.yield.take(in, args.data(), out);
    return result;
}

int config_request(IpmiIntf *intf, Config id, std::initializer_list<int> args, const Outputs &out) {
    uint8_t bytes[4] = {};
    ByteWriter written(bytes, sizeof bytes);
    for (const int arg : args) {
        written.u8(static_cast<uint8_t>(arg));
    }
    return config_request(intf, id, written, out);
}

} // namespace hvl::ostrel

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
    const int outcome = logged_outcome(rc, response, __func__);
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
    return logged_outcome(rc, response, __func__);
}

int ipmi_ostrel_clock_source_set(IpmiIntf *intf, int clock, int source) {
    return config_request(intf, Config::ClockSourceSet, {clock, source});
}

int ipmi_ostrel_clock_source_get(IpmiIntf *intf, int clock, int *source) {
    return config_request(intf, Config::ClockSourceGet, {clock}, {{source}});
}

int ipmi_ostrel_clock_driver_set(IpmiIntf *intf, int clock, int enable) {
    return config_request(intf, Config::ClockDriverSet, {clock, enable & 1});
}

int ipmi_ostrel_clock_driver_get(IpmiIntf *intf, int clock, int *enable) {
    return config_request(intf, Config::ClockDriverGet, {clock}, {{enable}});
}

int ipmi_ostrel_pll_config_set(IpmiIntf *intf, int pll, int config) {
    return config_request(intf, Config::PllConfigSet, {pll, config});
}

int ipmi_ostrel_pll_config_get(IpmiIntf *intf, int pll, int *config) {
    return config_request(intf, Config::PllConfigGet, {pll}, {{config}});
}

int ipmi_ostrel_pll_status_get(IpmiIntf *intf, int *status) {
    return config_request(intf, Config::PllStatusGet, {}, {{status}});
}

// Signed comparisons: a negative port or offset passes and is sent as its low
// byte; a negative length does not.
int ipmi_ostrel_xfp_read(IpmiIntf *intf, int port, int offset, int length, uint8_t *buffer) {
    const bool in_range = length >= 0 && length <= kChunk && port <= kXfpLastPort &&
                          int64_t{offset} + length <= kXfpEnd;
    if (!in_range) {
        return kOutOfRange;
    }
    return config_request(intf, Config::XfpRead, {port, offset, length}, {{}, buffer});
}

int ipmi_ostrel_block_read(IpmiIntf *intf, int address, int length, uint8_t *buffer) {
    if (intf == nullptr) {
        return kNotOpen;
    }
    if (buffer == nullptr || length < 0) {
        return kOutOfRange;
    }
    return in_pieces(length, [&](int done, int size) {
        uint8_t data[3] = {};
        hvl::ByteWriter request(data, sizeof data);
        request.u16(static_cast<uint16_t>(static_cast<unsigned>(address) + done));
        request.u8(static_cast<uint8_t>(size));
        IpmiResponse response{};
        const int rc = send_request(intf, kNetFnCoded, kOemLun, kCmdBlockRead, request, &response);
        if (!succeeded(rc, response)) {
            return kTransferFailed;
        }
        hvl::ByteReader in = unchecked_data(response);
        in.skip(kChunkAnswerSkip);
        in.bytes(buffer + done, static_cast<size_t>(size));
        return 0;
    });
}

int ipmi_ostrel_block_write(IpmiIntf *intf, int address, int length, const uint8_t *buffer) {
    if (intf == nullptr) {
        return kNotOpen;
    }
    if (buffer == nullptr || length < 0) {
        return kOutOfRange;
    }
    return in_pieces(length, [&](int done, int size) {
        uint8_t data[2 + kChunk] = {};
        hvl::ByteWriter request(data, sizeof data);
        request.u16(static_cast<uint16_t>(static_cast<unsigned>(address) + done));
        request.bytes(buffer + done, static_cast<size_t>(size));
        IpmiResponse response{};
        const int rc = send_request(intf, kNetFnCoded, kOemLun, kCmdBlockWrite, request, &response);
        return succeeded(rc, response) ? 0 : kTransferFailed;
    });
}

} // extern "C"
