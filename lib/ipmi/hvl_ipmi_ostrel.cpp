// The OEM API of the IPMC: CPLD registers of the IPMC area and the
// engineering options, checked against their CRC-8.
#include "hvl/hvl_ipmi_ostrel.h"

#include "common/byte_io.h"
#include "ipmi/ipmi_codes.h"
#include "ipmi/ostrel_constants.h"
#include "log/log_site.h"

namespace {

using hvl::ipmi::intf_missing;
using hvl::ipmi::kNoInterface;

constexpr int kOptionsCorrupted = -5;

// The CRC-8 over the options as they travel, without their CRC byte.
uint8_t options_crc(const EngOptions &opts) {
    uint8_t bytes[OSTREL_ENG_OPTIONS_SIZE];
    hvl::ByteWriter out(bytes, sizeof bytes);
    hvl::ostrel::put_eng_options(out, opts);
    return ostrel_crc8(bytes, hvl::ostrel::kEngCrcCovered);
}

} // namespace

extern "C" {

int ostrel_cpldreg_read(IpmiIntf *intf, uint32_t offset, uint8_t *value) {
    *value = 0;
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    return ipmi_ostrel_cpldreg_read(intf, offset, value);
}

int ostrel_cpldreg_write(IpmiIntf *intf, uint32_t offset, uint32_t value) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    return ipmi_ostrel_cpldreg_write(intf, offset, value);
}

int ostrel_engineering_options_get(IpmiIntf *intf, EngOptions *opts) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    EngRecord record{};
    const int rc = ipmi_ostrel_eng_record_get(intf, &record);
    if (rc != 0) {
        return rc;
    }
    *opts = record.options;
    if (options_crc(*opts) != opts->crc) {
        HVL_LOGF(MINOR, "engineering options corrupted\n");
        return kOptionsCorrupted;
    }
    return 0;
}

int ostrel_engineering_options_set(IpmiIntf *intf, EngOptions *opts) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    EngRecord record{};
    const int rc = ipmi_ostrel_eng_record_get(intf, &record);
    if (rc != 0) {
        return rc;
    }
    opts->crc = options_crc(*opts);
    record.options = *opts;
    return ipmi_ostrel_eng_record_set(intf, &record);
}

} // extern "C"
