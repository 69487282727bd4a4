// The OpenIPMI driver behind /dev/ipmi0, as the programs that use it rely on
// it. A request goes out with IPMICTL_SEND_COMMAND; the IPMC's answer queues
// on the descriptor it was sent from, which is readable (poll, select) while
// anything is queued; IPMICTL_RECEIVE_MSG or IPMICTL_RECEIVE_MSG_TRUNC takes
// it off. Each descriptor is a user of the driver with its own queue; the own
// IPMB address and LUN belong to the interface, shared by all of them.
//
// Requests to the system interface and over IPMB to the IPMC's own IPMB-0
// address are answered by the IPMC. Over IPMB nothing else answers: the
// driver gives up on such a request and delivers completion code 0xC3
// (timeout) as its answer, at once rather than after its retries.
#pragma once

#include "board.h"
#include "faults.h"
#include "ipmc.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

namespace sim {

class State;
class Trace;

// The request a driver command is sent with, by the name board files and
// traces use for it: the header's name without IPMICTL_ ("SEND_COMMAND").
std::optional<unsigned long> ipmi_request_named(std::string_view name);

// Where a message came from, as the driver reports it.
struct IpmiAddress {
    int type = 0; // system interface (0x0c) or IPMB (0x01)
    short channel = 0;
    std::uint8_t slave_address = 0; // IPMB only
    std::uint8_t lun = 0;
};

// A message waiting on a descriptor.
struct IpmiReceived {
    int recv_type = 0;
    IpmiAddress from;
    long msgid = 0;
    std::uint8_t netfn = 0;
    std::uint8_t cmd = 0;
    std::vector<std::uint8_t> data; // completion code first
};

// One open descriptor: a user of the driver.
struct IpmiUser {
    int fd = -1;
    std::deque<IpmiReceived> queue;
    bool gets_events = false; // taken, but the IPMC sends no events
};

// What all descriptors of the process share, like the driver's interface.
struct IpmiInterface {
    Ipmc ipmc;
    IpmiFaultPlan faults;
    std::uint8_t ipmc_address; // the IPMC's IPMB-0 address
    std::uint8_t my_address;   // the driver's own IPMB address
    std::uint8_t my_lun;
};

class IpmiDevice {
public:
    IpmiDevice(const IpmcBoard &board, State &state, Trace &trace);

    // The errno an open of the device fails with, or 0 when it opens.
    int open_error();
    // A descriptor opened, or closed (its queue goes with it).
    void opened(int fd);
    void closed(int fd);
    // One ioctl on an open descriptor: 0, or -1 with `err` (as the driver).
    int ioctl(int fd, unsigned long request, void *arg, int &err);

private:
    const IpmcBoard &board_;
    Trace &trace_;
    IpmiInterface interface_;
    std::map<int, IpmiUser> users_;
};

} // namespace sim
