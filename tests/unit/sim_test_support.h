// What the simulator's unit tests share: the board directory, boards on top of
// the default one, scratch directories and the bytes of a file.
#pragma once

#include "sim_board.h"
#include "sim_env.h"

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace sim_test {

inline const std::string kBoards =
    std::filesystem::path(sim::default_board()).parent_path().string();

// The start of a board file on top of the default board.
inline const std::string kOnDefault = "base = \"default.toml\"\nname = \"test\"\n";

inline std::unique_ptr<sim::SimBoard> board_with(const std::string &extra,
                                                 const sim::Options &options = {}) {
    return sim::SimBoard::from_toml(kOnDefault + extra, kBoards, options);
}

inline std::unique_ptr<sim::SimBoard> board_file(const std::string &name) {
    return sim::SimBoard::from_file(kBoards + "/" + name);
}

// Why the board text is refused, or "accepted".
inline std::string board_refusal(const std::string &text) {
    try {
        sim::SimBoard::from_toml(text, kBoards);
        return "accepted";
    } catch (const sim::BoardError &error) {
        return error.what();
    }
}

inline std::string file_bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// A directory of its own, removed with everything in it.
class TempDir {
public:
    TempDir() {
        char name[] = "/tmp/sim_test.XXXXXX";
        path_ = ::mkdtemp(name);
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    // Writes `text` to `name` (directories made as needed); its path.
    std::string file(const std::string &name, const std::string &text) const {
        const std::string path = path_ + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path) << text;
        return path;
    }
    sim::Options state() const {
        sim::Options options;
        options.state_dir = path_;
        return options;
    }

private:
    std::string path_;
};

} // namespace sim_test
