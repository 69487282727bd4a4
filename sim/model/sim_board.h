// The simulated board in-process: the devices a program opens and the driver
// requests it sends, answered like the kernel would. The LD_PRELOAD shim puts
// it behind the C library's open/ioctl/close; the library's unit tests put it
// behind their system-call seam.
#pragma once

#include "board.h"
#include "cpld_driver.h"
#include "ipmi_device.h"
#include "state.h"
#include "trace.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct Options {
    std::string state_dir;       // empty: state in memory, for this SimBoard alone
    bool fresh = false;          // reset the kept state to the board's reset values
    std::string trace_file;      // empty: no trace file
    bool trace_in_memory = true; // keep the trace lines for trace()
};

enum class DeviceKind { Cpld, Ipmi };

// A simulated device: the path it is opened by and its name in the trace.
struct Device {
    std::string_view path;
    std::string_view name;
    DeviceKind kind;
};

// The device at `path`, if it is one the simulated board has (no board needed).
const Device *device_at(const char *path);

class SimBoard {
public:
    // Board from TOML text (base paths relative to `dir`). Throws BoardError on
    // a bad board file, StateError when the state directory cannot be used.
    static std::unique_ptr<SimBoard> from_toml(std::string_view text, const std::string &dir = ".",
                                               const Options &options = {});
    static std::unique_ptr<SimBoard> from_file(const std::string &path,
                                               const Options &options = {});
    // A board already read (from a board file or its image). Throws StateError.
    static std::unique_ptr<SimBoard> from_board(Board board, const Options &options = {});
    SimBoard(const SimBoard &) = delete;
    SimBoard &operator=(const SimBoard &) = delete;

    // Like the kernel: a descriptor >= 0, or -1 with errno set. The
    // descriptors are real (eventfd), so they can be polled and closed.
    int open(const char *path, int flags);
    int ioctl(int fd, unsigned long request, void *arg);
    int close(int fd);

    // Trace lines recorded so far, in order (same format as the trace file);
    // none unless Options::trace_in_memory.
    const std::vector<std::string> &trace() const { return trace_.lines(); }
    const Board &board() const { return board_; }

    // Whether `fd` is an open descriptor of one of the board's devices.
    bool owns(int fd) const;
    // Drops `fd` if it was one: its number was closed behind our back and
    // now names some other file.
    void forget(int fd);

private:
    SimBoard(Board board, const Options &options);
    int open_device(const Device &device, int flags, int &err);

    Board board_;
    std::unique_ptr<State> state_;
    Trace trace_;
    CpldDriver cpld_;
    IpmiDevice ipmi_;
    mutable std::mutex mutex_;
    std::map<int, const Device *> open_;
};

} // namespace sim
