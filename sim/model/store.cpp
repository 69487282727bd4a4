#include "store.h"

#include "common/byte_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

namespace sim {
namespace {

// The log: a header, then one record per change, every number little-endian:
//   header  "HWSIMLOG", u32 layout, u64 board fingerprint
//   record  u8 name length, name, u32 offset, u32 count, count bytes,
//           u32 FNV-1a of the record's bytes before it
constexpr std::uint8_t kMagic[8] = {'H', 'W', 'S', 'I', 'M', 'L', 'O', 'G'};
constexpr std::uint32_t kLayout = 3;
constexpr std::size_t kHeaderSize = sizeof kMagic + 4 + 8;
constexpr std::size_t kRecordFixed = 1 + 4 + 4 + 4;
// A log longer than this is rewritten with the regions' contents at the start.
constexpr off_t kCompactAbove = off_t{256} * 1024;

std::uint32_t fnv1a(const std::uint8_t *bytes, std::size_t count) {
    std::uint32_t hash = 0x811c9dc5U;
    for (std::size_t i = 0; i < count; ++i) {
        hash = (hash ^ bytes[i]) * 0x01000193U;
    }
    return hash;
}

[[noreturn]] void fail(const std::string &what) {
    throw StateError("state " + what + ": " + std::strerror(errno));
}

void write_all(int fd, const std::vector<std::uint8_t> &bytes, const std::string &path) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno != EINTR) {
            fail("file " + path);
        }
        done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    }
}

std::vector<std::uint8_t> record(const std::string &name, std::size_t at, const std::uint8_t *from,
                                 std::size_t count) {
    std::vector<std::uint8_t> bytes(kRecordFixed + name.size() + count);
    hvl::ByteWriter out(bytes.data(), bytes.size());
    out.u8(static_cast<std::uint8_t>(name.size()))
        .bytes(reinterpret_cast<const std::uint8_t *>(name.data()), name.size())
        .u32(static_cast<std::uint32_t>(at))
        .u32(static_cast<std::uint32_t>(count))
        .bytes(from, count);
    out.u32(fnv1a(bytes.data(), out.length()));
    return bytes;
}

} // namespace

// flock() on the directory's lock file for as long as it lives.
class Store::Lock {
public:
    explicit Lock(const Store &store) : fd_(store.lock_.get()) {
        while (::flock(fd_, LOCK_EX) != 0) {
            if (errno != EINTR) {
                fail("lock");
            }
        }
    }
    ~Lock() { ::flock(fd_, LOCK_UN); }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

private:
    int fd_;
};

void Region::write(std::size_t at, const std::uint8_t *from, std::size_t count) {
    if (at < bytes_.size()) {
        store_.change(*this, at, from, std::min(count, bytes_.size() - at));
    }
}

std::uint32_t Region::word(std::size_t at) const {
    hvl::ByteReader in(at <= bytes_.size() ? bytes_.data() + at : nullptr, bytes_.size() - at);
    return in.u32();
}

void Region::set_word(std::size_t at, std::uint32_t value) {
    std::uint8_t bytes[4];
    hvl::ByteWriter(bytes, sizeof bytes).u32(value);
    write(at, bytes, sizeof bytes);
}

void Region::patch(std::size_t at, const std::uint8_t *from, std::size_t count) {
    if (at <= bytes_.size() && count <= bytes_.size() - at) {
        std::copy(from, from + count, bytes_.begin() + static_cast<std::ptrdiff_t>(at));
    }
}

Region &Store::region(const std::string &name, std::vector<std::uint8_t> reset) {
    return regions_.emplace(name, Region(*this, name, std::move(reset))).first->second;
}

void Store::keep_in(const std::string &dir, std::uint64_t fingerprint, bool fresh) {
    if (dir.empty()) {
        throw StateError("state directory: no name given");
    }
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    if (error) {
        throw StateError("state directory " + dir + ": " + error.message());
    }
    dir_ = dir;
    fingerprint_ = fingerprint;
    lock_.reset(::open((dir + "/board.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock_.valid()) {
        fail("file " + dir + "/board.lock");
    }
    const Lock lock(*this);
    ::unlink((path() + ".new").c_str()); // left by a run killed while it replaced the log
    if (fresh) {
        replace_log(false);
    }
    open_log();
    if (foreign_) {
        foreign_ = false;
        replace_log(false);
        open_log();
    }
    struct stat st {};
    if (::fstat(log_.get(), &st) == 0 && st.st_size > kCompactAbove) {
        replace_log(true);
        open_log();
    }
}

// Opens the log at the path and takes in all of it; a file that is no log of
// this layout is replaced by an empty one.
void Store::open_log() {
    for (;;) {
        log_.reset(::open(path().c_str(), O_RDWR | O_APPEND | O_CLOEXEC));
        if (!log_.valid() && errno != ENOENT) {
            fail("file " + path());
        }
        std::uint8_t header[kHeaderSize] = {};
        struct stat st {};
        if (log_.valid() && ::pread(log_.get(), header, sizeof header, 0) == kHeaderSize &&
            std::equal(std::begin(kMagic), std::end(kMagic), header) &&
            ::fstat(log_.get(), &st) == 0) {
            hvl::ByteReader in(header + sizeof kMagic, kHeaderSize - sizeof kMagic);
            const std::uint32_t layout = in.u32();
            const std::uint64_t fingerprint = in.u64();
            if (layout == kLayout) {
                inode_ = st.st_ino;
                taken_ = kHeaderSize;
                foreign_ = fingerprint != fingerprint_;
                if (!foreign_) {
                    for (auto &[name, region] : regions_) {
                        region.bytes_ = region.reset_;
                    }
                    take_in();
                }
                return;
            }
        }
        replace_log(false);
    }
}

// Writes a new log beside the old one and renames it into place: a reader
// finds the old log or the new one, whole.
void Store::replace_log(bool with_contents) {
    std::vector<std::uint8_t> bytes(kHeaderSize);
    hvl::ByteWriter(bytes.data(), bytes.size()).bytes(kMagic).u32(kLayout).u64(fingerprint_);
    for (const auto &[name, region] : regions_) {
        if (with_contents && region.bytes_ != region.reset_) {
            const std::vector<std::uint8_t> whole =
                record(name, 0, region.bytes_.data(), region.bytes_.size());
            bytes.insert(bytes.end(), whole.begin(), whole.end());
        }
    }
    const std::string fresh = path() + ".new";
    const UniqueFd fd(::open(fresh.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.valid()) {
        fail("file " + fresh);
    }
    write_all(fd.get(), bytes, fresh);
    if (::rename(fresh.c_str(), path().c_str()) != 0) {
        fail("file " + path());
    }
}

// Takes in the whole records after those already taken; stops at one that is
// not all there (still being written, or cut short by a kill).
void Store::take_in() {
    struct stat st {};
    if (::fstat(log_.get(), &st) != 0) {
        fail("file " + path());
    }
    const auto end = static_cast<std::size_t>(st.st_size);
    if (end <= taken_) {
        return;
    }
    std::vector<std::uint8_t> bytes(end - taken_);
    const ssize_t got = ::pread(log_.get(), bytes.data(), bytes.size(), static_cast<off_t>(taken_));
    if (got < 0) {
        fail("file " + path());
    }
    std::size_t at = 0;
    std::size_t used = 0;
    while (apply(bytes.data() + at, static_cast<std::size_t>(got) - at, used)) {
        at += used;
    }
    taken_ += at;
}

bool Store::apply(const std::uint8_t *bytes, std::size_t size, std::size_t &used) {
    hvl::ByteReader in(bytes, size);
    char name[256];
    const std::uint8_t name_length = in.u8();
    in.bytes(reinterpret_cast<std::uint8_t *>(name), name_length);
    const std::size_t at = in.u32();
    const std::size_t count = in.u32();
    if (!in.ok() || count > in.remaining()) {
        return false;
    }
    const std::uint8_t *data = bytes + (size - in.remaining());
    in.skip(count);
    used = size - in.remaining();
    if (in.u32() != fnv1a(bytes, used) || !in.ok()) {
        return false;
    }
    used += 4;
    const auto found = regions_.find(std::string(name, name_length));
    if (found != regions_.end() && !foreign_) {
        found->second.patch(at, data, count);
    }
    return true;
}

void Store::refresh() {
    if (dir_.empty()) {
        return;
    }
    struct stat st {};
    if (::stat(path().c_str(), &st) == 0 && st.st_ino != inode_) {
        open_log(); // replaced by another run
    } else if (!foreign_) {
        take_in();
    }
}

void Store::change(Region &region, std::size_t at, const std::uint8_t *from, std::size_t count) {
    if (dir_.empty() || foreign_) {
        region.patch(at, from, count);
        return;
    }
    const Lock lock(*this);
    refresh();
    region.patch(at, from, count);
    if (foreign_) {
        return;
    }
    // A record cut short by a kill is not taken in: the next one goes in its place.
    if (::ftruncate(log_.get(), static_cast<off_t>(taken_)) != 0) {
        fail("file " + path());
    }
    const std::vector<std::uint8_t> bytes = record(region.name_, at, from, count);
    write_all(log_.get(), bytes, path());
    taken_ += bytes.size();
}

} // namespace sim
