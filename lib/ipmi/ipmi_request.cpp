#include "ipmi/ipmi_request.h"

#include <algorithm>

namespace hvl::ipmi {

int send_request(IpmiIntf *intf, uint8_t netfn, uint8_t lun, uint8_t cmd, const ByteWriter &data,
                 IpmiResponse *response) {
    IpmiRequest request{};
    request.netfn = netfn;
    request.lun = lun;
    request.cmd = cmd;
    request.data = data.length() > 0 ? data.data() : nullptr;
    request.data_len = static_cast<uint16_t>(data.length());
    return intf->send(intf, &request, response);
}

ByteReader answer_data(const IpmiResponse &response) {
    const auto length = std::clamp<int32_t>(response.data_len, 0, IPMI_MAX_DATA_LEN);
    return ByteReader(response.data, static_cast<size_t>(length));
}

} // namespace hvl::ipmi
