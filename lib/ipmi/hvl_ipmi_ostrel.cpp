// The OEM API of the IPMC: CPLD registers of the IPMC area, the
// engineering options, checked against their CRC-8, and the configuration
// family on top of the requests of ipmi_ostrel.
#include "hvl/hvl_ipmi_ostrel.h"

#include <cstring>

#include "common/byte_io.h"
#include "ipmi/ipmi_codes.h"
#include "ipmi/ipmi_request.h"
#include "ipmi/ostrel_config.h"
#include "ipmi/ostrel_constants.h"
#include "log/log_site.h"

namespace {

using hvl::ipmi::intf_missing;
using hvl::ipmi::kNoInterface;
using hvl::ostrel::Config;
using hvl::ostrel::config_request;
using hvl::ostrel::kOutOfRange;

constexpr int kOptionsCorrupted = -5;

// The CRC-8 over the options as they travel, without their CRC byte.
uint8_t options_crc(const EngOptions &opts) {
    uint8_t bytes[OSTREL_ENG_OPTIONS_SIZE];
    hvl::ByteWriter out(bytes, sizeof bytes);
    hvl::ostrel::put_eng_options(out, opts);
    return ostrel_crc8(bytes, hvl::ostrel::kEngCrcCovered);
}

constexpr int kFailed = -1;

// A configuration request of a public function: its interface checked and
// the failure logged at `site`, the caller's.
int checked(IpmiIntf *intf, const hvl::log::Site &site, Config member,
            std::initializer_list<int> args, const hvl::ostrel::Outputs &out = {}) {
    return intf_missing(intf, site) ? kNoInterface : config_request(intf, member, args, out);
}

// The storage switch a target selects, and the state a mode sets.
int storage_switch(int target) { return target == hvl::ostrel::kSwitch0Target ? 0 : 1; }
int storage_state(int mode) { return mode == hvl::ostrel::kIdleMode ? 0 : 1; }

// The rows of an fcap table before its end, the first row with a negative byte.
unsigned fcap_rows(const FcapDef *table) {
    unsigned rows = 0;
    while (table[rows].byte >= 0) {
        ++rows;
    }
    return rows;
}

// One mode of the controller parameters, `field` of the record.
int mode_get(IpmiIntf *intf, const hvl::log::Site &site, uint8_t ControllerParams::*field,
             int *mode) {
    if (intf_missing(intf, site)) {
        return kNoInterface;
    }
    ControllerParams params{};
    const int rc = ipmi_ostrel_param_get(intf, &params);
    if (rc == 0) {
        *mode = params.*field;
    }
    return rc;
}

// Written only when it changes; the other fields go back as read.
int mode_set(IpmiIntf *intf, const hvl::log::Site &site, uint8_t ControllerParams::*field,
             int mode) {
    if (intf_missing(intf, site)) {
        return kNoInterface;
    }
    ControllerParams params{};
    const int rc = ipmi_ostrel_param_get(intf, &params);
    if (rc != 0 || params.*field == mode) {
        return rc;
    }
    params.*field = static_cast<uint8_t>(mode);
    return ipmi_ostrel_param_set(intf, &params);
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

int ostrel_storage_sw_set(IpmiIntf *intf, int target, int mode) {
    return checked(intf, HVL_HERE, Config::StorageSwSet,
                   {storage_switch(target), storage_state(mode)});
}

int ostrel_storage_sw_get(IpmiIntf *intf, int target, int *mode) {
    return checked(intf, HVL_HERE, Config::StorageSwGet, {storage_switch(target)}, {{mode}});
}

int ostrel_pcie_portconf_set(IpmiIntf *intf, int conf_a, int conf_b) {
    return checked(intf, HVL_HERE, Config::PciePortConfSet, {conf_a, conf_b});
}

int ostrel_pcie_portconf_get(IpmiIntf *intf, int *conf_a, int *conf_b) {
    return checked(intf, HVL_HERE, Config::PciePortConfGet, {}, {{conf_a, conf_b}});
}

int ostrel_pcie_mode_set(IpmiIntf *intf, int mode) {
    return checked(intf, HVL_HERE, Config::PcieModeSet, {mode});
}

int ostrel_pcie_mode_get(IpmiIntf *intf, int *mode) {
    return checked(intf, HVL_HERE, Config::PcieModeGet, {}, {{mode}});
}

int ostrel_pcie_hotplug_set(IpmiIntf *intf, int port, int state) {
    return checked(intf, HVL_HERE, Config::PcieHotplugSet, {port, state});
}

int ostrel_pcie_hotplug_get(IpmiIntf *intf, int port, int *state) {
    return checked(intf, HVL_HERE, Config::PcieHotplugGet, {port}, {{state}});
}

int ostrel_pcie_clock_set(IpmiIntf *intf, int clock) {
    return checked(intf, HVL_HERE, Config::PcieClockSet, {clock});
}

int ostrel_pcie_clock_get(IpmiIntf *intf, int *clock) {
    return checked(intf, HVL_HERE, Config::PcieClockGet, {}, {{clock}});
}

int ostrel_bootcycle_get(IpmiIntf *intf, int *a, int *b, int *c) {
    return checked(intf, HVL_HERE, Config::BootCycleGet, {}, {{a, b, c}});
}

// The check admits 16 bits of b; the request carries 12 of them.
int ostrel_bootcycle_set(IpmiIntf *intf, int a, int b, int c) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    if (static_cast<unsigned>(a) > 2 || static_cast<unsigned>(b) > 0xFFFF ||
        static_cast<unsigned>(c) > 0xFF) {
        return kOutOfRange;
    }
    return config_request(intf, Config::BootCycleSet, {a, b & 0xFF, (b >> 8) & 0x0F, c});
}

int ostrel_set_clock_source(IpmiIntf *intf, int clock, int source) {
    return intf_missing(intf, HVL_HERE) ? kNoInterface
                                        : ipmi_ostrel_clock_source_set(intf, clock, source);
}

int ostrel_get_clock_source(IpmiIntf *intf, int clock, int *source) {
    return intf_missing(intf, HVL_HERE) ? kNoInterface
                                        : ipmi_ostrel_clock_source_get(intf, clock, source);
}

int ostrel_set_clock_driver(IpmiIntf *intf, int clock, int enable) {
    return intf_missing(intf, HVL_HERE) ? kNoInterface
                                        : ipmi_ostrel_clock_driver_set(intf, clock, enable);
}

int ostrel_get_clock_driver(IpmiIntf *intf, int clock, int *enable) {
    return intf_missing(intf, HVL_HERE) ? kNoInterface
                                        : ipmi_ostrel_clock_driver_get(intf, clock, enable);
}

int ostrel_set_pll_config(IpmiIntf *intf, int pll, int config) {
    return intf_missing(intf, HVL_HERE) ? kNoInterface
                                        : ipmi_ostrel_pll_config_set(intf, pll, config);
}

int ostrel_get_pll_config(IpmiIntf *intf, int pll, int *config) {
    return intf_missing(intf, HVL_HERE) ? kNoInterface
                                        : ipmi_ostrel_pll_config_get(intf, pll, config);
}

int ostrel_get_pll_status(IpmiIntf *intf, int *status) {
    return intf_missing(intf, HVL_HERE) ? kNoInterface : ipmi_ostrel_pll_status_get(intf, status);
}

int ipmi_set_debug(IpmiIntf *intf, int flag_a, int flag_b) {
    return checked(intf, HVL_HERE, Config::Debug,
                   {(flag_a != 0 ? 0x01 : 0) | (flag_b != 0 ? 0x10 : 0)});
}

int ipmc_release_get_data(IpmiIntf *intf, IpmcRelease *release) {
    std::memset(release, 0, sizeof *release);
    return checked(intf, HVL_HERE, Config::Release, {}, {{}, nullptr, release});
}

int ostrel_set_device_id_string(IpmiIntf *intf, const char *text) {
    constexpr size_t kManufacturerAt = 6;
    constexpr size_t kLongestText = 16;
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    IpmiResponse response{};
    const int rc = ipmi_device_id_get(intf, &response);
    if (rc != 0) {
        return rc;
    }
    hvl::ByteReader ids = hvl::ipmi::unchecked_data(response);
    ids.skip(kManufacturerAt);
    const uint32_t manufacturer_low = ids.u16();
    const uint32_t manufacturer = manufacturer_low | static_cast<uint32_t>(ids.u8()) << 16;
    const uint16_t product = ids.u16();
    uint8_t data[5 + kLongestText] = {};
    hvl::ByteWriter args(data, sizeof data);
    if (manufacturer != 0 || product != 0 || text != nullptr) {
        if (text == nullptr) {
            return kFailed;
        }
        args.u16(static_cast<uint16_t>(manufacturer)).u8(static_cast<uint8_t>(manufacturer >> 16));
        args.u16(product);
        args.bytes(reinterpret_cast<const uint8_t *>(text), strnlen(text, kLongestText));
    }
    return config_request(intf, Config::DeviceIdString, args, {});
}

int ostrel_xfp_read(IpmiIntf *intf, int port, int offset, int length, uint8_t *buffer) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    if (length < 0) {
        return kOutOfRange;
    }
    return hvl::ostrel::in_pieces(length, [&](int done, int size) {
        return ipmi_ostrel_xfp_read(intf, port, offset + done, size, buffer + done);
    });
}

int ostrel_fcap_set(IpmiIntf *intf, int value, int index, const FcapDef *table) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    EngRecord record{};
    if (table == nullptr || ipmi_ostrel_eng_record_get(intf, &record) != 0 ||
        static_cast<unsigned>(index) >= fcap_rows(table)) {
        return kFailed;
    }
    const FcapDef &row = table[index];
    if (row.byte > 2 || row.mask < 0 || row.mask > 0xFF) {
        HVL_LOGF(MAJOR, "invalid fcap locator (%d, %d, %d)\n", index, row.byte, row.mask);
        return kFailed;
    }
    uint8_t &flags = record.fcap[row.byte];
    flags = static_cast<uint8_t>((flags & ~row.mask) | (value != 0 ? row.mask : 0));
    return ipmi_ostrel_eng_record_set(intf, &record);
}

int ostrel_fcap_get(IpmiIntf *intf, int index, int *value, const FcapDef *table) {
    if (intf_missing(intf, HVL_HERE)) {
        return kNoInterface;
    }
    if (table == nullptr || static_cast<unsigned>(index) >= fcap_rows(table)) {
        return kFailed;
    }
    EngRecord record{};
    const int rc = ipmi_ostrel_eng_record_get(intf, &record);
    if (rc == 0) {
        const FcapDef &row = table[index];
        const bool in_record = row.byte >= 0 && row.byte < OSTREL_FCAP_SIZE;
        *value = in_record && (record.fcap[row.byte] & row.mask) != 0 ? 1 : 0;
    }
    return rc;
}

int ostrel_ipmb_mode_get(IpmiIntf *intf, int *mode) {
    return mode_get(intf, HVL_HERE, &ControllerParams::ipmb_mode, mode);
}

int ostrel_ipmb_mode_set(IpmiIntf *intf, int mode) {
    return mode_set(intf, HVL_HERE, &ControllerParams::ipmb_mode, mode);
}

int ostrel_pm_mode_get(IpmiIntf *intf, int *mode) {
    return mode_get(intf, HVL_HERE, &ControllerParams::pm_mode, mode);
}

int ostrel_pm_mode_set(IpmiIntf *intf, int mode) {
    return mode_set(intf, HVL_HERE, &ControllerParams::pm_mode, mode);
}

} // extern "C"
