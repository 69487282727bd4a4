// The register tool's own records: its option flags, its command table and
// the handlers the table names.
#pragma once

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

// The command table row that `word` names (the word may be a beginning of the
// name); null when none does.
const CommandDef *command_find(const char *word);
