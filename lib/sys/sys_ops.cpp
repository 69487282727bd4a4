#include "sys_ops.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace hvl::sys {
namespace {

int real_open(const char *path, int flags) { return ::open(path, flags); }
int real_ioctl(int fd, unsigned long request, void *arg) { return ::ioctl(fd, request, arg); }
int real_close(int fd) { return ::close(fd); }
int real_select(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds,
                struct timeval *timeout) {
    return ::select(nfds, readfds, writefds, exceptfds, timeout);
}
unsigned real_sleep(unsigned seconds) { return ::sleep(seconds); }

constexpr Ops real_ops{real_open, real_ioctl, real_close, real_select, real_sleep};
const Ops *current = &real_ops;

} // namespace

const Ops &ops() { return *current; }

OpsOverride::OpsOverride(const Ops &replacement) : previous_(current) { current = &replacement; }
OpsOverride::~OpsOverride() { current = previous_; }

} // namespace hvl::sys
