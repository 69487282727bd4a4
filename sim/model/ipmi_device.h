// The OpenIPMI driver behind /dev/ipmi0, as the programs that use it rely on
// it. A request goes out with IPMICTL_SEND_COMMAND; the IPMC's answer queues
// on the descriptor it was sent from, which is readable (poll, select) while
// anything is queued; IPMICTL_RECEIVE_MSG or IPMICTL_RECEIVE_MSG_TRUNC takes
// it off. Each descriptor is a user of the driver with its own queue; the own
// IPMB address and LUN belong to the interface, shared by all of them.
//
// Requests to the system interface and over IPMB to the IPMC's own IPMB-0
// address are answered by the IPMC, those over IPMB-L by the controllers the
// board has there. Where nobody answers, the driver gives up on the request
// after the board's IPMB timeout and delivers completion code 0xC3 (timeout)
// as its answer.
#pragma once

#include "board.h"
#include "faults.h"
#include "ipmc.h"
#include "request.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

namespace sim {

// Whether `name` is a request of the driver ("SEND_COMMAND"): the header's
// name without IPMICTL_.
bool ipmi_request_known(std::string_view name);

// Where a message went to or came from, as the driver reports it.
struct IpmiAddress {
    std::uint32_t type = 0; // system interface (0x0c) or IPMB (0x01)
    std::uint16_t channel = 0;
    std::uint8_t slave_address = 0; // IPMB only
    std::uint8_t lun = 0;
};

// A message waiting on a descriptor.
struct IpmiReceived {
    IpmiAddress from;
    std::uint64_t msgid = 0;
    std::uint8_t netfn = 0;
    std::uint8_t cmd = 0;
    std::vector<std::uint8_t> data; // completion code first
};

// One open descriptor: a user of the driver.
struct IpmiUser {
    std::deque<IpmiReceived> queue;
    bool gets_events = false; // taken, but the IPMC sends no events
};

class IpmiDevice {
public:
    IpmiDevice(const IpmcBoard &board, Store &store);

    // Whether the board has the device.
    bool present() const { return ipmc_.board.present; }
    // One ioctl on an open descriptor, with the faults of the calling process.
    Outcome ioctl(IpmiUser &user, const IoctlCall &call, UserMemory &memory, FaultPlan &faults);
    // The buffers a SEND_COMMAND's record points to: its address and its data.
    static std::vector<wire::PointedBuffer> pointed_buffers(const Abi &abi);

private:
    Ipmc ipmc_;
    std::uint8_t my_address_; // the driver's own IPMB address
    std::uint8_t my_lun_;
};

} // namespace sim
