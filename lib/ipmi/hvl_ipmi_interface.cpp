// Opening and closing the process's IPMI interfaces, pointing one at another
// controller on IPMB-L, and the small formatting helpers: the hex text of
// message bytes for the log, little-endian fields, a printed hex dump and
// code tables.
#include "hvl/hvl_ipmi_interface.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "common/byte_io.h"
#include "hvl/hvl_ipmi_picmg.h"
#include "ipmi/ipmi_codes.h"
#include "log/log_site.h"

namespace {

using hvl::ipmi::kNoAddress;
using hvl::ipmi::kNoInterface;

constexpr char kHexDigits[] = "0123456789abcdef";

// The IPMB channel of IPMB-L, the bus of the IPMC's AMC controllers.
constexpr uint32_t kIpmbLChannel = 7;

constexpr int kHexDumpPerLine = 16;

// The text of a value a code table lacks, with room for any 16-bit value.
// NOLINTNEXTLINE(cppcoreguidelines-avoid-non-const-global-variables)
char unknown_text[sizeof "Unknown (0xffff)"];

void set_target(IpmiIntf *intf, uint8_t addr) {
    intf->target_channel = addr != 0 ? kIpmbLChannel : 0;
    intf->target_addr = addr;
}

// Two characters per byte of the longest message, and the terminator.
char hex_text[2 * IPMI_MAX_DATA_LEN +
              1]; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

} // namespace

namespace hvl::ipmi {

bool intf_missing(const void *intf, const hvl::log::Site &site) {
    if (intf != nullptr) {
        return false;
    }
    if (hvl_log_level_enabled(_hvl_log_this_module, 0, hvl_log_submodule_index, HVL_LOG_MINOR)) {
        hvl_log_message(_hvl_log_this_module, 0, hvl_log_submodule_index, HVL_LOG_MINOR,
                        site.function, site.file, site.line,
                        "HVL_IPMI API called with intf == NULL");
    }
    return true;
}

} // namespace hvl::ipmi

extern "C" {

int open_ipmi_intf(IpmiIntf **intf) {
    if (hvl::ipmi::intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    *intf = ipmi_openipmi_create();
    if (*intf == nullptr) {
        return kNoInterface;
    }
    const int rc = (*intf)->open(*intf);
    if (rc == 0 || rc == kNoAddress) {
        return 0;
    }
    ipmi_intf_free(*intf);
    *intf = nullptr;
    return kNoInterface;
}

void close_ipmi_intf(IpmiIntf *intf) {
    if (intf == nullptr) {
        return;
    }
    intf->close(intf);
    ipmi_intf_free(intf);
}

const char *ipmi_hex_string(const uint8_t *data, int len) {
    if (data == nullptr || len <= 0 || len > IPMI_MAX_DATA_LEN) {
        return nullptr;
    }
    char *out = hex_text;
    for (int i = 0; i < len; ++i) {
        *out++ = kHexDigits[data[i] >> 4];
        *out++ = kHexDigits[data[i] & 0x0f];
    }
    *out = '\0';
    return hex_text;
}

int set_ipml_target_addr(IpmiIntf *intf, uint8_t addr) {
    if (hvl::ipmi::intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    set_target(intf, addr);
    return 0;
}

int set_target_by_fruid(IpmiIntf *intf, uint8_t fruid) {
    if (hvl::ipmi::intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    if (fruid == 0) {
        set_target(intf, 0);
        return 0;
    }
    HVL_LOGF(TRACE, "searching IPML addr for FRU #%d", static_cast<int>(fruid));
    PicmgAddrInfo info{};
    const int rc = picmg_addr_get_by_fruid(intf, fruid, &info);
    if (rc != 0) {
        return rc;
    }
    uint8_t addr = 0;
    const int found = picmg_get_ipml_by_siteid(info.site_id, &addr);
    if (found != 0) {
        HVL_LOGF(MINOR, "cannot discover ipml addr for FRU #%d", static_cast<int>(fruid));
        return found;
    }
    set_target(intf, addr);
    HVL_LOGF(TRACE, "FRU #%d has IPML addr 0x%02x", static_cast<int>(fruid),
             static_cast<unsigned>(addr));
    return 0;
}

uint16_t ipmi_get_le16(const uint8_t *bytes) { return hvl::ByteReader(bytes, 2).u16(); }

uint32_t ipmi_get_le32(const uint8_t *bytes) { return hvl::ByteReader(bytes, 4).u32(); }

void ipmi_print_hexdump(const uint8_t *data, int len, const char *title) {
    if (data == nullptr || len <= 0) {
        return;
    }
    std::printf("%s (%d bytes)\n", title != nullptr ? title : "", len);
    for (int i = 0; i < len; ++i) {
        if (i != 0 && i % kHexDumpPerLine == 0) {
            std::printf("\n");
        }
        std::printf(" %2.2x", static_cast<unsigned>(data[i]));
    }
    std::printf("\n");
}

const char *ipmi_value_to_text(uint16_t value, const ValueText *table) {
    for (const ValueText *row = table; row != nullptr && row->text != nullptr; ++row) {
        if (row->value == value) {
            return row->text;
        }
    }
    std::memset(unknown_text, 0, sizeof unknown_text);
    (void)std::snprintf(unknown_text, sizeof unknown_text, "Unknown (0x%02x)",
                        static_cast<unsigned>(value));
    return unknown_text;
}

uint16_t ipmi_text_to_value(const char *text, const ValueText *table) {
    const size_t length = text != nullptr ? std::strlen(text) : 0;
    for (const ValueText *row = table; text != nullptr && row != nullptr && row->text != nullptr;
         ++row) {
        if (strncasecmp(row->text, text, length) == 0) {
            return row->value;
        }
    }
    return 0;
}

} // extern "C"
