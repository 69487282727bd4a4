#include "sim_env.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#ifndef HWSIM_DEFAULT_BOARD
#error "HWSIM_DEFAULT_BOARD must name the default board file"
#endif

namespace sim {
namespace {

std::string variable(const char *name) {
    const char *value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::string home_dir() {
    std::string home = variable("HOME");
    if (home.empty()) {
        if (const passwd *entry = ::getpwuid(::getuid())) {
            home = entry->pw_dir;
        }
    }
    return home;
}

} // namespace

std::string default_board() { return HWSIM_DEFAULT_BOARD; }

std::string board_from_environment() {
    const std::string board = variable(kEnvBoard);
    return board.empty() ? default_board() : board;
}

std::string state_dir_from_environment() {
    std::string state = variable(kEnvState);
    if (!state.empty()) {
        return state;
    }
    const std::string xdg = variable("XDG_STATE_HOME");
    return (xdg.empty() ? home_dir() + "/.local/state" : xdg) + "/hwsim";
}

std::string trace_from_environment() { return variable(kEnvTrace); }

} // namespace sim
