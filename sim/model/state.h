// The simulated board's registers as they stand: kept in a file of the state
// directory so that they survive from one program run to the next, like the
// registers of a real board, and shared by programs that run at once.
//
// The file has a fixed layout with every multi-byte value little-endian; see
// sim/README.md. It is mapped MAP_SHARED. A register or a word is read and
// written in one access, as a driver reads and writes the device's; the
// engineering record and the parameters, and initialisation, run under
// flock() on the file. So two processes never see a half-written value.
#pragma once

#include "board.h"
#include "eng_record.h"
#include "unique_fd.h"

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

// The state directory or file cannot be used.
class StateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class State {
public:
    // State of this process alone, at the board's reset values.
    static std::unique_ptr<State> in_memory(const Board &board);
    // State kept in `dir` (created if missing). It is reset to the board's
    // reset values when `fresh`, when it is new, or when it was kept for a
    // different board or layout. Throws StateError.
    static std::unique_ptr<State> in_directory(const std::string &dir, const Board &board,
                                               bool fresh);
    ~State();
    State(const State &) = delete;
    State &operator=(const State &) = delete;

    std::uint8_t ppc_register(unsigned offset) const;
    void set_ppc_register(unsigned offset, std::uint8_t value);
    std::uint32_t dcr(unsigned number) const;
    void set_dcr(unsigned number, std::uint32_t value);
    std::uint32_t led_mode() const;
    void set_led_mode(std::uint32_t mode);
    std::uint8_t ipmc_register(unsigned offset) const;
    void set_ipmc_register(unsigned offset, std::uint8_t value);
    EngRecordBytes eng_record() const;
    void set_eng_record(const EngRecordBytes &record);
    IpmcParams params() const;
    void set_params(const IpmcParams &params);

    // The state file's name within the state directory.
    static const char *const kFileName;

private:
    class Lock;
    State(std::uint8_t *bytes, UniqueFd fd);

    std::uint8_t *bytes_;
    UniqueFd fd_;                   // the state file, for flock(); none in memory
    std::vector<std::uint8_t> own_; // the bytes of a state in memory
};

} // namespace sim
