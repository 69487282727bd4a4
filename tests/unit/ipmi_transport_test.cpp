// The OpenIPMI transport against a scripted driver behind the system-call
// seam: opening, addressing, answers cut or empty, and each failing call.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include <fcntl.h>
#include <linux/ipmi.h>
#include <sys/ioctl.h>

#include "hvl/hvl_ipmi_interface.h"
#include "log_capture.h"
#include "sys/sys_ops.h"

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr int kFd = 5;

struct SentMessage {
    int addr_type, channel, slave_addr, lun; // slave_addr: IPMB only, else -1
    unsigned addr_len;
    long msgid;
    int netfn, cmd;
    Bytes data;
};

// Where a message went and what it asked, without its message id.
auto route_and_request(const SentMessage &m) {
    return std::tie(m.addr_type, m.channel, m.slave_addr, m.lun, m.addr_len, m.netfn, m.cmd,
                    m.data);
}

// One message the driver delivers, or a receive that fails with `error`.
struct Delivery {
    Bytes bytes;
    int error = 0;
};

// Get Address Info answered: PICMG identifier, hardware address 0x41, IPMB-0 address 0x82.
const Bytes kAddressInfo{0x00, 0x00, 0x41, 0x82, 0xFF, 0x00, 0x00, 0x00};

// Stands in for the kernel: the device, its three driver requests and select.
class FakeDriver {
public:
    FakeDriver() : seam_(kOps) { self = this; }
    ~FakeDriver() { self = nullptr; }

    FakeDriver &deliver(Delivery next) {
        deliveries.push_back(std::move(next));
        return *this;
    }

    int open_errno = 0, send_errno = 0, select_errno = 0, set_address_errno = 0;
    bool select_finds_nothing = false;
    std::deque<Delivery> deliveries;
    std::vector<SentMessage> sent;
    std::vector<unsigned> my_addresses;
    int opened = 0;
    std::vector<int> closed;

private:
    static inline FakeDriver *self = nullptr;

    static int fail(int error) {
        errno = error;
        return -1;
    }

    static int open(const char *path, int flags) {
        EXPECT_STREQ(path, "/dev/ipmi0");
        EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
        if (self->open_errno != 0) {
            return fail(self->open_errno);
        }
        ++self->opened;
        return kFd;
    }

    static int close(int fd) {
        self->closed.push_back(fd);
        return 0;
    }

    static int ioctl(int fd, unsigned long request, void *arg) {
        EXPECT_EQ(fd, kFd);
        if (request == IPMICTL_SEND_COMMAND) {
            self->record(*static_cast<const ipmi_req *>(arg));
            return self->send_errno != 0 ? fail(self->send_errno) : 0;
        }
        if (request == IPMICTL_RECEIVE_MSG_TRUNC) {
            return self->receive(*static_cast<ipmi_recv *>(arg));
        }
        if (request == IPMICTL_SET_MY_ADDRESS_CMD) {
            self->my_addresses.push_back(*static_cast<const unsigned *>(arg));
            return self->set_address_errno != 0 ? fail(self->set_address_errno) : 0;
        }
        ADD_FAILURE() << "unexpected driver request " << std::hex << request;
        return fail(ENOTTY);
    }

    // Waits without a timeout for the device alone to become readable.
    static int select(int nfds, fd_set *readable, fd_set *writable, fd_set *errors,
                      timeval *timeout) {
        EXPECT_TRUE(nfds == kFd + 1 && FD_ISSET(kFd, readable) && writable == nullptr &&
                    errors == nullptr && timeout == nullptr);
        if (self->select_errno != 0) {
            return fail(self->select_errno);
        }
        if (self->select_finds_nothing) {
            FD_ZERO(readable);
        }
        return self->select_finds_nothing ? 0 : 1;
    }

    void record(const ipmi_req &req) {
        ipmi_ipmb_addr ipmb{};
        ipmi_system_interface_addr system{};
        std::memcpy(&ipmb, req.addr, std::min<size_t>(req.addr_len, sizeof ipmb));
        std::memcpy(&system, req.addr, std::min<size_t>(req.addr_len, sizeof system));
        const bool over_ipmb = ipmb.addr_type == IPMI_IPMB_ADDR_TYPE;
        sent.push_back({ipmb.addr_type, ipmb.channel, over_ipmb ? ipmb.slave_addr : -1,
                        over_ipmb ? ipmb.lun : system.lun, req.addr_len, req.msgid, req.msg.netfn,
                        req.msg.cmd, Bytes(req.msg.data, req.msg.data + req.msg.data_len)});
    }

    // Answers the last request from the system interface; like the driver, a
    // message longer than the buffer is cut with EMSGSIZE.
    int receive(ipmi_recv &recv) {
        if (deliveries.empty()) {
            return fail(EAGAIN);
        }
        const Delivery next = deliveries.front();
        deliveries.pop_front();
        if (next.error != 0) {
            return fail(next.error);
        }
        EXPECT_EQ(recv.addr_len, 40U);
        const ipmi_system_interface_addr from{IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, 0};
        std::memcpy(recv.addr, &from, sizeof from);
        recv.recv_type = IPMI_RESPONSE_RECV_TYPE;
        recv.msgid = sent.back().msgid;
        recv.msg.netfn = static_cast<unsigned char>(sent.back().netfn | 1);
        recv.msg.cmd = static_cast<unsigned char>(sent.back().cmd);
        const size_t room = recv.msg.data_len;
        const size_t length = std::min(room, next.bytes.size());
        std::copy_n(next.bytes.begin(), length, recv.msg.data);
        recv.msg.data_len = static_cast<unsigned short>(length);
        return next.bytes.size() > room ? fail(EMSGSIZE) : 0;
    }

    static constexpr hvl::sys::Ops kOps{open, ioctl, close, select};
    hvl::sys::OpsOverride seam_;
};

class OpenIpmi : public ::testing::Test {
protected:
    LogCapture log;
    FakeDriver driver;
};

// With an interface that the driver has opened, `my_addr` 0x82.
class OpenIpmiSend : public OpenIpmi {
protected:
    void SetUp() override {
        driver.deliver({kAddressInfo});
        ASSERT_EQ(open_ipmi_intf(&intf), 0);
    }
    void TearDown() override { close_ipmi_intf(intf); }

    // Sends App 0x01 with the data AA 55 through `to`.
    int send(uint8_t lun = 0, IpmiIntf *to = nullptr) {
        static const uint8_t data[] = {0xAA, 0x55};
        const IpmiRequest request{0x06, lun, 0x01, 2, data};
        to = to != nullptr ? to : intf;
        return to->send(to, &request, &response);
    }

    IpmiIntf *intf = nullptr;
    IpmiResponse response{};
};

using OpenIpmiOpen = OpenIpmi;

// The message-id counter lives as long as the process, so this test is the
// first one registered: it runs first when the binary runs whole, and ctest
// runs every test in a process of its own.
TEST_F(OpenIpmiSend, MessageIdsStartAtZeroAndCountUpAcrossInterfaces) {
    IpmiIntf *second = nullptr;
    driver.deliver({kAddressInfo});
    ASSERT_EQ(open_ipmi_intf(&second), 0);
    for (IpmiIntf *to : {intf, second, intf}) {
        driver.deliver({{0x00}});
        ASSERT_EQ(send(0, to), 0);
    }
    close_ipmi_intf(second);
    std::vector<long> ids;
    for (const SentMessage &m : driver.sent) {
        ids.push_back(m.msgid);
    }
    const long first = GTEST_FLAG_GET(shuffle) ? ids[0] : 0;
    EXPECT_THAT(ids, ElementsAre(first, first + 1, first + 2, first + 3, first + 4));
}

TEST_F(OpenIpmiOpen, AsksTheIpmcForItsAddressAndGivesItToTheDriver) {
    driver.deliver({kAddressInfo});
    IpmiIntf *intf = nullptr;
    ASSERT_EQ(open_ipmi_intf(&intf), 0);
    ASSERT_NE(intf, nullptr);
    EXPECT_STREQ(intf->name, "open");
    EXPECT_STREQ(intf->desc, "Linux OpenIPMI interface");
    EXPECT_EQ(std::make_tuple(kFd, 1, 0x82U), std::tie(intf->fd, intf->opened, intf->my_addr));
    EXPECT_THAT(driver.my_addresses, ElementsAre(0x82U));
    ASSERT_EQ(driver.sent.size(), 1U);
    const SentMessage query{
        IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, -1, 0, 8, 0, 0x2C, 0x01, {0x00}};
    EXPECT_EQ(route_and_request(driver.sent[0]), route_and_request(query));
    EXPECT_TRUE(log.contains("ipmi_openipmi_open): Opened /dev/ipmi0 as FD 5"));

    close_ipmi_intf(intf);
    EXPECT_THAT(driver.closed, ElementsAre(kFd));
    EXPECT_TRUE(log.contains("ipmi_openipmi_close): Closing FD 5"));
}

struct OpenCase {
    const char *name;
    Bytes answer; // to the address query
    void (*arrange)(FakeDriver &);
    int result;         // of ipmi_openipmi_open; 0: usable
    const char *logged; // null: not checked
};
void PrintTo(const OpenCase &c, std::ostream *os) { *os << c.name; }

class OpenIpmiOpenCase : public OpenIpmi, public ::testing::WithParamInterface<OpenCase> {};

// An IPMC without an address still gives a usable interface; every other
// failure leaves no interface and no descriptor behind.
TEST_P(OpenIpmiOpenCase, DecidesWhetherTheInterfaceIsUsable) {
    const OpenCase &c = GetParam();
    driver.deliver({c.answer});
    c.arrange(driver);
    IpmiIntf *intf = ipmi_openipmi_create();
    EXPECT_EQ(ipmi_openipmi_open(intf), c.result);
    EXPECT_EQ(std::make_tuple(c.result == 0 ? kFd : -1, c.result == 0 ? 1 : 0),
              std::tie(intf->fd, intf->opened));
    EXPECT_TRUE(c.logged == nullptr || log.contains(c.logged)) << c.logged;
    ipmi_intf_free(intf);
    EXPECT_EQ(driver.closed.size(), static_cast<size_t>(driver.opened)) << "descriptor left open";

    driver.deliveries.assign(1, {c.answer});
    c.arrange(driver);
    IpmiIntf stale{};
    intf = &stale;
    EXPECT_EQ(open_ipmi_intf(&intf), c.result == 0 ? 0 : -2);
    EXPECT_EQ(intf != nullptr, c.result == 0);
    close_ipmi_intf(intf);
    driver.deliveries.clear();
}

Bytes code(uint8_t ccode) { return Bytes(1, ccode); }
const Bytes kNoIpmbAddress{0x00, 0x00, 0x41};
void as_is(FakeDriver & /*driver*/) {}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenIpmiOpenCase,
    ::testing::Values(
        OpenCase{"InvalidCommand", code(0xC1), as_is, 0, "IPMC has not a valid address"},
        OpenCase{"DestinationUnavailable", code(0xD3), as_is, 0, "IPMC has not a valid address"},
        OpenCase{"NotInPresentState", code(0xD5), as_is, 0, "IPMC has not a valid address"},
        OpenCase{"NodeBusy", code(0xC0), as_is, 74, "cannot readjust ipmb address /dev/ipmi0: 192"},
        OpenCase{"BadField", code(0xCC), as_is, 74, "cannot readjust ipmb address /dev/ipmi0: 204"},
        OpenCase{"CatchAllError", code(0xFF), as_is, 74,
                 "cannot readjust ipmb address /dev/ipmi0: 255"},
        OpenCase{"NoDevice", code(0x00), [](FakeDriver &d) { d.open_errno = ENOENT; }, 19, nullptr},
        OpenCase{"QueryNotSent", code(0x00), [](FakeDriver &d) { d.send_errno = ENXIO; }, -1,
                 "ipmi_adjust_addr): Cannot communicate with IPMC, return code -1"},
        OpenCase{"NoAnswer", kAddressInfo, [](FakeDriver &d) { d.select_finds_nothing = true; }, 74,
                 "Cannot communicate with IPMC, return code 74"},
        OpenCase{"DriverRefusesAddress", kAddressInfo,
                 [](FakeDriver &d) { d.set_address_errno = EINVAL; }, -1,
                 "ipmi_adjust_addr): cannot readjust ipmb address /dev/ipmi0"},
        OpenCase{"AnswerWithoutIpmbAddress", kNoIpmbAddress, as_is, 74,
                 "IPMC address answer too short: 2 bytes"}),
    ::testing::PrintToStringParamName());

TEST_F(OpenIpmiOpen, FreeClosesAnOpenDescriptorQuietly) {
    driver.deliver({kAddressInfo});
    IpmiIntf *intf = ipmi_openipmi_create();
    ASSERT_EQ(ipmi_openipmi_open(intf), 0);
    log.clear();
    EXPECT_EQ(ipmi_intf_free(intf), 0);
    EXPECT_THAT(driver.closed, ElementsAre(kFd));
    EXPECT_THAT(log.lines(), IsEmpty());
}

TEST_F(OpenIpmiOpen, NullArgumentsAndClosedInterfacesAreRefused) {
    EXPECT_EQ(open_ipmi_intf(nullptr), -2);
    EXPECT_TRUE(log.contains("open_ipmi_intf): HVL_IPMI API called with intf == NULL"));
    close_ipmi_intf(nullptr);
    EXPECT_EQ(ipmi_intf_free(nullptr), 0);
    IpmiRequest request{};
    IpmiResponse response{};
    EXPECT_EQ(ipmi_openipmi_send_cmd(nullptr, &request, &response), 22);
    IpmiIntf *closed = ipmi_openipmi_create();
    EXPECT_EQ(ipmi_openipmi_send_cmd(closed, nullptr, &response), 22);
    EXPECT_TRUE(log.contains("Parameters not initialized"));
    EXPECT_EQ(closed->send(closed, &request, &response), 19);
    EXPECT_TRUE(log.contains("Device not initialized"));
    EXPECT_THAT(driver.sent, IsEmpty());
    ipmi_intf_free(closed);
}

TEST_F(OpenIpmiSend, SecondOpenIsRefusedAndKeepsTheDescriptor) {
    EXPECT_EQ(ipmi_openipmi_open(intf), 22);
    EXPECT_EQ(std::make_tuple(kFd, 1), std::tie(intf->fd, intf->opened));
    EXPECT_TRUE(log.contains("Interface already opened"));
    EXPECT_THAT(driver.closed, IsEmpty());
}

TEST_F(OpenIpmiSend, RequestsGoToTheIpmcOrOverIpmbToATarget) {
    struct Route {
        uint32_t target_addr, target_channel; // 0x82 is the IPMC's own address
        uint8_t lun;
        int addr_type, channel, slave_addr;
    };
    const Route routes[] = {
        {0, 0, 0, IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, -1},
        {0x82, 0, 3, IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, -1},
        {0x1272, 0x17, 2, IPMI_IPMB_ADDR_TYPE, 7, 0x72},
    };
    for (const Route &r : routes) {
        intf->target_addr = r.target_addr;
        intf->target_channel = r.target_channel;
        driver.deliver({{0x00}});
        ASSERT_EQ(send(r.lun), 0);
        const SentMessage expected{r.addr_type, r.channel, r.slave_addr, r.lun,       8,
                                   0,           0x06,      0x01,         {0xAA, 0x55}};
        EXPECT_EQ(route_and_request(driver.sent.back()), route_and_request(expected))
            << std::hex << r.target_addr;
    }
}

struct Unpacking {
    const char *name;
    Bytes received;
    uint8_t ccode;
    int32_t data_len;
    Bytes data; // the first bytes of the response's data, which start as 0xEE
};
void PrintTo(const Unpacking &c, std::ostream *os) { *os << c.name; }

class OpenIpmiUnpack : public OpenIpmiSend, public ::testing::WithParamInterface<Unpacking> {};

TEST_P(OpenIpmiUnpack, SplitsOffTheCompletionCode) {
    const Unpacking &c = GetParam();
    driver.deliver({c.received});
    std::memset(response.data, 0xEE, sizeof response.data);
    ASSERT_EQ(send(), 0);
    EXPECT_EQ(std::make_tuple(c.ccode, c.data_len), std::tie(response.ccode, response.data_len));
    EXPECT_EQ(Bytes(response.data, response.data + c.data.size()), c.data);
}

// `count` bytes counting up from `first`, then the byte `then` unless it is -1.
Bytes ramp(size_t first, size_t count, int then = -1) {
    Bytes bytes;
    for (size_t i = first; i < first + count; ++i) {
        bytes.push_back(static_cast<uint8_t>(i));
    }
    if (then != -1) {
        bytes.push_back(static_cast<uint8_t>(then));
    }
    return bytes;
}

// Data move down and end in a 0 after success; an error code stays in front.
// An answer longer than the buffer arrives cut (EMSGSIZE) and is still an answer.
INSTANTIATE_TEST_SUITE_P(
    Answers, OpenIpmiUnpack,
    ::testing::Values(Unpacking{"Data", ramp(0, 4), 0x00, 3, ramp(1, 3, 0)},
                      Unpacking{"ErrorWithData", ramp(0xC1, 3), 0xC1, 2, ramp(0xC1, 3, 0xEE)},
                      Unpacking{"CodeAlone", code(0x00), 0x00, 0, ramp(0x00, 1, 0xEE)},
                      Unpacking{"ErrorCodeAlone", code(0xCC), 0xCC, 0, ramp(0xCC, 1, 0xEE)},
                      Unpacking{"CutAnswer", ramp(0, 1500), 0x00, 1023, ramp(1, 1023, 0)}),
    ::testing::PrintToStringParamName());

TEST_F(OpenIpmiSend, ReceivedMessageIsLoggedLineByLine) {
    driver.deliver({{0x00, 0x0A, 0xFF}});
    log.clear();
    ASSERT_EQ(send(), 0);
    const std::vector<std::string> expected = {
        "Got message:",       "  type      = 1 ",   "  channel   = 0xf ", "  msgid     = ",
        "  netfn     = 0x7 ", "  cmd       = 0x1 ", "  data_len  = 3 ",   "  data      = 000aff "};
    ASSERT_EQ(log.lines().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_THAT(log.lines()[i], HasSubstr("ipmi_openipmi_send_cmd): " + expected[i]));
    }
}

struct SendFailure {
    const char *name;
    void (*arrange)(FakeDriver &);
    int result;
    const char *logged; // null: nothing logged
};
void PrintTo(const SendFailure &c, std::ostream *os) { *os << c.name; }

class OpenIpmiSendFailure : public OpenIpmiSend,
                            public ::testing::WithParamInterface<SendFailure> {};

TEST_P(OpenIpmiSendFailure, ReportsTheFailingStep) {
    const SendFailure &c = GetParam();
    c.arrange(driver);
    log.clear();
    EXPECT_EQ(send(), c.result);
    if (c.logged != nullptr) {
        EXPECT_TRUE(log.contains(c.logged)) << c.logged;
    } else {
        EXPECT_THAT(log.lines(), IsEmpty());
    }
    driver.deliveries.clear();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, OpenIpmiSendFailure,
    ::testing::Values(SendFailure{"SendIoctl", [](FakeDriver &d) { d.send_errno = EBUSY; }, -1,
                                  "IOCTL failed: Device or resource busy (16)"},
                      SendFailure{"SelectInterrupted",
                                  [](FakeDriver &d) { d.select_errno = EINTR; }, -1,
                                  "select failed: Interrupted system call (4)"},
                      SendFailure{"NothingToRead",
                                  [](FakeDriver &d) { d.select_finds_nothing = true; }, 74,
                                  nullptr},
                      SendFailure{"ReceiveIoctl",
                                  [](FakeDriver &d) {
                                      d.deliver({{}, EAGAIN});
                                  },
                                  22, nullptr},
                      SendFailure{"EmptyAnswer", [](FakeDriver &d) { d.deliver({{}}); }, 74,
                                  "ipmi_openipmi_send_cmd): Got message without completion code"}),
    ::testing::PrintToStringParamName());

struct HexCase {
    const char *name;
    Bytes bytes;
    std::string text; // empty: null
};
void PrintTo(const HexCase &c, std::ostream *os) { *os << c.name; }

class IpmiHexString : public ::testing::TestWithParam<HexCase> {};

TEST_P(IpmiHexString, WritesLowerCasePairsOfAtMost1024Bytes) {
    const HexCase &c = GetParam();
    const char *text = ipmi_hex_string(c.bytes.data(), static_cast<int>(c.bytes.size()));
    EXPECT_EQ(text != nullptr ? text : "", c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, IpmiHexString,
    ::testing::Values(HexCase{"Empty", Bytes(), ""}, HexCase{"OneByte", code(0x00), "00"},
                      HexCase{"Pairs", Bytes{0x0A, 0xFF, 0x5c}, "0aff5c"},
                      HexCase{"Longest", Bytes(1024, 0xAA), std::string(2048, 'a')},
                      HexCase{"TooLong", Bytes(1025), ""}),
    ::testing::PrintToStringParamName());

} // namespace
