#include "board_image.h"

#include "board_files.h"
#include "cpld_driver.h"
#include "ipmi_device.h"
#include "state.h"
#include "unique_fd.h"

#include "common/byte_io.h"

#include <hvl/hvl_ipmi_ostrel.h>

#include <fcntl.h>
#include <linux/ipmi.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <string_view>

namespace sim {
namespace {

// The header: magic, layout version, size of the whole image, fingerprint of
// the board files. Then the board, then the checksum of all that.
constexpr std::uint8_t kMagic[8] = {'H', 'W', 'S', 'I', 'M', 'I', 'M', '\0'};
constexpr std::uint32_t kLayoutVersion = 1;
constexpr std::size_t kHeaderSize = 24;
constexpr std::size_t kChecksumSize = 8;
// Room for a board without many faults; a larger one is written again in more.
constexpr std::size_t kFirstGuess = 4096;
// Larger than any board, however many faults it has.
constexpr std::size_t kLargestImage = std::size_t{16} << 20;

// A register's flags byte.
constexpr std::uint8_t kImplemented = 0x01;
constexpr std::uint8_t kReadOnly = 0x02;
constexpr std::uint8_t kHasMezzanineReset = 0x04;
constexpr std::uint8_t kRegisterFlags = kImplemented | kReadOnly | kHasMezzanineReset;

std::uint64_t checksum(const std::uint8_t *bytes, std::size_t size) {
    return add_to_fingerprint(kFingerprintStart,
                              std::string_view(reinterpret_cast<const char *>(bytes), size));
}

// The image's fields on top of the byte writer: 64-bit numbers, flags, and
// runs of bytes after their count.
class Out {
public:
    Out(std::uint8_t *bytes, std::size_t size) : out_(bytes, size) {}

    Out &u8(std::uint8_t value) { return done(out_.u8(value)); }
    Out &u16(std::uint16_t value) { return done(out_.u16(value)); }
    Out &u32(std::uint32_t value) { return done(out_.u32(value)); }
    Out &u64(std::uint64_t value) {
        return u32(static_cast<std::uint32_t>(value)).u32(static_cast<std::uint32_t>(value >> 32));
    }
    Out &flag(bool value) { return u8(value ? 1 : 0); }
    template <std::size_t N> Out &array(const std::array<std::uint8_t, N> &bytes) {
        return raw(bytes.data(), N);
    }
    Out &raw(const std::uint8_t *bytes, std::size_t count) {
        return done(out_.bytes(bytes, count));
    }
    Out &run(const std::uint8_t *bytes, std::size_t count) {
        return done(out_.u32(static_cast<std::uint32_t>(count)).bytes(bytes, count));
    }
    Out &run(const std::vector<std::uint8_t> &bytes) { return run(bytes.data(), bytes.size()); }
    Out &text(std::string_view text) {
        return run(reinterpret_cast<const std::uint8_t *>(text.data()), text.size());
    }

    bool ok() const { return out_.ok(); }
    std::size_t length() const { return out_.length(); }

private:
    Out &done(const hvl::ByteWriter &) { return *this; }

    hvl::ByteWriter out_;
};

// The reading side of Out. A value out of its range spoils the image as
// running past its end does.
class In {
public:
    In(const std::uint8_t *bytes, std::size_t size) : in_(bytes, size) {}

    std::uint8_t u8() { return in_.u8(); }
    std::uint16_t u16() { return in_.u16(); }
    std::uint32_t u32() { return in_.u32(); }
    std::uint64_t u64() {
        const std::uint64_t low = u32();
        return low | static_cast<std::uint64_t>(u32()) << 32;
    }
    bool flag() { return upto(1) == 1; }
    // A byte from 0 to `max`, e.g. an enumerator.
    std::uint8_t upto(std::uint8_t max) {
        const std::uint8_t value = u8();
        check(value <= max);
        return value;
    }
    template <std::size_t N> void array(std::array<std::uint8_t, N> &bytes) {
        in_.bytes(bytes.data(), N);
    }
    // A run of at most `max` bytes.
    std::vector<std::uint8_t> run(std::size_t max) {
        const std::uint32_t count = u32();
        if (!check(count <= max && count <= in_.remaining())) {
            return {};
        }
        std::vector<std::uint8_t> bytes(count);
        in_.bytes(bytes.data(), count);
        return bytes;
    }
    std::string text() {
        const std::vector<std::uint8_t> bytes = run(in_.remaining());
        return std::string(bytes.begin(), bytes.end());
    }

    // Spoils the image unless `good`; tells `good`.
    bool check(bool good) {
        spoilt_ = spoilt_ || !good;
        return good;
    }
    bool ok() const { return !spoilt_ && in_.ok(); }
    bool finished() const { return !spoilt_ && in_.finished(); }

private:
    hvl::ByteReader in_;
    bool spoilt_ = false;
};

template <typename T> void put_optional(Out &out, const std::optional<T> &value) {
    out.flag(value.has_value());
    if (value) {
        out.u32(*value);
    }
}

std::optional<std::uint32_t> get_optional(In &in, std::uint32_t max) {
    if (!in.flag()) {
        return std::nullopt;
    }
    const std::uint32_t value = in.u32();
    in.check(value <= max);
    return value;
}

// ---- Registers and words ----

bool as_constructed(const CpldRegister &reg) {
    const CpldRegister plain;
    return reg.implemented == plain.implemented && reg.reset == plain.reset &&
           reg.read_only == plain.read_only && reg.mezzanine_reset == plain.mezzanine_reset;
}

// The registers other than as CpldRegister is constructed (unimplemented),
// by offset.
void put_area(Out &out, const RegisterArea &area) {
    out.u16(static_cast<std::uint16_t>(
        area.size() -
        static_cast<std::size_t>(std::count_if(area.begin(), area.end(), as_constructed))));
    for (std::size_t offset = 0; offset < area.size(); ++offset) {
        const CpldRegister &reg = area[offset];
        if (!as_constructed(reg)) {
            out.u8(static_cast<std::uint8_t>(offset))
                .u8(static_cast<std::uint8_t>((reg.implemented ? kImplemented : 0) |
                                              (reg.read_only ? kReadOnly : 0) |
                                              (reg.mezzanine_reset ? kHasMezzanineReset : 0)))
                .u8(reg.reset)
                .u8(reg.mezzanine_reset.value_or(0));
        }
    }
}

void get_area(In &in, RegisterArea &area) {
    const std::uint16_t count = in.u16();
    in.check(count <= area.size());
    for (std::uint16_t i = 0; i < count && in.ok(); ++i) {
        CpldRegister &reg = area[in.u8()];
        const std::uint8_t flags = in.u8();
        in.check((flags & ~kRegisterFlags) == 0);
        reg.implemented = (flags & kImplemented) != 0;
        reg.read_only = (flags & kReadOnly) != 0;
        reg.reset = in.u8();
        const std::uint8_t mezzanine = in.u8();
        reg.mezzanine_reset.reset();
        if ((flags & kHasMezzanineReset) != 0) {
            reg.mezzanine_reset = mezzanine;
        }
    }
}

void put_words(Out &out, const std::map<std::uint32_t, std::uint32_t> &words) {
    out.u32(static_cast<std::uint32_t>(words.size()));
    for (const auto &[number, value] : words) {
        out.u32(number).u32(value);
    }
}

// Words numbered below `limit`.
void get_words(In &in, std::uint32_t limit, std::map<std::uint32_t, std::uint32_t> &words) {
    const std::uint32_t count = in.u32();
    in.check(count <= limit);
    for (std::uint32_t i = 0; i < count && in.ok(); ++i) {
        const std::uint32_t number = in.u32();
        const std::uint32_t value = in.u32();
        if (in.check(number < limit)) {
            words[number] = value;
        }
    }
}

// ---- The CPLD ----

// Requests by name: their numbers differ between the host and the board.
void put_fault(Out &out, const Fault &fault) {
    out.flag(fault.on_open).text(fault.on_open ? "" : cpld_request_name(fault.request));
    put_optional(out, fault.param0);
    out.u32(fault.occurrence)
        .u8(static_cast<std::uint8_t>(fault.effect))
        .u64(static_cast<std::uint64_t>(fault.value));
}

Fault get_fault(In &in) {
    Fault fault;
    fault.on_open = in.flag();
    const std::string name = in.text();
    if (!fault.on_open) {
        const std::optional<unsigned long> request = cpld_request_named(name);
        fault.request = in.check(request.has_value()) ? *request : 0;
    }
    in.check(!fault.on_open || name.empty());
    fault.param0 = get_optional(in, UINT32_MAX);
    fault.occurrence = in.u32();
    fault.effect =
        static_cast<FaultEffect>(in.upto(static_cast<std::uint8_t>(FaultEffect::StoreXor)));
    fault.value = static_cast<std::int64_t>(in.u64());
    return fault;
}

void put_cpld(Out &out, const CpldBoard &cpld) {
    out.u8(cpld.version).u32(cpld.led_mode);
    put_area(out, cpld.registers);
    put_words(out, cpld.dcrs);
    put_words(out, cpld.sdram0);
    out.u32(static_cast<std::uint32_t>(cpld.faults.size()));
    for (const Fault &fault : cpld.faults) {
        put_fault(out, fault);
    }
}

void get_cpld(In &in, CpldBoard &cpld) {
    cpld.version = in.u8();
    cpld.led_mode = in.u32();
    get_area(in, cpld.registers);
    get_words(in, kDcrCount, cpld.dcrs);
    get_words(in, kSdram0Count, cpld.sdram0);
    const std::uint32_t count = in.u32();
    for (std::uint32_t i = 0; i < count && in.ok(); ++i) {
        cpld.faults.push_back(get_fault(in));
    }
}

// ---- The IPMC ----

void put_identity(Out &out, const DeviceIdentity &id) {
    out.u8(id.device_id)
        .u8(id.device_revision)
        .flag(id.provides_sdrs)
        .u8(id.firmware_major)
        .u8(id.firmware_minor)
        .u8(id.ipmi_version)
        .u8(id.device_support)
        .u32(id.manufacturer_id)
        .u16(id.product_id)
        .array(id.aux_firmware);
}

void get_identity(In &in, DeviceIdentity &id) {
    id.device_id = in.u8();
    id.device_revision = in.u8();
    id.provides_sdrs = in.flag();
    id.firmware_major = in.u8();
    id.firmware_minor = in.u8();
    id.ipmi_version = in.u8();
    id.device_support = in.u8();
    id.manufacturer_id = in.u32();
    id.product_id = in.u16();
    in.array(id.aux_firmware);
}

void put_picmg(Out &out, const PicmgAddress &picmg) {
    out.u8(picmg.hardware_address)
        .u8(picmg.ipmb0_address)
        .u8(picmg.site_id)
        .u8(picmg.site_type)
        .u8(picmg.extension_version)
        .u8(picmg.max_fru_id);
}

void get_picmg(In &in, PicmgAddress &picmg) {
    picmg.hardware_address = in.u8();
    picmg.ipmb0_address = in.u8();
    picmg.site_id = in.u8();
    picmg.site_type = in.u8();
    picmg.extension_version = in.u8();
    picmg.max_fru_id = in.u8();
}

void put_engineering(Out &out, const EngineeringReset &eng) {
    out.array(eng.fcap)
        .u8(eng.board_option)
        .u8(eng.mezzanine_option)
        .array(eng.further)
        .array(eng.mac)
        .u8(eng.mac_suffix)
        .flag(eng.record.has_value());
    if (eng.record) {
        out.run(*eng.record);
    }
}

void get_engineering(In &in, EngineeringReset &eng) {
    in.array(eng.fcap);
    eng.board_option = in.u8();
    eng.mezzanine_option = in.u8();
    in.array(eng.further);
    in.array(eng.mac);
    eng.mac_suffix = in.u8();
    eng.record.reset();
    if (in.flag()) {
        eng.record = in.run(OSTREL_ENG_RECORD_SIZE);
        in.check(eng.record->size() == OSTREL_ENG_RECORD_SIZE);
    }
}

void put_ipmi_fault(Out &out, const IpmiFault &fault) {
    out.text(fault.request);
    put_optional(out, fault.netfn);
    put_optional(out, fault.cmd);
    out.u32(static_cast<std::uint32_t>(fault.data_from))
        .run(fault.data)
        .u32(fault.occurrence)
        .u8(static_cast<std::uint8_t>(fault.effect))
        .u64(static_cast<std::uint64_t>(fault.value))
        .run(fault.answer);
}

std::optional<std::uint8_t> get_byte(In &in) {
    const std::optional<std::uint32_t> value = get_optional(in, 0xFF);
    return value ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(*value)) : std::nullopt;
}

IpmiFault get_ipmi_fault(In &in) {
    IpmiFault fault;
    fault.request = in.text();
    in.check(fault.request == "open" || ipmi_request_named(fault.request).has_value());
    fault.netfn = get_byte(in);
    fault.cmd = get_byte(in);
    fault.data_from = in.u32();
    in.check(fault.data_from <= IPMI_MAX_MSG_LENGTH);
    fault.data = in.run(IPMI_MAX_MSG_LENGTH);
    fault.occurrence = in.u32();
    fault.effect =
        static_cast<IpmiFaultEffect>(in.upto(static_cast<std::uint8_t>(IpmiFaultEffect::Length)));
    fault.value = static_cast<std::int64_t>(in.u64());
    // The answer a Length fault pads to is made in full.
    in.check(fault.effect != IpmiFaultEffect::Length ||
             (fault.value >= 0 && fault.value <= static_cast<std::int64_t>(kMaxFaultAnswer)));
    fault.answer = in.run(kMaxFaultAnswer);
    return fault;
}

void put_ipmc(Out &out, const IpmcBoard &ipmc) {
    out.flag(ipmc.present).flag(ipmc.mezzanine);
    put_identity(out, ipmc.identity);
    put_picmg(out, ipmc.picmg);
    put_area(out, ipmc.registers);
    put_engineering(out, ipmc.engineering);
    out.u8(ipmc.params.modes).u8(ipmc.params.extra);
    out.u32(static_cast<std::uint32_t>(ipmc.faults.size()));
    for (const IpmiFault &fault : ipmc.faults) {
        put_ipmi_fault(out, fault);
    }
}

void get_ipmc(In &in, IpmcBoard &ipmc) {
    ipmc.present = in.flag();
    ipmc.mezzanine = in.flag();
    get_identity(in, ipmc.identity);
    get_picmg(in, ipmc.picmg);
    get_area(in, ipmc.registers);
    get_engineering(in, ipmc.engineering);
    ipmc.params.modes = in.u8();
    ipmc.params.extra = in.u8();
    const std::uint32_t count = in.u32();
    for (std::uint32_t i = 0; i < count && in.ok(); ++i) {
        ipmc.faults.push_back(get_ipmi_fault(in));
    }
}

// ---- The board ----

void put_board(Out &out, const Board &board) {
    out.u32(static_cast<std::uint32_t>(board.bases.size()));
    for (const std::string &base : board.bases) {
        out.text(base);
    }
    out.text(board.name).text(board.description);
    put_cpld(out, board.cpld);
    put_ipmc(out, board.ipmc);
}

void get_board(In &in, Board &board) {
    const std::uint32_t bases = in.u32();
    for (std::uint32_t i = 0; i < bases && in.ok(); ++i) {
        board.bases.push_back(in.text());
    }
    board.name = in.text();
    board.description = in.text();
    get_cpld(in, board.cpld);
    get_ipmc(in, board.ipmc);
}

// The image, if it fits `size` bytes.
std::optional<std::vector<std::uint8_t>> encode_in(const Board &board, std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    Out body(bytes.data() + kHeaderSize, size - kHeaderSize - kChecksumSize);
    put_board(body, board);
    if (!body.ok()) {
        return std::nullopt;
    }
    const std::size_t summed = kHeaderSize + body.length();
    bytes.resize(summed + kChecksumSize);
    Out(bytes.data(), kHeaderSize)
        .raw(kMagic, sizeof kMagic)
        .u32(kLayoutVersion)
        .u32(static_cast<std::uint32_t>(bytes.size()))
        .u64(board.fingerprint);
    Out(bytes.data() + summed, kChecksumSize).u64(checksum(bytes.data(), summed));
    return bytes;
}

[[noreturn]] void fail(const std::string &path, int err) {
    throw StateError("state image " + path + ": " + std::strerror(err));
}

bool write_all(int fd, const std::vector<std::uint8_t> &bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno != EINTR) {
            return false;
        }
        done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    }
    return true;
}

// The whole file, unless it cannot be read or is too large to be an image.
std::optional<std::vector<std::uint8_t>> read_whole(const std::string &path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || st.st_size < 0 ||
        static_cast<std::uint64_t>(st.st_size) > kLargestImage) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (got == 0 || (got < 0 && errno != EINTR)) {
            return std::nullopt;
        }
        done += got > 0 ? static_cast<std::size_t>(got) : 0;
    }
    return bytes;
}

} // namespace

std::vector<std::uint8_t> encode_board_image(const Board &board) {
    for (std::size_t size = kFirstGuess;; size *= 2) {
        if (std::optional<std::vector<std::uint8_t>> bytes = encode_in(board, size)) {
            return std::move(*bytes);
        }
    }
}

std::optional<Board> decode_board_image(const std::uint8_t *bytes, std::size_t size) {
    if (bytes == nullptr || size < kHeaderSize + kChecksumSize) {
        return std::nullopt;
    }
    const std::size_t summed = size - kChecksumSize;
    In head(bytes, kHeaderSize);
    std::array<std::uint8_t, sizeof kMagic> magic{};
    head.array(magic);
    const std::uint32_t layout = head.u32();
    const std::uint32_t whole = head.u32();
    Board board;
    board.fingerprint = head.u64();
    if (!std::equal(magic.begin(), magic.end(), std::begin(kMagic)) || layout != kLayoutVersion ||
        whole != size || In(bytes + summed, kChecksumSize).u64() != checksum(bytes, summed)) {
        return std::nullopt;
    }
    In in(bytes + kHeaderSize, summed - kHeaderSize);
    get_board(in, board);
    if (!in.finished()) {
        return std::nullopt;
    }
    return board;
}

void write_board_image(const std::string &dir, const Board &board) {
    const std::vector<std::uint8_t> bytes = encode_board_image(board);
    const std::string path = dir + "/" + kImageFileName;
    std::string temp = path + ".XXXXXX";
    UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.valid()) {
        fail(path, errno);
    }
    const bool written = write_all(fd.get(), bytes) && ::fchmod(fd.get(), 0644) == 0;
    int err = errno;
    fd.reset();
    if (written && ::rename(temp.c_str(), path.c_str()) == 0) {
        return;
    }
    err = written ? errno : err;
    ::unlink(temp.c_str());
    fail(path, err);
}

Board read_board_image(const std::string &dir, const std::string &path) {
    const std::string image = dir + "/" + kImageFileName;
    const std::optional<std::vector<std::uint8_t>> bytes = read_whole(image);
    if (!bytes) {
        throw ImageError("no board image " + image + " (run the program under hwsim)");
    }
    std::optional<Board> board = decode_board_image(bytes->data(), bytes->size());
    if (!board) {
        throw ImageError("board image " + image + " is damaged (run the program under hwsim)");
    }
    if (fingerprint_of_files(path, board->bases) != board->fingerprint) {
        throw ImageError("board image " + image + " is not of " + path +
                         " as it reads now (run the program under hwsim)");
    }
    return std::move(*board);
}

} // namespace sim
