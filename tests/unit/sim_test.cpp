// The simulated board as a program sees it through open/ioctl/close.
#include "sim_board.h"
#include "sim_env.h"

#include <hvl/cpld.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;
using sim::SimBoard;
using ::testing::HasSubstr;

const std::string kBoards = fs::path(sim::default_board()).parent_path().string();

// A board on top of the default one.
std::unique_ptr<SimBoard> board_with(const std::string &extra, const sim::Options &options = {}) {
    return SimBoard::from_toml("base = \"default.toml\"\nname = \"test\"\n" + extra, kBoards,
                               options);
}

struct Reply {
    int ret;
    int err;
    CpldIo io;
};

Reply send(SimBoard &board, int fd, unsigned long request, std::uint32_t param0,
           std::uint32_t param1 = 0) {
    CpldIo io{-1, param0, param1};
    errno = 0;
    const int ret = board.ioctl(fd, request, &io);
    return {ret, ret < 0 ? errno : 0, io};
}

// A register read that must go through: its value.
std::uint32_t read_reg(SimBoard &board, int fd, std::uint32_t offset) {
    const Reply reply = send(board, fd, CPLD_PPCREG_READ, offset);
    EXPECT_EQ(reply.ret, 0);
    EXPECT_EQ(reply.io.rc, 0);
    return reply.io.param1;
}

class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/sim_test.XXXXXX";
        path_ = ::mkdtemp(name);
    }
    ~TempDir() { fs::remove_all(path_); }
    const std::string &path() const { return path_; }
    std::string file(const std::string &name, const std::string &text) const {
        std::string path = path_ + "/" + name;
        std::ofstream(path) << text;
        return path;
    }

private:
    std::string path_;
};

// A board with the device open.
class Opened : public ::testing::Test {
protected:
    void use(std::unique_ptr<SimBoard> board) {
        board_ = std::move(board);
        fd_ = board_->open(CPLD_DEVICE, O_RDWR);
        ASSERT_GE(fd_, 0);
    }
    void SetUp() override { use(SimBoard::from_file(sim::default_board())); }
    void TearDown() override {
        if (fd_ >= 0) {
            board_->close(fd_);
        }
    }
    Reply send(unsigned long request, std::uint32_t param0, std::uint32_t param1 = 0) {
        return ::send(*board_, fd_, request, param0, param1);
    }
    std::uint32_t read_reg(std::uint32_t offset) { return ::read_reg(*board_, fd_, offset); }

    std::unique_ptr<SimBoard> board_;
    int fd_ = -1;
};

// ---- Board files ----

struct ResetRow {
    std::uint32_t offset;
    std::uint32_t value;
};

// The PPC rows of the register table, at their reset values.
constexpr ResetRow kPpcResets[] = {
    {0x00, 0x3F}, {0x01, 0x00}, {0x02, 0x00}, {0x10, 0x0C}, {0x11, 0x10}, {0x12, 0x22},
    {0x13, 0x00}, {0x14, 0x00}, {0x15, 0x08}, {0x16, 0x00}, {0x17, 0x00}, {0x18, 0x00},
    {0x19, 0x00}, {0x2F, 0x00}, {0x30, 0x00}, {0x31, 0x00}, {0x32, 0x00}, {0x33, 0x00},
    {0x34, 0x00}, {0x35, 0x00}, {0x36, 0x00}, {0x37, 0x00}, {0x38, 0x00}, {0x39, 0x02},
    {0x3A, 0x02}, {0x55, 0x00}, {0xAA, 0x00}, {0xFD, 0xB5}, {0xFE, 0x14},
};

TEST_F(Opened, DefaultBoardComesUpWithEveryPpcRegisterAtItsResetValue) {
    for (const ResetRow &row : kPpcResets) {
        EXPECT_EQ(read_reg(row.offset), row.value) << "offset " << row.offset;
    }
    const Reply version = send(CPLD_VERSION_READ, 0);
    EXPECT_EQ(version.io.rc, 0);
    EXPECT_EQ(version.io.param0 & 0xFF, 0x0Cu);
}

TEST(BoardFile, InheritsItsBaseAndOverridesOnlyWhatItSays) {
    TempDir dir;
    const std::string base = dir.file("base.toml", "name = \"base\"\n[cpld]\nversion = 3\n"
                                                   "[cpld.registers]\n"
                                                   "0x20 = { reset = 0x11 }\n"
                                                   "0x21 = { reset = 0x22, read_only = true }\n"
                                                   "[cpld.dcr]\n0x10 = 7\n");
    const std::string child = dir.file("child.toml", "base = \"base.toml\"\nname = \"child\"\n"
                                                     "[cpld.registers]\n0x21 = { reset = 0x33 }\n"
                                                     "0x22 = { reset = 0x44 }\n");
    const sim::Board board = sim::load_board(child);
    EXPECT_EQ(board.name, "child");
    EXPECT_EQ(board.cpld.version, 3);
    EXPECT_EQ(board.cpld.registers[0x20].reset, 0x11);
    EXPECT_EQ(board.cpld.registers[0x21].reset, 0x33);
    EXPECT_TRUE(board.cpld.registers[0x21].read_only);
    EXPECT_EQ(board.cpld.registers[0x22].reset, 0x44);
    EXPECT_FALSE(board.cpld.registers[0x23].implemented);
    EXPECT_EQ(board.cpld.dcrs.at(0x10), 7u);
    EXPECT_NE(board.fingerprint, sim::load_board(base).fingerprint);
}

TEST(BoardFile, FaultsOfABaseAddUpWithTheChildsOwn) {
    const sim::Board board =
        sim::parse_board("base = \"readback.toml\"\nname = \"two\"\n"
                         "[[cpld.faults]]\nrequest = \"open\"\nerrno = \"EACCES\"\n",
                         kBoards, "two");
    ASSERT_EQ(board.cpld.faults.size(), 2u);
    EXPECT_EQ(board.cpld.faults[0].effect, sim::FaultEffect::StoreXor);
    EXPECT_TRUE(board.cpld.faults[1].on_open);
}

struct BadBoard {
    const char *text;
    const char *message;
};

constexpr BadBoard kBadBoards[] = {
    {"name = \"x\"\n[cpld]\nversion = ", "board text:3:"},
    {"base = \"default.toml\"\nname = \"x\"\n[cpld]\nregsters = 1\n", "cpld.regsters: unknown key"},
    {"name = \"x\"\n", "cpld.version: missing"},
    {"[cpld]\nversion = 1\n", "name: missing"},
    {"base = \"default.toml\"\nname = \"x\"\n[cpld]\nversion = 0x100\n",
     "cpld.version: out of range"},
    {"base = \"default.toml\"\nname = \"x\"\n[cpld.registers]\n0x100 = { reset = 0 }\n",
     "cpld.registers.0x100: above the highest number 0xFF"},
    {"base = \"default.toml\"\nname = \"x\"\n[cpld.registers]\nPOST = { reset = 0 }\n",
     "cpld.registers.POST: expected a number as key"},
    {"base = \"default.toml\"\nname = \"x\"\n[cpld.registers]\n0x40 = { read_only = true }\n",
     "cpld.registers.0x40: a new register needs its reset value"},
    {"base = \"default.toml\"\nname = \"x\"\n[cpld.registers]\n0x55 = { reset = 0x1FF }\n",
     "cpld.registers.0x55.reset: out of range"},
    {"base = \"default.toml\"\nname = \"x\"\n[cpld.dcr]\n0x400 = 1\n",
     "cpld.dcr.0x400: above the highest number 0x3FF"},
    {"base = \"default.toml\"\nname = \"x\"\n[cpld]\nled_mode = 2\n",
     "cpld.led_mode: out of range"},
    {"base = \"nowhere.toml\"\nname = \"x\"\n", "nowhere.toml: cannot read"},
    {"base = \"default.toml\"\nname = \"x\"\n[[cpld.faults]]\nrequest = \"PPCREG_RAED\"\nrc = 1\n",
     "cpld.faults[0].request: unknown request 'PPCREG_RAED'"},
    {"base = \"default.toml\"\nname = \"x\"\n[[cpld.faults]]\nrequest = \"open\"\nerrno = "
     "\"EFOO\"\n",
     "cpld.faults[0].errno: unknown errno name 'EFOO'"},
    {"base = \"default.toml\"\nname = \"x\"\n[[cpld.faults]]\nrequest = \"open\"\nrc = 1\n",
     "cpld.faults[0]: an open fault takes only errno"},
    {"base = \"default.toml\"\nname = \"x\"\n[[cpld.faults]]\nrequest = \"DCR_READ\"\n",
     "cpld.faults[0]: says nothing of what fails"},
    {"base = \"default.toml\"\nname = \"x\"\n[[cpld.faults]]\nrequest = \"DCR_READ\"\nrc = 1\n"
     "errno = \"EIO\"\n",
     "cpld.faults[0]: both 'errno' and 'rc' given"},
    {"base = \"default.toml\"\nname = \"x\"\n[[cpld.faults]]\nrequest = \"PPCREG_READ\"\n"
     "store = 1\n",
     "store and store_xor apply to PPCREG_WRITE and DCR_WRITE only"},
};

TEST(BoardFile, BadFilesAreRefusedWithAMessageNamingTheKey) {
    for (const BadBoard &bad : kBadBoards) {
        try {
            SimBoard::from_toml(bad.text, kBoards);
            ADD_FAILURE() << "accepted: " << bad.text;
        } catch (const sim::BoardError &error) {
            EXPECT_THAT(error.what(), HasSubstr(bad.message)) << bad.text;
        }
    }
}

TEST(BoardFile, ABoardThatNamesItselfAsBaseIsRefused) {
    TempDir dir;
    const std::string path = dir.file("loop.toml", "base = \"loop.toml\"\nname = \"loop\"\n");
    EXPECT_THROW(SimBoard::from_file(path), sim::BoardError);
}

// ---- The driver ----

struct Request {
    const char *what;
    unsigned long request;
    std::uint32_t param0;
    std::int32_t rc;
    std::uint32_t param1; // the result expected in param1 (param0 for VERSION_READ)
};

constexpr Request kRequests[] = {
    {"version", CPLD_VERSION_READ, 0, 0, 0x0C},
    {"implemented register", CPLD_PPCREG_READ, 0xFD, 0, 0xB5},
    {"unimplemented register reads all ones", CPLD_PPCREG_READ, 0x20, 0, 0xFF},
    {"last offset of the area", CPLD_PPCREG_READ, 0xFF, 0, 0xFF},
    {"offset beyond the area", CPLD_PPCREG_READ, 0x100, -EINVAL, 0},
    {"offset far beyond the area", CPLD_PPCREG_READ, 0xFFFFFFFF, -EINVAL, 0},
    {"DCR with a reset value", CPLD_DCR_READ, 0x0C, 0, 0x20},
    {"DCR without one", CPLD_DCR_READ, 0x3FF, 0, 0},
    {"DCR beyond the 10-bit space", CPLD_DCR_READ, 0x400, -EINVAL, 0},
    {"SDRAM0 configuration", CPLD_SDRAM0CFG_READ, 0x20, 0, 0x82000000},
    {"SDRAM0 register not listed", CPLD_SDRAM0CFG_READ, 0x01, 0, 0},
    {"SDRAM0 beyond its range", CPLD_SDRAM0CFG_READ, 0x100, -EINVAL, 0},
    {"command 5", CPLD_CMD5, 0x1234, 0, 0},
};

TEST_F(Opened, AnswersEachRequestWithItsRcAndResult) {
    for (const Request &request : kRequests) {
        const Reply reply = send(request.request, request.param0);
        EXPECT_EQ(reply.ret, 0) << request.what;
        EXPECT_EQ(reply.io.rc, request.rc) << request.what;
        const std::uint32_t result =
            request.request == CPLD_VERSION_READ ? reply.io.param0 : reply.io.param1;
        EXPECT_EQ(result, request.param1) << request.what;
    }
}

TEST_F(Opened, WritesStickOnlyInWritableRegisters) {
    const struct {
        std::uint32_t offset;
        std::uint32_t reads_back;
    } cases[] = {{0x55, 0xA5}, {0xAA, 0xA5}, {0x10, 0x0C}, {0xFD, 0xB5},
                 {0x16, 0x00}, {0x39, 0x02}, {0x20, 0xFF}};
    for (const auto &c : cases) {
        EXPECT_EQ(send(CPLD_PPCREG_WRITE, c.offset, 0xA5).io.rc, 0);
        EXPECT_EQ(read_reg(c.offset), c.reads_back) << "offset " << c.offset;
    }
}

TEST_F(Opened, RefusesWritesOutsideTheAreaOrWiderThanAByte) {
    EXPECT_EQ(send(CPLD_PPCREG_WRITE, 0x100, 1).io.rc, -EINVAL);
    EXPECT_EQ(send(CPLD_PPCREG_WRITE, 0x55, 0x100).io.rc, -EINVAL);
    EXPECT_EQ(read_reg(0x55), 0u);
    EXPECT_EQ(send(CPLD_DCR_WRITE, 0x400, 1).io.rc, -EINVAL);
}

TEST_F(Opened, DcrsHoldWholeWords) {
    EXPECT_EQ(send(CPLD_DCR_WRITE, 0x3FF, 0xDEADBEEF).io.rc, 0);
    EXPECT_EQ(send(CPLD_DCR_READ, 0x3FF).io.param1, 0xDEADBEEFu);
    EXPECT_EQ(send(CPLD_DCR_READ, 0x3FE).io.param1, 0u);
}

TEST_F(Opened, LedModeIsSetByModeAndReadBackByAGet) {
    constexpr std::uint32_t kGet = 0xFFFFFFFF;
    EXPECT_EQ(send(CPLD_DBG_LED_MODE, kGet).io.param0, 0u);
    EXPECT_EQ(send(CPLD_DBG_LED_MODE, 1).io.rc, 0);
    EXPECT_EQ(send(CPLD_DBG_LED_MODE, kGet).io.param0, 1u);
    EXPECT_EQ(send(CPLD_DBG_LED_MODE, 2).io.param0, 1u); // not a mode: a get
    EXPECT_EQ(send(CPLD_DBG_LED_MODE, 0).io.rc, 0);
    EXPECT_EQ(send(CPLD_DBG_LED_MODE, kGet).io.param0, 0u);
}

TEST_F(Opened, UnknownRequestsFailWithENOTTYAndLeaveTheRecordAlone) {
    const unsigned long unknown[] = {_IO('C', 2), _IO('C', 11), _IO('D', 6), _IOR('C', 6, int)};
    for (const unsigned long request : unknown) {
        const Reply reply = send(request, 0x10, 0x20);
        EXPECT_EQ(reply.ret, -1);
        EXPECT_EQ(reply.err, ENOTTY);
        EXPECT_EQ(reply.io.rc, -1);
        EXPECT_EQ(reply.io.param1, 0x20u);
    }
    errno = 0;
    EXPECT_EQ(board_->ioctl(fd_, CPLD_PPCREG_READ, nullptr), -1);
    EXPECT_EQ(errno, EFAULT);
}

TEST_F(Opened, BehavesLikeTheKernelWithDescriptorsAndErrno) {
    errno = 1234;
    EXPECT_EQ(send(CPLD_PPCREG_READ, 0x10).ret, 0);
    EXPECT_EQ(errno, 0); // set by send() itself; now untouched by a success:
    errno = 1234;
    CpldIo io{-1, 0x10, 0};
    EXPECT_EQ(board_->ioctl(fd_, CPLD_PPCREG_READ, &io), 0);
    EXPECT_EQ(errno, 1234);

    EXPECT_EQ(::send(*board_, fd_ + 100, CPLD_PPCREG_READ, 0x10).err, EBADF);
    EXPECT_EQ(board_->open("/dev/cpld0", O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);

    const int second = board_->open(CPLD_DEVICE, O_RDWR | O_CLOEXEC);
    ASSERT_GE(second, 0);
    EXPECT_NE(second, fd_);
    EXPECT_EQ(::fcntl(second, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
    EXPECT_EQ(board_->close(second), 0);
    EXPECT_EQ(board_->close(second), -1);
    EXPECT_EQ(errno, EBADF);
}

std::string unknown_request_line(unsigned long request) {
    char line[64];
    (void)std::snprintf(line, sizeof line, "cpld request=0x%08lx -> ret=-1 errno=%d", request,
                        ENOTTY);
    return line;
}

TEST(Trace, RecordsEveryRequestWithItsFieldsAndResult) {
    TempDir dir;
    sim::Options options;
    options.trace_file = dir.path() + "/trace";
    auto board = board_with("", options);
    const int fd = board->open(CPLD_DEVICE, O_RDWR);
    send(*board, fd, CPLD_PPCREG_READ, 0x10);
    send(*board, fd, _IO('C', 3), 0);
    board->close(fd);
    const std::vector<std::string> expected = {
        "cpld open flags=0x00000002 -> ret=" + std::to_string(fd) + " errno=0",
        "cpld PPCREG_READ param0=0x00000010 param1=0x00000000 -> ret=0 errno=0 rc=0 "
        "param0=0x00000010 param1=0x0000000c",
        unknown_request_line(_IO('C', 3)),
        "cpld close fd=" + std::to_string(fd) + " -> ret=0 errno=0",
    };
    EXPECT_EQ(board->trace(), expected);
    std::ifstream file(options.trace_file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    EXPECT_EQ(lines, expected);
}

// ---- Faults ----

struct FaultCase {
    const char *board; // a fault board of sim/boards
    unsigned long request;
    std::uint32_t param0;
    int ret;
    int err;
    std::int32_t rc;
};

constexpr FaultCase kFaultBoards[] = {
    {"version-fails.toml", CPLD_VERSION_READ, 0, 0, 0, 1},
    {"ioctl-eio.toml", CPLD_PPCREG_READ, 0x10, -1, EIO, -1},
    {"ioctl-eio.toml", CPLD_PPCREG_READ, 0x11, 0, 0, 0},
    {"rc-5.toml", CPLD_PPCREG_READ, 0x10, 0, 0, 5},
    {"rc-5.toml", CPLD_PPCREG_WRITE, 0x10, 0, 0, 0},
    {"dcr-fails.toml", CPLD_DCR_READ, 0x0C, 0, 0, -EIO},
    {"dcr-fails.toml", CPLD_DCR_READ, 0x0D, 0, 0, 0},
};

TEST(Faults, EachFaultBoardFailsJustTheRequestItNames) {
    for (const FaultCase &c : kFaultBoards) {
        auto board = SimBoard::from_file(kBoards + "/" + c.board);
        const int fd = board->open(CPLD_DEVICE, O_RDWR);
        ASSERT_GE(fd, 0) << c.board;
        for (int time = 0; time < 2; ++time) {
            const Reply reply = send(*board, fd, c.request, c.param0);
            EXPECT_EQ(reply.ret, c.ret) << c.board << " param0 " << c.param0;
            EXPECT_EQ(reply.err, c.err) << c.board << " param0 " << c.param0;
            EXPECT_EQ(reply.io.rc, c.rc) << c.board << " param0 " << c.param0;
        }
    }
}

TEST(Faults, DeviceThatCannotBeOpenedGivesItsErrno) {
    for (const auto &[file, err] :
         {std::pair{"cpld-absent.toml", ENOENT}, std::pair{"cpld-eacces.toml", EACCES}}) {
        auto board = SimBoard::from_file(kBoards + "/" + file);
        errno = 0;
        EXPECT_EQ(board->open(CPLD_DEVICE, O_RDWR), -1);
        EXPECT_EQ(errno, err) << file;
    }
}

TEST(Faults, ReadbackBoardSpoilsOnlyTheSecondWriteOfTheRun) {
    auto board = SimBoard::from_file(kBoards + "/readback.toml");
    const int fd = board->open(CPLD_DEVICE, O_RDWR);
    const std::uint32_t reads[] = {0x55, 0xAA ^ 0xFF, 0x5A};
    const std::uint32_t writes[] = {0x55, 0xAA, 0x5A};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(send(*board, fd, CPLD_PPCREG_WRITE, 0x55, writes[i]).io.rc, 0);
        EXPECT_EQ(read_reg(*board, fd, 0x55), reads[i]) << "write " << i + 1;
    }
    send(*board, fd, CPLD_PPCREG_WRITE, 0xAA, 0x12); // other offsets do not count
    EXPECT_EQ(read_reg(*board, fd, 0xAA), 0x12u);
}

TEST(Faults, OccurrenceAndStoreApplyToOpensAndDcrWritesToo) {
    auto board = board_with("[[cpld.faults]]\nrequest = \"open\"\noccurrence = 2\n"
                            "errno = 16\n"
                            "[[cpld.faults]]\nrequest = \"DCR_WRITE\"\nstore = 0xCAFE\n");
    const int fd = board->open(CPLD_DEVICE, O_RDWR);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(board->open(CPLD_DEVICE, O_RDWR), -1);
    EXPECT_EQ(errno, EBUSY);
    const int third = board->open(CPLD_DEVICE, O_RDWR);
    EXPECT_GE(third, 0);
    send(*board, fd, CPLD_DCR_WRITE, 0x100, 0x1234);
    EXPECT_EQ(send(*board, fd, CPLD_DCR_READ, 0x100).io.param1, 0xCAFEu);
}

// ---- State kept between runs ----

TEST(State, RegistersSurviveFromOneRunToTheNextUntilAFreshStart) {
    TempDir dir;
    sim::Options options;
    options.state_dir = dir.path() + "/state";
    {
        auto first = board_with("", options);
        const int fd = first->open(CPLD_DEVICE, O_RDWR);
        send(*first, fd, CPLD_PPCREG_WRITE, 0x55, 0x77);
        send(*first, fd, CPLD_DCR_WRITE, 0x200, 0x01020304);
        send(*first, fd, CPLD_DBG_LED_MODE, 1);
    }
    auto second = board_with("", options);
    const int fd = second->open(CPLD_DEVICE, O_RDWR);
    EXPECT_EQ(read_reg(*second, fd, 0x55), 0x77u);
    EXPECT_EQ(send(*second, fd, CPLD_DCR_READ, 0x200).io.param1, 0x01020304u);
    EXPECT_EQ(send(*second, fd, CPLD_DBG_LED_MODE, 0xFFFFFFFF).io.param0, 1u);

    options.fresh = true;
    auto fresh = board_with("", options);
    EXPECT_EQ(read_reg(*fresh, fresh->open(CPLD_DEVICE, O_RDWR), 0x55), 0u);
    EXPECT_EQ(read_reg(*second, fd, 0x55), 0u); // a program still running sees the reset too
}

TEST(State, IsKeptLittleEndianAtFixedPlaces) {
    TempDir dir;
    sim::Options options;
    options.state_dir = dir.path();
    auto board = board_with("", options);
    const int fd = board->open(CPLD_DEVICE, O_RDWR);
    send(*board, fd, CPLD_DCR_WRITE, 0x001, 0x11223344);
    send(*board, fd, CPLD_PPCREG_WRITE, 0xAA, 0x5A);
    std::ifstream file(dir.path() + "/" + sim::State::kFileName, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)), {});
    ASSERT_EQ(bytes.size(), 8192u);
    EXPECT_EQ(bytes.substr(0, 8), std::string("HWSIMST\0", 8));
    EXPECT_EQ(bytes.substr(324, 4), "\x44\x33\x22\x11");
    EXPECT_EQ(bytes[64 + 0xAA], '\x5A');
}

TEST(State, IsResetWhenTheBoardChangesOrTheFileIsNotAState) {
    TempDir dir;
    sim::Options options;
    options.state_dir = dir.path();
    auto write_55 = [](SimBoard &board) {
        const int fd = board.open(CPLD_DEVICE, O_RDWR);
        send(board, fd, CPLD_PPCREG_WRITE, 0x55, 0x99);
        board.close(fd);
    };
    write_55(*board_with("", options));
    auto changed = board_with("[cpld.registers]\n0x55 = { reset = 0x12 }\n", options);
    EXPECT_EQ(read_reg(*changed, changed->open(CPLD_DEVICE, O_RDWR), 0x55), 0x12u);

    write_55(*changed);
    std::fstream(dir.path() + "/" + sim::State::kFileName, std::ios::in | std::ios::out) << "junk";
    auto again = board_with("[cpld.registers]\n0x55 = { reset = 0x12 }\n", options);
    EXPECT_EQ(read_reg(*again, again->open(CPLD_DEVICE, O_RDWR), 0x55), 0x12u);
}

TEST(State, AnUnusableStateDirectoryIsReported) {
    TempDir dir;
    sim::Options options;
    options.state_dir = dir.file("plain", "not a directory") + "/state";
    EXPECT_THROW(board_with("", options), sim::StateError);
}

// Two processes write their own register and DCR at once, each many times,
// each reading back its own values; neither sees nor spoils the other's.
TEST(State, ConcurrentWritersKeepEachOthersValues) {
    TempDir dir;
    sim::Options options;
    options.state_dir = dir.path();
    board_with("", options);
    constexpr int kRounds = 2000;
    const std::uint32_t offsets[] = {0x55, 0xAA};
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
        children[child] = ::fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0) {
            auto board = board_with("", options);
            const int fd = board->open(CPLD_DEVICE, O_RDWR);
            const std::uint32_t dcr = 0x100 + static_cast<std::uint32_t>(child);
            bool ok = true;
            for (std::uint32_t i = 0; i < kRounds; ++i) {
                const std::uint32_t word =
                    (i << 16) | i | (static_cast<std::uint32_t>(child) << 31);
                send(*board, fd, CPLD_PPCREG_WRITE, offsets[child], i & 0xFF);
                send(*board, fd, CPLD_DCR_WRITE, dcr, word);
                ok = ok &&
                     send(*board, fd, CPLD_PPCREG_READ, offsets[child]).io.param1 == (i & 0xFF);
                ok = ok && send(*board, fd, CPLD_DCR_READ, dcr).io.param1 == word;
            }
            ::_exit(ok ? 0 : 1);
        }
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto board = board_with("", options);
    const int fd = board->open(CPLD_DEVICE, O_RDWR);
    constexpr std::uint32_t kLast = kRounds - 1;
    EXPECT_EQ(read_reg(*board, fd, 0x55), kLast & 0xFF);
    EXPECT_EQ(read_reg(*board, fd, 0xAA), kLast & 0xFF);
    EXPECT_EQ(send(*board, fd, CPLD_DCR_READ, 0x100).io.param1, (kLast << 16) | kLast);
    EXPECT_EQ(send(*board, fd, CPLD_DCR_READ, 0x101).io.param1, (kLast << 16) | kLast | 1u << 31);
    EXPECT_EQ(read_reg(*board, fd, 0x11), 0x10u);
}

} // namespace
