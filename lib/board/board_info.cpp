// What the board is, from the IPMC's engineering options, its device ID, its
// SDR records and the FRU data of the board and the mezzanine: the mezzanine,
// the MAC address, and the one-time move of FRU data into the options.
#include "hvl/board_info.h"

#include <cstdio>
#include <cstring>

#include "hvl/hvl_ipmi_bmc.h"
#include "hvl/hvl_ipmi_ostrel.h"
#include "hvl/hvl_ipmi_sensor.h"
#include "log/log_site.h"

namespace {

constexpr int kFailed = -1;
constexpr int kCrcMismatch = -5; // the engineering options fail their CRC

// The SDR record that describes the mezzanine, and what it must say.
constexpr uint16_t kMezzanineRecord = 0x0200;
constexpr uint8_t kMezzanineDeviceType = 0x10;
constexpr uint8_t kMezzanineModifier = 2;

bool is_mezzanine_locator(const SensorInfo &info) {
    return info.kind == SENSOR_KIND_FRU_LOCATOR &&
           info.u.fru_locator.device_type == kMezzanineDeviceType &&
           info.u.fru_locator.device_type_modifier == kMezzanineModifier;
}

// The board's own FRU device, and the text form of its MAC address field.
constexpr int kBoardFru = 0;
constexpr char kMacPrefix[] = "MAC=";
constexpr size_t kMacPrefixLength = sizeof kMacPrefix - 1;
constexpr size_t kMacTextLength = BOARD_INFO_MAC_TEXT_SIZE - 1;
constexpr int kMacValues = 7; // six octets and the suffix
constexpr size_t kMacOctets = 6;

// Reads one "MAC=" field into mac: 0, or 22 when it does not parse.
int read_mac_field(const FruCustomField &field, MacInfo *mac) {
    const char *text = reinterpret_cast<const char *>(field.bytes) + kMacPrefixLength;
    std::strncpy(mac->text, text, kMacTextLength);
    mac->text[kMacTextLength] = '\0';
    unsigned values[kMacValues] = {};
    // NOLINTNEXTLINE(cert-err34-c): the count of converted values is the check
    if (std::sscanf(text, "%x:%x:%x:%x:%x:%x/%x", &values[0], &values[1], &values[2], &values[3],
                    &values[4], &values[5], &values[6]) != kMacValues) {
        HVL_LOGF_AS("board_info_get_mac", MINOR, "MAC address %s not parseable",
                    reinterpret_cast<const char *>(field.bytes));
        return BOARD_INFO_MAC_NOT_PARSEABLE;
    }
    for (size_t i = 0; i < kMacOctets; ++i) {
        mac->mac[i] = static_cast<uint8_t>(values[i]);
    }
    mac->suffix = static_cast<uint8_t>(values[kMacOctets]);
    mac->valid = 1;
    return 0;
}

// The binary custom fields the migration takes, by their type/length bytes.
constexpr uint8_t kMacField = 0x07;              // six octets and the suffix
constexpr uint8_t kBoardOptionsField = 0x20;     // 32 bytes: option byte 0, mezzanine flag 2
constexpr uint8_t kMezzanineOptionsField = 0x10; // 16 bytes: option byte 0

// The options the board's own FRU gives: its MAC field and its option field.
int migrate_board_fields(const FruBoardInfo &board, EngOptions *options) {
    int status = 0;
    if (board.custom[0].type_length == kMacField) {
        HVL_LOGF_AS("board_info_migrate_to_fcap", TRACE, "migrate MAC");
        std::memcpy(options->mac, board.custom[0].bytes, kMacOctets);
        options->mac_suffix = board.custom[0].bytes[kMacOctets];
    } else {
        status = kFailed;
    }
    if (board.custom[1].type_length == kBoardOptionsField) {
        HVL_LOGF_AS("board_info_migrate_to_fcap", TRACE, "migrate eng. options");
        options->board_option = board.custom[1].bytes[0];
        options->mezzanine = board.custom[1].bytes[2];
    } else {
        status = kFailed;
    }
    return status;
}

// The mezzanine's option byte, from the FRU that SDR record 0x0200 names.
int migrate_mezzanine_field(IpmiIntf *intf, EngOptions *options) {
    SensorInfo info{};
    if (const int rc = sensor_info_get_data(intf, &info, kMezzanineRecord); rc != 0) {
        return rc;
    }
    if (!is_mezzanine_locator(info)) {
        return kFailed;
    }
    FruBoardInfo mezzanine{};
    if (const int rc = fru_board_info_get(intf, info.u.fru_locator.fru_device_id, &mezzanine);
        rc != 0) {
        return rc;
    }
    if (mezzanine.custom[0].type_length != kMezzanineOptionsField) {
        return kFailed;
    }
    HVL_LOGF_AS("board_info_migrate_to_fcap", TRACE, "migrate eng. options for mezzanine card");
    options->mezzanine_option = mezzanine.custom[0].bytes[0];
    return 0;
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

const FcapDef board_info_fcap_table[2] = {
    {"handle ", "Overwrites the functionality of the handle switch", 1, 0x01},
    {" ", " ", -1, -1},
};

int board_info_get(IpmiIntf *intf, int fru_id, BoardInfo *info) {
    HVL_LOGF(TRACE, "Enter");
    HVL_LOGF(TRACE, "deprecated function");
    std::memset(info, 0, sizeof *info);
    info->valid = 1;
    return fru_board_info_get(intf, fru_id, &info->board);
}

int board_info_mac_parse(const uint8_t *raw, MacInfo *mac) {
    HVL_LOGF(TRACE, "Enter");
    std::memcpy(mac->mac, raw, kMacOctets);
    mac->suffix = raw[kMacOctets];
    (void)std::snprintf(mac->text, sizeof mac->text, "%02X:%02X:%02X:%02X:%02X:%02X", raw[0],
                        raw[1], raw[2], raw[3], raw[4], raw[5]);
    mac->valid = 1;
    return 0;
}

int board_info_get_eng_mac(IpmiIntf *intf, MacInfo *mac) {
    EngOptions options{};
    if (const int rc = ostrel_engineering_options_get(intf, &options); rc != 0) {
        return rc;
    }
    uint8_t raw[kMacOctets + 1];
    std::memcpy(raw, options.mac, kMacOctets);
    raw[kMacOctets] = options.mac_suffix;
    return board_info_mac_parse(raw, mac);
}

int board_info_get_mac(IpmiIntf *intf, MacInfo *mac) {
    FruBoardInfo board{};
    if (const int rc = fru_board_info_get(intf, kBoardFru, &board); rc != 0) {
        return rc;
    }
    bool found = false;
    for (const FruCustomField &field : board.custom) {
        if (std::memcmp(field.bytes, kMacPrefix, kMacPrefixLength) != 0) {
            continue;
        }
        if (const int rc = read_mac_field(field, mac); rc != 0) {
            return rc;
        }
        found = true;
    }
    return found ? 0 : BOARD_INFO_NO_MAC;
}

int board_info_migrate_to_fcap(IpmiIntf *intf) {
    HVL_LOGF(TRACE, "Enter");
    EngOptions options{};
    const int rc = ostrel_engineering_options_get(intf, &options);
    if (rc == 0) {
        HVL_LOGF(TRACE, "engineering allready set");
        return 0;
    }
    if (rc == kCrcMismatch) {
        HVL_LOGF(TRACE, "engineering options not yet set");
    } else {
        HVL_LOGF(MINOR, "cannot read engineering options, rc=%d", rc);
    }
    options = EngOptions{};
    FruBoardInfo board{};
    int status = fru_board_info_get(intf, kBoardFru, &board);
    if (status == 0) {
        status = migrate_board_fields(board, &options);
        if (status == 0 && options.mezzanine != 0) {
            status = migrate_mezzanine_field(intf, &options);
        }
    }
    if (status != 0) {
        return status;
    }
    status = ostrel_engineering_options_set(intf, &options);
    if (status != 0) {
        HVL_LOGF(MINOR, "cannot save engineering opts, status = %d", status);
    }
    return status;
}

int board_info_fcap_set(IpmiIntf *intf, int index, int value) {
    return ostrel_fcap_set(intf, value, index, board_info_fcap_table);
}

int board_info_fcap_get(IpmiIntf *intf, int index, int *value) {
    return ostrel_fcap_get(intf, index, value, board_info_fcap_table);
}

} // extern "C"
