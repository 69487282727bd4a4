// Preloaded into an unmodified program (LD_PRELOAD), this makes the simulated
// board's devices exist: every C library entry point that can open a file is
// wrapped, and opens of a device path are answered by the board model with a
// real descriptor (an eventfd). ioctl and close on such a descriptor go to the
// model; everything else goes to the C library untouched.
//
// The board is read on the first open of a device, from the image of the
// board file that the runner left in the state directory (sim_env.h names
// both): the shim has no board file reader of its own. An image that is
// missing, damaged or not of the board file as it now reads leaves the
// devices absent (ENOENT) after one line on standard error.
//
// The wrappers are given their symbol names with asm labels: with 64-bit file
// offsets and time on a 32-bit target the C library's headers rename open and
// ioctl to open64 and __ioctl_time64, and both spellings must be wrapped.
#include "board_image.h"
#include "sim_board.h"
#include "sim_env.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>

#define HWSIM_EXPORT __attribute__((visibility("default")))

namespace {

using OpenFn = int (*)(const char *, int, ...);
using OpenAtFn = int (*)(int, const char *, int, ...);
using Open2Fn = int (*)(const char *, int);
using OpenAt2Fn = int (*)(int, const char *, int);
using IoctlFn = int (*)(int, unsigned long, ...);
using CloseFn = int (*)(int);

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
std::atomic<CloseFn> real_close{nullptr};

std::atomic<sim::SimBoard *> loaded{nullptr};
pthread_once_t load_once = PTHREAD_ONCE_INIT;

// Set while this thread runs the board model: the files the model opens and
// closes itself (state, trace) go straight to the C library. Read on every
// wrapped call; the shim is loaded with the program, so its thread-local
// storage is static and takes no lookup.
__attribute__((tls_model("initial-exec"))) thread_local bool in_model = false;

class InModel {
public:
    InModel() { in_model = true; }
    ~InModel() { in_model = false; }
    InModel(const InModel &) = delete;
    InModel &operator=(const InModel &) = delete;
};

std::string one_line(std::string text) {
    for (char &c : text) {
        c = c == '\n' ? ' ' : c;
    }
    return text;
}

// The board from the image the runner left beside the state, which must be
// the image of the board file as it reads now.
std::unique_ptr<sim::SimBoard> read_board(const sim::Options &options) {
    return sim::SimBoard::from_board(
        sim::read_board_image(options.state_dir, sim::board_from_environment()), options);
}

void load_board() {
    InModel guard;
    try {
        sim::Options options;
        options.state_dir = sim::state_dir_from_environment();
        options.trace_file = sim::trace_from_environment();
        options.trace_in_memory = false;
        // Kept until the process ends: a program may use the device from its
        // own exit handlers.
        loaded.store(read_board(options).release(), std::memory_order_release);
    } catch (const std::exception &error) {
        (void)std::fprintf(stderr, "hwsim: %s; the simulated devices are absent\n",
                           one_line(error.what()).c_str());
    }
}

// The board, read on the first call; null when it cannot be read.
sim::SimBoard *board() {
    ::pthread_once(&load_once, load_board);
    return loaded.load(std::memory_order_acquire);
}

bool is_device(const char *path) { return !in_model && sim::device_at(path) != nullptr; }

// The board if `fd` is a descriptor of one of its devices. No board was read
// before the first open of a device, so no descriptor can be one before it.
sim::SimBoard *owner(int fd) {
    sim::SimBoard *sim_board = in_model ? nullptr : loaded.load(std::memory_order_acquire);
    return sim_board != nullptr && sim_board->owns(fd) ? sim_board : nullptr;
}

int open_device(const char *path, int flags) {
    const int saved = errno;
    sim::SimBoard *sim_board = board();
    if (sim_board == nullptr) {
        errno = ENOENT;
        return -1;
    }
    errno = saved; // reading the board is none of the program's business
    InModel guard;
    return sim_board->open(path, flags);
}

// A descriptor the C library just opened cannot be one of ours any longer: its
// number was closed behind our back (dup2, close_range) and given out again.
int opened(int fd) {
    if (fd >= 0 && !in_model) {
        if (sim::SimBoard *sim_board = loaded.load(std::memory_order_acquire)) {
            sim_board->forget(fd);
        }
    }
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
    if (is_device(path)) {
        return open_device(path, flags);
    }
    return opened(real(slot, name)(args...));
}

int ioctl_common(std::atomic<IoctlFn> &slot, const char *name, const char *other, int fd,
                 unsigned long request, void *arg) {
    if (sim::SimBoard *sim_board = owner(fd)) {
        InModel guard;
        return sim_board->ioctl(fd, request, arg);
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
HWSIM_EXPORT int hwsim_close(int fd) __asm__("close");
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

int hwsim_close(int fd) {
    if (sim::SimBoard *sim_board = owner(fd)) {
        InModel guard;
        return sim_board->close(fd);
    }
    return real(real_close, "close")(fd);
}
