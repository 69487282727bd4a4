// Preloaded into an unmodified program (LD_PRELOAD) by the runner, this makes
// the simulated board's devices exist: an open of /dev/cpld or /dev/ipmi0 is
// answered with a socket connected to the runner (a real descriptor, so poll,
// select, fcntl, dup and close work on it), and every ioctl on such a socket
// becomes one exchange with the runner, which keeps the board. The shim knows
// nothing of the devices: it copies the caller's memory to the runner and
// back as the runner asks, as the kernel's copy_from_user and copy_to_user
// would, failing with EFAULT where the memory cannot be read or written.
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
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>

#define HWSIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using OpenFn = int (*)(const char *, int, ...);
using OpenAtFn = int (*)(int, const char *, int, ...);
using IoctlFn = int (*)(int, unsigned long, ...);

// The C library's definition of `name`, looked up once.
template <typename Fn> Fn next(const char *name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

// The runner's address, from the environment; the address is the whole of
// sun_path, as qemu passes it on unchanged only then.
sockaddr_un runner{};
bool under_runner = [] {
    const char *name = std::getenv(sim::wire::kSocketVariable);
    const std::size_t length = name != nullptr ? std::strlen(name) : 0;
    runner.sun_family = AF_UNIX;
    if (length > 0 && length < sizeof runner.sun_path - 1) {
        std::memcpy(runner.sun_path + 1, name, length);
    }
    return length > 0 && length < sizeof runner.sun_path - 1;
}();

// One exchange at a time, whatever the thread or descriptor: the runner
// serves requests one by one anyway. The buffer is the exchange's.
std::mutex exchange_lock;
std::uint8_t packet[sim::wire::kMaxPacket];
using Exchange = std::lock_guard<std::mutex>;

// What the runner said of a descriptor at its open: the record size of
// requests whose number gives none, and the buffers records point to, which
// go along with the record. Nothing for descriptors it did not open here
// (they cost another exchange or two). Guarded by the exchange's lock.
struct Hints {
    std::uint16_t record = 0;
    std::uint8_t buffer_count = 0;
    sim::wire::PointedBuffer buffers[2];
};
constexpr int kHintedDescriptors = 1024;
Hints hints[kHintedDescriptors];

bool is_device(const char *path) {
    return under_runner && path != nullptr &&
           (std::strcmp(path, CPLD_DEVICE) == 0 || std::strcmp(path, IPMI_OPENIPMI_DEVICE) == 0);
}

bool is_runner_socket(int fd) {
    sockaddr_un peer; // filled whole where it is compared
    socklen_t length = sizeof peer;
    const int saved = errno;
    const bool ours = under_runner &&
                      ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0 &&
                      length == sizeof peer && std::memcmp(&peer, &runner, sizeof peer) == 0;
    errno = saved;
    return ours;
}

// The caller's pointer, as the runner names it.
void *pointer(std::uint64_t address) {
    return reinterpret_cast<void *>( // NOLINT(performance-no-int-to-ptr)
        static_cast<std::uintptr_t>(address));
}

// Bytes to or from the caller's memory, failing as the kernel does where a
// plain copy would crash: process_vm_readv/writev on this process, or where
// they are missing (under qemu), through a pipe, whose read() and write()
// fail with EFAULT on a bad address.
enum class Direction { In, Out };

bool copy(void *to, const void *from, std::size_t count, Direction direction) {
    static std::atomic<bool> vm_calls{true};
    iovec here{direction == Direction::In ? to : const_cast<void *>(from), count};
    iovec there{direction == Direction::In ? const_cast<void *>(from) : to, count};
    if (vm_calls.load(std::memory_order_relaxed)) {
        const ssize_t done = direction == Direction::In
                                 ? ::process_vm_readv(::getpid(), &here, 1, &there, 1, 0)
                                 : ::process_vm_writev(::getpid(), &here, 1, &there, 1, 0);
        if (done == static_cast<ssize_t>(count) || errno == EFAULT) {
            return done == static_cast<ssize_t>(count);
        }
        vm_calls.store(false, std::memory_order_relaxed);
    }
    static int pipe[2] = {-1, -1};
    if (pipe[0] < 0 && ::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    const auto size = static_cast<ssize_t>(count);
    if (::write(pipe[1], from, count) == size && ::read(pipe[0], to, count) == size) {
        return true;
    }
    std::uint8_t drain[256];
    while (::read(pipe[0], drain, sizeof drain) > 0) {
    }
    return false;
}

bool send_packet(int fd, const hvl::ByteWriter &out) {
    ssize_t sent = 0;
    do {
        sent = out.ok() ? ::send(fd, out.data(), out.length(), MSG_NOSIGNAL) : 0;
    } while (sent < 0 && errno == EINTR);
    return out.ok() && sent == static_cast<ssize_t>(out.length());
}

// The next packet, waiting for it also on a non-blocking descriptor; with
// MSG_PEEK, only waits for it. Its size; 0 when the runner is gone.
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

// Answers a Read: whether the bytes could be read, and the bytes.
bool send_bytes(int fd, hvl::ByteReader &in) {
    static std::uint8_t answer[sim::wire::kMaxPacket];
    const std::uint64_t address = in.u64();
    const std::uint32_t count = in.u32();
    hvl::ByteWriter out(answer, sizeof answer);
    out.u8(sim::wire::kBytes).u8(1).bytes(answer, count); // room for the bytes, filled below
    if (!in.ok() || !out.ok()) {
        return false; // more than a packet holds: the runner asks no such thing
    }
    answer[1] = copy(answer + 2, pointer(address), count, Direction::In) ? 1 : 0;
    return send_packet(fd, out);
}

// Makes the writes of a Done packet of `size` bytes: the index of the first
// that failed, or kAllApplied.
std::uint16_t apply_writes(hvl::ByteReader &in, std::size_t size, std::uint16_t writes) {
    for (std::uint16_t i = 0; i < writes; ++i) {
        const std::uint64_t address = in.u64();
        const std::uint32_t count = in.u32();
        const std::uint8_t *bytes = packet + (size - in.remaining());
        in.skip(count);
        if (!in.ok() || !copy(pointer(address), bytes, count, Direction::Out)) {
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
    std::size_t size = 0;
    std::uint8_t kind = sim::wire::kReady;
    for (; kind == sim::wire::kReady || kind == sim::wire::kRead; kind = packet[0]) {
        size = receive(fd); // a Ready is the last request's: it is answered anew
        if (size == 0) {
            return fail(EIO);
        }
        hvl::ByteReader in(packet + 1, size - 1);
        if (packet[0] == sim::wire::kRead && !send_bytes(fd, in)) {
            return fail(EIO);
        }
    }
    hvl::ByteReader in(packet + 1, size - 1);
    const auto ret = static_cast<std::int32_t>(in.u32());
    int err = static_cast<int>(in.u32());
    bool ready = in.u8() != 0;
    const std::uint16_t writes = in.u16();
    if (kind != sim::wire::kDone || !in.ok()) {
        return fail(EIO);
    }
    const std::uint16_t applied = writes > 0 ? apply_writes(in, size, writes) : 0;
    std::uint8_t answer[3];
    if (writes > 0 &&
        !send_packet(fd,
                     hvl::ByteWriter(answer, sizeof answer).u8(sim::wire::kApplied).u16(applied))) {
        return fail(EIO);
    }
    if (writes > 0 && applied != sim::wire::kAllApplied) {
        hvl::ByteReader result(packet, receive(fd));
        if (result.u8() != sim::wire::kResult) {
            return fail(EIO);
        }
        err = static_cast<int>(result.u32());
        ready = result.u8() != 0;
    }
    if (ready && receive(fd, MSG_PEEK) == 0) {
        return fail(EIO);
    }
    if (ret < 0 || (writes > 0 && applied != sim::wire::kAllApplied)) {
        return fail(err);
    }
    errno = saved;
    return ret;
}

// A number of type T where this program put it.
template <typename T> T native(const std::uint8_t *bytes) {
    T value{};
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

// A number of the record as this program stores it, `width` bytes at `at`;
// 0 where the record is too short for it.
std::uint64_t number_at(const std::uint8_t *record, std::size_t size, std::size_t at,
                        std::size_t width) {
    const std::uint8_t *field = record + at;
    if (at + width > size) {
        return 0;
    }
    switch (width) {
    case 1:
        return *field;
    case 2:
        return native<std::uint16_t>(field);
    case 4:
        return native<std::uint32_t>(field);
    case 8:
        return native<std::uint64_t>(field);
    default:
        return 0;
    }
}

// Appends to `out` the buffers the record points to, as the runner described them.
void add_buffers(hvl::ByteWriter &out, const Hints &hint, unsigned code, const std::uint8_t *record,
                 std::size_t size) {
    std::uint8_t *count = packet + out.length();
    out.u8(0);
    for (std::uint8_t i = 0; i < hint.buffer_count; ++i) {
        const sim::wire::PointedBuffer &buffer = hint.buffers[i];
        if (buffer.code != code) {
            continue;
        }
        const std::uint64_t address =
            number_at(record, size, buffer.pointer_at, buffer.pointer_size);
        std::uint64_t length = number_at(record, size, buffer.length_at, buffer.length_size);
        length = length < buffer.most ? length : buffer.most;
        out.u64(address);
        out.u32(static_cast<std::uint32_t>(length));
        std::uint8_t *readable = packet + out.length();
        out.u8(0).bytes(packet, length); // room for the bytes
        if (!out.ok()) {
            break; // more than a packet holds: the request is not sent
        }
        *readable = copy(readable + 1, pointer(address), length, Direction::In) ? 1 : 0;
        ++*count;
    }
}

int device_ioctl(int fd, unsigned long request, void *arg) {
    const int saved = errno;
    const Exchange exchange(exchange_lock);
    static const Hints none{};
    const Hints &hint = fd < kHintedDescriptors ? hints[fd] : none;
    std::uint16_t record = static_cast<std::uint16_t>(_IOC_SIZE(request));
    record = record == 0 ? hint.record : record;
    hvl::ByteWriter out(packet, sizeof packet);
    out.u8(sim::wire::kIoctl)
        .u32(static_cast<std::uint32_t>(request))
        .u8(static_cast<std::uint8_t>(_IOC_TYPE(request)))
        .u8(static_cast<std::uint8_t>(_IOC_NR(request)))
        .u16(static_cast<std::uint16_t>(_IOC_SIZE(request)));
    out.u64(reinterpret_cast<std::uintptr_t>(arg));
    // The record goes along if it can be read, and what it points to; the
    // runner asks for them if not.
    record = record < sim::wire::kMaxRecord ? record : sim::wire::kMaxRecord;
    std::uint8_t *bytes = packet + out.length() + 2;
    if (arg == nullptr || !copy(bytes, arg, record, Direction::In)) {
        record = 0;
    }
    out.u16(record).bytes(bytes, record);
    add_buffers(out, hint, _IOC_NR(request), bytes, record);
    return send_packet(fd, out) ? conclude(fd, saved) : fail(EIO);
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
    const Exchange exchange(exchange_lock);
    hvl::ByteWriter out(packet, sizeof packet);
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
        Hints hint;
        hint.record = in.u16();
        for (std::uint8_t n = in.u8(); n > 0 && hint.buffer_count < 2; --n) {
            hint.buffers[hint.buffer_count++] = sim::wire::get_buffer(in);
        }
        err = opened && in.ok() ? err : EIO;
        if (err == 0 && fd < kHintedDescriptors) {
            hints[fd] = hint;
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

// The C library has one of the two spellings of ioctl at least.
IoctlFn next_ioctl(const char *name, const char *other) {
    const auto fn = next<IoctlFn>(name);
    return fn != nullptr ? fn : next<IoctlFn>(other);
}

} // namespace

// The wrapped entry points. A device path is absolute, so the directory
// descriptor of the openat family never matters for it.
#define HWSIM_OPEN(wrapper, symbol)                                                                \
    HWSIM_EXPORT int wrapper(const char *path, int flags, ...) __asm__(symbol);                    \
    int wrapper(const char *path, int flags, ...) {                                                \
        va_list args;                                                                              \
        va_start(args, flags);                                                                     \
        const mode_t mode = mode_argument(flags, args);                                            \
        va_end(args);                                                                              \
        static const auto real = next<OpenFn>(symbol);                                             \
        return is_device(path) ? open_device(path, flags) : real(path, flags, mode);               \
    }
#define HWSIM_OPENAT(wrapper, symbol)                                                              \
    HWSIM_EXPORT int wrapper(int dirfd, const char *path, int flags, ...) __asm__(symbol);         \
    int wrapper(int dirfd, const char *path, int flags, ...) {                                     \
        va_list args;                                                                              \
        va_start(args, flags);                                                                     \
        const mode_t mode = mode_argument(flags, args);                                            \
        va_end(args);                                                                              \
        static const auto real = next<OpenAtFn>(symbol);                                           \
        return is_device(path) ? open_device(path, flags) : real(dirfd, path, flags, mode);        \
    }
#define HWSIM_OPEN_2(wrapper, symbol)                                                              \
    HWSIM_EXPORT int wrapper(const char *path, int flags) __asm__(symbol);                         \
    int wrapper(const char *path, int flags) {                                                     \
        static const auto real = next<OpenFn>(symbol);                                             \
        return is_device(path) ? open_device(path, flags) : real(path, flags);                     \
    }
#define HWSIM_OPENAT_2(wrapper, symbol)                                                            \
    HWSIM_EXPORT int wrapper(int dirfd, const char *path, int flags) __asm__(symbol);              \
    int wrapper(int dirfd, const char *path, int flags) {                                          \
        static const auto real = next<OpenAtFn>(symbol);                                           \
        return is_device(path) ? open_device(path, flags) : real(dirfd, path, flags);              \
    }
#define HWSIM_IOCTL(wrapper, symbol, other)                                                        \
    HWSIM_EXPORT int wrapper(int fd, unsigned long request, ...) __asm__(symbol);                  \
    int wrapper(int fd, unsigned long request, ...) {                                              \
        va_list args;                                                                              \
        va_start(args, request);                                                                   \
        void *arg = va_arg(args, void *);                                                          \
        va_end(args);                                                                              \
        static const auto real = next_ioctl(symbol, other);                                        \
        return is_runner_socket(fd) ? device_ioctl(fd, request, arg) : real(fd, request, arg);     \
    }

HWSIM_OPEN(hwsim_open, "open")
HWSIM_OPEN(hwsim_open64, "open64")
HWSIM_OPENAT(hwsim_openat, "openat")
HWSIM_OPENAT(hwsim_openat64, "openat64")
HWSIM_OPEN_2(hwsim_open_2, "__open_2")
HWSIM_OPEN_2(hwsim_open64_2, "__open64_2")
HWSIM_OPENAT_2(hwsim_openat_2, "__openat_2")
HWSIM_OPENAT_2(hwsim_openat64_2, "__openat64_2")
HWSIM_IOCTL(hwsim_ioctl, "ioctl", "__ioctl_time64")
HWSIM_IOCTL(hwsim_ioctl_time64, "__ioctl_time64", "ioctl")
