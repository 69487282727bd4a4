// The simulated board as a program sees it through open/ioctl/close: its
// board files, the CPLD driver, its faults and the state kept between runs.
#include "sim_test_support.h"

#include <hvl/cpld.h>
#include <hvl/hvl_ipmi_interface.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using sim::SimBoard;
using namespace sim_test;
using ::testing::ElementsAre;
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
    const auto &regs = board.cpld.registers;
    EXPECT_EQ(std::make_tuple(board.name, board.cpld.version, regs[0x20].reset, regs[0x21].reset,
                              regs[0x21].read_only, regs[0x22].implemented,
                              board.cpld.dcrs.at(0x10)),
              std::make_tuple("child", 3, 0x11, 0x33, true, false, 7u));
    ASSERT_EQ(board.cpld.faults.size(), 2u);
    EXPECT_EQ(std::make_tuple(board.cpld.faults[0].request, board.cpld.faults[1].request),
              std::make_tuple("CMD5", "open"));

    const std::string loop = dir.file("loop.toml", "base = \"loop.toml\"\nname = \"loop\"\n");
    EXPECT_THROW(SimBoard::from_file(loop), sim::BoardError);
}

// A text that opens with a table follows the start of a board on the default one.
// (An unknown key of [cpld] is sim.runner_refuses_a_bad_board's.)
struct BadBoard {
    std::string text;
    const char *message;
    friend void PrintTo(const BadBoard &c, std::ostream *os) { *os << c.message; }
};

std::string dotted_key(int parts) {
    std::string key = "k";
    for (int i = 1; i < parts; ++i) {
        key += ".k";
    }
    return key;
}

const BadBoard kBadBoards[] = {
    {"name = \"x\"\n[cpld]\nversion = ", "board text:3:"},
    {"name = \"x\"\n", "cpld.version: missing"},
    {"description = \"x\"\n[cpld]\nversion = 1\n", "name: missing"},
    {"base = \"nowhere.toml\"\nname = \"x\"\n", "nowhere.toml: cannot read"},
    {"[cpld]\nversion = 0x100\n", "cpld.version: out of range"},
    {"[cpld.registers]\n0x100 = { reset = 0 }\n",
     "cpld.registers.0x100: above the highest number 0xFF"},
    {"[cpld.registers]\n0x40 = { read_only = true }\n",
     "cpld.registers.0x40: a new register needs its reset value"},
    {"[cpld.registers]\n0x55 = { reset = 0, mezzanine_reset = 1 }\n",
     "cpld.registers.0x55.mezzanine_reset: unknown key"},
    {"[cpld.dcr]\n0x400 = 1\n", "cpld.dcr.0x400: above the highest number 0x3FF"},
    {"[cpld]\nfaults = [1]\n", "cpld.faults[0]: expected a table"},
    {"[ipmc]\nsdr = [1]\n", "ipmc.sdr[0]: expected a table"},
    {"[[cpld.faults]]\nrequest = \"PPCREG_RAED\"\nrc = 1\n",
     "cpld.faults[0].request: unknown request 'PPCREG_RAED'"},
    {"[[cpld.faults]]\nrequest = \"open\"\nerrno = \"EFOO\"\n",
     "cpld.faults[0].errno: unknown errno name 'EFOO'"},
    {"[[cpld.faults]]\nrequest = \"open\"\nerrno = 0\n",
     "cpld.faults[0].errno: out of range (1 to 0xFFF)"},
    {"[[cpld.faults]]\nrequest = \"open\"\nrc = 1\n",
     "cpld.faults[0]: an open fault takes only errno"},
    {"[[cpld.faults]]\nrequest = \"DCR_READ\"\n", "cpld.faults[0]: says nothing of what fails"},
    {"[[cpld.faults]]\nrequest = \"DCR_READ\"\nrc = 1\nerrno = \"EIO\"\n",
     "cpld.faults[0]: both 'errno' and 'rc' given"},
    {"[[cpld.faults]]\nrequest = \"PPCREG_READ\"\nstore = 1\n",
     "store and store_xor apply to PPCREG_WRITE and DCR_WRITE only"},
    {"[[cpld.faults]]\nrequest = \"PPCREG_WRITE\"\nstore = 0x100\n",
     "cpld.faults[0]: a register stores a byte: store and store_xor up to 0xFF"},
    {"[ipmc]\nmezanine = true\n", "ipmc.mezanine: unknown key"},
    {"[ipmc.engineering]\nmac = [1, 2, 3]\n", "ipmc.engineering.mac: expected 6 bytes"},
    {"[ipmc.device_id]\nfirmware_major = 0x80\n",
     "ipmc.device_id.firmware_major: out of range (0 to 0x7F)"},
    {"[ipmc.device_id]\ndevice_revision = 16\n", "device_revision: out of range (0 to 0xF)"},
    {"[[ipmc.faults]]\nrequest = \"SEND_CMD\"\nerrno = 5\n", "unknown request 'SEND_CMD'"},
    {"[[ipmc.faults]]\nnetfn = 0x40\nccode = 0xC0\n", "ipmc.faults[0].netfn: out of range"},
    {"[[ipmc.faults]]\nnetfn = 6\nccode = 0xC0\nlength = 3\n", "both 'ccode' and 'length' given"},
    {"[[ipmc.faults]]\nrequest = \"open\"\nccode = 0xC0\n", "other requests take errno"},
    {"[[ipmc.faults]]\nnetfn = 6\nlength = 4097\n", "ipmc.faults[0].length: out of range"},
    {"[[ipmc.faults]]\nnetfn = 4\ncount = 0\nccode = 0x80\n", "ipmc.faults[0].count: out of range"},
    {"[ipmc]\nsdr = 1\n", "ipmc.sdr: expected an array of tables ([[ipmc.sdr]])"},
    {"[[ipmc.sdr]]\nbytes = [1, 0, 0x51, 0x12, 0]\n", "ipmc.sdr[0].bytes: unknown key"},
    {"[[ipmc.sdr]]\nrecord = [1, 0, 0x51, 0x12, 3, 0, 0]\n",
     "ipmc.sdr[0].record: the length byte (byte 4) disagrees with the 7 bytes given"},
    {"[[ipmc.sdr]]\nrecord = [1, 0, 0x51, 0x12]\n",
     "ipmc.sdr[0].record: the length byte (byte 4) disagrees with the 4 bytes given"},
    {"[[ipmc.sdr]]\nrecord = [1, 0, 0x51, 0x12, 0]\n[[ipmc.sdr]]\nrecord = [1, 0, 0x51, 0x11, 0]\n",
     "ipmc.sdr: record ID 0x1 is 0, 0xFFFF or given twice"},
    {"[[ipmc.sdr]]\nrecord = [0xFF, 0xFF, 0x51, 0x12, 0]\n", "record ID 0xFFFF is 0, 0xFFFF"},
    {"[[ipmc.sdr]]\nrecord = [0, 0, 0x51, 0x12, 0]\n", "record ID 0x0 is 0, 0xFFFF"},
    {"[ipmc]\nsdr_file = \"nowhere.bin\"\n", "nowhere.bin: cannot read"},
    {"[ipmc]\nsdr_transfer_limit = 0\n", "ipmc.sdr_transfer_limit: out of range (1 to 0xFF)"},
    {"[ipmc]\nself_test = [0x55]\n", "ipmc.self_test: expected 2 bytes"},
    {"[ipmc.sensors]\n0x100 = { reading = 1 }\n",
     "ipmc.sensors.0x100: above the highest number 0xFF"},
    {"[ipmc.sensors]\n1 = { reeding = 1 }\n", "ipmc.sensors.1.reeding: unknown key"},
    {"[ipmc.sensors]\n1 = { states = [1] }\n", "ipmc.sensors.1.states: expected 2 bytes"},
    {"[ipmc.sensors]\n1 = { reading = 256 }\n", "ipmc.sensors.1.reading: out of range"},
    {"[ipmc.oem]\npcie_moed = 1\n", "ipmc.oem.pcie_moed: unknown key"},
    {"[ipmc.oem]\npcie_mode = 0x100\n", "ipmc.oem.pcie_mode: out of range (0 to 0xFF)"},
    {"[ipmc.oem]\ndebug = true\n", "ipmc.oem.debug: expected a number, a text or an array"},
    {"[ipmc.oem]\npll_config = [1, 2, 3]\n", "ipmc.oem.pll_config: more than 2 bytes"},
    {"[ipmc.oem]\nxfp = [[1], [2], [3]]\n", "ipmc.oem.xfp: more entries than the value has"},
    {"[ipmc.oem]\nrelease = [\"1.055\"]\n", "ipmc.oem.release[0]: longer than 4 characters"},
    {"[ipmc.oem]\ndevice_id_string = \"" + std::string(17, 'x') + "\"\n",
     "ipmc.oem.device_id_string: longer than 16 characters"},
    {"[ipmc.oem]\ntransfer_limit = 0\n", "ipmc.oem.transfer_limit: out of range (1 to 0xFF)"},
    {"[[ipmc.picmg.led]]\nid = 1\n", "ipmc.picmg.led[0]: 'fru' missing"},
    {"[[ipmc.picmg.led]]\nfru = 0\nid = 0\ncolors = [8]\n",
     "picmg.led[0].colors: a colour above 7"},
    {"[[ipmc.picmg.port]]\ninterface = 4\nchannel = 1\n",
     "ipmc.picmg.port[0].interface: out of range (0 to 0x3)"},
    {"[[ipmc.picmg.amc_port]]\nchannel = 0\nspeed = 1\n",
     "ipmc.picmg.amc_port[0].speed: unknown key"},
    {"[[ipmc.controller]]\n[ipmc.controller.picmg]\nipmb0_address = 0x72\n[[ipmc.controller]]\n"
     "[ipmc.controller.picmg]\nipmb0_address = 0x72\n",
     "ipmc.controller[1].picmg.ipmb0_address: missing, or another controller's"},
    {"[ipmc]\nipmb_timeout_ms = 60001\n", "ipmc.ipmb_timeout_ms: out of range"},
    // toml++ would nest a table per part, each a level deeper on the stack.
    {"[cpld]\n" + dotted_key(20000) + " = 1\n", "board text:4: a dotted key of more than 17 parts"},
    {"[cpld]\nx = " + std::string(20000, '[') + "\n", "board text:4:261: "},
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

// A repository from a file of records (relative to the board file), then
// from the board file, replaces the base's and its readings.
TEST(BoardFile, TakesSdrRecordsFromAFileThenFromItsEntries) {
    TempDir dir;
    const std::string fru = std::string("\x01\x02\x51\x11\x00", 5);
    const std::string mc = std::string("\x02\x00\x51\x12\x02\x82\x00", 7);
    dir.file("sdr/set.bin", fru + mc);
    const std::string start = "base = \"" + kBoards + "/default.toml\"\nname = \"x\"\n";
    const sim::Board board = sim::load_board(dir.file(
        "sdr/board.toml",
        start + "[ipmc]\nsdr_file = \"set.bin\"\n[[ipmc.sdr]]\nrecord = [3, 0, 0x51, 1, 0]\n"));
    ASSERT_EQ(board.ipmc.sdr.size(), 3u);
    EXPECT_EQ(std::string(board.ipmc.sdr[0].begin(), board.ipmc.sdr[0].end()), fru);
    EXPECT_EQ(std::string(board.ipmc.sdr[1].begin(), board.ipmc.sdr[1].end()), mc);
    EXPECT_THAT(board.ipmc.sdr[2], ElementsAre(3, 0, 0x51, 1, 0));
    EXPECT_TRUE(board.ipmc.sensors.empty()) << "the default board's readings are gone";

    dir.file("sdr/cut.bin", fru + mc.substr(0, 6));
    std::string refusal;
    try {
        sim::load_board(dir.file("sdr/cut.toml", start + "[ipmc]\nsdr_file = \"cut.bin\"\n"));
    } catch (const sim::BoardError &error) {
        refusal = error.what();
    }
    EXPECT_THAT(refusal, HasSubstr("cut.toml:4: ipmc.sdr_file: the record at byte 5 is cut short"));
}

// A board file is a plain file of sensible size: not a device that never
// ends, nor a FIFO nobody writes.
TEST(BoardFile, IsRefusedUnlessAPlainFileOfSensibleSize) {
    TempDir dir;
    const std::string fifo = dir.path + "/fifo.toml";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string huge = dir.file("huge.toml", kOnDefault + "# " + std::string(2 << 20, 'x'));
    for (const std::string &path : {std::string("/dev/zero"), fifo, huge, dir.path}) {
        EXPECT_THROW(SimBoard::from_file(path), sim::BoardError) << path;
    }
}

// ---- The driver ----

struct Request {
    const char *what;
    unsigned long request;
    std::uint32_t param0, param1; // as sent
    int err;                      // of the ioctl; 0: it returns 0
    std::int32_t rc;
    std::uint32_t out0, out1; // param0 and param1 as the driver leaves them
    friend void PrintTo(const Request &c, std::ostream *os) { *os << c.what; }
};

// (The version and a listed SDRAM0 register are read through the library in
// cpld_test.cpp.)
constexpr Request kRequests[] = {
    {"implemented register", CPLD_PPCREG_READ, 0xFD, 0, 0, 0, 0xFD, 0xB5},
    {"register not implemented", CPLD_PPCREG_READ, 0x20, 0, 0, 0, 0x20, 0xFF},
    {"read beyond the area", CPLD_PPCREG_READ, 0x100, 7, 0, -EINVAL, 0x100, 7},
    {"write beyond the area", CPLD_PPCREG_WRITE, 0x100, 1, 0, -EINVAL, 0x100, 1},
    {"write of 9 bits", CPLD_PPCREG_WRITE, 0x55, 0x100, 0, -EINVAL, 0x55, 0x100},
    {"DCR with a reset value", CPLD_DCR_READ, 0x0C, 0, 0, 0, 0x0C, 0x20},
    {"last DCR", CPLD_DCR_READ, 0x3FF, 7, 0, 0, 0x3FF, 0},
    {"DCR beyond 0x3FF", CPLD_DCR_READ, 0x400, 7, 0, -EINVAL, 0x400, 7},
    {"DCR write beyond 0x3FF", CPLD_DCR_WRITE, 0x400, 1, 0, -EINVAL, 0x400, 1},
    {"SDRAM0 not listed", CPLD_SDRAM0CFG_READ, 0xFF, 7, 0, 0, 0xFF, 0},
    {"SDRAM0 beyond 0xFF", CPLD_SDRAM0CFG_READ, 0x100, 7, 0, -EINVAL, 0x100, 7},
    {"command 5", CPLD_CMD5, 0x1234, 7, 0, 0, 0x1234, 7},
    {"unknown code", _IO('C', 2), 0x10, 0x20, ENOTTY, -1, 0x10, 0x20},
    {"another type", _IO('D', 6), 0x10, 0x20, ENOTTY, -1, 0x10, 0x20},
    {"with a size", _IOR('C', 6, int), 0x10, 0x20, ENOTTY, -1, 0x10, 0x20},
};

class DriverRequest : public ::testing::TestWithParam<Request> {};

TEST_P(DriverRequest, GetsTheAnswerOfTheDriverOnTheBoard) {
    const Request &c = GetParam();
    const Reply reply = Cpld().send(c.request, c.param0, c.param1);
    EXPECT_EQ(reply.ret, c.err == 0 ? 0 : -1);
    EXPECT_EQ(reply.err, c.err);
    EXPECT_EQ(reply.io.rc, c.rc);
    EXPECT_EQ(reply.io.param0, c.out0);
    EXPECT_EQ(reply.io.param1, c.out1);
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

TEST(Trace, RecordsEveryRequestWithItsFieldsAndResult) {
    std::unique_ptr<SimBoard> board = board_file();
    const int fd = board->open(CPLD_DEVICE, O_RDWR);
    CpldIo io{-1, 0x10, 0};
    board->ioctl(fd, CPLD_PPCREG_READ, &io);
    board->ioctl(fd, 0x4303, &io); // not a request: shown by its number
    board->ioctl(fd, CPLD_DCR_READ, nullptr);
    board->close(fd);
    const std::string number = std::to_string(fd);
    EXPECT_THAT(board->trace(),
                ElementsAre("cpld open flags=0x00000002 -> ret=" + number + " errno=0",
                            "cpld PPCREG_READ param0=0x00000010 param1=0x00000000 -> ret=0 "
                            "errno=0 rc=0 param0=0x00000010 param1=0x0000000c",
                            "cpld request=0x00004303 -> ret=-1 errno=25",
                            "cpld DCR_READ arg=NULL -> ret=-1 errno=14",
                            "cpld close fd=" + number + " -> ret=0 errno=0"));
}

// ---- Faults ----

// (The fault boards' opens are the command-line cases'.) A board without
// [ipmc] has no IPMC and no device.
TEST(Faults, ABoardWithoutIpmcHasNoIpmiDevice) {
    const std::string bare = "name = \"bare\"\n[cpld]\nversion = 1\n";
    errno = 0;
    EXPECT_EQ(SimBoard::from_toml(bare)->open(IPMI_OPENIPMI_DEVICE, O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
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
TEST(State, RunsSharingADirectorySeeEachOthersChanges) {
    TempDir dir;
    Cpld one(board_with("", dir.state()));
    Cpld two(board_with("", dir.state()));
    one.send(CPLD_PPCREG_WRITE, 0x55, 0x11);
    EXPECT_EQ(two.reg(0x55), 0x11u);
    two.send(CPLD_DCR_WRITE, 0x100, 0xABCD);
    EXPECT_EQ(one.dcr(0x100), 0xABCDu);

    for (std::uint32_t i = 0; i < 12000; ++i) {
        one.send(CPLD_DCR_WRITE, 0x101, i);
    }
    const std::size_t before = file_bytes(dir.path + "/" + sim::Store::kFileName).size();
    Cpld three(board_with("", dir.state())); // rewrites the log with the contents alone
    EXPECT_LT(file_bytes(dir.path + "/" + sim::Store::kFileName).size(), before / 10);
    three.send(CPLD_PPCREG_WRITE, 0xAA, 0x33);
    EXPECT_EQ(one.reg(0xAA), 0x33u);
    EXPECT_EQ(one.dcr(0x101), 11999u);
    EXPECT_EQ(two.reg(0x55), 0x11u);
}

} // namespace
