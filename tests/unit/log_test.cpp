// The logging library as its users see it: registration, the level test and
// its error counters, configuration from HVL_LOG and HVL_LOG_TARGET, and the
// message text on the console, the callback and a real syslog socket.
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hvl/hvl_log.h"
#include "log/log_site.h"

using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

// Leaves nothing registered and no configuration in the environment behind.
class LogFixture : public ::testing::Test {
protected:
    void TearDown() override {
        hvl_log_module_unregister(_hvl_log_this_module);
        unsetenv("HVL_LOG");
        unsetenv("HVL_LOG_TARGET");
    }
    LogModule module{};
};

// The tool's module: "CPLD" with three submodules.
class Log : public LogFixture {
protected:
    void SetUp() override { ASSERT_EQ(0, hvl_log_module_register(&module, "CPLD", 3)); }
};

using LogRegistration = LogFixture;
using LogLevelTest = Log;
using LogConfig = Log;
using LogEnv = Log;
using LogConsole = LogFixture;
using LogSyslog = LogFixture;
using LogDeathTest = Log;

// Message prefixes by level.
constexpr const char *kPrefix[] = {
    "ERROR*CRITICAL*", "ERROR*MAJOR*", "ERROR*MINOR*", "INFO", "TRCE", "DBUG"};

// What the callback target was handed last, and how often it was called.
struct Delivery {
    int calls, scope, submodule, level, line;
    std::int64_t sec;
    std::int32_t usec;
    std::string file, format, header, body;
};

int deliver(void *data, std::int64_t sec, std::int32_t usec, int scope, int submodule, int level,
            const char *file, int line, const char *format, ...) {
    Delivery &d = *static_cast<Delivery *>(data);
    va_list args;
    va_start(args, format);
    const char *header = va_arg(args, const char *);
    const char *body = va_arg(args, const char *);
    va_end(args);
    d = {d.calls + 1, scope,  submodule, level, line, sec, usec, file != nullptr ? file : "(null)",
         format,      header, body};
    return 0;
}

// Messages of the registered module go to `d` only.
class LogMessage : public Log {
protected:
    void SetUp() override {
        Log::SetUp();
        hvl_log_set_callback(deliver, &d);
        hvl_log_config_module(1, HVL_LOG_TARGET_CALLBACK);
    }
    Delivery d{};
};

int set_or_unset(const char *name, const char *value) {
    return value != nullptr ? setenv(name, value, 1) : unsetenv(name);
}

// Console lines with the date, time and microseconds replaced by "T:U".
std::string normalise_console(const std::string &out) {
    static const std::regex stamp(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d:\d{6}: )");
    return std::regex_replace(out, stamp, "T:U: ");
}

TEST_F(LogRegistration, StartsFromAClearedRecordWithTheGlobalScope) {
    std::memset(&module, 0xa5, sizeof module);
    ASSERT_EQ(0, hvl_log_module_register(&module, "CPLD-LONG-NAME-CUT", 1));
    LogModule cleared{}; // named, one submodule, nothing enabled
    std::strcpy(cleared.name, "CPLD-LONG-NAME-");
    cleared.submodule_count = 1;
    cleared.scopes[0] = LogScope{"global", 1, 0x3f};
    EXPECT_EQ(0, std::memcmp(&cleared, &module, offsetof(LogModule, log_cb)));
    EXPECT_EQ(nullptr, module.log_cb);
    EXPECT_EQ(0, std::memcmp(cleared.scopes, module.scopes, sizeof module.scopes));
    EXPECT_EQ(0, std::memcmp(cleared.submodules, module.submodules, sizeof module.submodules));
}

TEST_F(LogRegistration, HoldsOneModuleAtATime) {
    ASSERT_EQ(0, hvl_log_module_register(&module, "CPLD", 1));
    LogModule other{};
    other.enabled = 7;
    EXPECT_EQ(-12, hvl_log_module_register(&other, "OTHER", 1));
    EXPECT_EQ(-12, hvl_log_module_register(&module, "CPLD", 1));
    EXPECT_EQ(7, other.enabled);
    EXPECT_EQ(-22, hvl_log_module_unregister(&other));
    EXPECT_EQ(-22, hvl_log_module_unregister(nullptr));
    EXPECT_EQ(&module, _hvl_log_this_module);
    EXPECT_EQ(0, hvl_log_module_unregister(&module));
    EXPECT_EQ(nullptr, _hvl_log_this_module);
    EXPECT_EQ(-22, hvl_log_module_unregister(&module));
    EXPECT_EQ(0, hvl_log_module_register(&other, "CPLD", 1));
}

TEST_F(LogRegistration, EveryCallFailsUntilAModuleOfAtMost32SubmodulesIsRegistered) {
    EXPECT_EQ(-22, hvl_log_module_register(&module, "CPLD", 33));
    EXPECT_EQ(nullptr, _hvl_log_this_module);
    auto visit = [](LogSubmodule *, void *) {};
    const int results[] = {hvl_log_config_module(1, 1),
                           hvl_log_config_submodule(0, 1, 1),
                           hvl_log_config_submodule_by_name("", 1, 1),
                           hvl_log_config_all_submodules(1, 1),
                           hvl_log_name_submodule("io", 0),
                           hvl_log_foreach_submodule(visit, nullptr),
                           hvl_log_reset_counters(),
                           hvl_log_set_callback(deliver, nullptr),
                           hvl_log_get_enabled(),
                           hvl_log_get_targets(),
                           hvl_log_get_submodule_mask(0)};
    EXPECT_THAT(results, Each(-22));
    module.enabled = 1;
    module.submodules[0] = LogSubmodule{"", 1, 0x3f, {0, 0, 0}};
    module.scopes[0] = LogScope{"global", 1, 0x3f};
    EXPECT_EQ(0, hvl_log_level_enabled(&module, 0, 0, CRITICAL));
    EXPECT_EQ(0u, module.submodules[0].err_count[0]);
    EXPECT_EQ(0, hvl_log_module_register(&module, "CPLD", 32));
}

struct LevelCase {
    int scope, submodule, level, expected;
};

TEST_F(LogLevelTest, NeedsModuleSubmoduleAndScopeToHaveTheLevelBit) {
    hvl_log_config_module(1, -1);
    hvl_log_config_submodule(0, 1, 0x0f); // up to INFO
    const LevelCase cases[] = {
        {0, 0, CRITICAL, 1},  {0, 0, INFO, 1},     {0, 0, TRACE, 0},     {0, 0, DEBUG, 0},
        {0, 0, -1, 0},        {0, 0, 32, 0},       {1, 0, CRITICAL, 0},  {-1, 0, CRITICAL, 0},
        {32, 0, CRITICAL, 0}, {0, 1, CRITICAL, 0}, {0, -1, CRITICAL, 0}, {0, 32, CRITICAL, 0},
    };
    for (const LevelCase &c : cases) {
        EXPECT_EQ(c.expected, hvl_log_level_enabled(&module, c.scope, c.submodule, c.level))
            << "scope " << c.scope << " submodule " << c.submodule << " level " << c.level;
    }
    module.scopes[0].mask = 0x01;
    EXPECT_EQ(0, hvl_log_level_enabled(&module, 0, 0, MAJOR));
    EXPECT_EQ(0, hvl_log_level_enabled(nullptr, 0, 0, CRITICAL));
    hvl_log_config_module(0, -1);
    EXPECT_EQ(0, hvl_log_level_enabled(&module, 0, 0, CRITICAL));
}

TEST_F(LogLevelTest, CountsErrorLevelTestsEvenWhenNotEmitted) {
    hvl_log_config_module(1, -1); // submodule 0 stays disabled
    for (int level : {CRITICAL, MAJOR, MINOR, MINOR, INFO, DEBUG}) {
        EXPECT_EQ(0, hvl_log_level_enabled(&module, 0, 0, level));
    }
    EXPECT_EQ(0, hvl_log_level_enabled(&module, 5, 0, MINOR)); // disabled scope still counts
    EXPECT_THAT(module.submodules[0].err_count, ElementsAre(1u, 1u, 3u));
    EXPECT_EQ(0, hvl_log_reset_counters());
    hvl_log_config_module(0, -1); // a disabled module counts nothing
    hvl_log_level_enabled(&module, 0, 0, CRITICAL);
    EXPECT_THAT(module.submodules[0].err_count, ElementsAre(0u, 0u, 0u));
}

TEST_F(LogConfig, MinusOneLeavesAFieldAsItIsAndIndexesRunFrom0To31) {
    EXPECT_EQ(0, hvl_log_config_module(1, 3));
    EXPECT_EQ(0, hvl_log_config_module(-1, 8));
    EXPECT_EQ(1, hvl_log_get_enabled());
    EXPECT_EQ(8, hvl_log_get_targets());
    EXPECT_EQ(0, hvl_log_config_submodule(0, 1, 0x07));
    EXPECT_EQ(0, hvl_log_config_submodule(0, 0, -1));
    EXPECT_EQ(0x07, hvl_log_get_submodule_mask(0));
    EXPECT_EQ(0, module.submodules[0].enabled);
    EXPECT_EQ(0, hvl_log_config_submodule(31, 1, 0x3f)); // not checked against the count
    EXPECT_EQ(0x3f, hvl_log_get_submodule_mask(31));
    for (int index : {-1, 32}) {
        EXPECT_EQ(-22, hvl_log_config_submodule(index, 1, 1));
        EXPECT_EQ(-22, hvl_log_get_submodule_mask(index));
    }
    EXPECT_EQ(0, hvl_log_config_all_submodules(1, 0x03));
    EXPECT_EQ(0x03, hvl_log_get_submodule_mask(17));
}

TEST_F(LogConfig, NamesAreCutAt15AndMatchedExactlyFirstOneFirst) {
    hvl_log_config_submodule(0, 1, 0x3f);
    EXPECT_EQ(0, hvl_log_name_submodule("a-very-long-submodule", 0));
    EXPECT_STREQ("a-very-long-sub", module.submodules[0].name);
    EXPECT_EQ(0, module.submodules[0].enabled); // naming resets the submodule
    EXPECT_EQ(0u, module.submodules[0].mask);
    EXPECT_EQ(-22, hvl_log_name_submodule("io", 3));
    EXPECT_EQ(-22, hvl_log_name_submodule(nullptr, 1));
    hvl_log_name_submodule("io", 1);
    hvl_log_name_submodule("io", 2);
    EXPECT_EQ(-22, hvl_log_config_submodule_by_name("IO", 1, 0x3f));
    EXPECT_EQ(-22, hvl_log_config_submodule_by_name(nullptr, 1, 0x3f));
    EXPECT_EQ(0, hvl_log_config_submodule_by_name("io", 1, 0x1f));
    EXPECT_EQ(0x1f, hvl_log_get_submodule_mask(1));
    EXPECT_EQ(0, hvl_log_get_submodule_mask(2));
}

TEST_F(LogConfig, ForeachVisitsDeclaredSubmodulesInOrder) {
    std::vector<LogSubmodule *> seen;
    auto record = [](LogSubmodule *s, void *arg) {
        static_cast<std::vector<LogSubmodule *> *>(arg)->push_back(s);
    };
    EXPECT_EQ(0, hvl_log_foreach_submodule(record, &seen));
    LogSubmodule *s = module.submodules;
    EXPECT_EQ((std::vector<LogSubmodule *>{&s[0], &s[1], &s[2]}), seen);
}

struct EnvCase {
    std::string value; // of HVL_LOG
    int mask;          // of the unnamed submodules afterwards; all start at 0x20
    int enabled;       // the module afterwards; it starts disabled
    int io_mask = -1;  // of submodule 1, named "io"; -1: as `mask`
};

// Each NAME:WORD pair sets the submodule of that name, or all of them for
// DEFAULT; the scan stops at the first malformed pair, keeping earlier ones.
TEST_F(LogEnv, PairsSetLevelMasksUpToTheFirstMalformedOne) {
    const std::string name79(79, 'n'), name80(80, 'n'), word79(79, 'W'), word80(80, 'W');
    // Level words ignore case and enable the more severe levels too; submodule
    // names do not. Malformed: empty, no colon, no name, no word, too long.
    const EnvCase cases[] = {{"DEFAULT:off", 0x00, 0},
                             {"DEFAULT:On", 0x3f, 1},
                             {"DEFAULT:ALL", 0x3f, 1},
                             {"DEFAULT:debug", 0x3f, 1},
                             {"DEFAULT:Trace", 0x1f, 1},
                             {"DEFAULT:INFO", 0x0f, 1},
                             {"DEFAULT:minor", 0x07, 1},
                             {"default:MaJoR", 0x03, 1},
                             {"DEFAULT:critical", 0x01, 1},
                             {"io:trace", 0x20, 1, 0x1f},
                             {"IO:trace", 0x20, 0},
                             {"nobody:DEBUG", 0x20, 0},
                             {"nobody:DEBUG,DEFAULT:MINOR", 0x07, 1},
                             {"DEFAULT:BOGUS", 0x20, 0},
                             {"DEFAULT:BOGUS,DEFAULT:TRACE", 0x1f, 1},
                             {"", 0x20, 0},
                             {"DEFAULT", 0x20, 0},
                             {"DEFAULT:", 0x20, 0},
                             {":DEBUG", 0x20, 0},
                             {"DEFAULT:INFO,:DEBUG", 0x0f, 1},
                             {name79 + ":DEBUG,DEFAULT:INFO", 0x0f, 1},
                             {name80 + ":DEBUG,DEFAULT:INFO", 0x20, 0},
                             {"DEFAULT:" + word79 + ",DEFAULT:INFO", 0x0f, 1},
                             {"DEFAULT:" + word80 + ",DEFAULT:INFO", 0x20, 0},
                             {"DEFAULT:INFO,DEFAULT:" + word80 + ",DEFAULT:DEBUG", 0x0f, 1}};
    hvl_log_name_submodule("io", 1);
    for (const EnvCase &c : cases) {
        hvl_log_config_module(0, -1);
        hvl_log_config_all_submodules(1, 0x20);
        setenv("HVL_LOG", c.value.c_str(), 1);
        EXPECT_EQ(0, hvl_log_config_env());
        const std::string v = '"' + c.value + '"';
        EXPECT_EQ(c.mask, hvl_log_get_submodule_mask(0)) << v;
        EXPECT_EQ(c.mask, hvl_log_get_submodule_mask(31)) << v;
        EXPECT_EQ(c.mask != 0 ? 1 : 0, module.submodules[0].enabled) << v;
        EXPECT_EQ(c.io_mask != -1 ? c.io_mask : c.mask, hvl_log_get_submodule_mask(1)) << v;
        EXPECT_EQ(c.enabled, hvl_log_get_enabled()) << v;
    }
    hvl_log_config_module(1, -1);
    setenv("HVL_LOG", "DEFAULT:OFF", 1);
    hvl_log_config_env();
    EXPECT_EQ(1, hvl_log_get_enabled()) << "OFF does not disable the module";
}

struct TargetCase {
    const char *value; // of HVL_LOG_TARGET; null: unset
    int targets;       // afterwards; they start as the callback alone
};

TEST_F(LogEnv, TargetWordsAreCaseSensitiveAndReplaceAllTargets) {
    const TargetCase cases[] = {{"CONSOLE", 1},
                                {"SYSLOG", 2},
                                {"CONSOLE,SYSLOG", 3},
                                {"xSYSLOGCONSOLEx", 3},
                                {"console", 0},
                                {"Syslog", 0},
                                {"", 0},
                                {nullptr, 8}};
    for (const TargetCase &c : cases) {
        hvl_log_config_module(-1, HVL_LOG_TARGET_CALLBACK);
        set_or_unset("HVL_LOG_TARGET", c.value);
        hvl_log_config_env();
        EXPECT_EQ(c.targets, hvl_log_get_targets()) << (c.value != nullptr ? c.value : "unset");
    }
}

TEST_F(LogMessage, HeaderNamesModuleLevelScopeSubmoduleAndSite) {
    for (int level = CRITICAL; level <= DEBUG; ++level) {
        EXPECT_EQ(0, hvl_log_message(&module, 0, 0, level, "fn", "f.cpp", 12, "x"));
        EXPECT_EQ("CPLD: " + std::string(kPrefix[level]) + ": global: : f.cpp(12 fn)", d.header);
    }
    const char *const sites[][3] = {
        // function, file, header
        {nullptr, "f.cpp", "CPLD: INFO: global: : f.cpp(12)"},
        {"fn", nullptr, "CPLD: INFO: global:  12 fn"},
        {nullptr, nullptr, "CPLD: INFO: global:  12"},
    };
    for (const auto &site : sites) {
        hvl_log_message(&module, 0, 0, INFO, site[0], site[1], 12, "x");
        EXPECT_EQ(site[2], d.header);
    }
    hvl_log_name_submodule("io", 1);
    hvl_log_message(&module, 0, 1, INFO, "fn", "f.cpp", 12, "x");
    EXPECT_EQ("CPLD: INFO: global: io: f.cpp(12 fn)", d.header);
}

TEST_F(LogMessage, CallbackGetsReadyFormatAndCoordinates) {
    const std::time_t before = std::time(nullptr);
    EXPECT_EQ(0, hvl_log_message(&module, 0, 2, MINOR, "fn", "f.cpp", 42, "v=%d", 7));
    const std::time_t after = std::time(nullptr);
    EXPECT_EQ(std::make_tuple(1, 0, 2, int{MINOR}, 42),
              std::tie(d.calls, d.scope, d.submodule, d.level, d.line));
    EXPECT_EQ("f.cpp", d.file);
    EXPECT_EQ("%s: %s\n", d.format);
    EXPECT_EQ("CPLD: ERROR*MINOR*: global: : f.cpp(42 fn)", d.header);
    EXPECT_EQ("v=7", d.body);
    EXPECT_TRUE(d.sec >= before && d.sec <= after && d.usec >= 0 && d.usec < 1000000);
}

TEST_F(LogMessage, BodyIsOneLineAndHeaderAndBodyAreCutAt126And254) {
    hvl_log_message(&module, 0, 0, INFO, "fn", "f.cpp", 1, "a\nb %s\n", "c\nd");
    EXPECT_EQ("a b c d ", d.body);
    hvl_log_message(&module, 0, 0, INFO, "fn", "f.cpp", 1, nullptr);
    EXPECT_EQ("", d.body);
    const std::string site = "CPLD: INFO: global: : f.cpp(1 ";
    for (std::size_t length : {125, 126, 127, 200}) {
        const std::string function(length - site.size() - 1, 'f');
        hvl_log_message(&module, 0, 0, INFO, function.c_str(), "f.cpp", 1, "body");
        EXPECT_EQ((site + function + ")").substr(0, 126), d.header) << length;
        EXPECT_EQ("body", d.body);
    }
    for (std::size_t length : {253, 254, 255, 400}) {
        const std::string body(length, 'b');
        hvl_log_message(&module, 0, 0, INFO, "fn", "f.cpp", 1, "%s", body.c_str());
        EXPECT_EQ(body.substr(0, 254), d.body) << length;
    }
}

TEST_F(LogMessage, RejectsCoordinatesOutOfRangeButLeavesTheLevelTestToTheCaller) {
    const int bad[][3] = {{-1, 0, INFO}, {32, 0, INFO}, {0, -1, INFO},
                          {0, 32, INFO}, {0, 0, -1},    {0, 0, 6}}; // scope, submodule, level
    for (const auto &b : bad) {
        EXPECT_EQ(-22, hvl_log_message(&module, b[0], b[1], b[2], "fn", "f.cpp", 1, "x")) << b[2];
    }
    EXPECT_EQ(-22, hvl_log_message(nullptr, 0, 0, INFO, "fn", "f.cpp", 1, "x"));
    EXPECT_EQ(0, d.calls);
    hvl_log_config_module(0, -1); // module and submodule disabled
    EXPECT_EQ(0, hvl_log_message(&module, 31, 31, DEBUG, "fn", "f.cpp", 1, "x"));
    hvl_log_module_unregister(&module);
    EXPECT_EQ(0, hvl_log_message(&module, 0, 0, DEBUG, "fn", "f.cpp", 1, "x"));
    EXPECT_EQ(2, d.calls);
}

int evaluations = 0;
int counted() { return ++evaluations; }

// The POSIX locale's "%x %X" of now: month/day/two-digit year hours:minutes:seconds.
std::string local_stamp() {
    const std::time_t now = std::time(nullptr);
    const std::tm *t = std::localtime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d:", t->tm_mon + 1, t->tm_mday,
                  t->tm_year % 100, t->tm_hour, t->tm_min, t->tm_sec);
    return text;
}

struct StartUpCase {
    const char *hvl_log, *hvl_log_target; // null: unset
    int level;
    bool enabled; // passes the level test, so its arguments are evaluated
    bool printed;
};

// The tool's start-up: console target, then the environment; library code
// logs through HVL_LOGF. Lines start with the local time and microseconds.
TEST_F(LogConsole, ToolPrintsOnlyWhatHvlLogEnables) {
    const char *tz = getenv("TZ");
    const std::string saved_tz = tz != nullptr ? tz : "";
    setenv("TZ", "HVL-3", 1); // three hours east of UTC
    const StartUpCase cases[] = {
        {nullptr, nullptr, CRITICAL, false, false},
        {"DEFAULT:INFO", nullptr, INFO, true, true},
        {"DEFAULT:INFO", nullptr, TRACE, false, false},
        {"DEFAULT:DEBUG", nullptr, DEBUG, true, true},
        {"DEFAULT:DEBUG", "console", CRITICAL, true, false},
        {"DEFAULT:DEBUG", "CONSOLE", MAJOR, true, true},
    };
    for (const StartUpCase &c : cases) {
        set_or_unset("HVL_LOG", c.hvl_log);
        set_or_unset("HVL_LOG_TARGET", c.hvl_log_target);
        ASSERT_EQ(0, hvl_log_init());
        ASSERT_EQ(0, hvl_log_module_register(&module, "CPLD", 1));
        hvl_log_config_module(1, 1);
        hvl_log_config_env();
        evaluations = 0;
        ::testing::internal::CaptureStdout();
        const std::string before = local_stamp();
        HVL_LOGF(c.level, "n=%d\nend", counted());
        const int line = __LINE__ - 1;
        const std::string after = local_stamp();
        const std::string out = ::testing::internal::GetCapturedStdout();
        hvl_log_module_unregister(&module);
        const std::string expected = "T:U: CPLD: " + std::string(kPrefix[c.level]) +
                                     ": global: : log_test.cpp(" + std::to_string(line) +
                                     " TestBody): n=1 end\n";
        EXPECT_EQ(c.printed ? expected : "", normalise_console(out)) << c.hvl_log << " " << c.level;
        EXPECT_TRUE(!c.printed || out.rfind(before, 0) == 0 || out.rfind(after, 0) == 0) << out;
        EXPECT_EQ(c.enabled ? 1 : 0, evaluations) << "arguments are evaluated only when enabled";
    }
    set_or_unset("TZ", tz != nullptr ? saved_tz.c_str() : nullptr);
}

// A private mount namespace with an empty tmpfs on /dev; false where this
// process may not have one.
bool private_dev() {
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") == 0;
}

// A datagram socket bound at `path`, or -1.
int bound_socket(const char *path) {
    const int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, path);
    return sock >= 0 && bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0 ? sock
                                                                                          : -1;
}

TEST_F(LogSyslog, SendsHeaderAndBodyWithLevelPriorityOnLocal0) {
    if (!private_dev()) {
        GTEST_SKIP() << "no private /dev for a socket at /dev/log: " << std::strerror(errno);
    }
    const int sock = bound_socket("/dev/log");
    if (sock >= 0) {
        EXPECT_EQ(0, hvl_log_module_register(&module, "CPLD", 1)); // connects at once
    }
    umount2("/dev", MNT_DETACH); // the real /dev again; the connection stays
    ASSERT_GE(sock, 0) << "binding /dev/log";
    hvl_log_config_module(1, HVL_LOG_TARGET_CONSOLE | HVL_LOG_TARGET_SYSLOG);
    ::testing::internal::CaptureStdout();
    for (int level = CRITICAL; level <= DEBUG; ++level) {
        hvl_log_message(&module, 0, 0, level, "fn", "f.cpp", 7, "level %d\nend", level);
    }
    const std::string printed = ::testing::internal::GetCapturedStdout();
    const int priority[] = {130, 131, 132, 133, 134, 135}; // LOG_LOCAL0 | LOG_CRIT ... LOG_DEBUG
    const std::string ident = "CPLD[" + std::to_string(getpid()) + "]: ";
    std::string expected_console;
    char datagram[1024];
    for (int level = CRITICAL; level <= DEBUG; ++level) {
        const ssize_t n = recv(sock, datagram, sizeof datagram, MSG_DONTWAIT);
        ASSERT_GT(n, 0) << "datagram " << level;
        const std::string got(datagram, static_cast<std::size_t>(n));
        const std::string text = "CPLD: " + std::string(kPrefix[level]) +
                                 ": global: : f.cpp(7 fn): level " + std::to_string(level) + " end";
        EXPECT_THAT(got, StartsWith("<" + std::to_string(priority[level]) + ">"));
        ASSERT_THAT(got, HasSubstr(ident));
        EXPECT_EQ(text, got.substr(got.find(ident) + ident.size()));
        expected_console += "T:U: " + text + "\n";
    }
    EXPECT_EQ(-1, recv(sock, datagram, sizeof datagram, MSG_DONTWAIT)) << "only six datagrams";
    close(sock);
    EXPECT_EQ(expected_console, normalise_console(printed));
}

#ifndef NDEBUG
TEST_F(LogDeathTest, ProgrammingErrorsStopAtAssertions) {
    hvl_log_module_unregister(&module);
    EXPECT_DEATH(hvl_log_module_register(nullptr, "CPLD", 1), "log_module");
    EXPECT_DEATH(hvl_log_module_register(&module, nullptr, 1), "module_name");
    ASSERT_EQ(0, hvl_log_module_register(&module, "CPLD", 1));
    hvl_log_config_module(1, HVL_LOG_TARGET_CALLBACK);
    EXPECT_DEATH(hvl_log_message(&module, 0, 0, INFO, "fn", "f.cpp", 1, "x"), "m->log_cb");
}
#endif

} // namespace
