// The part of the board that changes: named regions of bytes (the registers
// of an area, the DCRs, the engineering record, ...), each starting from the
// board's reset value. The model declares a region for each thing it keeps
// and reads and writes it; how it outlives the program run is this file's
// business alone.
//
// Kept in a state directory, every change is appended to a log there
// (board.state) in one write before it is answered, so a run killed at any
// instant leaves every answered change behind; a record cut short by the kill
// is dropped. Several runs may share a directory: changes are appended under
// a lock on board.lock, and each run takes in the others' records before it
// reads. The log starts with the board's fingerprint: a log of another board,
// or a fresh start, is replaced by an empty one, written beside it and renamed
// over it, as is a long log by one with the regions' contents alone.
#pragma once

#include "unique_fd.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

// The state directory or its log cannot be used.
class StateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Store;

class Region {
public:
    std::uint8_t byte(std::size_t at) const { return at < bytes_.size() ? bytes_[at] : 0; }
    const std::uint8_t *data() const { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }
    // Changes `count` bytes from `at`; a change past the end is cut.
    void write(std::size_t at, const std::uint8_t *from, std::size_t count);
    void set_byte(std::size_t at, std::uint8_t value) { write(at, &value, 1); }
    // A 32-bit word at `at`, kept least significant byte first.
    std::uint32_t word(std::size_t at) const;
    void set_word(std::size_t at, std::uint32_t value);

private:
    friend class Store;
    Region(Store &store, std::string name, std::vector<std::uint8_t> reset)
        : store_(store), name_(std::move(name)), reset_(reset), bytes_(std::move(reset)) {}
    void patch(std::size_t at, const std::uint8_t *from, std::size_t count);

    Store &store_;
    std::string name_;
    std::vector<std::uint8_t> reset_;
    std::vector<std::uint8_t> bytes_;
};

class Store {
public:
    Store() = default;
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // The region `name`, at its reset value until the store is kept.
    Region &region(const std::string &name, std::vector<std::uint8_t> reset);

    // From now on the regions are kept in `dir` (created if missing) for the
    // board of `fingerprint`, and take what was kept there; `fresh` starts
    // from reset instead. Throws StateError. Without it the state is this
    // process's alone.
    void keep_in(const std::string &dir, std::uint64_t fingerprint, bool fresh);

    // Takes in what other runs on the directory appended since. Throws StateError.
    void refresh();

    static constexpr const char *kFileName = "board.state";

private:
    friend class Region;
    class Lock;
    void change(Region &region, std::size_t at, const std::uint8_t *from, std::size_t count);
    std::string path() const { return dir_ + "/" + kFileName; }
    void open_log();
    void replace_log(bool with_contents);
    void take_in();
    bool apply(const std::uint8_t *record, std::size_t size, std::size_t &used);

    std::string dir_; // empty: nothing is kept
    std::uint64_t fingerprint_ = 0;
    UniqueFd lock_;
    UniqueFd log_;
    ino_t inode_ = 0;
    std::size_t taken_ = 0; // the log's bytes taken in, whole records only
    bool foreign_ = false;  // the log is another board's now: changes stay here
    std::map<std::string, Region> regions_;
};

} // namespace sim
