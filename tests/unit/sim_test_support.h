// What the simulator's unit tests share: boards from the board directory or on
// top of the default board, a device open on one, scratch directories, and
// the headers they all use.
#pragma once

#include "sim_board.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <string>

namespace sim_test {

inline const std::string kBoards = HWREGS_BOARD_DIR;

// The start of a board file on top of the default board.
inline const std::string kOnDefault = "base = \"default.toml\"\nname = \"test\"\n";

inline std::unique_ptr<sim::SimBoard> board_with(const std::string &extra,
                                                 const sim::Options &options = {}) {
    return sim::SimBoard::from_toml(kOnDefault + extra, kBoards, options);
}

inline std::unique_ptr<sim::SimBoard> board_file(const std::string &name = "default.toml") {
    return sim::SimBoard::from_file(kBoards + "/" + name);
}

// A device open on a board, closed with it.
struct Open {
    Open(const char *path, std::unique_ptr<sim::SimBoard> on)
        : board(std::move(on)), fd(board->open(path, O_RDWR)) {
        EXPECT_GE(fd, 0);
    }
    ~Open() { board->close(fd); }
    std::unique_ptr<sim::SimBoard> board;
    int fd;
};

inline std::string file_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A directory of its own, removed with everything in it.
struct TempDir {
    const std::string path = [] {
        char name[] = "/tmp/sim_test.XXXXXX";
        return std::string(::mkdtemp(name));
    }();
    TempDir() = default;
    TempDir(const TempDir &) = delete;
    ~TempDir() { std::filesystem::remove_all(path); }

    // Writes `text` to `name` (directories made as needed); its path.
    std::string file(const std::string &name, const std::string &text) const {
        const std::string at = path + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(at).parent_path());
        std::ofstream(at) << text;
        return at;
    }
    sim::Options state() const {
        sim::Options options;
        options.state_dir = path;
        return options;
    }
};

} // namespace sim_test
