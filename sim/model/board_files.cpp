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
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        cannot_read(path, errno);
    }
    // Read to the end whatever the size said: the file may be growing.
    std::string text(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 0) + 1, '\0');
    std::size_t done = 0;
    for (;;) {
        if (done == text.size()) {
            text.resize(text.size() + kReadChunk);
        }
        const ssize_t got = ::read(fd.get(), &text[done], text.size() - done);
        if (got == 0) {
            text.resize(done);
            return text;
        }
        if (got < 0 && errno != EINTR) {
            cannot_read(path, errno);
        }
        done += got > 0 ? static_cast<std::size_t>(got) : 0;
    }
}

std::string dir_of(const std::string &path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string base_path(const std::string &dir, const std::string &base) {
    return base.empty() || base[0] == '/' || dir.empty() ? base : dir + "/" + base;
}

std::uint64_t fingerprint_of_files(const std::string &path, const std::vector<std::string> &bases) {
    std::vector<std::string> paths{path};
    for (const std::string &base : bases) {
        paths.push_back(base_path(dir_of(paths.back()), base));
    }
    std::uint64_t fingerprint = kFingerprintStart;
    for (auto file = paths.rbegin(); file != paths.rend(); ++file) {
        fingerprint = add_to_fingerprint(fingerprint, read_board_text(*file));
    }
    return fingerprint;
}

} // namespace sim
