// The parsers of what root reads from files and sockets, and the control
// rules, linked in from the layer's sources (the library exports only the
// advapi32 functions): each round-trips what the layer writes and refuses
// what it would not write.
#include "../command_line.h"
#include "../control_rules.h"
#include "../registry_entry.h"
#include "../locale_settings.h"
#include "../status_record.h"
#include "../wire_messages.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>

using namespace quillon::advapi32;
using quillon::advapi32::controlRefusal;
using quillon::advapi32::rightForControl;
using quillon::advapi32::splitCommandLine;

namespace {

TEST(CommandLine, SplitsLikeTheServiceManager)
{
    using Parts = std::vector<std::string>;
    const std::pair<std::string, Parts> cases[] = {
        {"/opt/quillon/quillonsvc", {"/opt/quillon/quillonsvc"}},
        {"\"/opt/Quillon Server/quillonsvc\"", {"/opt/Quillon Server/quillonsvc"}},
        {"\"/opt/Quillon Server/quillonsvc\" -x", {"/opt/Quillon Server/quillonsvc", "-x"}},
        // An unquoted path ends at the first blank: never another program.
        {"/opt/Quillon Server/quillonsvc", {"/opt/Quillon", "Server/quillonsvc"}},
        {"  prog   a\tb  ", {"prog", "a", "b"}},
        {"prog \"two words\" x\"y z\"w", {"prog", "two words", "xy zw"}},
        {"prog a\\\\\"b c\"", {"prog", "a\\b c"}},   // 2n backslashes + quote
        {"prog a\\\"b", {"prog", "a\"b"}},            // 2n+1 backslashes + quote
        {"prog a\\\\b \\", {"prog", "a\\\\b", "\\"}}, // backslashes without a quote
        {"prog \"a\"\"b\"", {"prog", "a\"b"}},        // "" inside quotes
        {"prog \"a\"\"b c\"", {"prog", "a\"b", "c"}},  // ... which ends the quoting
        {"prog \"\"\"a\"", {"prog", "\"a"}},           // three quotes outside: a quote
        {"/opt/tab\tdir/prog x", {"/opt/tab", "dir/prog", "x"}}, // a tab is a blank
        {"\"/opt/tab\tdir/prog\" x", {"/opt/tab\tdir/prog", "x"}},
        {"\"/opt/q\"x y/prog\"", {"/opt/q", "x", "y/prog"}}, // a quote ends the program
        {"prog \"\"", {"prog", ""}},
        {"C:\\Windows\\prog.exe arg", {"C:\\Windows\\prog.exe", "arg"}},
        {"\"unterminated path", {"unterminated path"}},
        {"", {}},
        {"   ", {}},
    };
    for (const auto& [line, parts] : cases)
        EXPECT_EQ(splitCommandLine(line), parts) << line;
}

TEST(ControlRules, RightsAndRefusals)
{
    EXPECT_EQ(rightForControl(SERVICE_CONTROL_STOP), SERVICE_STOP);
    EXPECT_EQ(rightForControl(SERVICE_CONTROL_SHUTDOWN), SERVICE_STOP);
    EXPECT_EQ(rightForControl(SERVICE_CONTROL_PAUSE), SERVICE_PAUSE_CONTINUE);
    EXPECT_EQ(rightForControl(SERVICE_CONTROL_CONTINUE), SERVICE_PAUSE_CONTINUE);
    EXPECT_EQ(rightForControl(SERVICE_CONTROL_INTERROGATE), SERVICE_INTERROGATE);
    EXPECT_EQ(rightForControl(128), SERVICE_USER_DEFINED_CONTROL);
    EXPECT_EQ(rightForControl(255), SERVICE_USER_DEFINED_CONTROL);
    for (const DWORD invalid : {0u, 11u, 127u, 256u, 0xFFFFFFFFu})
        EXPECT_EQ(rightForControl(invalid), 0u) << invalid;

    auto status = [](DWORD state, DWORD accepted) {
        SERVICE_STATUS s {};
        s.dwCurrentState = state;
        s.dwControlsAccepted = accepted;
        return s;
    };
    const DWORD stopOnly = SERVICE_ACCEPT_STOP;
    const DWORD all = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_SHUTDOWN;
    struct Case {
        DWORD control;
        SERVICE_STATUS status;
        DWORD error;
    };
    const Case cases[] = {
        {SERVICE_CONTROL_STOP, status(SERVICE_RUNNING, stopOnly), ERROR_SUCCESS},
        {SERVICE_CONTROL_STOP, status(SERVICE_RUNNING, 0), ERROR_INVALID_SERVICE_CONTROL},
        {SERVICE_CONTROL_STOP, status(SERVICE_PAUSED, all), ERROR_SUCCESS},
        {SERVICE_CONTROL_PAUSE, status(SERVICE_RUNNING, stopOnly), ERROR_INVALID_SERVICE_CONTROL},
        {SERVICE_CONTROL_PAUSE, status(SERVICE_RUNNING, all), ERROR_SUCCESS},
        {SERVICE_CONTROL_CONTINUE, status(SERVICE_PAUSED, all), ERROR_SUCCESS},
        {SERVICE_CONTROL_SHUTDOWN, status(SERVICE_RUNNING, stopOnly), ERROR_INVALID_SERVICE_CONTROL},
        {SERVICE_CONTROL_SHUTDOWN, status(SERVICE_RUNNING, all), ERROR_SUCCESS},
        {SERVICE_CONTROL_INTERROGATE, status(SERVICE_RUNNING, 0), ERROR_SUCCESS},
        {SERVICE_CONTROL_INTERROGATE, status(SERVICE_PAUSE_PENDING, 0), ERROR_SUCCESS},
        {200, status(SERVICE_RUNNING, 0), ERROR_SUCCESS},
        {200, status(SERVICE_PAUSED, 0), ERROR_SUCCESS},
        // Start-pending: a stop the service accepts goes through, nothing else.
        {SERVICE_CONTROL_STOP, status(SERVICE_START_PENDING, all), ERROR_SUCCESS},
        {SERVICE_CONTROL_STOP, status(SERVICE_START_PENDING, stopOnly), ERROR_SUCCESS},
        {SERVICE_CONTROL_STOP, status(SERVICE_START_PENDING, 0), ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {SERVICE_CONTROL_SHUTDOWN, status(SERVICE_START_PENDING, all), ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {SERVICE_CONTROL_PAUSE, status(SERVICE_START_PENDING, all), ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {SERVICE_CONTROL_INTERROGATE, status(SERVICE_START_PENDING, all), ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {SERVICE_CONTROL_STOP, status(SERVICE_STOP_PENDING, all), ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {SERVICE_CONTROL_INTERROGATE, status(SERVICE_STOP_PENDING, all), ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {200, status(SERVICE_START_PENDING, all), ERROR_SERVICE_CANNOT_ACCEPT_CTRL},
        {SERVICE_CONTROL_INTERROGATE, status(SERVICE_STOPPED, all), ERROR_SERVICE_NOT_ACTIVE},
        {200, status(SERVICE_STOPPED, all), ERROR_SERVICE_NOT_ACTIVE},
    };
    for (const Case& c : cases)
        EXPECT_EQ(controlRefusal(c.control, c.status), c.error)
            << "control " << c.control << " in state " << c.status.dwCurrentState;
}

TEST(RegistryEntry, RoundTripsAndRefusesWhatIsNoEntry)
{
    ServiceConfig config;
    config.name = "Quillon";
    config.displayName = "Quillon \\ display\nwith line";
    config.commandLine = "\"/opt/Quillon Server/quillonsvc\"";
    config.account = ".\\nobody";
    config.type = 0x110;
    config.startType = 2;
    config.errorControl = 1;
    config.markedForDelete = true;
    config.environment = {"QUILLON_TEST_SERVICE_NAME=Quillon", "EMPTY="};
    const auto back = parseConfig(serializeConfig(config));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->name, config.name);
    EXPECT_EQ(back->displayName, config.displayName);
    EXPECT_EQ(back->commandLine, config.commandLine);
    EXPECT_EQ(back->account, config.account);
    EXPECT_EQ(back->type, config.type);
    EXPECT_TRUE(back->markedForDelete);
    EXPECT_EQ(back->environment, config.environment);

    const std::string good = "name=x\ntype=16\nstartType=3\nerrorControl=1\n";
    EXPECT_TRUE(parseConfig(good));
    const std::string bad[] = {"name=x\ntype=16\nstartType=3\n", "type=16\nstartType=3\nerrorControl=1\n",
                               good + "no equals sign\n", "name=x\ntype=0x1ffffffff\nstartType=3\nerrorControl=1\n",
                               "name=x\ntype=-1\nstartType=3\nerrorControl=1\n", good + "environment==x\n",
                               good + "environment=NOVALUE\n", "name=x\ntype=16 \nstartType=3\nerrorControl=1\n",
                               // A NUL would cut the account or program short where C reads it.
                               good + std::string("account=nobody\0root\n", 20),
                               good + std::string("commandLine=/bin/true\0 -x\n", 26),
                               good + std::string("# \0\n", 4), good + std::string("environment=A=\0\n", 16)};
    for (const std::string& text : bad)
        EXPECT_FALSE(parseConfig(text)) << text;
}

TEST(RegistryEntry, NumbersAreDecimalOrHex)
{
    // A leading zero is no octal prefix: "010" is ten, "08" eight.
    const std::pair<std::string, std::optional<DWORD>> cases[] = {
        {"16", 16},         {"010", 10},         {"08", 8},           {"0", 0},
        {"0x110", 0x110},   {"0xFFFFFFFF", 0xFFFFFFFF},               {"000000000016", 16},
        {"4294967296", {}}, {"0000000000016", {}}, {"0x", {}},        {"0x0x1", {}},
        {"x10", {}},        {"0X10", {}},        {"1x", {}},          {"", {}},
    };
    for (const auto& [text, expected] : cases) {
        const auto config = parseConfig("name=x\ntype=" + text + "\nstartType=3\nerrorControl=1\n");
        ASSERT_EQ(config.has_value(), expected.has_value()) << text;
        if (config) {
            EXPECT_EQ(config->type, *expected) << text;
        }
    }
}

// A record of any body, with the checksum the writer would give it.
std::string recordOf(const std::string& body)
{
    std::uint32_t hash = 0x811c9dc5U;
    for (const char c : body)
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x01000193U;
    char sum[16];
    std::snprintf(sum, sizeof sum, " sum=%08x", static_cast<unsigned>(hash));
    std::string record = body + sum;
    record.resize(kStatusRecordSize - 1, ' ');
    return record + "\n";
}

TEST(StatusRecord, FixedLengthWithAChecksum)
{
    PublishedStatus p;
    p.process.pid = 4242;
    p.process.startTime = 123456789012ULL;
    p.status.dwServiceType = 0x110;
    p.status.dwCurrentState = SERVICE_RUNNING;
    p.status.dwControlsAccepted = SERVICE_ACCEPT_STOP;
    p.status.dwWin32ExitCode = 1067;
    p.status.dwWaitHint = 0xFFFFFFFF;
    const std::string record = formatStatusRecord(p);
    ASSERT_EQ(record.size(), kStatusRecordSize);
    EXPECT_EQ(record.rfind("pid=4242 startTime=123456789012 type=272 state=4 accepted=1 ", 0), 0u) << record;
    const auto back = parseStatusRecord(record);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->process.pid, 4242);
    EXPECT_EQ(back->process.startTime, 123456789012ULL);
    EXPECT_EQ(back->status.dwWin32ExitCode, 1067u);
    EXPECT_EQ(back->status.dwWaitHint, 0xFFFFFFFFu);

    // A torn or changed record, a short one, one with a state of no meaning.
    std::string torn = record;
    torn[5] = '9';
    PublishedStatus bad = p;
    bad.status.dwCurrentState = 8;
    for (const std::string& text : {torn, record.substr(0, 100), std::string(), record + "x", formatStatusRecord(bad)})
        EXPECT_FALSE(parseStatusRecord(text)) << text;

    // Whole records with a good checksum, but not as the writer makes them.
    const std::string body = record.substr(0, record.find(" sum="));
    EXPECT_TRUE(parseStatusRecord(recordOf(body)));
    for (const std::string& other : {body + " ", body + "  ", " " + body, "pid=4242  " + body.substr(9)})
        EXPECT_FALSE(parseStatusRecord(recordOf(other))) << other;
}

TEST(ProcessStat, TheCommandNameMayHoldAnything)
{
    const std::string tail = " 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 987654";
    const auto stat = parseProcessStat("4242 (a) b) S" + tail);
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->state, 'S');
    EXPECT_EQ(stat->startTime, 987654u);
    const std::string fields = tail.substr(0, tail.size() - 6);
    EXPECT_EQ(parseProcessStat("4242 (x) S" + fields + "18446744073709551615 1")->startTime, ~0ULL);
    // Past 64 bits: no start time, where strtoull alone would say ULLONG_MAX.
    const std::string bad[] = {"4242 (x) S 1 2", "4242 x S" + tail, "4242 (x) SS" + tail,
                               "4242 (x) S" + fields + "-1", "4242 (x) S" + fields + "18446744073709551616 1",
                               "4242 (x) S" + fields + "99999999999999999999"};
    for (const std::string& text : bad)
        EXPECT_FALSE(parseProcessStat(text)) << text;
}

TEST(WireMessages, RoundTripAndRefuseTrailingOrMissingBytes)
{
    SetupMessage setup;
    setup.stateDir = "/var/lib/quillon";
    setup.name = "Quillon";
    setup.arguments = {"a", "", "gr\xC3\xBC\xC3\x9F"};
    setup.statusFd = 5;
    setup.controlFd = 6;
    const std::string bytes = encodeSetup(setup);
    const auto back = parseSetup(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->arguments, setup.arguments);
    EXPECT_EQ(back->statusFd, 5);
    EXPECT_FALSE(parseSetup(bytes + "x"));
    EXPECT_FALSE(parseSetup(bytes.substr(0, bytes.size() - 1)));
    setup.statusFd = 1; // not a descriptor the manager hands over
    EXPECT_FALSE(parseSetup(encodeSetup(setup)));

    ControlReply reply {ERROR_SERVICE_NOT_ACTIVE, {}};
    reply.status.dwCurrentState = SERVICE_STOPPED;
    const auto answered = parseControlReply(encodeControlReply(reply));
    ASSERT_TRUE(answered);
    EXPECT_EQ(answered->error, ERROR_SERVICE_NOT_ACTIVE);
    EXPECT_FALSE(parseControlReply(encodeControlReply(reply).substr(4)));
    EXPECT_EQ(parseControlRequest(encodeControlRequest(200)), 200u);
    EXPECT_FALSE(parseControlRequest("abc"));
    EXPECT_TRUE(parseHello(encodeHello(HelloMessage {42})));
    EXPECT_FALSE(parseHello(encodeControlRequest(42)));
    EXPECT_EQ(parseSetupAnswer(encodeSetupAnswer(SetupAnswer {false, 5}))->error, 5u);
    EXPECT_FALSE(parseSetupAnswer(encodeSetupAnswer(SetupAnswer {false, 0})));
}

TEST(LocaleSettings, OnlyPlainLocaleNames)
{
    const auto settings = parseLocaleSettings("# comment\nLANG=\"de_DE.UTF-8\"\nexport LC_TIME='C.UTF-8'\n"
                                              "LD_PRELOAD=/tmp/x.so\nLC_ALL=$(reboot)\nLANGUAGE=de:en\n  LC_MESSAGES = C\n");
    EXPECT_EQ(settings, (std::vector<std::string>{"LANG=de_DE.UTF-8", "LC_TIME=C.UTF-8", "LANGUAGE=de:en"}));
}

} // namespace
