// The board image the runner leaves for the shim: it must give back the board
// the board files give, be refused once the files are edited, and be refused,
// never trusted, when damaged.
#include "board_files.h"
#include "board_image.h"
#include "sim_test_support.h"
#include "state.h"

#include <hvl/cpld.h>
#include <hvl/hvl_ipmi_ostrel.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <linux/ipmi.h>

#include <cerrno>
#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using sim::Board;
using namespace sim_test;
using ::testing::HasSubstr;
using Bytes = std::vector<std::uint8_t>;

// ---- Every field of a board, as text: a field the image loses shows as a
// difference between two of these. ----

struct Text {
    std::ostringstream out;
};

template <typename T>
std::enable_if_t<std::is_arithmetic_v<T> || std::is_enum_v<T>, Text &> operator<<(Text &t,
                                                                                  T value) {
    t.out << static_cast<long long>(value) << ' ';
    return t;
}

Text &operator<<(Text &t, const std::string &value) {
    t.out << '"' << value << "\" ";
    return t;
}

// Containers: an element a line.
template <typename C, typename = decltype(std::declval<const C &>().begin())>
Text &operator<<(Text &t, const C &items) {
    t.out << "[\n";
    for (const auto &item : items) {
        t << item;
        t.out << '\n';
    }
    t.out << "] ";
    return t;
}

template <typename T> Text &operator<<(Text &t, const std::optional<T> &value) {
    return value ? t << *value : t << std::string("-");
}

template <typename A, typename B> Text &operator<<(Text &t, const std::pair<A, B> &entry) {
    return t << entry.first << entry.second;
}

Text &operator<<(Text &t, const sim::CpldRegister &r) {
    return t << r.implemented << r.reset << r.read_only << r.mezzanine_reset;
}

Text &operator<<(Text &t, const sim::Fault &f) {
    return t << f.on_open << f.request << f.param0 << f.occurrence << f.effect << f.value;
}

Text &operator<<(Text &t, const sim::IpmiFault &f) {
    return t << f.request << f.netfn << f.cmd << f.data_from << f.data << f.occurrence << f.effect
             << f.value << f.answer;
}

std::string describe(const Board &board) {
    const sim::CpldBoard &cpld = board.cpld;
    const sim::IpmcBoard &ipmc = board.ipmc;
    const sim::DeviceIdentity &id = ipmc.identity;
    const sim::PicmgAddress &picmg = ipmc.picmg;
    const sim::EngineeringReset &eng = ipmc.engineering;
    Text t;
    t << board.name << board.description << board.fingerprint << board.bases;
    t << cpld.version << cpld.led_mode << cpld.registers << cpld.dcrs << cpld.sdram0 << cpld.faults;
    t << ipmc.present << ipmc.mezzanine << id.device_id << id.device_revision << id.provides_sdrs
      << id.firmware_major << id.firmware_minor << id.ipmi_version << id.device_support
      << id.manufacturer_id << id.product_id << id.aux_firmware;
    t << picmg.hardware_address << picmg.ipmb0_address << picmg.site_id << picmg.site_type
      << picmg.extension_version << picmg.max_fru_id;
    t << eng.fcap << eng.board_option << eng.mezzanine_option << eng.further << eng.mac
      << eng.mac_suffix << eng.record;
    t << ipmc.params.modes << ipmc.params.extra << ipmc.registers << ipmc.faults;
    return t.out.str();
}

// A board with every field away from its default, and faults of every kind.
Board every_field() {
    using sim::FaultEffect;
    using sim::IpmiFaultEffect;
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
        {true, 0, std::nullopt, 2, FaultEffect::Errno, EACCES},
        {false, CPLD_PPCREG_READ, 0x10, 0, FaultEffect::Rc, -5},
        {false, CPLD_PPCREG_WRITE, 0x55, 2, FaultEffect::StoreXor, 0xFF},
        {false, CPLD_DCR_WRITE, 0xFFFFFFFF, 1, FaultEffect::Store, 0xFFFFFFFF},
    };
    sim::IpmcBoard &ipmc = b.ipmc;
    ipmc.present = true;
    ipmc.mezzanine = true;
    ipmc.identity = {0x12, 0x0F, true, 0x7F, 0x05, 0x15, 0x29, 0xFFFFF, 0x3120, {1, 2, 3, 4}};
    ipmc.picmg = {0x41, 0x82, 3, 7, 0x32, 9};
    ipmc.registers[0x14] = {true, 0x00, false, 0x04};
    ipmc.registers[0xFF] = {true, 0x0C, true, std::nullopt};
    ipmc.engineering = {{1, 2, 3}, 4, 5, {6, 7, 8}, {2, 0, 0, 0, 0, 1}, 9, std::nullopt};
    ipmc.engineering.record = Bytes(OSTREL_ENG_RECORD_SIZE, 0xEE);
    ipmc.params = {0x11, 0x22};
    const Bytes longest(sim::kMaxFaultAnswer, 0xAB);
    const Bytes message(IPMI_MAX_MSG_LENGTH, 1); // the most data a fault may match
    ipmc.faults = {
        {"open", {}, {}, 0, {}, 3, IpmiFaultEffect::Errno, ENODEV, {}},
        {"SET_MY_ADDRESS_CMD", {}, {}, 0, {}, 0, IpmiFaultEffect::Errno, EIO, {}},
        {"SEND_COMMAND", 0x3E, 0x62, 4, {0x10, 0x01}, 0, IpmiFaultEffect::Ccode, 0xC0, {}},
        {"SEND_COMMAND", 0x2C, {}, 0, {}, 1, IpmiFaultEffect::Answer, 0, {}},
        {"SEND_COMMAND", {}, 0x01, 0, {}, 0, IpmiFaultEffect::Answer, 0, longest},
        {"SEND_COMMAND", {}, {}, message.size(), message, 0, IpmiFaultEffect::Length, 1100, {}},
    };
    return b;
}

std::optional<Board> round_trip(const Board &board) {
    const Bytes image = sim::encode_board_image(board);
    return sim::decode_board_image(image.data(), image.size());
}

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
    const Board board = sim::load_board(kBoards + "/" + GetParam());
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
    const Bytes image = sim::encode_board_image(board);
    ASSERT_GT(image.size(), 24u);
    const auto bytes = [&](std::size_t from, std::size_t to) {
        return Bytes(image.begin() + from, image.begin() + to);
    };
    const std::size_t size = image.size();
    EXPECT_EQ(std::string(image.begin(), image.begin() + 8), std::string("HWSIMIM\0", 8));
    EXPECT_EQ(bytes(8, 12), (Bytes{1, 0, 0, 0}));
    EXPECT_EQ(
        bytes(12, 16),
        (Bytes{static_cast<std::uint8_t>(size), static_cast<std::uint8_t>(size >> 8),
               static_cast<std::uint8_t>(size >> 16), static_cast<std::uint8_t>(size >> 24)}));
    EXPECT_EQ(bytes(16, 24), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
}

// ---- Damage ----

TEST(BoardImage, EveryCutAndEveryChangedByteIsRefused) {
    const Bytes image = sim::encode_board_image(every_field());
    for (std::size_t length = 0; length < image.size(); ++length) {
        EXPECT_FALSE(sim::decode_board_image(image.data(), length)) << "cut at " << length;
    }
    Bytes longer = image;
    longer.push_back(0);
    EXPECT_FALSE(sim::decode_board_image(longer.data(), longer.size()));
    for (std::size_t at = 0; at < image.size(); ++at) {
        Bytes changed = image;
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
    {"a record of the wrong size", [](Board &b) { b.ipmc.engineering.record = Bytes(3, 0); }},
    {"an unknown CPLD request", [](Board &b) { b.cpld.faults[1].request = 0x1234; }},
    {"an unknown IPMI request", [](Board &b) { b.ipmc.faults[1].request = "X"; }},
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
    const std::string path = kBoards + "/default.toml";
    const std::string image = dir.path() + "/" + sim::kImageFileName;
    EXPECT_THAT(refusal(dir.path(), path),
                HasSubstr("no board image " + image + " (run the program under hwsim)"));
    sim::write_board_image(dir.path(), sim::load_board(path));
    ASSERT_EQ(refusal(dir.path(), path), "");
    const std::string bytes = file_bytes(image);
    dir.file(sim::kImageFileName, bytes.substr(0, bytes.size() / 2));
    EXPECT_THAT(refusal(dir.path(), path),
                HasSubstr("board image " + image + " is damaged (run the program under hwsim)"));
}

// ---- Board files edited after the image was made ----

TEST(BoardImage, IsTakenUntilAFileOfTheBoardIsEditedAndAgainOnceWrittenAnew) {
    // A board file with a base in another directory, which names its own
    // base back in the first one.
    const TempDir files;
    const std::string top =
        files.file("top/board.toml", "base = \"../sub/middle.toml\"\nname = \"top\"\n");
    const std::string middle =
        files.file("sub/middle.toml", "base = \"../top/bottom.toml\"\n[cpld.dcr]\n0x00C = 3\n");
    const std::string bottom =
        files.file("top/bottom.toml", "name = \"bottom\"\n[cpld]\nversion = 1\n");
    const TempDir state;
    sim::write_board_image(state.path(), sim::load_board(top));
    EXPECT_EQ(sim::read_board_image(state.path(), top).cpld.version, 1);

    for (const std::string &edited : {top, middle, bottom}) {
        const std::string text = sim::read_board_text(edited);
        std::ofstream(edited, std::ios::app) << "# edited\n";
        EXPECT_THAT(refusal(state.path(), top), HasSubstr("is not of " + top + " as it reads now"))
            << edited;
        std::ofstream(edited, std::ios::trunc) << text;
    }

    std::ofstream(bottom, std::ios::trunc) << "name = \"bottom\"\n[cpld]\nversion = 2\n";
    sim::write_board_image(state.path(), sim::load_board(top));
    EXPECT_EQ(sim::read_board_image(state.path(), top).cpld.version, 2);
}

TEST(BoardImage, IsWrittenInPlaceOfTheOldOneWithNothingLeftBeside) {
    const TempDir state;
    sim::write_board_image(state.path(), sim::load_board(kBoards + "/rc-5.toml"));
    sim::write_board_image(state.path(), sim::load_board(kBoards + "/default.toml"));
    std::vector<std::string> names;
    for (const fs::directory_entry &entry : fs::directory_iterator(state.path())) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{sim::kImageFileName});
    EXPECT_EQ(sim::read_board_image(state.path(), kBoards + "/default.toml").name, "default");
    EXPECT_THROW(sim::write_board_image(state.path() + "/missing", every_field()), sim::StateError);
}

} // namespace
