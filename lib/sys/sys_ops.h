// The system calls the library makes on device files, its one pause and the
// look at a path before a file is opened, behind one table so a test can
// stand in for the kernel without a simulator process and without waiting.
#pragma once

#include <sys/select.h>
#include <sys/stat.h>

namespace hvl::sys {

struct Ops {
    int (*open)(const char *path, int flags);
    int (*ioctl)(int fd, unsigned long request, void *arg);
    int (*close)(int fd);
    int (*select)(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds,
                  struct timeval *timeout);
    unsigned (*sleep)(unsigned seconds);
    // A table that does not name it has the real one.
    int (*lstat)(const char *path, struct stat *st) = ::lstat;
};

// The table in use; the real system calls unless a test installed its own.
const Ops &ops();

// Installs `replacement` for as long as the guard lives.
class OpsOverride {
public:
    explicit OpsOverride(const Ops &replacement);
    ~OpsOverride();
    OpsOverride(const OpsOverride &) = delete;
    OpsOverride &operator=(const OpsOverride &) = delete;

private:
    const Ops *previous_;
};

} // namespace hvl::sys
