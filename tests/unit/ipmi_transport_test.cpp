// The OpenIPMI transport against a scripted driver behind the system-call
// seam: opening, addressing, answers cut or empty, and each failing call.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <numeric>
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
using ::testing::IsEmpty;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr int kFd = 5;

// Address type, channel, slave address (-1 unless IPMB), LUN, address length;
// then netfn, command and data of a request as the driver got it.
using Sent = std::tuple<int, int, int, int, unsigned, int, int, Bytes>;

// Get Address Info answered: PICMG identifier, hardware address 0x41, IPMB-0 address 0x82.
const Bytes kAddressInfo{0x00, 0x00, 0x41, 0x82, 0xFF, 0x00, 0x00, 0x00};

// Stands in for the kernel: the device, its three driver requests and select.
// Each delivery is the next message; with none left a receive fails.
class FakeDriver {
public:
    FakeDriver() : seam_(kOps) { self = this; }
    ~FakeDriver() { self = nullptr; }

    int open_errno = 0, send_errno = 0, select_errno = 0, set_address_errno = 0;
    bool select_finds_nothing = false;
    std::deque<Bytes> deliveries;
    std::vector<Sent> sent;
    std::vector<unsigned> my_addresses;
    size_t opened = 0, closed = 0;

private:
    static inline FakeDriver *self = nullptr;

    // -1 with `error` in errno if there is one, else `result`.
    static int outcome(int error, int result = 0) {
        errno = error;
        return error != 0 ? -1 : result;
    }

    static int open(const char *path, int flags) {
        EXPECT_TRUE(std::string(path) == "/dev/ipmi0" && (flags & O_ACCMODE) == O_RDWR);
        self->opened += self->open_errno == 0 ? 1 : 0;
        return outcome(self->open_errno, kFd);
    }

    static int close(int fd) {
        EXPECT_EQ(fd, kFd);
        ++self->closed;
        return 0;
    }

    static int ioctl(int fd, unsigned long request, void *arg) {
        EXPECT_EQ(fd, kFd);
        if (request == IPMICTL_SEND_COMMAND) {
            self->record(*static_cast<const ipmi_req *>(arg));
            return outcome(self->send_errno);
        }
        if (request == IPMICTL_RECEIVE_MSG_TRUNC) {
            return self->receive(*static_cast<ipmi_recv *>(arg));
        }
        EXPECT_EQ(request, IPMICTL_SET_MY_ADDRESS_CMD);
        self->my_addresses.push_back(*static_cast<const unsigned *>(arg));
        return outcome(self->set_address_errno);
    }

    // Waits without a timeout for the device alone to become readable.
    static int select(int nfds, fd_set *readable, fd_set *writable, fd_set *errors,
                      timeval *timeout) {
        EXPECT_TRUE(nfds == kFd + 1 && FD_ISSET(kFd, readable) && writable == nullptr &&
                    errors == nullptr && timeout == nullptr);
        if (self->select_finds_nothing) {
            FD_ZERO(readable);
        }
        return outcome(self->select_errno, self->select_finds_nothing ? 0 : 1);
    }

    void record(const ipmi_req &req) {
        ipmi_ipmb_addr ipmb{};
        ipmi_system_interface_addr system{};
        std::memcpy(&ipmb, req.addr, std::min<size_t>(req.addr_len, sizeof ipmb));
        std::memcpy(&system, req.addr, std::min<size_t>(req.addr_len, sizeof system));
        const bool over_ipmb = ipmb.addr_type == IPMI_IPMB_ADDR_TYPE;
        sent.emplace_back(ipmb.addr_type, ipmb.channel, over_ipmb ? ipmb.slave_addr : -1,
                          over_ipmb ? ipmb.lun : system.lun, req.addr_len, req.msg.netfn,
                          req.msg.cmd, Bytes(req.msg.data, req.msg.data + req.msg.data_len));
    }

    // Answers from the system interface; like the driver, a message longer
    // than the buffer is cut with EMSGSIZE.
    int receive(ipmi_recv &recv) {
        if (deliveries.empty()) {
            return outcome(EAGAIN);
        }
        const Bytes next = deliveries.front();
        deliveries.pop_front();
        EXPECT_EQ(recv.addr_len, 40U);
        const ipmi_system_interface_addr from{IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, 0};
        std::memcpy(recv.addr, &from, sizeof from);
        const size_t room = recv.msg.data_len;
        recv.msg.data_len = static_cast<unsigned short>(std::min(room, next.size()));
        std::copy_n(next.begin(), recv.msg.data_len, recv.msg.data);
        return outcome(next.size() > room ? EMSGSIZE : 0);
    }

    static unsigned sleep(unsigned /*seconds*/) {
        ADD_FAILURE() << "the transport never pauses";
        return 0;
    }

    static constexpr hvl::sys::Ops kOps{open, ioctl, close, select, sleep};
    hvl::sys::OpsOverride seam_;
};

class OpenIpmi : public ::testing::Test {
protected:
    void TearDown() override { close_ipmi_intf(intf); }

    // Opens `intf`; the IPMC gives the address 0x82.
    int open() {
        driver.deliveries.push_back(kAddressInfo);
        return open_ipmi_intf(&intf);
    }

    // Sends App 0x01 with the data AA 55 through `to`.
    int send(uint8_t lun = 0, IpmiIntf *to = nullptr) {
        static const uint8_t data[] = {0xAA, 0x55};
        const IpmiRequest request{0x06, lun, 0x01, 2, data};
        to = to != nullptr ? to : intf;
        return to->send(to, &request, &response);
    }

    LogCapture log;
    FakeDriver driver;
    IpmiIntf *intf = nullptr;
    IpmiResponse response{};
};

// A second open is refused and keeps the descriptor; close releases it.
TEST_F(OpenIpmi, AsksTheIpmcForItsAddressAndGivesItToTheDriver) {
    ASSERT_EQ(open(), 0);
    EXPECT_STREQ(intf->name, "open");
    EXPECT_STREQ(intf->desc, "Linux OpenIPMI interface");
    EXPECT_EQ(std::make_tuple(kFd, 1, 0x82U), std::tie(intf->fd, intf->opened, intf->my_addr));
    EXPECT_THAT(driver.my_addresses, ElementsAre(0x82U));
    const Sent query{IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, -1, 0, 8, 0x2C, 0x01, {0}};
    EXPECT_THAT(driver.sent, ElementsAre(query));
    EXPECT_TRUE(log.contains("ipmi_openipmi_open): Opened /dev/ipmi0 as FD 5"));

    EXPECT_EQ(ipmi_openipmi_open(intf), 22);
    EXPECT_EQ(std::make_tuple(kFd, 1), std::tie(intf->fd, intf->opened));
    EXPECT_TRUE(log.contains("Interface already opened"));
    EXPECT_EQ(driver.closed, 0U);
    close_ipmi_intf(intf);
    EXPECT_EQ(driver.closed, 1U);
    EXPECT_TRUE(log.contains("ipmi_openipmi_close): Closing FD 5"));
    intf = nullptr;
}

void as_is(FakeDriver & /*driver*/) {}

// An IPMC without an address still gives a usable interface; every other
// failure, of the IPMC or of a step of the query, leaves no interface and no
// descriptor behind, and open gives the failing step's result.
TEST(OpenIpmiOpenCase, DecidesWhetherTheInterfaceIsUsable) {
    const std::string refused = "cannot readjust ipmb address /dev/ipmi0";
    const std::string no_address = "IPMC has not a valid address";
    const std::string failed = "ipmi_adjust_addr): Cannot communicate with IPMC, return code ";
    // The answer to the address query, the result of ipmi_openipmi_open (0:
    // usable), a message logged (empty: not checked) and how the driver behaves.
    // clang-format off
    const std::tuple<const char *, Bytes, int, std::string, void (*)(FakeDriver &)> cases[] = {
        {"invalid command", {0xC1}, 0, no_address, as_is},
        {"destination unavailable", {0xD3}, 0, no_address, as_is},
        {"not in present state", {0xD5}, 0, no_address, as_is},
        {"node busy", {0xC0}, 74, refused + ": 192", as_is},
        {"no device", {0}, 19, "", [](FakeDriver &d) { d.open_errno = ENOENT; }},
        {"query not sent", {0}, -1, "IOCTL failed: Device or resource busy (16)",
         [](FakeDriver &d) { d.send_errno = EBUSY; }},
        {"select interrupted", {0}, -1, "select failed: Interrupted system call (4)",
         [](FakeDriver &d) { d.select_errno = EINTR; }},
        {"no answer", {0}, 74, failed + "74", [](FakeDriver &d) { d.select_finds_nothing = true; }},
        {"receive fails", {0}, 22, failed + "22", [](FakeDriver &d) { d.deliveries.clear(); }},
        {"empty answer", {}, 74, "openipmi_send_cmd): Got message without completion code", as_is},
        {"driver refuses the address", kAddressInfo, -1, "ipmi_adjust_addr): " + refused,
         [](FakeDriver &d) { d.set_address_errno = EINVAL; }},
        {"no IPMB address", {0, 0, 0x41}, 74, "IPMC address answer too short: 2 bytes", as_is},
    };
    // clang-format on
    for (const auto &[name, answer, result, logged, arrange] : cases) {
        SCOPED_TRACE(name);
        LogCapture log;
        FakeDriver driver;
        driver.deliveries.push_back(answer);
        arrange(driver);
        IpmiIntf *intf = ipmi_openipmi_create();
        EXPECT_EQ(ipmi_openipmi_open(intf), result);
        EXPECT_EQ(std::make_tuple(result == 0 ? kFd : -1, result == 0 ? 1 : 0),
                  std::tie(intf->fd, intf->opened));
        EXPECT_TRUE(logged.empty() || log.contains(logged)) << logged;
        ipmi_intf_free(intf);
        EXPECT_EQ(driver.closed, driver.opened) << "descriptor left open";

        driver.deliveries.assign(1, answer);
        arrange(driver);
        IpmiIntf stale{};
        intf = &stale;
        EXPECT_EQ(open_ipmi_intf(&intf), result == 0 ? 0 : -2);
        EXPECT_EQ(intf != nullptr, result == 0);
        close_ipmi_intf(intf);
    }
}

TEST_F(OpenIpmi, NullArgumentsAndClosedInterfacesAreRefused) {
    EXPECT_EQ(open_ipmi_intf(nullptr), -2);
    EXPECT_TRUE(log.contains("open_ipmi_intf): HVL_IPMI API called with intf == NULL"));
    close_ipmi_intf(nullptr);
    EXPECT_EQ(ipmi_intf_free(nullptr), 0);
    IpmiRequest request{};
    EXPECT_EQ(ipmi_openipmi_send_cmd(nullptr, &request, &response), 22);
    IpmiIntf *closed = ipmi_openipmi_create();
    EXPECT_EQ(ipmi_openipmi_send_cmd(closed, nullptr, &response), 22);
    EXPECT_TRUE(log.contains("Parameters not initialized"));
    EXPECT_EQ(closed->send(closed, &request, &response), 19);
    EXPECT_TRUE(log.contains("Device not initialized"));
    EXPECT_THAT(driver.sent, IsEmpty());
    ipmi_intf_free(closed);
}

TEST_F(OpenIpmi, RequestsGoToTheIpmcOrOverIpmbToATarget) {
    ASSERT_EQ(open(), 0);
    // Target address and channel (0x82 is the IPMC's own address), LUN; then the route.
    const std::tuple<uint32_t, uint32_t, uint8_t, int, int, int> routes[] = {
        {0, 0, 0, IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, -1},
        {0x82, 0, 3, IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, -1},
        {0x1272, 0x17, 2, IPMI_IPMB_ADDR_TYPE, 7, 0x72},
    };
    for (const auto &[target_addr, target_channel, lun, addr_type, channel, slave] : routes) {
        intf->target_addr = target_addr;
        intf->target_channel = target_channel;
        driver.deliveries.push_back({0x00});
        ASSERT_EQ(send(lun), 0);
        EXPECT_EQ(driver.sent.back(),
                  Sent(addr_type, channel, slave, lun, 8, 0x06, 0x01, {0xAA, 0x55}));
    }
}

// Data move down and end in a 0 after success; an error code stays in front.
// An answer longer than the buffer arrives cut (EMSGSIZE) and is still an answer.
TEST_F(OpenIpmi, AnswersAreSplitIntoCompletionCodeAndData) {
    ASSERT_EQ(open(), 0);
    Bytes longest(1500);
    std::iota(longest.begin(), longest.end(), 0);
    Bytes cut(longest.begin() + 1, longest.begin() + 1024);
    cut.push_back(0);
    const std::tuple<const char *, Bytes, uint8_t, int32_t, Bytes> answers[] = {
        // received, then ccode, data_len and the first bytes of data, which start as 0xEE
        {"data", {0x00, 0x01, 0x02, 0x03}, 0x00, 3, {0x01, 0x02, 0x03, 0x00}},
        {"error with data", {0xC1, 0xC2, 0xC3}, 0xC1, 2, {0xC1, 0xC2, 0xC3, 0xEE}},
        {"code alone", {0x00}, 0x00, 0, {0x00, 0xEE}},
        {"error code alone", {0xCC}, 0xCC, 0, {0xCC, 0xEE}},
        {"cut answer", longest, 0x00, 1023, cut},
    };
    for (const auto &[name, received, ccode, data_len, data] : answers) {
        SCOPED_TRACE(name);
        driver.deliveries.push_back(received);
        std::memset(response.data, 0xEE, sizeof response.data);
        ASSERT_EQ(send(), 0);
        EXPECT_EQ(std::make_tuple(ccode, data_len), std::tie(response.ccode, response.data_len));
        EXPECT_EQ(Bytes(response.data, response.data + data.size()), data);
    }
}

TEST(IpmiHexString, WritesLowerCasePairsOfOneToAtMost1024Bytes) {
    const Bytes bytes{0x0A, 0xFF, 0x5c};
    EXPECT_STREQ(ipmi_hex_string(bytes.data(), 3), "0aff5c");
    EXPECT_EQ(ipmi_hex_string(bytes.data(), 0), nullptr);
    const Bytes longest(1025, 0xAA);
    EXPECT_STREQ(ipmi_hex_string(longest.data(), 1024), std::string(2048, 'a').c_str());
    EXPECT_EQ(ipmi_hex_string(longest.data(), 1025), nullptr);
}

} // namespace
