#include "board_files.h"

#include "board.h"
#include "unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {
namespace {

constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;
constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kMaxBoardFile = std::size_t{1024} * 1024;

[[noreturn]] void cannot_read(const std::string &path, int err) {
    throw BoardError("board file " + path + ": cannot read: " + std::strerror(err));
}

} // namespace

std::uint64_t add_to_fingerprint(std::uint64_t fingerprint, std::string_view text) {
    for (const char c : text) {
        fingerprint = (fingerprint ^ static_cast<unsigned char>(c)) * kFnvPrime;
    }
    return fingerprint;
}

std::string read_board_text(const std::string &path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        cannot_read(path, errno);
    }
    // Not a device that never ends, nor a FIFO that may never be written.
    if (!S_ISREG(st.st_mode)) {
        throw BoardError("board file " + path + ": not a regular file");
    }
    std::string text;
    char chunk[kReadChunk];
    for (;;) {
        const ssize_t got = ::read(fd.get(), chunk, sizeof chunk);
        if (got == 0) {
            return text;
        }
        if (got < 0 && errno != EINTR) {
            cannot_read(path, errno);
        }
        text.append(chunk, got > 0 ? static_cast<std::size_t>(got) : 0);
        if (text.size() > kMaxBoardFile) {
            throw BoardError("board file " + path + ": longer than " +
                             std::to_string(kMaxBoardFile) + " bytes");
        }
    }
}

std::string dir_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_path(const std::string &dir, const std::string &base) {
    return base.empty() || base[0] == '/' || dir.empty() ? base : dir + "/" + base;
}

} // namespace sim
