// The process utilities on real files and real signals, each call in a child
// process whose output the test reads. A file is changed between the opener's
// look and its open through the look's place on the system-call seam.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <numeric>
#include <string>
#include <vector>

#include "hvl/hvl_process_utils.h"
#include "sys/sys_ops.h"

namespace {

struct ChildRun {
    int status = -1;    // as waitpid gives it
    std::string output; // standard output and error
};

// Runs `body` in a child whose exit status is its result, and `meanwhile`
// here with the child's ID.
ChildRun in_child(const std::function<int()> &body,
                  const std::function<void(pid_t)> &meanwhile = nullptr) {
    int out[2];
    EXPECT_EQ(pipe(out), 0);
    fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        alarm(5); // a child that waits for ever ends
        const int code = body();
        fflush(nullptr);
        _exit(code);
    }
    close(out[1]);
    if (meanwhile) {
        meanwhile(pid);
    }
    ChildRun run;
    char chunk[256];
    for (ssize_t got = 0; (got = read(out[0], chunk, sizeof chunk)) > 0;) {
        run.output.append(chunk, static_cast<size_t>(got));
    }
    close(out[0]);
    waitpid(pid, &run.status, 0);
    return run;
}

// What a regular file holds (a link is followed), else "-".
std::string contents(const std::string &path) {
    if (!std::filesystem::is_regular_file(path)) {
        return "-";
    }
    std::ifstream in(path, std::ios::binary);
    return std::string{std::istreambuf_iterator<char>(in), {}};
}

void shell(const std::string &dir, const std::string &command) {
    EXPECT_EQ(std::system(("cd " + dir + " && " + command).c_str()), 0) << command;
}

// The shell command run in the directory between the opener's look and its open.
std::string dir;
std::string between;

int look_then_change(const char *path, struct stat *st) {
    const int rc = ::lstat(path, st);
    if (!between.empty()) {
        shell(dir, between);
    }
    return rc;
}

struct OpenCase {
    const char *name;
    const char *make;   // in a directory of "victim"; the path is "f"
    const char *change; // between the look and the open
    int writable;
    const char *printed; // %s stands for the path
    const char *left;    // what the path holds afterwards, "-" no regular file
    bool needs_root;
};

constexpr const char *kData = "printf data >f";
constexpr const char *kVerify = "ERROR: Unable to verify file %s\n";

// A regular file of one link is opened (written: truncated); whatever else
// the path is, or turns into after the look, is refused with its message, and
// no file but the path's own is truncated or created.
TEST(OpenFileSecure, RefusesLinksAndSwapsWithItsMessageAndTouchesNoOtherFile) {
    const bool root = geteuid() == 0;
    // clang-format off
    const OpenCase cases[] = {
        {"a regular file, read", kData, "", 0, "", "data", false},
        {"a regular file, written", kData, "", 1, "", "", false},
        {"missing, read", "true", "", 0, "ERROR: File %s does not exist\n", "-", false},
        {"missing, written: created", "true", "", 1, "", "", false},
        {"a symbolic link", "ln -s victim f", "", 1, "ERROR: File %s has invalid mode: 41471\n", "victim", false},
        {"a directory", "mkdir -m 700 f", "", 0, "ERROR: File %s has invalid mode: 16832\n", "-", false},
        {"two more hard links", "ln victim f && ln victim f2", "", 1,
         "ERROR: File %s has invalid link count: 3 != 1\n", "victim", false},
        {"another file put in its place", kData, "mv victim f", 1, kVerify, "victim", false},
        {"a symbolic link put in its place", kData, "rm f && ln -s victim f", 1,
         "ERROR: Unable to open file %s: Too many levels of symbolic links\n", "victim", false},
        {"a FIFO put in its place", kData, "rm f && mkfifo f", 0, kVerify, "-", false},
        {"a link made to it", kData, "ln f f2", 1, kVerify, "data", false},
        {"removed", kData, "rm f", 0, "ERROR: Unable to open file %s: No such file or directory\n", "-", false},
        {"another owner's file", "printf data >f && chown 65534 f", "", 0, "", "data", true},
        {"given to another owner", kData, "chown 65534 f", 1, kVerify, "data", true},
        {"not readable", "printf data >f && chmod 0 f", "", 0,
         "ERROR: Unable to open file %s: Permission denied\n", "data", false},
        {"in a missing directory", "rm -r \"$PWD\"", "", 1,
         "ERROR: Unable to open file %s for write: No such file or directory\n", "-", false},
    };
    // clang-format on
    for (const OpenCase &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.needs_root && !root) {
            std::printf("not provoked without root: %s\n", c.name);
            continue;
        }
        char name[] = "/tmp/open_secure.XXXXXX";
        dir = mkdtemp(name);
        const std::string path = dir + "/f";
        shell(dir, std::string("chmod 755 . && printf victim >victim && ") + c.make);
        const ChildRun run = in_child([&] {
            // Root may read any file: the unreadable one is tried as nobody.
            if (root && c.name == std::string("not readable") && setuid(65534) != 0) {
                return 9;
            }
            between = c.change;
            hvl::sys::Ops seam = hvl::sys::ops();
            seam.lstat = look_then_change;
            const hvl::sys::OpsOverride on(seam);
            FILE *opened = open_file_secure(path.c_str(), c.writable);
            return opened != nullptr && fclose(opened) == 0 ? 0 : 1;
        });
        std::string printed = c.printed;
        if (const size_t at = printed.find("%s"); at != std::string::npos) {
            printed.replace(at, 2, path);
        }
        EXPECT_EQ(run.output, printed);
        EXPECT_EQ(run.status, printed.empty() ? 0 : 1 << 8);
        EXPECT_EQ(contents(path), c.left);
        EXPECT_THAT(contents(dir + "/victim"), ::testing::AnyOf("victim", "-"));
        std::filesystem::remove_all(dir);
    }
}

TEST(IpmiChecksum, MakesTheSumZero) {
    const uint8_t pair[] = {0x20, 0x18};
    EXPECT_EQ(ipmi_checksum(pair, 2), 0xC8);
    EXPECT_EQ(ipmi_checksum(pair, 0), 0);
    EXPECT_EQ(ipmi_checksum(pair, -1), 0);
    std::vector<uint8_t> ramp(300);
    std::iota(ramp.begin(), ramp.end(), 0x7F);
    const uint8_t check = ipmi_checksum(ramp.data(), static_cast<int>(ramp.size()));
    EXPECT_EQ(std::accumulate(ramp.begin(), ramp.end(), unsigned{check}) % 256, 0U);
}

volatile sig_atomic_t received[NSIG];
void count(int signal) { received[signal] = received[signal] + 1; }

// The test signals the child until it has ended. The handler ends the
// child's wait in a read (no restart) and stays for the next signal; zero
// arguments change nothing; a signal that cannot be caught is reported.
TEST(RegisterSignalHandler, InstallsAHandlerThatEndsAWaitAndStays) {
    int never[2];
    int ready[2];
    ASSERT_EQ(pipe(never), 0);
    ASSERT_EQ(pipe(ready), 0);
    const ChildRun run = in_child(
        [&] {
            register_signal_handler(SIGUSR1, count);
            register_signal_handler(SIGUSR2, count);
            register_signal_handler(SIGUSR2, nullptr);
            register_signal_handler(0, count);
            register_signal_handler(SIGKILL, count);
            char c = 0;
            (void)!write(ready[1], &c, 1);
            const bool interrupted = read(never[0], &c, 1) < 0 && errno == EINTR;
            while (received[SIGUSR1] < 2) {
                pause();
            }
            raise(SIGUSR2);
            return (interrupted ? 100 : 0) + 10 * received[SIGUSR2];
        },
        [&](pid_t pid) {
            char c = 0;
            (void)!read(ready[0], &c, 1);
            siginfo_t ended{};
            while (waitid(P_PID, static_cast<id_t>(pid), &ended, WEXITED | WNOHANG | WNOWAIT) ==
                       0 &&
                   ended.si_pid == 0) {
                kill(pid, SIGUSR1);
                usleep(10000);
            }
        });
    EXPECT_TRUE(WIFEXITED(run.status)) << "not ended by a signal: " << run.status;
    EXPECT_EQ(WEXITSTATUS(run.status), 110);
    EXPECT_EQ(run.output, "unable to register handler: Killed\n");
}

} // namespace
