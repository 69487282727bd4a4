/*
 * hwsim_probe: opens /dev/cpld, sends the driver requests given on the command
 * line and prints what came back, one line each. A plain C program that knows
 * nothing of the simulator, to check the shim from the outside.
 *
 * Usage: hwsim_probe [CODE PARAM0 PARAM1]...
 * A PARAM0 of "unmapped" passes a pointer to no memory instead of the record,
 * "readonly" one to a record that cannot be written (param0 0x10).
 */
#define _POSIX_C_SOURCE 200809L

#include <hvl/cpld.h>

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

static uint32_t number(const char *text) { return (uint32_t)strtoul(text, NULL, 0); }

static const CpldIo readonly_io = {-1, 0x10, 0};

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
        void *arg = &io;
        int ret;

        io.rc = -1;
        io.param0 = number(argv[i + 1]);
        io.param1 = number(argv[i + 2]);
        if (strcmp(argv[i + 1], "unmapped") == 0) {
            arg = (void *)(uintptr_t)8;
        } else if (strcmp(argv[i + 1], "readonly") == 0) {
            arg = (void *)(uintptr_t)&readonly_io;
        }
        errno = 0;
        ret = ioctl(fd, _IO(CPLD_IOC_MAGIC, code), arg);
        printf("code=%u ret=%d errno=%d rc=%d param0=0x%08x param1=0x%08x\n", code, ret,
               ret < 0 ? errno : 0, (int)io.rc, (unsigned)io.param0, (unsigned)io.param1);
    }
    printf("close ret=%d\n", close(fd));
    return 0;
}
