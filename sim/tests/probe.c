/*
 * hwsim_probe: opens /dev/cpld, sends the driver requests given on the command
 * line and prints what came back, one line each. A plain C program that knows
 * nothing of the simulator, to check the shim from the outside.
 *
 * Usage: hwsim_probe [CODE PARAM0 PARAM1]...
 */
#define _POSIX_C_SOURCE 200809L

#include <hvl/cpld.h>

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

static uint32_t number(const char *text) { return (uint32_t)strtoul(text, NULL, 0); }

int main(int argc, char **argv) {
    int fd = open(CPLD_DEVICE, O_RDWR);
    int i;

    if (fd < 0) {
        printf("open ret=-1 errno=%d\n", errno);
        return 1;
    }
    printf("open ok\n");
    for (i = 1; i + 2 < argc; i += 3) {
        unsigned code = (unsigned)number(argv[i]);
        CpldIo io;
        int ret;

        io.rc = -1;
        io.param0 = number(argv[i + 1]);
        io.param1 = number(argv[i + 2]);
        errno = 0;
        ret = ioctl(fd, _IO(CPLD_IOC_MAGIC, code), &io);
        printf("code=%u ret=%d errno=%d rc=%d param0=0x%08x param1=0x%08x\n", code, ret,
               ret < 0 ? errno : 0, (int)io.rc, (unsigned)io.param0, (unsigned)io.param1);
    }
    printf("close ret=%d\n", close(fd));
    return 0;
}
