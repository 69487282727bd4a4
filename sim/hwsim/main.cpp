// hwsim: runs a program on the simulated board. It reads the board file,
// brings the board's state up (or resets it), starts the program with the
// shim preloaded and serves the devices the program opens until it ends.
#include "devices.h"
#include "protocol.h"
#include "server.h"

#include <getopt.h>
#include <limits.h>
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#ifndef HWSIM_DEFAULT_BOARD
#error "HWSIM_DEFAULT_BOARD must name the default board file"
#endif

namespace {

constexpr int kUsageError = 2;

std::string variable(const char *name, const std::string &otherwise = {}) {
    const char *value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : otherwise;
}

// $XDG_STATE_HOME/hwsim, else ~/.local/state/hwsim.
std::string default_state_dir() {
    const passwd *entry = ::getpwuid(::getuid());
    const std::string home = variable("HOME", entry != nullptr ? entry->pw_dir : "");
    return variable("XDG_STATE_HOME", home + "/.local/state") + "/hwsim";
}

struct RunOptions {
    std::string board = variable("HWSIM_BOARD", HWSIM_DEFAULT_BOARD);
    std::string state_dir = variable("HWSIM_STATE", default_state_dir());
    std::string trace = variable("HWSIM_TRACE");
    bool fresh = false;
    char **command = nullptr;
};

void usage(std::FILE *out) {
    (void)std::fprintf(
        out,
        "Usage: hwsim [--board FILE] [--state DIR] [--fresh] [--trace FILE] -- COMMAND "
        "[ARGS...]\n"
        "Runs COMMAND with the simulated board's devices (/dev/cpld, /dev/ipmi0).\n"
        "  --board FILE  board file (default: $HWSIM_BOARD, else %s)\n"
        "  --state DIR   where the board's state is kept between runs\n"
        "                (default: $HWSIM_STATE, else $XDG_STATE_HOME/hwsim or "
        "~/.local/state/hwsim)\n"
        "  --fresh       start the board from its reset values\n"
        "  --trace FILE  append one line per device request to FILE (default: $HWSIM_TRACE)\n"
        "  --help        show this text\n",
        HWSIM_DEFAULT_BOARD);
}

[[noreturn]] void fail(const std::string &what, bool with_usage = false) {
    (void)std::fprintf(stderr, "hwsim: %s\n", what.c_str());
    if (with_usage) {
        usage(stderr);
    }
    std::exit(kUsageError);
}

RunOptions parse_options(int argc, char **argv) {
    static const option kLongOptions[] = {
        {"board", required_argument, nullptr, 'b'}, {"state", required_argument, nullptr, 's'},
        {"fresh", no_argument, nullptr, 'f'},       {"trace", required_argument, nullptr, 't'},
        {"help", no_argument, nullptr, 'h'},        {nullptr, 0, nullptr, 0},
    };
    RunOptions options;
    // "+": the options end at COMMAND, whose own options are its own.
    for (int opt = 0; (opt = getopt_long(argc, argv, "+", kLongOptions, nullptr)) != -1;) {
        switch (opt) {
        case 'b':
            options.board = optarg;
            break;
        case 's':
            options.state_dir = optarg;
            break;
        case 'f':
            options.fresh = true;
            break;
        case 't':
            options.trace = optarg;
            break;
        case 'h':
            usage(stdout);
            std::exit(0);
        default:
            usage(stderr); // getopt said what was wrong
            std::exit(kUsageError);
        }
    }
    if (optind >= argc) {
        fail("no COMMAND to run", true);
    }
    if (options.state_dir.empty()) {
        fail("--state: no directory given", true);
    }
    options.command = argv + optind;
    return options;
}

// The shim beside this executable (after the sanitizer runtime, which must
// come first), ahead of whatever the caller preloads.
std::string preload() {
    char exe[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0) {
        fail(std::string("cannot find my own executable: ") + std::strerror(errno));
    }
    const std::string own(exe, static_cast<std::size_t>(length));
    std::string list = own.substr(0, own.rfind('/') + 1) + "libhwsim_shim.so";
    if (::access(list.c_str(), R_OK) != 0) {
        fail("the shim " + list + " is missing: " + std::strerror(errno));
    }
#ifdef HWSIM_ASAN_RUNTIME
    list = std::string(HWSIM_ASAN_RUNTIME) + ":" + list;
#endif
    const std::string previous = variable("LD_PRELOAD");
    return previous.empty() ? list : list + ":" + previous;
}

// Starts the program in a child, with the signals as the runner found them.
pid_t start(char **command, const sigset_t &mask) {
    const pid_t child = ::fork();
    if (child != 0) {
        return child;
    }
    (void)::signal(SIGINT, SIG_DFL);
    (void)::signal(SIGQUIT, SIG_DFL);
    (void)::sigprocmask(SIG_SETMASK, &mask, nullptr);
    ::execvp(command[0], command);
    const int err = errno;
    (void)std::fprintf(stderr, "hwsim: cannot run %s: %s\n", command[0], std::strerror(err));
    ::_exit(err == ENOENT ? 127 : 126);
}

} // namespace

int main(int argc, char **argv) {
    const RunOptions options = parse_options(argc, argv);
    try {
        const sim::Board board = sim::load_board(options.board);
        sim::Store store;
        sim::Trace trace = options.trace.empty() ? sim::Trace() : sim::Trace(options.trace);
        sim::Devices devices(board, store, trace);
        store.keep_in(options.state_dir, board.fingerprint, options.fresh);
        sim::Server server(devices);
        ::setenv(sim::wire::kSocketVariable, server.name().c_str(), 1);
        ::setenv("LD_PRELOAD", preload().c_str(), 1);
        // The program's end is seen through a signalfd; like system(), the
        // runner leaves the terminal's interrupts to the program.
        sigset_t chld;
        sigset_t mask;
        sigemptyset(&chld);
        sigaddset(&chld, SIGCHLD);
        (void)::sigprocmask(SIG_BLOCK, &chld, &mask);
        const pid_t child = start(options.command, mask);
        if (child < 0) {
            fail(std::string("cannot start ") + options.command[0] + ": " + std::strerror(errno));
        }
        (void)::signal(SIGINT, SIG_IGN);
        (void)::signal(SIGQUIT, SIG_IGN);
        return server.serve(child);
    } catch (const std::exception &error) {
        fail(error.what());
    }
}
