// The IPMC half of the CPLD layer: the one IPMI interface through which every
// IPMC-area register is reached.
#pragma once

namespace hvl::cpld {

// Opens a new interface for the IPMC area (replacing one already held);
// failures are logged under `function`. 0 on success, -1 on failure.
int open_ipmc_area(const char *function);
// Closes and forgets the interface; nothing happens when none is held.
void close_ipmc_area();

} // namespace hvl::cpld
