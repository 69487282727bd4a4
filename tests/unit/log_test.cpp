// The logging library as its users see it: registration, the level test and
// its error counters, configuration from HVL_LOG and HVL_LOG_TARGET, and the
// message text on the console, the callback and a real syslog socket.
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "hvl/hvl_log.h"
#include "log/log_site.h"

namespace {

// Message prefixes by level.
constexpr const char *kPrefix[] = {
    "ERROR*CRITICAL*", "ERROR*MAJOR*", "ERROR*MINOR*", "INFO", "TRCE", "DBUG"};

// What the callback target was handed last, and how often it was called.
struct Delivery {
    int calls, scope, submodule, level, line, usec;
    std::int64_t sec;
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
    d = {d.calls + 1, scope,  submodule, level, line, usec, sec, file != nullptr ? file : "null",
         format,      header, body};
    return 0;
}

// Leaves nothing registered and no configuration or time zone in the
// environment behind.
class LogFixture : public ::testing::Test {
protected:
    void TearDown() override {
        hvl_log_module_unregister(_hvl_log_this_module);
        unsetenv("HVL_LOG");
        unsetenv("HVL_LOG_TARGET");
        unsetenv("TZ");
    }
    LogModule module{};
};
using LogRegistration = LogFixture;
using LogSyslog = LogFixture;

// The tool's module, "CPLD" with three submodules, enabled and with the
// callback target alone, which hands its messages to `d`. It is registered
// over a dirty record: all a test finds is what registration set up, the
// global scope with every level and unnamed, disabled submodules.
class Log : public LogFixture {
protected:
    void SetUp() override {
        std::memset(&module, 0xa5, sizeof module);
        ASSERT_EQ(0, hvl_log_module_register(&module, "CPLD", 3));
        hvl_log_set_callback(deliver, &d);
        hvl_log_config_module(1, HVL_LOG_TARGET_CALLBACK);
    }
    Delivery d{};
};

// Until a module of at most 32 submodules is registered every call fails and
// the level test says no without counting; then it is the only one.
TEST_F(LogRegistration, HoldsOneModuleOfAtMost32SubmodulesAndNothingWorksWithout) {
    EXPECT_EQ(-22, hvl_log_module_register(&module, "CPLD", 33));
    EXPECT_THAT((std::array{hvl_log_config_module(1, 1), hvl_log_config_env(),
                            hvl_log_name_submodule("io", 0), hvl_log_get_enabled()}),
                ::testing::Each(-22));
    module.enabled = 1;
    module.submodules[0] = LogSubmodule{"", 1, 0x3f, {0, 0, 0}};
    module.scopes[0] = LogScope{"global", 1, 0x3f};
    EXPECT_EQ(0, hvl_log_level_enabled(&module, 0, 0, CRITICAL));
    EXPECT_EQ(0u, module.submodules[0].err_count[0]);

    ASSERT_EQ(0, hvl_log_module_register(&module, "CPLD", 32));
    LogModule other{};
    other.enabled = 7;
    EXPECT_EQ(-12, hvl_log_module_register(&other, "OTHER", 1));
    EXPECT_EQ(7, other.enabled);
    EXPECT_EQ(-22, hvl_log_module_unregister(&other));
    EXPECT_EQ(0, hvl_log_module_unregister(&module));
    EXPECT_EQ(nullptr, _hvl_log_this_module);
}

// The level test needs the level's bit in the module, the submodule and the
// scope; the message function leaves that to its caller and only refuses
// coordinates out of range.
TEST_F(Log, LevelTestNeedsTheLevelBitEverywhereMessagesOnlyCoordinatesInRange) {
    hvl_log_config_submodule(0, 1, 0x2f); // all but TRACE
    const int cases[][5] = {
        // scope, submodule, level, level test, message
        {0, 0, CRITICAL, 1, 0}, {0, 0, TRACE, 0, 0},    {0, 0, DEBUG, 1, 0},
        {1, 0, CRITICAL, 0, 0}, {0, 1, CRITICAL, 0, 0}, {31, 31, DEBUG, 0, 0},
        {0, 0, -1, 0, -22},     {0, 0, 6, 0, -22},      {-1, 0, INFO, 0, -22},
        {32, 0, INFO, 0, -22},  {0, -1, INFO, 0, -22},  {0, 32, INFO, 0, -22},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "scope " << c[0] << " submodule " << c[1] << " level " << c[2]);
        EXPECT_EQ(c[3], hvl_log_level_enabled(&module, c[0], c[1], c[2]));
        EXPECT_EQ(c[4], hvl_log_message(&module, c[0], c[1], c[2], "fn", "f.cpp", 1, "x"));
    }
    EXPECT_EQ(6, d.calls);
    module.scopes[0].mask = 0x01;
    EXPECT_EQ(0, hvl_log_level_enabled(&module, 0, 0, MAJOR));
    EXPECT_EQ(-22, hvl_log_message(nullptr, 0, 0, INFO, "fn", "f.cpp", 1, "x"));
    hvl_log_config_module(0, -1);
    EXPECT_EQ(0, hvl_log_level_enabled(&module, 0, 0, CRITICAL));
}

TEST_F(Log, LevelTestCountsErrorLevelsEvenWhenNotEmitted) { // submodule 0 is disabled
    const LogModule before = module;
    for (int level : {CRITICAL, MAJOR, MINOR, MINOR, INFO, DEBUG}) {
        EXPECT_EQ(0, hvl_log_level_enabled(&module, 0, 0, level));
    }
    EXPECT_EQ(0, hvl_log_level_enabled(&module, 5, 0, MINOR)); // disabled scope still counts
    hvl_log_config_module(0, -1);
    EXPECT_EQ(0, hvl_log_level_enabled(&module, 0, 0, CRITICAL)); // a disabled module does not
    EXPECT_THAT(module.submodules[0].err_count, ::testing::ElementsAre(1u, 1u, 3u));
    EXPECT_EQ(0, hvl_log_reset_counters());
    EXPECT_EQ(0, std::memcmp(before.submodules, module.submodules, sizeof module.submodules))
        << "counters back at 0, nothing else touched";
}

// -1 keeps a field. Submodule indexes run from 0 to 31 whatever the count,
// but only the counted ones can be named, and naming disables one.
TEST_F(Log, ConfigKeepsMinusOneFieldsAndSubmodulesAreNamedExactly) {
    EXPECT_EQ(0, hvl_log_config_module(-1, 3));
    EXPECT_EQ(std::make_tuple(1, 3), std::make_tuple(hvl_log_get_enabled(), hvl_log_get_targets()));
    EXPECT_EQ(0, hvl_log_config_submodule(0, 1, 0x07));
    EXPECT_EQ(0, hvl_log_config_submodule(0, -1, -1));
    EXPECT_EQ(std::make_pair(1, 0x07),
              std::make_pair(module.submodules[0].enabled, hvl_log_get_submodule_mask(0)));
    EXPECT_EQ(-22, hvl_log_config_submodule(32, 1, 1));
    EXPECT_EQ(-22, hvl_log_get_submodule_mask(-1));
    EXPECT_EQ(0, hvl_log_config_all_submodules(1, 0x03));
    EXPECT_EQ(0x03, hvl_log_get_submodule_mask(31));

    EXPECT_EQ(0, hvl_log_name_submodule("a-very-long-submodule", 0));
    EXPECT_EQ(0, module.submodules[0].enabled);
    EXPECT_EQ(-22, hvl_log_name_submodule("io", 3));
    hvl_log_name_submodule("io", 1);
    hvl_log_name_submodule("io", 2);
    std::vector<std::string> names;
    auto record = [](LogSubmodule *s, void *out) {
        static_cast<std::vector<std::string> *>(out)->push_back(s->name);
    };
    EXPECT_EQ(0, hvl_log_foreach_submodule(record, &names));
    EXPECT_THAT(names, ::testing::ElementsAre("a-very-long-sub", "io", "io"));
    EXPECT_EQ(-22, hvl_log_config_submodule_by_name("IO", 1, 0x3f));
    EXPECT_EQ(0, hvl_log_config_submodule_by_name("io", 1, 0x1f));
    EXPECT_EQ(0x1f, hvl_log_get_submodule_mask(1));
    EXPECT_EQ(0, hvl_log_get_submodule_mask(2)) << "only the first of that name";
}

// The masks of submodules 0, 1 (named "io") and 31, -1 for a disabled one,
// and whether the module is enabled, after HVL_LOG=`value` is applied to a
// disabled module whose submodules all start enabled with mask 0x20.
using EnvResult = std::array<int, 4>;
EnvResult after_hvl_log(const std::string &value) {
    hvl_log_config_module(0, -1);
    hvl_log_config_all_submodules(1, 0x20);
    setenv("HVL_LOG", value.c_str(), 1);
    EXPECT_EQ(0, hvl_log_config_env());
    const LogSubmodule *s = _hvl_log_this_module->submodules;
    auto mask = [s](int i) { return s[i].enabled != 0 ? static_cast<int>(s[i].mask) : -1; };
    return {mask(0), mask(1), mask(31), hvl_log_get_enabled()};
}

// Each NAME:WORD pair sets the submodule of that name, or all of them for
// DEFAULT, and enables the module; the scan stops at the first malformed pair
// (no colon, no name, no word, 80 long), keeping earlier ones. Level words
// ignore case and enable the more severe levels too; submodule names do not.
TEST_F(Log, HvlLogPairsSetLevelMasksUpToTheFirstMalformedOne) {
    hvl_log_name_submodule("io", 1);
    const char *const words[] = {"critical", "MaJoR", "minor", "INFO", "Trace", "debug"};
    for (int level = CRITICAL; level <= DEBUG; ++level) {
        const int m = (2 << level) - 1; // the level and the more severe ones
        EXPECT_EQ((EnvResult{m, m, m, 1}), after_hvl_log(std::string("DEFAULT:") + words[level]));
    }
    const std::string name79(79, 'n'), name80(80, 'n'), word79(79, 'W'), word80(80, 'W');
    const EnvResult untouched{0x20, 0x20, 0x20, 0}, info{0x0f, 0x0f, 0x0f, 1};
    // clang-format off
    const std::pair<std::string, EnvResult> cases[] = {
        {"DEFAULT:All", {0x3f, 0x3f, 0x3f, 1}},       {"DEFAULT:off", {-1, -1, -1, 0}},
        {"io:trace", {0x20, 0x1f, 0x20, 1}},          {"IO:trace", untouched},
        {"nobody:DEBUG,DEFAULT:INFO", info},          {"DEFAULT:BOGUS,DEFAULT:INFO", info},
        {"DEFAULT", untouched},                       {"DEFAULT:INFO,DEFAULT:,DEFAULT:DEBUG", info},
        {"DEFAULT:INFO,:DEBUG,DEFAULT:DEBUG", info},  {name79 + ":DEBUG,DEFAULT:INFO", info},
        {"DEFAULT:INFO," + name80 + ":DEBUG,DEFAULT:DEBUG", info},
        {"DEFAULT:" + word79 + ",DEFAULT:INFO", info},
        {"DEFAULT:INFO,DEFAULT:" + word80 + ",DEFAULT:DEBUG", info}};
    // clang-format on
    for (const auto &[value, result] : cases) {
        EXPECT_EQ(result, after_hvl_log(value)) << '"' << value << '"';
    }
    hvl_log_config_module(1, -1);
    setenv("HVL_LOG", "DEFAULT:OFF", 1);
    hvl_log_config_env();
    EXPECT_EQ(1, hvl_log_get_enabled()) << "OFF does not disable the module";
}

// HVL_LOG_TARGET (null: unset), and the targets afterwards; they start as the callback.
TEST_F(Log, HvlLogTargetWordsAreCaseSensitiveAndReplaceAllTargets) {
    const std::pair<const char *, int> cases[] = {
        {"CONSOLE", 1}, {"SYSLOG", 2}, {"xSYSLOGCONSOLEx", 3}, {"console", 0}, {nullptr, 8}};
    for (const auto &[value, targets] : cases) {
        hvl_log_config_module(-1, HVL_LOG_TARGET_CALLBACK);
        value != nullptr ? setenv("HVL_LOG_TARGET", value, 1) : unsetenv("HVL_LOG_TARGET");
        hvl_log_config_env();
        EXPECT_EQ(targets, hvl_log_get_targets()) << (value != nullptr ? value : "unset");
    }
}

TEST_F(Log, CallbackGetsTheMessageWithAHeaderNamingModuleLevelScopeSubmoduleAndSite) {
    EXPECT_EQ(0, hvl_log_message(&module, 0, 2, MINOR, "fn", "f.cpp", 42, "v=%d", 7));
    EXPECT_EQ(std::make_tuple(1, 0, 2, int{MINOR}, 42),
              std::tie(d.calls, d.scope, d.submodule, d.level, d.line));
    EXPECT_EQ(std::make_tuple("f.cpp", "%s: %s\n", "v=7"), std::tie(d.file, d.format, d.body));
    for (int level = CRITICAL; level <= DEBUG; ++level) {
        hvl_log_message(&module, 0, 0, level, "fn", "f.cpp", 12, "x");
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

TEST_F(Log, MessageBodyIsOneLineAndHeaderAndBodyAreCutAt126And254) {
    hvl_log_message(&module, 0, 0, INFO, "fn", "f.cpp", 1, "a\nb %s\n", "c\nd");
    EXPECT_EQ("a b c d ", d.body);
    hvl_log_message(&module, 0, 0, INFO, "fn", "f.cpp", 1, nullptr);
    EXPECT_EQ("", d.body);
    const std::string site = "CPLD: INFO: global: : f.cpp(1 ";
    for (std::size_t length : {125, 126, 127, 200}) { // of the header; the body is 128 longer
        const std::string function(length - site.size() - 1, 'f'), body(length + 128, 'b');
        hvl_log_message(&module, 0, 0, INFO, function.c_str(), "f.cpp", 1, "%s", body.c_str());
        EXPECT_EQ((site + function + ")").substr(0, 126), d.header) << length;
        EXPECT_EQ(body.substr(0, 254), d.body) << length;
    }
}

// Library code logs through HVL_LOGF. A console line starts with the local
// "%x %X" (POSIX locale) and the microseconds, the same time the callback
// gets; the microseconds need their leading zeros at the start of a second.
TEST_F(Log, ConsolePrintsWhatHvlLogEnablesStampedWithLocalTime) {
    setenv("TZ", "HVL-3", 1); // three hours east of UTC
    setenv("HVL_LOG", "DEFAULT:INFO", 1);
    hvl_log_config_module(0, HVL_LOG_TARGET_CONSOLE | HVL_LOG_TARGET_CALLBACK);
    hvl_log_config_env();
    timeval now{};
    gettimeofday(&now, nullptr);
    if (now.tv_usec > 50000) {
        usleep(static_cast<useconds_t>(1000000 - now.tv_usec + 1000));
    }
    int evaluations = 0;
    ::testing::internal::CaptureStdout();
    HVL_LOGF(INFO, "n=%d\nend", ++evaluations);
    const int line = __LINE__ - 1;
    HVL_LOGF(TRACE, "n=%d", ++evaluations); // neither printed nor evaluated
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_LE(std::abs(std::time(nullptr) - d.sec), 1);
    const std::time_t sec = d.sec;
    const std::tm *t = std::localtime(&sec);
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%02d/%02d/%02d %02d:%02d:%02d:%06d", t->tm_mon + 1,
                  t->tm_mday, t->tm_year % 100, t->tm_hour, t->tm_min, t->tm_sec, d.usec);
    EXPECT_EQ(std::string(stamp) + ": CPLD: INFO: global: : log_test.cpp(" + std::to_string(line) +
                  " TestBody): n=1 end\n",
              out);
    EXPECT_EQ(1, evaluations);
}

// A private mount namespace with an empty tmpfs on /dev; false where this
// process may not have one.
bool private_dev() {
    return unshare(CLONE_NEWNS) == 0 &&
           mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", "/dev", "tmpfs", 0, "mode=0755") == 0;
}

TEST_F(LogSyslog, GetsHeaderAndBodyWithLevelPriorityOnLocal0) {
    if (!private_dev()) {
        GTEST_SKIP() << "no private /dev for a socket at /dev/log: " << std::strerror(errno);
    }
    const int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const sockaddr_un addr{AF_UNIX, "/dev/log"};
    const bool bound = bind(sock, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
    if (bound) {
        EXPECT_EQ(0, hvl_log_module_register(&module, "CPLD", 1)); // connects at once
    }
    umount2("/dev", MNT_DETACH); // the real /dev again; the connection stays
    ASSERT_TRUE(bound) << "binding /dev/log: " << std::strerror(errno);
    hvl_log_config_module(1, HVL_LOG_TARGET_SYSLOG);
    const std::string ident = "CPLD[" + std::to_string(getpid()) + "]: ";
    char datagram[1024];
    for (int level = CRITICAL; level <= DEBUG; ++level) {
        hvl_log_message(&module, 0, 0, level, "fn", "f.cpp", 7, "level %d\nend", level);
        const ssize_t n = recv(sock, datagram, sizeof datagram, MSG_DONTWAIT);
        ASSERT_GT(n, 0) << "datagram " << level;
        // LOG_LOCAL0 with LOG_CRIT, LOG_ERR, LOG_WARNING, LOG_NOTICE, LOG_INFO, LOG_DEBUG
        EXPECT_THAT(std::string(datagram, static_cast<std::size_t>(n)),
                    ::testing::AllOf(::testing::StartsWith("<" + std::to_string(130 + level) + ">"),
                                     ::testing::EndsWith(ident + "CPLD: " + kPrefix[level] +
                                                         ": global: : f.cpp(7 fn): level " +
                                                         std::to_string(level) + " end")));
    }
    EXPECT_EQ(-1, recv(sock, datagram, sizeof datagram, MSG_DONTWAIT)) << "one datagram each";
    close(sock);
}

} // namespace
