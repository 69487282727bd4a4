#include "sim_board.h"

#include <hvl/hvl_ipmi_interface.h>

#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace sim {
namespace {

// The simulated devices.
constexpr Device kDevices[] = {
    {CPLD_DEVICE, "cpld", DeviceKind::Cpld},
    {IPMI_OPENIPMI_DEVICE, "ipmi", DeviceKind::Ipmi},
};

std::unique_ptr<State> make_state(const Board &board, const Options &options) {
    if (options.state_dir.empty()) {
        return State::in_memory(board);
    }
    return State::in_directory(options.state_dir, board, options.fresh);
}

// errno as the kernel leaves it: set on failure, untouched on success.
int finish(int ret, int err, int saved) {
    errno = ret < 0 ? err : saved;
    return ret;
}

} // namespace

const Device *device_at(const char *path) {
    if (path == nullptr) {
        return nullptr;
    }
    for (const Device &device : kDevices) {
        if (device.path == path) {
            return &device;
        }
    }
    return nullptr;
}

std::unique_ptr<SimBoard> SimBoard::from_board(Board board, const Options &options) {
    return std::unique_ptr<SimBoard>(new SimBoard(std::move(board), options));
}

SimBoard::SimBoard(Board board, const Options &options)
    : board_(std::move(board)), state_(make_state(board_, options)),
      trace_(options.trace_file, options.trace_in_memory), cpld_(board_.cpld, *state_, trace_),
      ipmi_(board_.ipmc, *state_, trace_) {}

int SimBoard::open(const char *path, int flags) {
    const int saved = errno;
    const Device *device = device_at(path);
    if (device == nullptr) {
        return finish(-1, ENOENT, saved);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    int err = 0;
    const int fd = open_device(*device, flags, err);
    if (fd >= 0) {
        open_[fd] = device;
    }
    if (trace_.on()) {
        trace_.record(trace_open(device->name, flags, fd, err));
    }
    return finish(fd, err, saved);
}

int SimBoard::open_device(const Device &device, int flags, int &err) {
    const bool ipmi = device.kind == DeviceKind::Ipmi;
    err = ipmi ? ipmi_.open_error() : cpld_.open_error();
    if (err != 0) {
        return -1;
    }
    const int fd = ::eventfd(0, ((flags & O_CLOEXEC) != 0 ? EFD_CLOEXEC : 0) |
                                    ((flags & O_NONBLOCK) != 0 ? EFD_NONBLOCK : 0));
    err = errno;
    if (fd >= 0 && ipmi) {
        ipmi_.opened(fd);
    }
    return fd;
}

int SimBoard::ioctl(int fd, unsigned long request, void *arg) {
    const int saved = errno;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = open_.find(fd);
    if (found == open_.end()) {
        return finish(-1, EBADF, saved);
    }
    int err = 0;
    const int ret = found->second->kind == DeviceKind::Ipmi ? ipmi_.ioctl(fd, request, arg, err)
                                                            : cpld_.ioctl(request, arg, err);
    return finish(ret, err, saved);
}

int SimBoard::close(int fd) {
    const int saved = errno;
    const Device *device = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto found = open_.find(fd);
        if (found == open_.end()) {
            return finish(-1, EBADF, saved);
        }
        device = found->second;
        open_.erase(found);
        ipmi_.closed(fd);
    }
    // Closed unlocked: a close that blocks holds up no other caller.
    const int ret = ::close(fd);
    const int err = errno;
    std::lock_guard<std::mutex> lock(mutex_);
    if (trace_.on()) {
        trace_.record(trace_close(device->name, fd, ret, err));
    }
    return finish(ret, err, saved);
}

bool SimBoard::owns(int fd) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_.count(fd) != 0;
}

void SimBoard::forget(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    open_.erase(fd);
    ipmi_.closed(fd);
}

} // namespace sim
