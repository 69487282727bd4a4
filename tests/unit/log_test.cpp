// The logging library as its users see it: registration, the level test and
// its error counters, configuration from HVL_LOG and HVL_LOG_TARGET, and the
// message text on the console, the callback and a real syslog socket.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hvl/hvl_log.h"
#include "log/log_site.h"

using ::testing::HasSubstr;
using ::testing::StartsWith;

namespace {

// Leaves nothing registered and no configuration in the environment behind.
class LogFixture : public ::testing::Test {
protected:
    void TearDown() override {
        if (_hvl_log_this_module != nullptr) {
            hvl_log_module_unregister(_hvl_log_this_module);
        }
        unsetenv("HVL_LOG");
        unsetenv("HVL_LOG_TARGET");
    }
    LogModule module{};
};

// The tool's module: "CPLD" with one submodule.
class Log : public LogFixture {
protected:
    void SetUp() override { ASSERT_EQ(0, hvl_log_module_register(&module, "CPLD", 1)); }
};

using LogRegistration = LogFixture;
using LogLevelTest = Log;
using LogConfig = Log;
using LogEnv = Log;
using LogMessage = Log;
using LogConsole = LogFixture;
using LogSyslog = LogFixture;
using LogDeathTest = Log;

// Message prefixes by level.
constexpr const char *kPrefix[] = {
    "ERROR*CRITICAL*", "ERROR*MAJOR*", "ERROR*MINOR*", "INFO", "TRCE", "DBUG"};

// What the callback target was handed.
struct Delivery {
    int calls = 0;
    std::int64_t sec = 0;
    std::int32_t usec = 0;
    int scope = -1, submodule = -1, level = -1, line = -1;
    std::string file, format, header, body;
};

int deliver(void *data, std::int64_t sec, std::int32_t usec, int scope, int submodule, int level,
            const char *file, int line, const char *format, ...) {
    Delivery &d = *static_cast<Delivery *>(data);
    va_list args;
    va_start(args, format);
    d.header = va_arg(args, const char *);
    d.body = va_arg(args, const char *);
    va_end(args);
    d.calls++;
    d.sec = sec;
    d.usec = usec;
    d.scope = scope;
    d.submodule = submodule;
    d.level = level;
    d.file = file != nullptr ? file : "(null)";
    d.line = line;
    d.format = format;
    return 0;
}

// Routes messages of the registered module to `d` only.
void deliver_to(Delivery &d) {
    hvl_log_set_callback(deliver, &d);
    hvl_log_config_module(1, HVL_LOG_TARGET_CALLBACK);
}

void set_or_unset(const char *name, const char *value) {
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

// Console lines with the date, time and microseconds replaced by "T:U".
std::string normalise_console(const std::string &out) {
    static const std::regex stamp(R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d:\d{6}: )");
    return std::regex_replace(out, stamp, "T:U: ");
}

TEST_F(LogRegistration, ZeroesRecordAndCreatesGlobalScope) {
    memset(&module, 0xa5, sizeof module);
    ASSERT_EQ(0, hvl_log_module_register(&module, "CPLD-LONG-NAME-CUT", 1));
    EXPECT_EQ(&module, _hvl_log_this_module);
    EXPECT_STREQ("CPLD-LONG-NAME-", module.name);
    EXPECT_EQ(1, module.submodule_count);
    EXPECT_EQ(0, module.enabled);
    EXPECT_EQ(0u, module.targets);
    EXPECT_EQ(nullptr, module.log_cb);
    EXPECT_STREQ("global", module.scopes[0].name);
    EXPECT_EQ(1, module.scopes[0].enabled);
    EXPECT_EQ(0x3fu, module.scopes[0].mask);
    EXPECT_EQ(0, module.scopes[31].enabled);
    EXPECT_EQ(0u, module.submodules[31].err_count[2]);
}

TEST_F(LogRegistration, SecondRegistrationFailsAndKeepsFirst) {
    ASSERT_EQ(0, hvl_log_module_register(&module, "CPLD", 1));
    LogModule other{};
    other.enabled = 7;
    EXPECT_EQ(-12, hvl_log_module_register(&other, "OTHER", 1));
    EXPECT_EQ(-12, hvl_log_module_register(&module, "CPLD", 1));
    EXPECT_EQ(&module, _hvl_log_this_module);
    EXPECT_EQ(7, other.enabled);
}

TEST_F(LogRegistration, AcceptsAtMost32Submodules) {
    EXPECT_EQ(-22, hvl_log_module_register(&module, "CPLD", 33));
    EXPECT_EQ(nullptr, _hvl_log_this_module);
    EXPECT_EQ(0, hvl_log_module_register(&module, "CPLD", 32));
}

TEST_F(LogRegistration, UnregisterTakesOnlyTheRegisteredModule) {
    ASSERT_EQ(0, hvl_log_module_register(&module, "CPLD", 1));
    LogModule other{};
    EXPECT_EQ(-22, hvl_log_module_unregister(&other));
    EXPECT_EQ(-22, hvl_log_module_unregister(nullptr));
    EXPECT_EQ(0, hvl_log_module_unregister(&module));
    EXPECT_EQ(nullptr, _hvl_log_this_module);
    EXPECT_EQ(-22, hvl_log_module_unregister(&module));
    EXPECT_EQ(0, hvl_log_module_register(&other, "CPLD", 1));
}

TEST_F(LogRegistration, EveryCallFailsWhileNothingIsRegistered) {
    auto visit = [](LogSubmodule *, void *) {};
    EXPECT_EQ(-22, hvl_log_config_module(1, 1));
    EXPECT_EQ(-22, hvl_log_config_submodule(0, 1, 1));
    EXPECT_EQ(-22, hvl_log_config_submodule_by_name("", 1, 1));
    EXPECT_EQ(-22, hvl_log_config_all_submodules(1, 1));
    EXPECT_EQ(-22, hvl_log_name_submodule("io", 0));
    EXPECT_EQ(-22, hvl_log_foreach_submodule(visit, nullptr));
    EXPECT_EQ(-22, hvl_log_reset_counters());
    EXPECT_EQ(-22, hvl_log_set_callback(deliver, nullptr));
    EXPECT_EQ(-22, hvl_log_get_enabled());
    EXPECT_EQ(-22, hvl_log_get_targets());
    EXPECT_EQ(-22, hvl_log_get_submodule_mask(0));
    module.enabled = 1;
    module.submodules[0] = LogSubmodule{"", 1, 0x3f, {0, 0, 0}};
    module.scopes[0] = LogScope{"global", 1, 0x3f};
    EXPECT_EQ(0, hvl_log_level_enabled(&module, 0, 0, CRITICAL));
    EXPECT_EQ(0u, module.submodules[0].err_count[0]);
}

struct LevelCase {
    int scope, submodule, level, expected;
};

TEST_F(LogLevelTest, NeedsSubmoduleAndScopeToHaveTheLevelBit) {
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
    const std::uint32_t *count = module.submodules[0].err_count;
    EXPECT_EQ(1u, count[0]);
    EXPECT_EQ(1u, count[1]);
    EXPECT_EQ(3u, count[2]);

    EXPECT_EQ(0, hvl_log_reset_counters());
    EXPECT_EQ(0u, count[0] + count[1] + count[2]);

    hvl_log_config_module(0, -1); // a disabled module counts nothing
    hvl_log_level_enabled(&module, 0, 0, CRITICAL);
    EXPECT_EQ(0u, count[0]);
}

TEST_F(LogConfig, MinusOneLeavesAFieldAsItIs) {
    EXPECT_EQ(0, hvl_log_config_module(1, 3));
    EXPECT_EQ(0, hvl_log_config_module(-1, 8));
    EXPECT_EQ(1, hvl_log_get_enabled());
    EXPECT_EQ(8, hvl_log_get_targets());
    EXPECT_EQ(0, hvl_log_config_submodule(0, 1, 0x07));
    EXPECT_EQ(0, hvl_log_config_submodule(0, 0, -1));
    EXPECT_EQ(0x07, hvl_log_get_submodule_mask(0));
    EXPECT_EQ(0, module.submodules[0].enabled);
}

TEST_F(LogConfig, SubmoduleIndexIsChecked0To31NotAgainstCount) {
    EXPECT_EQ(0, hvl_log_config_submodule(31, 1, 0x3f));
    EXPECT_EQ(0x3f, hvl_log_get_submodule_mask(31));
    for (int index : {-1, 32}) {
        EXPECT_EQ(-22, hvl_log_config_submodule(index, 1, 1));
        EXPECT_EQ(-22, hvl_log_get_submodule_mask(index));
    }
    EXPECT_EQ(0, hvl_log_config_all_submodules(1, 0x03));
    EXPECT_EQ(0x03, hvl_log_get_submodule_mask(17));
}

TEST_F(LogConfig, NamesAreCutAt15AndMatchedExactlyFirstOneFirst) {
    hvl_log_module_unregister(&module);
    ASSERT_EQ(0, hvl_log_module_register(&module, "CPLD", 3));
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
    hvl_log_module_unregister(&module);
    ASSERT_EQ(0, hvl_log_module_register(&module, "CPLD", 3));
    std::vector<LogSubmodule *> seen;
    auto record = [](LogSubmodule *s, void *arg) {
        static_cast<std::vector<LogSubmodule *> *>(arg)->push_back(s);
    };
    EXPECT_EQ(0, hvl_log_foreach_submodule(record, &seen));
    EXPECT_EQ((std::vector<LogSubmodule *>{&module.submodules[0], &module.submodules[1],
                                           &module.submodules[2]}),
              seen);
}

struct WordCase {
    const char *word;
    std::uint32_t mask;
};

TEST_F(LogEnv, LevelWordsIgnoreCaseAndEnableTheMoreSevereLevels) {
    const WordCase cases[] = {
        {"off", 0x00},  {"On", 0x3f},    {"ALL", 0x3f},   {"debug", 0x3f},    {"Trace", 0x1f},
        {"INFO", 0x0f}, {"minor", 0x07}, {"MaJoR", 0x03}, {"critical", 0x01},
    };
    for (const WordCase &c : cases) {
        setenv("HVL_LOG", (std::string("DEFAULT:") + c.word).c_str(), 1);
        hvl_log_config_env();
        EXPECT_EQ(static_cast<int>(c.mask), hvl_log_get_submodule_mask(0)) << c.word;
        EXPECT_EQ(c.mask != 0 ? 1 : 0, module.submodules[0].enabled) << c.word;
    }
}

TEST_F(LogEnv, DefaultNameIgnoresCaseReachesAll32AndEnablesModule) {
    setenv("HVL_LOG", "default:major", 1);
    hvl_log_config_env();
    EXPECT_EQ(1, hvl_log_get_enabled());
    EXPECT_EQ(0x03, hvl_log_get_submodule_mask(31));
    EXPECT_EQ(1, hvl_log_level_enabled(&module, 0, 0, MAJOR));
    EXPECT_EQ(0, hvl_log_level_enabled(&module, 0, 0, MINOR));
}

TEST_F(LogEnv, OffDisablesSubmodulesButNotTheModule) {
    hvl_log_config_all_submodules(1, 0x3f);
    setenv("HVL_LOG", "DEFAULT:OFF", 1);
    hvl_log_config_env();
    EXPECT_EQ(0, hvl_log_get_enabled());
    EXPECT_EQ(0, module.submodules[5].enabled);
    hvl_log_config_module(1, -1);
    hvl_log_config_env();
    EXPECT_EQ(1, hvl_log_get_enabled());
}

TEST_F(LogEnv, NamedSubmoduleTakesItsOwnPair) {
    hvl_log_name_submodule("io", 0);
    setenv("HVL_LOG", "io:trace", 1);
    hvl_log_config_env();
    EXPECT_EQ(0x1f, hvl_log_get_submodule_mask(0));
    EXPECT_EQ(0, hvl_log_get_submodule_mask(1));
}

struct ScanCase {
    std::string value;
    int mask; // of submodule 0 afterwards; it starts at 0x20
    int module_enabled;
};

TEST_F(LogEnv, ScanStopsAtFirstMalformedPairKeepingEarlierOnes) {
    const std::string name79(79, 'n'), name80(80, 'n'), word79(79, 'W'), word80(80, 'W');
    const ScanCase cases[] = {
        {"", 0x20, 0},
        {"DEFAULT", 0x20, 0},
        {"DEFAULT:", 0x20, 0},
        {":DEBUG", 0x20, 0},
        {"DEFAULT:INFO,:DEBUG", 0x0f, 1},
        {"DEFAULT:INFO,DEFAULT", 0x0f, 1},
        {"DEFAULT:INFO,DEFAULT:", 0x0f, 1},
        {"DEFAULT:INFO,", 0x0f, 1},
        {"DEFAULT:BOGUS", 0x20, 0},
        {"DEFAULT:BOGUS,DEFAULT:TRACE", 0x1f, 1},
        {"nobody:DEBUG", 0x20, 0},
        {"nobody:DEBUG,DEFAULT:MINOR", 0x07, 1},
        {name79 + ":DEBUG,DEFAULT:INFO", 0x0f, 1},
        {name80 + ":DEBUG,DEFAULT:INFO", 0x20, 0},
        {"DEFAULT:" + word79 + ",DEFAULT:INFO", 0x0f, 1},
        {"DEFAULT:" + word80 + ",DEFAULT:INFO", 0x20, 0},
        {"DEFAULT:INFO,DEFAULT:" + word80 + ",DEFAULT:DEBUG", 0x0f, 1},
    };
    for (const ScanCase &c : cases) {
        hvl_log_config_module(0, -1);
        hvl_log_config_all_submodules(1, 0x20);
        setenv("HVL_LOG", c.value.c_str(), 1);
        hvl_log_config_env();
        EXPECT_EQ(c.mask, hvl_log_get_submodule_mask(0)) << '"' << c.value << '"';
        EXPECT_EQ(c.module_enabled, hvl_log_get_enabled()) << '"' << c.value << '"';
    }
}

struct TargetCase {
    const char *value;
    int targets;
};

TEST_F(LogEnv, TargetWordsAreCaseSensitiveAndReplaceAllTargets) {
    const TargetCase cases[] = {
        {"CONSOLE", 1},
        {"SYSLOG", 2},
        {"CONSOLE,SYSLOG", 3},
        {"xSYSLOGCONSOLEx", 3},
        {"console", 0},
        {"Syslog", 0},
        {"", 0},
    };
    for (const TargetCase &c : cases) {
        hvl_log_config_module(-1, HVL_LOG_TARGET_CALLBACK);
        setenv("HVL_LOG_TARGET", c.value, 1);
        hvl_log_config_env();
        EXPECT_EQ(c.targets, hvl_log_get_targets()) << '"' << c.value << '"';
    }
    unsetenv("HVL_LOG_TARGET");
    hvl_log_config_env();
    EXPECT_EQ(0, hvl_log_get_targets());
}

struct HeaderCase {
    const char *function;
    const char *file;
    int level;
    const char *header;
};

TEST_F(LogMessage, HeaderNamesModuleLevelScopeSubmoduleAndSite) {
    Delivery d;
    deliver_to(d);
    const HeaderCase cases[] = {
        {"fn", "f.cpp", CRITICAL, "CPLD: ERROR*CRITICAL*: global: : f.cpp(12 fn)"},
        {"fn", "f.cpp", MAJOR, "CPLD: ERROR*MAJOR*: global: : f.cpp(12 fn)"},
        {"fn", "f.cpp", MINOR, "CPLD: ERROR*MINOR*: global: : f.cpp(12 fn)"},
        {"fn", "f.cpp", INFO, "CPLD: INFO: global: : f.cpp(12 fn)"},
        {"fn", "f.cpp", TRACE, "CPLD: TRCE: global: : f.cpp(12 fn)"},
        {"fn", "f.cpp", DEBUG, "CPLD: DBUG: global: : f.cpp(12 fn)"},
        {nullptr, "f.cpp", INFO, "CPLD: INFO: global: : f.cpp(12)"},
        {"fn", nullptr, INFO, "CPLD: INFO: global:  12 fn"},
        {nullptr, nullptr, INFO, "CPLD: INFO: global:  12"},
    };
    for (const HeaderCase &c : cases) {
        EXPECT_EQ(0, hvl_log_message(&module, 0, 0, c.level, c.function, c.file, 12, "x"));
        EXPECT_EQ(c.header, d.header);
    }
    hvl_log_name_submodule("io", 0);
    hvl_log_message(&module, 0, 0, INFO, "fn", "f.cpp", 12, "x");
    EXPECT_EQ("CPLD: INFO: global: io: f.cpp(12 fn)", d.header);
}

TEST_F(LogMessage, CallbackGetsReadyFormatAndCoordinates) {
    Delivery d;
    deliver_to(d);
    std::time_t before = std::time(nullptr);
    EXPECT_EQ(0, hvl_log_message(&module, 0, 0, MINOR, "fn", "f.cpp", 42, "v=%d", 7));
    std::time_t after = std::time(nullptr);
    EXPECT_EQ(1, d.calls);
    EXPECT_EQ("%s: %s\n", d.format);
    EXPECT_EQ("CPLD: ERROR*MINOR*: global: : f.cpp(42 fn)", d.header);
    EXPECT_EQ("v=7", d.body);
    EXPECT_EQ(0, d.scope);
    EXPECT_EQ(0, d.submodule);
    EXPECT_EQ(MINOR, d.level);
    EXPECT_EQ("f.cpp", d.file);
    EXPECT_EQ(42, d.line);
    EXPECT_GE(d.sec, before);
    EXPECT_LE(d.sec, after);
    EXPECT_GE(d.usec, 0);
    EXPECT_LT(d.usec, 1000000);
}

TEST_F(LogMessage, BodyIsOneLineAndEmptyWithoutFormat) {
    Delivery d;
    deliver_to(d);
    hvl_log_message(&module, 0, 0, INFO, "fn", "f.cpp", 1, "a\nb %s\n", "c\nd");
    EXPECT_EQ("a b c d ", d.body);
    hvl_log_message(&module, 0, 0, INFO, "fn", "f.cpp", 1, nullptr);
    EXPECT_EQ("", d.body);
}

struct CutCase {
    std::size_t length, kept;
};

TEST_F(LogMessage, HeaderIsCutAt126AndBodyAt254) {
    Delivery d;
    deliver_to(d);
    const std::string site = "CPLD: INFO: global: : f.cpp(1 ";
    for (const CutCase &c :
         {CutCase{125, 125}, CutCase{126, 126}, CutCase{127, 126}, CutCase{200, 126}}) {
        const std::string function(c.length - site.size() - 1, 'f');
        const std::string full = site + function + ")";
        hvl_log_message(&module, 0, 0, INFO, function.c_str(), "f.cpp", 1, "body");
        EXPECT_EQ(full.substr(0, c.kept), d.header) << c.length;
        EXPECT_EQ("body", d.body);
    }
    for (const CutCase &c :
         {CutCase{253, 253}, CutCase{254, 254}, CutCase{255, 254}, CutCase{400, 254}}) {
        const std::string body(c.length, 'b');
        hvl_log_message(&module, 0, 0, INFO, "fn", "f.cpp", 1, "%s", body.c_str());
        EXPECT_EQ(body.substr(0, c.kept), d.body) << c.length;
    }
}

TEST_F(LogMessage, RejectsCoordinatesOutOfRangeWithoutOutput) {
    Delivery d;
    deliver_to(d);
    const LevelCase cases[] = {
        {-1, 0, INFO, -22}, {32, 0, INFO, -22}, {0, -1, INFO, -22},
        {0, 32, INFO, -22}, {0, 0, -1, -22},    {0, 0, 6, -22},
    };
    for (const LevelCase &c : cases) {
        EXPECT_EQ(c.expected,
                  hvl_log_message(&module, c.scope, c.submodule, c.level, "fn", "f.cpp", 1, "x"));
    }
    EXPECT_EQ(-22, hvl_log_message(nullptr, 0, 0, INFO, "fn", "f.cpp", 1, "x"));
    EXPECT_EQ(0, d.calls);
}

TEST_F(LogMessage, EmitsWithoutRepeatingTheLevelTestOrRegistration) {
    Delivery d;
    deliver_to(d);
    hvl_log_config_module(0, -1); // module and submodule disabled
    EXPECT_EQ(0, hvl_log_message(&module, 31, 31, DEBUG, "fn", "f.cpp", 1, "x"));
    hvl_log_module_unregister(&module);
    EXPECT_EQ(0, hvl_log_message(&module, 0, 0, DEBUG, "fn", "f.cpp", 1, "x"));
    EXPECT_EQ(2, d.calls);
}

TEST_F(LogConsole, LineCarriesLocalTimeMicrosecondsHeaderAndBody) {
    const char *old_tz = getenv("TZ");
    const std::string saved_tz = old_tz != nullptr ? old_tz : "";
    set_or_unset("TZ", "HVL-3"); // three hours east of UTC
    ASSERT_EQ(0, hvl_log_module_register(&module, "CPLD", 1));
    hvl_log_config_module(1, HVL_LOG_TARGET_CONSOLE);
    // The POSIX locale's "%x %X": month/day/two-digit year hours:minutes:seconds.
    auto stamp = [] {
        std::time_t now = std::time(nullptr);
        const std::tm *t = std::localtime(&now);
        char text[32];
        std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d", t->tm_mon + 1, t->tm_mday,
                      t->tm_year % 100, t->tm_hour, t->tm_min, t->tm_sec);
        return std::string(text);
    };
    ::testing::internal::CaptureStdout();
    const std::string before = stamp();
    hvl_log_message(&module, 0, 0, MAJOR, "fn", "f.cpp", 9, "multi\nline");
    const std::string after = stamp();
    const std::string out = ::testing::internal::GetCapturedStdout();
    set_or_unset("TZ", old_tz != nullptr ? saved_tz.c_str() : nullptr);
    EXPECT_EQ("T:U: CPLD: ERROR*MAJOR*: global: : f.cpp(9 fn): multi line\n",
              normalise_console(out));
    EXPECT_TRUE(out.rfind(before + ":", 0) == 0 || out.rfind(after + ":", 0) == 0) << out;
}

int evaluations = 0;
int counted() { return ++evaluations; }

struct StartUpCase {
    const char *hvl_log;        // null: unset
    const char *hvl_log_target; // null: unset
    int level;
    bool enabled; // passes the level test, so its arguments are evaluated
    bool printed;
};

// The tool's start-up: console target, then the environment; library code
// logs through HVL_LOGF.
TEST_F(LogConsole, ToolPrintsOnlyWhatHvlLogEnables) {
    const StartUpCase cases[] = {
        {nullptr, nullptr, CRITICAL, false, false},
        {"DEFAULT:INFO", nullptr, INFO, true, true},
        {"DEFAULT:INFO", nullptr, TRACE, false, false},
        {"DEFAULT:DEBUG", nullptr, DEBUG, true, true},
        {"DEFAULT:DEBUG", "console", CRITICAL, true, false},
        {"DEFAULT:DEBUG", "CONSOLE", DEBUG, true, true},
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
        HVL_LOGF(c.level, "n=%d", counted());
        const int line = __LINE__ - 1;
        const std::string out = ::testing::internal::GetCapturedStdout();
        hvl_log_module_unregister(&module);
        const std::string expected = c.printed ? "T:U: CPLD: " + std::string(kPrefix[c.level]) +
                                                     ": global: : log_test.cpp(" +
                                                     std::to_string(line) + " TestBody): n=1\n"
                                               : "";
        EXPECT_EQ(expected, normalise_console(out)) << c.hvl_log << " level " << c.level;
        EXPECT_EQ(c.enabled ? 1 : 0, evaluations) << "arguments are evaluated only when enabled";
    }
}

// The child's side of the syslog test: a private /dev with a datagram socket
// at /dev/log, the module registered with console and syslog targets, one
// message per level. Writes the datagrams, each closed by a NUL, to `report`;
// on failure writes the reason and exits 1, or 77 when the namespace cannot be
// set up here.
[[noreturn]] void syslog_child(int report) {
    auto give_up = [report](int status, const char *what) {
        std::string text = std::string(what) + ": " + std::strerror(errno);
        (void)!write(report, text.data(), text.size());
        _exit(status);
    };
    constexpr int kSkip = 77;
    if (unshare(CLONE_NEWNS) != 0) {
        give_up(kSkip, "unshare(CLONE_NEWNS)");
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        give_up(kSkip, "making mounts private");
    }
    if (mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") != 0) {
        give_up(kSkip, "mounting a tmpfs on /dev");
    }
    int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strcpy(addr.sun_path, "/dev/log");
    if (sock < 0 || bind(sock, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        give_up(1, "binding /dev/log");
    }
    LogModule m{};
    hvl_log_module_register(&m, "CPLD", 1);
    // Registration connects at once: removing the name does not lose the messages.
    unlink("/dev/log");
    hvl_log_config_module(1, HVL_LOG_TARGET_CONSOLE | HVL_LOG_TARGET_SYSLOG);
    for (int level = CRITICAL; level <= DEBUG; ++level) {
        hvl_log_message(&m, 0, 0, level, "fn", "f.cpp", 7, "level %d\nend", level);
    }
    for (int level = CRITICAL; level <= DEBUG; ++level) {
        pollfd pfd{sock, POLLIN, 0};
        char datagram[1024];
        ssize_t n = poll(&pfd, 1, 5000) == 1 ? recv(sock, datagram, sizeof datagram - 1, 0) : -1;
        if (n < 0) {
            give_up(1, "receiving a datagram");
        }
        datagram[n] = '\0';
        (void)!write(report, datagram, static_cast<std::size_t>(n) + 1);
    }
    hvl_log_module_unregister(&m);
    _exit(0);
}

std::string read_all(int fd) {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
}

std::vector<std::string> split_at_nul(const std::string &text) {
    std::vector<std::string> parts;
    for (std::size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\0', start);
        parts.push_back(text.substr(start, end - start));
    }
    return parts;
}

TEST_F(LogSyslog, SendsHeaderAndBodyWithLevelPriorityOnLocal0) {
    int report[2], console[2];
    ASSERT_EQ(0, pipe2(report, O_CLOEXEC));
    ASSERT_EQ(0, pipe2(console, O_CLOEXEC));
    std::fflush(stdout);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        dup2(console[1], STDOUT_FILENO);
        syslog_child(report[1]);
    }
    close(report[1]);
    close(console[1]);
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    const std::string reported = read_all(report[0]);
    const std::string printed = read_all(console[0]);
    close(report[0]);
    close(console[0]);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) {
        GTEST_SKIP() << "no private mount namespace for a socket at /dev/log: " << reported;
    }
    ASSERT_EQ(0, WEXITSTATUS(status)) << reported;

    const int priority[] = {130, 131, 132, 133, 134, 135}; // LOG_LOCAL0 | LOG_CRIT ... LOG_DEBUG
    const std::vector<std::string> datagrams = split_at_nul(reported);
    ASSERT_EQ(6u, datagrams.size());
    std::string expected_console;
    for (int level = CRITICAL; level <= DEBUG; ++level) {
        const std::string text = "CPLD: " + std::string(kPrefix[level]) +
                                 ": global: : f.cpp(7 fn): level " + std::to_string(level) + " end";
        const std::string datagram = datagrams[static_cast<std::size_t>(level)];
        EXPECT_THAT(datagram, StartsWith("<" + std::to_string(priority[level]) + ">"));
        const std::string ident = "CPLD[" + std::to_string(pid) + "]: ";
        ASSERT_THAT(datagram, HasSubstr(ident));
        EXPECT_EQ(text, datagram.substr(datagram.find(ident) + ident.size()));
        expected_console += "T:U: " + text + "\n";
    }
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
