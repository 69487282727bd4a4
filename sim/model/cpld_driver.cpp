#include "cpld_driver.h"

#include "common/byte_io.h"
#include "trace.h"

#include <hvl/cpld.h>

#include <cerrno>

namespace sim {
namespace {

// CpldIo: rc, param0, param1.
constexpr std::array<Field, 3> kCpldIo = {Field::U32, Field::U32, Field::U32};
enum { kRc, kParam0, kParam1 };

// The debug LED mode command is a set when it carries a mode (0 or 1), and a
// get otherwise: a get leaves param0 as it was, e.g. 0xFFFFFFFF.
constexpr std::uint32_t kLedModeMax = 1;

struct Call {
    const CpldBoard &board;
    Region &registers;
    Region &dcrs;
    Region &led_mode;
    Values<3> &io;
    const Fault *fault; // a Store fault for a write, if one fired
};

std::int32_t version_read(Call &call) {
    call.io[kParam0] = call.board.version;
    return 0;
}

std::int32_t dbg_led_mode(Call &call) {
    if (call.io[kParam0] <= kLedModeMax) {
        call.led_mode.set_word(0, static_cast<std::uint32_t>(call.io[kParam0]));
    } else {
        call.io[kParam0] = call.led_mode.word(0);
    }
    return 0;
}

std::int32_t cmd5(Call &) { return 0; }

std::int32_t ppcreg_read(Call &call) {
    const std::uint64_t offset = call.io[kParam0];
    if (offset >= kPpcRegisterCount) {
        return -EINVAL;
    }
    call.io[kParam1] =
        call.board.registers[offset].implemented ? call.registers.byte(offset) : 0xFF;
    return 0;
}

std::int32_t ppcreg_write(Call &call) {
    const std::uint64_t offset = call.io[kParam0];
    if (offset >= kPpcRegisterCount || call.io[kParam1] > 0xFF) {
        return -EINVAL;
    }
    const CpldRegister &reg = call.board.registers[offset];
    if (reg.implemented && !reg.read_only) {
        const std::uint32_t value =
            stored_value(static_cast<std::uint32_t>(call.io[kParam1]), call.fault);
        call.registers.set_byte(offset, static_cast<std::uint8_t>(value));
    }
    return 0;
}

std::int32_t dcr_read(Call &call) {
    if (call.io[kParam0] >= kDcrCount) {
        return -EINVAL;
    }
    call.io[kParam1] = call.dcrs.word(4 * call.io[kParam0]);
    return 0;
}

std::int32_t dcr_write(Call &call) {
    if (call.io[kParam0] >= kDcrCount) {
        return -EINVAL;
    }
    call.dcrs.set_word(4 * call.io[kParam0],
                       stored_value(static_cast<std::uint32_t>(call.io[kParam1]), call.fault));
    return 0;
}

std::int32_t sdram0cfg_read(Call &call) {
    if (call.io[kParam0] >= kSdram0Count) {
        return -EINVAL;
    }
    const auto found = call.board.sdram0.find(static_cast<std::uint32_t>(call.io[kParam0]));
    call.io[kParam1] = found == call.board.sdram0.end() ? 0 : found->second;
    return 0;
}

struct Command {
    unsigned long request;
    std::string_view name;
    std::int32_t (*run)(Call &);
};

constexpr Command kCommands[] = {
    {CPLD_VERSION_READ, "VERSION_READ", version_read},
    {CPLD_DBG_LED_MODE, "DBG_LED_MODE", dbg_led_mode},
    {CPLD_CMD5, "CMD5", cmd5},
    {CPLD_PPCREG_READ, "PPCREG_READ", ppcreg_read},
    {CPLD_PPCREG_WRITE, "PPCREG_WRITE", ppcreg_write},
    {CPLD_DCR_READ, "DCR_READ", dcr_read},
    {CPLD_DCR_WRITE, "DCR_WRITE", dcr_write},
    {CPLD_SDRAM0CFG_READ, "SDRAM0CFG_READ", sdram0cfg_read},
};

const Command *command_for(const IoctlCall &call) {
    for (const Command &command : kCommands) {
        if (call.type == _IOC_TYPE(command.request) && call.code == _IOC_NR(command.request) &&
            call.size == 0) {
            return &command;
        }
    }
    return nullptr;
}

std::string params(const Values<3> &io) {
    return "param0=" + trace_hex(io[kParam0], 8) + " param1=" + trace_hex(io[kParam1], 8);
}

std::vector<std::uint8_t> register_reset(const CpldBoard &board) {
    std::vector<std::uint8_t> reset(kPpcRegisterCount);
    for (unsigned offset = 0; offset < kPpcRegisterCount; ++offset) {
        reset[offset] = board.registers[offset].reset;
    }
    return reset;
}

// DCRs not listed reset to 0; each is kept as a word.
std::vector<std::uint8_t> dcr_reset(const CpldBoard &board) {
    std::vector<std::uint8_t> reset(std::size_t{4} * kDcrCount);
    for (const auto &[number, value] : board.dcrs) {
        hvl::ByteWriter(reset.data() + std::size_t{4} * number, 4).u32(value);
    }
    return reset;
}

} // namespace

std::optional<std::uint8_t> cpld_code_named(std::string_view name) {
    for (const Command &command : kCommands) {
        if (command.name == name) {
            return static_cast<std::uint8_t>(_IOC_NR(command.request));
        }
    }
    return std::nullopt;
}

CpldDriver::CpldDriver(const CpldBoard &board, Store &store)
    : board_(board), registers_(store.region("cpld.registers", register_reset(board))),
      dcrs_(store.region("cpld.dcr", dcr_reset(board))),
      led_mode_(
          store.region("cpld.led_mode", {static_cast<std::uint8_t>(board.led_mode), 0, 0, 0})) {}

Outcome CpldDriver::ioctl(const IoctlCall &call, UserMemory &memory, FaultPlan &faults) {
    const Command *command = command_for(call);
    if (command == nullptr) {
        return failed("request=" + trace_hex(call.number, 8), ENOTTY);
    }
    const std::string name(command->name);
    Values<3> io{};
    if (!memory.read_record(call.arg, kCpldIo, io)) {
        return failed(name, EFAULT, call.arg == 0 ? "arg=NULL" : "arg=" + trace_hex(call.arg, 8));
    }
    const std::string sent = params(io);
    const Fault *fault = faults.on_call(name, static_cast<std::uint32_t>(io[kParam0]));
    if (fault != nullptr && fault->effect == FaultEffect::Errno) {
        return failed(name, static_cast<int>(fault->value), sent);
    }
    if (fault != nullptr && fault->effect == FaultEffect::Rc) {
        io[kRc] = static_cast<std::uint32_t>(fault->value);
    } else {
        Call run{board_, registers_, dcrs_, led_mode_, io, fault};
        io[kRc] = static_cast<std::uint32_t>(command->run(run));
    }
    memory.write(call.arg, encode(kCpldIo, memory.abi(), io));
    const std::string got =
        "rc=" + std::to_string(static_cast<std::int32_t>(io[kRc])) + " " + params(io);
    return Outcome{0, 0, name, sent, got, {}};
}

} // namespace sim
