// Register access by area: a table register is reached through the CPLD
// driver in the PPC area and through OEM requests to the IPMC in the IPMC area.
#include "cpld/cpld_area.h"

#include <cerrno>
#include <cstring>

#include "hvl/cpld.h"
#include "hvl/cpld_registers.h"
#include "hvl/hvl_ipmi_interface.h"
#include "hvl/hvl_ipmi_ostrel.h"
#include "ipmi/ipmi_codes.h"
#include "log/log_site.h"

namespace {

IpmiIntf *ipmc_intf = nullptr; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

} // namespace

namespace hvl::cpld {

int open_ipmc_area(const char *function) {
    close_ipmc_area();
    const int rc = open_ipmi_intf(&ipmc_intf);
    if (rc == 0 || rc == hvl::ipmi::kNoAddress) {
        return 0;
    }
    HVL_LOGF_AS(function, MINOR, "cannot open %s: %s (%d)", "/dev/ipmi0/", strerror(errno), errno);
    close_ipmc_area();
    return -1;
}

void close_ipmc_area() {
    close_ipmi_intf(ipmc_intf);
    ipmc_intf = nullptr;
}

} // namespace hvl::cpld

extern "C" {

int cpld_reg_read(int offset, RegisterArea area, uint8_t *value) {
    const RegisterDef *row = register_find(offset, area);
    if (row == nullptr) {
        return -1;
    }
    switch (row->area) {
    case PPC:
        return cpld_ppcreg_read(row->offset, value);
    case IPMC:
        return ostrel_cpldreg_read(ipmc_intf, row->offset, value);
    default:
        HVL_LOGF(MINOR, "invalid memory area: %s (%d)", strerror(errno), errno);
        return -1;
    }
}

int cpld_reg_write(int offset, RegisterArea area, int value) {
    const RegisterDef *row = register_find(offset, area);
    if (row == nullptr) {
        return -1;
    }
    const auto byte = static_cast<uint8_t>(static_cast<unsigned>(value) & 0xFFU);
    switch (row->area) {
    case PPC:
        return cpld_ppcreg_write(row->offset, byte);
    case IPMC:
        return ostrel_cpldreg_write(ipmc_intf, row->offset, byte);
    default:
        HVL_LOGF(MINOR, "invalid memory area: %s (%d)", strerror(errno), errno);
        return -1;
    }
}

} // extern "C"
