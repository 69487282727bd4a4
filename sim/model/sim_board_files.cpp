// SimBoard from board files. Apart from the rest of SimBoard, as the board
// file reader is: the shim does without both.
#include "sim_board.h"

namespace sim {

std::unique_ptr<SimBoard> SimBoard::from_toml(std::string_view text, const std::string &dir,
                                              const Options &options) {
    return from_board(parse_board(text, dir, "board text"), options);
}

std::unique_ptr<SimBoard> SimBoard::from_file(const std::string &path, const Options &options) {
    return from_board(load_board(path), options);
}

} // namespace sim
