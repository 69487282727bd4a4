// What a simulated board is: its CPLD, the registers behind the driver, its
// IPMC and the faults both show, as read from a board file (board_toml.cpp).
// What changes while it runs lives in the Store.
#pragma once

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

// A board file that cannot be used; the message names the file and the key.
class BoardError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using Bytes = std::vector<std::uint8_t>;

constexpr unsigned kPpcRegisterCount = 0x100;
constexpr unsigned kDcrCount = 0x400;
constexpr unsigned kSdram0Count = 0x100;
constexpr unsigned kIpmcRegisterCount = 0x100;

// One offset of a CPLD register area. Unimplemented offsets read 0xFF and
// ignore writes; read-only ones ignore writes.
struct CpldRegister {
    bool implemented = false;
    std::uint8_t reset = 0xFF;
    bool read_only = false;
    std::optional<std::uint8_t> mezzanine_reset; // IPMC area: reset with the mezzanine fitted
};

using RegisterArea = std::array<CpldRegister, kPpcRegisterCount>;
static_assert(kIpmcRegisterCount == kPpcRegisterCount);

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

// The engineering record after reset, as the IPMC keeps it (17 bytes).
struct EngineeringReset {
    std::array<std::uint8_t, 3> fcap{};
    std::uint8_t board_option = 0;
    std::uint8_t mezzanine_option = 0;
    std::array<std::uint8_t, 3> further{};
    std::array<std::uint8_t, 6> mac{};
    std::uint8_t mac_suffix = 0;
    // Given verbatim instead of the fields above, CRC and all.
    std::optional<std::vector<std::uint8_t>> record;
};

// What Get Device ID reports (IPMI's 15 data bytes).
struct DeviceIdentity {
    std::uint8_t device_id = 0;
    std::uint8_t device_revision = 0; // 0-15
    bool provides_sdrs = false;
    std::uint8_t firmware_major = 0;   // 0-127
    std::uint8_t firmware_minor = 0;   // BCD
    std::uint8_t ipmi_version = 0x51;  // BCD, minor digit first: 0x51 is 1.5
    std::uint8_t device_support = 0;   // additional device support bits
    std::uint32_t manufacturer_id = 0; // 20 bits
    std::uint16_t product_id = 0;      // selects the board access code
    std::array<std::uint8_t, 4> aux_firmware{};
};

// PICMG Get Address Info and Get Properties.
struct PicmgAddress {
    std::uint8_t hardware_address = 0;
    std::uint8_t ipmb0_address = 0; // the IPMC's IPMB-0 address
    std::uint8_t site_id = 0;
    std::uint8_t site_type = 0;
    std::uint8_t extension_version = 0; // major in the low nibble, minor in the high one
    std::uint8_t max_fru_id = 0;
};

struct IpmcParams {
    std::uint8_t modes = 0; // bit 0 PM mode, bit 4 IPMB mode
    std::uint8_t extra = 0;
};

struct IpmcBoard {
    bool present = false;   // no [ipmc]: the board has no IPMC and no /dev/ipmi0
    bool mezzanine = false; // the mezzanine is fitted
    DeviceIdentity identity;
    PicmgAddress picmg;
    RegisterArea registers{}; // the IPMC area of the CPLD
    EngineeringReset engineering;
    IpmcParams params;
    std::vector<Fault> faults;
};

struct Board {
    std::string name;
    std::string description;
    // Of the board file and its bases: state kept for another board is reset.
    std::uint64_t fingerprint = 0;
    // The `base` the board file names, then the one its base names, and so
    // on, as written: with the board file's path, the files the fingerprint is of.
    std::vector<std::string> bases;
    CpldBoard cpld;
    IpmcBoard ipmc;
};

// The reset value of a register: its mezzanine value when the mezzanine is fitted.
inline std::uint8_t reset_value(const CpldRegister &reg, bool mezzanine) {
    return mezzanine && reg.mezzanine_reset ? *reg.mezzanine_reset : reg.reset;
}

// Board from the text of a board file; a `base` is looked up relative to
// `dir`; `origin` names the text in messages. Throws BoardError.
Board parse_board(std::string_view text, const std::string &dir, const std::string &origin);

// Board from a board file. Throws BoardError.
Board load_board(const std::string &path);

} // namespace sim
