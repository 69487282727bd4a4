// What a simulated board is: its CPLD, the registers behind the driver and the
// faults it shows. Read from a board file (board_toml.cpp); the running state
// lives in State.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// A board file that cannot be used; the message names the file and the key.
class BoardError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

constexpr unsigned kPpcRegisterCount = 0x100;
constexpr unsigned kDcrCount = 0x400;
constexpr unsigned kSdram0Count = 0x100;

// One offset of the PPC register area. Unimplemented offsets read 0xFF and
// ignore writes; read-only ones ignore writes.
struct PpcRegister {
    bool implemented = false;
    std::uint8_t reset = 0xFF;
    bool read_only = false;
};

enum class FaultEffect {
    Errno,    // the call fails: -1 with this errno
    Rc,       // the driver takes the request and answers this rc
    Store,    // a write stores this value instead of the one sent
    StoreXor, // a write stores the value sent XOR this mask
};

struct Fault {
    bool on_open = false;                // the device's open rather than a request
    unsigned long request = 0;           // the driver request, unless on_open
    std::optional<std::uint32_t> param0; // only requests carrying this param0
    unsigned occurrence = 0;             // only the n-th matching call of the process; 0: every one
    FaultEffect effect = FaultEffect::Errno;
    std::int64_t value = 0;
};

struct CpldBoard {
    std::uint8_t version = 0;   // what CPLD_VERSION_READ reports
    std::uint32_t led_mode = 0; // debug LED mode after reset
    std::array<PpcRegister, kPpcRegisterCount> registers{};
    std::map<std::uint32_t, std::uint32_t> dcrs;   // reset values; DCRs not listed reset to 0
    std::map<std::uint32_t, std::uint32_t> sdram0; // read-only; numbers not listed read 0
    std::vector<Fault> faults;
};

struct Board {
    std::string name;
    std::string description;
    // Of the board file and its bases: state kept for another board is reset.
    std::uint64_t fingerprint = 0;
    CpldBoard cpld;
};

// Board from the text of a board file; a `base` is looked up relative to
// `dir`; `origin` names the text in messages. Throws BoardError.
Board parse_board(std::string_view text, const std::string &dir, const std::string &origin);

// Board from a board file. Throws BoardError.
Board load_board(const std::string &path);

} // namespace sim
