#include "devices.h"

#include <hvl/cpld.h>
#include <hvl/hvl_ipmi_interface.h>

#include <cerrno>

namespace sim {
namespace {

constexpr Device kDevices[] = {
    {CPLD_DEVICE, "cpld", DeviceKind::Cpld, kCpldRecordSize},
    {IPMI_OPENIPMI_DEVICE, "ipmi", DeviceKind::Ipmi, 0},
};

std::string result(int ret, int err) {
    return "-> ret=" + std::to_string(ret) + " errno=" + std::to_string(ret < 0 ? err : 0);
}

std::string line_request(std::string_view device, const Outcome &outcome) {
    std::string line = std::string(device) + " " + outcome.name + " ";
    if (!outcome.sent.empty()) {
        line += outcome.sent + " ";
    }
    line += result(outcome.ret, outcome.err);
    if (!outcome.got.empty()) {
        line += " " + outcome.got;
    }
    return line;
}

} // namespace

const Device *device_at(std::string_view path) {
    for (const Device &device : kDevices) {
        if (device.path == path) {
            return &device;
        }
    }
    return nullptr;
}

std::vector<wire::PointedBuffer> pointed_buffers(const Device &device, const Abi &abi) {
    return device.kind == DeviceKind::Ipmi ? IpmiDevice::pointed_buffers(abi)
                                           : std::vector<wire::PointedBuffer>();
}

Devices::Devices(const Board &board, Store &store, Trace &trace)
    : board_(board), store_(store), trace_(trace), cpld_(board.cpld, store),
      ipmi_(board.ipmc, store) {}

Devices::ProcessFaults &Devices::faults_of(int pid) {
    const auto found = faults_.find(pid);
    if (found != faults_.end()) {
        return found->second;
    }
    return faults_
        .emplace(pid, ProcessFaults{FaultPlan(board_.cpld.faults), FaultPlan(board_.ipmc.faults)})
        .first->second;
}

int Devices::open(OpenFile &file, int flags) {
    const bool cpld = file.device->kind == DeviceKind::Cpld;
    ProcessFaults &faults = faults_of(file.pid);
    const Fault *fault = (cpld ? faults.cpld : faults.ipmi).on_call("open");
    const int err = fault != nullptr          ? static_cast<int>(fault->value)
                    : cpld || ipmi_.present() ? 0
                                              : ENOENT;
    if (trace_.on()) {
        trace_.record(std::string(file.device->name) +
                      " open flags=" + trace_hex(static_cast<std::uint32_t>(flags), 8) + " " +
                      result(err != 0 ? -1 : file.fd, err));
    }
    return err;
}

Outcome Devices::ioctl(OpenFile &file, const IoctlCall &call, UserMemory &memory) {
    store_.refresh();
    ProcessFaults &faults = faults_of(file.pid);
    if (file.device->kind == DeviceKind::Cpld) {
        return cpld_.ioctl(call, memory, faults.cpld);
    }
    return ipmi_.ioctl(file.ipmi, call, memory, faults.ipmi);
}

void Devices::finish(const OpenFile &file, Outcome &outcome, bool faulted) {
    if (faulted) {
        outcome.ret = -1;
        outcome.err = EFAULT;
        outcome.got.clear();
        if (outcome.undo) {
            outcome.undo();
        }
    }
    if (trace_.on()) {
        trace_.record(line_request(file.device->name, outcome));
    }
}

void Devices::close(const OpenFile &file) {
    if (trace_.on()) {
        trace_.record(std::string(file.device->name) + " close fd=" + std::to_string(file.fd) +
                      " " + result(0, 0));
    }
}

} // namespace sim
