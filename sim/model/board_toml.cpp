// Board files, read with toml++ (the only file that includes it: it is slow to
// compile). The tables below say what each key means; every refusal names the
// file, the line and the key.
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 1
#include <toml++/toml.h>

#include "board.h"
#include "cpld_driver.h"
#include "ipmc_oem.h"
#include "ipmi_device.h"
#include "unique_fd.h"

#include "ipmi/ostrel_constants.h"

#include <fcntl.h>
#include <linux/ipmi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <set>
#include <type_traits>
#include <utility>

namespace sim {
namespace {

constexpr std::size_t kMaxBoardFile = std::size_t{1} << 20;
constexpr unsigned kMaxIpmbTimeout = 60000; // ms
constexpr int kMaxBaseDepth = 8;
constexpr int kMaxDots = 16; // in a dotted key: toml++ nests a table per part
constexpr std::uint64_t kFnvStart = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

// The errno names a fault may give.
constexpr std::pair<std::string_view, int> kErrnoNames[] = {
    {"EPERM", EPERM},       {"ENOENT", ENOENT},         {"EINTR", EINTR},        {"EIO", EIO},
    {"ENXIO", ENXIO},       {"EBADF", EBADF},           {"EAGAIN", EAGAIN},      {"ENOMEM", ENOMEM},
    {"EACCES", EACCES},     {"EFAULT", EFAULT},         {"EBUSY", EBUSY},        {"ENODEV", ENODEV},
    {"EINVAL", EINVAL},     {"ENFILE", ENFILE},         {"EMFILE", EMFILE},      {"ENOTTY", ENOTTY},
    {"EROFS", EROFS},       {"ENOSYS", ENOSYS},         {"ENODATA", ENODATA},    {"ETIME", ETIME},
    {"EMSGSIZE", EMSGSIZE}, {"EOPNOTSUPP", EOPNOTSUPP}, {"ETIMEDOUT", ETIMEDOUT}};

// The keys of the [ipmc.*] tables and where each goes in the bytes the IPMC
// sends: the bits `mask` of the bytes from `at` (least significant first), a
// flag one bit; or, for an array, `count` bytes from `at`.
enum class Kind { Number, Flag, Array };
struct Field {
    std::string_view table, key;
    Bytes IpmcBoard::*bytes;
    std::size_t at;
    Kind kind = Kind::Number;
    std::uint32_t mask = 0xFF;
    std::size_t count = 0;
};

constexpr auto kId = &IpmcBoard::device_id;
constexpr auto kEng = &IpmcBoard::engineering;
constexpr Field kFields[] = {
    // The data of Get Device ID.
    {"device_id", "device_id", kId, 0},
    {"device_id", "device_revision", kId, 1, Kind::Number, 0x0F},
    {"device_id", "provides_sdrs", kId, 1, Kind::Flag, 0x80},
    {"device_id", "firmware_major", kId, 2, Kind::Number, 0x7F},
    {"device_id", "firmware_minor", kId, 3},
    {"device_id", "ipmi_version", kId, 4},
    {"device_id", "device_support", kId, 5},
    {"device_id", "manufacturer_id", kId, 6, Kind::Number, 0xFFFFF},
    {"device_id", "product_id", kId, hvl::ostrel::kProductIdOffset, Kind::Number, 0xFFFF},
    {"device_id", "aux_firmware", kId, 11, Kind::Array, 0, 4},
    // Get PICMG Properties: identifier, extension version, max FRU ID, FRU 0; Get Address
    // Info: identifier, hardware address, IPMB-0 address, 0xFF, FRU 0, site ID, site type.
    {"picmg", "extension_version", &IpmcBoard::properties, 1},
    {"picmg", "max_fru_id", &IpmcBoard::properties, 2},
    {"picmg", "hardware_address", &IpmcBoard::address_info, 1},
    {"picmg", "ipmb0_address", &IpmcBoard::address_info, 2},
    {"picmg", "site_id", &IpmcBoard::address_info, 5},
    {"picmg", "site_type", &IpmcBoard::address_info, 6},
    // The engineering record; byte 4, the mezzanine flag, and the CRC-8 are set at reset.
    {"engineering", "fcap", kEng, 0, Kind::Array, 0, OSTREL_FCAP_SIZE},
    {"engineering", "board_option", kEng, 3},
    {"engineering", "mezzanine_option", kEng, 5},
    {"engineering", "further", kEng, 6, Kind::Array, 0, 3},
    {"engineering", "mac", kEng, 9, Kind::Array, 0, 6},
    {"engineering", "mac_suffix", kEng, 15},
    {"engineering", "record", &IpmcBoard::given_record, 0, Kind::Array, 0, OSTREL_ENG_RECORD_SIZE},
    // The controller parameters: modes, extra.
    {"params", "pm_mode", &IpmcBoard::params, 0, Kind::Flag, hvl::ostrel::kParamsPmBit},
    {"params", "ipmb_mode", &IpmcBoard::params, 0, Kind::Flag, hvl::ostrel::kParamsIpmbBit},
    {"params", "extra", &IpmcBoard::params, 1},
};

// What a fault's effect key takes: a number in a range (an errno may be
// given by its name instead), or the bytes of an answer.
struct EffectKey {
    std::string_view key;
    FaultEffect effect;
    std::int64_t min, max;
};

constexpr EffectKey kEffectKeys[] = {
    {"errno", FaultEffect::Errno, 1, 4095},
    {"rc", FaultEffect::Rc, INT32_MIN, INT32_MAX},
    {"store", FaultEffect::Store, 0, 0xFFFFFFFF},
    {"store_xor", FaultEffect::StoreXor, 0, 0xFFFFFFFF},
    {"ccode", FaultEffect::Ccode, 0, 0xFF},
    {"answer", FaultEffect::Answer, 0, kMaxFaultAnswer},
    {"length", FaultEffect::Length, 0, kMaxFaultAnswer},
};

// One board file being read: its name for messages, and its values checked.
class Reader {
public:
    explicit Reader(std::string origin) : origin_(std::move(origin)) {}

    const std::string &origin() const { return origin_; }

    // The file is refused: `what` is wrong with it, at `line` if not 0.
    [[noreturn]] void refuse(std::size_t line, const std::string &what) const {
        throw BoardError(origin_ + (line != 0 ? ":" + std::to_string(line) : "") + ": " + what);
    }

    // The file is refused unless `ok`: `what` is wrong with `key`, at `node`.
    void require(bool ok, const toml::node *node, const std::string &key,
                 const std::string &what) const {
        if (!ok) {
            refuse(node != nullptr ? node->source().begin.line : 0, key + ": " + what);
        }
    }

    template <typename Known>
    void check_keys(const toml::table &table, const std::string &prefix, Known known) const {
        for (auto &&[key, node] : table) {
            require(known(key.str()), &node, join(prefix, key.str()), "unknown key");
        }
    }

    void check_keys(const toml::table &table, const std::string &prefix,
                    std::initializer_list<std::string_view> names) const {
        check_keys(table, prefix, [&](std::string_view key) {
            return std::find(names.begin(), names.end(), key) != names.end();
        });
    }

    // A value of type T: an integer, a flag or a string.
    template <typename T> T as(const toml::node &node, const std::string &key) const {
        const std::optional<T> value = node.value_exact<T>();
        const char *type = std::is_same_v<T, bool>          ? "true or false"
                           : std::is_same_v<T, std::string> ? "a string"
                                                            : "an integer";
        require(value.has_value(), &node, key, std::string("expected ") + type);
        return *value;
    }

    std::int64_t integer(const toml::node &node, const std::string &key, std::int64_t min,
                         std::int64_t max) const {
        const auto value = as<std::int64_t>(node, key);
        require(value >= min && value <= max, &node, key,
                "out of range (" + std::to_string(min) + " to " + hex(max) + ")");
        return value;
    }

    // An array of bytes: exactly `size` of them, or up to `max` when `size` is 0.
    Bytes bytes(const toml::node &node, const std::string &key, std::size_t size,
                std::size_t max = 0) const {
        const toml::array *array = node.as_array();
        require(array != nullptr, &node, key, "expected an array of bytes");
        require(size == 0 || array->size() == size, &node, key,
                "expected " + std::to_string(size) + " bytes");
        require(size != 0 || array->size() <= max, &node, key,
                "more than " + std::to_string(max) + " bytes");
        Bytes bytes;
        for (std::size_t i = 0; i < array->size(); ++i) {
            const std::string at = key + "[" + std::to_string(i) + "]";
            bytes.push_back(static_cast<std::uint8_t>(integer(*array->get(i), at, 0, 0xFF)));
        }
        return bytes;
    }

    // Sets `out` from the key `name` of `table`, if it is there: an integer
    // from `min` to `max`, a flag, a string, or `min` bytes (up to `max` when
    // `min` is 0).
    template <typename T>
    void set(const toml::table &table, const std::string &prefix, std::string_view name, T &out,
             std::int64_t min = 0, std::int64_t max = 0) const {
        const toml::node *node = table.get(name);
        if (node == nullptr) {
            return;
        }
        const std::string key = join(prefix, name);
        if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, std::string>) {
            out = as<T>(*node, key);
        } else if constexpr (std::is_same_v<T, Bytes>) {
            out = bytes(*node, key, static_cast<std::size_t>(min), static_cast<std::size_t>(max));
        } else {
            out = static_cast<T>(integer(*node, key, min, max));
        }
    }

    // The value of `key`, a table.
    const toml::table &entry(const toml::node &node, const std::string &key) const {
        require(node.is_table(), &node, key, "expected a table");
        return *node.as_table();
    }

    // The table `name` of `parent`; none is an empty one.
    const toml::table &entries(const toml::table &parent, const std::string &prefix,
                               std::string_view name) const {
        static const toml::table none;
        const toml::table *given = table(parent, prefix, name);
        return given != nullptr ? *given : none;
    }

    // The table `name` of `parent`, if it is there.
    const toml::table *table(const toml::table &parent, const std::string &prefix,
                             std::string_view name) const {
        const toml::node *node = parent.get(name);
        require(node == nullptr || node->is_table(), node, join(prefix, name), "expected a table");
        return node != nullptr ? node->as_table() : nullptr;
    }

    // A register or DCR number written as a key: "0x10" or "16".
    std::uint32_t number_key(const toml::node &node, const std::string &key, std::string_view name,
                             std::uint32_t limit) const {
        const std::string digits(name);
        char *end = nullptr;
        errno = 0;
        const unsigned long number = std::strtoul(digits.c_str(), &end, 0);
        require(!digits.empty() && digits[0] != '-' && *end == '\0' && errno == 0, &node, key,
                "expected a number as key");
        require(number < limit, &node, key, "above the highest number " + hex(limit - 1));
        return static_cast<std::uint32_t>(number);
    }

    // An errno given by its name ("EIO").
    int errno_named(const toml::node &node, const std::string &key) const {
        const auto name = as<std::string>(node, key);
        const auto *found = std::find_if(std::begin(kErrnoNames), std::end(kErrnoNames),
                                         [&](const auto &known) { return known.first == name; });
        require(found != std::end(kErrnoNames), &node, key, "unknown errno name '" + name + "'");
        return found->second;
    }

    static std::string join(const std::string &prefix, std::string_view key) {
        return prefix.empty() ? std::string(key) : prefix + "." + std::string(key);
    }

    // A file the board file names: relative to its directory `dir`.
    static std::string path_in(const std::string &dir, const std::string &name) {
        return name.empty() || name[0] == '/' ? name : dir + "/" + name;
    }

    static std::string hex(std::int64_t value) {
        char text[24];
        (void)std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
        return text;
    }

private:
    std::string origin_;
};

// Sets the bytes of `field` from its key's value.
void set_field(const Reader &in, const toml::node &node, const std::string &key, const Field &field,
               IpmcBoard &ipmc) {
    Bytes &bytes = ipmc.*field.bytes;
    if (field.kind == Kind::Array) {
        const Bytes given = in.bytes(node, key, field.count);
        bytes.resize(std::max(bytes.size(), field.at + given.size()));
        std::copy(given.begin(), given.end(), bytes.begin() + static_cast<long>(field.at));
        return;
    }
    unsigned shift = 0;
    while ((field.mask >> shift & 1) == 0) {
        ++shift;
    }
    const auto value = static_cast<std::uint32_t>(
        field.kind == Kind::Flag ? in.as<bool>(node, key)
                                 : in.integer(node, key, 0, field.mask >> shift));
    for (std::size_t i = 0; field.mask >> (8 * i) != 0; ++i) {
        const auto mask = static_cast<std::uint8_t>(field.mask >> (8 * i));
        const auto bits = static_cast<std::uint8_t>(value << shift >> (8 * i) & mask);
        bytes[field.at + i] = static_cast<std::uint8_t>((bytes[field.at + i] & ~mask) | bits);
    }
}

// The table `name` of `parent` (the table at `where`), each key set where
// kFields says; the keys `others` are read elsewhere. The table, if given.
const toml::table *read_fields(const Reader &in, const toml::table &parent,
                               const std::string &where, std::string_view name, IpmcBoard &ipmc,
                               std::initializer_list<std::string_view> others = {}) {
    const toml::table *table = in.table(parent, where, name);
    if (table == nullptr) {
        return nullptr;
    }
    const std::string prefix = Reader::join(where, name);
    in.check_keys(*table, prefix, [&](std::string_view key) {
        return std::find(others.begin(), others.end(), key) != others.end() ||
               std::any_of(std::begin(kFields), std::end(kFields), [&](const Field &field) {
                   return field.table == name && field.key == key;
               });
    });
    for (const Field &field : kFields) {
        if (const toml::node *node = field.table == name ? table->get(field.key) : nullptr) {
            set_field(in, *node, Reader::join(prefix, field.key), field, ipmc);
        }
    }
    return table;
}

// A register area; an entry of the IPMC area may give its mezzanine reset value.
void read_registers(const Reader &in, const toml::table &parent, const std::string &prefix,
                    RegisterArea &registers) {
    for (auto &&[name, node] : in.entries(parent, prefix, "registers")) {
        const std::string key = prefix + ".registers." + std::string(name.str());
        CpldRegister &reg = registers[in.number_key(node, key, name.str(), kPpcRegisterCount)];
        const toml::table &entry = in.entry(node, key);
        in.check_keys(entry, key, [&](std::string_view field) {
            return field == "reset" || field == "read_only" || field == "implemented" ||
                   (prefix == "ipmc" && field == "mezzanine_reset");
        });
        bool implemented = true;
        in.set(entry, key, "implemented", implemented);
        if (!implemented) {
            reg = CpldRegister{};
            continue;
        }
        in.require(reg.implemented || entry.contains("reset"), &entry, key,
                   "a new register needs its reset value ('reset')");
        reg.implemented = true;
        in.set(entry, key, "reset", reg.reset, 0, 0xFF);
        in.set(entry, key, "read_only", reg.read_only);
        in.set(entry, key, "mezzanine_reset", reg.mezzanine_reset, 0, 0xFF);
    }
}

// DCRs or SDRAM0 registers: number = value.
void read_words(const Reader &in, const toml::table &cpld, std::string_view name,
                std::uint32_t limit, std::map<std::uint32_t, std::uint32_t> &words) {
    for (auto &&[number, node] : in.entries(cpld, "cpld", name)) {
        const std::string key = "cpld." + std::string(name) + "." + std::string(number.str());
        words[in.number_key(node, key, number.str(), limit)] =
            static_cast<std::uint32_t>(in.integer(node, key, 0, 0xFFFFFFFF));
    }
}

// The faults of a device: the request when none is given (none: one must
// be), the keys that choose its calls besides request and occurrence, its
// effects, and what else its faults must keep to.
struct FaultKeys {
    std::string_view request;
    bool (*known)(std::string_view request);
    std::array<std::string_view, 4> choose;
    std::array<std::string_view, 4> effects;
    void (*check)(const Reader &, const toml::table &, const std::string &, const Fault &);
};

// Which of the device's effects the fault has: exactly one.
void read_effect(const Reader &in, const toml::table &entry, const std::string &key,
                 const FaultKeys &device, Fault &fault) {
    std::string found;
    for (const EffectKey &effect : kEffectKeys) {
        const toml::node *node = entry.get(effect.key); // only the device's: keys are checked
        if (node == nullptr) {
            continue;
        }
        in.require(found.empty(), node, key,
                   "both '" + found + "' and '" + std::string(effect.key) + "' given");
        found = effect.key;
        fault.effect = effect.effect;
        const std::string field = Reader::join(key, found);
        if (effect.effect == FaultEffect::Errno && !node->is_integer()) {
            fault.value = in.errno_named(*node, field);
        } else if (effect.effect == FaultEffect::Answer) {
            fault.answer = in.bytes(*node, field, 0, kMaxFaultAnswer);
        } else {
            fault.value = in.integer(*node, field, effect.min, effect.max);
        }
    }
    const auto &names = device.effects;
    in.require(!found.empty(), &entry, key,
               "says nothing of what fails: give " + std::string(names[0]) + ", " +
                   std::string(names[1]) + ", " + std::string(names[2]) + " or " +
                   std::string(names[3]));
}

// A fault of [[PREFIX.faults]]; a file's faults add to its base's.
template <const FaultKeys &device>
Fault read_fault(const Reader &in, const toml::table &entry, const std::string &key) {
    const auto listed = [](const auto &names, std::string_view name) {
        return !name.empty() && std::find(names.begin(), names.end(), name) != names.end();
    };
    in.check_keys(entry, key, [&](std::string_view name) {
        return name == "request" || name == "occurrence" || name == "count" ||
               listed(device.choose, name) || listed(device.effects, name);
    });
    Fault fault;
    fault.request = device.request;
    in.require(entry.contains("request") || !fault.request.empty(), &entry, key,
               "'request' missing (\"open\" or a driver request name)");
    in.set(entry, key, "request", fault.request);
    in.require(fault.request == "open" || device.known(fault.request), entry.get("request"),
               key + ".request", "unknown request '" + fault.request + "'");
    in.set(entry, key, "param0", fault.param0, 0, 0xFFFFFFFF);
    in.set(entry, key, "occurrence", fault.occurrence, 1, 1000000000);
    in.set(entry, key, "count", fault.count, 1, 1000000000);
    fault.occurrence = entry.contains("count") ? std::max(fault.occurrence, 1U) : fault.occurrence;
    in.set(entry, key, "netfn", fault.netfn, 0, 0x3F);
    in.set(entry, key, "cmd", fault.cmd, 0, 0xFF);
    in.set(entry, key, "data", fault.data, 0, IPMI_MAX_MSG_LENGTH);
    in.set(entry, key, "data_from", fault.data_from, 0, IPMI_MAX_MSG_LENGTH);
    read_effect(in, entry, key, device, fault);
    device.check(in, entry, key, fault);
    return fault;
}

void check_cpld_fault(const Reader &in, const toml::table &entry, const std::string &key,
                      const Fault &fault) {
    const bool store = fault.effect == FaultEffect::Store || fault.effect == FaultEffect::StoreXor;
    in.require(fault.request != "open" || (fault.effect == FaultEffect::Errno && !fault.param0),
               &entry, key, "an open fault takes only errno (and occurrence)");
    in.require(!store || fault.request == "PPCREG_WRITE" || fault.request == "DCR_WRITE", &entry,
               key, "store and store_xor apply to PPCREG_WRITE and DCR_WRITE only");
    in.require(!store || fault.request != "PPCREG_WRITE" || fault.value <= 0xFF, &entry, key,
               "a register stores a byte: store and store_xor up to 0xFF");
}

void check_ipmi_fault(const Reader &in, const toml::table &entry, const std::string &key,
                      const Fault &fault) {
    const bool chooses = entry.contains("netfn") || entry.contains("cmd") ||
                         entry.contains("data") || entry.contains("data_from");
    in.require(fault.request == "SEND_COMMAND" || (!chooses && fault.effect == FaultEffect::Errno),
               &entry, key,
               "only SEND_COMMAND takes netfn, cmd, data and an answer; "
               "other requests take errno (and occurrence)");
}

bool cpld_request_known(std::string_view request) { return cpld_code_named(request).has_value(); }

const FaultKeys kCpldFaults = {
    "", cpld_request_known, {"param0"}, {"errno", "rc", "store", "store_xor"}, check_cpld_fault};
const FaultKeys kIpmiFaults = {"SEND_COMMAND",
                               ipmi_request_known,
                               {"netfn", "cmd", "data", "data_from"},
                               {"errno", "ccode", "answer", "length"},
                               check_ipmi_fault};

// The entries of the array of tables `name` of `table` (at `where`), each
// made by `read` from its table; a file that gives them replaces its base's
// unless `add`.
template <typename T, typename Read>
void read_list(const Reader &in, const toml::table &table, const std::string &where,
               std::string_view name, std::vector<T> &list, Read read, bool add = false) {
    const toml::node *node = table.get(name);
    const std::string key = Reader::join(where, name);
    const toml::array *array = node != nullptr ? node->as_array() : nullptr;
    in.require(node == nullptr || array != nullptr, node, key,
               "expected an array of tables ([[" + key + "]])");
    if (array != nullptr && !add) {
        list.clear();
    }
    for (std::size_t i = 0; array != nullptr && i < array->size(); ++i) {
        const std::string entry = key + "[" + std::to_string(i) + "]";
        list.push_back(read(in, in.entry(*array->get(i), entry), entry));
    }
}

// A regular file (not a device that never ends, nor a FIFO that may never be
// written) of at most kMaxBoardFile bytes.
std::string read_text(const Reader &in, const std::string &path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        in.refuse(0, std::string("cannot read: ") + std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) {
        in.refuse(0, "not a regular file");
    }
    std::string text;
    char chunk[4096];
    for (ssize_t got = -1; got != 0;) {
        got = ::read(fd.get(), chunk, sizeof chunk);
        if (got < 0 && errno != EINTR) {
            in.refuse(0, std::string("cannot read: ") + std::strerror(errno));
        }
        text.append(chunk, got > 0 ? static_cast<std::size_t>(got) : 0);
        if (text.size() > kMaxBoardFile) {
            in.refuse(0, "longer than " + std::to_string(kMaxBoardFile) + " bytes");
        }
    }
    return text;
}

// A board and its bases as they are read.
struct Loading {
    Board board;
    bool has_version = false;
    int depth = 0;
};

// The board's fingerprint takes in `bytes`.
void fingerprint(Board &board, std::string_view bytes) {
    for (const char c : bytes) {
        board.fingerprint = (board.fingerprint ^ static_cast<unsigned char>(c)) * kFnvPrime;
    }
}

void read_cpld(const Reader &in, const toml::table &table, Loading &loading) {
    CpldBoard &cpld = loading.board.cpld;
    in.check_keys(table, "cpld", {"version", "led_mode", "registers", "dcr", "sdram0", "faults"});
    loading.has_version = loading.has_version || table.contains("version");
    in.set(table, "cpld", "version", cpld.version, 0, 0xFF);
    in.set(table, "cpld", "led_mode", cpld.led_mode, 0, 1);
    read_registers(in, table, "cpld", cpld.registers);
    read_words(in, table, "dcr", kDcrCount, cpld.dcrs);
    read_words(in, table, "sdram0", kSdram0Count, cpld.sdram0);
    read_list(in, table, "cpld", "faults", cpld.faults, read_fault<kCpldFaults>, true);
}

// Records one after another, each as long as its header says, appended to `sdr`.
void add_records(const Reader &in, const toml::node *node, const std::string &key,
                 std::string_view bytes, std::vector<Bytes> &sdr) {
    constexpr std::size_t kHeader = 5; // record ID, SDR version, type, length of the rest
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t size =
            at + kHeader <= bytes.size() ? kHeader + static_cast<std::uint8_t>(bytes[at + 4]) : 0;
        in.require(size != 0 && size <= bytes.size() - at, node, key,
                   "the record at byte " + std::to_string(at) + " is cut short");
        sdr.emplace_back(bytes.begin() + static_cast<long>(at),
                         bytes.begin() + static_cast<long>(at + size));
        at += size;
    }
}

// A record of [[ipmc.sdr]], its bytes header first.
Bytes read_record(const Reader &in, const toml::table &entry, const std::string &key) {
    in.check_keys(entry, key, {"record"});
    const toml::node *record = entry.get("record");
    in.require(record != nullptr, &entry, key, "'record' missing (its bytes, header first)");
    Bytes bytes = in.bytes(*record, key + ".record", 0, 5 + 0xFF);
    in.require(bytes.size() >= 5 && bytes[4] == bytes.size() - 5, record, key + ".record",
               "the length byte (byte 4) disagrees with the " + std::to_string(bytes.size()) +
                   " bytes given");
    return bytes;
}

// The device SDR repository: the records of `sdr_file` (the layout of an
// SDR dump, relative to the board file), then those of [[ipmc.sdr]]. A board
// that gives either replaces its base's repository and its sensors' readings.
void read_sdr(const Reader &in, const toml::table &table, const std::string &dir,
              Loading &loading) {
    std::vector<Bytes> &sdr = loading.board.ipmc.sdr;
    const toml::node *file = table.get("sdr_file");
    const toml::node *node = table.get("sdr");
    if (file == nullptr && node == nullptr) {
        return;
    }
    sdr.clear();
    loading.board.ipmc.sensors.clear();
    if (file != nullptr) {
        const auto name = in.as<std::string>(*file, "ipmc.sdr_file");
        const std::string path = Reader::path_in(dir, name);
        const std::string bytes = read_text(Reader("SDR file " + path), path);
        fingerprint(loading.board, bytes);
        add_records(in, file, "ipmc.sdr_file", bytes, sdr);
    }
    read_list(in, table, "ipmc", "sdr", sdr, read_record, true);
    // Clients walk the records by their IDs: 0 names the first, 0xFFFF the end.
    std::set<unsigned> ids;
    for (const Bytes &record : sdr) {
        const unsigned id = record[0] | record[1] << 8U;
        in.require(id != 0 && id != 0xFFFF && ids.insert(id).second, node != nullptr ? node : file,
                   "ipmc.sdr", "record ID " + Reader::hex(id) + " is 0, 0xFFFF or given twice");
    }
}

// [ipmc.sensors]: number = { reading, unavailable, states }.
void read_sensors(const Reader &in, const toml::table &ipmc_table, IpmcBoard &ipmc) {
    for (auto &&[name, node] : in.entries(ipmc_table, "ipmc", "sensors")) {
        const std::string key = "ipmc.sensors." + std::string(name.str());
        SensorLive &sensor = ipmc.sensors[in.number_key(node, key, name.str(), 0x100)];
        const toml::table &entry = in.entry(node, key);
        in.check_keys(entry, key, {"reading", "unavailable", "states"});
        in.set(entry, key, "reading", sensor.reading, 0, 0xFF);
        in.set(entry, key, "unavailable", sensor.unavailable);
        in.set(entry, key, "states", sensor.states, 2);
    }
}

// The bytes of an OEM configuration value: a number (its first byte), a
// text, bytes from its start, byte arrays (one per entry), or texts (at the
// release's offsets, each with its terminator).
Bytes oem_bytes(const Reader &in, const toml::node &node, const std::string &key,
                const OemValue &value) {
    if (node.is_integer()) {
        return {static_cast<std::uint8_t>(in.integer(node, key, 0, 0xFF))};
    }
    if (node.is_string()) {
        const auto text = in.as<std::string>(node, key);
        in.require(text.size() <= value.size, &node, key,
                   "longer than " + std::to_string(value.size) + " characters");
        return Bytes(text.begin(), text.end());
    }
    const toml::array *array = node.as_array();
    in.require(array != nullptr, &node, key, "expected a number, a text or an array");
    if (array->empty() || array->get(0)->is_integer()) {
        return in.bytes(node, key, 0, value.entries * value.size);
    }
    const auto &texts_at = hvl::ostrel::kReleaseTextAt;
    const bool texts = array->get(0)->is_string();
    in.require(array->size() <= (texts ? std::size(texts_at) : value.entries), &node, key,
               "more entries than the value has");
    Bytes bytes(value.entries * value.size);
    for (std::size_t i = 0; i < array->size(); ++i) {
        const std::string at = key + "[" + std::to_string(i) + "]";
        const std::size_t from = texts ? texts_at[i] : i * value.size;
        const std::size_t end = !texts                        ? from + value.size
                                : i + 1 < std::size(texts_at) ? texts_at[i + 1] - 1
                                                              : value.size - 1;
        const Bytes given = texts ? oem_bytes(in, *array->get(i), at, {"", 1, end - from, 0})
                                  : in.bytes(*array->get(i), at, 0, end - from);
        std::copy(given.begin(), given.end(), bytes.begin() + static_cast<long>(from));
    }
    return bytes;
}

// [ipmc.oem]: the OEM configuration values by name, and the transfer limit
// of the chunked reads.
void read_oem(const Reader &in, const toml::table &ipmc_table, IpmcBoard &ipmc) {
    const toml::table *table = in.table(ipmc_table, "ipmc", "oem");
    if (table == nullptr) {
        return;
    }
    in.check_keys(*table, "ipmc.oem", [](std::string_view key) {
        return key == "transfer_limit" || oem_value(key) != nullptr;
    });
    in.set(*table, "ipmc.oem", "transfer_limit", ipmc.oem_transfer_limit, 1, 0xFF);
    ipmc.oem.resize(kOemSize);
    for (const OemValue &value : kOemValues) {
        if (const toml::node *node = table->get(value.key)) {
            const Bytes bytes = oem_bytes(in, *node, "ipmc.oem." + std::string(value.key), value);
            std::copy(bytes.begin(), bytes.end(),
                      ipmc.oem.begin() + static_cast<long>(oem_at(value.key)));
        }
    }
}

// A byte of a PICMG entry: its key, where it goes, its highest value, and
// whether the entry must give it.
template <typename T> struct ByteKey {
    std::string_view key;
    std::uint8_t T::*field;
    std::uint8_t max;
    bool required;
};

template <typename T, std::size_t N>
T read_entry(const Reader &in, const toml::table &entry, const std::string &key,
             const ByteKey<T> (&keys)[N], std::initializer_list<std::string_view> others) {
    in.check_keys(entry, key, [&](std::string_view name) {
        return std::find(others.begin(), others.end(), name) != others.end() ||
               std::any_of(keys, keys + N, [&](const ByteKey<T> &k) { return k.key == name; });
    });
    T out{};
    for (const ByteKey<T> &k : keys) {
        in.require(!k.required || entry.contains(k.key), &entry, key,
                   "'" + std::string(k.key) + "' missing");
        in.set(entry, key, k.key, out.*k.field, 0, k.max);
    }
    return out;
}

constexpr ByteKey<PicmgFru> kFruKeys[] = {
    {"id", &PicmgFru::id, 0xFF, true},
    {"site_id", &PicmgFru::site_id, 0xFF, false},
    {"site_type", &PicmgFru::site_type, 0xFF, false},
};
constexpr ByteKey<PicmgLed> kLedKeys[] = {
    {"fru", &PicmgLed::fru, 0xFF, true},
    {"id", &PicmgLed::id, 0xFF, true},
};
// A backplane port by interface and channel, an AMC port by on-carrier device and channel.
constexpr ByteKey<PicmgLink> kPortKeys[] = {
    {"interface", &PicmgLink::where, 3, true},         {"channel", &PicmgLink::channel, 0x3F, true},
    {"ports", &PicmgLink::lanes, 0x0F, false},         {"link_type", &PicmgLink::type, 0xFF, false},
    {"extension", &PicmgLink::extension, 0x0F, false}, {"group", &PicmgLink::group, 0xFF, false},
};
constexpr ByteKey<PicmgLink> kAmcPortKeys[] = {
    {"device", &PicmgLink::where, 0xFF, false},        {"channel", &PicmgLink::channel, 0xFF, true},
    {"lanes", &PicmgLink::lanes, 0x0F, false},         {"link_type", &PicmgLink::type, 0xFF, false},
    {"extension", &PicmgLink::extension, 0x0F, false}, {"group", &PicmgLink::group, 0xFF, false},
};
constexpr std::uint8_t kLastColour = 7; // colour codes are bits of the capabilities byte

PicmgLed read_led(const Reader &in, const toml::table &entry, const std::string &key) {
    PicmgLed led = read_entry(in, entry, key, kLedKeys, {"colors", "local", "override"});
    if (const toml::node *colours = entry.get("colors")) {
        for (const std::uint8_t colour : in.bytes(*colours, key + ".colors", 0, kLastColour + 1)) {
            in.require(colour <= kLastColour, colours, key + ".colors", "a colour above 7");
            led.colours = static_cast<std::uint8_t>(led.colours | 1U << colour);
        }
    }
    if (const toml::node *local = entry.get("local")) {
        const Bytes state = in.bytes(*local, key + ".local", led.local.size());
        std::copy(state.begin(), state.end(), led.local.begin());
    }
    if (const toml::node *over = entry.get("override")) {
        const Bytes state = in.bytes(*over, key + ".override", led.local.size());
        led.override_state = LedState{state[0], state[1], state[2]};
    }
    return led;
}

PicmgFru read_fru(const Reader &in, const toml::table &entry, const std::string &key) {
    return read_entry(in, entry, key, kFruKeys, {});
}

template <const auto &keys>
PicmgLink read_link(const Reader &in, const toml::table &entry, const std::string &key) {
    PicmgLink link = read_entry(in, entry, key, keys, {"enabled"});
    in.set(entry, key, "enabled", link.enabled);
    return link;
}

// [PREFIX.picmg]: the answers' bytes, then the FRUs, LEDs and ports.
void read_picmg(const Reader &in, const toml::table &parent, const std::string &where,
                IpmcBoard &ipmc) {
    const toml::table *table =
        read_fields(in, parent, where, "picmg", ipmc, {"fru", "led", "port", "amc_port"});
    if (table == nullptr) {
        return;
    }
    const std::string prefix = Reader::join(where, "picmg");
    PicmgBoard &picmg = ipmc.picmg;
    read_list(in, *table, prefix, "fru", picmg.frus, read_fru);
    read_list(in, *table, prefix, "led", picmg.leds, read_led);
    read_list(in, *table, prefix, "port", picmg.ports, read_link<kPortKeys>);
    read_list(in, *table, prefix, "amc_port", picmg.amc_ports, read_link<kAmcPortKeys>);
}

// A controller of [[ipmc.controller]]: the device ID and PICMG tables of an IPMC.
IpmcBoard read_controller(const Reader &in, const toml::table &entry, const std::string &key) {
    IpmcBoard controller;
    controller.present = true;
    in.check_keys(entry, key, {"device_id", "picmg"});
    read_fields(in, entry, key, "device_id", controller);
    read_picmg(in, entry, key, controller);
    return controller;
}

// The controllers, each at the IPMB-0 address its address information gives.
void read_controllers(const Reader &in, const toml::table &ipmc_table, IpmcBoard &ipmc) {
    read_list(in, ipmc_table, "ipmc", "controller", ipmc.controllers, read_controller);
    std::set<unsigned> addresses;
    for (std::size_t i = 0; i < ipmc.controllers.size(); ++i) {
        const std::uint8_t address = ipmb0_address(ipmc.controllers[i]);
        in.require(address != 0 && addresses.insert(address).second, ipmc_table.get("controller"),
                   "ipmc.controller[" + std::to_string(i) + "].picmg.ipmb0_address",
                   "missing, or another controller's");
    }
}

constexpr std::size_t kMaxFruImage = 0xFFFF; // Get FRU Inventory Area Info's size

// A FRU device of [[ipmc.fru]]: its ID, its image (a file relative to the
// board file), its access and transfer limit.
FruDevice read_fru_device(const Reader &in, const toml::table &entry, const std::string &key,
                          const std::string &dir, Loading &loading) {
    in.check_keys(entry, key, {"id", "image", "access", "transfer_limit", "limit_code"});
    in.require(entry.contains("id") && entry.contains("image"), &entry, key,
               "'id' and 'image' required");
    FruDevice fru;
    in.set(entry, key, "id", fru.id, 0, 0xFE);
    const toml::node &image = *entry.get("image");
    const auto name = in.as<std::string>(image, key + ".image");
    const std::string path = Reader::path_in(dir, name);
    std::string bytes;
    try {
        bytes = read_text(Reader("FRU image " + path), path);
    } catch (const BoardError &error) {
        in.refuse(image.source().begin.line, key + ".image: " + error.what());
    }
    in.require(!bytes.empty() && bytes.size() <= kMaxFruImage, &image, key + ".image",
               path + ": " + std::to_string(bytes.size()) + " bytes, not 1 to 65535");
    fingerprint(loading.board, bytes);
    fru.image.assign(bytes.begin(), bytes.end());
    std::string access = "byte";
    in.set(entry, key, "access", access);
    in.require(access == "byte" || access == "word", entry.get("access"), key + ".access",
               "'byte' or 'word', not '" + access + "'");
    fru.word_access = access == "word";
    in.require(!fru.word_access || fru.image.size() % 2 == 0, &image, key + ".image",
               "an odd number of bytes with word access");
    in.set(entry, key, "transfer_limit", fru.transfer_limit, 1, 0xFF);
    in.set(entry, key, "limit_code", fru.limit_code, 0, 0xFF);
    in.require(fru.limit_code == 0xC7 || fru.limit_code == 0xC8, entry.get("limit_code"),
               key + ".limit_code", "0xC7 or 0xC8");
    return fru;
}

// The FRU devices, each ID once; a board that gives them replaces its base's.
void read_fru_devices(const Reader &in, const toml::table &ipmc_table, const std::string &dir,
                      Loading &loading) {
    std::vector<FruDevice> &frus = loading.board.ipmc.fru;
    read_list(in, ipmc_table, "ipmc", "fru", frus,
              [&](const Reader &r, const toml::table &entry, const std::string &key) {
                  return read_fru_device(r, entry, key, dir, loading);
              });
    const toml::node *given = ipmc_table.get("fru");
    std::set<unsigned> ids;
    for (std::size_t i = 0; given != nullptr && i < frus.size(); ++i) {
        const toml::node *entry = given->as_array()->get(i);
        in.require(ids.insert(frus[i].id).second, entry->as_table()->get("id"),
                   "ipmc.fru[" + std::to_string(i) + "].id",
                   "FRU " + std::to_string(frus[i].id) + " given twice");
    }
}

void read_ipmc(const Reader &in, const toml::table &table, const std::string &dir,
               Loading &loading) {
    IpmcBoard &ipmc = loading.board.ipmc;
    ipmc.present = true;
    in.check_keys(table, "ipmc",
                  {"mezzanine", "device_id", "picmg", "registers", "engineering", "params", "sdr",
                   "sdr_file", "sdr_transfer_limit", "sensors", "self_test", "faults", "oem",
                   "controller", "ipmb_timeout_ms", "fru"});
    in.set(table, "ipmc", "mezzanine", ipmc.mezzanine);
    read_fields(in, table, "ipmc", "device_id", ipmc);
    read_picmg(in, table, "ipmc", ipmc);
    read_controllers(in, table, ipmc);
    in.set(table, "ipmc", "ipmb_timeout_ms", ipmc.ipmb_timeout_ms, 0, kMaxIpmbTimeout);
    read_registers(in, table, "ipmc", ipmc.registers);
    read_fields(in, table, "ipmc", "engineering", ipmc);
    read_fields(in, table, "ipmc", "params", ipmc);
    read_sdr(in, table, dir, loading);
    read_sensors(in, table, ipmc);
    in.set(table, "ipmc", "sdr_transfer_limit", ipmc.sdr_transfer_limit, 1, 0xFF);
    in.set(table, "ipmc", "self_test", ipmc.self_test, 2);
    read_list(in, table, "ipmc", "faults", ipmc.faults, read_fault<kIpmiFaults>, true);
    read_oem(in, table, ipmc);
    read_fru_devices(in, table, dir, loading);
}

std::string dir_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// A run of key characters with more dots than any board needs is refused
// before the parser sees it: a key of thousands of parts would exhaust the
// stack. Quoted text and comments aside, a value breaks the run at its '='
// (so "x = 1.5" is two runs).
void check_dotted_keys(std::string_view text, const Reader &in) {
    constexpr std::string_view kBreaks = "=,[]{}";
    std::size_t line = 1;
    int dots = 0;
    char quote = 0; // in a string, or a comment ('#')
    for (const char c : text) {
        if (c == '\n') {
            ++line;
            dots = 0;
            quote = 0;
        } else if (quote != 0) {
            quote = c == quote && quote != '#' ? '\0' : quote;
        } else if (c == '"' || c == '\'' || c == '#') {
            quote = c;
        } else if (kBreaks.find(c) != std::string_view::npos) {
            dots = 0;
        } else if (c == '.' && ++dots > kMaxDots) {
            in.refuse(line, "a dotted key of more than " + std::to_string(kMaxDots + 1) + " parts");
        }
    }
}

void read_file(std::string_view text, const std::string &dir, const Reader &in, Loading &loading) {
    check_dotted_keys(text, in);
    toml::table table;
    try {
        table = toml::parse(text, in.origin());
    } catch (const toml::parse_error &error) {
        const toml::source_position at = error.source().begin;
        throw BoardError(in.origin() + ":" + std::to_string(at.line) + ":" +
                         std::to_string(at.column) + ": " + std::string(error.description()));
    }
    in.check_keys(table, "", {"name", "description", "base", "cpld", "ipmc"});
    if (const toml::node *base = table.get("base")) {
        ++loading.depth;
        in.require(loading.depth <= kMaxBaseDepth, base, "base",
                   "bases nest too deep (does a board name itself?)");
        const auto name = in.as<std::string>(*base, "base");
        const std::string path = dir.empty() ? name : Reader::path_in(dir, name);
        const Reader base_in("board file " + path);
        read_file(read_text(base_in, path), dir_of(path), base_in, loading);
    }
    Board &board = loading.board;
    fingerprint(board, text);
    in.set(table, "", "name", board.name);
    in.set(table, "", "description", board.description);
    if (const toml::table *cpld = in.table(table, "", "cpld")) {
        read_cpld(in, *cpld, loading);
    }
    if (const toml::table *ipmc = in.table(table, "", "ipmc")) {
        read_ipmc(in, *ipmc, dir, loading);
    }
}

} // namespace

Board parse_board(std::string_view text, const std::string &dir, const std::string &origin) {
    const Reader in(origin);
    Loading loading;
    loading.board.fingerprint = kFnvStart;
    read_file(text, dir, in, loading);
    in.require(!loading.board.name.empty(), nullptr, "name", "missing (the board's name)");
    in.require(loading.has_version, nullptr, "cpld.version",
               "missing (the version the CPLD driver reports)");
    return loading.board;
}

Board load_board(const std::string &path) {
    const std::string origin = "board file " + path;
    return parse_board(read_text(Reader(origin), path), dir_of(path), origin);
}

} // namespace sim
