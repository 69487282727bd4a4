// The codes and the argument guard that the library's IPMI modules share.
#pragma once

#include <cstdint>

#include "log/log_site.h"

namespace hvl::ipmi {

// Completion code of a request the responder carried out.
constexpr uint8_t kCcSuccess = 0x00;

// What opening an interface gives when the IPMC has no IPMB address to tell:
// not a failure, the interface works with the driver's own address.
constexpr int kNoAddress = 99;

// The result of a public function called without an interface.
constexpr int kNoInterface = -2;

// True when the interface argument `intf` is null, which is then logged at
// `site` (HVL_HERE of the function that was called). Every public function
// that takes an interface asks this first and returns kNoInterface when it
// is true.
bool intf_missing(const void *intf, const hvl::log::Site &site);

} // namespace hvl::ipmi
