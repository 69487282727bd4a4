// A file descriptor that closes itself.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <utility>

namespace sim {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

// The simulator's own files live at high descriptor numbers, so that the
// program it runs in gets the numbers it would get on the board.
inline UniqueFd out_of_the_way(UniqueFd fd) {
    constexpr int first_private_fd = 512;
    if (fd.valid()) {
        const int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, first_private_fd);
        if (moved >= 0) {
            return UniqueFd(moved);
        }
    }
    return fd;
}

} // namespace sim
