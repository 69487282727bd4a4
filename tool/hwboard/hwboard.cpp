// hwboard: what only this board knows, from its IPMC through libhvl's public
// API: the device ID and self-test, the mezzanine, the MAC addresses, the
// engineering options, the OEM configuration, FRU data and sensors. Start-up
// reads the options, finds the command in the table, opens the interface,
// aims it at a controller behind the IPMC if asked, runs the command and
// prints its report as a table or as JSON.
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <getopt.h>

#include "hvl/hvl_ipmi_interface.h"
#include "hvl/hvl_ipmi_ostrel.h"
#include "hvl/hvl_log.h"
#include "hwboard.h"

#ifndef HWBOARD_VERSION
#define HWBOARD_VERSION "unknown"
#endif

const Command commands[] = {
    {"devid", "", 0, 0, cmd_devid, "the controller's device ID and the IPMC's release texts"},
    {"selftest", "", 0, 0, cmd_selftest, "the controller's self-test result"},
    {"board", "", 0, 0, cmd_board, "mezzanine, MAC addresses and option CRC at a glance"},
    {"mezzanine", "", 0, 0, cmd_mezzanine, "whether the mezzanine is fitted, its FRU and option"},
    {"mac", "", 0, 0, cmd_mac, "the MAC address from the FRU and from the engineering options"},
    {"options", "", 0, 0, cmd_options, "the engineering options and feature flags"},
    {"migrate", "", 0, 0, cmd_migrate,
     "move FRU data into engineering options that fail their CRC"},
    {"config", "[get | set KEY V...]", 0, -1, cmd_config, "the OEM configuration; set one setting"},
    {"fru", "[ID]", 0, 1, cmd_fru, "board, product and multirecord areas of a FRU (default 0)"},
    {"sensors", "", 0, 0, cmd_sensors, "every SDR record with its reading and thresholds"},
    {"sensor", "NAME", 1, 1, cmd_sensor, "one sensor by name"},
    {"threshold", "NAME [T VALUE]...", 1, -1, cmd_threshold,
     "a sensor's thresholds; set them (T: lnc lc lnr unc uc unr)"},
    {"picmg", "QUERY [ARGS]", 1, 4, cmd_picmg, "PICMG: props, addr, led, port, amc"},
    {nullptr, nullptr, 0, 0, nullptr, nullptr},
};

int query_failed(const Context &ctx, const char *what, int rc) {
    fprintf(stderr, "hwboard: %s: %s failed (result %d)\n", ctx.command, what, rc);
    return kStatusFailed;
}

int usage_error(const Context &ctx, const char *fmt, ...) {
    va_list args;
    va_start(args, fmt);
    fprintf(stderr, "hwboard: %s: ", ctx.command);
    vfprintf(stderr, fmt, args); // NOLINT(clang-analyzer-valist.Uninitialized)
    fputc('\n', stderr);
    va_end(args);
    return kStatusUsage;
}

bool parse_number(const char *word, unsigned long max, unsigned long *value) {
    if (word[0] == '\0' || word[0] == '-' || word[0] == '+' || word[0] == ' ') {
        return false;
    }
    char *end = nullptr;
    errno = 0;
    const unsigned long n = strtoul(word, &end, 0);
    if (errno != 0 || *end != '\0' || n > max) {
        return false;
    }
    *value = n;
    return true;
}

bool parse_real(const char *word, double *value) {
    if (word[0] == '\0' || word[0] == ' ') {
        return false;
    }
    char *end = nullptr;
    errno = 0;
    const double x = strtod(word, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(x)) {
        return false;
    }
    *value = x;
    return true;
}

const char *trim_blanks(const char *text, size_t size, bool leading, size_t *length) {
    size_t end = strnlen(text, size);
    size_t start = 0;
    while (leading && start < end && text[start] == ' ') {
        ++start;
    }
    while (end > start && text[end - 1] == ' ') {
        --end;
    }
    *length = end - start;
    return text + start;
}

int write_allowed(Context &ctx) {
    if (ctx.force) {
        return kStatusOk;
    }
    const uint32_t target = ctx.intf->target_addr;
    if (target != 0 && set_ipml_target_addr(ctx.intf, 0) != 0) {
        return query_failed(ctx, "aiming at the IPMC for its engineering options", -1);
    }
    EngRecord record;
    const int rc = ipmi_ostrel_eng_record_get(ctx.intf, &record);
    if (target != 0 && set_ipml_target_addr(ctx.intf, static_cast<uint8_t>(target)) != 0) {
        return query_failed(ctx, "aiming at the controller again", -1);
    }
    if (rc != 0) {
        fprintf(stderr,
                "hwboard: %s: cannot read the engineering options (result %d); nothing written "
                "(--force writes all the same)\n",
                ctx.command, rc);
        return kStatusFailed;
    }
    if (ostrel_crc8(reinterpret_cast<const uint8_t *>(&record.options),
                    OSTREL_ENG_OPTIONS_SIZE - 1) != record.options.crc) {
        fprintf(stderr,
                "hwboard: %s: the engineering options fail their CRC; nothing written "
                "(--force writes all the same)\n",
                ctx.command);
        return kStatusFailed;
    }
    return kStatusOk;
}

namespace {

LogModule log_module; // NOLINT(cppcoreguidelines-avoid-non-const-global-variables)

// Log lines go to standard error: standard output is the report.
__attribute__((format(printf, 9, 10))) int
log_to_stderr(void * /*data*/, int64_t /*sec*/, int32_t /*usec*/, int /*scope*/, int /*submodule*/,
              int /*level*/, const char * /*file*/, int /*line*/, const char *format, ...) {
    va_list args;
    va_start(args, format);
    vfprintf(stderr, format, args); // NOLINT(clang-analyzer-valist.Uninitialized)
    va_end(args);
    return 0;
}

// Registering costs every log site of the library a full level test, and a
// registered module emits nothing until HVL_LOG enables one of its
// submodules: without HVL_LOG there is nothing to set up.
void setup_logging() {
    if (getenv("HVL_LOG") == nullptr) {
        return;
    }
    hvl_log_init();
    if (hvl_log_module_register(&log_module, "HWBOARD", 1) < 0) {
        return;
    }
    hvl_log_set_callback(log_to_stderr, nullptr);
    hvl_log_config_module(1, HVL_LOG_TARGET_CALLBACK);
    hvl_log_config_env();
}

void print_usage() {
    printf("usage: hwboard [--json] [--target ADDR | --fru ID] [--force] COMMAND [ARGS]\n"
           "       hwboard --help | --version\n\n"
           "Options:\n"
           "  --json         print JSON instead of a table\n"
           "  --target ADDR  ask the controller at IPMB-L address ADDR\n"
           "  --fru ID       ask the controller of the IPMC's FRU ID\n"
           "  --force        write even when the engineering options fail their CRC\n"
           "  -h, --help     this text\n"
           "  --version      the program's version\n\n"
           "Commands:\n");
    for (const Command *c = commands; c->name != nullptr; ++c) {
        char head[48];
        snprintf(head, sizeof head, "%s %s", c->name, c->synopsis);
        printf("  %-28s %s\n", head, c->help);
    }
    printf("\nSettings of config set:\n");
    print_settings(stdout);
}

struct Options {
    bool json = false;
    bool force = false;
    const char *target = nullptr;
    const char *fru = nullptr;
};

enum { kOptJson = 256, kOptTarget, kOptFru, kOptForce, kOptVersion };

// 0 to go on, else the status to exit with (-1: exit 0 after help or version).
int read_options(int argc, char **argv, Options *options) {
    static const option long_options[] = {
        {"json", no_argument, nullptr, kOptJson},
        {"target", required_argument, nullptr, kOptTarget},
        {"fru", required_argument, nullptr, kOptFru},
        {"force", no_argument, nullptr, kOptForce},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kOptVersion},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int letter = 0;
    while ((letter = getopt_long(argc, argv, "h", long_options, nullptr)) != -1) {
        switch (letter) {
        case kOptJson:
            options->json = true;
            break;
        case kOptTarget:
            options->target = optarg;
            break;
        case kOptFru:
            options->fru = optarg;
            break;
        case kOptForce:
            options->force = true;
            break;
        case 'h':
            print_usage();
            return -1;
        case kOptVersion:
            printf("hwboard %s\n", HWBOARD_VERSION);
            return -1;
        default:
            fprintf(stderr, "hwboard: %s '%s'\n",
                    optopt >= kOptJson ? "missing argument of" : "unknown option",
                    argv[optind - 1]);
            fprintf(stderr, "Try 'hwboard --help'.\n");
            return kStatusUsage;
        }
    }
    if (options->target != nullptr && options->fru != nullptr) {
        fprintf(stderr, "hwboard: --target and --fru exclude each other\n");
        return kStatusUsage;
    }
    return 0;
}

const Command *command_find(const char *word) {
    for (const Command *c = commands; c->name != nullptr; ++c) {
        if (strcmp(c->name, word) == 0) {
            return c;
        }
    }
    return nullptr;
}

// Aims the interface at the controller the options name.
int aim(Context &ctx, const Options &options) {
    unsigned long n = 0;
    if (options.target != nullptr) {
        if (!parse_number(options.target, 0xFF, &n)) {
            return usage_error(ctx, "bad IPMB-L address '%s' for --target (0 to 0xff)",
                               options.target);
        }
        const int rc = set_ipml_target_addr(ctx.intf, static_cast<uint8_t>(n));
        return rc == 0 ? kStatusOk : query_failed(ctx, "targeting the controller", rc);
    }
    if (options.fru != nullptr) {
        if (!parse_number(options.fru, 0xFF, &n)) {
            return usage_error(ctx, "bad FRU ID '%s' for --fru (0 to 255)", options.fru);
        }
        const int rc = set_target_by_fruid(ctx.intf, static_cast<uint8_t>(n));
        return rc == 0 ? kStatusOk : query_failed(ctx, "finding the FRU's controller", rc);
    }
    return kStatusOk;
}

int run(int argc, char **argv) {
    Options options;
    if (const int status = read_options(argc, argv, &options); status != 0) {
        return status < 0 ? kStatusOk : status;
    }
    if (optind >= argc) {
        fprintf(stderr, "hwboard: no command\nTry 'hwboard --help'.\n");
        return kStatusUsage;
    }
    const Command *command = command_find(argv[optind]);
    if (command == nullptr) {
        fprintf(stderr, "hwboard: unknown command '%s'\nTry 'hwboard --help'.\n", argv[optind]);
        return kStatusUsage;
    }
    Context ctx{nullptr, command->name, options.force, options.json};
    const int nargs = argc - optind - 1;
    if (nargs < command->min_args || (command->max_args >= 0 && nargs > command->max_args)) {
        return usage_error(ctx, "usage: hwboard %s%s%s", command->name,
                           command->synopsis[0] != '\0' ? " " : "", command->synopsis);
    }
    setup_logging();
    if (const int rc = open_ipmi_intf(&ctx.intf); rc != 0) {
        return query_failed(ctx, "opening the IPMI interface", rc);
    }
    int status = aim(ctx, options);
    if (status == kStatusOk) {
        Value report = Value::object();
        status = command->handler(ctx, nargs, argv + optind + 1, report);
        if (status != kStatusUsage && report.type() != Value::Type::Null) {
            (options.json ? write_json : write_table)(stdout, report);
        }
    }
    close_ipmi_intf(ctx.intf);
    return status;
}

// Writes out what standard output still holds; a command that succeeded
// fails when that cannot be done.
int finish_output(int status) {
    errno = 0;
    if (fflush(stdout) == 0 && ferror(stdout) == 0) {
        return status;
    }
    fprintf(stderr, "hwboard: cannot write to standard output%s%s\n", errno != 0 ? ": " : "",
            errno != 0 ? strerror(errno) : "");
    return status != 0 ? status : kStatusFailed;
}

} // namespace

int main(int argc, char **argv) { return finish_output(run(argc, argv)); }
