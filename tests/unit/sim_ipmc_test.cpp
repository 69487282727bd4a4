// The simulated IPMC behind /dev/ipmi0, as a program sees it through the
// OpenIPMI driver's requests: the answers of the IPMC, the driver's queue and
// its refusals, and the faults board files give it.
#include "sim_test_support.h"

#include "devices.h"
#include "ipmi/ostrel_constants.h"

#include <linux/ipmi.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <vector>

namespace {

using sim::SimBoard;
using namespace sim_test;
using ::testing::ElementsAre;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kNetFnApp = 0x06;
constexpr std::uint8_t kNetFnPicmg = 0x2C;
constexpr std::uint8_t kNetFnSigned = 0x3E;
constexpr std::uint8_t kNetFnCoded = 0x30;
constexpr std::uint8_t kIpmcAddress = 0x82; // the default board's IPMB-0 address
constexpr int kSi = IPMI_SYSTEM_INTERFACE_ADDR_TYPE;
constexpr int kIpmb = IPMI_IPMB_ADDR_TYPE;
constexpr short kBmc = IPMI_BMC_CHANNEL;

Bytes operator+(Bytes head, const Bytes &rest) {
    head.insert(head.end(), rest.begin(), rest.end());
    return head;
}

// Request data of the two OEM groups: the access signature, or the access
// code of `product` (the default board's), then `rest`.
const hvl::ostrel::AccessSignature kBuilt = hvl::ostrel::access_signature();
const Bytes kSignature(kBuilt.begin(), kBuilt.end());
Bytes signed_data(const Bytes &rest) { return kSignature + rest; }

Bytes coded_data(const Bytes &rest, std::uint16_t product = 0x3120) {
    const hvl::ostrel::AccessCode code = *hvl::ostrel::access_code(product);
    return Bytes(code.begin(), code.end()) + rest;
}

// An address of the system interface, or over IPMB to the IPMC's address.
ipmi_addr address(int type, short channel, unsigned char lun = 0) {
    ipmi_addr addr{};
    const ipmi_system_interface_addr si{type, channel, lun};
    const ipmi_ipmb_addr ipmb{type, channel, kIpmcAddress, lun};
    std::memcpy(&addr, type == kIpmb ? static_cast<const void *>(&ipmb) : &si, 8);
    return addr;
}

struct Received {
    int ret = 0, err = 0;
    ipmi_recv recv{};
    ipmi_addr from{};
    Bytes data; // as many bytes as the driver said it copied
};

// /dev/ipmi0 open on a board, and the requests a client sends it.
struct Ipmi : Open {
    explicit Ipmi(std::unique_ptr<SimBoard> on = board_file())
        : Open(IPMI_OPENIPMI_DEVICE, std::move(on)) {}

    // A message to `to` as a client sends it: errno, or 0.
    int send_to(const void *to, unsigned to_len, std::uint8_t netfn, std::uint8_t cmd, Bytes data,
                long msgid = 1) {
        ipmi_req req{static_cast<unsigned char *>(const_cast<void *>(to)), to_len, msgid, {}};
        req.msg = {netfn, cmd, static_cast<unsigned short>(data.size()),
                   data.empty() ? nullptr : data.data()};
        return board->ioctl(fd, IPMICTL_SEND_COMMAND, &req) == 0 ? 0 : errno;
    }
    int send(std::uint8_t netfn, std::uint8_t cmd, const Bytes &data = {}, long msgid = 1,
             unsigned char lun = 0) {
        const ipmi_addr to = address(kSi, kBmc, lun);
        return send_to(&to, 8, netfn, cmd, data, msgid);
    }
    Received receive(unsigned long request = IPMICTL_RECEIVE_MSG_TRUNC, std::size_t buffer = 1024,
                     unsigned addr_len = sizeof(ipmi_addr), int on = -1) {
        Received got;
        Bytes bytes(buffer, 0xEE);
        got.recv.addr = reinterpret_cast<unsigned char *>(&got.from);
        got.recv.addr_len = addr_len;
        got.recv.msg.data = bytes.data();
        got.recv.msg.data_len = static_cast<unsigned short>(buffer);
        got.ret = board->ioctl(on < 0 ? fd : on, request, &got.recv);
        got.err = got.ret < 0 ? errno : 0;
        got.data.assign(bytes.begin(),
                        bytes.begin() + std::min<std::size_t>(got.recv.msg.data_len, buffer));
        got.recv.msg.data = nullptr;
        return got;
    }
    // One request to the IPMC and its answer, completion code first, however long.
    Bytes ask(std::uint8_t netfn, std::uint8_t cmd, const Bytes &data = {}) {
        EXPECT_EQ(send(netfn, cmd, data), 0);
        const Received got = receive(IPMICTL_RECEIVE_MSG_TRUNC, sim::kMaxFaultAnswer);
        EXPECT_EQ(got.ret, 0);
        return got.data;
    }
    std::uint8_t reg(std::uint8_t offset) {
        const Bytes answer = ask(kNetFnSigned, 0x62, signed_data({offset, 0x01}));
        EXPECT_EQ(answer.size(), 2u) << "offset " << int(offset);
        return answer.size() == 2 ? answer[1] : 0;
    }
    bool readable() const {
        pollfd entry{fd, POLLIN, 0};
        return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN) != 0;
    }
};

// ---- What the IPMC answers ----

struct Answer {
    const char *what;
    std::uint8_t netfn, cmd;
    Bytes data;
    Bytes answer; // completion code first
    // A board file, or what a board on the default one says.
    std::string board = "default.toml";
    friend void PrintTo(const Answer &c, std::ostream *os) { *os << c.board << ": " << c.what; }
};

// The default board's answers to the requests ipmitool makes (Device ID,
// PICMG properties and address info, a register read, self-test, the records
// after reset with and without the mezzanine) are the command-line cases'.
// A record a board file gives verbatim, bad CRC and all; a product without an
// access code.
const std::string kGivenRecord = "[ipmc.engineering]\nrecord = [1, 2, 3, 4, 5, 6, 7, 8, 9, 10, "
                                 "11, 12, 13, 14, 15, 16, 17]\n";
const Bytes kGivenRecordAnswer = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
const std::string kNoCode = "[ipmc.device_id]\nproduct_id = 0x1234\n";
// Keys that share a byte of the answer, each at its bound.
const std::string kSharedBytes = "[ipmc.device_id]\ndevice_revision = 15\nprovides_sdrs = false\n"
                                 "manufacturer_id = 0xFFFFF\n[ipmc.params]\npm_mode = false\n"
                                 "ipmb_mode = true\nextra = 7\n";
const std::string kFiveAmcPorts = [] {
    std::string five;
    for (int i = 0; i < 5; ++i) {
        five +=
            "[[ipmc.picmg.amc_port]]\nchannel = 9\nlanes = 0xF\nlink_type = 2\nenabled = true\n";
    }
    return five;
}();

// clang-format off
const Answer kAnswers[] = {
    {"register not implemented", kNetFnSigned, 0x62, signed_data({0x05, 0x01}), {0x00, 0xFF}},
    {"parameters", kNetFnSigned, 0x05, signed_data({0x00, 0x00, 0x00}), {0x00, 0x00, 0x01, 0x00}},
    {"unknown App command", kNetFnApp, 0x02, {}, {0xC1}},
    {"Device ID with data", kNetFnApp, 0x01, {0x00}, {0xC7}},
    {"PICMG properties of another group", kNetFnPicmg, 0x00, {0x03}, {0xCC}},
    {"LED properties: LEDs 0-3 and one more", kNetFnPicmg, 0x05, {0x00, 0x00}, {0, 0, 0x0F, 1}},
    {"LED colours: amber and orange by default", kNetFnPicmg, 0x06, {0, 0, 3}, {0, 0, 0x30, 4, 5}},
    {"LED state in override", kNetFnPicmg, 0x08, {0, 0, 3}, {0, 0, 3, 0x32, 0x0A, 4, 0xFF, 0, 5}},
    {"address info of a FRU it lacks", kNetFnPicmg, 0x01, {0x00, 0x07}, {0xCB}},
    {"LED state of an LED it lacks", kNetFnPicmg, 0x08, {0x00, 0x01, 0x03}, {0xCC}},
    {"LED state, a byte short", kNetFnPicmg, 0x08, {0x00, 0x01}, {0xC7}},
    {"AMC port state of five links: four", kNetFnPicmg, 0x1A, {0x00, 0x09},
     {0, 0, 0x2F, 0, 0, 1, 0x2F, 0, 0, 1, 0x2F, 0, 0, 1, 0x2F, 0, 0, 1}, kFiveAmcPorts},
    {"register read, signature cut", kNetFnSigned, 0x62, {0x7E, 0x31, 0xB6}, {0xC7}},
    {"register write, wrong end byte", kNetFnSigned, 0x62, signed_data({0x55, 0, 0x12, 0}), {0xCC}},
    {"register operation 2", kNetFnSigned, 0x62, signed_data({0x55, 0x02}), {0xCC}},
    {"parameters, unknown selector", kNetFnSigned, 0x05, signed_data({0x01, 0, 0}), {0xCC}},
    {"record get, another product's code", kNetFnCoded, 0x03, coded_data({}, 0x3140), {0xD4}},
    {"record set, a byte short", kNetFnCoded, 0x04, coded_data(Bytes(16, 0)), {0xC7}},
    {"record get", kNetFnCoded, 0x03, coded_data({}), kGivenRecordAnswer, kGivenRecord},
    {"record get, product without a code", kNetFnCoded, 0x03, coded_data({}), {0xD4}, kNoCode},
    {"Device ID", kNetFnApp, 0x01, {},
     {0, 0, 0x0F, 1, 5, 0x51, 0x29, 0xFF, 0xFF, 0x0F, 0x20, 0x31, 0, 0, 0, 0}, kSharedBytes},
    {"parameters", kNetFnSigned, 0x05, signed_data({0, 0, 0}), {0, 0, 0x10, 7}, kSharedBytes},
    {"self-test with data", kNetFnApp, 0x04, {0x00}, {0xC7}},
    {"register read, a byte more", kNetFnSigned, 0x62, signed_data({0x55, 0x01, 0x00}), {0xC7}},
    {"register write, end byte missing", kNetFnSigned, 0x62, signed_data({0x55, 0, 0x12}), {0xC7}},
    {"register write, a byte more", kNetFnSigned, 0x62, signed_data({0x55, 0, 0x12, 0xFF, 0}), {0xC7}},
    {"register operation 2, more bytes", kNetFnSigned, 0x62, signed_data({0x55, 0x02, 0, 0}), {0xCC}},
    {"LED properties, a byte more", kNetFnPicmg, 0x05, {0x00, 0x00, 0x00}, {0xC7}},
    {"PICMG request without its identifier", kNetFnPicmg, 0x05, {}, {0xC7}},
    {"thresholds, a byte more", 0x04, 0x27, {0x01, 0x00}, {0xC7}},
    {"FRU data read, a byte more", 0x0A, 0x11, {0x00, 0x00, 0x00, 0x08, 0x00}, {0xC7}},
    {"record set, a byte more", kNetFnCoded, 0x04, coded_data(Bytes(18, 0)), {0xC7}},
    {"parameters, a byte more", kNetFnSigned, 0x05, signed_data({0x00, 0x00, 0x00, 0x00}), {0xC7}},
};
// clang-format on

class IpmcRequest : public ::testing::TestWithParam<Answer> {};

TEST_P(IpmcRequest, GetsItsAnswerOrACompletionCodeAloneAndChangesNothingElse) {
    const Answer &c = GetParam();
    const bool file = c.board.find('\n') == std::string::npos;
    Ipmi ipmi(file ? board_file(c.board) : board_with(c.board));
    EXPECT_EQ(ipmi.ask(c.netfn, c.cmd, c.data), c.answer);
    EXPECT_EQ(ipmi.reg(0x55), 0x00);
    EXPECT_EQ(ipmi.reg(0xFF), 0x0C);
}

INSTANTIATE_TEST_SUITE_P(Ipmc, IpmcRequest, ::testing::ValuesIn(kAnswers));

TEST(Ipmc, AreaRegistersKeepWritesExceptReadOnlyAndUnimplementedOnes) {
    Ipmi ipmi;
    for (const std::uint8_t offset : {0x55, 0xFF, 0x05}) { // writable, read-only, not there
        EXPECT_THAT(ipmi.ask(kNetFnSigned, 0x62, signed_data({offset, 0x00, 0xA5, 0xFF})),
                    ElementsAre(0x00));
    }
    EXPECT_EQ(ipmi.reg(0x55), 0xA5);
    EXPECT_EQ(ipmi.reg(0xFF), 0x0C);
    EXPECT_EQ(ipmi.reg(0x05), 0xFF);
}

TEST(Driver, AnswerEchoesMsgidAndCommandWithTheResponseNetfnAndTheSendersAddress) {
    Ipmi ipmi;
    ASSERT_EQ(ipmi.send(kNetFnSigned, 0x62, signed_data({0xFF, 0x01}), 123456, 3), 0);
    const Received got = ipmi.receive();
    ipmi_system_interface_addr from{};
    std::memcpy(&from, &got.from, sizeof from);
    EXPECT_EQ(std::make_tuple(got.ret, got.recv.recv_type, got.recv.msgid, got.recv.msg.netfn,
                              got.recv.msg.cmd, got.recv.addr_len),
              std::make_tuple(0, IPMI_RESPONSE_RECV_TYPE, 123456L, kNetFnSigned | 1, 0x62,
                              unsigned{sizeof from}));
    EXPECT_EQ(std::make_tuple(from.addr_type, from.channel, from.lun),
              std::make_tuple(kSi, kBmc, 3));
    EXPECT_THAT(got.data, ElementsAre(0x00, 0x0C));
}

// Readable exactly while answers wait, handed over in order; one too large for
// the buffer stays queued unless the receive may truncate it.
TEST(Driver, QueueIsReadableWhileAnswersWaitAndHandsThemOverInOrderOrCut) {
    Ipmi ipmi;
    EXPECT_FALSE(ipmi.readable());
    EXPECT_EQ(ipmi.receive().err, EAGAIN);
    ASSERT_EQ(ipmi.send(kNetFnApp, 0x01, {}, 7), 0);
    ASSERT_EQ(ipmi.send(kNetFnSigned, 0x62, signed_data({0xFD, 0x01}), 8), 0);
    ASSERT_EQ(ipmi.send(kNetFnApp, 0x01, {}, 9), 0);
    EXPECT_TRUE(ipmi.readable());
    fd_set set;
    FD_ZERO(&set);
    FD_SET(ipmi.fd, &set);
    timeval none{0, 0};
    EXPECT_EQ(::select(ipmi.fd + 1, &set, nullptr, nullptr, &none), 1);
    EXPECT_EQ(ipmi.receive().recv.msgid, 7);
    EXPECT_EQ(ipmi.receive().recv.msgid, 8);
    EXPECT_TRUE(ipmi.readable());

    EXPECT_EQ(ipmi.receive(IPMICTL_RECEIVE_MSG_TRUNC, 1024, 4).err, EINVAL); // address buffer
    const Received kept = ipmi.receive(IPMICTL_RECEIVE_MSG, 4);
    EXPECT_EQ(kept.ret, -1);
    EXPECT_EQ(kept.err, EMSGSIZE);
    EXPECT_EQ(kept.recv.msgid, 0); // the record as it was
    EXPECT_EQ(kept.recv.msg.data_len, 4);
    EXPECT_TRUE(ipmi.readable());
    const Received cut = ipmi.receive(IPMICTL_RECEIVE_MSG_TRUNC, 4);
    EXPECT_EQ(cut.ret, -1);
    EXPECT_EQ(cut.err, EMSGSIZE);
    EXPECT_EQ(cut.recv.msgid, 9);
    EXPECT_THAT(cut.data, ElementsAre(0x00, 0x00, 0x81, 0x01));
    EXPECT_FALSE(ipmi.readable());
    EXPECT_EQ(ipmi.receive(IPMICTL_RECEIVE_MSG).err, EAGAIN);
}

struct BadSend {
    const char *what;
    ipmi_addr to;
    unsigned to_len;
    std::uint8_t cmd; // of the App group
    std::size_t data_len;
    int err;
    friend void PrintTo(const BadSend &c, std::ostream *os) { *os << c.what; }
};

const BadSend kBadSends[] = {
    {"system interface on channel 0", address(kSi, 0), 8, 0x01, 0, EINVAL},
    {"LUN above 3", address(kSi, kBmc, 4), 8, 0x01, 0, EINVAL},
    {"address cut short", address(kSi, kBmc), 6, 0x01, 0, EINVAL},
    {"address longer than any", address(kSi, kBmc), 41, 0x01, 0, EINVAL},
    {"LAN address", address(IPMI_LAN_ADDR_TYPE, 1), 8, 0x01, 0, EINVAL},
    {"IPMB on the system interface channel", address(kIpmb, kBmc), 8, 0x01, 0, EINVAL},
    {"the driver's own Get Message", address(kSi, kBmc), 8, 0x33, 0, EINVAL},
    {"more than the driver's buffer", address(kSi, kBmc), 8, 0x01, 271, EMSGSIZE},
    {"more than fits over IPMB", address(kIpmb, 0), 8, 0x01, 263, EMSGSIZE},
};

class BadSendCommand : public ::testing::TestWithParam<BadSend> {};

TEST_P(BadSendCommand, IsRefusedLikeTheDriverAndQueuesNothing) {
    const BadSend &c = GetParam();
    Ipmi ipmi;
    EXPECT_EQ(ipmi.send_to(&c.to, c.to_len, kNetFnApp, c.cmd, Bytes(c.data_len, 0)), c.err);
    EXPECT_FALSE(ipmi.readable());
}

INSTANTIATE_TEST_SUITE_P(Driver, BadSendCommand, ::testing::ValuesIn(kBadSends));

TEST(Driver, OverIpmbTheIpmcAndTheControllersOnIpmbLAnswerAndOthersTimeOutLate) {
    Ipmi ipmi(board_with("[ipmc]\nipmb_timeout_ms = 40\n"));
    ipmi_ipmb_addr to{kIpmb, 7, kIpmcAddress, 0};
    ASSERT_EQ(ipmi.send_to(&to, sizeof to, kNetFnSigned, 0x62, signed_data({0xFE, 0x01})), 0);
    const Received ipmc = ipmi.receive();
    EXPECT_THAT(ipmc.data, ElementsAre(0x00, 0x14));
    EXPECT_EQ(std::memcmp(&ipmc.from, &to, sizeof to), 0); // ipmi_ipmb_addr has no padding

    to.slave_addr = 0x72; // the AMC module's controller
    ASSERT_EQ(ipmi.send_to(&to, sizeof to, kNetFnApp, 0x01, {}), 0);
    EXPECT_EQ(ipmi.receive().data.size(), 16U);
    for (const auto &[channel, address] : {std::pair(7, 0x20), std::pair(0, 0x72)}) {
        to.channel = static_cast<short>(channel);
        to.slave_addr = static_cast<unsigned char>(address);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(ipmi.send_to(&to, sizeof to, kNetFnApp, 0x01, {}), 0);
        const Received nobody = ipmi.receive();
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
        EXPECT_THAT(nobody.data, ElementsAre(0xC3));
        EXPECT_EQ(nobody.recv.msg.netfn, kNetFnApp | 1);
        EXPECT_EQ(std::memcmp(&nobody.from, &to, sizeof to), 0);
    }
}

TEST(Driver, DescriptorsShareTheOwnAddressAndLunButEachReceivesOnlyItsOwnAnswers) {
    Ipmi ipmi;
    const int other = ipmi.board->open(IPMI_OPENIPMI_DEVICE, O_RDWR);
    ASSERT_GE(other, 0);
    // The value a request takes or gives, through descriptor `fd`.
    auto call = [&](int fd, unsigned long request, unsigned value = 0) {
        EXPECT_EQ(ipmi.board->ioctl(fd, request, &value), 0);
        return value;
    };
    EXPECT_EQ(call(other, IPMICTL_GET_MY_ADDRESS_CMD), 0x20u);
    EXPECT_EQ(call(other, IPMICTL_GET_MY_LUN_CMD), 2u);
    call(ipmi.fd, IPMICTL_SET_MY_ADDRESS_CMD, kIpmcAddress);
    call(ipmi.fd, IPMICTL_SET_MY_LUN_CMD, 7);
    EXPECT_EQ(call(other, IPMICTL_GET_MY_ADDRESS_CMD), kIpmcAddress);
    EXPECT_EQ(call(other, IPMICTL_GET_MY_LUN_CMD), 3u);
    call(other, IPMICTL_SET_GETS_EVENTS_CMD, 1);

    ASSERT_EQ(ipmi.send(kNetFnApp, 0x01), 0);
    EXPECT_EQ(ipmi.receive(IPMICTL_RECEIVE_MSG_TRUNC, 1024, sizeof(ipmi_addr), other).err, EAGAIN);
    EXPECT_EQ(ipmi.receive().ret, 0);
    ipmi.board->close(other);
}

TEST(Driver, UnknownRequestsFailWithENOTTYAndMissingRecordsWithEFAULT) {
    Ipmi ipmi;
    for (const unsigned long request :
         {IPMICTL_SET_TIMING_PARMS_CMD + 0x100, IPMICTL_REGISTER_FOR_CMD}) {
        errno = 0;
        EXPECT_EQ(ipmi.board->ioctl(ipmi.fd, request, nullptr), -1);
        EXPECT_EQ(errno, ENOTTY);
    }
    EXPECT_EQ(ipmi.board->ioctl(ipmi.fd, IPMICTL_SEND_COMMAND, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
}

// ---- Faults ----

TEST(Faults, OccurrenceAndErrnoFaultsHitTheNamedCallOnly) {
    Ipmi ipmi(
        board_with("[[ipmc.faults]]\nnetfn = 0x06\ncmd = 0x01\noccurrence = 2\nerrno = \"EIO\"\n"
                   "[[ipmc.faults]]\nrequest = \"SET_MY_ADDRESS_CMD\"\nerrno = \"EPERM\"\n"
                   "[[ipmc.faults]]\nnetfn = 0x3E\nanswer = [0xAB, 0xCD]\n"));
    EXPECT_EQ(ipmi.send(kNetFnApp, 0x01), 0);
    EXPECT_EQ(ipmi.send(kNetFnApp, 0x01), EIO);
    EXPECT_EQ(ipmi.send(kNetFnApp, 0x01), 0);
    unsigned address = kIpmcAddress;
    errno = 0;
    EXPECT_EQ(ipmi.board->ioctl(ipmi.fd, IPMICTL_SET_MY_ADDRESS_CMD, &address), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(ipmi.receive().ret, 0);
    EXPECT_EQ(ipmi.receive().ret, 0);
    EXPECT_THAT(ipmi.ask(kNetFnSigned, 0x05, signed_data({0, 0, 0})), ElementsAre(0xAB, 0xCD));
}

TEST(Faults, ACountFiresOnThatManyCallsFromItsOccurrenceOn) {
    Ipmi ipmi(board_with("[[ipmc.faults]]\nnetfn = 0x06\ncmd = 0x01\noccurrence = 2\ncount = 2\n"
                         "ccode = 0x80\n[[ipmc.faults]]\nnetfn = 0x2C\ncount = 1\nccode = 0xC5\n"));
    Bytes got;
    for (int call = 0; call < 4; ++call) {
        got.push_back(ipmi.ask(kNetFnApp, 0x01)[0]);
    }
    EXPECT_THAT(got, ElementsAre(0x00, 0x80, 0x80, 0x00));
    EXPECT_THAT(ipmi.ask(kNetFnPicmg, 0x00, {0x00}), ElementsAre(0xC5)); // alone: from the first
    EXPECT_EQ(ipmi.ask(kNetFnPicmg, 0x00, {0x00}).size(), 5u);
}

// ---- The sensor device: SDR repository, readings and thresholds ----

constexpr std::uint8_t kNetFnSensor = 0x04;
constexpr std::uint8_t kCmdSdrInfo = 0x20;
constexpr std::uint8_t kCmdGetSdr = 0x21;
constexpr std::uint8_t kCmdReserve = 0x22;
constexpr std::uint8_t kCmdSetThresholds = 0x26;
constexpr std::uint8_t kCmdGetThresholds = 0x27;
constexpr std::uint8_t kCmdReading = 0x2D;

std::uint8_t low(unsigned value) { return static_cast<std::uint8_t>(value); }
std::uint8_t high(unsigned value) { return static_cast<std::uint8_t>(value >> 8); }

// A full threshold sensor record, ID string "T": its data format in `units1`,
// the thresholds it returns comparisons of and reads (`mask`), those it sets,
// the thresholds (LNC, LC, LNR, UNC, UC, UNR) and a nominal reading if >= 0.
Bytes full_record(std::uint16_t id, std::uint8_t number, std::uint8_t units1, std::uint8_t mask,
                  const Bytes &thresholds, std::uint8_t settable = 0, int nominal = -1) {
    Bytes r(49, 0);
    r[0] = low(id), r[1] = high(id), r[2] = 0x51, r[3] = 0x01, r[4] = 44;
    r[5] = 0x82, r[7] = number, r[8] = 0x07, r[9] = 0x01, r[12] = 0x01, r[13] = 0x01;
    r[15] = low((mask & 7) << 4), r[17] = low((mask >> 3 & 7) << 4);
    r[18] = settable, r[19] = mask, r[20] = units1, r[21] = 0x01, r[24] = 1;
    r[30] = nominal >= 0 ? 1 : 0, r[31] = low(nominal);
    for (std::size_t i = 0; i < 6; ++i) {
        r[41 - i] = thresholds[i];
    }
    r[47] = 0xC1, r[48] = 'T';
    return r;
}

// The board file's entry of a record.
std::string sdr_entry(const Bytes &record) {
    std::string text = "[[ipmc.sdr]]\nrecord = [";
    for (std::size_t i = 0; i < record.size(); ++i) {
        text += std::to_string(record[i]) + (i + 1 < record.size() ? ", " : "]\n");
    }
    return text;
}

// A compact record of a discrete sensor, and an MC locator.
const Bytes kCompact = {0x20, 0x00, 0x51, 0x02, 0x1C, 0x82, 0x00, 0x07, 0xA0, 0x60, 0x63,
                        0x40, 0xF0, 0x6F, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xC0, 0x00,
                        0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC1, 'H'};
const Bytes kLocator = {0x00, 0x02, 0x51, 0x12, 0x0C, 0x82, 0x00, 0x00, 0x29,
                        0x00, 0x00, 0x00, 0xA0, 0x60, 0x00, 0xC1, 'M'};
// Sensor 5: comparisons with and readings of LNC, LC, UNC and UC; UNC and UC
// settable; nominal reading 45.
const Bytes kTemp = full_record(0x10, 0x05, 0x00, 0x1B, {10, 5, 0, 80, 90, 0}, 0x18, 45);

// A board with the records of kTemp (ID 0x10), kCompact (0x20) and kLocator (0x200).
std::unique_ptr<SimBoard> sensor_board(const std::string &extra = "",
                                       const sim::Options &options = {}) {
    return board_with(extra + sdr_entry(kTemp) + sdr_entry(kCompact) + sdr_entry(kLocator),
                      options);
}

// Get Device SDR: the answer, completion code first.
Bytes read_sdr(Ipmi &ipmi, unsigned reservation, unsigned id, std::uint8_t offset,
               std::uint8_t count) {
    return ipmi.ask(kNetFnSensor, kCmdGetSdr,
                    {low(reservation), high(reservation), low(id), high(id), offset, count});
}

unsigned reserve(Ipmi &ipmi) {
    const Bytes got = ipmi.ask(kNetFnSensor, kCmdReserve);
    EXPECT_EQ(got.size(), 3u);
    return got.size() == 3 ? got[1] | got[2] << 8U : 0;
}

// Completion code 0 and the next record ID, then `count` bytes of `record` from `from`.
Bytes piece(std::uint16_t next, const Bytes &record, std::size_t from, std::size_t count) {
    return Bytes{0x00, low(next), high(next)} +
           Bytes(record.begin() + static_cast<long>(from),
                 record.begin() + static_cast<long>(from + count));
}

TEST(SdrRepository, IsWalkedFromRecordZeroByTheNextIdsToTheEnd) {
    Ipmi ipmi(sensor_board());
    EXPECT_EQ(read_sdr(ipmi, 0, 0x0000, 0, 5), piece(0x0020, kTemp, 0, 5));
    EXPECT_EQ(read_sdr(ipmi, 0, 0x0020, 0, 5), piece(0x0200, kCompact, 0, 5));
    EXPECT_EQ(read_sdr(ipmi, 0, 0x0200, 0, 0xFF), piece(0xFFFF, kLocator, 0, kLocator.size()));
    EXPECT_THAT(read_sdr(ipmi, 0, 0x0201, 0, 5), ElementsAre(0xCB));
    EXPECT_THAT(ipmi.ask(kNetFnSensor, kCmdGetSdr, {0, 0, 0x10, 0, 0}), ElementsAre(0xC7));
    EXPECT_THAT(ipmi.ask(kNetFnSensor, kCmdSdrInfo), ElementsAre(0x00, 2, 0x01)); // sensors
    EXPECT_THAT(ipmi.ask(kNetFnSensor, kCmdSdrInfo, {0x01}), ElementsAre(0x00, 3, 0x01));
    EXPECT_THAT(ipmi.ask(kNetFnSensor, kCmdSdrInfo, {0x01, 0x00}), ElementsAre(0xC7));
}

TEST(SdrRepository, ReadsPastTheHeaderNeedTheLatestReservation) {
    Ipmi ipmi(sensor_board());
    EXPECT_THAT(read_sdr(ipmi, 0, 0x10, 5, 4), ElementsAre(0xC5)); // none made yet
    const unsigned first = reserve(ipmi);
    const unsigned second = reserve(ipmi);
    EXPECT_NE(first, second);
    EXPECT_NE(second, 0u);
    EXPECT_THAT(read_sdr(ipmi, first, 0x10, 5, 4), ElementsAre(0xC5));
    EXPECT_EQ(read_sdr(ipmi, second, 0x10, 5, 4), piece(0x20, kTemp, 5, 4));
    EXPECT_EQ(read_sdr(ipmi, first, 0x10, 0, 5), piece(0x20, kTemp, 0, 5));
}

TEST(SdrRepository, PiecesEndAtTheRecordsEndAndWithinTheTransferLimit) {
    Ipmi ipmi(sensor_board());
    const unsigned id = reserve(ipmi);
    EXPECT_EQ(read_sdr(ipmi, id, 0x10, 40, 0xFF), piece(0x20, kTemp, 40, 9));
    EXPECT_EQ(read_sdr(ipmi, id, 0x10, 40, 20), piece(0x20, kTemp, 40, 9));
    EXPECT_EQ(read_sdr(ipmi, id, 0x10, 49, 5), piece(0x20, kTemp, 49, 0));
    EXPECT_THAT(read_sdr(ipmi, id, 0x10, 50, 1), ElementsAre(0xC9));

    Ipmi limited(sensor_board("[ipmc]\nsdr_transfer_limit = 16\n"));
    const unsigned again = reserve(limited);
    EXPECT_EQ(read_sdr(limited, again, 0x10, 5, 16), piece(0x20, kTemp, 5, 16));
    EXPECT_THAT(read_sdr(limited, again, 0x10, 5, 17), ElementsAre(0xCA));
    EXPECT_THAT(read_sdr(limited, again, 0x10, 0, 0xFF), ElementsAre(0xCA)); // 49 bytes
    EXPECT_EQ(read_sdr(limited, again, 0x10, 40, 0xFF), piece(0x20, kTemp, 40, 9));
}

TEST(Sensors, ReadTheBoardsReadingElseTheNominalOneAndTheStatesGiven) {
    Ipmi ipmi(sensor_board("[ipmc.sensors]\n0x07 = { states = [0x10, 0x02] }\n"
                           "0x30 = { reading = 0x12, unavailable = true }\n"));
    EXPECT_THAT(ipmi.ask(kNetFnSensor, kCmdReading, {0x05}), ElementsAre(0, 45, 0xC0, 0, 0));
    EXPECT_THAT(ipmi.ask(kNetFnSensor, kCmdReading, {0x07}), ElementsAre(0, 0, 0xC0, 0x10, 0x02));
    EXPECT_THAT(ipmi.ask(kNetFnSensor, kCmdReading, {0x30}), ElementsAre(0, 0x12, 0xE0, 0, 0));
    EXPECT_THAT(ipmi.ask(kNetFnSensor, kCmdReading, {0x06}), ElementsAre(0xCB));
    EXPECT_THAT(ipmi.ask(kNetFnSensor, kCmdReading, {}), ElementsAre(0xC7));
}

struct Status {
    const char *what;
    std::uint8_t units1; // data format in bits 7:6
    std::uint8_t mask;   // comparisons returned
    Bytes thresholds;    // LNC, LC, LNR, UNC, UC, UNR
    std::uint8_t reading;
    std::uint8_t status;
    friend void PrintTo(const Status &c, std::ostream *os) { *os << c.what; }
};

const Bytes kUnsigned = {10, 5, 1, 80, 90, 100};
const Bytes kTwos = {0xFB, 0xEC, 0xD8, 70, 85, 100}; // -5, -20, -40

// (A reading between the thresholds, -10 in two's complement and -25 in one's
// are rich.toml's, whose statuses ipmitool shows in ipmi_clients.t.)
const Status kStatuses[] = {
    {"unsigned, at the upper critical", 0x00, 0x3F, kUnsigned, 90, 0x18},
    {"unsigned, below the lower critical", 0x00, 0x3F, kUnsigned, 4, 0x03},
    {"unsigned, 0xF6 is above all", 0x00, 0x3F, kUnsigned, 0xF6, 0x38},
    {"comparisons not returned are not shown", 0x00, 0x07, kUnsigned, 95, 0x00},
    {"two's complement, -40", 0x80, 0x3F, kTwos, 0xD8, 0x07},
    {"two's complement, 100", 0x80, 0x3F, kTwos, 100, 0x38},
    {"one's complement, minus zero is zero", 0x40, 0x3F, {0, 0xF5, 0xE1, 45, 55, 0x7F}, 0xFF, 0x01},
};

class ThresholdStatus : public ::testing::TestWithParam<Status> {};

TEST_P(ThresholdStatus, ComparesTheReadingInTheRecordsDataFormat) {
    const Status &c = GetParam();
    Ipmi ipmi(board_with(sdr_entry(full_record(0x10, 0x05, c.units1, c.mask, c.thresholds)) +
                         "[ipmc.sensors]\n5 = { reading = " + std::to_string(c.reading) + " }\n"));
    const Bytes got = ipmi.ask(kNetFnSensor, kCmdReading, {0x05});
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[3], c.status);
}

INSTANTIATE_TEST_SUITE_P(Sensors, ThresholdStatus, ::testing::ValuesIn(kStatuses));

TEST(Sensors, ThresholdsStartFromTheRecordAndOnlySettableOnesChange) {
    Ipmi ipmi(sensor_board());
    const auto set = [&](std::uint8_t mask, const Bytes &values) {
        return ipmi.ask(kNetFnSensor, kCmdSetThresholds, Bytes{0x05, mask} + values);
    };
    const auto thresholds = [&] { return ipmi.ask(kNetFnSensor, kCmdGetThresholds, {0x05}); };
    EXPECT_THAT(thresholds(), ElementsAre(0, 0x1B, 10, 5, 0, 80, 90, 0));
    EXPECT_THAT(set(0x08, {0, 0, 0, 40, 0, 0}), ElementsAre(0x00));
    EXPECT_THAT(thresholds(), ElementsAre(0, 0x1B, 10, 5, 0, 40, 90, 0));
    EXPECT_THAT(ipmi.ask(kNetFnSensor, kCmdReading, {0x05}), ElementsAre(0, 45, 0xC0, 0x08, 0));
    EXPECT_THAT(set(0x19, {1, 0, 0, 2, 3, 0}), ElementsAre(0xCC)); // LNC is not settable
    EXPECT_THAT(set(0x18, {1, 0, 0, 60, 70, 0}), ElementsAre(0x00));
    EXPECT_THAT(thresholds(), ElementsAre(0, 0x1B, 10, 5, 0, 60, 70, 0));
    EXPECT_THAT(set(0x08, {0, 0, 0, 40, 0}), ElementsAre(0xC7));
    for (const std::uint8_t cmd : {kCmdGetThresholds, kCmdSetThresholds}) {
        const Bytes data = cmd == kCmdGetThresholds ? Bytes{} : Bytes{0x08, 0, 0, 0, 1, 0, 0};
        EXPECT_THAT(ipmi.ask(kNetFnSensor, cmd, Bytes{0x07} + data), ElementsAre(0xCD));
        EXPECT_THAT(ipmi.ask(kNetFnSensor, cmd, Bytes{0x06} + data), ElementsAre(0xCB));
    }
}

// What piggy-back detection relies on: the mezzanine's FRU device locator,
// device type 0x10, modifier 2, at record 0x0200 with a FRU device ID.
class BoardSdr : public ::testing::TestWithParam<const char *> {};

TEST_P(BoardSdr, HasTheMezzaninesFruLocatorAtRecord0x0200) {
    Ipmi ipmi(board_file(GetParam()));
    const Bytes got = read_sdr(ipmi, 0, 0x0200, 0, 0xFF);
    ASSERT_GE(got.size(), 16u);
    EXPECT_THAT(Bytes(got.begin() + 3, got.begin() + 8),
                ElementsAre(0x00, 0x02, 0x51, 0x11, got.size() - 8));
    const std::size_t body = 3 + 5; // after the completion code, next ID and header
    EXPECT_NE(got[body + 1], 0x00); // FRU device ID
    EXPECT_EQ(got[body + 5], 0x10); // device type
    EXPECT_EQ(got[body + 6], 0x02); // its modifier
}

INSTANTIATE_TEST_SUITE_P(Boards, BoardSdr, ::testing::Values("default.toml", "rich.toml"));

// ---- FRU devices ----

constexpr std::uint8_t kNetFnStorage = 0x0A;
constexpr std::uint8_t kCmdAreaInfo = 0x10;
constexpr std::uint8_t kCmdReadFru = 0x11;
constexpr std::uint8_t kCmdWriteFru = 0x12;

// A board on the default one whose FRU 3 is ten bytes 0x10 to 0x19, with
// the device's further keys `keys`; the image lies in `dir`.
std::unique_ptr<SimBoard> fru_board(const TempDir &dir, const std::string &keys) {
    const std::string image = dir.file("fru3.bin", "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19");
    return board_with("[[ipmc.fru]]\nid = 3\nimage = \"" + image + "\"\n" + keys);
}

const std::string kWord = "access = \"word\"\n";

struct FruCase {
    const char *what;
    std::string keys; // of FRU 3
    std::uint8_t cmd;
    Bytes data;
    Bytes answer;    // completion code first
    Bytes area = {}; // after a write: the whole area
    friend void PrintTo(const FruCase &c, std::ostream *os) { *os << c.what; }
};

// (A limit code given, a FRU answered as absent and reads cut short are the
// command-line cases'.)
// clang-format off
const FruCase kFruCases[] = {
    {"area info", "", kCmdAreaInfo, {3}, {0, 10, 0, 0}},
    {"area info, word access", kWord, kCmdAreaInfo, {3}, {0, 10, 0, 1}},
    {"area info of a FRU it lacks", "", kCmdAreaInfo, {4}, {0xCB}},
    {"area info, no FRU ID", "", kCmdAreaInfo, {}, {0xC7}},
    {"read", "", kCmdReadFru, {3, 2, 0, 3}, {0, 3, 0x12, 0x13, 0x14}},
    {"read across the end: what there is", "", kCmdReadFru, {3, 8, 0, 5}, {0, 2, 0x18, 0x19}},
    {"read from the end", "", kCmdReadFru, {3, 10, 0, 1}, {0xC9}},
    {"read of a FRU it lacks", "", kCmdReadFru, {4, 0, 0, 1}, {0xCB}},
    {"read, count missing", "", kCmdReadFru, {3, 0, 0}, {0xC7}},
    // In words but the count asked, which is in bytes: the IPMC sends the
    // whole words within it.
    {"read in words", kWord, kCmdReadFru, {3, 1, 0, 5}, {0, 2, 0x12, 0x13, 0x14, 0x15}},
    {"read in words across the end", kWord, kCmdReadFru, {3, 4, 0, 3}, {0, 1, 0x18, 0x19}},
    {"read in words from the end", kWord, kCmdReadFru, {3, 5, 0, 1}, {0xC9}},
    {"read at the transfer limit", "transfer_limit = 4\n", kCmdReadFru, {3, 0, 0, 4},
     {0, 4, 0x10, 0x11, 0x12, 0x13}},
    {"read above the transfer limit: 0xC8 unless told", "transfer_limit = 4\n", kCmdReadFru,
     {3, 0, 0, 5}, {0xC8}},
    {"read in words above the limit", "transfer_limit = 5\n" + kWord, kCmdReadFru, {3, 0, 0, 6},
     {0xC8}},
    {"write", "", kCmdWriteFru, {3, 1, 0, 0xA1, 0xA2}, {0, 2},
     {0x10, 0xA1, 0xA2, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19}},
    {"write across the end: what fits", "", kCmdWriteFru, {3, 8, 0, 1, 2, 3}, {0, 2},
     {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 1, 2}},
    {"write from the end", "", kCmdWriteFru, {3, 10, 0, 1}, {0xC9}},
    {"write of nothing", "", kCmdWriteFru, {3, 1, 0}, {0xC7}},
    {"write to a FRU it lacks", "", kCmdWriteFru, {4, 0, 0, 1}, {0xCB}},
    {"write in words", kWord, kCmdWriteFru, {3, 3, 0, 1, 2}, {0, 1},
     {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 1, 2, 0x18, 0x19}},
    {"write in words, half a word", kWord, kCmdWriteFru, {3, 1, 0, 1, 2, 3}, {0xC7}},
};
// clang-format on

class FruRequest : public ::testing::TestWithParam<FruCase> {};

TEST_P(FruRequest, GetsItsAnswerOrACompletionCodeAlone) {
    const FruCase &c = GetParam();
    TempDir dir;
    Ipmi ipmi(fru_board(dir, c.keys));
    EXPECT_EQ(ipmi.ask(kNetFnStorage, c.cmd, c.data), c.answer);
    if (!c.area.empty()) {
        const Bytes all = ipmi.ask(kNetFnStorage, kCmdReadFru, {3, 0, 0, 10});
        EXPECT_EQ(all, Bytes({0, static_cast<std::uint8_t>(c.keys == kWord ? 5 : 10)}) + c.area);
    }
}

struct BadFru {
    std::string keys; // of FRU 3 after its ID
    const char *message;
    friend void PrintTo(const BadFru &c, std::ostream *os) { *os << c.message; }
};

const BadFru kBadFrus[] = {
    {"image = \"nowhere.bin\"\n",
     "board text:5: ipmc.fru[0].image: FRU image " HWREGS_BOARD_DIR "/nowhere.bin: cannot read"},
    {"image = \"IMAGES/empty.bin\"\n",
     "board text:5: ipmc.fru[0].image: IMAGES/empty.bin: 0 bytes"},
    {"image = \"IMAGES/big.bin\"\n",
     "ipmc.fru[0].image: IMAGES/big.bin: 65536 bytes, not 1 to 65535"},
    {"image = \"IMAGES/odd.bin\"\naccess = \"word\"\n",
     "board text:5: ipmc.fru[0].image: an odd number of bytes with word access"},
    {"image = \"IMAGES/odd.bin\"\naccess = \"words\"\n",
     "board text:6: ipmc.fru[0].access: 'byte' or 'word', not 'words'"},
    {"image = \"IMAGES/odd.bin\"\nlimit_code = 0xC9\n", "ipmc.fru[0].limit_code: 0xC7 or 0xC8"},
    {"image = \"IMAGES/odd.bin\"\ntransfer_limit = 0\n",
     "ipmc.fru[0].transfer_limit: out of range (1 to 0xFF)"},
    {"imgae = \"IMAGES/odd.bin\"\n", "ipmc.fru[0].imgae: unknown key"},
    {"access = \"word\"\n", "ipmc.fru[0]: 'id' and 'image' required"},
    {"image = \"IMAGES/odd.bin\"\n[[ipmc.fru]]\nid = 3\nimage = \"IMAGES/odd.bin\"\n",
     "board text:7: ipmc.fru[1].id: FRU 3 given twice"},
};

class BadFruBoard : public ::testing::TestWithParam<BadFru> {};

TEST_P(BadFruBoard, IsRefusedWithTheLineAndKey) {
    TempDir dir;
    dir.file("empty.bin", "");
    dir.file("odd.bin", "abc");
    dir.file("big.bin", std::string(0x10000, 'x'));
    const auto with_dir = [&](std::string text) {
        for (std::size_t at = text.find("IMAGES"); at != std::string::npos;
             at = text.find("IMAGES")) {
            text.replace(at, 6, dir.path);
        }
        return text;
    };
    std::string refusal = "accepted";
    try {
        board_with("[[ipmc.fru]]\nid = 3\n" + with_dir(GetParam().keys));
    } catch (const sim::BoardError &error) {
        refusal = error.what();
    }
    EXPECT_THAT(refusal, ::testing::HasSubstr(with_dir(GetParam().message)));
}

INSTANTIATE_TEST_SUITE_P(Fru, BadFruBoard, ::testing::ValuesIn(kBadFrus));

INSTANTIATE_TEST_SUITE_P(Fru, FruRequest, ::testing::ValuesIn(kFruCases));

// ---- State kept between runs ----

TEST(IpmcState, RegistersRecordAndParametersAreKeptAsWrittenAtFixedPlacesForTheNextRun) {
    TempDir dir;
    Bytes record; // not a valid record: its CRC is the reader's business
    for (std::uint8_t i = 0; i < 17; ++i) {
        record.push_back(0x10 + i);
    }
    {
        Ipmi first(board_with("", dir.state()));
        EXPECT_THAT(first.ask(kNetFnSigned, 0x62, signed_data({0xAA, 0x00, 0x5A, 0xFF})),
                    ElementsAre(0x00));
        EXPECT_THAT(first.ask(kNetFnCoded, 0x04, coded_data(record)), ElementsAre(0x00));
        EXPECT_THAT(first.ask(kNetFnSigned, 0x05, signed_data({0x03, 0xFE, 0x42})),
                    ElementsAre(0x00));
    }
    Ipmi second(board_with("", dir.state()));
    EXPECT_EQ(second.reg(0xAA), 0x5A);
    const Bytes answer = second.ask(kNetFnCoded, 0x03, coded_data({}));
    EXPECT_EQ(Bytes(answer.begin() + 1, answer.end()), record);
    // The two mode bits of 0xFE: IPMB mode (bit 4) only.
    EXPECT_THAT(second.ask(kNetFnSigned, 0x05, signed_data({0x00, 0x00, 0x00})),
                ElementsAre(0x00, 0x00, 0x10, 0x42));
}

// ---- A program of the board ----

// The memory of a program of the board, 32-bit and big-endian: blocks at
// made-up addresses; anything else cannot be read or written.
class BoardMemory : public sim::UserMemory {
public:
    BoardMemory() : UserMemory(sim::Abi{4, 4, true}) {}
    bool read(std::uint64_t address, std::uint8_t *to, std::size_t count) override {
        Bytes *block = find(address, count);
        if (block != nullptr) {
            std::copy_n(block->begin() + (address & 0xFFF), count, to);
        }
        return block != nullptr || count == 0;
    }
    void write(std::uint64_t address, const std::uint8_t *from, std::size_t count) override {
        Bytes *block = faulted ? nullptr : find(address, count);
        faulted = faulted || block == nullptr;
        if (block != nullptr) {
            std::copy_n(from, count, block->begin() + (address & 0xFFF));
        }
    }
    Bytes *find(std::uint64_t address, std::size_t count) {
        const auto found = blocks.find(address & ~0xFFFULL);
        return found != blocks.end() && (address & 0xFFF) + count <= found->second.size()
                   ? &found->second
                   : nullptr;
    }
    std::map<std::uint64_t, Bytes> blocks;
    bool faulted = false;
};

// The board's own records: an ipmi_req (20 bytes) and an ipmi_recv (24), with
// the numbers most significant byte first.
struct BoardProgram {
    sim::Board board = sim::load_board(kBoards + "/default.toml");
    sim::Store store;
    sim::Trace trace;
    sim::Devices devices{board, store, trace};
    sim::OpenFile file{sim::device_at(IPMI_OPENIPMI_DEVICE), 1, 3, {}};
    BoardMemory memory;

    sim::Outcome call(std::uint8_t code, std::uint16_t size, std::uint64_t arg) {
        memory.faulted = false;
        sim::Outcome outcome = devices.ioctl(file, {0, 'i', code, size, arg}, memory);
        devices.finish(file, outcome, memory.faulted);
        return outcome;
    }
    // Sends the register read of 0xFF to the system interface, LUN 3.
    sim::Outcome send() {
        memory.blocks[0x1000] = {0, 0, 0x20, 0,    0, 0, 0, 8, 1,    2,
                                 3, 4, 0x3E, 0x62, 0, 6, 0, 0, 0x30, 0};
        memory.blocks[0x2000] = {0, 0, 0, 0x0C, 0, 0x0F, 3, 0};
        memory.blocks[0x3000] = signed_data({0xFF, 0x01});
        return call(13, 20, 0x1000);
    }
    // Receives into buffers at 0x5000 (address) and `data`.
    sim::Outcome receive(std::uint8_t data) {
        memory.blocks[0x4000] = {0, 0, 0, 0, 0, 0, 0x50, 0,  0, 0, 0,    40,
                                 0, 0, 0, 0, 0, 0, 0,    16, 0, 0, data, 0};
        memory.blocks[0x5000] = Bytes(40);
        memory.blocks[0x6000] = Bytes(16);
        return call(11, 24, 0x4000);
    }
};

TEST(Driver, AnswersAProgramOfTheBoardInItsOwnLayout) {
    BoardProgram program;
    EXPECT_EQ(program.send().ret, 0);
    EXPECT_EQ(program.receive(0x60).ret, 0);
    EXPECT_EQ(program.memory.blocks[0x4000],
              (Bytes{0, 0, 0, 1, 0,    0,    0x50, 0, 0, 0, 0,    8,
                     1, 2, 3, 4, 0x3F, 0x62, 0,    2, 0, 0, 0x60, 0}));
    EXPECT_EQ(
        Bytes(program.memory.blocks[0x5000].begin(), program.memory.blocks[0x5000].begin() + 8),
        (Bytes{0, 0, 0, 0x0C, 0, 0x0F, 3, 0}));
    EXPECT_THAT(
        Bytes(program.memory.blocks[0x6000].begin(), program.memory.blocks[0x6000].begin() + 2),
        ElementsAre(0x00, 0x0C));
    // The host's request numbers carry the 64-bit record sizes: not the board's.
    EXPECT_EQ(program.call(13, 40, 0x1000).err, ENOTTY);
}

// As the driver does, a message whose copy to the caller fails goes back to
// the head of the queue.
TEST(Driver, AnAnswerThatCannotBeWrittenStaysQueued) {
    BoardProgram program;
    ASSERT_EQ(program.send().ret, 0);
    const sim::Outcome lost = program.receive(0x70);
    EXPECT_EQ(lost.ret, -1);
    EXPECT_EQ(lost.err, EFAULT);
    EXPECT_EQ(program.file.ipmi.queue.size(), 1u);
    EXPECT_EQ(program.receive(0x60).ret, 0);
    EXPECT_TRUE(program.file.ipmi.queue.empty());
}

} // namespace
