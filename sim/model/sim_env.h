// Where the simulated board's files are, as the runner and the shim agree on
// them: the runner's options, else these environment variables, else defaults.
#pragma once

#include <string>

namespace sim {

constexpr const char *kEnvBoard = "HWSIM_BOARD"; // board file
constexpr const char *kEnvState = "HWSIM_STATE"; // state directory
constexpr const char *kEnvTrace = "HWSIM_TRACE"; // trace file, none if unset

// The default board of this build.
std::string default_board();
// $HWSIM_BOARD, else the default board.
std::string board_from_environment();
// $HWSIM_STATE, else $XDG_STATE_HOME/hwsim, else ~/.local/state/hwsim.
std::string state_dir_from_environment();
// $HWSIM_TRACE, else empty (no trace file).
std::string trace_from_environment();

} // namespace sim
