// The simulated board in-process: the devices a program opens and the driver
// requests it sends, answered like the kernel would, in this process's own
// memory. The library's unit tests put it behind their system-call seam;
// programs reach the same devices through the runner (hwsim).
#pragma once

#include "board.h"
#include "devices.h"
#include "store.h"
#include "trace.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct Options {
    std::string state_dir; // empty: state in memory, for this SimBoard alone
    bool fresh = false;    // reset the kept state to the board's reset values
};

class SimBoard {
public:
    // Board from TOML text (base paths relative to `dir`). Throws BoardError on
    // a bad board file, StateError when the state directory cannot be used.
    static std::unique_ptr<SimBoard> from_toml(std::string_view text, const std::string &dir = ".",
                                               const Options &options = {});
    static std::unique_ptr<SimBoard> from_file(const std::string &path,
                                               const Options &options = {});
    ~SimBoard();
    SimBoard(const SimBoard &) = delete;
    SimBoard &operator=(const SimBoard &) = delete;

    // Like the kernel: a descriptor >= 0, or -1 with errno set. The
    // descriptors are real (eventfd), so they can be polled and closed.
    int open(const char *path, int flags);
    int ioctl(int fd, unsigned long request, void *arg);
    int close(int fd);

    // Trace lines recorded so far, in order (the trace file's format).
    const std::vector<std::string> &trace() const { return trace_.lines(); }

private:
    SimBoard(Board board, const Options &options);

    Board board_;
    Store store_;
    Trace trace_;
    Devices devices_;
    std::map<int, OpenFile> open_;
};

} // namespace sim
