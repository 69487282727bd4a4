// hwregs: lists, reads, writes and checks the CPLD registers and the CPU's DCRs.
// Start-up sets up logging, reads the options, opens the register areas, runs
// one command and closes the areas again.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "hvl/cpld.h"
#include "hvl/hvl_log.h"
#include "tool.h"

ToolOptions tool_options{}; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

namespace {

LogModule log_module; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

constexpr CommandDef command_table[] = {
    {"list", "list all CPLD registers", cmd_list},
    {"read", "read one or more CPLD register", cmd_read},
    {"write", "write a value to one CPLD reg", cmd_write},
    {"check", "run a test command", cmd_check},
    {"mfdcr", "read one or more PPC DCR register", cmd_mfdcr},
    {"mtdcr", "write one PPC DCR register", cmd_mtdcr},
    {nullptr, nullptr, nullptr},
};

int setup_logging() {
    if (hvl_log_init() != 0) {
        printf("hvl_log_init failed\n");
        return 1;
    }
    if (hvl_log_module_register(&log_module, "CPLD", 1) < 0) {
        printf("hvl_log_module_init failed\n");
        return 1;
    }
    if (hvl_log_config_module(1, HVL_LOG_TARGET_CONSOLE) < 0) {
        printf("hvl_log_config_module failed\n");
        return 1;
    }
    hvl_log_config_env();
    return 0;
}

struct OptionRow {
    int letter;
    int ToolOptions::*flag;
    const char *warning;
};

constexpr OptionRow option_table[] = {
    {'i', &ToolOptions::ignore_ipmc, "Warning: ignoring CPLD IPMC memory area\n"},
    {'p', &ToolOptions::ignore_ppc, "Warning: ignoring CPLD PPC memory area\n"},
    {'f', &ToolOptions::force_piggy_present, "Warning: force presence of Piggy Back\n"},
    {'u', &ToolOptions::force_piggy_absent, "Warning: ignoring board info data\n"},
};

void take_option(int letter) {
    for (const OptionRow &row : option_table) {
        if (row.letter == letter) {
            tool_options.*row.flag = 1;
            printf("%s", row.warning);
            return;
        }
    }
    printf("Warning: unknown option ignored\n");
}

void read_options(int argc, char **argv) {
    int letter = 0;
    while ((letter = getopt(argc, argv, "ipfu")) != -1) {
        take_option(letter);
    }
}

int open_areas() {
    if (tool_options.ignore_ppc == 0 && cpld_open(PPC) != 0) {
        printf("Error: cannot open CPLD PPC memory register space\n");
        return -1;
    }
    if (tool_options.ignore_ipmc == 0 && cpld_open(IPMC) != 0) {
        printf("Error: cannot open CPLD IPMC memory register space\n");
        return -1;
    }
    return 0;
}

// Takes descriptors 0 to 2 if they are closed, so that no device opens as
// standard output and log lines do not go into it. /dev/null is opened
// against the descriptor's use (0 for writing, 1 and 2 for reading): output
// to a closed standard output still fails, and is reported at the end.
bool take_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        const int taken = open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
        if (taken != fd) {
            return false;
        }
    }
    return true;
}

// Writes out what standard output still holds. If any of it could not be
// written, says so on standard error, and a command that succeeded fails.
int finish_output(int status) {
    errno = 0;
    const bool flushed = fflush(stdout) == 0;
    if (flushed && ferror(stdout) == 0) {
        return status;
    }
    const int error = flushed ? 0 : errno;
    fprintf(stderr, "hwregs: cannot write to standard output%s%s\n", error != 0 ? ": " : "",
            error != 0 ? strerror(error) : "");
    return status != 0 ? status : 1;
}

int run(int argc, char **argv) {
    if (const int rc = setup_logging(); rc != 0) {
        return rc;
    }
    read_options(argc, argv);
    if (tool_options.force_piggy_present != 0 && tool_options.force_piggy_absent != 0) {
        printf("cannot use -f and -u at the same time\n");
        return -1;
    }
    if (open_areas() != 0) {
        return -1;
    }
    if (optind >= argc) {
        print_usage();
        return -1;
    }
    const CommandDef *command = command_find(argv[optind]);
    if (command == nullptr) {
        cpld_close();
        return -1;
    }
    const int rc = command->handler(argc - optind - 1, argv + optind + 1);
    cpld_close();
    return rc;
}

} // namespace

const CommandDef *command_find(const char *word) {
    const size_t length = strlen(word);
    for (const CommandDef *row = command_table; row->handler != nullptr; ++row) {
        if (strncmp(row->name, word, length) == 0) {
            return row;
        }
    }
    return nullptr;
}

void print_usage() {
    printf("usage: hwregs <options> <command>\n\n");
    printf("Options:\n");
    printf("\t-p        ignore CPLD PPC memory space\n");
    printf("\t-i        ignore CPLD IPMC memory space\n");
    printf("\t-f        force Piggy Back present (dont read boardinfo)\n");
    printf("\t-u        force Piggy Back not present (dont read boardinfo)\n");
    printf("\n");
    printf("Commands:\n");
    for (const CommandDef *row = command_table; row->handler != nullptr; ++row) {
        printf("\t%s\t%s\n", row->name, row->help);
    }
}

int main(int argc, char **argv) {
    if (!take_standard_descriptors()) {
        return 1;
    }
    return finish_output(run(argc, argv));
}
