// Feeds arbitrary driver messages to the OpenIPMI transport: the answer to
// Get Address Info at open, then to a request, each possibly longer than the
// receive buffer, without a completion code, or with a failing wait.
#include <cerrno>
#include <cstring>
#include <linux/ipmi.h>
#include <sys/ioctl.h>

#include "fuzz_input.h"
#include "hvl/hvl_ipmi_interface.h"
#include "sys/sys_ops.h"

namespace {

FuzzInput *input = nullptr;
FuzzAnswer pending;

constexpr uint8_t flag_wait_fails = 0x01;
constexpr uint8_t flag_receive_fails = 0x02;
constexpr uint8_t flag_address_refused = 0x04;

int fake_open(const char * /*path*/, int /*flags*/) { return 3; }
int fake_close(int /*fd*/) { return 0; }

int deliver(ipmi_recv *recv) {
    if ((pending.flags & flag_receive_fails) != 0) {
        errno = EAGAIN;
        return -1;
    }
    recv->recv_type = IPMI_RESPONSE_RECV_TYPE;
    recv->msgid = pending.flags;
    const size_t room = recv->msg.data_len;
    const size_t copied = pending.size < room ? pending.size : room;
    if (copied > 0) {
        memcpy(recv->msg.data, pending.bytes, copied);
    }
    recv->msg.data_len = static_cast<unsigned short>(copied);
    if (pending.size > room) {
        errno = EMSGSIZE;
        return -1;
    }
    return 0;
}

int fake_ioctl(int /*fd*/, unsigned long request, void *arg) {
    switch (request) {
    case IPMICTL_SEND_COMMAND:
        pending = input->next();
        return pending.present ? 0 : (errno = EIO, -1);
    case IPMICTL_RECEIVE_MSG_TRUNC:
        return deliver(static_cast<ipmi_recv *>(arg));
    case IPMICTL_SET_MY_ADDRESS_CMD:
        return (pending.flags & flag_address_refused) != 0 ? (errno = EINVAL, -1) : 0;
    default:
        errno = ENOTTY;
        return -1;
    }
}

int fake_select(int /*nfds*/, fd_set *readfds, fd_set * /*writefds*/, fd_set * /*exceptfds*/,
                timeval * /*timeout*/) {
    if ((pending.flags & flag_wait_fails) != 0) {
        errno = EINTR;
        return -1;
    }
    return readfds != nullptr ? 1 : 0;
}

// The transport never pauses.
unsigned no_sleep(unsigned /*seconds*/) { __builtin_trap(); }

constexpr hvl::sys::Ops fake_ops{fake_open, fake_ioctl, fake_close, fake_select, no_sleep};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FuzzInput fuzz(data, size);
    input = &fuzz;
    hvl::sys::OpsOverride seam(fake_ops);

    IpmiIntf *intf = nullptr;
    if (open_ipmi_intf(&intf) == 0) {
        const uint8_t request_data[] = {0x00};
        IpmiRequest request{0x06, 0, 0x01, sizeof request_data, request_data};
        for (int i = 0; i < 8 && fuzz.more(); ++i) {
            // Every other request goes to another controller over IPMB.
            intf->target_addr = (i & 1) != 0 ? 0x82 : 0;
            intf->target_channel = (i & 1) != 0 ? 7 : 0;
            IpmiResponse response{};
            if (intf->send(intf, &request, &response) == 0 &&
                (response.data_len < 0 || response.data_len >= IPMI_MAX_DATA_LEN)) {
                __builtin_trap();
            }
        }
    }
    close_ipmi_intf(intf);
    input = nullptr;
    return 0;
}
