// Sending one request through an interface and reading its answer: what every
// IPMI module of the library does the same way. The interface is not null
// here; the public functions check it.
#pragma once

#include <cstdint>

#include "common/byte_io.h"
#include "hvl/hvl_ipmi_interface.h"

namespace hvl::ipmi {

// Sends netfn/lun/cmd with the bytes written to `data` into `response`: the
// send operation's result.
int send_request(IpmiIntf *intf, uint8_t netfn, uint8_t lun, uint8_t cmd, const ByteWriter &data,
                 IpmiResponse *response);

// An answer arrived and the IPMC carried the request out.
inline bool succeeded(int rc, const IpmiResponse &response) {
    return rc == 0 && response.ccode == 0;
}

// The data bytes of an answer, as many as arrived.
ByteReader answer_data(const IpmiResponse &response);

// The whole data buffer, for answers read at fixed places without a length
// check: bytes the IPMC did not send read as the zeros the buffer started with.
inline ByteReader unchecked_data(const IpmiResponse &response) {
    return ByteReader(response.data, sizeof response.data);
}

} // namespace hvl::ipmi
