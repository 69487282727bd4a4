// hwsim: runs a program on the simulated board. It checks the board file,
// brings the board's state up (or resets it), leaves the board's image beside
// the state, points the preloaded shim at them through the environment and
// then becomes the program.
#include "board_image.h"
#include "sim_board.h"
#include "sim_env.h"

#include <getopt.h>
#include <limits.h>
#include <stdlib.h>
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

// `path` made absolute against the current directory: the program may chdir.
std::string absolute(const std::string &path) {
    if (path.empty() || path[0] == '/') {
        return path;
    }
    char cwd[PATH_MAX];
    if (::getcwd(cwd, sizeof cwd) == nullptr) {
        fail(std::string("cannot tell the current directory: ") + std::strerror(errno));
    }
    return std::string(cwd) + "/" + path;
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

// The board file by its real path, which the shim is given: its bases are
// then where the shim finds them too. A file that is not there stays as given,
// for the board reader to report.
std::string real_board_path(const std::string &path) {
    char real[PATH_MAX];
    return ::realpath(path.c_str(), real) != nullptr ? std::string(real) : path;
}

// Checks the board file, brings the state up and leaves the board's image
// beside the state, for the shim.
void prepare_board(const RunOptions &options) {
    try {
        sim::Options sim_options;
        sim_options.state_dir = options.state_dir;
        sim_options.fresh = options.fresh;
        const auto sim_board = sim::SimBoard::from_file(options.board, sim_options);
        sim::write_board_image(options.state_dir, sim_board->board());
    } catch (const std::exception &error) {
        fail(error.what());
    }
}

void export_environment(const RunOptions &options) {
    ::setenv(sim::kEnvBoard, options.board.c_str(), 1);
    ::setenv(sim::kEnvState, absolute(options.state_dir).c_str(), 1);
    if (options.trace.empty()) {
        ::unsetenv(sim::kEnvTrace);
    } else {
        ::setenv(sim::kEnvTrace, absolute(options.trace).c_str(), 1);
    }
    ::setenv("LD_PRELOAD", preload().c_str(), 1);
}

} // namespace

int main(int argc, char **argv) {
    RunOptions options = parse_options(argc, argv);
    options.board = real_board_path(options.board);
    prepare_board(options);
    export_environment(options);
    ::execvp(options.command[0], options.command);
    const int err = errno;
    (void)std::fprintf(stderr, "hwsim: cannot run %s: %s\n", options.command[0],
                       std::strerror(err));
    return err == ENOENT ? 127 : 126;
}
