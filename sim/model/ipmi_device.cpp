#include "ipmi_device.h"

#include "trace.h"

#include <linux/ipmi.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace sim {
namespace {

// The records cross the kernel boundary: their layout is the driver's, on
// the 32-bit board (pointers and long of 4 bytes) and on a 64-bit host alike.
constexpr bool kNarrow = sizeof(void *) == 4;
static_assert(sizeof(ipmi_req) == (kNarrow ? 20 : 40));
static_assert(sizeof(ipmi_recv) == (kNarrow ? 24 : 48));
static_assert(sizeof(ipmi_system_interface_addr) == 8 && sizeof(ipmi_ipmb_addr) == 8);
static_assert(sizeof(ipmi_addr) == 40);

// What the driver assumes before it is told otherwise.
constexpr std::uint8_t kDefaultAddress = 0x20;
constexpr std::uint8_t kDefaultLun = 2;
constexpr unsigned kLunMask = 0x03;

// A message must fit the driver's buffer with its header: two bytes through
// the system interface, ten over IPMB.
constexpr std::size_t kSystemHeader = 2;
constexpr std::size_t kIpmbHeader = 10;

// Requests the driver keeps to itself on the system interface.
constexpr std::uint8_t kNetFnAppRequest = 0x06;
constexpr std::uint8_t kDriverCommands[] = {
    0x33, // Get Message
    0x34, // Send Message
    0x35, // Read Event Message Buffer
};

struct Call {
    IpmiInterface &intf;
    IpmiUser &user;
    void *arg;
    bool traced;      // the trace is kept: the records are described
    std::string sent; // the record as sent, for the trace
    std::string got;  // the record as the driver left it
};

std::string hex8(unsigned value) {
    char text[8];
    (void)std::snprintf(text, sizeof text, "0x%02x", value & 0xFFu);
    return text;
}

std::string address_text(const IpmiAddress &addr) {
    if (addr.type == IPMI_SYSTEM_INTERFACE_ADDR_TYPE) {
        return "si";
    }
    if (addr.type == IPMI_IPMB_ADDR_TYPE) {
        return "ipmb:" + std::to_string(addr.channel) + ":" + hex8(addr.slave_address);
    }
    return "type" + hex8(static_cast<unsigned>(addr.type));
}

// An answer in the trace: completion code and data, or that it was empty.
std::string answer_text(const std::vector<std::uint8_t> &answer) {
    if (answer.empty()) {
        return "answer=empty";
    }
    return "ccode=" + hex8(answer[0]) +
           " data=" + trace_bytes(answer.data() + 1, answer.size() - 1);
}

// Readiness follows the queue: the descriptor is an eventfd whose count is
// non-zero while a message waits.
void push(IpmiUser &user, IpmiReceived message) {
    if (user.queue.empty()) {
        (void)::eventfd_write(user.fd, 1);
    }
    user.queue.push_back(std::move(message));
}

void pop(IpmiUser &user) {
    user.queue.pop_front();
    if (user.queue.empty()) {
        eventfd_t count = 0;
        (void)::eventfd_read(user.fd, &count);
    }
}

// The caller's address bytes, read as the driver reads them: -errno for
// one it refuses.
int read_address(const ipmi_req &req, IpmiAddress &addr) {
    if (req.addr_len > sizeof(ipmi_addr)) {
        return -EINVAL;
    }
    if (req.addr == nullptr && req.addr_len > 0) {
        return -EFAULT;
    }
    if (req.addr_len < sizeof(ipmi_system_interface_addr)) {
        return -EINVAL;
    }
    ipmi_addr raw{};
    std::memcpy(&raw, req.addr, req.addr_len);
    addr.type = raw.addr_type;
    addr.channel = raw.channel;
    if (addr.type == IPMI_SYSTEM_INTERFACE_ADDR_TYPE) {
        ipmi_system_interface_addr si{};
        std::memcpy(&si, req.addr, sizeof si);
        addr.lun = si.lun;
        return 0;
    }
    if (addr.type == IPMI_IPMB_ADDR_TYPE) {
        ipmi_ipmb_addr ipmb{};
        std::memcpy(&ipmb, req.addr, sizeof ipmb);
        addr.slave_address = ipmb.slave_addr;
        addr.lun = ipmb.lun;
        return 0;
    }
    return -EINVAL;
}

// The driver's checks of where a message goes and how long it is.
int check_message(const IpmiAddress &addr, const IpmiRequestBytes &request) {
    if (addr.lun > kLunMask) {
        return -EINVAL;
    }
    if (addr.type == IPMI_SYSTEM_INTERFACE_ADDR_TYPE) {
        if (addr.channel != IPMI_BMC_CHANNEL) {
            return -EINVAL;
        }
        if (request.netfn == kNetFnAppRequest) {
            for (const std::uint8_t cmd : kDriverCommands) {
                if (request.cmd == cmd) {
                    return -EINVAL;
                }
            }
        }
        return request.length + kSystemHeader > IPMI_MAX_MSG_LENGTH ? -EMSGSIZE : 0;
    }
    if (addr.channel < 0 || addr.channel >= IPMI_BMC_CHANNEL) {
        return -EINVAL;
    }
    return request.length + kIpmbHeader > IPMI_MAX_MSG_LENGTH ? -EMSGSIZE : 0;
}

std::string request_text(const ipmi_req &req, const IpmiAddress &addr,
                         const IpmiRequestBytes &request) {
    return "msgid=" + std::to_string(req.msgid) + " addr=" + address_text(addr) +
           " lun=" + std::to_string(addr.lun) + " netfn=" + hex8(request.netfn) +
           " cmd=" + hex8(request.cmd) + " data=" + trace_bytes(request.data, request.length);
}

// What the message gets back: the IPMC's answer, or the driver's timeout for
// a controller that is not there.
std::vector<std::uint8_t> answer_for(Call &call, const IpmiAddress &to,
                                     const IpmiRequestBytes &request, const IpmiFault *fault) {
    const bool to_ipmc =
        to.type == IPMI_SYSTEM_INTERFACE_ADDR_TYPE || to.slave_address == call.intf.ipmc_address;
    std::vector<std::uint8_t> own =
        to_ipmc ? call.intf.ipmc.answer(request) : std::vector<std::uint8_t>{kCcTimeout};
    return faulty_answer(std::move(own), fault);
}

int send_command(Call &call) {
    ipmi_req req{};
    std::memcpy(&req, call.arg, sizeof req);
    IpmiAddress to;
    if (const int refused = read_address(req, to)) {
        return refused;
    }
    IpmiRequestBytes request;
    request.netfn = req.msg.netfn;
    request.lun = to.lun;
    request.cmd = req.msg.cmd;
    if (req.msg.data != nullptr) {
        if (req.msg.data_len > IPMI_MAX_MSG_LENGTH) {
            return -EMSGSIZE;
        }
        request.data = req.msg.data;
        request.length = req.msg.data_len;
    }
    if (call.traced) {
        call.sent = request_text(req, to, request);
    }
    if (const int refused = check_message(to, request)) {
        return refused;
    }
    const IpmiFault *fault =
        call.intf.faults.on_message(request.netfn, request.cmd, request.data, request.length);
    if (fault != nullptr && fault->effect == IpmiFaultEffect::Errno) {
        return -static_cast<int>(fault->value);
    }
    IpmiReceived answer;
    answer.recv_type = IPMI_RESPONSE_RECV_TYPE;
    answer.from = to;
    answer.msgid = req.msgid;
    answer.netfn = static_cast<std::uint8_t>(request.netfn | 1);
    answer.cmd = request.cmd;
    answer.data = answer_for(call, to, request, fault);
    if (call.traced) {
        call.got = answer_text(answer.data);
    }
    push(call.user, std::move(answer));
    return 0;
}

// The sender's address into the caller's buffer, as a record of the driver.
void write_address(const IpmiAddress &from, unsigned char *buffer) {
    if (from.type == IPMI_SYSTEM_INTERFACE_ADDR_TYPE) {
        ipmi_system_interface_addr si{};
        si.addr_type = from.type;
        si.channel = from.channel;
        si.lun = from.lun;
        std::memcpy(buffer, &si, sizeof si);
    } else {
        ipmi_ipmb_addr ipmb{};
        ipmb.addr_type = from.type;
        ipmb.channel = from.channel;
        ipmb.slave_addr = from.slave_address;
        ipmb.lun = from.lun;
        std::memcpy(buffer, &ipmb, sizeof ipmb);
    }
}

std::string received_text(const ipmi_recv &rsp, const IpmiReceived &message) {
    return "type=" + std::to_string(rsp.recv_type) + " addr=" + address_text(message.from) +
           " msgid=" + std::to_string(rsp.msgid) + " netfn=" + hex8(rsp.msg.netfn) +
           " cmd=" + hex8(rsp.msg.cmd) + " data_len=" + std::to_string(rsp.msg.data_len);
}

// Takes the first message: with a buffer too small for it, RECEIVE_MSG fails
// with EMSGSIZE and keeps it queued; RECEIVE_MSG_TRUNC hands over what fits,
// takes it off the queue and still fails with EMSGSIZE. Nothing queued: EAGAIN.
int receive(Call &call, bool truncate) {
    ipmi_recv rsp{};
    std::memcpy(&rsp, call.arg, sizeof rsp);
    if (call.traced) {
        call.sent = "addr_len=" + std::to_string(rsp.addr_len) +
                    " data_len=" + std::to_string(rsp.msg.data_len);
    }
    if (call.user.queue.empty()) {
        return -EAGAIN;
    }
    const IpmiReceived &message = call.user.queue.front();
    if (rsp.addr_len < sizeof(ipmi_system_interface_addr)) {
        return -EINVAL;
    }
    if (rsp.addr == nullptr) {
        return -EFAULT;
    }
    write_address(message.from, rsp.addr);
    rsp.addr_len = sizeof(ipmi_system_interface_addr);
    rsp.recv_type = message.recv_type;
    rsp.msgid = message.msgid;
    rsp.msg.netfn = message.netfn;
    rsp.msg.cmd = message.cmd;
    int result = 0;
    std::size_t length = message.data.size();
    if (length > rsp.msg.data_len) {
        if (!truncate) {
            return -EMSGSIZE;
        }
        result = -EMSGSIZE;
        length = rsp.msg.data_len;
    }
    if (length > 0 && rsp.msg.data == nullptr) {
        return -EFAULT;
    }
    if (length > 0) {
        std::memcpy(rsp.msg.data, message.data.data(), length);
    }
    rsp.msg.data_len = static_cast<unsigned short>(length);
    std::memcpy(call.arg, &rsp, sizeof rsp);
    if (call.traced) {
        call.got = received_text(rsp, message);
    }
    pop(call.user);
    return result;
}

int receive_msg(Call &call) { return receive(call, false); }
int receive_msg_trunc(Call &call) { return receive(call, true); }

unsigned read_value(const Call &call) {
    unsigned value = 0;
    std::memcpy(&value, call.arg, sizeof value);
    return value;
}

void write_value(Call &call, unsigned value) {
    std::memcpy(call.arg, &value, sizeof value);
    if (call.traced) {
        call.got = "value=" + hex8(value);
    }
}

int set_gets_events(Call &call) {
    int value = 0;
    std::memcpy(&value, call.arg, sizeof value);
    if (call.traced) {
        call.sent = "value=" + std::to_string(value);
    }
    call.user.gets_events = value != 0;
    return 0;
}

int set_my_address(Call &call) {
    const unsigned value = read_value(call);
    if (call.traced) {
        call.sent = "value=" + hex8(value);
    }
    call.intf.my_address = static_cast<std::uint8_t>(value);
    return 0;
}

int get_my_address(Call &call) {
    write_value(call, call.intf.my_address);
    return 0;
}

int set_my_lun(Call &call) {
    const unsigned value = read_value(call);
    if (call.traced) {
        call.sent = "value=" + hex8(value);
    }
    call.intf.my_lun = static_cast<std::uint8_t>(value & kLunMask);
    return 0;
}

int get_my_lun(Call &call) {
    write_value(call, call.intf.my_lun);
    return 0;
}

struct Request {
    unsigned long number;
    std::string_view name;
    int (*run)(Call &);
};

constexpr Request kRequests[] = {
    {IPMICTL_SEND_COMMAND, "SEND_COMMAND", send_command},
    {IPMICTL_RECEIVE_MSG, "RECEIVE_MSG", receive_msg},
    {IPMICTL_RECEIVE_MSG_TRUNC, "RECEIVE_MSG_TRUNC", receive_msg_trunc},
    {IPMICTL_SET_GETS_EVENTS_CMD, "SET_GETS_EVENTS_CMD", set_gets_events},
    {IPMICTL_SET_MY_ADDRESS_CMD, "SET_MY_ADDRESS_CMD", set_my_address},
    {IPMICTL_GET_MY_ADDRESS_CMD, "GET_MY_ADDRESS_CMD", get_my_address},
    {IPMICTL_SET_MY_LUN_CMD, "SET_MY_LUN_CMD", set_my_lun},
    {IPMICTL_GET_MY_LUN_CMD, "GET_MY_LUN_CMD", get_my_lun},
};

const Request *request_for(unsigned long number) {
    for (const Request &request : kRequests) {
        if (request.number == number) {
            return &request;
        }
    }
    return nullptr;
}

} // namespace

std::optional<unsigned long> ipmi_request_named(std::string_view name) {
    for (const Request &request : kRequests) {
        if (request.name == name) {
            return request.number;
        }
    }
    return std::nullopt;
}

IpmiDevice::IpmiDevice(const IpmcBoard &board, State &state, Trace &trace)
    : board_(board),
      trace_(trace), interface_{Ipmc(board, state), IpmiFaultPlan(board.faults),
                                board.picmg.ipmb0_address, kDefaultAddress, kDefaultLun} {}

int IpmiDevice::open_error() {
    const IpmiFault *fault = interface_.faults.on_call("open");
    if (fault != nullptr) {
        return static_cast<int>(fault->value);
    }
    return board_.present ? 0 : ENOENT;
}

void IpmiDevice::opened(int fd) {
    IpmiUser &user = users_[fd];
    user = IpmiUser{};
    user.fd = fd;
}

void IpmiDevice::closed(int fd) { users_.erase(fd); }

int IpmiDevice::ioctl(int fd, unsigned long request, void *arg, int &err) {
    const Request *known = request_for(request);
    if (known == nullptr) {
        err = ENOTTY;
        if (trace_.on()) {
            trace_.record(trace_unknown("ipmi", request, -1, err));
        }
        return -1;
    }
    Call call{interface_, users_[fd], arg, trace_.on(), {}, {}};
    const IpmiFault *fault = interface_.faults.on_call(known->name);
    int result = 0;
    if (arg == nullptr) {
        result = -EFAULT;
        call.sent = "arg=NULL";
    } else if (fault != nullptr) {
        result = -static_cast<int>(fault->value);
    } else {
        result = known->run(call);
    }
    err = -result;
    const int ret = result < 0 ? -1 : 0;
    if (call.traced) {
        trace_.record(trace_ipmi(known->name, call.sent, ret, err, call.got));
    }
    return ret;
}

} // namespace sim
