// The register tool's own records: its option flags, its command table and
// the handlers the table names.
#pragma once

#include <cstdint>

#include "hvl/cpld.h"
#include "hvl/hvl_log.h"

struct ToolOptions {
    int ignore_ipmc;
    int ignore_ppc;
    int force_piggy_present;
    int force_piggy_absent;
};

// A command handler gets the words after the command word; 0 is success.
using CommandHandler = int (*)(int argc, char **argv);

struct CommandDef {
    const char *name;
    const char *help;
    CommandHandler handler;
};

extern ToolOptions tool_options; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

int cmd_list(int argc, char **argv);
int cmd_read(int argc, char **argv);
int cmd_write(int argc, char **argv);
int cmd_check(int argc, char **argv);
int cmd_mfdcr(int argc, char **argv);
int cmd_mtdcr(int argc, char **argv);

void print_usage();

// True when the rows of `area` are in use: its area is known and not ignored.
bool area_shown(uint32_t area);

// The register checks: 0 passed, else -1 or the failing access's result.
int check_default();
int check_access(RegisterArea area, int iterations);
int check_write_read(RegisterArea area, int offset, uint8_t value);
// 1 when the board information says a piggy-back is fitted, else 0.
int piggy_back_detect();

// The command table row that `word` names (the word may be a beginning of the
// name); null when none does.
const CommandDef *command_find(const char *word);
