#include "state.h"

#include "common/byte_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace sim {
namespace {

// Layout of the state, byte offsets.
constexpr char kMagic[8] = {'H', 'W', 'S', 'I', 'M', 'S', 'T', '\0'};
constexpr std::uint32_t kLayoutVersion = 2;
constexpr std::size_t kMagicAt = 0;            // 8 bytes
constexpr std::size_t kLayoutAt = 8;           // u32
constexpr std::size_t kSizeAt = 12;            // u32, the whole file
constexpr std::size_t kFingerprintAt = 16;     // u64, of the board file
constexpr std::size_t kHeaderSize = 64;        // all before the registers, magic first
constexpr std::size_t kPpcRegistersAt = 64;    // 256 bytes
constexpr std::size_t kDcrsAt = 320;           // 1024 x u32
constexpr std::size_t kLedModeAt = 4416;       // u32
constexpr std::size_t kIpmcRegistersAt = 4480; // 256 bytes
constexpr std::size_t kEngRecordAt = 4736;     // 17 bytes used of 32
constexpr std::size_t kIpmcParamsAt = 4768;    // 1024 bytes: modes, extra; the rest unused
constexpr std::size_t kStateSize = 8192;
static_assert(kDcrsAt == kPpcRegistersAt + kPpcRegisterCount && kPpcRegistersAt == kHeaderSize);
static_assert(kStateSize % 4 == 0 && kDcrsAt % 4 == 0 && kLedModeAt % 4 == 0);
static_assert(kLedModeAt == kDcrsAt + std::size_t{4} * kDcrCount);
static_assert(kIpmcRegistersAt >= kLedModeAt + 4 && kEngRecordAt == kIpmcRegistersAt + 256);
static_assert(kIpmcParamsAt == kEngRecordAt + 32 && kIpmcParamsAt + 1024 <= kStateSize);
static_assert(std::tuple_size<EngRecordBytes>::value <= 32);

std::uint32_t word_at(const std::uint8_t *bytes, std::size_t at) {
    hvl::ByteReader in(bytes + at, 4);
    return in.u32();
}

void put_word(std::uint8_t *bytes, std::size_t at, std::uint32_t value) {
    hvl::ByteWriter(bytes + at, 4).u32(value);
}

std::uint64_t long_word_at(const std::uint8_t *bytes, std::size_t at) {
    return static_cast<std::uint64_t>(word_at(bytes, at)) |
           static_cast<std::uint64_t>(word_at(bytes, at + 4)) << 32;
}

void put_long_word(std::uint8_t *bytes, std::size_t at, std::uint64_t value) {
    put_word(bytes, at, static_cast<std::uint32_t>(value));
    put_word(bytes, at + 4, static_cast<std::uint32_t>(value >> 32));
}

// Registers and words are read and written in one access each, so that
// another process never sees half a word; the word is handled as the bytes
// it is made of, which are little-endian whatever the host. `at` is a
// multiple of 4 in a page-aligned mapping or a vector's buffer.
std::uint32_t *raw_word(std::uint8_t *bytes, std::size_t at) {
    return static_cast<std::uint32_t *>(static_cast<void *>(bytes + at));
}

std::uint32_t load_word(std::uint8_t *bytes, std::size_t at) {
    const std::uint32_t raw = __atomic_load_n(raw_word(bytes, at), __ATOMIC_RELAXED);
    std::uint8_t word[4];
    std::memcpy(word, &raw, sizeof word);
    return word_at(word, 0);
}

void store_word(std::uint8_t *bytes, std::size_t at, std::uint32_t value) {
    std::uint8_t word[4];
    put_word(word, 0, value);
    std::uint32_t raw = 0;
    std::memcpy(&raw, word, sizeof raw);
    __atomic_store_n(raw_word(bytes, at), raw, __ATOMIC_RELAXED);
}

std::uint8_t load_byte(const std::uint8_t *bytes, std::size_t at) {
    return __atomic_load_n(bytes + at, __ATOMIC_RELAXED);
}

void store_byte(std::uint8_t *bytes, std::size_t at, std::uint8_t value) {
    __atomic_store_n(bytes + at, value, __ATOMIC_RELAXED);
}

void reset_ipmc(std::uint8_t *bytes, const IpmcBoard &ipmc) {
    for (unsigned offset = 0; offset < kIpmcRegisterCount; ++offset) {
        bytes[kIpmcRegistersAt + offset] = reset_value(ipmc.registers[offset], ipmc.mezzanine);
    }
    const EngRecordBytes record = eng_record_after_reset(ipmc);
    std::copy(record.begin(), record.end(), bytes + kEngRecordAt);
    hvl::ByteWriter(bytes + kIpmcParamsAt, 2).u8(ipmc.params.modes).u8(ipmc.params.extra);
}

// The state at the board's reset values, header and all.
std::vector<std::uint8_t> after_reset(const Board &board) {
    std::vector<std::uint8_t> state(kStateSize, 0);
    std::uint8_t *bytes = state.data();
    for (unsigned offset = 0; offset < kPpcRegisterCount; ++offset) {
        bytes[kPpcRegistersAt + offset] = board.cpld.registers[offset].reset;
    }
    for (const auto &[number, value] : board.cpld.dcrs) {
        put_word(bytes, kDcrsAt + std::size_t{4} * number, value);
    }
    put_word(bytes, kLedModeAt, board.cpld.led_mode);
    reset_ipmc(bytes, board.ipmc);
    put_word(bytes, kLayoutAt, kLayoutVersion);
    put_word(bytes, kSizeAt, kStateSize);
    put_long_word(bytes, kFingerprintAt, board.fingerprint);
    std::memcpy(bytes + kMagicAt, kMagic, sizeof kMagic);
    return state;
}

// Programs running on the state may be reading it: every word changes in
// one access, and the header last, so that a state that was cut short is
// never taken for whole.
void reset(std::uint8_t *bytes, const Board &board) {
    const std::vector<std::uint8_t> state = after_reset(board);
    for (std::size_t at = kHeaderSize; at < kStateSize; at += 4) {
        store_word(bytes, at, word_at(state.data(), at));
    }
    for (std::size_t at = kHeaderSize; at > 0; at -= 4) {
        store_word(bytes, at - 4, word_at(state.data(), at - 4));
    }
}

bool holds(const std::uint8_t *bytes, const Board &board) {
    return std::memcmp(bytes + kMagicAt, kMagic, sizeof kMagic) == 0 &&
           word_at(bytes, kLayoutAt) == kLayoutVersion && word_at(bytes, kSizeAt) == kStateSize &&
           long_word_at(bytes, kFingerprintAt) == board.fingerprint;
}

[[noreturn]] void fail(const std::string &what, int err) {
    throw StateError("state " + what + ": " + std::strerror(err));
}

void make_directories(const std::string &dir) {
    for (std::size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string prefix = dir.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) {
            fail("directory " + prefix, errno);
        }
        if (slash == std::string::npos) {
            return;
        }
    }
}

} // namespace

const char *const State::kFileName = "board.state";

// flock() on the state file for as long as it lives; nothing for a state in memory.
class State::Lock {
public:
    Lock(const State &state, int operation) : fd_(state.fd_.get()) {
        while (fd_ >= 0 && ::flock(fd_, operation) != 0 && errno == EINTR) {
        }
    }
    ~Lock() {
        if (fd_ >= 0) {
            ::flock(fd_, LOCK_UN);
        }
    }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

private:
    int fd_;
};

State::State(std::uint8_t *bytes, UniqueFd fd) : bytes_(bytes), fd_(std::move(fd)) {}

State::~State() {
    if (fd_.valid() && bytes_ != nullptr) {
        ::munmap(bytes_, kStateSize);
    }
}

std::unique_ptr<State> State::in_memory(const Board &board) {
    std::unique_ptr<State> state(new State(nullptr, UniqueFd()));
    state->own_.resize(kStateSize);
    state->bytes_ = state->own_.data();
    reset(state->bytes_, board);
    return state;
}

std::unique_ptr<State> State::in_directory(const std::string &dir, const Board &board, bool fresh) {
    make_directories(dir);
    const std::string path = dir + "/" + kFileName;
    UniqueFd fd =
        out_of_the_way(UniqueFd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)));
    if (!fd.valid()) {
        fail("file " + path, errno);
    }
    std::unique_ptr<State> state(new State(nullptr, std::move(fd)));
    Lock lock(*state, LOCK_EX);
    struct stat st {};
    if (::fstat(state->fd_.get(), &st) != 0) {
        fail("file " + path, errno);
    }
    // Only ever grown: another process may have the file mapped.
    if (st.st_size < static_cast<off_t>(kStateSize) &&
        ::ftruncate(state->fd_.get(), static_cast<off_t>(kStateSize)) != 0) {
        fail("file " + path, errno);
    }
    void *map =
        ::mmap(nullptr, kStateSize, PROT_READ | PROT_WRITE, MAP_SHARED, state->fd_.get(), 0);
    if (map == MAP_FAILED) {
        fail("file " + path, errno);
    }
    state->bytes_ = static_cast<std::uint8_t *>(map);
    if (fresh || !holds(state->bytes_, board)) {
        reset(state->bytes_, board);
    }
    return state;
}

std::uint8_t State::ppc_register(unsigned offset) const {
    return load_byte(bytes_, kPpcRegistersAt + offset);
}

void State::set_ppc_register(unsigned offset, std::uint8_t value) {
    store_byte(bytes_, kPpcRegistersAt + offset, value);
}

std::uint32_t State::dcr(unsigned number) const {
    return load_word(bytes_, kDcrsAt + std::size_t{4} * number);
}

void State::set_dcr(unsigned number, std::uint32_t value) {
    store_word(bytes_, kDcrsAt + std::size_t{4} * number, value);
}

std::uint32_t State::led_mode() const { return load_word(bytes_, kLedModeAt); }

void State::set_led_mode(std::uint32_t mode) { store_word(bytes_, kLedModeAt, mode); }

std::uint8_t State::ipmc_register(unsigned offset) const {
    return load_byte(bytes_, kIpmcRegistersAt + offset);
}

void State::set_ipmc_register(unsigned offset, std::uint8_t value) {
    store_byte(bytes_, kIpmcRegistersAt + offset, value);
}

EngRecordBytes State::eng_record() const {
    Lock lock(*this, LOCK_SH);
    EngRecordBytes record{};
    std::copy(bytes_ + kEngRecordAt, bytes_ + kEngRecordAt + record.size(), record.begin());
    return record;
}

void State::set_eng_record(const EngRecordBytes &record) {
    Lock lock(*this, LOCK_EX);
    std::copy(record.begin(), record.end(), bytes_ + kEngRecordAt);
}

IpmcParams State::params() const {
    Lock lock(*this, LOCK_SH);
    hvl::ByteReader in(bytes_ + kIpmcParamsAt, 2);
    IpmcParams params;
    params.modes = in.u8();
    params.extra = in.u8();
    return params;
}

void State::set_params(const IpmcParams &params) {
    Lock lock(*this, LOCK_EX);
    hvl::ByteWriter(bytes_ + kIpmcParamsAt, 2).u8(params.modes).u8(params.extra);
}

} // namespace sim
