// The OpenIPMI transport against a scripted driver behind the system-call
// seam: opening, addressing, answers cut or empty, and each failing call.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/ipmi.h>
#include <sys/ioctl.h>

#include "hvl/hvl_ipmi_interface.h"
#include "log_capture.h"
#include "sys/sys_ops.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

constexpr int kFd = 5;

struct SentMessage {
    int addr_type;
    int channel;
    int slave_addr; // IPMB only
    int lun;
    unsigned addr_len;
    long msgid;
    int netfn;
    int cmd;
    std::vector<uint8_t> data;
};

// One message the driver delivers, or a receive that fails with `error`.
struct Delivery {
    std::vector<uint8_t> bytes;
    int error = 0;
};

// Get Address Info answered: PICMG identifier, hardware address 0x41, IPMB-0 address 0x82.
const Delivery kAddressInfo{{0x00, 0x00, 0x41, 0x82, 0xFF, 0x00, 0x00, 0x00}};

// Stands in for the kernel: the device, its three driver requests and select.
class FakeDriver {
public:
    FakeDriver() : seam_(table()) { current() = this; }
    ~FakeDriver() { current() = nullptr; }
    FakeDriver(const FakeDriver &) = delete;
    FakeDriver &operator=(const FakeDriver &) = delete;

    FakeDriver &deliver(Delivery next) {
        deliveries.push_back(std::move(next));
        return *this;
    }

    int open_errno = 0;
    int send_errno = 0;
    int select_errno = 0;
    bool select_finds_nothing = false;
    int set_address_errno = 0;
    std::deque<Delivery> deliveries;
    std::vector<SentMessage> sent;
    std::vector<unsigned> my_addresses;
    std::vector<int> closed;

private:
    static FakeDriver *&current() {
        static FakeDriver *driver = nullptr;
        return driver;
    }

    static const hvl::sys::Ops &table() {
        static const hvl::sys::Ops ops{
            [](const char *path, int flags) { return current()->open(path, flags); },
            [](int fd, unsigned long request, void *arg) {
                return current()->ioctl(fd, request, arg);
            },
            [](int fd) {
                current()->closed.push_back(fd);
                return 0;
            },
            [](int nfds, fd_set *readable, fd_set *writable, fd_set *errors, timeval *timeout) {
                return current()->select(nfds, readable, writable, errors, timeout);
            },
        };
        return ops;
    }

    static int fail(int error) {
        errno = error;
        return -1;
    }

    int open(const char *path, int flags) {
        EXPECT_STREQ(path, "/dev/ipmi0");
        EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
        return open_errno != 0 ? fail(open_errno) : kFd;
    }

    int ioctl(int fd, unsigned long request, void *arg) {
        EXPECT_EQ(fd, kFd);
        if (request == IPMICTL_SEND_COMMAND) {
            record(*static_cast<const ipmi_req *>(arg));
            return send_errno != 0 ? fail(send_errno) : 0;
        }
        if (request == IPMICTL_RECEIVE_MSG_TRUNC) {
            return receive(*static_cast<ipmi_recv *>(arg));
        }
        if (request == IPMICTL_SET_MY_ADDRESS_CMD) {
            my_addresses.push_back(*static_cast<const unsigned *>(arg));
            return set_address_errno != 0 ? fail(set_address_errno) : 0;
        }
        ADD_FAILURE() << "unexpected driver request " << std::hex << request;
        return fail(ENOTTY);
    }

    int select(int nfds, fd_set *readable, fd_set *writable, fd_set *errors, timeval *timeout) {
        EXPECT_EQ(nfds, kFd + 1);
        EXPECT_TRUE(FD_ISSET(kFd, readable));
        EXPECT_EQ(writable, nullptr);
        EXPECT_EQ(errors, nullptr);
        EXPECT_EQ(timeout, nullptr) << "the wait has no timeout";
        if (select_errno != 0) {
            return fail(select_errno);
        }
        if (select_finds_nothing) {
            FD_ZERO(readable);
            return 0;
        }
        return 1;
    }

    void record(const ipmi_req &req) {
        SentMessage message{};
        ipmi_ipmb_addr address{};
        std::memcpy(&address, req.addr, std::min<size_t>(req.addr_len, sizeof address));
        message.addr_type = address.addr_type;
        message.channel = address.channel;
        message.addr_len = req.addr_len;
        if (address.addr_type == IPMI_IPMB_ADDR_TYPE) {
            message.slave_addr = address.slave_addr;
            message.lun = address.lun;
        } else {
            ipmi_system_interface_addr system{};
            std::memcpy(&system, req.addr, sizeof system);
            message.lun = system.lun;
        }
        message.msgid = req.msgid;
        message.netfn = req.msg.netfn;
        message.cmd = req.msg.cmd;
        message.data.assign(req.msg.data, req.msg.data + req.msg.data_len);
        sent.push_back(message);
    }

    // Like the driver: a message longer than the buffer is cut with EMSGSIZE.
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
        recv.msgid = sent.empty() ? 0 : sent.back().msgid;
        recv.msg.netfn = static_cast<unsigned char>(sent.empty() ? 0 : sent.back().netfn | 1);
        recv.msg.cmd = static_cast<unsigned char>(sent.empty() ? 0 : sent.back().cmd);
        const size_t room = recv.msg.data_len;
        const size_t length = std::min(room, next.bytes.size());
        std::copy_n(next.bytes.begin(), length, recv.msg.data);
        recv.msg.data_len = static_cast<unsigned short>(length);
        return next.bytes.size() > room ? fail(EMSGSIZE) : 0;
    }

    hvl::sys::OpsOverride seam_;
};

// An interface that the driver above has opened, with `my_addr` 0x82.
struct OpenedIntf {
    explicit OpenedIntf(FakeDriver &driver) {
        driver.deliver(kAddressInfo);
        EXPECT_EQ(open_ipmi_intf(&intf), 0);
        driver.sent.clear();
    }
    ~OpenedIntf() { close_ipmi_intf(intf); }
    OpenedIntf(const OpenedIntf &) = delete;
    OpenedIntf &operator=(const OpenedIntf &) = delete;

    IpmiIntf *intf = nullptr;
};

int send(IpmiIntf *intf, IpmiResponse &response, uint8_t lun = 0) {
    static const uint8_t data[] = {0xAA, 0x55};
    IpmiRequest request{};
    request.netfn = 0x06;
    request.lun = lun;
    request.cmd = 0x01;
    request.data = data;
    request.data_len = sizeof data;
    return intf->send(intf, &request, &response);
}

// The message-id counter lives as long as the process, so this test is the
// first one registered: it runs first when the binary runs whole, and ctest
// runs every test in a process of its own.
TEST(OpenIpmiMessageId, FirstRequestOfTheProcessCarriesZero) {
    if (GTEST_FLAG_GET(shuffle)) {
        GTEST_SKIP() << "needs to run first in its process";
    }
    FakeDriver driver;
    driver.deliver(kAddressInfo).deliver({{0x00}});
    IpmiIntf *intf = nullptr;
    ASSERT_EQ(open_ipmi_intf(&intf), 0);
    IpmiResponse response{};
    EXPECT_EQ(send(intf, response), 0);
    ASSERT_EQ(driver.sent.size(), 2U);
    EXPECT_EQ(driver.sent[0].msgid, 0);
    EXPECT_EQ(driver.sent[1].msgid, 1);
    close_ipmi_intf(intf);
}

class OpenIpmiOpen : public ::testing::Test {
protected:
    LogCapture log;
    FakeDriver driver;
};

TEST_F(OpenIpmiOpen, AsksTheIpmcForItsAddressAndGivesItToTheDriver) {
    driver.deliver(kAddressInfo);
    IpmiIntf *intf = nullptr;
    ASSERT_EQ(open_ipmi_intf(&intf), 0);
    ASSERT_NE(intf, nullptr);
    EXPECT_STREQ(intf->name, "open");
    EXPECT_STREQ(intf->desc, "Linux OpenIPMI interface");
    EXPECT_EQ(intf->fd, kFd);
    EXPECT_EQ(intf->opened, 1);
    EXPECT_EQ(intf->my_addr, 0x82U);
    EXPECT_THAT(driver.my_addresses, ElementsAre(0x82U));
    ASSERT_EQ(driver.sent.size(), 1U);
    const SentMessage &query = driver.sent[0];
    EXPECT_EQ(query.addr_type, IPMI_SYSTEM_INTERFACE_ADDR_TYPE);
    EXPECT_EQ(query.netfn, 0x2C);
    EXPECT_EQ(query.cmd, 0x01);
    EXPECT_EQ(query.lun, 0);
    EXPECT_THAT(query.data, ElementsAre(0x00));
    EXPECT_TRUE(log.contains("ipmi_openipmi_open): Opened /dev/ipmi0 as FD 5"));

    close_ipmi_intf(intf);
    EXPECT_THAT(driver.closed, ElementsAre(kFd));
    EXPECT_TRUE(log.contains("ipmi_openipmi_close): Closing FD 5"));
}

struct AddressRefusal {
    uint8_t ccode;
    int open_result;
    const char *logged;
};

class OpenIpmiAddressRefusal : public OpenIpmiOpen,
                               public ::testing::WithParamInterface<AddressRefusal> {};

TEST_P(OpenIpmiAddressRefusal, DecidesWhetherTheInterfaceIsUsable) {
    const AddressRefusal &c = GetParam();
    driver.deliver({{c.ccode}});
    IpmiIntf *intf = ipmi_openipmi_create();
    EXPECT_EQ(ipmi_openipmi_open(intf), c.open_result);
    EXPECT_EQ(intf->my_addr, 0U);
    EXPECT_THAT(driver.my_addresses, IsEmpty());
    EXPECT_EQ(intf->opened, c.open_result == 0 ? 1 : 0);
    EXPECT_EQ(intf->fd, c.open_result == 0 ? kFd : -1);
    EXPECT_TRUE(log.contains(c.logged));
    ipmi_intf_free(intf);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, OpenIpmiAddressRefusal,
    ::testing::Values(AddressRefusal{0xC1, 0, "IPMC has not a valid address"},
                      AddressRefusal{0xD3, 0, "IPMC has not a valid address"},
                      AddressRefusal{0xD5, 0, "IPMC has not a valid address"},
                      AddressRefusal{0xC0, 74, "cannot readjust ipmb address /dev/ipmi0: 192"},
                      AddressRefusal{0xCC, 74, "cannot readjust ipmb address /dev/ipmi0: 204"},
                      AddressRefusal{0xFF, 74, "cannot readjust ipmb address /dev/ipmi0: 255"}));

TEST_F(OpenIpmiOpen, IpmcWithoutAddressStillGivesAnInterface) {
    driver.deliver({{0xC1}});
    IpmiIntf *intf = nullptr;
    EXPECT_EQ(open_ipmi_intf(&intf), 0);
    ASSERT_NE(intf, nullptr);
    EXPECT_EQ(intf->my_addr, 0U);
    close_ipmi_intf(intf);
}

struct OpenFailure {
    const char *what;
    void (*arrange)(FakeDriver &);
    int open_result;
    const char *logged; // null: nothing at MINOR
};

class OpenIpmiOpenFailure : public OpenIpmiOpen,
                            public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenIpmiOpenFailure, LeavesNoInterfaceBehind) {
    const OpenFailure &c = GetParam();
    c.arrange(driver);
    IpmiIntf *intf = ipmi_openipmi_create();
    EXPECT_EQ(ipmi_openipmi_open(intf), c.open_result);
    EXPECT_EQ(intf->fd, -1);
    EXPECT_EQ(intf->opened, 0);
    if (c.logged != nullptr) {
        EXPECT_TRUE(log.contains(c.logged));
    }
    ipmi_intf_free(intf);

    c.arrange(driver);
    IpmiIntf stale{};
    intf = &stale;
    EXPECT_EQ(open_ipmi_intf(&intf), -2);
    EXPECT_EQ(intf, nullptr);
    driver.deliveries.clear();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OpenIpmiOpenFailure,
    ::testing::Values(
        OpenFailure{"NoDevice", [](FakeDriver &d) { d.open_errno = ENOENT; }, 19, nullptr},
        OpenFailure{"QueryNotSent", [](FakeDriver &d) { d.send_errno = ENXIO; }, -1,
                    "ipmi_adjust_addr): Cannot communicate with IPMC, return code -1"},
        OpenFailure{"NoAnswer",
                    [](FakeDriver &d) {
                        d.select_finds_nothing = true;
                        d.deliver(kAddressInfo);
                    },
                    74, "Cannot communicate with IPMC, return code 74"},
        OpenFailure{"DriverRefusesAddress",
                    [](FakeDriver &d) {
                        d.set_address_errno = EINVAL;
                        d.deliver(kAddressInfo);
                    },
                    -1, "ipmi_adjust_addr): cannot readjust ipmb address /dev/ipmi0"},
        OpenFailure{"AnswerWithoutIpmbAddress",
                    [](FakeDriver &d) {
                        d.deliver({{0x00, 0x00, 0x41}});
                    },
                    74, "IPMC address answer too short: 2 bytes"}),
    [](const ::testing::TestParamInfo<OpenFailure> &p) { return p.param.what; });

TEST_F(OpenIpmiOpen, SecondOpenIsRefusedAndKeepsTheDescriptor) {
    OpenedIntf opened(driver);
    EXPECT_EQ(ipmi_openipmi_open(opened.intf), 22);
    EXPECT_EQ(opened.intf->fd, kFd);
    EXPECT_EQ(opened.intf->opened, 1);
    EXPECT_TRUE(log.contains("Interface already opened"));
    EXPECT_THAT(driver.closed, IsEmpty());
}

TEST_F(OpenIpmiOpen, NullInterfacePointerIsLogged) {
    EXPECT_EQ(open_ipmi_intf(nullptr), -2);
    EXPECT_TRUE(log.contains("open_ipmi_intf): HVL_IPMI API called with intf == NULL"));
    close_ipmi_intf(nullptr);
    EXPECT_EQ(ipmi_intf_free(nullptr), 0);
}

TEST_F(OpenIpmiOpen, FreeClosesAnOpenDescriptorQuietly) {
    driver.deliver(kAddressInfo);
    IpmiIntf *intf = ipmi_openipmi_create();
    ASSERT_EQ(ipmi_openipmi_open(intf), 0);
    log.clear();
    EXPECT_EQ(ipmi_intf_free(intf), 0);
    EXPECT_THAT(driver.closed, ElementsAre(kFd));
    EXPECT_THAT(log.lines(), IsEmpty());
}

class OpenIpmiSend : public OpenIpmiOpen {};

TEST_F(OpenIpmiSend, RequestsGoToTheIpmcThroughTheSystemInterface) {
    OpenedIntf opened(driver);
    opened.intf->target_addr = opened.intf->my_addr; // targeting ourselves is the IPMC too
    for (uint8_t lun : {0, 3}) {
        driver.deliver({{0x00}});
        IpmiResponse response{};
        ASSERT_EQ(send(opened.intf, response, lun), 0);
        const SentMessage &m = driver.sent.back();
        EXPECT_EQ(m.addr_type, IPMI_SYSTEM_INTERFACE_ADDR_TYPE);
        EXPECT_EQ(m.channel, IPMI_BMC_CHANNEL);
        EXPECT_EQ(m.lun, lun);
        EXPECT_EQ(m.addr_len, 8U);
        EXPECT_EQ(m.netfn, 0x06);
        EXPECT_EQ(m.cmd, 0x01);
        EXPECT_THAT(m.data, ElementsAre(0xAA, 0x55));
    }
}

TEST_F(OpenIpmiSend, TargetedRequestsGoOverIpmb) {
    OpenedIntf opened(driver);
    opened.intf->target_addr = 0x1272;
    opened.intf->target_channel = 0x17;
    driver.deliver({{0x00}});
    IpmiResponse response{};
    ASSERT_EQ(send(opened.intf, response, 2), 0);
    const SentMessage &m = driver.sent.back();
    EXPECT_EQ(m.addr_type, IPMI_IPMB_ADDR_TYPE);
    EXPECT_EQ(m.channel, 7);
    EXPECT_EQ(m.slave_addr, 0x72);
    EXPECT_EQ(m.lun, 2);
    EXPECT_EQ(m.addr_len, 8U);
}

TEST_F(OpenIpmiSend, MessageIdsCountUpAcrossInterfaces) {
    OpenedIntf first(driver);
    OpenedIntf second(driver);
    IpmiResponse response{};
    for (IpmiIntf *intf : {first.intf, second.intf, first.intf}) {
        driver.deliver({{0x00}});
        ASSERT_EQ(send(intf, response), 0);
    }
    ASSERT_EQ(driver.sent.size(), 3U);
    EXPECT_EQ(driver.sent[1].msgid, driver.sent[0].msgid + 1);
    EXPECT_EQ(driver.sent[2].msgid, driver.sent[0].msgid + 2);
}

struct Unpacking {
    const char *what;
    std::vector<uint8_t> received;
    uint8_t ccode;
    std::vector<uint8_t> data; // the first data_len + 1 bytes of the response's data
};

class OpenIpmiUnpack : public OpenIpmiOpen, public ::testing::WithParamInterface<Unpacking> {};

TEST_P(OpenIpmiUnpack, SplitsOffTheCompletionCode) {
    const Unpacking &c = GetParam();
    OpenedIntf opened(driver);
    driver.deliver({c.received});
    IpmiResponse response{};
    std::memset(response.data, 0xEE, sizeof response.data);
    ASSERT_EQ(send(opened.intf, response), 0);
    EXPECT_EQ(response.ccode, c.ccode);
    EXPECT_EQ(response.data_len, static_cast<int32_t>(c.received.size() - 1));
    const std::vector<uint8_t> head(response.data, response.data + c.data.size());
    EXPECT_EQ(head, c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, OpenIpmiUnpack,
    ::testing::Values(
        Unpacking{
            "DataMoveDownAndEndInZero", {0x00, 0x11, 0x22, 0x33}, 0x00, {0x11, 0x22, 0x33, 0x00}},
        Unpacking{"ErrorCodeStaysInFront", {0xC1, 0x11, 0x22}, 0xC1, {0xC1, 0x11, 0x22, 0xEE}},
        Unpacking{"CodeAloneLeavesTheRest", {0x00}, 0x00, {0x00, 0xEE}},
        Unpacking{"ErrorCodeAlone", {0xCC}, 0xCC, {0xCC, 0xEE}}),
    [](const ::testing::TestParamInfo<Unpacking> &p) { return p.param.what; });

TEST_F(OpenIpmiSend, CutAnswerIsStillAnAnswer) {
    OpenedIntf opened(driver);
    std::vector<uint8_t> long_answer(1500);
    for (size_t i = 0; i < long_answer.size(); ++i) {
        long_answer[i] = static_cast<uint8_t>(i);
    }
    driver.deliver({long_answer});
    IpmiResponse response{};
    ASSERT_EQ(send(opened.intf, response), 0);
    EXPECT_EQ(response.ccode, 0x00);
    EXPECT_EQ(response.data_len, 1023);
    EXPECT_EQ(response.data[0], 1);
    EXPECT_EQ(response.data[1022], 1023 & 0xFF);
    EXPECT_EQ(response.data[1023], 0);
}

TEST_F(OpenIpmiSend, EmptyAnswerIsNoAnswer) {
    OpenedIntf opened(driver);
    driver.deliver({{}});
    IpmiResponse response{};
    EXPECT_EQ(send(opened.intf, response), 74);
    EXPECT_TRUE(log.contains("ipmi_openipmi_send_cmd): Got message without completion code"));
}

TEST_F(OpenIpmiSend, ReceivedMessageIsLoggedLineByLine) {
    OpenedIntf opened(driver);
    driver.deliver({{0x00, 0x0A, 0xFF}});
    IpmiResponse response{};
    log.clear();
    ASSERT_EQ(send(opened.intf, response), 0);
    const std::vector<std::string> expected = {
        "Got message:",       "  type      = 1 ",   "  channel   = 0xf ", "  msgid     = ",
        "  netfn     = 0x7 ", "  cmd       = 0x1 ", "  data_len  = 3 ",   "  data      = 000aff "};
    ASSERT_EQ(log.lines().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_THAT(log.lines()[i],
                    ::testing::HasSubstr("ipmi_openipmi_send_cmd): " + expected[i]));
    }
}

struct SendFailure {
    const char *what;
    void (*arrange)(FakeDriver &);
    int result;
    const char *logged; // null: nothing logged
};

class OpenIpmiSendFailure : public OpenIpmiOpen,
                            public ::testing::WithParamInterface<SendFailure> {};

TEST_P(OpenIpmiSendFailure, ReportsTheFailingStep) {
    const SendFailure &c = GetParam();
    OpenedIntf opened(driver);
    c.arrange(driver);
    log.clear();
    IpmiResponse response{};
    EXPECT_EQ(send(opened.intf, response), c.result);
    if (c.logged != nullptr) {
        EXPECT_TRUE(log.contains(c.logged));
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
                                  22, nullptr}),
    [](const ::testing::TestParamInfo<SendFailure> &p) { return p.param.what; });

TEST_F(OpenIpmiSend, RefusesWithoutArgumentsOrDevice) {
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

struct HexCase {
    std::vector<uint8_t> bytes;
    const char *text; // null: no text
};

class IpmiHexString : public ::testing::TestWithParam<HexCase> {};

TEST_P(IpmiHexString, WritesLowerCasePairs) {
    const HexCase &c = GetParam();
    const char *text = ipmi_hex_string(c.bytes.data(), static_cast<int>(c.bytes.size()));
    if (c.text == nullptr) {
        EXPECT_EQ(text, nullptr);
    } else {
        EXPECT_STREQ(text, c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, IpmiHexString,
                         ::testing::Values(HexCase{{}, nullptr}, HexCase{{0x00}, "00"},
                                           HexCase{{0x0A, 0xFF, 0x5c}, "0aff5c"},
                                           HexCase{std::vector<uint8_t>(1025), nullptr}));

TEST(IpmiHexStringLimit, LongestMessageFits) {
    const std::vector<uint8_t> bytes(1024, 0xAB);
    std::string expected;
    for (int i = 0; i < 1024; ++i) {
        expected += "ab";
    }
    const char *text = ipmi_hex_string(bytes.data(), 1024);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), expected);
}

} // namespace
