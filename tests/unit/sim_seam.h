// Puts a simulated board behind the library's system calls for one test.
#pragma once

#include <memory>
#include <string>

#include "sim_board.h"
#include "sys/sys_ops.h"

class SimulatedBoard {
public:
    explicit SimulatedBoard(const std::string &board_toml)
        : board_(sim::SimBoard::from_toml(board_toml, HWREGS_BOARD_DIR)), seam_(ops()) {
        current() = board_.get();
    }
    ~SimulatedBoard() { current() = nullptr; }
    SimulatedBoard(const SimulatedBoard &) = delete;
    SimulatedBoard &operator=(const SimulatedBoard &) = delete;

    sim::SimBoard &board() { return *board_; }
    size_t requests() const { return board_->trace().size(); }

private:
    static sim::SimBoard *&current() {
        static sim::SimBoard *board = nullptr;
        return board;
    }
    static const hvl::sys::Ops &ops() {
        static const hvl::sys::Ops table{
            [](const char *path, int flags) { return current()->open(path, flags); },
            [](int fd, unsigned long request, void *arg) {
                return current()->ioctl(fd, request, arg);
            },
            [](int fd) { return current()->close(fd); },
            hvl::sys::ops().select,
        };
        return table;
    }

    std::unique_ptr<sim::SimBoard> board_;
    hvl::sys::OpsOverride seam_;
};
