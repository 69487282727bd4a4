// The process-wide connection to the CPLD driver: one ioctl per command on a
// three-word record, raw PPC-area registers, DCRs and a few board commands.
#include "hvl/cpld.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>

#include "cpld/cpld_area.h"
#include "log/log_site.h"
#include "sys/sys_ops.h"

// The driver's requests as the board's kernel numbers them: no data
// direction (1 in bits 29 to 31 on PowerPC), type 'C', the command code.
#if defined(__powerpc__)
static_assert(CPLD_VERSION_READ == 0x20004300U && CPLD_SDRAM0CFG_READ == 0x2000430AU,
              "driver request numbers of the board");
#endif

namespace {

struct DriverState {
    int fd = -1;
    uint8_t version = 0xFF;
};

DriverState driver; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

constexpr uint32_t debug_led_reg = 0x11;
constexpr int debug_led_bits[] = {6, 7};

CpldIo request_record(uint32_t param0, uint32_t param1) { return CpldIo{-1, param0, param1}; }

int open_ppc_area(const char *function) {
    driver.fd = hvl::sys::ops().open(CPLD_DEVICE, O_RDWR);
    if (driver.fd < 0) {
        HVL_LOGF_AS(function, MINOR, "cannot open %s: %s (%d)", CPLD_DEVICE, strerror(errno),
                    errno);
        return -1;
    }
    const int rc = cpld_version_read(&driver.version);
    HVL_LOGF_AS(function, TRACE, "found CPLD version %d", static_cast<unsigned>(driver.version));
    return rc;
}

// Register accesses log a failed request under their own name.
void log_ioctl_failure(int rc, const char *function) {
    if (rc != 0) {
        HVL_LOGF_AS(function, MINOR, "ioctl failed: %s (%d)", strerror(errno), errno);
    }
}

} // namespace

extern "C" {

int cpld_open(RegisterArea area) {
    switch (area) {
    case PPC:
        return open_ppc_area(__func__);
    case IPMC:
        return hvl::cpld::open_ipmc_area(__func__);
    }
    return 0;
}

void cpld_close(void) {
    if (driver.fd >= 0) {
        hvl::sys::ops().close(driver.fd);
    }
    driver.fd = -1;
    driver.version = 0;
    hvl::cpld::close_ipmc_area();
}

int cpld_cmd_send(uint32_t request, CpldIo *io) {
    if (driver.fd < 0) {
        HVL_LOGF(TRACE, "CPLD driver not open");
        return -1;
    }
    const int ret = hvl::sys::ops().ioctl(driver.fd, request, io);
    if (ret != 0) {
        return ret;
    }
    HVL_LOGF(DEBUG, "ioctl returned no error io->rc %d", static_cast<int>(io->rc));
    return io->rc;
}

int cpld_ppcreg_read(uint32_t offset, uint8_t *value) {
    CpldIo io = request_record(offset, 0);
    const int rc = cpld_cmd_send(CPLD_PPCREG_READ, &io);
    *value = static_cast<uint8_t>(io.param1 & 0xFFU);
    log_ioctl_failure(rc, __func__);
    return rc;
}

int cpld_ppcreg_write(uint32_t offset, uint8_t value) {
    CpldIo io = request_record(offset, value);
    const int rc = cpld_cmd_send(CPLD_PPCREG_WRITE, &io);
    log_ioctl_failure(rc, __func__);
    return rc;
}

int cpld_dcr_read(uint32_t dcr, uint32_t *value) {
    CpldIo io = request_record(dcr, 0);
    const int rc = cpld_cmd_send(CPLD_DCR_READ, &io);
    *value = io.param1;
    return rc;
}

int cpld_dcr_write(uint32_t dcr, uint32_t value) {
    CpldIo io = request_record(dcr, value);
    return cpld_cmd_send(CPLD_DCR_WRITE, &io);
}

int cpld_sdram0cfg_read(uint32_t reg, uint32_t *value) {
    CpldIo io = request_record(reg, 0);
    const int rc = cpld_cmd_send(CPLD_SDRAM0CFG_READ, &io);
    *value = io.param1;
    HVL_LOGF(DEBUG, "cpld_cmd_send CPLD_SDRAM0CFG_READ io.param0 0x%x io.param1 0x%x returned %d",
             static_cast<unsigned>(io.param0), static_cast<unsigned>(io.param1), rc);
    return rc;
}

int cpld_version_read(uint8_t *version) {
    CpldIo io = request_record(0, 0);
    const int rc = cpld_cmd_send(CPLD_VERSION_READ, &io);
    *version = static_cast<uint8_t>(io.param0 & 0xFFU);
    return rc;
}

int cpld_post_code_read(uint8_t *low, uint8_t *high) {
    const int rc = cpld_ppcreg_read(0, low);
    if (rc != 0) {
        return rc;
    }
    return cpld_ppcreg_read(1, high);
}

int cpld_dbg_led_mode_set(int mode) {
    if (mode != 0 && mode != 1) {
        HVL_LOGF(MINOR, "invalid led mode: %s (%d)", strerror(errno), errno);
        return -1;
    }
    CpldIo io = request_record(static_cast<uint32_t>(mode), 0);
    return cpld_cmd_send(CPLD_DBG_LED_MODE, &io);
}

int cpld_dbg_led_mode_get(uint32_t *mode) {
    // A get carries no mode: param0 holds all ones, which no mode has.
    CpldIo io = request_record(CPLD_DBG_LED_MODE_GET, 0);
    const int rc = cpld_cmd_send(CPLD_DBG_LED_MODE, &io);
    if (rc != 0) {
        HVL_LOGF(MINOR, "cannot get led mode: %s (%d)", strerror(errno), errno);
        return rc;
    }
    *mode = io.param0;
    return rc;
}

int cpld_debug_led_bit_set(int which, int on) {
    if (which != 0 && which != 1) {
        return -1;
    }
    uint8_t reg = 0;
    const int rc = cpld_ppcreg_read(debug_led_reg, &reg);
    if (rc != 0) {
        return rc;
    }
    const int bit = debug_led_bits[which];
    reg = static_cast<uint8_t>((reg & ~(1U << bit)) | ((static_cast<unsigned>(on) & 1U) << bit));
    return cpld_ppcreg_write(debug_led_reg, reg);
}

int cpld_debug_led_bit_get(int which, uint8_t *state) {
    if (which != 0 && which != 1) {
        return -1;
    }
    uint8_t reg = 0;
    const int rc = cpld_ppcreg_read(debug_led_reg, &reg);
    *state = static_cast<uint8_t>((reg >> debug_led_bits[which]) & 1U);
    return rc;
}

int cpld_cmd5_send(uint32_t value) {
    CpldIo io = request_record(value, 0);
    return cpld_cmd_send(CPLD_CMD5, &io);
}

} // extern "C"
