// Caller-owned connections to the CPLD driver. Results are errno-style codes
// rather than -1, and the caller may hold several handles at once.
#include <cerrno>
#include <cstring>
#include <fcntl.h>

#include "hvl/cpld.h"
#include "log/log_site.h"
#include "sys/sys_ops.h"

namespace {

// The argument checks every handle command makes first; 0 when the handle is usable.
int check_handle(const CpldHandle *handle, const char *function) {
    if (handle == nullptr) {
        HVL_LOGF_AS(function, MAJOR, "invalid handle");
        return EINVAL;
    }
    if (*handle < 0) {
        HVL_LOGF_AS(function, MINOR, "handle not opened");
        return ENODEV;
    }
    return 0;
}

int send_reg_command(CpldHandle *handle, uint32_t request, CpldIo *io, const char *function) {
    const int rc = cpld_handle_cmd_send(handle, request, io);
    if (rc != 0) {
        HVL_LOGF_AS(function, MINOR, "ioctl failed: %s (%d)", strerror(errno), errno);
    }
    return rc;
}

} // namespace

extern "C" {

int cpld_handle_open(CpldHandle *handle) {
    if (handle == nullptr) {
        HVL_LOGF(MAJOR, "invalid handle");
        return EINVAL;
    }
    *handle = hvl::sys::ops().open(CPLD_DEVICE, O_RDWR);
    if (*handle < 0) {
        HVL_LOGF(MINOR, "cannot open %s: %s (%d)", CPLD_DEVICE, strerror(errno), errno);
        return ENODEV;
    }
    return 0;
}

int cpld_handle_close(CpldHandle *handle) {
    if (handle == nullptr) {
        HVL_LOGF(MAJOR, "invalid handle");
        return EINVAL;
    }
    if (*handle >= 0) {
        hvl::sys::ops().close(*handle);
        *handle = -1;
    }
    return 0;
}

int cpld_handle_cmd_send(CpldHandle *handle, uint32_t request, CpldIo *io) {
    if (const int rc = check_handle(handle, __func__); rc != 0) {
        return rc;
    }
    const int ret = hvl::sys::ops().ioctl(*handle, request, io);
    if (ret != 0) {
        return ret;
    }
    HVL_LOGF(TRACE, "ioctl returned no error: io->rc %d", static_cast<int>(io->rc));
    return io->rc;
}

int cpld_handle_read_reg(CpldHandle *handle, uint32_t offset, uint8_t *value) {
    if (const int rc = check_handle(handle, __func__); rc != 0) {
        return rc;
    }
    CpldIo io{-1, offset, 0};
    const int rc = send_reg_command(handle, CPLD_PPCREG_READ, &io, __func__);
    *value = static_cast<uint8_t>(io.param1 & 0xFFU);
    return rc;
}

int cpld_handle_write_reg(CpldHandle *handle, uint32_t offset, uint8_t value) {
    if (const int rc = check_handle(handle, __func__); rc != 0) {
        return rc;
    }
    CpldIo io{-1, offset, value};
    return send_reg_command(handle, CPLD_PPCREG_WRITE, &io, __func__);
}

} // extern "C"
