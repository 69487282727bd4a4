// The board image the runner leaves for the shim: it must give back the board
// the board files give, be refused once the files are edited, and be refused,
// never trusted, when damaged.
#include "board_files.h"
#include "board_image.h"
#include "sim_board.h"
#include "sim_env.h"
#include "state.h"

#include <hvl/cpld.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <hvl/hvl_ipmi_ostrel.h>

#include <fcntl.h>
#include <linux/ipmi.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using sim::Board;
using ::testing::HasSubstr;

const fs::path kBoards = fs::path(sim::default_board()).parent_path();

class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/sim_image_test.XXXXXX";
        path_ = ::mkdtemp(name);
    }
    ~TempDir() { fs::remove_all(path_); }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name, const std::string &text) const {
        const std::string path = path_ + "/" + name;
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << text;
        return path;
    }

private:
    std::string path_;
};

// ---- Every field of a board, as text: a field the image loses shows as a
// difference between two of these. ----

template <typename T> std::string optional_text(const std::optional<T> &value) {
    return value ? std::to_string(static_cast<long long>(*value)) : "-";
}

template <typename Bytes> std::string bytes_text(const Bytes &bytes) {
    std::string text;
    for (const std::uint8_t byte : bytes) {
        text += std::to_string(byte) + ",";
    }
    return "[" + text + "]";
}

void describe_area(std::ostream &out, const char *name, const sim::RegisterArea &area) {
    for (std::size_t offset = 0; offset < area.size(); ++offset) {
        const sim::CpldRegister &reg = area[offset];
        out << name << "[" << offset << "] " << reg.implemented << " " << int{reg.reset} << " "
            << reg.read_only << " " << optional_text(reg.mezzanine_reset) << "\n";
    }
}

void describe_cpld(std::ostream &out, const sim::CpldBoard &cpld) {
    out << "cpld " << int{cpld.version} << " " << cpld.led_mode << "\n";
    describe_area(out, "ppc", cpld.registers);
    for (const auto &[number, value] : cpld.dcrs) {
        out << "dcr " << number << "=" << value << "\n";
    }
    for (const auto &[number, value] : cpld.sdram0) {
        out << "sdram0 " << number << "=" << value << "\n";
    }
    for (const sim::Fault &f : cpld.faults) {
        out << "fault " << f.on_open << " " << f.request << " " << optional_text(f.param0) << " "
            << f.occurrence << " " << static_cast<int>(f.effect) << " " << f.value << "\n";
    }
}

void describe_ipmc(std::ostream &out, const sim::IpmcBoard &ipmc) {
    const sim::DeviceIdentity &id = ipmc.identity;
    const sim::PicmgAddress &picmg = ipmc.picmg;
    const sim::EngineeringReset &eng = ipmc.engineering;
    out << "ipmc " << ipmc.present << " " << ipmc.mezzanine << "\n"
        << "id " << int{id.device_id} << " " << int{id.device_revision} << " " << id.provides_sdrs
        << " " << int{id.firmware_major} << " " << int{id.firmware_minor} << " "
        << int{id.ipmi_version} << " " << int{id.device_support} << " " << id.manufacturer_id << " "
        << id.product_id << " " << bytes_text(id.aux_firmware) << "\n"
        << "picmg " << int{picmg.hardware_address} << " " << int{picmg.ipmb0_address} << " "
        << int{picmg.site_id} << " " << int{picmg.site_type} << " " << int{picmg.extension_version}
        << " " << int{picmg.max_fru_id} << "\n"
        << "eng " << bytes_text(eng.fcap) << " " << int{eng.board_option} << " "
        << int{eng.mezzanine_option} << " " << bytes_text(eng.further) << " " << bytes_text(eng.mac)
        << " " << int{eng.mac_suffix} << " " << (eng.record ? bytes_text(*eng.record) : "-") << "\n"
        << "params " << int{ipmc.params.modes} << " " << int{ipmc.params.extra} << "\n";
    describe_area(out, "ipmc", ipmc.registers);
    for (const sim::IpmiFault &f : ipmc.faults) {
        out << "fault " << f.request << " " << optional_text(f.netfn) << " " << optional_text(f.cmd)
            << " " << f.data_from << " " << bytes_text(f.data) << " " << f.occurrence << " "
            << static_cast<int>(f.effect) << " " << f.value << " " << bytes_text(f.answer) << "\n";
    }
}

std::string describe(const Board &board) {
    std::ostringstream out;
    out << "name " << board.name << "\ndescription " << board.description << "\nfingerprint "
        << board.fingerprint << "\n";
    for (const std::string &base : board.bases) {
        out << "base " << base << "\n";
    }
    describe_cpld(out, board.cpld);
    describe_ipmc(out, board.ipmc);
    return out.str();
}

// A board with every field away from its default, and faults of every kind.
Board every_field() {
    Board b;
    b.name = "every field";
    b.description = "all of them,\nover two lines";
    b.fingerprint = 0x0123456789ABCDEFULL;
    b.bases = {"base.toml", "../deeper/base.toml"};
    b.cpld.version = 0x0C;
    b.cpld.led_mode = 1;
    b.cpld.registers[0x00] = {true, 0x3F, false, std::nullopt};
    b.cpld.registers[0x10] = {true, 0x0C, true, std::nullopt};
    b.cpld.registers[0x20] = {false, 0x11, true, 0x22};
    b.cpld.registers[0xFF] = {true, 0xA5, false, 0x5A};
    b.cpld.dcrs = {{0x000, 0x20}, {0x3FF, 0xFFFFFFFF}};
    b.cpld.sdram0 = {{0x20, 0x82000000}, {0xFF, 1}};
    b.cpld.faults = {
        {true, 0, std::nullopt, 2, sim::FaultEffect::Errno, EACCES},
        {false, CPLD_PPCREG_READ, 0x10, 0, sim::FaultEffect::Rc, -5},
        {false, CPLD_PPCREG_WRITE, 0x55, 2, sim::FaultEffect::StoreXor, 0xFF},
        {false, CPLD_DCR_WRITE, 0xFFFFFFFF, 1, sim::FaultEffect::Store, 0xFFFFFFFF},
    };
    sim::IpmcBoard &ipmc = b.ipmc;
    ipmc.present = true;
    ipmc.mezzanine = true;
    ipmc.identity = {0x12, 0x0F, true, 0x7F, 0x05, 0x15, 0x29, 0xFFFFF, 0x3120, {1, 2, 3, 4}};
    ipmc.picmg = {0x41, 0x82, 3, 7, 0x32, 9};
    ipmc.registers[0x14] = {true, 0x00, false, 0x04};
    ipmc.registers[0xFF] = {true, 0x0C, true, std::nullopt};
    ipmc.engineering = {{1, 2, 3}, 4, 5, {6, 7, 8}, {2, 0, 0, 0, 0, 1}, 9, std::nullopt};
    ipmc.engineering.record = std::vector<std::uint8_t>(OSTREL_ENG_RECORD_SIZE, 0xEE);
    ipmc.params = {0x11, 0x22};
    ipmc.faults = {
        {"open", std::nullopt, std::nullopt, 0, {}, 3, sim::IpmiFaultEffect::Errno, ENODEV, {}},
        {"SET_MY_ADDRESS_CMD",
         std::nullopt,
         std::nullopt,
         0,
         {},
         0,
         sim::IpmiFaultEffect::Errno,
         EIO,
         {}},
        {"SEND_COMMAND", 0x3E, 0x62, 4, {0x10, 0x01}, 0, sim::IpmiFaultEffect::Ccode, 0xC0, {}},
        {"SEND_COMMAND", 0x2C, std::nullopt, 0, {}, 1, sim::IpmiFaultEffect::Answer, 0, {}},
        {"SEND_COMMAND",
         std::nullopt,
         0x01,
         0,
         {},
         0,
         sim::IpmiFaultEffect::Answer,
         0,
         std::vector<std::uint8_t>(sim::kMaxFaultAnswer, 0xAB)},
        {"SEND_COMMAND",
         std::nullopt,
         std::nullopt,
         IPMI_MAX_MSG_LENGTH,
         std::vector<std::uint8_t>(IPMI_MAX_MSG_LENGTH, 1),
         0,
         sim::IpmiFaultEffect::Length,
         1100,
         {}},
    };
    return b;
}

std::optional<Board> round_trip(const Board &board) {
    const std::vector<std::uint8_t> image = sim::encode_board_image(board);
    return sim::decode_board_image(image.data(), image.size());
}

std::vector<std::uint8_t> file_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void put_file_bytes(const std::string &path, const std::vector<std::uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

std::string image_path(const TempDir &dir) { return dir.path() + "/" + sim::kImageFileName; }

// Why the image in `dir` is refused for the board file at `path`; empty when
// it is taken.
std::string refusal(const std::string &dir, const std::string &path) {
    try {
        sim::read_board_image(dir, path);
        return "";
    } catch (const sim::ImageError &error) {
        return error.what();
    }
}

// ---- Round trip ----

TEST(BoardImage, KeepsEveryFieldAndFaultsOfEveryKind) {
    const Board board = every_field();
    const std::optional<Board> back = round_trip(board);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(describe(*back), describe(board));
}

class BoardFileImage : public ::testing::TestWithParam<std::string> {};

TEST_P(BoardFileImage, GivesTheBoardTheFileGives) {
    const Board board = sim::load_board((kBoards / GetParam()).string());
    const std::optional<Board> back = round_trip(board);
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(describe(*back), describe(board));
}

std::vector<std::string> board_files() {
    std::vector<std::string> names;
    for (const fs::directory_entry &entry : fs::directory_iterator(kBoards)) {
        if (entry.path().extension() == ".toml") {
            names.push_back(entry.path().filename().string());
        }
    }
    return names;
}

// "rc-5.toml" as a test name: rc_5.
std::string test_name(const ::testing::TestParamInfo<std::string> &file) {
    std::string name = fs::path(file.param).stem().string();
    for (char &c : name) {
        c = c == '-' ? '_' : c;
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Boards, BoardFileImage, ::testing::ValuesIn(board_files()), test_name);

// The same on the board and on the host: fields at fixed places, little-endian.
TEST(BoardImage, HeaderIsLittleEndianAtFixedPlaces) {
    Board board = every_field();
    board.fingerprint = 0x0807060504030201ULL;
    const std::vector<std::uint8_t> image = sim::encode_board_image(board);
    ASSERT_GT(image.size(), 24u);
    EXPECT_EQ(std::string(image.begin(), image.begin() + 8), std::string("HWSIMIM\0", 8));
    EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + 8, image.begin() + 12),
              (std::vector<std::uint8_t>{1, 0, 0, 0}));
    const std::size_t size = image.size();
    EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + 12, image.begin() + 16),
              (std::vector<std::uint8_t>{
                  static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
                  static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24)}));
    EXPECT_EQ(std::vector<std::uint8_t>(image.begin() + 16, image.begin() + 24),
              (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
}

// ---- Damage ----

TEST(BoardImage, EveryCutAndEveryChangedByteIsRefused) {
    const std::vector<std::uint8_t> image = sim::encode_board_image(every_field());
    for (std::size_t length = 0; length < image.size(); ++length) {
        EXPECT_FALSE(sim::decode_board_image(image.data(), length)) << "cut at " << length;
    }
    std::vector<std::uint8_t> longer = image;
    longer.push_back(0);
    EXPECT_FALSE(sim::decode_board_image(longer.data(), longer.size()));
    for (std::size_t at = 0; at < image.size(); ++at) {
        std::vector<std::uint8_t> changed = image;
        changed[at] ^= 0x01;
        EXPECT_FALSE(sim::decode_board_image(changed.data(), changed.size())) << "byte " << at;
    }
}

// An intact image of a board that no board file can give: refused all the same.
struct Impossible {
    const char *what;
    void (*spoil)(Board &);
};

const Impossible kImpossible[] = {
    {"a record of the wrong size",
     [](Board &b) { b.ipmc.engineering.record = std::vector<std::uint8_t>(3, 0); }},
    {"a CPLD request the driver does not know",
     [](Board &b) { b.cpld.faults[1].request = 0x1234; }},
    {"an IPMI request the driver does not know", [](Board &b) { b.ipmc.faults[1].request = "X"; }},
    {"an answer longer than any fault may give",
     [](Board &b) { b.ipmc.faults[4].answer.resize(sim::kMaxFaultAnswer + 1); }},
    {"a length longer than any fault may give",
     [](Board &b) { b.ipmc.faults[5].value = std::int64_t{sim::kMaxFaultAnswer} + 1; }},
    {"a negative length", [](Board &b) { b.ipmc.faults[5].value = -1; }},
    {"message data longer than a message", [](Board &b) { b.ipmc.faults[5].data.push_back(0); }},
    {"a DCR number out of range", [](Board &b) { b.cpld.dcrs[sim::kDcrCount] = 1; }},
    {"an SDRAM0 number out of range", [](Board &b) { b.cpld.sdram0[sim::kSdram0Count] = 1; }},
};

TEST(BoardImage, AnIntactImageOfAnImpossibleBoardIsRefused) {
    for (const Impossible &c : kImpossible) {
        Board board = every_field();
        c.spoil(board);
        EXPECT_FALSE(round_trip(board)) << c.what;
    }
}

TEST(BoardImage, AMissingOrDamagedImageIsReportedNotUsed) {
    TempDir dir;
    const std::string path = (kBoards / "default.toml").string();
    EXPECT_THAT(refusal(dir.path(), path),
                HasSubstr("no board image " + image_path(dir) + " (run the program under hwsim)"));
    sim::write_board_image(dir.path(), sim::load_board(path));
    ASSERT_EQ(refusal(dir.path(), path), "");
    std::vector<std::uint8_t> bytes = file_bytes(image_path(dir));
    bytes.resize(bytes.size() / 2);
    put_file_bytes(image_path(dir), bytes);
    EXPECT_THAT(refusal(dir.path(), path), HasSubstr("board image " + image_path(dir) +
                                                     " is damaged (run the program under hwsim)"));
}

// ---- Board files edited after the image was made ----

// A board file with a base in another directory, which names its own base
// back in the first one.
struct Files {
    TempDir dir;
    std::string top = dir.file("top/board.toml", "base = \"../sub/middle.toml\"\nname = \"top\"\n");
    std::string middle =
        dir.file("sub/middle.toml", "base = \"../top/bottom.toml\"\n[cpld.dcr]\n0x00C = 3\n");
    std::string bottom = dir.file("top/bottom.toml", "name = \"bottom\"\n[cpld]\nversion = 1\n");
};

TEST(BoardImage, FingerprintOfTheFilesIsTheOneTheBoardFileGives) {
    const Files files;
    const Board board = sim::load_board(files.top);
    EXPECT_EQ(board.bases, (std::vector<std::string>{"../sub/middle.toml", "../top/bottom.toml"}));
    EXPECT_EQ(sim::fingerprint_of_files(files.top, board.bases), board.fingerprint);
}

TEST(BoardImage, IsTakenUntilAFileOfTheBoardIsEditedAndAgainOnceWrittenAnew) {
    const Files files;
    TempDir state;
    sim::write_board_image(state.path(), sim::load_board(files.top));
    EXPECT_EQ(sim::read_board_image(state.path(), files.top).cpld.version, 1);

    for (const std::string &edited : {files.top, files.middle, files.bottom}) {
        const std::string text = sim::read_board_text(edited);
        std::ofstream(edited, std::ios::app) << "# edited\n";
        EXPECT_THAT(refusal(state.path(), files.top),
                    HasSubstr("is not of " + files.top + " as it reads now"))
            << edited;
        std::ofstream(edited, std::ios::trunc) << text;
    }

    std::ofstream(files.bottom, std::ios::trunc) << "name = \"bottom\"\n[cpld]\nversion = 2\n";
    sim::write_board_image(state.path(), sim::load_board(files.top));
    EXPECT_EQ(sim::read_board_image(state.path(), files.top).cpld.version, 2);
}

TEST(BoardImage, OfAnotherBoardFileIsNotTaken) {
    TempDir state;
    sim::write_board_image(state.path(), sim::load_board((kBoards / "rc-5.toml").string()));
    EXPECT_THAT(refusal(state.path(), (kBoards / "ioctl-eio.toml").string()),
                HasSubstr("as it reads now"));
}

TEST(BoardImage, IsWrittenInPlaceOfTheOldOneWithNothingLeftBeside) {
    TempDir state;
    sim::write_board_image(state.path(), sim::load_board((kBoards / "rc-5.toml").string()));
    sim::write_board_image(state.path(), sim::load_board((kBoards / "default.toml").string()));
    std::vector<std::string> names;
    for (const fs::directory_entry &entry : fs::directory_iterator(state.path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{sim::kImageFileName});
    EXPECT_EQ(sim::read_board_image(state.path(), (kBoards / "default.toml").string()).name,
              "default");
    EXPECT_THROW(sim::write_board_image(state.path() + "/missing", every_field()), sim::StateError);
}

// A board from its image behaves as the one from the file: the same requests
// get the same answers, the faults included.
TEST(BoardImage, BoardFromTheImageAnswersAsTheBoardFromTheFile) {
    for (const char *name : {"readback.toml", "rc-5.toml", "cpld-eacces.toml"}) {
        TempDir state;
        const std::string path = (kBoards / name).string();
        sim::write_board_image(state.path(), sim::load_board(path));
        auto from_file = sim::SimBoard::from_file(path);
        auto from_image = sim::SimBoard::from_board(sim::read_board_image(state.path(), path));
        for (sim::SimBoard *board : {from_file.get(), from_image.get()}) {
            const int fd = board->open(CPLD_DEVICE, O_RDWR);
            CpldIo requests[] = {{-1, 0x55, 0x12}, {-1, 0x55, 0x34}, {-1, 0x10, 0}, {-1, 0x55, 0}};
            board->ioctl(fd, CPLD_PPCREG_WRITE, &requests[0]);
            board->ioctl(fd, CPLD_PPCREG_WRITE, &requests[1]);
            board->ioctl(fd, CPLD_PPCREG_READ, &requests[2]);
            board->ioctl(fd, CPLD_PPCREG_READ, &requests[3]);
            board->close(fd);
        }
        EXPECT_EQ(from_image->trace(), from_file->trace()) << name;
    }
}

} // namespace
