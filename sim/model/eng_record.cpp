#include "eng_record.h"

#include "common/byte_io.h"
#include "ipmi/ostrel_constants.h"

#include <algorithm>

namespace sim {
namespace {

constexpr std::uint8_t kCrcInitial = 0xA5;
constexpr std::uint8_t kCrcPolynomial = 0x07;

EngRecord record_from(const IpmcBoard &ipmc) {
    const EngineeringReset &reset = ipmc.engineering;
    EngRecord record{};
    std::copy(reset.fcap.begin(), reset.fcap.end(), record.fcap);
    EngOptions &opts = record.options;
    opts.board_option = reset.board_option;
    opts.mezzanine = ipmc.mezzanine ? 1 : 0;
    opts.mezzanine_option = reset.mezzanine_option;
    std::copy(reset.further.begin(), reset.further.end(), opts.further);
    std::copy(reset.mac.begin(), reset.mac.end(), opts.mac);
    opts.mac_suffix = reset.mac_suffix;
    return record;
}

} // namespace

std::uint8_t eng_crc8(const std::uint8_t *data, std::size_t length) {
    std::uint8_t crc = kCrcInitial;
    for (std::size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool top = (crc & 0x80) != 0;
            crc = static_cast<std::uint8_t>(crc << 1);
            crc = top ? static_cast<std::uint8_t>(crc ^ kCrcPolynomial) : crc;
        }
    }
    return crc;
}

std::vector<std::uint8_t> eng_record_after_reset(const IpmcBoard &ipmc) {
    if (ipmc.engineering.record) {
        return *ipmc.engineering.record;
    }
    std::vector<std::uint8_t> bytes(OSTREL_ENG_RECORD_SIZE);
    hvl::ByteWriter out(bytes.data(), bytes.size());
    hvl::ostrel::put_eng_record(out, record_from(ipmc));
    const std::size_t options_at = OSTREL_FCAP_SIZE;
    bytes.back() = eng_crc8(bytes.data() + options_at, hvl::ostrel::kEngCrcCovered);
    return bytes;
}

} // namespace sim
