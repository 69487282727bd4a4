// The codes and the argument guard that the library's IPMI modules share.
#pragma once

#include <cstdint>

#include "log/log_site.h"

namespace hvl::ipmi {

// Completion code of a request the responder carried out.
constexpr uint8_t kCcSuccess = 0x00;

// The network function of the PICMG requests, and the identifier that opens
// their data; Get Address Info is also asked at every open.
constexpr uint8_t kNetFnPicmg = 0x2C;
constexpr uint8_t kPicmgIdentifier = 0x00;
constexpr uint8_t kCmdGetAddressInfo = 0x01;

// The result of a query the IPMC answered 0xC3 (timeout while processing)
// or 0xCB (data not present): it could not give the data, rather than failed.
constexpr int kNotAvailable = -4;
constexpr bool not_available(int ccode) { return ccode == 0xC3 || ccode == 0xCB; }

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
