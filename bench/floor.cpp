// The floor for `hwregs list`'s IPMC half: the same 29 exchanges through the
// same device (Get Address Info, then one CPLD register read per IPMC-area
// register), with nothing else around them.
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <linux/ipmi.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <unistd.h>

#include "ipmi/ostrel_constants.h"

namespace {

constexpr uint8_t ipmc_offsets[] = {0x00, 0x01, 0x02, 0x03, 0x04, 0x06, 0x07, 0x08, 0x09, 0x0A,
                                    0x0B, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x19,
                                    0x26, 0x27, 0x29, 0x55, 0xAA, 0xFD, 0xFE, 0xFF};

long msgid = 0;

// One request, one answer; the answer's first byte is the completion code.
int exchange(int fd, uint8_t netfn, uint8_t lun, uint8_t cmd, uint8_t *data, uint16_t length,
             uint8_t *answer, uint16_t *answer_length) {
    ipmi_system_interface_addr to{IPMI_SYSTEM_INTERFACE_ADDR_TYPE, IPMI_BMC_CHANNEL, lun};
    ipmi_req req{};
    req.addr = reinterpret_cast<unsigned char *>(&to);
    req.addr_len = sizeof to;
    req.msgid = msgid++;
    req.msg = {netfn, cmd, length, data};
    if (ioctl(fd, IPMICTL_SEND_COMMAND, &req) != 0) {
        return -1;
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(fd, &readable);
    if (select(fd + 1, &readable, nullptr, nullptr, nullptr) != 1) {
        return -1;
    }
    ipmi_addr from{};
    ipmi_recv recv{};
    recv.addr = reinterpret_cast<unsigned char *>(&from);
    recv.addr_len = sizeof from;
    recv.msg.data = answer;
    recv.msg.data_len = *answer_length;
    if (ioctl(fd, IPMICTL_RECEIVE_MSG_TRUNC, &recv) != 0) {
        return -1;
    }
    *answer_length = recv.msg.data_len;
    return *answer_length > 0 ? answer[0] : -1;
}

} // namespace

int main() {
    const int fd = open("/dev/ipmi0", O_RDWR);
    if (fd < 0) {
        perror("/dev/ipmi0");
        return 1;
    }
    uint8_t answer[64];
    uint16_t length = sizeof answer;
    uint8_t picmg[] = {0x00};
    if (exchange(fd, 0x2C, 0, 0x01, picmg, sizeof picmg, answer, &length) == 0 && length > 3) {
        unsigned int address = answer[3];
        ioctl(fd, IPMICTL_SET_MY_ADDRESS_CMD, &address);
    }
    uint8_t request[hvl::ostrel::kSignatureSize + 2];
    const hvl::ostrel::AccessSignature signature = hvl::ostrel::access_signature();
    for (size_t i = 0; i < hvl::ostrel::kSignatureSize; ++i) {
        request[i] = signature[i];
    }
    for (const uint8_t offset : ipmc_offsets) {
        request[hvl::ostrel::kSignatureSize] = offset;
        request[hvl::ostrel::kSignatureSize + 1] = hvl::ostrel::kCpldRegRead;
        length = sizeof answer;
        const int ccode =
            exchange(fd, hvl::ostrel::kNetFnSigned, hvl::ostrel::kOemLun, hvl::ostrel::kCmdCpldReg,
                     request, sizeof request, answer, &length);
        printf("0x%02x: %s0x%02x\n", offset, ccode == 0 ? "" : "ERROR ",
               ccode == 0 ? answer[1] : 0);
    }
    close(fd);
    return 0;
}
