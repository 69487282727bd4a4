// The simulated board as a program sees it through open/ioctl/close: its
// board files, the CPLD driver, its faults and the state kept between runs.
#include "sim_test_support.h"

#include <hvl/cpld.h>
#include <hvl/hvl_ipmi_interface.h>

#include <sys/wait.h>
#include <unistd.h>

namespace {

using sim::SimBoard;
using namespace sim_test;
using ::testing::HasSubstr;

struct Reply {
    int ret, err;
    CpldIo io;
};

// The CPLD driver open on a board, and the requests a program sends it.
struct Cpld : Open {
    explicit Cpld(std::unique_ptr<SimBoard> on = board_file()) : Open(CPLD_DEVICE, std::move(on)) {}

    Reply send(unsigned long request, std::uint32_t param0, std::uint32_t param1 = 0) {
        CpldIo io{-1, param0, param1};
        errno = 0;
        const int ret = board->ioctl(fd, request, &io);
        return {ret, ret < 0 ? errno : 0, io};
    }
    // A register read that must go through: its value.
    std::uint32_t reg(std::uint32_t offset) {
        const Reply reply = send(CPLD_PPCREG_READ, offset);
        EXPECT_EQ(reply.ret, 0);
        EXPECT_EQ(reply.io.rc, 0);
        return reply.io.param1;
    }
    std::uint32_t dcr(std::uint32_t number) { return send(CPLD_DCR_READ, number).io.param1; }
};

// ---- Board files ----

TEST(BoardFile, InheritsItsBaseAndItsFaultsAndOverridesOnlyWhatItSays) {
    TempDir dir;
    dir.file("base.toml", "name = \"base\"\n[cpld]\nversion = 3\n"
                          "[cpld.registers]\n0x20 = { reset = 0x11 }\n"
                          "0x21 = { reset = 0x22, read_only = true }\n"
                          "[cpld.dcr]\n0x10 = 7\n"
                          "[[cpld.faults]]\nrequest = \"CMD5\"\nrc = 1\n");
    // The child names its base by an absolute path.
    const sim::Board board = sim::load_board(
        dir.file("child.toml", "base = \"" + dir.path +
                                   "/base.toml\"\nname = \"child\"\n"
                                   "[cpld.registers]\n0x21 = { reset = 0x33 }\n"
                                   "[[cpld.faults]]\nrequest = \"open\"\nerrno = \"EACCES\"\n"));
    EXPECT_EQ(board.name, "child");
    EXPECT_EQ(board.cpld.version, 3);
    EXPECT_EQ(board.cpld.registers[0x20].reset, 0x11);
    EXPECT_EQ(board.cpld.registers[0x21].reset, 0x33);
    EXPECT_TRUE(board.cpld.registers[0x21].read_only);
    EXPECT_FALSE(board.cpld.registers[0x22].implemented);
    EXPECT_EQ(board.cpld.dcrs.at(0x10), 7u);
    ASSERT_EQ(board.cpld.faults.size(), 2u);
    EXPECT_EQ(board.cpld.faults[0].request, CPLD_CMD5);
    EXPECT_TRUE(board.cpld.faults[1].on_open);

    const std::string loop = dir.file("loop.toml", "base = \"loop.toml\"\nname = \"loop\"\n");
    EXPECT_THROW(SimBoard::from_file(loop), sim::BoardError);
}

// A text that opens with a table follows the start of a board on the default one.
struct BadBoard {
    std::string text;
    const char *message;
    friend void PrintTo(const BadBoard &c, std::ostream *os) { *os << c.message; }
};

const BadBoard kBadBoards[] = {
    {"name = \"x\"\n[cpld]\nversion = ", "board text:3:"},
    {"name = \"x\"\n", "cpld.version: missing"},
    {"description = \"x\"\n[cpld]\nversion = 1\n", "name: missing"},
    {"base = \"nowhere.toml\"\nname = \"x\"\n", "nowhere.toml: cannot read"},
    {"[cpld]\nregsters = 1\n", "cpld.regsters: unknown key"},
    {"[cpld]\nversion = 0x100\n", "cpld.version: out of range"},
    {"[cpld]\nled_mode = 2\n", "cpld.led_mode: out of range"},
    {"[cpld.registers]\n0x100 = { reset = 0 }\n",
     "cpld.registers.0x100: above the highest number 0xFF"},
    {"[cpld.registers]\nPOST = { reset = 0 }\n", "cpld.registers.POST: expected a number as key"},
    {"[cpld.registers]\n0x40 = { read_only = true }\n",
     "cpld.registers.0x40: a new register needs its reset value"},
    {"[cpld.registers]\n0x55 = { reset = 0x1FF }\n", "cpld.registers.0x55.reset: out of range"},
    {"[cpld.registers]\n0x55 = { reset = 0, mezzanine_reset = 1 }\n",
     "cpld.registers.0x55.mezzanine_reset: unknown key"},
    {"[cpld.dcr]\n0x400 = 1\n", "cpld.dcr.0x400: above the highest number 0x3FF"},
    {"[cpld.sdram0]\n0x100 = 1\n", "cpld.sdram0.0x100: above the highest number 0xFF"},
    {"[[cpld.faults]]\nrequest = \"PPCREG_RAED\"\nrc = 1\n",
     "cpld.faults[0].request: unknown request 'PPCREG_RAED'"},
    {"[[cpld.faults]]\nrequest = \"open\"\nerrno = \"EFOO\"\n",
     "cpld.faults[0].errno: unknown errno name 'EFOO'"},
    {"[[cpld.faults]]\nrequest = \"open\"\nerrno = 0\n", "cpld.faults[0].errno: out of range"},
    {"[[cpld.faults]]\nrequest = \"open\"\nrc = 1\n",
     "cpld.faults[0]: an open fault takes only errno"},
    {"[[cpld.faults]]\nrequest = \"DCR_READ\"\n", "cpld.faults[0]: says nothing of what fails"},
    {"[[cpld.faults]]\nrequest = \"DCR_READ\"\nrc = 1\nerrno = \"EIO\"\n",
     "cpld.faults[0]: both 'errno' and 'rc' given"},
    {"[[cpld.faults]]\nrequest = \"CMD5\"\noccurrence = 0\nrc = 1\n",
     "cpld.faults[0].occurrence: out of range"},
    {"[[cpld.faults]]\nrequest = \"PPCREG_READ\"\nstore = 1\n",
     "store and store_xor apply to PPCREG_WRITE and DCR_WRITE only"},
    {"[[cpld.faults]]\nrequest = \"PPCREG_WRITE\"\nstore = 0x100\n",
     "cpld.faults[0]: a register stores a byte: store and store_xor up to 0xFF"},
    {"[ipmc]\nmezanine = true\n", "ipmc.mezanine: unknown key"},
    {"[ipmc.engineering]\nmac = [1, 2, 3]\n", "ipmc.engineering.mac: expected 6 bytes"},
    {"[ipmc.engineering]\nrecord = [0x100]\n", "ipmc.engineering.record: expected 17 bytes"},
    {"[[ipmc.faults]]\nrequest = \"SEND_CMD\"\nerrno = 5\n", "unknown request 'SEND_CMD'"},
    {"[[ipmc.faults]]\nnetfn = 0x40\nccode = 0xC0\n", "ipmc.faults[0].netfn: out of range"},
    {"[[ipmc.faults]]\nnetfn = 6\nccode = 0xC0\nlength = 3\n", "both 'ccode' and 'length' given"},
    {"[[ipmc.faults]]\nrequest = \"open\"\nccode = 0xC0\n", "other requests take errno"},
    {"[[ipmc.faults]]\nrequest = \"GET_MY_LUN_CMD\"\nnetfn = 6\nerrno = 5\n",
     "other requests take errno"},
    {"[[ipmc.faults]]\nnetfn = 6\nlength = 4097\n", "ipmc.faults[0].length: out of range"},
};

class BadBoardFile : public ::testing::TestWithParam<BadBoard> {};

TEST_P(BadBoardFile, IsRefusedWithAMessageNamingTheKey) {
    const BadBoard &c = GetParam();
    std::string refusal = "accepted";
    try {
        SimBoard::from_toml((c.text[0] == '[' ? kOnDefault : "") + c.text, kBoards);
    } catch (const sim::BoardError &error) {
        refusal = error.what();
    }
    EXPECT_THAT(refusal, HasSubstr(c.message));
}

INSTANTIATE_TEST_SUITE_P(Boards, BadBoardFile, ::testing::ValuesIn(kBadBoards));

// ---- The driver ----

// The PPC area of the default board (its reset values are in tests/cli/list.t).
constexpr std::uint32_t kWritable[] = {0x00, 0x01, 0x02, 0x11, 0x12, 0x13, 0x14, 0x15, 0x19, 0x2F,
                                       0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x55, 0xAA};
// Read-only, then not implemented.
constexpr std::uint32_t kKeeping[] = {0x10, 0x16, 0x17, 0x18, 0x37, 0x38,
                                      0x39, 0x3A, 0xFD, 0xFE, 0x20, 0xFF};

TEST(Driver, WritesStickExceptInReadOnlyAndUnimplementedRegisters) {
    Cpld cpld;
    for (const std::uint32_t offset : kWritable) {
        EXPECT_EQ(cpld.send(CPLD_PPCREG_WRITE, offset, 0xA5).io.rc, 0);
        EXPECT_EQ(cpld.reg(offset), 0xA5u) << "offset " << offset;
    }
    for (const std::uint32_t offset : kKeeping) {
        const std::uint32_t before = cpld.reg(offset);
        EXPECT_EQ(cpld.send(CPLD_PPCREG_WRITE, offset, 0xA5).io.rc, 0);
        EXPECT_EQ(cpld.reg(offset), before) << "offset " << offset;
    }
}

struct Request {
    const char *what;
    unsigned long request;
    std::uint32_t param0, param1; // as sent
    int err;                      // of the ioctl; 0: it returns 0
    std::int32_t rc;
    std::uint32_t out0, out1; // param0 and param1 as the driver leaves them
    const char *board = "default.toml";
    friend void PrintTo(const Request &c, std::ostream *os) { *os << c.board << ": " << c.what; }
};

constexpr Request kRequests[] = {
    {"version", CPLD_VERSION_READ, 0, 0, 0, 0, 0x0C, 0},
    {"implemented register", CPLD_PPCREG_READ, 0xFD, 0, 0, 0, 0xFD, 0xB5},
    {"register not implemented", CPLD_PPCREG_READ, 0x20, 0, 0, 0, 0x20, 0xFF},
    {"last offset, not implemented", CPLD_PPCREG_READ, 0xFF, 0, 0, 0, 0xFF, 0xFF},
    {"read beyond the area", CPLD_PPCREG_READ, 0x100, 7, 0, -EINVAL, 0x100, 7},
    {"read far beyond", CPLD_PPCREG_READ, 0xFFFFFFFF, 7, 0, -EINVAL, 0xFFFFFFFF, 7},
    {"write beyond the area", CPLD_PPCREG_WRITE, 0x100, 1, 0, -EINVAL, 0x100, 1},
    {"write of 9 bits", CPLD_PPCREG_WRITE, 0x55, 0x100, 0, -EINVAL, 0x55, 0x100},
    {"DCR with a reset value", CPLD_DCR_READ, 0x0C, 0, 0, 0, 0x0C, 0x20},
    {"last DCR", CPLD_DCR_READ, 0x3FF, 7, 0, 0, 0x3FF, 0},
    {"DCR beyond 0x3FF", CPLD_DCR_READ, 0x400, 7, 0, -EINVAL, 0x400, 7},
    {"DCR write beyond 0x3FF", CPLD_DCR_WRITE, 0x400, 1, 0, -EINVAL, 0x400, 1},
    {"SDRAM0 register", CPLD_SDRAM0CFG_READ, 0x20, 0, 0, 0, 0x20, 0x82000000},
    {"SDRAM0 not listed", CPLD_SDRAM0CFG_READ, 0xFF, 7, 0, 0, 0xFF, 0},
    {"SDRAM0 beyond 0xFF", CPLD_SDRAM0CFG_READ, 0x100, 7, 0, -EINVAL, 0x100, 7},
    {"command 5", CPLD_CMD5, 0x1234, 7, 0, 0, 0x1234, 7},
    {"unknown code", _IO('C', 2), 0x10, 0x20, ENOTTY, -1, 0x10, 0x20},
    {"code above the last", _IO('C', 11), 0x10, 0x20, ENOTTY, -1, 0x10, 0x20},
    {"another type", _IO('D', 6), 0x10, 0x20, ENOTTY, -1, 0x10, 0x20},
    {"with a size", _IOR('C', 6, int), 0x10, 0x20, ENOTTY, -1, 0x10, 0x20},
    {"version", CPLD_VERSION_READ, 0, 0, 0, 1, 0, 0, "version-fails.toml"},
    {"the read it names", CPLD_PPCREG_READ, 0x10, 0, EIO, -1, 0x10, 0, "ioctl-eio.toml"},
    {"another read", CPLD_PPCREG_READ, 0x11, 0, 0, 0, 0x11, 0x10, "ioctl-eio.toml"},
    {"the read it names", CPLD_PPCREG_READ, 0x10, 0, 0, 5, 0x10, 0, "rc-5.toml"},
    {"a write", CPLD_PPCREG_WRITE, 0x10, 0, 0, 0, 0x10, 0, "rc-5.toml"},
    {"the DCR it names", CPLD_DCR_READ, 0x0C, 0, 0, -EIO, 0x0C, 0, "dcr-fails.toml"},
    {"another DCR", CPLD_DCR_READ, 0x0D, 0, 0, 0, 0x0D, 0x40000000, "dcr-fails.toml"},
};

class DriverRequest : public ::testing::TestWithParam<Request> {};

// Each time it is sent: faults of a board file are not used up.
TEST_P(DriverRequest, GetsTheAnswerOfTheDriverOnTheBoard) {
    const Request &c = GetParam();
    Cpld cpld(board_file(c.board));
    for (int time = 0; time < 2; ++time) {
        const Reply reply = cpld.send(c.request, c.param0, c.param1);
        EXPECT_EQ(reply.ret, c.err == 0 ? 0 : -1);
        EXPECT_EQ(reply.err, c.err);
        EXPECT_EQ(reply.io.rc, c.rc);
        EXPECT_EQ(reply.io.param0, c.out0);
        EXPECT_EQ(reply.io.param1, c.out1);
    }
}

INSTANTIATE_TEST_SUITE_P(Cpld, DriverRequest, ::testing::ValuesIn(kRequests));

TEST(Driver, LedModeIsSetByAModeAndReadBackByAnythingElse) {
    Cpld cpld;
    constexpr std::uint32_t kGet = 0xFFFFFFFF;
    const std::uint32_t steps[][2] = {{kGet, 0}, {1, 1}, {kGet, 1}, {2, 1}, {0, 0}, {kGet, 0}};
    for (const auto &[sent, answered] : steps) {
        EXPECT_EQ(cpld.send(CPLD_DBG_LED_MODE, sent).io.param0, answered) << "after " << sent;
    }
    EXPECT_EQ(Cpld(board_with("[cpld]\nled_mode = 1\n")).send(CPLD_DBG_LED_MODE, kGet).io.param0,
              1u);
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
    EXPECT_EQ(board.ioctl(cpld.fd + 100, CPLD_PPCREG_READ, &io), -1);
    EXPECT_EQ(errno, EBADF);
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

TEST(Trace, RecordsEveryRequestInTheFileWithItsFieldsAndResult) {
    TempDir dir;
    sim::Options options;
    options.trace_file = dir.path + "/trace";
    std::string fd;
    {
        Cpld cpld(board_with("", options));
        fd = std::to_string(cpld.fd);
        cpld.send(CPLD_PPCREG_READ, 0x10);
        cpld.send(0x4303, 0); // not a request: shown by its number
    }
    EXPECT_EQ(file_bytes(options.trace_file),
              "cpld open flags=0x00000002 -> ret=" + fd + " errno=0\n" +
                  "cpld PPCREG_READ param0=0x00000010 param1=0x00000000 -> ret=0 errno=0 rc=0 "
                  "param0=0x00000010 param1=0x0000000c\n"
                  "cpld request=0x00004303 -> ret=-1 errno=25\n"
                  "cpld close fd=" +
                  fd + " -> ret=0 errno=0\n");
}

// ---- Faults ----

TEST(Faults, DevicesThatCannotBeOpenedGiveTheirErrno) {
    const auto open_error = [](std::unique_ptr<SimBoard> board, const char *device) {
        errno = 0;
        EXPECT_EQ(board->open(device, O_RDWR), -1) << device;
        return errno;
    };
    EXPECT_EQ(open_error(board_file("cpld-absent.toml"), CPLD_DEVICE), ENOENT);
    EXPECT_EQ(open_error(board_file("cpld-eacces.toml"), CPLD_DEVICE), EACCES);
    EXPECT_EQ(open_error(board_file("ipmi-absent.toml"), IPMI_OPENIPMI_DEVICE), ENOENT);
    EXPECT_GE(board_file("ipmi-absent.toml")->open(CPLD_DEVICE, O_RDWR), 0);
    // A board without [ipmc] has no IPMC and no device.
    const std::string bare = "name = \"bare\"\n[cpld]\nversion = 1\n";
    EXPECT_EQ(open_error(SimBoard::from_toml(bare), IPMI_OPENIPMI_DEVICE), ENOENT);
}

TEST(Faults, ReadbackBoardSpoilsOnlyTheSecondWriteOfTheRun) {
    Cpld cpld(board_file("readback.toml"));
    cpld.send(CPLD_PPCREG_WRITE, 0xAA, 0x12); // other offsets do not count
    EXPECT_EQ(cpld.reg(0xAA), 0x12u);
    const std::uint32_t writes[][2] = {{0x55, 0x55}, {0xAA, 0xAA ^ 0xFF}, {0x5A, 0x5A}};
    for (const auto &[value, reads] : writes) {
        EXPECT_EQ(cpld.send(CPLD_PPCREG_WRITE, 0x55, value).io.rc, 0);
        EXPECT_EQ(cpld.reg(0x55), reads) << "write of " << value;
    }
}

// Every call counts towards each fault it matches, and the first that fires wins.
TEST(Faults, OccurrenceAndStoreApplyToOpensAndDcrWritesToo) {
    Cpld cpld(
        board_with("[[cpld.faults]]\nrequest = \"open\"\noccurrence = 2\nerrno = 16\n"
                   "[[cpld.faults]]\nrequest = \"DCR_WRITE\"\noccurrence = 1\nrc = 3\n"
                   "[[cpld.faults]]\nrequest = \"DCR_WRITE\"\noccurrence = 2\nstore = 0xCAFE\n"
                   "[[cpld.faults]]\nrequest = \"CMD5\"\nerrno = \"ENXIO\"\n"));
    EXPECT_EQ(cpld.board->open(CPLD_DEVICE, O_RDWR), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_GE(cpld.board->open(CPLD_DEVICE, O_RDWR), 0);
    EXPECT_EQ(cpld.send(CPLD_CMD5, 0).err, ENXIO);
    EXPECT_EQ(cpld.send(CPLD_DCR_WRITE, 0x100, 0x1234).io.rc, 3);
    EXPECT_EQ(cpld.dcr(0x100), 0u);
    EXPECT_EQ(cpld.send(CPLD_DCR_WRITE, 0x100, 0x1234).io.rc, 0);
    EXPECT_EQ(cpld.dcr(0x100), 0xCAFEu);
}

// ---- State kept between runs ----

TEST(State, IsKeptLittleEndianAtFixedPlacesFromOneRunToTheNextUntilAFreshStart) {
    TempDir dir;
    sim::Options options = dir.state();
    options.state_dir += "/made/for/it";
    {
        Cpld first(board_with("", options));
        first.send(CPLD_PPCREG_WRITE, 0x55, 0x77);
        first.send(CPLD_DCR_WRITE, 0x3FF, 0x11223344);
        first.send(CPLD_DBG_LED_MODE, 1);
    }
    const std::string bytes = file_bytes(options.state_dir + "/" + sim::State::kFileName);
    ASSERT_EQ(bytes.size(), 8192u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("HWSIMST\0", 8));
    EXPECT_EQ(bytes[64 + 0x55], '\x77');
    EXPECT_EQ(bytes.substr(320 + 4 * 0x3FF, 4), "\x44\x33\x22\x11");
    EXPECT_EQ(bytes.substr(4416, 4), std::string("\x01\0\0\0", 4));

    Cpld second(board_with("", options));
    EXPECT_EQ(second.reg(0x55), 0x77u);
    EXPECT_EQ(second.dcr(0x3FF), 0x11223344u);
    EXPECT_EQ(second.send(CPLD_DBG_LED_MODE, 0xFFFFFFFF).io.param0, 1u);

    options.fresh = true;
    EXPECT_EQ(Cpld(board_with("", options)).reg(0x55), 0u);
    EXPECT_EQ(second.reg(0x55), 0u); // a program still running sees the reset too
}

TEST(State, IsResetWhenTheBoardChangesOrTheFileIsNotAState) {
    TempDir dir;
    const std::string changed = "[cpld.registers]\n0x55 = { reset = 0x12 }\n";
    Cpld(board_with("", dir.state())).send(CPLD_PPCREG_WRITE, 0x55, 0x99);
    Cpld other(board_with(changed, dir.state()));
    EXPECT_EQ(other.reg(0x55), 0x12u);

    other.send(CPLD_PPCREG_WRITE, 0x55, 0x99);
    std::fstream(dir.path + "/" + sim::State::kFileName, std::ios::in | std::ios::out) << "junk";
    EXPECT_EQ(Cpld(board_with(changed, dir.state())).reg(0x55), 0x12u);

    sim::Options unusable;
    unusable.state_dir = dir.file("plain", "not a directory") + "/state";
    EXPECT_THROW(board_with("", unusable), sim::StateError);
}

// Two processes write their own register and DCR at once, each many times,
// each reading back its own values; neither sees nor spoils the other's.
TEST(State, ConcurrentWritersKeepEachOthersValues) {
    TempDir dir;
    board_with("", dir.state());
    constexpr std::uint32_t kRounds = 2000, kLast = kRounds - 1;
    const auto writer = [&](std::uint32_t n) { // through register 0x55 or 0xAA
        Cpld cpld(board_with("", dir.state()));
        bool ok = true;
        for (std::uint32_t i = 0; i < kRounds; ++i) {
            const std::uint32_t word = (i << 16) | i | (n << 31);
            cpld.send(CPLD_PPCREG_WRITE, 0x55 * (n + 1), i & 0xFF);
            cpld.send(CPLD_DCR_WRITE, 0x100 + n, word);
            ok = ok && cpld.send(CPLD_PPCREG_READ, 0x55 * (n + 1)).io.param1 == (i & 0xFF) &&
                 cpld.dcr(0x100 + n) == word;
        }
        return ok;
    };
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(writer(1) ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    EXPECT_TRUE(writer(0));
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    Cpld cpld(board_with("", dir.state()));
    EXPECT_EQ(cpld.reg(0x55), kLast & 0xFF);
    EXPECT_EQ(cpld.reg(0xAA), kLast & 0xFF);
    EXPECT_EQ(cpld.dcr(0x100), (kLast << 16) | kLast);
    EXPECT_EQ(cpld.dcr(0x101), (kLast << 16) | kLast | 1u << 31);
}

} // namespace
