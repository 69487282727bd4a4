// hwsim: runs a program on the simulated board. It reads the board file,
// brings the board's state up (or resets it), starts the program with the
// shim preloaded and serves the devices the program opens until it ends.
#include "devices.h"
#include "protocol.h"
#include "server.h"
#include "sim_env.h"

#include <getopt.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

namespace {

constexpr int kUsageError = 2;
constexpr const char *kShimName = "libhwsim_shim.so";

struct RunOptions {
    std::string board = sim::board_from_environment();
    std::string state_dir = sim::state_dir_from_environment();
    std::string trace = sim::trace_from_environment();
    bool fresh = false;
    char **command = nullptr;
};

void usage(std::FILE *out) {
    (void)std::fprintf(
        out,
        "Usage: hwsim [--board FILE] [--state DIR] [--fresh] [--trace FILE] -- COMMAND "
        "[ARGS...]\n"
        "Runs COMMAND with the simulated board's devices (/dev/cpld, /dev/ipmi0).\n"
        "  --board FILE  board file (default: $%s, else %s)\n"
        "  --state DIR   where the board's registers are kept between runs\n"
        "                (default: $%s, else $XDG_STATE_HOME/hwsim or "
        "~/.local/state/hwsim)\n"
        "  --fresh       reset the kept registers to the board's reset values first\n"
        "  --trace FILE  append one line per device request to FILE (default: $%s)\n"
        "  --help        show this text\n",
        sim::kEnvBoard, sim::default_board().c_str(), sim::kEnvState, sim::kEnvTrace);
}

[[noreturn]] void usage_error(const char *what) {
    (void)std::fprintf(stderr, "hwsim: %s\n", what);
    usage(stderr);
    std::exit(kUsageError);
}

RunOptions parse_options(int argc, char **argv) {
    enum { kBoard = 'b', kState = 's', kFresh = 'f', kTrace = 't', kHelp = 'h' };
    static const option kLongOptions[] = {
        {"board", required_argument, nullptr, kBoard},
        {"state", required_argument, nullptr, kState},
        {"fresh", no_argument, nullptr, kFresh},
        {"trace", required_argument, nullptr, kTrace},
        {"help", no_argument, nullptr, kHelp},
        {nullptr, 0, nullptr, 0},
    };
    RunOptions options;
    // "+": the options end at COMMAND, whose own options are its own.
    for (int opt = 0; (opt = getopt_long(argc, argv, "+", kLongOptions, nullptr)) != -1;) {
        switch (opt) {
        case kBoard:
            options.board = optarg;
            break;
        case kState:
            options.state_dir = optarg;
            break;
        case kFresh:
            options.fresh = true;
            break;
        case kTrace:
            options.trace = optarg;
            break;
        case kHelp:
            usage(stdout);
            std::exit(0);
        default:
            usage(stderr);
            std::exit(kUsageError); // getopt said what was wrong
        }
    }
    if (optind >= argc) {
        usage_error("no COMMAND to run");
    }
    options.command = argv + optind;
    return options;
}

[[noreturn]] void fail(const std::string &what) {
    (void)std::fprintf(stderr, "hwsim: %s\n", what.c_str());
    std::exit(kUsageError);
}

// The shim beside this executable.
std::string shim_path() {
    char exe[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0) {
        fail(std::string("cannot find my own executable: ") + std::strerror(errno));
    }
    std::string path(exe, static_cast<std::size_t>(length));
    path = path.substr(0, path.rfind('/') + 1) + kShimName;
    if (::access(path.c_str(), R_OK) != 0) {
        fail("the shim " + path + " is missing: " + std::strerror(errno));
    }
    return path;
}

// The shim (after the sanitizer runtime, which must come first) ahead of
// whatever the caller preloads.
std::string preload() {
    std::string list = shim_path();
#ifdef HWSIM_ASAN_RUNTIME
    list = std::string(HWSIM_ASAN_RUNTIME) + ":" + list;
#endif
    const char *previous = std::getenv("LD_PRELOAD");
    if (previous != nullptr && *previous != '\0') {
        list += std::string(":") + previous;
    }
    return list;
}

// The environment of the program: the runner's socket, and the shim
// preloaded.
void export_environment(const sim::Server &server) {
    ::setenv(sim::wire::kSocketVariable, server.name().c_str(), 1);
    ::setenv("LD_PRELOAD", preload().c_str(), 1);
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
    if (options.state_dir.empty()) {
        usage_error("--state: no directory given");
    }
    try {
        const sim::Board board = sim::load_board(options.board);
        sim::Store store;
        sim::Trace trace = options.trace.empty() ? sim::Trace() : sim::Trace(options.trace);
        sim::Devices devices(board, store, trace);
        store.keep_in(options.state_dir, board.fingerprint, options.fresh);
        sim::Server server(devices);
        export_environment(server);
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
