// What a simulated board is, as read from a board file (board_toml.cpp): its
// CPLD, its IPMC and the faults both show. What changes while it runs lives
// in the Store.
#pragma once

#include "picmg.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// A board file that cannot be used; the message names the file, line and key.
class BoardError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Bytes = std::vector<std::uint8_t>;

constexpr unsigned kPpcRegisterCount = 0x100; // each register area of the CPLD
constexpr unsigned kDcrCount = 0x400;
constexpr unsigned kSdram0Count = 0x100;

// One offset of a CPLD register area. Unimplemented offsets read 0xFF and
// ignore writes; read-only ones ignore writes.
struct CpldRegister {
    bool implemented = false;
    std::uint8_t reset = 0xFF;
    bool read_only = false;
    std::optional<std::uint8_t> mezzanine_reset; // IPMC area: reset with the mezzanine fitted
};

using RegisterArea = std::array<CpldRegister, kPpcRegisterCount>;

// The reset value of a register: its mezzanine value when the mezzanine is fitted.
inline std::uint8_t reset_value(const CpldRegister &reg, bool mezzanine) {
    return mezzanine && reg.mezzanine_reset ? *reg.mezzanine_reset : reg.reset;
}

// What a fault does: the first two for any call, then the CPLD's writes,
// then the IPMC's answers.
enum class FaultEffect {
    Errno,    // the call fails: -1 with this errno; a message is not taken
    Rc,       // the driver takes the request and answers this rc
    Store,    // a write stores this value instead of the one sent
    StoreXor, // a write stores the value sent XOR this mask
    Ccode,    // the IPMC answers this completion code alone
    Answer,   // the IPMC answers exactly `answer` (none: an empty answer)
    Length,   // the IPMC's own answer, cut or padded with zeros to this many bytes
};

// A call of a device that goes wrong: its open ("open") or a driver request
// by name; an IPMI message is a SEND_COMMAND.
struct Fault {
    std::string request;
    std::optional<std::uint32_t> param0; // CPLD: only requests carrying this param0
    std::optional<std::uint32_t> netfn;  // messages: only this network function,
    std::optional<std::uint32_t> cmd;    //   this command
    std::size_t data_from = 0;           //   and these data bytes from this index
    Bytes data;
    unsigned occurrence = 0; // only the n-th matching call of the process; 0: every one
    unsigned count = 1;      //   and the count-1 calls after it
    FaultEffect effect = FaultEffect::Errno;
    std::int64_t value = 0; // errno, rc, value, mask, completion code or length
    Bytes answer;
};

// The longest answer a fault may ask for: more than the 1024 bytes a client
// receives into, so that the driver cuts it.
constexpr std::size_t kMaxFaultAnswer = 4096;

struct CpldBoard {
    std::uint8_t version = 0;   // what CPLD_VERSION_READ reports
    std::uint32_t led_mode = 0; // debug LED mode after reset
    RegisterArea registers{};
    std::map<std::uint32_t, std::uint32_t> dcrs;   // reset values; DCRs not listed reset to 0
    std::map<std::uint32_t, std::uint32_t> sdram0; // read-only; numbers not listed read 0
    std::vector<Fault> faults;
};

// What Get Sensor Reading answers for one sensor number.
struct SensorLive {
    std::optional<std::uint8_t> reading; // none: the full record's nominal reading, if given
    bool unavailable = false;
    Bytes states; // the two state bytes; none: a threshold sensor's comparison status
};

// A FRU device of the IPMC: its inventory area as the board file's image gives
// it (changed by writes, in the store), how it is addressed and how much a
// read may ask for.
struct FruDevice {
    std::uint8_t id = 0;
    Bytes image;                 // 1 to 65535 bytes; an even number with word access
    bool word_access = false;    // offsets and counts of reads and writes in 16-bit words
    unsigned transfer_limit = 0; // Read FRU Data of more bytes answers limit_code; 0: none
    std::uint8_t limit_code = 0xC8;
};

// The IPMC keeps its answers and records as the bytes it sends; the board
// file sets them key by key (board_toml.cpp says where each key goes).
struct IpmcBoard {
    bool present = false;   // no [ipmc]: the board has no IPMC and no /dev/ipmi0
    bool mezzanine = false; // the mezzanine is fitted
    Bytes device_id = {0, 0, 0, 0, 0x51, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}; // Get Device ID: IPMI 1.5
    Bytes properties = {0, 0, 0, 0};                                    // Get PICMG Properties
    Bytes address_info = {0, 0, 0, 0xFF, 0, 0, 0};                      // Get Address Info
    Bytes engineering = Bytes(17); // the record after reset, but its mezzanine flag and CRC-8
    Bytes given_record;            // the record given verbatim instead, CRC and all
    Bytes params = {0, 0};         // modes (bit 0 PM, bit 4 IPMB), extra
    RegisterArea registers{};      // the IPMC area of the CPLD
    std::vector<Bytes> sdr;        // the device SDR repository: whole records, header first
    std::map<std::uint8_t, SensorLive> sensors;
    unsigned sdr_transfer_limit = 0; // Get Device SDR answers 0xCA above it; 0: no limit
    Bytes self_test = {0x55, 0x00};  // Get Self Test Results: passed
    Bytes oem;                       // the OEM configuration values (ipmc_oem.h); not given: 0
    unsigned oem_transfer_limit = 0; // XFP and block reads answer 0xCA above it; 0: no limit
    std::vector<Fault> faults;
    PicmgBoard picmg;                   // FRUs, LEDs and ports (picmg.h)
    std::vector<IpmcBoard> controllers; // on IPMB-L, each at its IPMB-0 address
    unsigned ipmb_timeout_ms = 0;       // until the driver gives up on an IPMB request
    std::vector<FruDevice> fru;         // Get FRU Inventory Area Info, Read and Write FRU Data
};

// The IPMC's IPMB-0 address, as its Address Info answer gives it.
inline std::uint8_t ipmb0_address(const IpmcBoard &ipmc) { return ipmc.address_info[2]; }

struct Board {
    std::string name;
    std::string description;
    std::uint64_t fingerprint = 0; // of the board file and its bases: other state is reset
    CpldBoard cpld;
    IpmcBoard ipmc;
};

// Board from the text of a board file; a `base` is looked up relative to
// `dir`; `origin` names the text in messages. Throws BoardError.
Board parse_board(std::string_view text, const std::string &dir, const std::string &origin);

// Board from a board file. Throws BoardError.
Board load_board(const std::string &path);

} // namespace sim
