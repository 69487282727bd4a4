// Puts a simulated board behind the library's system calls for one test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "hvl/cpld.h"
#include "log_capture.h"
#include "sim_board.h"
#include "sys/sys_ops.h"

class SimulatedBoard {
public:
    // The board of a file of the board directory.
    explicit SimulatedBoard(const std::string &file = "default.toml")
        : SimulatedBoard(sim::SimBoard::from_file(HWREGS_BOARD_DIR "/" + file)) {}
    explicit SimulatedBoard(std::unique_ptr<sim::SimBoard> board)
        : board_(std::move(board)), seam_(ops()) {
        current() = board_.get();
    }
    ~SimulatedBoard() { current() = nullptr; }
    SimulatedBoard(const SimulatedBoard &) = delete;
    SimulatedBoard &operator=(const SimulatedBoard &) = delete;

    size_t requests() const { return board_->trace().size(); }
    // The IPMI messages sent so far.
    size_t messages() const {
        const auto &lines = board_->trace();
        return static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [](const auto &line) {
            return line.find("SEND_COMMAND") != std::string::npos;
        }));
    }

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
            hvl::sys::ops().sleep,
        };
        return table;
    }

    std::unique_ptr<sim::SimBoard> board_;
    hvl::sys::OpsOverride seam_;
};

// A test of the library's CPLD access: what it logs is in `log`, and the
// process-wide connection is closed after it.
class OnSimulatedBoard : public ::testing::Test {
protected:
    void TearDown() override { cpld_close(); }
    LogCapture log;
};
