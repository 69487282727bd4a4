#include "sim_board.h"

#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {
namespace {

// errno as the kernel leaves it: set on failure, untouched on success.
int finish_call(int ret, int err, int saved) {
    errno = ret < 0 ? err : saved;
    return ret;
}

// The caller's pointer, as a number in the request.
void *pointer(std::uint64_t address) {
    return reinterpret_cast<void *>(address); // NOLINT(performance-no-int-to-ptr)
}

// An IPMI descriptor is readable while a message waits: its eventfd counts
// one then, and none otherwise.
void show_readiness(int fd, bool readable) {
    eventfd_t count = 0;
    (void)::eventfd_read(fd, &count);
    if (readable) {
        (void)::eventfd_write(fd, 1);
    }
}

// The memory of this very process. Only a null pointer is known to be bad.
class OwnMemory : public UserMemory {
public:
    OwnMemory() : UserMemory(Abi{}) {}
    bool read(std::uint64_t address, std::uint8_t *to, std::size_t count) override {
        if (count > 0 && address != 0) {
            std::memcpy(to, pointer(address), count);
        }
        return count == 0 || address != 0;
    }
    void write(std::uint64_t address, const std::uint8_t *from, std::size_t count) override {
        faulted_ = faulted_ || (count > 0 && address == 0);
        if (count > 0 && !faulted_) {
            std::memcpy(pointer(address), from, count);
        }
    }
    bool faulted() const { return faulted_; }

private:
    bool faulted_ = false;
};

} // namespace

std::unique_ptr<SimBoard> SimBoard::from_toml(std::string_view text, const std::string &dir,
                                              const Options &options) {
    return std::unique_ptr<SimBoard>(new SimBoard(parse_board(text, dir, "board text"), options));
}

std::unique_ptr<SimBoard> SimBoard::from_file(const std::string &path, const Options &options) {
    return std::unique_ptr<SimBoard>(new SimBoard(load_board(path), options));
}

SimBoard::SimBoard(Board board, const Options &options)
    : board_(std::move(board)), trace_(Trace::in_memory()), devices_(board_, store_, trace_) {
    if (!options.state_dir.empty()) {
        store_.keep_in(options.state_dir, board_.fingerprint, options.fresh);
    }
}

SimBoard::~SimBoard() {
    for (const auto &[fd, file] : open_) {
        ::close(fd);
    }
}

int SimBoard::open(const char *path, int flags) {
    const int saved = errno;
    const Device *device = path != nullptr ? device_at(path) : nullptr;
    if (device == nullptr) {
        return finish_call(-1, ENOENT, saved);
    }
    const int fd = ::eventfd(0, EFD_NONBLOCK | ((flags & O_CLOEXEC) != 0 ? EFD_CLOEXEC : 0));
    if (fd < 0) {
        return -1;
    }
    OpenFile file{device, static_cast<int>(::getpid()), fd, {}};
    if (const int err = devices_.open(file, flags)) {
        ::close(fd);
        return finish_call(-1, err, saved);
    }
    open_.emplace(fd, std::move(file));
    return finish_call(fd, 0, saved);
}

int SimBoard::ioctl(int fd, unsigned long request, void *arg) {
    const int saved = errno;
    const auto found = open_.find(fd);
    if (found == open_.end()) {
        return finish_call(-1, EBADF, saved);
    }
    OpenFile &file = found->second;
    const IoctlCall call{
        static_cast<std::uint32_t>(request), static_cast<std::uint8_t>(_IOC_TYPE(request)),
        static_cast<std::uint8_t>(_IOC_NR(request)), static_cast<std::uint16_t>(_IOC_SIZE(request)),
        reinterpret_cast<std::uintptr_t>(arg)};
    OwnMemory memory;
    Outcome outcome = devices_.ioctl(file, call, memory);
    devices_.finish(file, outcome, memory.faulted());
    if (file.device->kind == DeviceKind::Ipmi) {
        show_readiness(fd, readable(file));
    }
    return finish_call(outcome.ret, outcome.err, saved);
}

int SimBoard::close(int fd) {
    const int saved = errno;
    const auto found = open_.find(fd);
    if (found == open_.end()) {
        return finish_call(-1, EBADF, saved);
    }
    devices_.close(found->second);
    open_.erase(found);
    const int ret = ::close(fd);
    return finish_call(ret, errno, saved);
}

} // namespace sim
