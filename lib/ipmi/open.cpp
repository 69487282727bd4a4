// The OpenIPMI device transport: one request through IPMICTL_SEND_COMMAND,
// then the next message the driver delivers is taken as its answer.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <linux/ipmi.h>
#include <sys/ioctl.h>
#include <sys/select.h>

#include "common/byte_io.h"
#include "hvl/hvl_ipmi_interface.h"
#include "ipmi/ipmi_codes.h"
#include "ipmi/ipmi_request.h"
#include "log/log_site.h"
#include "sys/sys_ops.h"

#if defined(__powerpc__) && !defined(__powerpc64__)
static_assert(IPMICTL_SEND_COMMAND == 0x4014690D, "driver request numbers of the board");
static_assert(IPMICTL_RECEIVE_MSG_TRUNC == 0xC018690B, "driver request numbers of the board");
static_assert(IPMICTL_SET_MY_ADDRESS_CMD == 0x40046911, "driver request numbers of the board");
#endif
static_assert(sizeof(ipmi_system_interface_addr) == 8 && sizeof(ipmi_ipmb_addr) == 8,
              "the driver is given 8-byte addresses");
static_assert(sizeof(ipmi_addr) == 40, "received addresses land in a 40-byte buffer");

namespace {

using hvl::ipmi::kCcSuccess;
using hvl::ipmi::kNoAddress;

// Where PICMG Get Address Info, asked once at open, answers the IPMB-0 address.
constexpr size_t kIpmb0AddressOffset = 2;

// Completion codes with which an IPMC declines the address query.
constexpr uint8_t kCcNoAddress[] = {
    0xC1, // invalid command
    0xD3, // destination unavailable
    0xD5, // not supported in present state
};

// Results of this transport.
constexpr int kNotOpen = 19;     // ENODEV
constexpr int kBadArgument = 22; // EINVAL
constexpr int kNoMessage = 74;   // no answer arrived

// Each request takes the next number, across all interfaces of the process.
long next_msgid = 0; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

// Writes `text` into a fixed field, cut to fit.
template <size_t N> void set_text(char (&field)[N], const char *text) {
    static_cast<void>(snprintf(field, N, "%s", text));
}

bool declines_address(uint8_t ccode) {
    return std::find(std::begin(kCcNoAddress), std::end(kCcNoAddress), ccode) !=
           std::end(kCcNoAddress);
}

int open_failed(IpmiIntf *intf, int rc) {
    intf->opened = 0;
    hvl::sys::ops().close(intf->fd);
    intf->fd = -1;
    return rc;
}

// The two kinds of address; the request points at the one in use.
struct DriverAddress {
    ipmi_system_interface_addr system{};
    ipmi_ipmb_addr ipmb{};
};

ipmi_req build_request(const IpmiIntf *intf, const IpmiRequest *request, DriverAddress &address) {
    ipmi_req req{};
    const auto lun = static_cast<unsigned char>(request->lun & 0x03);
    if (intf->target_addr != 0 && intf->target_addr != intf->my_addr) {
        address.ipmb.addr_type = IPMI_IPMB_ADDR_TYPE;
        address.ipmb.channel = static_cast<short>(intf->target_channel & 0x0f);
        address.ipmb.slave_addr = static_cast<unsigned char>(intf->target_addr);
        address.ipmb.lun = lun;
        req.addr = reinterpret_cast<unsigned char *>(&address.ipmb);
        req.addr_len = sizeof address.ipmb;
    } else {
        address.system.addr_type = IPMI_SYSTEM_INTERFACE_ADDR_TYPE;
        address.system.channel = IPMI_BMC_CHANNEL;
        address.system.lun = lun;
        req.addr = reinterpret_cast<unsigned char *>(&address.system);
        req.addr_len = sizeof address.system;
    }
    req.msgid = next_msgid++;
    req.msg.netfn = static_cast<unsigned char>(request->netfn & 0x3f);
    req.msg.cmd = request->cmd;
    req.msg.data_len = request->data_len;
    // The driver only reads the request data.
    req.msg.data = const_cast<unsigned char *>(request->data);
    return req;
}

// Blocks until the descriptor has something to read: 0, -1 or 74.
int wait_readable(int fd) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    if (hvl::sys::ops().select(fd + 1, &readable, nullptr, nullptr, nullptr) == -1) {
        const int error = errno;
        HVL_LOGF_AS("ipmi_openipmi_send_cmd", MINOR, "select failed: %s (%d)", strerror(error),
                    error);
        return -1;
    }
    return FD_ISSET(fd, &readable) ? 0 : kNoMessage;
}

void log_received(const ipmi_recv &recv, const ipmi_addr &from, const uint8_t *data, int length) {
    const char *function = "ipmi_openipmi_send_cmd";
    HVL_LOGF_AS(function, DEBUG, "Got message:");
    HVL_LOGF_AS(function, DEBUG, "  type      = %d\n", recv.recv_type);
    HVL_LOGF_AS(function, DEBUG, "  channel   = 0x%x\n", static_cast<unsigned>(from.channel));
    HVL_LOGF_AS(function, DEBUG, "  msgid     = %ld\n", recv.msgid);
    HVL_LOGF_AS(function, DEBUG, "  netfn     = 0x%x\n", static_cast<unsigned>(recv.msg.netfn));
    HVL_LOGF_AS(function, DEBUG, "  cmd       = 0x%x\n", static_cast<unsigned>(recv.msg.cmd));
    if (length > 0) {
        HVL_LOGF_AS(function, DEBUG, "  data_len  = %d\n", length);
        HVL_LOGF_AS(function, DEBUG, "  data      = %s\n", ipmi_hex_string(data, length));
    }
}

// Splits the completion code off the `length` bytes received into the
// response's data. After success the data are moved down to start with the
// first byte after the code; after an error code they stay as received.
int unpack_answer(IpmiResponse *response, size_t length) {
    hvl::ByteReader answer(response->data, length);
    const uint8_t ccode = answer.u8();
    if (!answer.ok()) {
        HVL_LOGF_AS("ipmi_openipmi_send_cmd", MINOR, "Got message without completion code");
        return kNoMessage;
    }
    response->ccode = ccode;
    response->data_len = static_cast<int32_t>(answer.remaining());
    if (ccode == kCcSuccess && answer.remaining() > 0) {
        answer.bytes(response->data, answer.remaining());
        response->data[response->data_len] = 0;
    }
    return 0;
}

// Takes the next message into the response: 0, 22 or 74.
int receive_answer(int fd, IpmiResponse *response) {
    ipmi_addr from{};
    ipmi_recv recv{};
    recv.addr = reinterpret_cast<unsigned char *>(&from);
    recv.addr_len = sizeof from;
    recv.msg.data = response->data;
    recv.msg.data_len = sizeof response->data;
    // A message longer than the buffer arrives cut, with EMSGSIZE; it is still the answer.
    if (hvl::sys::ops().ioctl(fd, IPMICTL_RECEIVE_MSG_TRUNC, &recv) != 0 && errno != EMSGSIZE) {
        return kBadArgument;
    }
    const size_t length = std::min<size_t>(recv.msg.data_len, sizeof response->data);
    log_received(recv, from, response->data, static_cast<int>(length));
    return unpack_answer(response, length);
}

} // namespace

extern "C" {

IpmiIntf *ipmi_openipmi_create(void) {
    auto *intf = static_cast<IpmiIntf *>(std::calloc(1, sizeof(IpmiIntf)));
    if (intf == nullptr) {
        return nullptr;
    }
    set_text(intf->name, "open");
    set_text(intf->desc, "Linux OpenIPMI interface");
    intf->open = ipmi_openipmi_open;
    intf->close = ipmi_openipmi_close;
    intf->send = ipmi_openipmi_send_cmd;
    intf->target_addr = 0;
    intf->fd = -1;
    intf->opened = 0;
    intf->target_channel = 0;
    return intf;
}

int ipmi_intf_free(IpmiIntf *intf) {
    if (intf != nullptr && intf->fd != -1) {
        hvl::sys::ops().close(intf->fd);
    }
    std::free(intf);
    return 0;
}

int ipmi_openipmi_open(IpmiIntf *intf) {
    if (intf == nullptr) {
        return kBadArgument;
    }
    if (intf->fd != -1) {
        HVL_LOGF(TRACE, "Interface already opened");
        return kBadArgument;
    }
    intf->fd = hvl::sys::ops().open(IPMI_OPENIPMI_DEVICE, O_RDWR);
    if (intf->fd < 0) {
        intf->fd = -1;
        return kNotOpen;
    }
    HVL_LOGF(TRACE, "Opened %s as FD %d", IPMI_OPENIPMI_DEVICE, static_cast<int>(intf->fd));
    intf->opened = 1;
    const int rc = ipmi_adjust_addr(intf);
    if (rc != 0 && rc != kNoAddress) {
        return open_failed(intf, rc);
    }
    return 0;
}

void ipmi_openipmi_close(IpmiIntf *intf) {
    if (intf == nullptr) {
        return;
    }
    if (intf->fd != -1) {
        HVL_LOGF(DEBUG, "Closing FD %d", static_cast<int>(intf->fd));
        hvl::sys::ops().close(intf->fd);
        intf->fd = -1;
    }
    intf->opened = 0;
}

int ipmi_adjust_addr(IpmiIntf *intf) {
    if (intf == nullptr) {
        return kBadArgument;
    }
    uint8_t data[1];
    hvl::ByteWriter out(data, sizeof data);
    out.u8(hvl::ipmi::kPicmgIdentifier);
    IpmiResponse response{};
    const int rc = hvl::ipmi::send_request(intf, hvl::ipmi::kNetFnPicmg, 0,
                                           hvl::ipmi::kCmdGetAddressInfo, out, &response);
    if (rc != 0) {
        HVL_LOGF(MINOR, "Cannot communicate with IPMC, return code %d", rc);
        return rc;
    }
    if (declines_address(response.ccode)) {
        HVL_LOGF(TRACE, "IPMC has not a valid address");
        return kNoAddress;
    }
    if (response.ccode != kCcSuccess) {
        HVL_LOGF(MINOR, "cannot readjust ipmb address %s: %d", IPMI_OPENIPMI_DEVICE,
                 static_cast<int>(response.ccode));
        return kNoMessage;
    }
    hvl::ByteReader answer(response.data, static_cast<size_t>(response.data_len));
    answer.skip(kIpmb0AddressOffset);
    const uint8_t ipmb0 = answer.u8();
    if (!answer.ok()) {
        HVL_LOGF(MINOR, "IPMC address answer too short: %d bytes",
                 static_cast<int>(response.data_len));
        return kNoMessage;
    }
    intf->my_addr = ipmb0;
    unsigned int my_addr = ipmb0;
    const int set = hvl::sys::ops().ioctl(intf->fd, IPMICTL_SET_MY_ADDRESS_CMD, &my_addr);
    if (set != 0) {
        HVL_LOGF(MINOR, "cannot readjust ipmb address %s", IPMI_OPENIPMI_DEVICE);
    }
    return set;
}

int ipmi_openipmi_send_cmd(IpmiIntf *intf, const IpmiRequest *request, IpmiResponse *response) {
    if (intf == nullptr || request == nullptr || response == nullptr) {
        HVL_LOGF(MINOR, "Parameters not initialized");
        return kBadArgument;
    }
    if (intf->opened == 0 || intf->fd == -1) {
        HVL_LOGF(MINOR, "Device not initialized");
        return kNotOpen;
    }
    DriverAddress address;
    ipmi_req req = build_request(intf, request, address);
    const int sent = hvl::sys::ops().ioctl(intf->fd, IPMICTL_SEND_COMMAND, &req);
    if (sent != 0) {
        const int error = errno;
        HVL_LOGF(MINOR, "IOCTL failed: %s (%d)", strerror(error), error);
        return sent;
    }
    const int ready = wait_readable(intf->fd);
    if (ready != 0) {
        return ready;
    }
    return receive_answer(intf->fd, response);
}

} // extern "C"
