#include "cpld_driver.h"

#include "state.h"
#include "trace.h"

#include <cerrno>
#include <cstddef>
#include <cstring>

namespace sim {
namespace {

// The record crosses the kernel boundary: three 32-bit words, nothing else.
static_assert(sizeof(CpldIo) == 12 && offsetof(CpldIo, rc) == 0 && offsetof(CpldIo, param0) == 4 &&
              offsetof(CpldIo, param1) == 8);

// The debug LED mode command is a set when it carries a mode (0 or 1), and a
// get otherwise: a get leaves param0 as it was, e.g. 0xFFFFFFFF.
constexpr std::uint32_t kLedModeMax = 1;

struct Call {
    const CpldBoard &board;
    State &state;
    CpldIo &io;
    const Fault *fault; // a Store fault for a write, if one fired
};

std::int32_t version_read(Call &call) {
    call.io.param0 = call.board.version;
    return 0;
}

std::int32_t dbg_led_mode(Call &call) {
    if (call.io.param0 <= kLedModeMax) {
        call.state.set_led_mode(call.io.param0);
    } else {
        call.io.param0 = call.state.led_mode();
    }
    return 0;
}

std::int32_t cmd5(Call &) { return 0; }

std::int32_t ppcreg_read(Call &call) {
    const std::uint32_t offset = call.io.param0;
    if (offset >= kPpcRegisterCount) {
        return -EINVAL;
    }
    call.io.param1 =
        call.board.registers[offset].implemented ? call.state.ppc_register(offset) : 0xFF;
    return 0;
}

std::int32_t ppcreg_write(Call &call) {
    const std::uint32_t offset = call.io.param0;
    if (offset >= kPpcRegisterCount || call.io.param1 > 0xFF) {
        return -EINVAL;
    }
    const CpldRegister &reg = call.board.registers[offset];
    if (reg.implemented && !reg.read_only) {
        const std::uint32_t value = stored_value(call.io.param1, call.fault);
        call.state.set_ppc_register(offset, static_cast<std::uint8_t>(value));
    }
    return 0;
}

std::int32_t dcr_read(Call &call) {
    if (call.io.param0 >= kDcrCount) {
        return -EINVAL;
    }
    call.io.param1 = call.state.dcr(call.io.param0);
    return 0;
}

std::int32_t dcr_write(Call &call) {
    if (call.io.param0 >= kDcrCount) {
        return -EINVAL;
    }
    call.state.set_dcr(call.io.param0, stored_value(call.io.param1, call.fault));
    return 0;
}

std::int32_t sdram0cfg_read(Call &call) {
    if (call.io.param0 >= kSdram0Count) {
        return -EINVAL;
    }
    const auto found = call.board.sdram0.find(call.io.param0);
    call.io.param1 = found == call.board.sdram0.end() ? 0 : found->second;
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

const Command *command_for(unsigned long request) {
    for (const Command &command : kCommands) {
        if (command.request == request) {
            return &command;
        }
    }
    return nullptr;
}

} // namespace

std::optional<unsigned long> cpld_request_named(std::string_view name) {
    for (const Command &command : kCommands) {
        if (command.name == name) {
            return command.request;
        }
    }
    return std::nullopt;
}

std::string_view cpld_request_name(unsigned long request) {
    const Command *command = command_for(request);
    return command != nullptr ? command->name : std::string_view();
}

CpldDriver::CpldDriver(const CpldBoard &board, State &state, Trace &trace)
    : board_(board), state_(state), trace_(trace), faults_(board.faults) {}

int CpldDriver::open_error() {
    const Fault *fault = faults_.on_open();
    return fault != nullptr ? static_cast<int>(fault->value) : 0;
}

int CpldDriver::ioctl(unsigned long request, void *arg, int &err) {
    const Command *command = command_for(request);
    if (command == nullptr) {
        err = ENOTTY;
        if (trace_.on()) {
            trace_.record(trace_unknown("cpld", request, -1, err));
        }
        return -1;
    }
    if (arg == nullptr) {
        err = EFAULT;
        if (trace_.on()) {
            trace_.record(trace_cpld_no_record(command->name, -1, err));
        }
        return -1;
    }
    CpldIo in;
    std::memcpy(&in, arg, sizeof in);
    CpldIo io = in;
    const Fault *fault = faults_.on_request(request, in.param0);
    if (fault != nullptr && fault->effect == FaultEffect::Errno) {
        err = static_cast<int>(fault->value);
        if (trace_.on()) {
            trace_.record(trace_cpld(command->name, in, io, -1, err));
        }
        return -1;
    }
    if (fault != nullptr && fault->effect == FaultEffect::Rc) {
        io.rc = static_cast<std::int32_t>(fault->value);
    } else {
        Call call{board_, state_, io, fault};
        io.rc = command->run(call);
    }
    std::memcpy(arg, &io, sizeof io);
    if (trace_.on()) {
        trace_.record(trace_cpld(command->name, in, io, 0, 0));
    }
    return 0;
}

} // namespace sim
