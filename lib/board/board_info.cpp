// What the board is, from the IPMC's engineering options, its device ID and
// its SDR records.
#include "hvl/board_info.h"

#include "hvl/hvl_ipmi_bmc.h"
#include "hvl/hvl_ipmi_ostrel.h"
#include "hvl/hvl_ipmi_sensor.h"
#include "log/log_site.h"

namespace {

constexpr int kFailed = -1;

// The SDR record that describes the mezzanine, and what it must say.
constexpr uint16_t kMezzanineRecord = 0x0200;
constexpr uint8_t kMezzanineDeviceType = 0x10;
constexpr uint8_t kMezzanineModifier = 2;

bool is_mezzanine_locator(const SensorInfo &info) {
    return info.kind == SENSOR_KIND_FRU_LOCATOR &&
           info.u.fru_locator.device_type == kMezzanineDeviceType &&
           info.u.fru_locator.device_type_modifier == kMezzanineModifier;
}

} // namespace

extern "C" {

int board_info_get_piggy_fruid(IpmiIntf *intf, uint8_t *fruid) {
    HVL_LOGF(TRACE, "Enter");
    EngOptions options{};
    if (const int rc = ostrel_engineering_options_get(intf, &options); rc != 0) {
        return rc;
    }
    if (options.mezzanine == 0) {
        return BOARD_INFO_NO_MEZZANINE;
    }
    IpmcDeviceId device{};
    if (const int rc = ipmc_devid_get_data(intf, &device); rc != 0) {
        return rc;
    }
    SensorInfo info{};
    if (const int rc = sensor_info_get_data(intf, &info, kMezzanineRecord); rc != 0) {
        return rc;
    }
    if (!is_mezzanine_locator(info)) {
        return kFailed;
    }
    *fruid = info.u.fru_locator.fru_device_id;
    return 0;
}

} // extern "C"
