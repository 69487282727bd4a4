// hwboard's commands: the context they run in, their table, and the helpers
// they share for arguments and failures.
#pragma once

#include <cstdint>
#include <cstdio>

#include "hvl/hvl_ipmi_interface.h"
#include "report.h"

// Exit statuses.
constexpr int kStatusOk = 0;
constexpr int kStatusFailed = 1; // the IPMC or a controller failed a query
constexpr int kStatusUsage = 2;  // bad command line

struct Context {
    IpmiIntf *intf;
    const char *command; // the command word, for messages
    bool force;          // --force: write even when the engineering options fail their CRC
    bool json;           // --json: the report is written as JSON, json_only values included
};

// A handler gets the words after the command word and fills `out`, which is
// printed (as a table or as JSON) unless the status is kStatusUsage.
using Handler = int (*)(Context &ctx, int argc, char **argv, Value &out);

struct Command {
    const char *name;
    const char *synopsis; // the arguments
    int min_args;
    int max_args; // -1: any number
    Handler handler;
    const char *help;
};

// The command table, ended by a row without a name.
extern const Command commands[];

// "hwboard: COMMAND: WHAT (result RC)" on standard error; kStatusFailed.
int query_failed(const Context &ctx, const char *what, int rc);
// "hwboard: COMMAND: MESSAGE" on standard error; kStatusUsage.
int usage_error(const Context &ctx, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
// An unsigned number as C reads it (0x hexadecimal, leading 0 octal), at most
// `max`, the whole word; false when it is not one.
bool parse_number(const char *word, unsigned long max, unsigned long *value);

// Before a write: kStatusOk when the IPMC's engineering options pass their
// CRC or --force was given; else says why on standard error and gives
// kStatusFailed. Asks the IPMC itself whatever controller is the target.
int write_allowed(Context &ctx);
// A real number, the whole word, finite; false when it is not one.
bool parse_real(const char *word, double *value);

// A text field of `size` bytes that may lack its 0, without its trailing
// blanks and, if `leading`, its leading ones: where it starts, `*length` its
// length.
const char *trim_blanks(const char *text, size_t size, bool leading, size_t *length);

// The settings of config set, one a line with their arguments.
void print_settings(FILE *out);

// The result member every sub-query of a report carries.
inline Value result_value(int rc) { return Value::integer(rc); }

int cmd_devid(Context &ctx, int argc, char **argv, Value &out);
int cmd_selftest(Context &ctx, int argc, char **argv, Value &out);
int cmd_board(Context &ctx, int argc, char **argv, Value &out);
int cmd_mezzanine(Context &ctx, int argc, char **argv, Value &out);
int cmd_mac(Context &ctx, int argc, char **argv, Value &out);
int cmd_options(Context &ctx, int argc, char **argv, Value &out);
int cmd_config(Context &ctx, int argc, char **argv, Value &out);
int cmd_migrate(Context &ctx, int argc, char **argv, Value &out);
int cmd_fru(Context &ctx, int argc, char **argv, Value &out);
int cmd_sensors(Context &ctx, int argc, char **argv, Value &out);
int cmd_sensor(Context &ctx, int argc, char **argv, Value &out);
int cmd_threshold(Context &ctx, int argc, char **argv, Value &out);
int cmd_picmg(Context &ctx, int argc, char **argv, Value &out);
