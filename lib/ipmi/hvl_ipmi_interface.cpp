// Opening and closing the process's IPMI interfaces, and the hex text of
// message bytes for the log.
#include "hvl/hvl_ipmi_interface.h"

#include "ipmi/ipmi_codes.h"
#include "log/log_site.h"

namespace {

using hvl::ipmi::kNoAddress;
using hvl::ipmi::kNoInterface;

constexpr char kHexDigits[] = "0123456789abcdef";

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

} // extern "C"
