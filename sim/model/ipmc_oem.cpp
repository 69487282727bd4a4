#include "ipmc_oem.h"

#include "ipmc.h"

#include "ipmi/ostrel_constants.h"

#include <algorithm>

namespace sim {
namespace {

using namespace hvl::ostrel;

constexpr std::size_t kIdsAt = 6; // manufacturer and product ID in Get Device ID
constexpr std::size_t kIdsSize = 5;

// One request being answered: its value, where that starts in the region.
struct Exchange {
    const IpmcBoard &board;
    Region &values;
    const OemValue &value;
    std::size_t at;
    hvl::ByteReader &in;
    hvl::ByteWriter &out;
};

// The entry the request's first byte chooses, when the value has several.
std::size_t entry(Exchange &x) { return x.value.entries > 1 ? x.in.u8() : 0; }

// A memory's address: one byte within 256, else two.
std::size_t address(Exchange &x) { return x.value.size > 0x100 ? x.in.u16() : x.in.u8(); }

std::uint8_t get(Exchange &x) {
    const std::size_t chosen = entry(x);
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    if (chosen >= x.value.entries) {
        return kCcOutOfRange;
    }
    x.out.bytes(x.values.data() + x.at + chosen * x.value.size, x.value.size);
    return kCcSuccess;
}

std::uint8_t set(Exchange &x) {
    const std::size_t chosen = entry(x);
    Bytes given(x.value.size);
    x.in.bytes(given.data(), given.size());
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    if (chosen >= x.value.entries) {
        return kCcOutOfRange;
    }
    if (std::any_of(given.begin(), given.end(), [&](auto b) { return (b & ~x.value.bits) != 0; })) {
        return kCcInvalidField;
    }
    x.values.write(x.at + chosen * x.value.size, given.data(), given.size());
    return kCcSuccess;
}

// Entry, address, count: the count, then the bytes.
std::uint8_t read_memory(Exchange &x) {
    const std::size_t chosen = entry(x);
    const std::size_t from = address(x);
    const std::uint8_t count = x.in.u8();
    if (!x.in.finished()) {
        return kCcBadLength;
    }
    if (chosen >= x.value.entries || from + count > x.value.size) {
        return kCcOutOfRange;
    }
    if (x.board.oem_transfer_limit != 0 && count > x.board.oem_transfer_limit) {
        return kCcCannotReturn;
    }
    x.out.u8(count).bytes(x.values.data() + x.at + chosen * x.value.size + from, count);
    return kCcSuccess;
}

// Address, then the bytes to write there.
std::uint8_t write_memory(Exchange &x) {
    const std::size_t to = address(x);
    Bytes given(x.in.remaining());
    x.in.bytes(given.data(), given.size());
    if (!x.in.ok()) {
        return kCcBadLength;
    }
    if (to + given.size() > x.value.size) {
        return kCcOutOfRange;
    }
    x.values.write(x.at + to, given.data(), given.size());
    return kCcSuccess;
}

// The IPMC's own manufacturer and product ID, then up to `size` characters;
// nothing after the signature puts the board's string back.
std::uint8_t set_id_string(Exchange &x) {
    Bytes text(x.value.size);
    if (x.in.remaining() == 0) {
        for (std::size_t i = 0; i < text.size() && x.at + i < x.board.oem.size(); ++i) {
            text[i] = x.board.oem[x.at + i];
        }
    } else {
        Bytes ids(kIdsSize);
        x.in.bytes(ids.data(), ids.size());
        if (!x.in.ok() || x.in.remaining() > text.size()) {
            return kCcBadLength;
        }
        if (!std::equal(ids.begin(), ids.end(), x.board.device_id.begin() + kIdsAt)) {
            return kCcInvalidField;
        }
        x.in.bytes(text.data(), x.in.remaining());
    }
    x.values.write(x.at, text.data(), text.size());
    return kCcSuccess;
}

struct Command {
    std::uint8_t netfn;
    std::uint8_t cmd;
    Prefix prefix;
    std::uint8_t (*run)(Exchange &);
    std::string_view value;
};

constexpr auto kCoded = Prefix::AccessCode;

constexpr Command kCommands[] = {
    {kNetFnCoded, kCmdRelease, kCoded, get, "release"},
    {kNetFnCoded, kCmdDebug, kCoded, set, "debug"},
    {kNetFnCoded, kCmdBootCycleGet, kCoded, get, "boot_cycle"},
    {kNetFnCoded, kCmdBootCycleSet, kCoded, set, "boot_cycle"},
    {kNetFnCoded, kCmdClockSourceSet, kCoded, set, "clock_source"},
    {kNetFnCoded, kCmdClockSourceGet, kCoded, get, "clock_source"},
    {kNetFnCoded, kCmdClockDriverSet, kCoded, set, "clock_driver"},
    {kNetFnCoded, kCmdClockDriverGet, kCoded, get, "clock_driver"},
    {kNetFnCoded, kCmdPllConfigSet, kCoded, set, "pll_config"},
    {kNetFnCoded, kCmdPllConfigGet, kCoded, get, "pll_config"},
    {kNetFnCoded, kCmdPllStatusGet, kCoded, get, "pll_status"},
    {kNetFnCoded, kCmdStorageSwGet, kCoded, get, "storage_switch"},
    {kNetFnCoded, kCmdStorageSwSet, kCoded, set, "storage_switch"},
    {kNetFnCoded, kCmdPciePortConfGet, kCoded, get, "pcie_port_config"},
    {kNetFnCoded, kCmdPciePortConfSet, kCoded, set, "pcie_port_config"},
    {kNetFnCoded, kCmdPcieClockGet, kCoded, get, "pcie_clock"},
    {kNetFnCoded, kCmdPcieClockSet, kCoded, set, "pcie_clock"},
    {kNetFnCoded, kCmdPcieHotplugGet, kCoded, get, "pcie_hotplug"},
    {kNetFnCoded, kCmdPcieHotplugSet, kCoded, set, "pcie_hotplug"},
    {kNetFnCoded, kCmdPcieModeGet, kCoded, get, "pcie_mode"},
    {kNetFnCoded, kCmdPcieModeSet, kCoded, set, "pcie_mode"},
    {kNetFnCoded, kCmdXfpRead, kCoded, read_memory, "xfp"},
    {kNetFnCoded, kCmdBlockRead, Prefix::None, read_memory, "block"},
    {kNetFnCoded, kCmdBlockWrite, Prefix::None, write_memory, "block"},
    {kNetFnSigned, kCmdDeviceIdString, Prefix::Signature, set_id_string, "device_id_string"},
};

const Command *command_for(std::uint8_t netfn, std::uint8_t cmd) {
    const auto *found =
        std::find_if(std::begin(kCommands), std::end(kCommands),
                     [&](const Command &c) { return c.netfn == netfn && c.cmd == cmd; });
    return found != std::end(kCommands) ? found : nullptr;
}

Bytes values_after_reset(const IpmcBoard &board) {
    Bytes reset = board.oem;
    reset.resize(kOemSize);
    return reset;
}

} // namespace

const OemValue *oem_value(std::string_view key) {
    const auto *found = std::find_if(std::begin(kOemValues), std::end(kOemValues),
                                     [&](const OemValue &value) { return value.key == key; });
    return found != std::end(kOemValues) ? found : nullptr;
}

OemConfig::OemConfig(const IpmcBoard &board, Store &store)
    : board_(board), values_(store.region("ipmc.oem", values_after_reset(board))) {}

std::optional<Prefix> OemConfig::prefix(std::uint8_t netfn, std::uint8_t cmd) const {
    const Command *command = command_for(netfn, cmd);
    return command != nullptr ? std::optional(command->prefix) : std::nullopt;
}

std::uint8_t OemConfig::answer(std::uint8_t netfn, std::uint8_t cmd, hvl::ByteReader &in,
                               hvl::ByteWriter &out) {
    const Command *command = command_for(netfn, cmd);
    if (command == nullptr) {
        return kCcInvalidCommand;
    }
    const OemValue &value = *oem_value(command->value);
    Exchange x{board_, values_, value, oem_at(value.key), in, out};
    return command->run(x);
}

} // namespace sim
