// The board image the runner leaves for the shim: it must give back the board
// the board files give, be refused once the files are edited, and be refused,
// never trusted, when damaged.
#include "board_files.h"
#include "board_image.h"
#include "sim_test_support.h"
#include "state.h"

#include <hvl/cpld.h>
#include <hvl/hvl_ipmi_ostrel.h>

#include <linux/ipmi.h>

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

template <typename T> constexpr bool kOptional = false;
template <typename T> constexpr bool kOptional<std::optional<T>> = true;
template <typename T> constexpr bool kPair = false;
template <typename A, typename B> constexpr bool kPair<std::pair<A, B>> = true;

template <typename T> void put(std::ostream &out, const T &value);

template <typename... T> void put_all(std::ostream &out, const T &...values) {
    (put(out, values), ...);
}

template <typename T> void put(std::ostream &out, const T &value) {
    if constexpr (std::is_arithmetic_v<T> || std::is_enum_v<T>) {
        out << static_cast<long long>(value) << ' ';
    } else if constexpr (std::is_same_v<T, std::string>) {
        out << '"' << value << "\" ";
    } else if constexpr (std::is_same_v<T, sim::CpldRegister>) {
        put_all(out, value.implemented, value.reset, value.read_only, value.mezzanine_reset);
    } else if constexpr (std::is_same_v<T, sim::Fault>) {
        put_all(out, value.on_open, value.request, value.param0, value.occurrence, value.effect,
                value.value);
    } else if constexpr (std::is_same_v<T, sim::IpmiFault>) {
        put_all(out, value.request, value.netfn, value.cmd, value.data_from, value.data,
                value.occurrence, value.effect, value.value, value.answer);
    } else if constexpr (kOptional<T>) {
        value ? put(out, *value) : put(out, std::string("-"));
    } else if constexpr (kPair<T>) {
        put_all(out, value.first, value.second);
    } else { // a container: an element a line
        out << "[\n";
        for (const auto &item : value) {
            put(out, item);
            out << '\n';
        }
        out << "] ";
    }
}

std::string describe(const Board &board) {
    const sim::CpldBoard &cpld = board.cpld;
    const sim::IpmcBoard &ipmc = board.ipmc;
    const sim::DeviceIdentity &id = ipmc.identity;
    const sim::PicmgAddress &picmg = ipmc.picmg;
    const sim::EngineeringReset &eng = ipmc.engineering;
    std::ostringstream out;
    put_all(out, board.name, board.description, board.fingerprint, board.bases);
    put_all(out, cpld.version, cpld.led_mode, cpld.registers, cpld.dcrs, cpld.sdram0, cpld.faults);
    put_all(out, ipmc.present, ipmc.mezzanine, id.device_id, id.device_revision, id.provides_sdrs,
            id.firmware_major, id.firmware_minor, id.ipmi_version, id.device_support,
            id.manufacturer_id, id.product_id, id.aux_firmware);
    put_all(out, picmg.hardware_address, picmg.ipmb0_address, picmg.site_id, picmg.site_type,
            picmg.extension_version, picmg.max_fru_id);
    put_all(out, eng.fcap, eng.board_option, eng.mezzanine_option, eng.further, eng.mac,
            eng.mac_suffix, eng.record);
    put_all(out, ipmc.params.modes, ipmc.params.extra, ipmc.registers, ipmc.faults);
    return out.str();
}

// A board with every field away from its default, and faults of every kind.
Board every_field() {
    using sim::FaultEffect;
    using sim::IpmiFaultEffect;
    Board b;
    b.name = "every field";
    b.description = "all of them,\nover two lines";
    b.fingerprint = 0x0807060504030201ULL;
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

// The header is the same on the board and on the host: fields at fixed
// places, little-endian.
TEST(BoardImage, KeepsEveryFieldAndFaultsOfEveryKindBehindALittleEndianHeader) {
    for (const Board &board : {every_field(), sim::load_board(kBoards + "/default.toml")}) {
        const std::optional<Board> back = round_trip(board);
        ASSERT_TRUE(back.has_value()) << board.name;
        EXPECT_EQ(describe(*back), describe(board));
    }
    const Bytes image = sim::encode_board_image(every_field());
    ASSERT_LT(image.size(), 0x10000u);
    const auto low = static_cast<std::uint8_t>(image.size());
    const auto high = static_cast<std::uint8_t>(image.size() >> 8);
    // Magic, layout, size, fingerprint.
    const Bytes header = {'H', 'W',  'S', 'I', 'M', 'I', 'M', 0, 1, 0, 0, 0,
                          low, high, 0,   0,   1,   2,   3,   4, 5, 6, 7, 8};
    EXPECT_EQ(Bytes(image.begin(), image.begin() + 24), header);
}

// ---- Damage ----

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

TEST(BoardImage, EveryCutEveryChangedByteAndEveryImpossibleBoardIsRefused) {
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
    for (const Impossible &c : kImpossible) {
        Board board = every_field();
        c.spoil(board);
        EXPECT_FALSE(round_trip(board)) << c.what;
    }
}

// ---- In the state directory ----

TEST(BoardImage, AMissingOrDamagedImageIsReportedNotUsed) {
    TempDir dir;
    const std::string path = kBoards + "/default.toml";
    const std::string image = dir.path + "/" + sim::kImageFileName;
    EXPECT_THAT(refusal(dir.path, path),
                HasSubstr("no board image " + image + " (run the program under hwsim)"));
    sim::write_board_image(dir.path, sim::load_board(path));
    ASSERT_EQ(refusal(dir.path, path), "");
    const std::string bytes = file_bytes(image);
    dir.file(sim::kImageFileName, bytes.substr(0, bytes.size() / 2));
    EXPECT_THAT(refusal(dir.path, path),
                HasSubstr("board image " + image + " is damaged (run the program under hwsim)"));
}

TEST(BoardImage, IsTakenUntilAFileOfTheBoardIsEditedAndAgainOnceWrittenAnew) {
    // A board file with a base in another directory, which names its own
    // base in a directory below that one.
    const TempDir files;
    const std::string top =
        files.file("top/board.toml", "base = \"../sub/middle.toml\"\nname = \"top\"\n");
    const std::string middle =
        files.file("sub/middle.toml", "base = \"low/bottom.toml\"\n[cpld.dcr]\n0x00C = 3\n");
    const std::string bottom =
        files.file("sub/low/bottom.toml", "name = \"bottom\"\n[cpld]\nversion = 1\n");
    const TempDir state;
    sim::write_board_image(state.path, sim::load_board(top));
    EXPECT_EQ(sim::read_board_image(state.path, top).cpld.version, 1);

    for (const std::string &edited : {top, middle, bottom}) {
        const std::string text = sim::read_board_text(edited);
        std::ofstream(edited, std::ios::app) << "# edited\n";
        EXPECT_THAT(refusal(state.path, top), HasSubstr("is not of " + top + " as it reads now"))
            << edited;
        std::ofstream(edited, std::ios::trunc) << text;
    }

    std::ofstream(bottom, std::ios::trunc) << "name = \"bottom\"\n[cpld]\nversion = 2\n";
    sim::write_board_image(state.path, sim::load_board(top));
    EXPECT_EQ(sim::read_board_image(state.path, top).cpld.version, 2);
}

TEST(BoardImage, IsWrittenInPlaceOfTheOldOneWithNothingLeftBeside) {
    const TempDir state;
    sim::write_board_image(state.path, sim::load_board(kBoards + "/rc-5.toml"));
    sim::write_board_image(state.path, sim::load_board(kBoards + "/default.toml"));
    std::vector<std::string> names;
    for (const fs::directory_entry &entry : fs::directory_iterator(state.path)) {
        names.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(names, std::vector<std::string>{sim::kImageFileName});
    EXPECT_EQ(sim::read_board_image(state.path, kBoards + "/default.toml").name, "default");
    EXPECT_THROW(sim::write_board_image(state.path + "/missing", every_field()), sim::StateError);
}

} // namespace
