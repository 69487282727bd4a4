// The raw commands: PPC-area registers by offset and DCRs by number, without
// the register table.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hvl/cpld.h"
#include "tool.h"

namespace {

// True when the handler is to show its help line instead of running.
bool wants_help(int argc, char **argv, int min_words, const char *help) {
    if (argc < min_words || strncmp(argv[0], "help", 4) == 0) {
        printf("%s", help);
        return true;
    }
    return false;
}

// Numbers are parsed as the board's C library parses them, where long is 32
// bits wide, so that a command means the same on a 64-bit workstation: beyond
// 32 bits strtol saturates at LONG_MIN or LONG_MAX and strtoul at ULONG_MAX,
// and strtoul negates a value with a minus sign in 32 bits ("-1" is 0xffffffff).
int32_t parse_signed(const char *word) {
    const long parsed = strtol(word, nullptr, 0);
    return static_cast<int32_t>(std::clamp<long>(parsed, INT32_MIN, INT32_MAX));
}

uint32_t parse_unsigned(const char *word) {
    errno = 0;
    const unsigned long parsed = strtoul(word, nullptr, 0);
    if (errno == ERANGE) {
        return UINT32_MAX;
    }
    while (isspace(static_cast<unsigned char>(*word)) != 0) {
        ++word;
    }
    const bool negative = *word == '-';
    // strtoul negated the value in the width of long; undo that to see whether it fits.
    const unsigned long magnitude = negative ? 0UL - parsed : parsed;
    if (magnitude > UINT32_MAX) {
        return UINT32_MAX;
    }
    const auto value = static_cast<uint32_t>(magnitude);
    return negative ? 0U - value : value;
}

} // namespace

int cmd_read(int argc, char **argv) {
    if (wants_help(argc, argv, 1, "read <register 0> ... <register N>\n")) {
        return -1;
    }
    for (int i = 0; i < argc; ++i) {
        const auto offset = static_cast<uint32_t>(parse_signed(argv[i]));
        uint8_t value = 0;
        if (cpld_ppcreg_read(offset, &value) != 0) {
            printf("reg: 0x%02x    value: ERROR\n", offset);
        } else {
            printf("reg: 0x%02x    value: 0x%02x\n", offset, value);
        }
    }
    return 0;
}

int cmd_write(int argc, char **argv) {
    if (wants_help(argc, argv, 2, "write <register> <value>\n")) {
        return -1;
    }
    const uint32_t offset = parse_unsigned(argv[0]);
    const uint32_t value = parse_unsigned(argv[1]);
    if (value > 0xFF) {
        printf("Warning: register value greater than 8 bit\n");
    }
    const int rc = cpld_ppcreg_write(offset, static_cast<uint8_t>(value & 0xFFU));
    if (rc != 0) {
        printf("ERROR\n");
    }
    return rc;
}

int cmd_mfdcr(int argc, char **argv) {
    if (wants_help(argc, argv, 1, "mfdcr <register 0> ... <register N>\n")) {
        return -1;
    }
    for (int i = 0; i < argc; ++i) {
        const uint32_t dcr = parse_unsigned(argv[i]);
        uint32_t value = 0;
        if (cpld_dcr_read(dcr, &value) != 0) {
            printf("dcr: 0x%02x    value: ERROR\n", dcr);
        } else {
            printf("dcr: 0x%02x    value: 0x%08x\n", dcr, value);
        }
    }
    return 0;
}

int cmd_mtdcr(int argc, char **argv) {
    if (wants_help(argc, argv, 2, "mtdcr <register> <value>\n")) {
        return -1;
    }
    const uint32_t dcr = parse_unsigned(argv[0]);
    const uint32_t value = parse_unsigned(argv[1]);
    const int rc = cpld_dcr_write(dcr, value);
    if (rc != 0) {
        printf("dcr: 0x%02x    value: ERROR\n", dcr);
    } else {
        printf("wrote dcr: 0x%02x    value: 0x%08x\n", dcr, value);
    }
    return rc;
}
