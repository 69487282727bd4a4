// The simulated board as a program sees it through open/ioctl/close: the
// refusals of its board files, the CPLD and OpenIPMI drivers' answers and
// errno, and the state it keeps between runs. The rest of what the IPMC
// answers is the command-line cases' and the client tests'.
#include "devices.h"
#include "ipmi/ostrel_constants.h"
#include "sim_board.h"

#include <hvl/cpld.h>
#include <hvl/hvl_ipmi_interface.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/ipmi.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace {

using sim::SimBoard;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;

const std::string kBoards = HWREGS_BOARD_DIR;
// The start of a board file on top of the default board.
const std::string kOnDefault = "base = \"default.toml\"\nname = \"test\"\n";

std::unique_ptr<SimBoard> board_with(const std::string &extra, const sim::Options &options = {}) {
    return SimBoard::from_toml(kOnDefault + extra, kBoards, options);
}

std::string file_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A directory of its own, removed with everything in it.
struct TempDir {
    std::string path = std::filesystem::temp_directory_path() / "sim_test.XXXXXX";
    TempDir() { ::mkdtemp(path.data()); }
    ~TempDir() { std::filesystem::remove_all(path); }
    // Writes `text` to `name` in it; its path.
    std::string file(const std::string &name, const std::string &text) const {
        std::ofstream(path + "/" + name) << text;
        return path + "/" + name;
    }
    sim::Options state() const { return sim::Options{path}; }
};

// A device open on a board, closed with it.
struct Open {
    Open(const char *path, std::unique_ptr<SimBoard> on)
        : board(std::move(on)), fd(board->open(path, O_RDWR)) {
        EXPECT_GE(fd, 0);
    }
    ~Open() { board->close(fd); }
    std::unique_ptr<SimBoard> board;
    int fd;
};

// ---- Board files ----

// Text that opens with a table follows the start of a board on the default
// one; IMAGES stands for a directory with an empty and a 3-byte image.
const std::pair<std::string, std::string> kBadBoards[] = {
    {"name = \"x\"\n[cpld]\nversion = ", "board text:3:"},
    {"name = \"x\"\n", "cpld.version: missing"},
    {"base = \"nowhere.toml\"\nname = \"x\"\n", "nowhere.toml: cannot read"},
    {"[cpld.registers]\n0x100 = { reset = 0 }\n", "registers.0x100: above the highest number"},
    {"[cpld.registers]\n0x40 = { read_only = true }\n", "0x40: a new register needs its reset"},
    {"[cpld]\nfaults = [1]\n", "cpld.faults[0]: expected a table"},
    {"[[cpld.faults]]\nrequest = \"PPCREG_RAED\"\nrc = 1\n", "unknown request 'PPCREG_RAED'"},
    {"[[cpld.faults]]\nrequest = \"open\"\nerrno = 0\n", "errno: out of range (1 to 0xFFF)"},
    {"[[cpld.faults]]\nrequest = \"open\"\nrc = 1\n", "an open fault takes only errno"},
    {"[[cpld.faults]]\nrequest = \"DCR_READ\"\n", "cpld.faults[0]: says nothing of what fails"},
    {"[[cpld.faults]]\nrequest = \"PPCREG_READ\"\nstore = 1\n", "store and store_xor apply to"},
    {"[[cpld.faults]]\nrequest = \"PPCREG_WRITE\"\nstore = 0x100\n", "a register stores a byte"},
    {"[ipmc]\nmezanine = true\n", "ipmc.mezanine: unknown key"},
    {"[ipmc.engineering]\nmac = [1, 2, 3]\n", "ipmc.engineering.mac: expected 6 bytes"},
    {"[ipmc.device_id]\ndevice_revision = 16\n", "device_revision: out of range (0 to 0xF)"},
    {"[[ipmc.faults]]\nnetfn = 6\nccode = 0xC0\nlength = 3\n", "both 'ccode' and 'length' given"},
    {"[[ipmc.faults]]\nrequest = \"open\"\nccode = 0xC0\n", "other requests take errno"},
    {"[ipmc]\nsdr = 1\n", "ipmc.sdr: expected an array of tables ([[ipmc.sdr]])"},
    {"[[ipmc.sdr]]\nrecord = [1, 0, 0x51, 0x12, 3, 0, 0]\n", "disagrees with the 7 bytes given"},
    {"[[ipmc.sdr]]\nrecord = [1, 0, 0x51, 0x12, 0]\n[[ipmc.sdr]]\nrecord = [1, 0, 0x51, 0x11, 0]\n",
     "ipmc.sdr: record ID 0x1 is 0, 0xFFFF or given twice"},
    {"[ipmc.oem]\npll_config = [1, 2, 3]\n", "ipmc.oem.pll_config: more than 2 bytes"},
    {"[ipmc.oem]\nxfp = [[1], [2], [3]]\n", "ipmc.oem.xfp: more entries than the value has"},
    {"[[ipmc.picmg.led]]\nfru = 0\nid = 0\ncolors = [8]\n", "colors: a colour above 7"},
    {"[[ipmc.controller]]\n[ipmc.controller.picmg]\nipmb0_address = 0x72\n[[ipmc.controller]]\n"
     "[ipmc.controller.picmg]\nipmb0_address = 0x72\n",
     "ipmc.controller[1].picmg.ipmb0_address: missing, or another controller's"},
    {"[[ipmc.fru]]\nid = 3\nimage = \"nowhere.bin\"\n",
     HWREGS_BOARD_DIR "/nowhere.bin: cannot read"},
    {"[[ipmc.fru]]\nid = 3\nimage = \"IMAGES/empty.bin\"\n", "image: IMAGES/empty.bin: 0 bytes"},
    {"[[ipmc.fru]]\nid = 3\nimage = \"IMAGES/odd.bin\"\naccess = \"word\"\n",
     "board text:5: ipmc.fru[0].image: an odd number of bytes with word access"},
    {"[[ipmc.fru]]\nid = 3\nimage = \"IMAGES/odd.bin\"\n[[ipmc.fru]]\nid = 3\nimage = "
     "\"IMAGES/odd.bin\"\n",
     "board text:7: ipmc.fru[1].id: FRU 3 given twice"},
    // toml++ would nest a table per part, each a level deeper on the stack.
    {"[cpld]\nk" +
         [] {
             std::string parts;
             for (int i = 1; i < 20000; ++i) {
                 parts += ".k";
             }
             return parts;
         }() +
         " = 1\n",
     "board text:4: a dotted key of more than 17 parts"},
    {"[cpld]\nx = " + std::string(20000, '[') + "\n", "board text:4:261: "},
};

TEST(BoardFile, IsRefusedWithAMessageNamingTheKey) {
    TempDir dir;
    dir.file("empty.bin", "");
    dir.file("odd.bin", "abc");
    const auto with_dir = [&](std::string text) {
        for (auto at = text.find("IMAGES"); at != std::string::npos; at = text.find("IMAGES")) {
            text.replace(at, 6, dir.path);
        }
        return text;
    };
    for (const auto &[text, message] : kBadBoards) {
        std::string refusal = "accepted";
        try {
            SimBoard::from_toml((text[0] == '[' ? kOnDefault : "") + with_dir(text), kBoards);
        } catch (const sim::BoardError &error) {
            refusal = error.what();
        }
        EXPECT_THAT(refusal, HasSubstr(with_dir(message)));
    }
}

// A board file is a plain file of sensible size that does not name itself as
// its base; SDR records from a file must be whole.
TEST(BoardFile, IsRefusedUnlessAPlainFileOfSensibleSize) {
    TempDir dir;
    const std::string fifo = dir.path + "/fifo.toml";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = dir.file("huge.toml", kOnDefault + "# " + std::string(2 << 20, 'x'));
    const std::string loop = dir.file("loop.toml", "base = \"loop.toml\"\nname = \"loop\"\n");
    dir.file("cut.bin", std::string("\x01\x02\x51\x11\x00\x02\x00\x51\x12\x02\x82", 11));
    const std::string cut = dir.file("cut.toml", "base = \"" + kBoards +
                                                     "/default.toml\"\nname = \"x\"\n"
                                                     "[ipmc]\nsdr_file = \"cut.bin\"\n");
    for (const std::string &path : {std::string("/dev/zero"), fifo, huge, dir.path, loop, cut}) {
        EXPECT_THROW(SimBoard::from_file(path), sim::BoardError) << path;
    }
}

// ---- The CPLD driver ----

struct Reply {
    int ret, err;
    CpldIo io;
};

// The CPLD driver open on a board, and the requests a program sends it.
struct Cpld : Open {
    explicit Cpld(std::unique_ptr<SimBoard> on = board_with(""))
        : Open(CPLD_DEVICE, std::move(on)) {}
    Reply send(unsigned long request, std::uint32_t param0, std::uint32_t param1 = 0) {
        CpldIo io{-1, param0, param1};
        errno = 0;
        const int ret = board->ioctl(fd, request, &io);
        return {ret, ret < 0 ? errno : 0, io};
    }
    std::uint32_t reg(std::uint32_t offset) { return send(CPLD_PPCREG_READ, offset).io.param1; }
    std::uint32_t dcr(std::uint32_t number) { return send(CPLD_DCR_READ, number).io.param1; }
};

// Request, param0 and param1 sent; errno (0: the ioctl returns 0), rc and param1
// after. (Registers, DCRs and SDRAM0 registers that are there are the
// command-line cases'.)
TEST(Driver, AnswersOrRefusesEachRequestAsTheDriverOnTheBoard) {
    const std::tuple<unsigned long, unsigned, unsigned, int, int, unsigned> cases[] = {
        {CPLD_PPCREG_READ, 0x20, 0, 0, 0, 0xFF}, // not implemented
        {CPLD_PPCREG_READ, 0x100, 7, 0, -EINVAL, 7},
        {CPLD_PPCREG_WRITE, 0x100, 1, 0, -EINVAL, 1},
        {CPLD_PPCREG_WRITE, 0x55, 0x100, 0, -EINVAL, 0x100},
        {CPLD_DCR_READ, 0x3FF, 7, 0, 0, 0},
        {CPLD_DCR_READ, 0x400, 7, 0, -EINVAL, 7},
        {CPLD_DCR_WRITE, 0x400, 1, 0, -EINVAL, 1},
        {CPLD_SDRAM0CFG_READ, 0x100, 7, 0, -EINVAL, 7},
        {_IO('C', 2), 0x10, 0x20, ENOTTY, -1, 0x20},
        {_IO('D', 6), 0x10, 0x20, ENOTTY, -1, 0x20},
        {_IOR('C', 6, int), 0x10, 0x20, ENOTTY, -1, 0x20},
    };
    for (const auto &[request, param0, param1, err, rc, out1] : cases) {
        const Reply got = Cpld().send(request, param0, param1);
        EXPECT_EQ(std::make_tuple(got.ret, got.err, got.io.rc, got.io.param0, got.io.param1),
                  std::make_tuple(err == 0 ? 0 : -1, err, rc, param0, out1))
            << std::hex << request << " " << param0 << " " << param1;
    }
}

TEST(Driver, BehavesLikeTheKernelWithDescriptorsAndErrno) {
    Cpld cpld;
    SimBoard &board = *cpld.board;
    errno = 1234;
    CpldIo io{-1, 0x10, 0};
    EXPECT_EQ(board.ioctl(cpld.fd, CPLD_PPCREG_READ, &io), 0);
    EXPECT_EQ(errno, 1234); // a success leaves errno alone
    EXPECT_EQ(board.ioctl(cpld.fd, CPLD_PPCREG_READ, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
    EXPECT_EQ(board.open("/dev/cpld0", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
    const int second = board.open(CPLD_DEVICE, O_RDWR | O_CLOEXEC);
    ASSERT_GE(second, 0);
    EXPECT_EQ(::fcntl(second, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    EXPECT_EQ(board.close(second), 0);
    EXPECT_EQ(board.close(second), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(board.ioctl(second, CPLD_PPCREG_READ, &io), -1);
    EXPECT_EQ(errno, EBADF);
}

// ---- State kept between runs ----

TEST(State, IsKeptFromOneRunToTheNextUntilAFreshStartOrAnotherBoard) {
    TempDir dir;
    sim::Options options = dir.state();
    options.state_dir += "/made/for/it";
    {
        Cpld first(board_with("", options));
        first.send(CPLD_PPCREG_WRITE, 0x55, 0x77);
        first.send(CPLD_DCR_WRITE, 0x3FF, 0x11223344);
        first.send(CPLD_DBG_LED_MODE, 1);
    }
    Cpld second(board_with("", options));
    EXPECT_EQ(second.reg(0x55), 0x77u);
    EXPECT_EQ(second.dcr(0x3FF), 0x11223344u);
    EXPECT_EQ(second.dcr(0x0C), 0x20u); // a reset value other than 0, untouched
    EXPECT_EQ(second.send(CPLD_DBG_LED_MODE, 0xFFFFFFFF).io.param0, 1u);

    options.fresh = true;
    EXPECT_EQ(Cpld(board_with("", options)).reg(0x55), 0u);
    EXPECT_EQ(second.reg(0x55), 0u); // a program still running sees the reset too

    second.send(CPLD_PPCREG_WRITE, 0x55, 0x99);
    const std::string changed = "[cpld.registers]\n0x55 = { reset = 0x12 }\n";
    EXPECT_EQ(Cpld(board_with(changed, options)).reg(0x55), 0x12u);

    sim::Options unusable;
    unusable.state_dir = dir.file("plain", "not a directory") + "/state";
    EXPECT_THROW(board_with("", unusable), sim::StateError);
}

// A run killed in the middle of appending a change leaves part of a record:
// the next run drops it, and its own changes take its place.
TEST(State, DropsARecordCutShortAndAppendsOverIt) {
    TempDir dir;
    const std::string log = dir.path + "/" + sim::Store::kFileName;
    Cpld(board_with("", dir.state())).send(CPLD_PPCREG_WRITE, 0x55, 0x42);
    const std::string whole = file_bytes(log);
    Cpld(board_with("", dir.state())).send(CPLD_PPCREG_WRITE, 0x55, 0x43);
    const std::string cut = file_bytes(log).substr(0, whole.size() + 20);
    std::ofstream(log, std::ios::binary | std::ios::trunc) << cut;

    Cpld next(board_with("", dir.state()));
    EXPECT_EQ(next.reg(0x55), 0x42u);
    next.send(CPLD_PPCREG_WRITE, 0xAA, 0x44);
    Cpld last(board_with("", dir.state()));
    EXPECT_EQ(last.reg(0x55), 0x42u);
    EXPECT_EQ(last.reg(0xAA), 0x44u);
}

// Programs of two runs on one directory see each other's changes at once,
// also after one of them rewrote a long log.
TEST(State, RunsSharingADirectorySeeEachOthersChangesAlsoInARewrittenLog) {
    TempDir dir;
    Cpld one(board_with("", dir.state()));
    for (std::uint32_t i = 0; i < 12000; ++i) {
        one.send(CPLD_DCR_WRITE, 0x101, i);
    }
    const std::size_t before = file_bytes(dir.path + "/" + sim::Store::kFileName).size();
    Cpld two(board_with("", dir.state())); // rewrites the log with the contents alone
    EXPECT_LT(file_bytes(dir.path + "/" + sim::Store::kFileName).size(), before / 10);
    EXPECT_EQ(two.dcr(0x101), 11999u);
    two.send(CPLD_PPCREG_WRITE, 0xAA, 0x33);
    EXPECT_EQ(one.reg(0xAA), 0x33u);
}

// ---- The OpenIPMI driver ----

constexpr std::uint8_t kNetFnApp = 0x06;
constexpr std::uint8_t kNetFnSigned = 0x3E;
constexpr std::uint8_t kIpmcAddress = 0x82; // the default board's IPMB-0 address
constexpr int kSi = IPMI_SYSTEM_INTERFACE_ADDR_TYPE;
constexpr int kIpmb = IPMI_IPMB_ADDR_TYPE;
constexpr short kBmc = IPMI_BMC_CHANNEL;

// The data of a register read of `offset`: the access signature first.
Bytes register_read(std::uint8_t offset) {
    const hvl::ostrel::AccessSignature signature = hvl::ostrel::access_signature();
    Bytes data(signature.begin(), signature.end());
    data.insert(data.end(), {offset, 0x01});
    return data;
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
    explicit Ipmi(std::unique_ptr<SimBoard> on = board_with(""))
        : Open(IPMI_OPENIPMI_DEVICE, std::move(on)) {}
    // A message to `to` as a client sends it: errno, or 0.
    int send_to(const void *to, unsigned to_len, std::uint8_t netfn, std::uint8_t cmd, Bytes data,
                long msgid = 1) {
        ipmi_req req{static_cast<unsigned char *>(const_cast<void *>(to)), to_len, msgid, {}};
        req.msg = {netfn, cmd, static_cast<unsigned short>(data.size()),
                   data.empty() ? nullptr : data.data()};
        return board->ioctl(fd, IPMICTL_SEND_COMMAND, &req) == 0 ? 0 : errno;
    }
    int send(std::uint8_t netfn, std::uint8_t cmd, const Bytes &data = {}, long msgid = 1) {
        const ipmi_addr to = address(kSi, kBmc);
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
    // One request to the IPMC and its answer, completion code first.
    Bytes ask(std::uint8_t netfn, std::uint8_t cmd, const Bytes &data = {}) {
        EXPECT_EQ(send(netfn, cmd, data), 0);
        return receive().data;
    }
    bool readable() const {
        pollfd entry{fd, POLLIN, 0};
        return ::poll(&entry, 1, 0) == 1 && (entry.revents & POLLIN) != 0;
    }
};

// Readable exactly while answers wait, handed over in order; one too large for
// the buffer stays queued unless the receive may truncate it.
TEST(Driver, QueueIsReadableWhileAnswersWaitAndHandsThemOverInOrderOrCut) {
    Ipmi ipmi;
    EXPECT_FALSE(ipmi.readable());
    EXPECT_EQ(ipmi.receive().err, EAGAIN);
    ASSERT_EQ(ipmi.send(kNetFnApp, 0x01, {}, 7), 0);
    ASSERT_EQ(ipmi.send(kNetFnSigned, 0x62, register_read(0xFD), 8), 0);
    ASSERT_EQ(ipmi.send(kNetFnApp, 0x01, {}, 9), 0);
    EXPECT_TRUE(ipmi.readable());
    EXPECT_EQ(ipmi.receive().recv.msgid, 7);
    EXPECT_EQ(ipmi.receive().recv.msgid, 8);
    EXPECT_TRUE(ipmi.readable());

    EXPECT_EQ(ipmi.receive(IPMICTL_RECEIVE_MSG_TRUNC, 1024, 4).err, EINVAL); // address buffer
    const Received kept = ipmi.receive(IPMICTL_RECEIVE_MSG, 4);
    EXPECT_EQ(std::make_tuple(kept.ret, kept.err, kept.recv.msgid, kept.recv.msg.data_len),
              std::make_tuple(-1, EMSGSIZE, 0L, 4)); // the record as it was
    EXPECT_TRUE(ipmi.readable());
    const Received cut = ipmi.receive(IPMICTL_RECEIVE_MSG_TRUNC, 4);
    EXPECT_EQ(std::make_tuple(cut.ret, cut.err, cut.recv.msgid), std::make_tuple(-1, EMSGSIZE, 9L));
    EXPECT_THAT(cut.data, ElementsAre(0x00, 0x00, 0x81, 0x01));
    EXPECT_FALSE(ipmi.readable());
    EXPECT_EQ(ipmi.receive(IPMICTL_RECEIVE_MSG).err, EAGAIN);
}

// Where a message may not go, or too much of it: refused, and nothing queued.
TEST(Driver, RefusesMessagesAsTheDriverDoesAndQueuesNothing) {
    // The address, its length, the command of the App group, the data's length, errno.
    const std::tuple<ipmi_addr, unsigned, std::uint8_t, std::size_t, int> cases[] = {
        {address(kSi, 0), 8, 0x01, 0, EINVAL},       // system interface on channel 0
        {address(kSi, kBmc, 4), 8, 0x01, 0, EINVAL}, // LUN above 3
        {address(kSi, kBmc), 6, 0x01, 0, EINVAL},    // address cut short
        {address(kSi, kBmc), 41, 0x01, 0, EINVAL},   // longer than any
        {address(IPMI_LAN_ADDR_TYPE, 1), 8, 0x01, 0, EINVAL},
        {address(kIpmb, kBmc), 8, 0x01, 0, EINVAL},   // IPMB on the system interface channel
        {address(kSi, kBmc), 8, 0x33, 0, EINVAL},     // the driver's own Get Message
        {address(kSi, kBmc), 8, 0x01, 271, EMSGSIZE}, // more than the driver's buffer
        {address(kIpmb, 0), 8, 0x01, 263, EMSGSIZE},  // more than fits over IPMB
    };
    Ipmi ipmi;
    for (const auto &[to, to_len, cmd, length, err] : cases) {
        EXPECT_EQ(ipmi.send_to(&to, to_len, kNetFnApp, cmd, Bytes(length, 0)), err)
            << to.addr_type << " " << to.channel << " " << to_len << " " << length;
    }
    EXPECT_FALSE(ipmi.readable());
}

// Over IPMB-L (channel 7) the IPMC answers at its address; where nobody does,
// such as the AMC module's controller (0x72) on channel 0, the driver gives up
// after the board's timeout with 0xC3.
TEST(Driver, OverIpmbTheIpmcAnswersAndOthersTimeOutLate) {
    Ipmi ipmi(board_with("[ipmc]\nipmb_timeout_ms = 40\n"));
    for (const auto &[channel, slave] :
         {std::pair(7, 0x82), std::pair(7, 0x20), std::pair(0, 0x72)}) {
        const ipmi_ipmb_addr to{kIpmb, static_cast<short>(channel),
                                static_cast<unsigned char>(slave), 0};
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(ipmi.send_to(&to, sizeof to, kNetFnSigned, 0x62, register_read(0xFE)), 0);
        const Received got = ipmi.receive();
        const bool late = std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(40);
        EXPECT_EQ(std::memcmp(&got.from, &to, sizeof to), 0); // ipmi_ipmb_addr has no padding
        const bool ipmc = slave == kIpmcAddress;
        EXPECT_EQ(got.data, ipmc ? Bytes({0x00, 0x14}) : Bytes({0xC3})) << slave;
        EXPECT_TRUE(ipmc || late) << slave;
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

    ASSERT_EQ(ipmi.send(kNetFnApp, 0x01), 0);
    EXPECT_EQ(ipmi.receive(IPMICTL_RECEIVE_MSG_TRUNC, 1024, sizeof(ipmi_addr), other).err, EAGAIN);
    EXPECT_EQ(ipmi.receive().ret, 0);
    ipmi.board->close(other);

    for (const unsigned long request :
         {IPMICTL_SET_TIMING_PARMS_CMD + 0x100, IPMICTL_REGISTER_FOR_CMD, IPMICTL_SEND_COMMAND}) {
        errno = 0;
        EXPECT_EQ(ipmi.board->ioctl(ipmi.fd, request, nullptr), -1);
        EXPECT_EQ(errno, request == IPMICTL_SEND_COMMAND ? EFAULT : ENOTTY);
    }
}

// ---- What of the IPMC only these tests see ----

// The controller parameters keep only the two mode bits of what is stored
// (of 0xFE, IPMB mode: bit 4), also for the next run.
TEST(Ipmc, ParametersKeepTheModeBitsOnlyForTheNextRun) {
    TempDir dir;
    Bytes store = register_read(0x03);
    store.back() = 0xFE;
    store.push_back(0x42);
    EXPECT_THAT(Ipmi(board_with("", dir.state())).ask(kNetFnSigned, 0x05, store), ElementsAre(0));
    Bytes query = register_read(0x00);
    query.back() = 0x00;
    query.push_back(0x00);
    EXPECT_THAT(Ipmi(board_with("", dir.state())).ask(kNetFnSigned, 0x05, query),
                ElementsAre(0x00, 0x00, 0x10, 0x42));
}

// Bytes of record 0x0001 past its header need the latest reservation.
TEST(Ipmc, SdrReadsPastTheHeaderNeedTheLatestReservation) {
    Ipmi ipmi;
    const auto read = [&](std::uint8_t reservation, std::uint8_t offset) {
        return ipmi.ask(0x04, 0x21, {reservation, 0, 0x01, 0, offset, 4}).at(0);
    };
    EXPECT_EQ(read(0, 5), 0xC5); // none made yet
    EXPECT_THAT(ipmi.ask(0x04, 0x22), ElementsAre(0, 1, 0));
    EXPECT_THAT(ipmi.ask(0x04, 0x22), ElementsAre(0, 2, 0));
    EXPECT_EQ(std::make_tuple(read(1, 5), read(2, 5), read(1, 0)), std::make_tuple(0xC5, 0, 0));
}

// A threshold sensor's first state byte compares its reading with the
// thresholds (LNC, LC, LNR, UNC, UC, UNR) in the record's data format
// (units 1, bits 7:6): at or below the lower ones, at or above the upper ones.
TEST(Ipmc, ThresholdStatusComparesInTheRecordsDataFormat) {
    const std::tuple<std::uint8_t, Bytes, std::uint8_t, std::uint8_t> cases[] = {
        {0x00, {10, 5, 1, 80, 90, 100}, 90, 0x18},
        {0x00, {10, 5, 1, 80, 90, 100}, 0xF6, 0x38},
        {0x80, {0xFB, 0xEC, 0xD8, 70, 85, 100}, 0xD8, 0x07}, // two's complement -40
        {0x40, {0, 0xF5, 0xE1, 45, 55, 0x7F}, 0xFF, 0x01},   // one's: minus zero is zero
    };
    for (const auto &[units1, thresholds, reading, status] : cases) {
        Bytes r(49, 0); // full record 0x0010 of sensor 5, all six comparisons returned
        r[0] = 0x10, r[2] = 0x51, r[3] = 0x01, r[4] = 44, r[5] = 0x82, r[7] = 5, r[13] = 0x01;
        r[15] = 0x70, r[17] = 0x70, r[19] = 0x3F, r[20] = units1, r[47] = 0xC1, r[48] = 'T';
        std::copy(thresholds.rbegin(), thresholds.rend(), r.begin() + 36);
        std::string text = "[ipmc.sensors]\n5 = { reading = " + std::to_string(reading) +
                           " }\n[[ipmc.sdr]]\nrecord = [" + std::to_string(r[0]);
        for (std::size_t i = 1; i < r.size(); ++i) {
            text += ", " + std::to_string(r[i]);
        }
        EXPECT_EQ(Ipmi(board_with(text + "]\n")).ask(0x04, 0x2D, {5}).at(3), status)
            << int(units1) << " " << int(reading);
    }
}

// With word access offsets and counts answered are in words, while the count
// asked is in bytes: the IPMC sends the whole words within it; it writes whole
// words only.
TEST(Ipmc, FruOfWordsIsReadAndWrittenByWholeWords) {
    Ipmi ipmi(SimBoard::from_file(kBoards + "/fru-word.toml"));
    const std::string image = file_bytes(kBoards + "/fru/default-0.bin");
    Bytes words = {0, 2};
    words.insert(words.end(), image.begin() + 2, image.begin() + 6);
    EXPECT_EQ(ipmi.ask(0x0A, 0x11, {0, 1, 0, 5}), words);
    EXPECT_THAT(ipmi.ask(0x0A, 0x12, {0, 1, 0, 1, 2, 3}), ElementsAre(0xC7));
}

// One answer carries four links of a port at most.
TEST(Ipmc, AmcPortStateAnswersFourLinksAtMost) {
    std::string five;
    for (int i = 0; i < 5; ++i) {
        five += "[[ipmc.picmg.amc_port]]\nchannel = 9\nlanes = 0xF\nlink_type = 2\n";
    }
    EXPECT_EQ(Ipmi(board_with(five)).ask(0x2C, 0x1A, {0x00, 0x09}).size(), 2 + 4 * 4u);
}

// The memory of a program of the board, 32-bit and big-endian: the bytes
// below 0x7000; anything above cannot be read or written.
struct BoardMemory : sim::UserMemory {
    BoardMemory() : UserMemory(sim::Abi{4, 4, true}) {}
    bool read(std::uint64_t at, std::uint8_t *to, std::size_t count) override {
        const bool there = at + count <= bytes.size();
        std::copy_n(bytes.begin() + static_cast<long>(there ? at : 0), there ? count : 0, to);
        return there;
    }
    void write(std::uint64_t at, const std::uint8_t *from, std::size_t count) override {
        faulted = faulted || at + count > bytes.size();
        std::copy_n(from, faulted ? 0 : count, bytes.begin() + static_cast<long>(at));
    }
    Bytes get(std::size_t at, std::size_t count) const {
        return Bytes(&bytes[at], &bytes[at] + count);
    }
    Bytes bytes = Bytes(0x7000);
    bool faulted = false;
};

// A program of the board sends the register read of 0xFF to the system
// interface, LUN 3, and receives the answer: its ipmi_req (20 bytes) and
// ipmi_recv (24) have the numbers most significant byte first. As the driver
// does, an answer whose copy to the caller fails goes back to the head of the queue.
TEST(Driver, AnswersAProgramOfTheBoardInItsOwnLayoutOrKeepsWhatItCannotWrite) {
    const sim::Board board = sim::load_board(kBoards + "/default.toml");
    sim::Store store;
    sim::Trace trace;
    sim::Devices devices{board, store, trace};
    sim::OpenFile file{sim::device_at(IPMI_OPENIPMI_DEVICE), 1, 3, {}};
    BoardMemory memory;
    const auto call = [&](std::uint8_t code, std::uint16_t size, std::uint64_t arg) {
        memory.faulted = false;
        sim::Outcome outcome = devices.ioctl(file, {0, 'i', code, size, arg}, memory);
        devices.finish(file, outcome, memory.faulted);
        return outcome;
    };
    const auto put = [&](std::size_t at, const Bytes &given) {
        std::copy(given.begin(), given.end(), &memory.bytes[at]);
    };
    const auto receive = [&](std::uint8_t data) { // address buffer at 0x5000
        put(0x4000,
            {0, 0, 0, 0, 0, 0, 0x50, 0, 0, 0, 0, 40, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, data, 0});
        return call(11, 24, 0x4000);
    };
    put(0x1000, {0, 0, 0x20, 0, 0, 0, 0, 8, 1, 2, 3, 4, 0x3E, 0x62, 0, 6, 0, 0, 0x30, 0});
    put(0x2000, {0, 0, 0, 0x0C, 0, 0x0F, 3, 0});
    put(0x3000, register_read(0xFF));
    EXPECT_EQ(call(13, 20, 0x1000).ret, 0);
    const sim::Outcome lost = receive(0x70);
    EXPECT_EQ(std::make_tuple(lost.ret, lost.err), std::make_tuple(-1, EFAULT));
    EXPECT_EQ(receive(0x60).ret, 0);
    EXPECT_TRUE(file.ipmi.queue.empty());
    EXPECT_EQ(memory.get(0x4000, 24), (Bytes{0, 0, 0, 1, 0,    0,    0x50, 0, 0, 0, 0,    8,
                                             1, 2, 3, 4, 0x3F, 0x62, 0,    2, 0, 0, 0x60, 0}));
    EXPECT_EQ(memory.get(0x5000, 8), (Bytes{0, 0, 0, 0x0C, 0, 0x0F, 3, 0}));
    EXPECT_THAT(memory.get(0x6000, 2), ElementsAre(0x00, 0x0C));
    // The host's request numbers carry the 64-bit record sizes: not the board's.
    EXPECT_EQ(call(13, 40, 0x1000).err, ENOTTY);
}

} // namespace
