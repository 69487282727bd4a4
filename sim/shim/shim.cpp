// Preloaded into an unmodified program (LD_PRELOAD) by the runner, this makes
// the simulated board's devices exist: an open of /dev/cpld or /dev/ipmi0 is
// answered with a socket connected to the runner (a real descriptor, so poll,
// select, fcntl, dup and close work on it), and every ioctl on such a socket
// becomes one exchange with the runner, which keeps the board. The shim knows
// nothing of the devices: it copies the caller's memory to the runner and
// back as the runner asks, as the kernel's copy_from_user and copy_to_user
// would, failing with EFAULT where the memory cannot be read or written.
//
// Without the runner ($HWSIM_SOCKET unset) every call goes to the C library.
//
// The wrappers are given their symbol names with asm labels: with 64-bit file
// offsets and time on a 32-bit target the C library's headers rename open and
// ioctl to open64 and __ioctl_time64, and both spellings must be wrapped.
#include "protocol.h"

#include <hvl/cpld.h>
#include <hvl/hvl_ipmi_interface.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#define HWSIM_EXPORT __attribute__((visibility("default")))

namespace {

using OpenFn = int (*)(const char *, int, ...);
using OpenAtFn = int (*)(int, const char *, int, ...);
using Open2Fn = int (*)(const char *, int);
using OpenAt2Fn = int (*)(int, const char *, int);
using IoctlFn = int (*)(int, unsigned long, ...);

// The next definition of `name` after this library: the C library's.
template <typename Fn> Fn next(const char *name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

// Looked up once per name; the lookup is repeated harmlessly if two threads race.
template <typename Fn> Fn real(std::atomic<Fn> &slot, const char *name) {
    Fn fn = slot.load(std::memory_order_acquire);
    if (fn == nullptr) {
        fn = next<Fn>(name);
        slot.store(fn, std::memory_order_release);
    }
    return fn;
}

std::atomic<OpenFn> real_open{nullptr};
std::atomic<OpenFn> real_open64{nullptr};
std::atomic<OpenAtFn> real_openat{nullptr};
std::atomic<OpenAtFn> real_openat64{nullptr};
std::atomic<Open2Fn> real_open_2{nullptr};
std::atomic<Open2Fn> real_open64_2{nullptr};
std::atomic<OpenAt2Fn> real_openat_2{nullptr};
std::atomic<OpenAt2Fn> real_openat64_2{nullptr};
std::atomic<IoctlFn> real_ioctl{nullptr};
std::atomic<IoctlFn> real_ioctl_time64{nullptr};

// The runner's address, read from the environment once.
sockaddr_un runner{};
bool under_runner = false;
pthread_once_t runner_once = PTHREAD_ONCE_INIT;

void find_runner() {
    const char *name = std::getenv(sim::wire::kSocketVariable);
    if (name != nullptr && *name != '\0' && std::strlen(name) < sizeof runner.sun_path - 1) {
        runner.sun_family = AF_UNIX;
        std::memcpy(runner.sun_path + 1, name, std::strlen(name));
        under_runner = true;
    }
}

bool runner_present() {
    ::pthread_once(&runner_once, find_runner);
    return under_runner;
}

// One exchange at a time, whatever the thread or descriptor: the runner
// serves requests one by one anyway. The buffer is the exchange's.
pthread_mutex_t exchange_lock = PTHREAD_MUTEX_INITIALIZER;
std::uint8_t packet[sim::wire::kMaxPacket];

class Exchange {
public:
    Exchange() { ::pthread_mutex_lock(&exchange_lock); }
    ~Exchange() { ::pthread_mutex_unlock(&exchange_lock); }
    Exchange(const Exchange &) = delete;
    Exchange &operator=(const Exchange &) = delete;
};

// The record size of requests whose number gives none, by descriptor, as the
// runner said at the open (0 for descriptors it did not open here).
constexpr int kHintedDescriptors = 1024;
std::atomic<std::uint16_t> record_hint[kHintedDescriptors];

// A pipe through which bytes are written into the caller's memory: read()
// into a bad address fails with EFAULT instead of crashing.
int copy_pipe[2] = {-1, -1};

bool is_device(const char *path) {
    return path != nullptr &&
           (std::strcmp(path, CPLD_DEVICE) == 0 || std::strcmp(path, IPMI_OPENIPMI_DEVICE) == 0);
}

bool is_runner_socket(int fd) {
    if (!runner_present()) {
        return false;
    }
    sockaddr_un peer{};
    socklen_t length = sizeof peer;
    const int saved = errno;
    const bool ours = ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0 &&
                      length == sizeof peer && std::memcmp(&peer, &runner, sizeof peer) == 0;
    errno = saved;
    return ours;
}

bool send_iov(int fd, iovec *iov, int count) {
    msghdr message{};
    message.msg_iov = iov;
    message.msg_iovlen = static_cast<std::size_t>(count);
    ssize_t sent = 0;
    do {
        sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return sent >= 0;
}

bool send_packet(int fd, const hvl::ByteWriter &out) {
    iovec iov{const_cast<std::uint8_t *>(out.data()), out.length()};
    return send_iov(fd, &iov, 1);
}

// The next packet, waiting for it also on a non-blocking descriptor; with
// MSG_PEEK, only waits. 0 when the runner is gone.
std::size_t receive(int fd, int flags = 0) {
    for (;;) {
        const ssize_t got = ::recv(fd, packet, sizeof packet, flags);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        pollfd wait{fd, POLLIN, 0};
        if (errno == EAGAIN) {
            (void)::poll(&wait, 1, -1);
        } else if (errno != EINTR) {
            return 0;
        }
    }
}

// The caller's pointer, as the runner names it.
void *pointer(std::uint64_t address) {
    return reinterpret_cast<void *>( // NOLINT(performance-no-int-to-ptr)
        static_cast<std::uintptr_t>(address));
}

// Sends the runner the bytes at `address`, or that they cannot be read.
bool send_bytes(int fd, std::uint64_t address, std::uint32_t count) {
    std::uint8_t header[2] = {sim::wire::kBytes, 1};
    iovec iov[2] = {{header, sizeof header}, {pointer(address), count}};
    if (send_iov(fd, iov, 2)) {
        return true;
    }
    header[1] = 0;
    return errno == EFAULT && send_iov(fd, iov, 1);
}

// copy_to_user: false when the memory at `address` cannot be written.
bool copy_out(std::uint64_t address, const std::uint8_t *from, std::size_t count) {
    if (copy_pipe[0] < 0 && ::pipe2(copy_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    void *to = pointer(address);
    if (::write(copy_pipe[1], from, count) != static_cast<ssize_t>(count)) {
        return false;
    }
    if (::read(copy_pipe[0], to, count) == static_cast<ssize_t>(count)) {
        return true;
    }
    std::uint8_t drain[256];
    while (::read(copy_pipe[0], drain, sizeof drain) > 0) {
    }
    return false;
}

// Makes the writes of a Done packet of `size` bytes: the index of the first
// that failed, or kAllApplied.
std::uint16_t apply_writes(hvl::ByteReader &in, std::size_t size, std::uint16_t writes) {
    for (std::uint16_t i = 0; i < writes; ++i) {
        const std::uint64_t address = sim::wire::get_u64(in);
        const std::uint32_t count = in.u32();
        if (!in.ok() || count > in.remaining()) {
            return i;
        }
        const std::uint8_t *bytes = packet + (size - in.remaining());
        in.skip(count);
        if (!copy_out(address, bytes, count)) {
            return i;
        }
    }
    return sim::wire::kAllApplied;
}

int fail(int err) {
    errno = err;
    return -1;
}

// Takes the runner's answers to a request until it is done.
int conclude(int fd, int saved) {
    for (;;) {
        const std::size_t size = receive(fd);
        hvl::ByteReader in(packet, size);
        const std::uint8_t kind = in.u8();
        if (kind == sim::wire::kReady) {
            continue; // the last request's: it is answered anew
        }
        if (kind == sim::wire::kRead) {
            const std::uint64_t address = sim::wire::get_u64(in);
            const std::uint32_t count = in.u32();
            if (!in.ok() || !send_bytes(fd, address, count)) {
                return fail(EIO);
            }
            continue;
        }
        if (kind != sim::wire::kDone) {
            return fail(EIO);
        }
        const auto ret = static_cast<std::int32_t>(in.u32());
        int err = static_cast<int>(in.u32());
        bool ready = in.u8() != 0;
        const std::uint16_t writes = in.u16();
        if (!in.ok()) {
            return fail(EIO);
        }
        if (writes > 0) {
            const std::uint16_t applied = apply_writes(in, size, writes);
            std::uint8_t answer[3];
            if (!send_packet(
                    fd,
                    hvl::ByteWriter(answer, sizeof answer).u8(sim::wire::kApplied).u16(applied))) {
                return fail(EIO);
            }
            if (applied != sim::wire::kAllApplied) {
                hvl::ByteReader result(packet, receive(fd));
                const bool is_result = result.u8() == sim::wire::kResult;
                err = static_cast<int>(result.u32());
                ready = result.u8() != 0;
                if (!is_result || !result.ok()) {
                    return fail(EIO);
                }
                return ready && receive(fd, MSG_PEEK) == 0 ? fail(EIO) : fail(err);
            }
        }
        if (ready && receive(fd, MSG_PEEK) == 0) {
            return fail(EIO);
        }
        if (ret < 0) {
            return fail(err);
        }
        errno = saved;
        return ret;
    }
}

int device_ioctl(int fd, unsigned long request, void *arg) {
    const int saved = errno;
    Exchange exchange;
    std::uint16_t record = static_cast<std::uint16_t>(_IOC_SIZE(request));
    if (record == 0 && fd < kHintedDescriptors) {
        record = record_hint[fd].load(std::memory_order_relaxed);
    }
    record = record < sim::wire::kMaxRecord ? record : sim::wire::kMaxRecord;
    std::uint8_t header[24];
    hvl::ByteWriter out(header, sizeof header);
    out.u8(sim::wire::kIoctl)
        .u32(static_cast<std::uint32_t>(request))
        .u8(static_cast<std::uint8_t>(_IOC_TYPE(request)))
        .u8(static_cast<std::uint8_t>(_IOC_NR(request)))
        .u16(static_cast<std::uint16_t>(_IOC_SIZE(request)));
    sim::wire::put_u64(out, reinterpret_cast<std::uintptr_t>(arg));
    // The record goes along if it can be read; the runner asks for it if not.
    iovec iov[2] = {{header, out.length()}, {arg, record}};
    const bool sent =
        (arg != nullptr && record > 0 && send_iov(fd, iov, 2)) || send_iov(fd, iov, 1);
    return sent ? conclude(fd, saved) : fail(EIO);
}

// Opens a device of the board: a connection to the runner, which says
// whether the device opens.
int open_device(const char *path, int flags) {
    const int saved = errno;
    const int fd =
        ::socket(AF_UNIX, SOCK_SEQPACKET | ((flags & O_CLOEXEC) != 0 ? SOCK_CLOEXEC : 0), 0);
    if (fd < 0) {
        return -1;
    }
    Exchange exchange;
    std::uint8_t message[64];
    hvl::ByteWriter out(message, sizeof message);
    out.u8(sim::wire::kOpen)
        .u8(sizeof(void *))
        .u8(sizeof(long))
        .u8(__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 1 : 0)
        .u32(static_cast<std::uint32_t>(::getpid()))
        .u32(static_cast<std::uint32_t>(fd))
        .u32(static_cast<std::uint32_t>(flags))
        .bytes(reinterpret_cast<const std::uint8_t *>(path), std::strlen(path));
    int err = ENOENT; // the runner is gone: so is the device
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&runner), sizeof runner) == 0 &&
        send_packet(fd, out)) {
        hvl::ByteReader in(packet, receive(fd));
        const bool opened = in.u8() == sim::wire::kOpened;
        err = static_cast<int>(in.u32());
        const std::uint16_t hint = in.u16();
        err = opened && in.ok() ? err : EIO;
        if (err == 0 && fd < kHintedDescriptors) {
            record_hint[fd].store(hint, std::memory_order_relaxed);
        }
    }
    if (err != 0) {
        ::close(fd);
        return fail(err);
    }
    if ((flags & O_NONBLOCK) != 0) {
        (void)::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    errno = saved;
    return fd;
}

// The mode argument is there only with O_CREAT or O_TMPFILE.
mode_t mode_argument(int flags, va_list args) {
    const bool has_mode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE;
    // The analyzer takes these wrappers for the C library's own open.
    return has_mode ? va_arg(args, mode_t) // NOLINT(clang-analyzer-valist.Uninitialized)
                    : 0;
}

// Opens a device of the board, or passes the call on to the C library. A
// device path is absolute, so the directory descriptor of the openat family
// never matters for it.
template <typename Fn, typename... Args>
int open_or_pass(const char *path, int flags, std::atomic<Fn> &slot, const char *name,
                 Args... args) {
    if (is_device(path) && runner_present()) {
        return open_device(path, flags);
    }
    return real(slot, name)(args...);
}

int ioctl_common(std::atomic<IoctlFn> &slot, const char *name, const char *other, int fd,
                 unsigned long request, void *arg) {
    if (is_runner_socket(fd)) {
        return device_ioctl(fd, request, arg);
    }
    IoctlFn fn = real(slot, name);
    if (fn == nullptr) {
        fn = next<IoctlFn>(other);
    }
    return fn(fd, request, arg);
}

} // namespace

// The wrapped entry points, by their C library symbol names.
extern "C" {
HWSIM_EXPORT int hwsim_open(const char *path, int flags, ...) __asm__("open");
HWSIM_EXPORT int hwsim_open64(const char *path, int flags, ...) __asm__("open64");
HWSIM_EXPORT int hwsim_openat(int dirfd, const char *path, int flags, ...) __asm__("openat");
HWSIM_EXPORT int hwsim_openat64(int dirfd, const char *path, int flags, ...) __asm__("openat64");
HWSIM_EXPORT int hwsim_open_2(const char *path, int flags) __asm__("__open_2");
HWSIM_EXPORT int hwsim_open64_2(const char *path, int flags) __asm__("__open64_2");
HWSIM_EXPORT int hwsim_openat_2(int dirfd, const char *path, int flags) __asm__("__openat_2");
HWSIM_EXPORT int hwsim_openat64_2(int dirfd, const char *path, int flags) __asm__("__openat64_2");
HWSIM_EXPORT int hwsim_ioctl(int fd, unsigned long request, ...) __asm__("ioctl");
HWSIM_EXPORT int hwsim_ioctl_time64(int fd, unsigned long request, ...) __asm__("__ioctl_time64");
}

int hwsim_open(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return open_or_pass(path, flags, real_open, "open", path, flags, mode);
}

int hwsim_open64(const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return open_or_pass(path, flags, real_open64, "open64", path, flags, mode);
}

int hwsim_openat(int dirfd, const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return open_or_pass(path, flags, real_openat, "openat", dirfd, path, flags, mode);
}

int hwsim_openat64(int dirfd, const char *path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = mode_argument(flags, args);
    va_end(args);
    return open_or_pass(path, flags, real_openat64, "openat64", dirfd, path, flags, mode);
}

int hwsim_open_2(const char *path, int flags) {
    return open_or_pass(path, flags, real_open_2, "__open_2", path, flags);
}

int hwsim_open64_2(const char *path, int flags) {
    return open_or_pass(path, flags, real_open64_2, "__open64_2", path, flags);
}

int hwsim_openat_2(int dirfd, const char *path, int flags) {
    return open_or_pass(path, flags, real_openat_2, "__openat_2", dirfd, path, flags);
}

int hwsim_openat64_2(int dirfd, const char *path, int flags) {
    return open_or_pass(path, flags, real_openat64_2, "__openat64_2", dirfd, path, flags);
}

int hwsim_ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    return ioctl_common(real_ioctl, "ioctl", "__ioctl_time64", fd, request, arg);
}

int hwsim_ioctl_time64(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    return ioctl_common(real_ioctl_time64, "__ioctl_time64", "ioctl", fd, request, arg);
}
