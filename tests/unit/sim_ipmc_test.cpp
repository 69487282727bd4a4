// The simulated IPMC behind /dev/ipmi0, as a program sees it through the
// OpenIPMI driver's requests: the answers of the IPMC, the driver's queue and
// its refusals, and the faults board files give it.
#include "eng_record.h"
#include "sim_board.h"
#include "sim_env.h"

#include "ipmi/ostrel_constants.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/ipmi.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using sim::SimBoard;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;

const std::string kBoards = fs::path(sim::default_board()).parent_path().string();

constexpr std::uint8_t kNetFnApp = 0x06;
constexpr std::uint8_t kNetFnPicmg = 0x2C;
constexpr std::uint8_t kNetFnSigned = 0x3E;
constexpr std::uint8_t kNetFnCoded = 0x30;
constexpr std::uint8_t kIpmcAddress = 0x82; // the default board's IPMB-0 address

std::unique_ptr<SimBoard> board_with(const std::string &extra, const sim::Options &options = {}) {
    return SimBoard::from_toml("base = \"default.toml\"\nname = \"test\"\n" + extra, kBoards,
                               options);
}

// Request data of the two OEM groups: the access signature, or the default
// board's access code, then `rest`.
Bytes signed_data(const Bytes &rest) {
    Bytes data(std::begin(hvl::ostrel::kAccessSignature), std::end(hvl::ostrel::kAccessSignature));
    data.insert(data.end(), rest.begin(), rest.end());
    return data;
}

Bytes coded_data(const Bytes &rest, std::uint16_t product = 0x3120) {
    const hvl::ostrel::AccessCodeEntry *entry = hvl::ostrel::find_access_code(product);
    Bytes data(std::begin(entry->code), std::end(entry->code));
    data.insert(data.end(), rest.begin(), rest.end());
    return data;
}

struct Received {
    int ret = 0;
    int err = 0;
    ipmi_recv recv{};
    ipmi_addr from{};
    Bytes data; // as many bytes as the driver said it copied
};

// A message to `to` as a client sends it: errno, or 0.
int send_to(SimBoard &board, int fd, const void *to, unsigned to_len, std::uint8_t netfn,
            std::uint8_t cmd, const Bytes &data, long msgid = 1) {
    Bytes copy = data;
    ipmi_req req{};
    req.addr = static_cast<unsigned char *>(const_cast<void *>(to));
    req.addr_len = to_len;
    req.msgid = msgid;
    req.msg.netfn = netfn;
    req.msg.cmd = cmd;
    req.msg.data = copy.empty() ? nullptr : copy.data();
    req.msg.data_len = static_cast<unsigned short>(copy.size());
    errno = 0;
    return board.ioctl(fd, IPMICTL_SEND_COMMAND, &req) == 0 ? 0 : errno;
}

int send_si(SimBoard &board, int fd, std::uint8_t netfn, std::uint8_t cmd, const Bytes &data,
            long msgid = 1, unsigned char lun = 0) {
    ipmi_system_interface_addr to{IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, lun};
    return send_to(board, fd, &to, sizeof to, netfn, cmd, data, msgid);
}

Received receive(SimBoard &board, int fd, unsigned long request = IPMICTL_RECEIVE_MSG_TRUNC,
                 std::size_t buffer = 1024, unsigned addr_len = sizeof(ipmi_addr)) {
    Received got;
    Bytes bytes(buffer, 0xEE);
    got.recv.addr = reinterpret_cast<unsigned char *>(&got.from);
    got.recv.addr_len = addr_len;
    got.recv.msg.data = bytes.data();
    got.recv.msg.data_len = static_cast<unsigned short>(buffer);
    errno = 0;
    got.ret = board.ioctl(fd, request, &got.recv);
    got.err = got.ret < 0 ? errno : 0;
    const std::size_t copied = std::min<std::size_t>(got.recv.msg.data_len, buffer);
    got.data.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(copied));
    got.recv.msg.data = nullptr;
    return got;
}

// One request to the IPMC and its answer, completion code first.
Bytes ask(SimBoard &board, int fd, std::uint8_t netfn, std::uint8_t cmd, const Bytes &data = {}) {
    EXPECT_EQ(send_si(board, fd, netfn, cmd, data), 0);
    const Received got = receive(board, fd);
    EXPECT_EQ(got.ret, 0);
    return got.data;
}

// A board with /dev/ipmi0 open.
class Device : public ::testing::Test {
protected:
    void SetUp() override { use(SimBoard::from_file(sim::default_board())); }
    void TearDown() override {
        if (fd_ >= 0) {
            board_->close(fd_);
        }
    }
    void use(std::unique_ptr<SimBoard> board) {
        if (fd_ >= 0) {
            board_->close(fd_);
        }
        board_ = std::move(board);
        fd_ = board_->open(IPMI_OPENIPMI_DEVICE, O_RDWR);
        ASSERT_GE(fd_, 0);
    }
    int send(std::uint8_t netfn, std::uint8_t cmd, const Bytes &data = {}, long msgid = 1,
             unsigned char lun = 0) {
        return send_si(*board_, fd_, netfn, cmd, data, msgid, lun);
    }
    int send_to(const void *to, unsigned to_len, std::uint8_t netfn, std::uint8_t cmd,
                const Bytes &data) {
        return ::send_to(*board_, fd_, to, to_len, netfn, cmd, data);
    }
    Received receive(unsigned long request = IPMICTL_RECEIVE_MSG_TRUNC, std::size_t buffer = 1024,
                     unsigned addr_len = sizeof(ipmi_addr), int fd = -1) {
        return ::receive(*board_, fd < 0 ? fd_ : fd, request, buffer, addr_len);
    }
    Bytes ask(std::uint8_t netfn, std::uint8_t cmd, const Bytes &data = {}) {
        return ::ask(*board_, fd_, netfn, cmd, data);
    }
    bool readable() {
        pollfd entry{fd_, POLLIN, 0};
        return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN) != 0;
    }
    std::uint8_t read_register(std::uint8_t offset) {
        const Bytes answer = ask(kNetFnSigned, 0x62, signed_data({offset, 0x01}));
        EXPECT_EQ(answer.size(), 2u) << "offset " << int(offset);
        return answer.size() == 2 ? answer[1] : 0;
    }

    std::unique_ptr<SimBoard> board_;
    int fd_ = -1;
};

// ---- What the IPMC answers ----

TEST_F(Device, DeviceIdGivesTheBoardsIdentityWithTheProductIdInBytes9And10) {
    EXPECT_THAT(ask(kNetFnApp, 0x01), ElementsAre(0x00,                   // completion code
                                                  0x00, 0x81, 0x01, 0x05, // id, rev+SDRs, 1.05
                                                  0x51, 0x29,             // IPMI 1.5, support
                                                  0xD9, 0x7E, 0x00,       // manufacturer 32473
                                                  0x20, 0x31,             // product 0x3120
                                                  0x00, 0x00, 0x00, 0x00));
}

TEST_F(Device, PicmgQueriesGiveTheExtensionVersionAndTheIpmb0Address) {
    EXPECT_THAT(ask(kNetFnPicmg, 0x00, {0x00}), ElementsAre(0x00, 0x00, 0x32, 0x00, 0x00));
    EXPECT_THAT(ask(kNetFnPicmg, 0x01, {0x00}),
                ElementsAre(0x00, 0x00, 0x41, kIpmcAddress, 0xFF, 0x00, 0x01, 0x00));
}

// A refused request and the completion code it gets.
struct Refusal {
    const char *what;
    std::uint8_t netfn;
    std::uint8_t cmd;
    std::uint8_t ccode;
    Bytes data;
};

const Refusal kRefusals[] = {
    {"unknown App command", kNetFnApp, 0x02, 0xC1, {}},
    {"unknown OEM command", kNetFnSigned, 0x63, 0xC1, signed_data({0x10, 0x01})},
    {"unknown network function", 0x2E, 0x01, 0xC1, {}},
    {"Get Device ID with data", kNetFnApp, 0x01, 0xC7, {0x00}},
    {"PICMG properties without identifier", kNetFnPicmg, 0x00, 0xC7, {}},
    {"PICMG properties of another group", kNetFnPicmg, 0x00, 0xCC, {0x03}},
    {"address info with too much", kNetFnPicmg, 0x01, 0xC7, {0, 0, 0, 0, 0, 0}},
    {"register read, wrong signature", kNetFnSigned, 0x62, 0xD4, {0x7E, 0x31, 0xB6, 0x0E, 0x10, 1}},
    {"register read, signature cut", kNetFnSigned, 0x62, 0xC7, {0x7E, 0x31, 0xB6}},
    {"register read, no operation", kNetFnSigned, 0x62, 0xC7, signed_data({0x10})},
    {"register read, a byte too many", kNetFnSigned, 0x62, 0xC7, signed_data({0x10, 0x01, 0x00})},
    {"register write without end byte", kNetFnSigned, 0x62, 0xC7, signed_data({0x55, 0x00, 0x12})},
    {"register write, wrong end byte", kNetFnSigned, 0x62, 0xCC, signed_data({0x55, 0, 0x12, 0})},
    {"register operation 2", kNetFnSigned, 0x62, 0xCC, signed_data({0x55, 0x02})},
    {"parameters, unknown selector", kNetFnSigned, 0x05, 0xCC, signed_data({0x01, 0x00, 0x00})},
    {"parameters, a byte short", kNetFnSigned, 0x05, 0xC7, signed_data({0x00, 0x00})},
    {"record get, another product's code", kNetFnCoded, 0x03, 0xD4, coded_data({}, 0x3140)},
    {"record get, a byte too many", kNetFnCoded, 0x03, 0xC7, coded_data({0x00})},
    {"record set, a byte short", kNetFnCoded, 0x04, 0xC7, coded_data(Bytes(16, 0))},
};

TEST_F(Device, RefusesRequestsItDoesNotKnowOrThatAreMalformedWithACompletionCodeAlone) {
    for (const Refusal &refusal : kRefusals) {
        EXPECT_THAT(ask(refusal.netfn, refusal.cmd, refusal.data), ElementsAre(refusal.ccode))
            << refusal.what;
    }
    EXPECT_EQ(read_register(0x55), 0x00); // the refused write stored nothing
}

struct IpmcRow {
    std::uint8_t offset;
    std::uint8_t reset;
    std::uint8_t after_write; // what a write of 0xA5 leaves
};

// The IPMC rows of the register table at their reset values.
constexpr IpmcRow kIpmcRows[] = {
    {0x00, 0x40, 0xA5}, {0x01, 0x7C, 0x7C}, {0x02, 0x3F, 0x3F}, {0x03, 0x00, 0x00},
    {0x04, 0x00, 0xA5}, {0x06, 0x00, 0xA5}, {0x07, 0x00, 0xA5}, {0x08, 0x00, 0xA5},
    {0x09, 0x00, 0xA5}, {0x0A, 0x00, 0xA5}, {0x0B, 0x01, 0xA5}, {0x10, 0x0F, 0xA5},
    {0x11, 0x15, 0x15}, {0x12, 0x0F, 0xA5}, {0x13, 0x15, 0x15}, {0x14, 0x00, 0xA5},
    {0x15, 0x00, 0x00}, {0x16, 0x03, 0xA5}, {0x17, 0x30, 0x30}, {0x19, 0x01, 0x01},
    {0x26, 0x00, 0xA5}, {0x27, 0x00, 0x00}, {0x29, 0x00, 0xA5}, {0x55, 0x00, 0xA5},
    {0xAA, 0x00, 0xA5}, {0xFD, 0xB5, 0xB5}, {0xFE, 0x14, 0x14}, {0xFF, 0x0C, 0x0C},
    {0x05, 0xFF, 0xFF}, {0x80, 0xFF, 0xFF}, // not implemented
};

TEST_F(Device, IpmcAreaRegistersResetToTheTableAndKeepWritesUnlessReadOnly) {
    for (const IpmcRow &row : kIpmcRows) {
        EXPECT_EQ(read_register(row.offset), row.reset) << "offset " << int(row.offset);
        EXPECT_THAT(ask(kNetFnSigned, 0x62, signed_data({row.offset, 0x00, 0xA5, 0xFF})),
                    ElementsAre(0x00));
        EXPECT_EQ(read_register(row.offset), row.after_write) << "offset " << int(row.offset);
    }
}

TEST_F(Device, MezzanineBoardResetsThePiggyBackRegistersAndFlagsItInTheRecord) {
    use(SimBoard::from_file(kBoards + "/mezzanine.toml"));
    EXPECT_EQ(read_register(0x14), 0x04);
    EXPECT_EQ(read_register(0x15), 0x05);
    const Bytes answer = ask(kNetFnCoded, 0x03, coded_data({}));
    ASSERT_EQ(answer.size(), 18u);
    EXPECT_EQ(answer[1 + 3 + 1], 1); // options byte 1: the mezzanine flag
    EXPECT_EQ(sim::eng_crc8(answer.data() + 4, 13), answer[17]);
}

TEST(EngCrc8, MatchesTheCheckValuesOfTheFirmwaresCrc) {
    const std::string abc = "abc";
    const std::string digits = "123456789";
    EXPECT_EQ(sim::eng_crc8(nullptr, 0), 0xA5);
    EXPECT_EQ(sim::eng_crc8(reinterpret_cast<const std::uint8_t *>(abc.data()), abc.size()), 0xD7);
    EXPECT_EQ(sim::eng_crc8(reinterpret_cast<const std::uint8_t *>(digits.data()), digits.size()),
              0x57);
}

TEST_F(Device, EngineeringRecordStartsValidAndKeepsWhatIsWrittenCrcAndAll) {
    const Bytes fresh = ask(kNetFnCoded, 0x03, coded_data({}));
    EXPECT_THAT(fresh, ElementsAre(0x00, 0, 0, 0,                      // ccode, fcap
                                   0x00, 0x00, 0x00, 0, 0, 0,          // options, mezzanine flag 0
                                   0x02, 0x00, 0x00, 0x00, 0x00, 0x01, // MAC
                                   0x01,                               // suffix
                                   sim::eng_crc8(fresh.data() + 4, 13)));
    Bytes record(17);
    for (std::size_t i = 0; i < record.size(); ++i) {
        record[i] = static_cast<std::uint8_t>(0x10 + i);
    }
    EXPECT_THAT(ask(kNetFnCoded, 0x04, coded_data(record)), ElementsAre(0x00));
    Bytes expected{0x00};
    expected.insert(expected.end(), record.begin(), record.end());
    EXPECT_EQ(ask(kNetFnCoded, 0x03, coded_data({})), expected);
}

TEST_F(Device, BoardFileMayGiveTheRecordVerbatimEvenWithABadCrc) {
    std::string record = "[ipmc.engineering]\nrecord = [0xFF";
    for (int i = 1; i < 17; ++i) {
        record += ", 0xFF";
    }
    use(board_with(record + "]\n"));
    Bytes expected(18, 0xFF);
    expected[0] = 0x00;
    EXPECT_EQ(ask(kNetFnCoded, 0x03, coded_data({})), expected);
}

TEST_F(Device, ProductWithoutAccessCodeRefusesTheCodedGroupButNotTheSignedOne) {
    use(board_with("[ipmc.device_id]\nproduct_id = 0x1234\n"));
    EXPECT_THAT(ask(kNetFnCoded, 0x03, coded_data({})), ElementsAre(0xD4));
    EXPECT_EQ(read_register(0xFF), 0x0C);
}

TEST_F(Device, ControllerParametersAnswerTheirModesAndKeepOnlyTheTwoModeBits) {
    EXPECT_THAT(ask(kNetFnSigned, 0x05, signed_data({0x00, 0x00, 0x00})),
                ElementsAre(0x00, 0x00, 0x01, 0x00));
    EXPECT_THAT(ask(kNetFnSigned, 0x05, signed_data({0x03, 0xFE, 0x42})), ElementsAre(0x00));
    EXPECT_THAT(ask(kNetFnSigned, 0x05, signed_data({0x00, 0x00, 0x00})),
                ElementsAre(0x00, 0x00, 0x10, 0x42));
}

// ---- The driver ----

TEST_F(Device, AnswerEchoesMsgidAndCommandWithTheResponseNetfnAndTheSendersAddress) {
    ASSERT_EQ(send(kNetFnSigned, 0x62, signed_data({0xFF, 0x01}), 123456, 3), 0);
    const Received got = receive();
    EXPECT_EQ(got.ret, 0);
    EXPECT_EQ(got.recv.recv_type, IPMI_RESPONSE_RECV_TYPE);
    EXPECT_EQ(got.recv.msgid, 123456);
    EXPECT_EQ(got.recv.msg.netfn, kNetFnSigned | 1);
    EXPECT_EQ(got.recv.msg.cmd, 0x62);
    EXPECT_EQ(got.recv.addr_len, sizeof(ipmi_system_interface_addr));
    ipmi_system_interface_addr from{};
    std::memcpy(&from, &got.from, sizeof from);
    EXPECT_EQ(from.addr_type, IPMI_SYSTEM_INTERFACE_ADDR_TYPE);
    EXPECT_EQ(from.channel, IPMI_BMC_CHANNEL);
    EXPECT_EQ(from.lun, 3);
    EXPECT_THAT(got.data, ElementsAre(0x00, 0x0C));
}

TEST_F(Device, IsReadableExactlyWhileAnswersWaitAndHandsThemOverInOrder) {
    EXPECT_FALSE(readable());
    EXPECT_EQ(receive().err, EAGAIN);
    ASSERT_EQ(send(kNetFnApp, 0x01, {}, 7), 0);
    ASSERT_EQ(send(kNetFnSigned, 0x62, signed_data({0xFD, 0x01}), 8), 0);
    EXPECT_TRUE(readable());
    fd_set set;
    FD_ZERO(&set);
    FD_SET(fd_, &set);
    timeval none{0, 0};
    EXPECT_EQ(::select(fd_ + 1, &set, nullptr, nullptr, &none), 1);
    EXPECT_EQ(receive().recv.msgid, 7);
    EXPECT_TRUE(readable());
    EXPECT_EQ(receive().recv.msgid, 8);
    EXPECT_FALSE(readable());
    EXPECT_EQ(receive(IPMICTL_RECEIVE_MSG).err, EAGAIN);
}

TEST_F(Device, TooSmallABufferKeepsTheAnswerForReceiveButCutsItForTruncatingReceive) {
    ASSERT_EQ(send(kNetFnApp, 0x01), 0);
    const Received kept = receive(IPMICTL_RECEIVE_MSG, 4);
    EXPECT_EQ(kept.ret, -1);
    EXPECT_EQ(kept.err, EMSGSIZE);
    EXPECT_EQ(kept.recv.msg.data_len, 4); // the record as it was
    EXPECT_TRUE(readable());
    const Received cut = receive(IPMICTL_RECEIVE_MSG_TRUNC, 4);
    EXPECT_EQ(cut.ret, -1);
    EXPECT_EQ(cut.err, EMSGSIZE);
    EXPECT_EQ(cut.recv.msgid, 1);
    EXPECT_THAT(cut.data, ElementsAre(0x00, 0x00, 0x81, 0x01));
    EXPECT_FALSE(readable());
    EXPECT_EQ(receive().err, EAGAIN);
}

TEST_F(Device, AnAddressBufferTooSmallIsRefusedAndTheAnswerKept) {
    ASSERT_EQ(send(kNetFnApp, 0x01), 0);
    EXPECT_EQ(receive(IPMICTL_RECEIVE_MSG_TRUNC, 1024, 4).err, EINVAL);
    EXPECT_EQ(receive(IPMICTL_RECEIVE_MSG_TRUNC, 1024, 8).ret, 0);
}

struct BadSend {
    const char *what;
    int addr_type;
    short channel;
    unsigned char lun;
    unsigned addr_len;
    std::uint8_t netfn;
    std::uint8_t cmd;
    std::size_t data_len;
    int err;
};

constexpr BadSend kBadSends[] = {
    {"system interface on channel 0", IPMI_SYSTEM_INTERFACE_ADDR_TYPE, 0, 0, 8, 6, 1, 0, EINVAL},
    {"LUN above 3", IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, 4, 8, 6, 1, 0, EINVAL},
    {"address cut short", IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, 0, 6, 6, 1, 0, EINVAL},
    {"address longer than any", IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, 0, 41, 6, 1, 0,
     EINVAL},
    {"LAN address", IPMI_LAN_ADDR_TYPE, 1, 0, 8, 6, 1, 0, EINVAL},
    {"IPMB on the system interface channel", IPMI_IPMB_ADDR_TYPE, IPMI_BMC_CHANNEL, 0, 8, 6, 1, 0,
     EINVAL},
    {"the driver's own Send Message", IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, 0, 8, 6,
     0x34, 0, EINVAL},
    {"more than the driver's buffer", IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, 0, 8, 6, 1,
     271, EMSGSIZE},
    {"more than a message", IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, 0, 8, 6, 1, 273,
     EMSGSIZE},
    {"more than fits over IPMB", IPMI_IPMB_ADDR_TYPE, 0, 0, 8, 6, 1, 263, EMSGSIZE},
};

TEST_F(Device, SendRefusesWhatTheDriverRefusesAndQueuesNothing) {
    for (const BadSend &bad : kBadSends) {
        ipmi_addr to{};
        to.addr_type = bad.addr_type;
        to.channel = bad.channel;
        if (bad.addr_type == IPMI_IPMB_ADDR_TYPE) {
            ipmi_ipmb_addr ipmb{bad.addr_type, bad.channel, kIpmcAddress, bad.lun};
            std::memcpy(&to, &ipmb, sizeof ipmb);
        } else {
            ipmi_system_interface_addr si{bad.addr_type, bad.channel, bad.lun};
            std::memcpy(&to, &si, sizeof si);
        }
        EXPECT_EQ(send_to(&to, bad.addr_len, bad.netfn, bad.cmd, Bytes(bad.data_len, 0)), bad.err)
            << bad.what;
        EXPECT_FALSE(readable()) << bad.what;
    }
}

TEST_F(Device, OverIpmbOnlyTheIpmcsOwnAddressAnswersAndOthersTimeOut) {
    ipmi_ipmb_addr to{IPMI_IPMB_ADDR_TYPE, 7, kIpmcAddress, 0};
    ASSERT_EQ(send_to(&to, sizeof to, kNetFnSigned, 0x62, signed_data({0xFE, 0x01})), 0);
    const Received ipmc = receive();
    EXPECT_THAT(ipmc.data, ElementsAre(0x00, 0x14));
    ipmi_ipmb_addr from{};
    std::memcpy(&from, &ipmc.from, sizeof from);
    EXPECT_EQ(from.addr_type, IPMI_IPMB_ADDR_TYPE);
    EXPECT_EQ(from.channel, 7);
    EXPECT_EQ(from.slave_addr, kIpmcAddress);

    to.slave_addr = 0x20;
    ASSERT_EQ(send_to(&to, sizeof to, kNetFnApp, 0x01, {}), 0);
    const Received nobody = receive();
    EXPECT_THAT(nobody.data, ElementsAre(0xC3));
    EXPECT_EQ(nobody.recv.msg.netfn, kNetFnApp | 1);
}

TEST_F(Device, OwnAddressAndLunAreTheInterfacesSharedByItsDescriptors) {
    const int other = board_->open(IPMI_OPENIPMI_DEVICE, O_RDWR);
    ASSERT_GE(other, 0);
    unsigned value = 0;
    EXPECT_EQ(board_->ioctl(other, IPMICTL_GET_MY_ADDRESS_CMD, &value), 0);
    EXPECT_EQ(value, 0x20u);
    EXPECT_EQ(board_->ioctl(other, IPMICTL_GET_MY_LUN_CMD, &value), 0);
    EXPECT_EQ(value, 2u);
    value = kIpmcAddress;
    EXPECT_EQ(board_->ioctl(fd_, IPMICTL_SET_MY_ADDRESS_CMD, &value), 0);
    value = 7;
    EXPECT_EQ(board_->ioctl(fd_, IPMICTL_SET_MY_LUN_CMD, &value), 0);
    EXPECT_EQ(board_->ioctl(other, IPMICTL_GET_MY_ADDRESS_CMD, &value), 0);
    EXPECT_EQ(value, kIpmcAddress);
    EXPECT_EQ(board_->ioctl(other, IPMICTL_GET_MY_LUN_CMD, &value), 0);
    EXPECT_EQ(value, 3u);
    int events = 1;
    EXPECT_EQ(board_->ioctl(other, IPMICTL_SET_GETS_EVENTS_CMD, &events), 0);
    board_->close(other);
}

TEST_F(Device, EachDescriptorReceivesOnlyItsOwnAnswers) {
    const int other = board_->open(IPMI_OPENIPMI_DEVICE, O_RDWR);
    ASSERT_GE(other, 0);
    ASSERT_EQ(send(kNetFnApp, 0x01), 0);
    EXPECT_EQ(receive(IPMICTL_RECEIVE_MSG_TRUNC, 1024, sizeof(ipmi_addr), other).err, EAGAIN);
    EXPECT_EQ(receive().ret, 0);
    board_->close(other);
}

TEST_F(Device, UnknownRequestsFailWithENOTTYAndMissingRecordsWithEFAULT) {
    errno = 0;
    EXPECT_EQ(board_->ioctl(fd_, IPMICTL_SET_TIMING_PARMS_CMD + 0x100, nullptr), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(board_->ioctl(fd_, IPMICTL_REGISTER_FOR_CMD, nullptr), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(board_->ioctl(fd_, IPMICTL_SEND_COMMAND, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
}

TEST(Trace, ShowsEveryIpmiRequestWithTheMessageAndTheIpmcsAnswer) {
    auto board = board_with("");
    const int fd = board->open(IPMI_OPENIPMI_DEVICE, O_RDWR);
    unsigned address = kIpmcAddress;
    board->ioctl(fd, IPMICTL_SET_MY_ADDRESS_CMD, &address);
    Bytes data = signed_data({0x10, 0x01});
    ipmi_system_interface_addr to{IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, 3};
    ipmi_req req{
        reinterpret_cast<unsigned char *>(&to), sizeof to, 3, {0x3E, 0x62, 6, data.data()}};
    board->ioctl(fd, IPMICTL_SEND_COMMAND, &req);
    ipmi_addr from{};
    std::uint8_t answer[8];
    ipmi_recv recv{0, reinterpret_cast<unsigned char *>(&from), sizeof from, 0, {0, 0, 8, answer}};
    board->ioctl(fd, IPMICTL_RECEIVE_MSG_TRUNC, &recv);
    board->close(fd);
    const std::string fd_text = std::to_string(fd);
    EXPECT_THAT(board->trace(),
                ElementsAre("ipmi open flags=0x00000002 -> ret=" + fd_text + " errno=0",
                            "ipmi SET_MY_ADDRESS_CMD value=0x82 -> ret=0 errno=0",
                            "ipmi SEND_COMMAND msgid=3 addr=si lun=3 netfn=0x3e cmd=0x62 "
                            "data=7e31b60f1001 -> ret=0 errno=0 ccode=0x00 data=0f",
                            "ipmi RECEIVE_MSG_TRUNC addr_len=40 data_len=8 -> ret=0 errno=0 type=1 "
                            "addr=si msgid=3 netfn=0x3f cmd=0x62 data_len=2",
                            "ipmi close fd=" + fd_text + " -> ret=0 errno=0"));
}

// ---- Faults ----

struct IpmiFaultCase {
    const char *board;
    std::uint8_t offset; // of the IPMC-area register read
    int err;             // of the truncating receive
    std::size_t length;  // bytes received
    Bytes starts;        // with these
};

const IpmiFaultCase kFaultBoards[] = {
    {"cpldreg-ccode.toml", 0x10, 0, 1, {0xC0}},
    {"cpldreg-ccode.toml", 0x11, 0, 2, {0x00, 0x15}},
    {"empty-answer.toml", 0x10, 0, 0, {}},
    {"short-answer.toml", 0x10, 0, 1, {0x00}},
    {"long-answer.toml", 0x10, EMSGSIZE, 1024, {0x00, 0x0F, 0x00}},
    {"long-answer.toml", 0x55, 0, 2, {0x00, 0x00}},
};

TEST_F(Device, EachFaultBoardSpoilsJustTheAnswersItNames) {
    for (const IpmiFaultCase &c : kFaultBoards) {
        use(SimBoard::from_file(kBoards + "/" + c.board));
        ASSERT_EQ(send(kNetFnSigned, 0x62, signed_data({c.offset, 0x01})), 0);
        const Received got = receive();
        EXPECT_EQ(got.err, c.err) << c.board;
        EXPECT_EQ(got.data.size(), c.length) << c.board;
        EXPECT_TRUE(std::equal(c.starts.begin(), c.starts.end(), got.data.begin())) << c.board;
        EXPECT_FALSE(readable()) << c.board; // even a cut answer is gone
    }
}

TEST_F(Device, AddressInfoBoardsAnswerTheirCompletionCode) {
    for (const auto &[file, ccode] :
         {std::pair{"addrinfo-c1.toml", 0xC1}, std::pair{"addrinfo-cc.toml", 0xCC}}) {
        use(SimBoard::from_file(kBoards + "/" + file));
        EXPECT_THAT(ask(kNetFnPicmg, 0x01, {0x00}), ElementsAre(ccode)) << file;
        EXPECT_THAT(ask(kNetFnPicmg, 0x00, {0x00}), ElementsAre(0x00, 0x00, 0x32, 0x00, 0x00));
    }
}

TEST(IpmiFaults, DeviceIsAbsentOnTheIpmiAbsentBoardAndOnBoardsWithoutAnIpmc) {
    auto absent = SimBoard::from_file(kBoards + "/ipmi-absent.toml");
    errno = 0;
    EXPECT_EQ(absent->open(IPMI_OPENIPMI_DEVICE, O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_GE(absent->open(CPLD_DEVICE, O_RDWR), 0);
    auto bare = SimBoard::from_toml("name = \"bare\"\n[cpld]\nversion = 1\n", kBoards);
    errno = 0;
    EXPECT_EQ(bare->open(IPMI_OPENIPMI_DEVICE, O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(Device, OccurrenceAndErrnoFaultsHitTheNamedCallOnly) {
    use(board_with("[[ipmc.faults]]\nnetfn = 0x06\ncmd = 0x01\noccurrence = 2\nerrno = \"EIO\"\n"
                   "[[ipmc.faults]]\nrequest = \"SET_MY_ADDRESS_CMD\"\nerrno = \"EPERM\"\n"
                   "[[ipmc.faults]]\nnetfn = 0x3E\nanswer = [0xAB, 0xCD]\n"));
    EXPECT_EQ(send(kNetFnApp, 0x01), 0);
    EXPECT_EQ(send(kNetFnApp, 0x01), EIO);
    EXPECT_EQ(send(kNetFnApp, 0x01), 0);
    unsigned address = kIpmcAddress;
    errno = 0;
    EXPECT_EQ(board_->ioctl(fd_, IPMICTL_SET_MY_ADDRESS_CMD, &address), -1);
    EXPECT_EQ(errno, EPERM);
    EXPECT_EQ(receive().ret, 0);
    EXPECT_EQ(receive().ret, 0);
    EXPECT_THAT(ask(kNetFnSigned, 0x05, signed_data({0, 0, 0})), ElementsAre(0xAB, 0xCD));
}

struct BadIpmcBoard {
    const char *text;
    const char *message;
};

const BadIpmcBoard kBadIpmcBoards[] = {
    {"[ipmc]\nmezanine = true\n", "ipmc.mezanine: unknown key"},
    {"[ipmc.engineering]\nmac = [1, 2, 3]\n", "ipmc.engineering.mac: expected 6 bytes"},
    {"[ipmc.engineering]\nrecord = [0x100]\n", "ipmc.engineering.record: expected 17 bytes"},
    {"[cpld.registers]\n0x55 = { reset = 0, mezzanine_reset = 1 }\n",
     "cpld.registers.0x55.mezzanine_reset: unknown key"},
    {"[[ipmc.faults]]\nrequest = \"SEND_CMD\"\nerrno = 5\n", "unknown request 'SEND_CMD'"},
    {"[[ipmc.faults]]\nnetfn = 0x40\nccode = 0xC0\n", "ipmc.faults[0].netfn: out of range"},
    {"[[ipmc.faults]]\nnetfn = 6\nccode = 0xC0\nlength = 3\n", "both 'ccode' and 'length' given"},
    {"[[ipmc.faults]]\nrequest = \"open\"\nccode = 0xC0\n", "other requests take errno"},
    {"[[ipmc.faults]]\nrequest = \"GET_MY_LUN_CMD\"\nnetfn = 6\nerrno = 5\n",
     "other requests take errno"},
    {"[[ipmc.faults]]\nnetfn = 6\nlength = 4097\n", "ipmc.faults[0].length: out of range"},
};

TEST(IpmiFaults, BadIpmcSectionsAreRefusedWithAMessageNamingTheKey) {
    for (const BadIpmcBoard &bad : kBadIpmcBoards) {
        try {
            board_with(bad.text);
            ADD_FAILURE() << "accepted: " << bad.text;
        } catch (const sim::BoardError &error) {
            EXPECT_THAT(error.what(), HasSubstr(bad.message)) << bad.text;
        }
    }
}

// ---- State kept between runs ----

TEST(IpmcState, RegistersRecordAndParametersSurviveTheProgramAtFixedPlaces) {
    char name[] = "/tmp/sim_ipmc_test.XXXXXX";
    const std::string dir = ::mkdtemp(name);
    sim::Options options;
    options.state_dir = dir;
    {
        auto first = board_with("", options);
        const int fd = first->open(IPMI_OPENIPMI_DEVICE, O_RDWR);
        EXPECT_THAT(ask(*first, fd, kNetFnSigned, 0x62, signed_data({0xAA, 0x00, 0x5A, 0xFF})),
                    ElementsAre(0x00));
        EXPECT_THAT(ask(*first, fd, kNetFnSigned, 0x05, signed_data({0x03, 0x01, 0x77})),
                    ElementsAre(0x00));
    }
    auto second = board_with("", options);
    const int fd = second->open(IPMI_OPENIPMI_DEVICE, O_RDWR);
    EXPECT_THAT(ask(*second, fd, kNetFnSigned, 0x62, signed_data({0xAA, 0x01})),
                ElementsAre(0x00, 0x5A));
    EXPECT_THAT(ask(*second, fd, kNetFnSigned, 0x05, signed_data({0x00, 0x00, 0x00})),
                ElementsAre(0x00, 0x00, 0x01, 0x77));

    std::ifstream file(dir + "/" + sim::State::kFileName, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(bytes.size(), 8192u);
    EXPECT_EQ(bytes[4480 + 0xAA], '\x5A');
    EXPECT_EQ(bytes[4480 + 0xFF], '\x0C');
    EXPECT_EQ(bytes.substr(4736 + 9, 6), std::string("\x02\x00\x00\x00\x00\x01", 6)); // the MAC
    EXPECT_EQ(bytes.substr(4768, 2), "\x01\x77");
    fs::remove_all(dir);
}

} // namespace
