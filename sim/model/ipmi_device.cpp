#include "ipmi_device.h"

#include "trace.h"

#include <linux/ipmi.h>
#include <sys/ioctl.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

namespace sim {
namespace {

// ipmi_req: addr, addr_len, msgid, msg.netfn, msg.cmd, msg.data_len, msg.data.
constexpr std::array<Field, 7> kReq = {Field::Pointer, Field::U32, Field::Long,   Field::U8,
                                       Field::U8,      Field::U16, Field::Pointer};
enum { kReqAddr, kReqAddrLen, kReqMsgid, kReqNetfn, kReqCmd, kReqDataLen, kReqData };
// ipmi_recv: recv_type, addr, addr_len, msgid, then the message as in ipmi_req.
constexpr std::array<Field, 8> kRecv = {Field::U32, Field::Pointer, Field::U32, Field::Long,
                                        Field::U8,  Field::U8,      Field::U16, Field::Pointer};
enum { kRecvType, kRecvAddr, kRecvAddrLen, kRecvMsgid, kRecvNetfn, kRecvCmd, kRecvLen, kRecvData };
// The int or unsigned int of the other requests.
constexpr std::array<Field, 1> kValue = {Field::U32};

// An address record: addr_type, channel, then the type's own bytes (an
// ipmi_addr has room for 32). Both types the driver takes are 8 bytes long.
constexpr std::size_t kAddressSize = 8;
constexpr std::size_t kAddressMax = 4 + 2 + IPMI_MAX_ADDR_SIZE + 2;

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
// Get Message, Send Message, Read Event Message Buffer.
constexpr std::uint8_t kDriverCommands[] = {0x33, 0x34, 0x35};

struct Call {
    const IoctlCall &ioctl;
    IpmiUser &user;
    UserMemory &memory;
    Outcome &outcome;
    FaultPlan &faults;
    Ipmc &ipmc;
    std::uint8_t &my_address;
    std::uint8_t &my_lun;
};

std::string hex8(unsigned value) { return trace_hex(value & 0xFFu, 2); }

std::string address_text(const IpmiAddress &addr) {
    if (addr.type == IPMI_SYSTEM_INTERFACE_ADDR_TYPE) {
        return "si";
    }
    if (addr.type == IPMI_IPMB_ADDR_TYPE) {
        return "ipmb:" + std::to_string(addr.channel) + ":" + hex8(addr.slave_address);
    }
    return "type" + hex8(addr.type);
}

// An answer in the trace: completion code and data, or that it was empty.
std::string answer_text(const std::vector<std::uint8_t> &answer) {
    if (answer.empty()) {
        return "answer=empty";
    }
    return "ccode=" + hex8(answer[0]) +
           " data=" + trace_bytes(answer.data() + 1, answer.size() - 1);
}

IpmiAddress decode_address(const std::uint8_t *bytes, const Abi &abi) {
    IpmiAddress addr;
    addr.type = static_cast<std::uint32_t>(get_number(bytes, 4, abi));
    addr.channel = static_cast<std::uint16_t>(get_number(bytes + 4, 2, abi));
    const bool ipmb = addr.type == IPMI_IPMB_ADDR_TYPE;
    addr.slave_address = ipmb ? bytes[6] : 0;
    addr.lun = ipmb ? bytes[7] : bytes[6];
    return addr;
}

std::vector<std::uint8_t> encode_address(const IpmiAddress &addr, const Abi &abi) {
    std::vector<std::uint8_t> bytes(kAddressSize);
    put_number(bytes.data(), 4, abi, addr.type);
    put_number(bytes.data() + 4, 2, abi, addr.channel);
    const bool ipmb = addr.type == IPMI_IPMB_ADDR_TYPE;
    bytes[6] = ipmb ? addr.slave_address : addr.lun;
    bytes[7] = ipmb ? addr.lun : 0;
    return bytes;
}

// The address the caller sent to, read as the driver reads it: 0 or -errno.
int read_address(Call &call, const Values<7> &req, IpmiAddress &to) {
    const std::uint64_t length = req[kReqAddrLen];
    if (length > kAddressMax) {
        return -EINVAL;
    }
    std::uint8_t bytes[kAddressMax] = {};
    if (!call.memory.read(req[kReqAddr], bytes, length)) {
        return -EFAULT;
    }
    to = decode_address(bytes, call.memory.abi());
    const bool known = to.type == IPMI_SYSTEM_INTERFACE_ADDR_TYPE || to.type == IPMI_IPMB_ADDR_TYPE;
    return known && length >= kAddressSize ? 0 : -EINVAL;
}

// The driver's checks of where a message goes and how long it is.
int check_message(const IpmiAddress &to, const IpmiRequestBytes &request) {
    if (to.lun > kLunMask) {
        return -EINVAL;
    }
    if (to.type == IPMI_SYSTEM_INTERFACE_ADDR_TYPE) {
        const bool driver_command =
            request.netfn == kNetFnAppRequest &&
            std::find(std::begin(kDriverCommands), std::end(kDriverCommands), request.cmd) !=
                std::end(kDriverCommands);
        if (to.channel != IPMI_BMC_CHANNEL || driver_command) {
            return -EINVAL;
        }
        return request.length + kSystemHeader > IPMI_MAX_MSG_LENGTH ? -EMSGSIZE : 0;
    }
    if (to.channel >= IPMI_BMC_CHANNEL) {
        return -EINVAL;
    }
    return request.length + kIpmbHeader > IPMI_MAX_MSG_LENGTH ? -EMSGSIZE : 0;
}

// The driver tries an IPMB request a few times before it gives up on it.
void wait_ms(unsigned ms) {
    timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

int send_command(Call &call) {
    Values<7> req{};
    if (!call.memory.read_record(call.ioctl.arg, kReq, req)) {
        return -EFAULT;
    }
    IpmiAddress to;
    if (const int refused = read_address(call, req, to)) {
        return refused;
    }
    std::uint8_t data[IPMI_MAX_MSG_LENGTH] = {};
    IpmiRequestBytes request{static_cast<std::uint8_t>(req[kReqNetfn]), to.lun,
                             static_cast<std::uint8_t>(req[kReqCmd])};
    if (req[kReqData] != 0) {
        request.length = req[kReqDataLen];
        if (request.length > IPMI_MAX_MSG_LENGTH) {
            return -EMSGSIZE;
        }
        if (!call.memory.read(req[kReqData], data, request.length)) {
            return -EFAULT;
        }
        request.data = data;
    }
    const std::int64_t msgid = as_signed(req[kReqMsgid], call.memory.abi().long_size);
    call.outcome.sent = "msgid=" + std::to_string(msgid) + " addr=" + address_text(to) +
                        " lun=" + std::to_string(to.lun) + " netfn=" + hex8(request.netfn) +
                        " cmd=" + hex8(request.cmd) + " data=" + trace_bytes(data, request.length);
    if (const int refused = check_message(to, request)) {
        return refused;
    }
    const Fault *fault = call.faults.on_message(request.netfn, request.cmd, data, request.length);
    if (fault != nullptr && fault->effect == FaultEffect::Errno) {
        return -static_cast<int>(fault->value);
    }
    const bool to_ipmc = to.type == IPMI_SYSTEM_INTERFACE_ADDR_TYPE ||
                         to.slave_address == ipmb0_address(call.ipmc.board);
    // A request refused with a completion code is not carried out.
    const bool refused = fault != nullptr && fault->effect == FaultEffect::Ccode;
    std::optional<Bytes> own = refused ? Bytes{}
                               : to_ipmc
                                   ? call.ipmc.answer(request)
                                   : call.ipmc.answer_behind(to.channel, to.slave_address, request);
    if (!own) {
        wait_ms(call.ipmc.board.ipmb_timeout_ms);
        own = Bytes{kCcTimeout};
    }
    IpmiReceived answer{to, req[kReqMsgid], static_cast<std::uint8_t>(request.netfn | 1),
                        request.cmd, faulty_answer(std::move(*own), fault)};
    call.outcome.got = answer_text(answer.data);
    call.user.queue.push_back(std::move(answer));
    return 0;
}

// Takes the first message: with a buffer too small for it, RECEIVE_MSG fails
// with EMSGSIZE and keeps it queued; RECEIVE_MSG_TRUNC hands over what fits,
// takes it off the queue and still fails with EMSGSIZE. Nothing queued: EAGAIN.
// The message goes back to the queue if a write to the caller fails.
int receive(Call &call, bool truncate) {
    Values<8> rsp{};
    if (!call.memory.read_record(call.ioctl.arg, kRecv, rsp)) {
        return -EFAULT;
    }
    call.outcome.sent = "addr_len=" + std::to_string(rsp[kRecvAddrLen]) +
                        " data_len=" + std::to_string(rsp[kRecvLen]);
    if (call.user.queue.empty()) {
        return -EAGAIN;
    }
    const IpmiReceived &message = call.user.queue.front();
    if (rsp[kRecvAddrLen] < kAddressSize) {
        return -EINVAL;
    }
    call.memory.write(rsp[kRecvAddr], encode_address(message.from, call.memory.abi()));
    const bool too_long = message.data.size() > rsp[kRecvLen];
    if (too_long && !truncate) {
        return -EMSGSIZE;
    }
    const std::size_t length = too_long ? rsp[kRecvLen] : message.data.size();
    call.memory.write(rsp[kRecvData], message.data.data(), length);
    rsp[kRecvType] = IPMI_RESPONSE_RECV_TYPE;
    rsp[kRecvAddrLen] = kAddressSize;
    rsp[kRecvMsgid] = message.msgid;
    rsp[kRecvNetfn] = message.netfn;
    rsp[kRecvCmd] = message.cmd;
    rsp[kRecvLen] = length;
    call.memory.write(call.ioctl.arg, encode(kRecv, call.memory.abi(), rsp));
    call.outcome.got =
        "type=" + std::to_string(rsp[kRecvType]) + " addr=" + address_text(message.from) +
        " msgid=" + std::to_string(as_signed(message.msgid, call.memory.abi().long_size)) +
        " netfn=" + hex8(message.netfn) + " cmd=" + hex8(message.cmd) +
        " data_len=" + std::to_string(length);
    call.outcome.undo = [&user = call.user, taken = message] { user.queue.push_front(taken); };
    call.user.queue.pop_front();
    return too_long ? -EMSGSIZE : 0;
}

int receive_msg(Call &call) { return receive(call, false); }
int receive_msg_trunc(Call &call) { return receive(call, true); }

// Reads the int or unsigned int of a request that sets something (0 when it
// cannot), and traces it in decimal or, `hex`, as a byte: 0 or -EFAULT.
int read_value(Call &call, std::uint32_t &value, bool hex) {
    Values<1> values{};
    const bool read = call.memory.read_record(call.ioctl.arg, kValue, values);
    value = static_cast<std::uint32_t>(values[0]);
    call.outcome.sent =
        "value=" + (hex ? hex8(value) : std::to_string(static_cast<std::int32_t>(value)));
    return read ? 0 : -EFAULT;
}

int write_value(Call &call, std::uint8_t value) {
    call.memory.write(call.ioctl.arg, encode(kValue, call.memory.abi(), Values<1>{value}));
    call.outcome.got = "value=" + hex8(value);
    return 0;
}

int set_gets_events(Call &call) {
    std::uint32_t value = 0;
    const int result = read_value(call, value, false);
    call.user.gets_events = value != 0;
    return result;
}

// Sets the driver's own address or LUN to as much of the value as `mask` keeps.
int set_own(Call &call, std::uint8_t &own, unsigned mask) {
    std::uint32_t value = 0;
    const int result = read_value(call, value, true);
    own = result == 0 ? static_cast<std::uint8_t>(value & mask) : own;
    return result;
}

int set_my_address(Call &call) { return set_own(call, call.my_address, 0xFF); }
int get_my_address(Call &call) { return write_value(call, call.my_address); }
int set_my_lun(Call &call) { return set_own(call, call.my_lun, kLunMask); }
int get_my_lun(Call &call) { return write_value(call, call.my_lun); }

std::size_t req_size(const Abi &abi) { return record_size(kReq, abi); }
std::size_t recv_size(const Abi &abi) { return record_size(kRecv, abi); }
std::size_t value_size(const Abi &abi) { return record_size(kValue, abi); }

struct Request {
    unsigned long number;
    std::string_view name;
    std::size_t (*record_size)(const Abi &); // in the caller's layout
    int (*run)(Call &);
};

constexpr Request kRequests[] = {
    {IPMICTL_SEND_COMMAND, "SEND_COMMAND", req_size, send_command},
    {IPMICTL_RECEIVE_MSG, "RECEIVE_MSG", recv_size, receive_msg},
    {IPMICTL_RECEIVE_MSG_TRUNC, "RECEIVE_MSG_TRUNC", recv_size, receive_msg_trunc},
    {IPMICTL_SET_GETS_EVENTS_CMD, "SET_GETS_EVENTS_CMD", value_size, set_gets_events},
    {IPMICTL_SET_MY_ADDRESS_CMD, "SET_MY_ADDRESS_CMD", value_size, set_my_address},
    {IPMICTL_GET_MY_ADDRESS_CMD, "GET_MY_ADDRESS_CMD", value_size, get_my_address},
    {IPMICTL_SET_MY_LUN_CMD, "SET_MY_LUN_CMD", value_size, set_my_lun},
    {IPMICTL_GET_MY_LUN_CMD, "GET_MY_LUN_CMD", value_size, get_my_lun},
};

// The request the caller's number stands for in its own layout.
const Request *request_for(const IoctlCall &call, const Abi &abi) {
    for (const Request &request : kRequests) {
        if (call.type == _IOC_TYPE(request.number) && call.code == _IOC_NR(request.number) &&
            call.size == request.record_size(abi)) {
            return &request;
        }
    }
    return nullptr;
}

} // namespace

bool ipmi_request_known(std::string_view name) {
    return std::any_of(std::begin(kRequests), std::end(kRequests),
                       [&](const Request &request) { return request.name == name; });
}

std::vector<wire::PointedBuffer> IpmiDevice::pointed_buffers(const Abi &abi) {
    const auto places = field_places(kReq, abi);
    const auto code = static_cast<std::uint8_t>(_IOC_NR(IPMICTL_SEND_COMMAND));
    const auto buffer = [&](std::size_t pointer, std::size_t length, std::size_t most) {
        return wire::PointedBuffer{code,
                                   static_cast<std::uint16_t>(places[pointer].first),
                                   static_cast<std::uint8_t>(places[pointer].second),
                                   static_cast<std::uint16_t>(places[length].first),
                                   static_cast<std::uint8_t>(places[length].second),
                                   static_cast<std::uint16_t>(most)};
    };
    return {buffer(kReqAddr, kReqAddrLen, kAddressMax),
            buffer(kReqData, kReqDataLen, IPMI_MAX_MSG_LENGTH)};
}

IpmiDevice::IpmiDevice(const IpmcBoard &board, Store &store)
    : ipmc_(board, store), my_address_(kDefaultAddress), my_lun_(kDefaultLun) {}

Outcome IpmiDevice::ioctl(IpmiUser &user, const IoctlCall &call, UserMemory &memory,
                          FaultPlan &faults) {
    const Request *known = request_for(call, memory.abi());
    if (known == nullptr) {
        return failed("request=" + trace_hex(call.number, 8), ENOTTY);
    }
    Outcome outcome;
    outcome.name = std::string(known->name);
    if (call.arg == 0) {
        return failed(outcome.name, EFAULT, "arg=NULL");
    }
    int result = 0;
    if (const Fault *fault = faults.on_call(known->name)) {
        result = -static_cast<int>(fault->value);
    } else {
        Call run{call, user, memory, outcome, faults, ipmc_, my_address_, my_lun_};
        result = known->run(run);
    }
    outcome.ret = result < 0 ? -1 : 0;
    outcome.err = -result;
    return outcome;
}

} // namespace sim
