// The board's devices as the kernel would offer them: opened by path, one
// ioctl at a time on an open file, closed. The in-process SimBoard and the
// runner's server both put programs in front of this.
#pragma once

#include "board.h"
#include "cpld_driver.h"
#include "faults.h"
#include "ipmi_device.h"
#include "request.h"
#include "store.h"
#include "trace.h"

#include <map>
#include <string_view>
#include <vector>

namespace sim {

enum class DeviceKind { Cpld, Ipmi };

// A simulated device: the path it is opened by, its name in the trace, and
// the size of the record its requests carry where their number says none.
struct Device {
    std::string_view path;
    std::string_view name;
    DeviceKind kind;
    std::uint16_t record_size;
};

// The device at `path`, if it is one the simulated board has (no board needed).
const Device *device_at(std::string_view path);

// One open descriptor of a device. `pid` is the process that opened it:
// faults count their occurrences per process; `fd` is its number there.
struct OpenFile {
    const Device *device = nullptr;
    int pid = 0;
    int fd = -1;
    IpmiUser ipmi;
};

// Whether a descriptor is readable: an IPMI one while an answer waits.
inline bool readable(const OpenFile &file) {
    return file.device->kind == DeviceKind::Ipmi && !file.ipmi.queue.empty();
}

// The buffers the records of a device's requests point to, in the layout `abi`.
std::vector<wire::PointedBuffer> pointed_buffers(const Device &device, const Abi &abi);

class Devices {
public:
    // The devices of `board`, whose state is in `store`; both outlive them.
    Devices(const Board &board, Store &store, Trace &trace);

    // Opens `file.device`: 0, or the errno the open fails with.
    int open(OpenFile &file, int flags);
    // One ioctl; finish() follows once the writes to the caller's memory are made.
    Outcome ioctl(OpenFile &file, const IoctlCall &call, UserMemory &memory);
    // Ends a request: a write to the caller that failed fails it with EFAULT
    // and undoes it. The result is traced.
    void finish(const OpenFile &file, Outcome &outcome, bool faulted);
    void close(const OpenFile &file);

private:
    // The faults of one process, counting its calls.
    struct ProcessFaults {
        FaultPlan cpld;
        FaultPlan ipmi;
    };
    ProcessFaults &faults_of(int pid);

    const Board &board_;
    Store &store_;
    Trace &trace_;
    CpldDriver cpld_;
    IpmiDevice ipmi_;
    std::map<int, ProcessFaults> faults_;
};

} // namespace sim
