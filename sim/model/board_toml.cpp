// Board files, read with toml++. This is the only file that includes it: it
// is slow to compile.
#define TOML_HEADER_ONLY 1
#define TOML_EXCEPTIONS 1
#include <toml++/toml.h>

#include "board.h"
#include "board_files.h"
#include "cpld_driver.h"
#include "errno_names.h"
#include "ipmi_device.h"

#include "ipmi/ostrel_constants.h"

#include <linux/ipmi.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace sim {
namespace {

constexpr int kMaxBaseDepth = 8;

std::string hex(std::uint64_t value) {
    char text[24];
    (void)std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// One board file being applied: its name for messages.
class Source {
public:
    explicit Source(std::string origin) : origin_(std::move(origin)) {}

    [[noreturn]] void fail(const toml::node *node, const std::string &key,
                           const std::string &what) const {
        std::string where = origin_;
        if (node != nullptr && node->source().begin.line != 0) {
            where += ":" + std::to_string(node->source().begin.line);
        }
        throw BoardError(where + ": " + key + ": " + what);
    }

    const std::string &origin() const { return origin_; }

private:
    std::string origin_;
};

std::string join(const std::string &prefix, std::string_view key) {
    return prefix.empty() ? std::string(key) : prefix + "." + std::string(key);
}

void check_keys(const Source &src, const toml::table &table, const std::string &prefix,
                std::initializer_list<std::string_view> known) {
    for (auto &&[key, node] : table) {
        bool found = false;
        for (std::string_view name : known) {
            found = found || key.str() == name;
        }
        if (!found) {
            src.fail(&node, join(prefix, key.str()), "unknown key");
        }
    }
}

std::int64_t integer(const Source &src, const toml::node &node, const std::string &key,
                     std::int64_t min, std::int64_t max) {
    const toml::value<std::int64_t> *value = node.as_integer();
    if (value == nullptr) {
        src.fail(&node, key, "expected an integer");
    }
    if (value->get() < min || value->get() > max) {
        src.fail(&node, key,
                 "out of range (" + std::to_string(min) + " to " +
                     hex(static_cast<std::uint64_t>(max)) + ")");
    }
    return value->get();
}

bool boolean(const Source &src, const toml::node &node, const std::string &key) {
    const toml::value<bool> *value = node.as_boolean();
    if (value == nullptr) {
        src.fail(&node, key, "expected true or false");
    }
    return value->get();
}

std::string string_at(const Source &src, const toml::node &node, const std::string &key) {
    const toml::value<std::string> *value = node.as_string();
    if (value == nullptr) {
        src.fail(&node, key, "expected a string");
    }
    return value->get();
}

const toml::table &table_at(const Source &src, const toml::node &node, const std::string &key) {
    const toml::table *table = node.as_table();
    if (table == nullptr) {
        src.fail(&node, key, "expected a table");
    }
    return *table;
}

// A register or DCR number written as a key: "0x10" or "16".
std::uint32_t numbered_key(const Source &src, const toml::node &node, const std::string &key,
                           std::string_view name, std::uint32_t limit) {
    const std::string digits(name);
    char *end = nullptr;
    errno = 0;
    const unsigned long number = std::strtoul(digits.c_str(), &end, 0);
    if (digits.empty() || digits[0] == '-' || *end != '\0' || errno != 0) {
        src.fail(&node, key, "expected a number as key");
    }
    if (number >= limit) {
        src.fail(&node, key, "above the highest number " + hex(limit - 1));
    }
    return static_cast<std::uint32_t>(number);
}

std::uint8_t byte_at(const Source &src, const toml::node &node, const std::string &key) {
    return static_cast<std::uint8_t>(integer(src, node, key, 0, 0xFF));
}

// Which keys a register entry may have: the IPMC area knows the mezzanine.
enum class Area { Ppc, Ipmc };

void apply_register(const Source &src, const toml::table &entry, const std::string &key, Area area,
                    CpldRegister &reg) {
    if (area == Area::Ipmc) {
        check_keys(src, entry, key, {"reset", "read_only", "implemented", "mezzanine_reset"});
    } else {
        check_keys(src, entry, key, {"reset", "read_only", "implemented"});
    }
    const toml::node *reset = entry.get("reset");
    const toml::node *implemented = entry.get("implemented");
    if (implemented != nullptr && !boolean(src, *implemented, key + ".implemented")) {
        reg = CpldRegister{};
        return;
    }
    if (reset == nullptr && !reg.implemented) {
        src.fail(&entry, key, "a new register needs its reset value ('reset')");
    }
    reg.implemented = true;
    if (reset != nullptr) {
        reg.reset = byte_at(src, *reset, key + ".reset");
    }
    if (const toml::node *read_only = entry.get("read_only")) {
        reg.read_only = boolean(src, *read_only, key + ".read_only");
    }
    if (const toml::node *mezzanine = entry.get("mezzanine_reset")) {
        reg.mezzanine_reset = byte_at(src, *mezzanine, key + ".mezzanine_reset");
    }
}

void apply_registers(const Source &src, const toml::table &table, const std::string &prefix,
                     Area area, RegisterArea &registers) {
    for (auto &&[name, node] : table) {
        const std::string key = join(prefix, name.str());
        const std::uint32_t offset = numbered_key(src, node, key, name.str(), kPpcRegisterCount);
        apply_register(src, table_at(src, node, key), key, area, registers[offset]);
    }
}

// An array of bytes: exactly `size` of them, or up to `max` when `size` is 0.
std::vector<std::uint8_t> bytes_at(const Source &src, const toml::node &node,
                                   const std::string &key, std::size_t size, std::size_t max = 0) {
    const toml::array *array = node.as_array();
    if (array == nullptr) {
        src.fail(&node, key, "expected an array of bytes");
    }
    if (size != 0 && array->size() != size) {
        src.fail(&node, key, "expected " + std::to_string(size) + " bytes");
    }
    if (size == 0 && array->size() > max) {
        src.fail(&node, key, "more than " + std::to_string(max) + " bytes");
    }
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < array->size(); ++i) {
        bytes.push_back(byte_at(src, *array->get(i), key + "[" + std::to_string(i) + "]"));
    }
    return bytes;
}

template <std::size_t N>
void bytes_into(const Source &src, const toml::table &table, const std::string &prefix,
                std::string_view name, std::array<std::uint8_t, N> &out) {
    if (const toml::node *node = table.get(name)) {
        const std::vector<std::uint8_t> bytes = bytes_at(src, *node, join(prefix, name), N);
        std::copy(bytes.begin(), bytes.end(), out.begin());
    }
}

// Sets `out` from the integer `name` of the table, if it is there.
template <typename T>
void integer_into(const Source &src, const toml::table &table, const std::string &prefix,
                  std::string_view name, std::int64_t max, T &out) {
    if (const toml::node *node = table.get(name)) {
        out = static_cast<T>(integer(src, *node, join(prefix, name), 0, max));
    }
}

void boolean_into(const Source &src, const toml::table &table, const std::string &prefix,
                  std::string_view name, bool &out) {
    if (const toml::node *node = table.get(name)) {
        out = boolean(src, *node, join(prefix, name));
    }
}

void apply_words(const Source &src, const toml::table &table, const std::string &prefix,
                 std::uint32_t limit, std::map<std::uint32_t, std::uint32_t> &words) {
    for (auto &&[name, node] : table) {
        const std::string key = join(prefix, name.str());
        const std::uint32_t number = numbered_key(src, node, key, name.str(), limit);
        words[number] = static_cast<std::uint32_t>(integer(src, node, key, 0, 0xFFFFFFFF));
    }
}

int errno_value(const Source &src, const toml::node &node, const std::string &key) {
    if (node.is_integer()) {
        return static_cast<int>(integer(src, node, key, 1, 4095));
    }
    const std::string name = string_at(src, node, key);
    const std::optional<int> value = errno_named(name);
    if (!value) {
        src.fail(&node, key, "unknown errno name '" + name + "'");
    }
    return *value;
}

// Which of errno, rc, store and store_xor the fault has: exactly one.
void fault_effect(const Source &src, const toml::table &entry, const std::string &key,
                  Fault &fault) {
    const char *found = nullptr;
    for (const char *name : {"errno", "rc", "store", "store_xor"}) {
        const toml::node *node = entry.get(name);
        if (node == nullptr) {
            continue;
        }
        if (found != nullptr) {
            src.fail(node, key, std::string("both '") + found + "' and '" + name + "' given");
        }
        found = name;
        const std::string field = key + "." + name;
        if (std::strcmp(name, "errno") == 0) {
            fault.effect = FaultEffect::Errno;
            fault.value = errno_value(src, *node, field);
        } else if (std::strcmp(name, "rc") == 0) {
            fault.effect = FaultEffect::Rc;
            fault.value = integer(src, *node, field, INT32_MIN, INT32_MAX);
        } else {
            fault.effect =
                std::strcmp(name, "store") == 0 ? FaultEffect::Store : FaultEffect::StoreXor;
            fault.value = integer(src, *node, field, 0, 0xFFFFFFFF);
        }
    }
    if (found == nullptr) {
        src.fail(&entry, key, "says nothing of what fails: give errno, rc, store or store_xor");
    }
}

void check_fault(const Source &src, const toml::table &entry, const std::string &key,
                 const Fault &fault) {
    const bool store = fault.effect == FaultEffect::Store || fault.effect == FaultEffect::StoreXor;
    if (fault.request == "open" && (fault.effect != FaultEffect::Errno || fault.param0)) {
        src.fail(&entry, key, "an open fault takes only errno (and occurrence)");
    }
    const bool register_write = fault.request == "PPCREG_WRITE";
    if (store && !register_write && fault.request != "DCR_WRITE") {
        src.fail(&entry, key, "store and store_xor apply to PPCREG_WRITE and DCR_WRITE only");
    }
    if (store && register_write && fault.value > 0xFF) {
        src.fail(&entry, key, "a register stores a byte: store and store_xor up to 0xFF");
    }
}

Fault parse_fault(const Source &src, const toml::table &entry, const std::string &key) {
    check_keys(src, entry, key,
               {"request", "param0", "occurrence", "errno", "rc", "store", "store_xor"});
    const toml::node *request = entry.get("request");
    if (request == nullptr) {
        src.fail(&entry, key, "'request' missing (\"open\" or a driver request name)");
    }
    Fault fault;
    fault.request = string_at(src, *request, key + ".request");
    if (fault.request != "open" && !cpld_code_named(fault.request)) {
        src.fail(request, key + ".request", "unknown request '" + fault.request + "'");
    }
    if (const toml::node *param0 = entry.get("param0")) {
        fault.param0 =
            static_cast<std::uint32_t>(integer(src, *param0, key + ".param0", 0, 0xFFFFFFFF));
    }
    if (const toml::node *occurrence = entry.get("occurrence")) {
        fault.occurrence =
            static_cast<unsigned>(integer(src, *occurrence, key + ".occurrence", 1, 1000000000));
    }
    fault_effect(src, entry, key, fault);
    check_fault(src, entry, key, fault);
    return fault;
}

template <typename FaultT, typename Parse>
void apply_fault_list(const Source &src, const toml::node &node, const std::string &key,
                      std::vector<FaultT> &faults, Parse parse) {
    const toml::array *array = node.as_array();
    if (array == nullptr) {
        src.fail(&node, key, "expected an array of tables ([[" + key + "]])");
    }
    for (std::size_t i = 0; i < array->size(); ++i) {
        const std::string entry_key = key + "[" + std::to_string(i) + "]";
        faults.push_back(parse(src, table_at(src, *array->get(i), entry_key), entry_key));
    }
}

// Loading state of a board and its bases.
struct Loading {
    Board board;
    bool has_version = false;
    int depth = 0;
};

void apply_cpld(const Source &src, const toml::table &table, Loading &loading) {
    CpldBoard &cpld = loading.board.cpld;
    check_keys(src, table, "cpld", {"version", "led_mode", "registers", "dcr", "sdram0", "faults"});
    if (const toml::node *version = table.get("version")) {
        cpld.version = static_cast<std::uint8_t>(integer(src, *version, "cpld.version", 0, 0xFF));
        loading.has_version = true;
    }
    if (const toml::node *led_mode = table.get("led_mode")) {
        cpld.led_mode = static_cast<std::uint32_t>(integer(src, *led_mode, "cpld.led_mode", 0, 1));
    }
    if (const toml::node *registers = table.get("registers")) {
        apply_registers(src, table_at(src, *registers, "cpld.registers"), "cpld.registers",
                        Area::Ppc, cpld.registers);
    }
    if (const toml::node *dcr = table.get("dcr")) {
        apply_words(src, table_at(src, *dcr, "cpld.dcr"), "cpld.dcr", kDcrCount, cpld.dcrs);
    }
    if (const toml::node *sdram0 = table.get("sdram0")) {
        apply_words(src, table_at(src, *sdram0, "cpld.sdram0"), "cpld.sdram0", kSdram0Count,
                    cpld.sdram0);
    }
    if (const toml::node *faults = table.get("faults")) {
        apply_fault_list(src, *faults, "cpld.faults", cpld.faults, parse_fault);
    }
}

void apply_device_id(const Source &src, const toml::table &table, DeviceIdentity &id) {
    const std::string prefix = "ipmc.device_id";
    check_keys(src, table, prefix,
               {"device_id", "device_revision", "provides_sdrs", "firmware_major", "firmware_minor",
                "ipmi_version", "device_support", "manufacturer_id", "product_id", "aux_firmware"});
    integer_into(src, table, prefix, "device_id", 0xFF, id.device_id);
    integer_into(src, table, prefix, "device_revision", 0x0F, id.device_revision);
    boolean_into(src, table, prefix, "provides_sdrs", id.provides_sdrs);
    integer_into(src, table, prefix, "firmware_major", 0x7F, id.firmware_major);
    integer_into(src, table, prefix, "firmware_minor", 0xFF, id.firmware_minor);
    integer_into(src, table, prefix, "ipmi_version", 0xFF, id.ipmi_version);
    integer_into(src, table, prefix, "device_support", 0xFF, id.device_support);
    integer_into(src, table, prefix, "manufacturer_id", 0xFFFFF, id.manufacturer_id);
    integer_into(src, table, prefix, "product_id", 0xFFFF, id.product_id);
    bytes_into(src, table, prefix, "aux_firmware", id.aux_firmware);
}

void apply_picmg(const Source &src, const toml::table &table, PicmgAddress &picmg) {
    const std::string prefix = "ipmc.picmg";
    check_keys(src, table, prefix,
               {"extension_version", "max_fru_id", "hardware_address", "ipmb0_address", "site_id",
                "site_type"});
    integer_into(src, table, prefix, "extension_version", 0xFF, picmg.extension_version);
    integer_into(src, table, prefix, "max_fru_id", 0xFF, picmg.max_fru_id);
    integer_into(src, table, prefix, "hardware_address", 0xFF, picmg.hardware_address);
    integer_into(src, table, prefix, "ipmb0_address", 0xFF, picmg.ipmb0_address);
    integer_into(src, table, prefix, "site_id", 0xFF, picmg.site_id);
    integer_into(src, table, prefix, "site_type", 0xFF, picmg.site_type);
}

void apply_engineering(const Source &src, const toml::table &table, EngineeringReset &eng) {
    const std::string prefix = "ipmc.engineering";
    check_keys(
        src, table, prefix,
        {"fcap", "board_option", "mezzanine_option", "further", "mac", "mac_suffix", "record"});
    bytes_into(src, table, prefix, "fcap", eng.fcap);
    integer_into(src, table, prefix, "board_option", 0xFF, eng.board_option);
    integer_into(src, table, prefix, "mezzanine_option", 0xFF, eng.mezzanine_option);
    bytes_into(src, table, prefix, "further", eng.further);
    bytes_into(src, table, prefix, "mac", eng.mac);
    integer_into(src, table, prefix, "mac_suffix", 0xFF, eng.mac_suffix);
    if (const toml::node *record = table.get("record")) {
        eng.record = bytes_at(src, *record, prefix + ".record", OSTREL_ENG_RECORD_SIZE);
    }
}

void apply_params(const Source &src, const toml::table &table, IpmcParams &params) {
    const std::string prefix = "ipmc.params";
    check_keys(src, table, prefix, {"pm_mode", "ipmb_mode", "extra"});
    bool pm = (params.modes & hvl::ostrel::kParamsPmBit) != 0;
    bool ipmb = (params.modes & hvl::ostrel::kParamsIpmbBit) != 0;
    boolean_into(src, table, prefix, "pm_mode", pm);
    boolean_into(src, table, prefix, "ipmb_mode", ipmb);
    params.modes = static_cast<std::uint8_t>((pm ? hvl::ostrel::kParamsPmBit : 0) |
                                             (ipmb ? hvl::ostrel::kParamsIpmbBit : 0));
    integer_into(src, table, prefix, "extra", 0xFF, params.extra);
}

// Which of errno, ccode, answer and length the fault has: exactly one.
void ipmi_fault_effect(const Source &src, const toml::table &entry, const std::string &key,
                       Fault &fault) {
    struct Effect {
        const char *name;
        FaultEffect effect;
    };
    constexpr Effect kEffects[] = {
        {"errno", FaultEffect::Errno},
        {"ccode", FaultEffect::Ccode},
        {"answer", FaultEffect::Answer},
        {"length", FaultEffect::Length},
    };
    const char *found = nullptr;
    for (const Effect &effect : kEffects) {
        const toml::node *node = entry.get(effect.name);
        if (node == nullptr) {
            continue;
        }
        if (found != nullptr) {
            src.fail(node, key,
                     std::string("both '") + found + "' and '" + effect.name + "' given");
        }
        found = effect.name;
        fault.effect = effect.effect;
        const std::string field = key + "." + effect.name;
        if (effect.effect == FaultEffect::Errno) {
            fault.value = errno_value(src, *node, field);
        } else if (effect.effect == FaultEffect::Ccode) {
            fault.value = byte_at(src, *node, field);
        } else if (effect.effect == FaultEffect::Answer) {
            fault.answer = bytes_at(src, *node, field, 0, kMaxFaultAnswer);
        } else {
            fault.value = integer(src, *node, field, 0, static_cast<std::int64_t>(kMaxFaultAnswer));
        }
    }
    if (found == nullptr) {
        src.fail(&entry, key, "says nothing of what fails: give errno, ccode, answer or length");
    }
}

// The message a fault applies to: netfn, cmd and data bytes, each optional.
void ipmi_fault_message(const Source &src, const toml::table &entry, const std::string &key,
                        Fault &fault) {
    if (const toml::node *netfn = entry.get("netfn")) {
        fault.netfn = static_cast<std::uint32_t>(integer(src, *netfn, key + ".netfn", 0, 0x3F));
    }
    if (const toml::node *cmd = entry.get("cmd")) {
        fault.cmd = byte_at(src, *cmd, key + ".cmd");
    }
    if (const toml::node *data = entry.get("data")) {
        fault.data = bytes_at(src, *data, key + ".data", 0, IPMI_MAX_MSG_LENGTH);
    }
    if (const toml::node *from = entry.get("data_from")) {
        fault.data_from = static_cast<std::size_t>(
            integer(src, *from, key + ".data_from", 0, IPMI_MAX_MSG_LENGTH));
    }
}

Fault parse_ipmi_fault(const Source &src, const toml::table &entry, const std::string &key) {
    check_keys(src, entry, key,
               {"request", "netfn", "cmd", "data", "data_from", "occurrence", "errno", "ccode",
                "answer", "length"});
    Fault fault;
    fault.request = "SEND_COMMAND";
    if (const toml::node *request = entry.get("request")) {
        fault.request = string_at(src, *request, key + ".request");
        if (fault.request != "open" && !ipmi_request_known(fault.request)) {
            src.fail(request, key + ".request", "unknown request '" + fault.request + "'");
        }
    }
    if (const toml::node *occurrence = entry.get("occurrence")) {
        fault.occurrence =
            static_cast<unsigned>(integer(src, *occurrence, key + ".occurrence", 1, 1000000000));
    }
    ipmi_fault_message(src, entry, key, fault);
    ipmi_fault_effect(src, entry, key, fault);
    const bool message = fault.request == "SEND_COMMAND";
    const bool names_message = entry.contains("netfn") || entry.contains("cmd") ||
                               entry.contains("data") || entry.contains("data_from");
    if (!message && (names_message || fault.effect != FaultEffect::Errno)) {
        src.fail(&entry, key,
                 "only SEND_COMMAND takes netfn, cmd, data and an answer; "
                 "other requests take errno (and occurrence)");
    }
    return fault;
}

void apply_ipmc(const Source &src, const toml::table &table, Loading &loading) {
    IpmcBoard &ipmc = loading.board.ipmc;
    ipmc.present = true;
    check_keys(src, table, "ipmc",
               {"mezzanine", "device_id", "picmg", "registers", "engineering", "params", "faults"});
    boolean_into(src, table, "ipmc", "mezzanine", ipmc.mezzanine);
    if (const toml::node *id = table.get("device_id")) {
        apply_device_id(src, table_at(src, *id, "ipmc.device_id"), ipmc.identity);
    }
    if (const toml::node *picmg = table.get("picmg")) {
        apply_picmg(src, table_at(src, *picmg, "ipmc.picmg"), ipmc.picmg);
    }
    if (const toml::node *registers = table.get("registers")) {
        apply_registers(src, table_at(src, *registers, "ipmc.registers"), "ipmc.registers",
                        Area::Ipmc, ipmc.registers);
    }
    if (const toml::node *engineering = table.get("engineering")) {
        apply_engineering(src, table_at(src, *engineering, "ipmc.engineering"), ipmc.engineering);
    }
    if (const toml::node *params = table.get("params")) {
        apply_params(src, table_at(src, *params, "ipmc.params"), ipmc.params);
    }
    if (const toml::node *faults = table.get("faults")) {
        apply_fault_list(src, *faults, "ipmc.faults", ipmc.faults, parse_ipmi_fault);
    }
}

// toml++ nests a table per part of a dotted key, and a key of thousands of
// parts exhausts the stack. A run of key characters with more dots than any
// board needs is refused before the parser sees it (quoted text aside, a
// value breaks the run at its '=', so "x = 1.5" is two runs).
void check_dotted_keys(std::string_view text, const Source &src) {
    constexpr int kMaxDots = 16;
    constexpr std::string_view kBreaks = "=,[]{}";
    int line = 1;
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
            throw BoardError(src.origin() + ":" + std::to_string(line) +
                             ": a dotted key of more than " + std::to_string(kMaxDots + 1) +
                             " parts");
        }
    }
}

toml::table parse_text(std::string_view text, const Source &src) {
    check_dotted_keys(text, src);
    try {
        return toml::parse(text, src.origin());
    } catch (const toml::parse_error &error) {
        throw BoardError(src.origin() + ":" + std::to_string(error.source().begin.line) + ":" +
                         std::to_string(error.source().begin.column) + ": " +
                         std::string(error.description()));
    }
}

void apply_file(std::string_view text, const std::string &dir, const Source &src,
                Loading &loading) {
    const toml::table table = parse_text(text, src);
    check_keys(src, table, "", {"name", "description", "base", "cpld", "ipmc"});
    if (const toml::node *base = table.get("base")) {
        if (++loading.depth > kMaxBaseDepth) {
            src.fail(base, "base", "bases nest too deep (does a board name itself?)");
        }
        const std::string name = string_at(src, *base, "base");
        loading.board.bases.push_back(name);
        const std::string path = base_path(dir, name);
        apply_file(read_board_text(path), dir_of(path), Source("board file " + path), loading);
    }
    loading.board.fingerprint = add_to_fingerprint(loading.board.fingerprint, text);
    if (const toml::node *name = table.get("name")) {
        loading.board.name = string_at(src, *name, "name");
    }
    if (const toml::node *description = table.get("description")) {
        loading.board.description = string_at(src, *description, "description");
    }
    if (const toml::node *cpld = table.get("cpld")) {
        apply_cpld(src, table_at(src, *cpld, "cpld"), loading);
    }
    if (const toml::node *ipmc = table.get("ipmc")) {
        apply_ipmc(src, table_at(src, *ipmc, "ipmc"), loading);
    }
}

} // namespace

Board parse_board(std::string_view text, const std::string &dir, const std::string &origin) {
    const Source src(origin);
    Loading loading;
    loading.board.fingerprint = kFingerprintStart;
    apply_file(text, dir, src, loading);
    if (loading.board.name.empty()) {
        src.fail(nullptr, "name", "missing (the board's name)");
    }
    if (!loading.has_version) {
        src.fail(nullptr, "cpld.version", "missing (the version the CPLD driver reports)");
    }
    return loading.board;
}

Board load_board(const std::string &path) {
    return parse_board(read_board_text(path), dir_of(path), "board file " + path);
}

} // namespace sim
