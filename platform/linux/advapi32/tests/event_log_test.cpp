#include "test_support.h"

#include <cstdlib>
#include <fstream>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

using namespace quillon::advapi32::test;

namespace {

class EventLogTest : public StateDirTest {
protected:
    // Writes one entry through the three calls as the service base does.
    void report(const std::string& source, WORD type, WORD category, DWORD id,
                const std::vector<std::string>& texts, const std::string& data)
    {
        HANDLE log = RegisterEventSourceW(nullptr, wide(source).c_str());
        ASSERT_NE(log, nullptr);
        std::vector<std::u16string> wideTexts;
        for (const auto& t : texts)
            wideTexts.push_back(wide(t));
        std::vector<LPCWSTR> strings;
        for (const auto& t : wideTexts)
            strings.push_back(t.c_str());
        std::string raw = data;
        EXPECT_TRUE(ReportEventW(log, type, category, id, nullptr, static_cast<WORD>(strings.size()),
                                 static_cast<DWORD>(raw.size()), strings.data(),
                                 raw.empty() ? nullptr : raw.data()));
        EXPECT_TRUE(DeregisterEventSource(log));
    }

    // The file of a source: its name case-folded, other bytes as %XX.
    std::string logPath(const std::string& key) { return stateDir + "/eventlog/" + key + ".jsonl"; }
};

TEST_F(EventLogTest, EntriesReadBackInOrderWithEveryField)
{
    struct Case {
        WORD type;
        const char* typeName;
        WORD category;
        DWORD id;
        std::string text;
        std::string data;
        const char* hex;
    };
    const Case cases[] = {
        {EVENTLOG_SUCCESS, "success", 0, 0, "Service Quillon is starting up", "", ""},
        {EVENTLOG_ERROR_TYPE, "error", 3, 70000, "quote \" backslash \\ tab\tnew\nline", std::string("\x00\xff\x10", 3), "00ff10"},
        {EVENTLOG_WARNING_TYPE, "warning", 65535, 1, "Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC \xF0\x9F\x98\x80", "ab", "6162"},
        {EVENTLOG_INFORMATION_TYPE, "information", 7, 4294967295u, "", "", ""},
        {EVENTLOG_AUDIT_SUCCESS, "auditSuccess", 1, 2, "audit ok", "", ""},
        {EVENTLOG_AUDIT_FAILURE, "auditFailure", 1, 3, "audit failed", "\x01", "01"},
    };
    for (const Case& c : cases)
        report("Quillon", c.type, c.category, c.id, {c.text}, c.data);

    const auto entries = readEventLog(logPath("quillon"));
    ASSERT_EQ(entries.size(), std::size(cases));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Case& c = cases[i];
        const LogEntry& e = entries[i];
        SCOPED_TRACE(c.typeName);
        EXPECT_EQ(e.text.at("source"), "Quillon");
        EXPECT_EQ(e.text.at("type"), c.typeName);
        EXPECT_EQ(e.number.at("typeCode"), c.type);
        EXPECT_EQ(e.number.at("category"), c.category);
        EXPECT_EQ(e.number.at("eventId"), static_cast<long long>(c.id));
        EXPECT_EQ(e.number.at("pid"), ::getpid());
        EXPECT_EQ(e.text.at("text"), c.text);
        EXPECT_EQ(e.text.at("data"), c.hex);
        EXPECT_EQ(e.text.at("time").size(), std::strlen("2026-01-01T00:00:00.000000Z"));
    }
}

TEST_F(EventLogTest, EachTextIsStoredOnce)
{
    // One string is the entry's text; several stay apart, and no joined copy.
    report("Quillon", EVENTLOG_INFORMATION_TYPE, 0, 0, {"only one"}, "");
    report("Quillon", EVENTLOG_INFORMATION_TYPE, 0, 0, {"first", "second, with \"quotes\""}, "");
    report("Quillon", EVENTLOG_INFORMATION_TYPE, 0, 0, {}, "");
    const auto entries = readEventLog(logPath("quillon"));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].text.at("text"), "only one");
    EXPECT_TRUE(entries[0].strings.empty());
    EXPECT_EQ(entries[1].strings, (std::vector<std::string>{"first", "second, with \"quotes\""}));
    EXPECT_EQ(entries[1].text.count("text"), 0u);
    EXPECT_TRUE(entries[2].strings.empty());
    EXPECT_EQ(entries[2].text.count("text"), 0u);
    std::ifstream in(logPath("quillon"));
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line.find("only one"), line.rfind("only one")) << line;
}

TEST_F(EventLogTest, SourcesDifferingOnlyInCaseShareOneLogAndOthersGetTheirOwn)
{
    report("Quillon", EVENTLOG_INFORMATION_TYPE, 0, 0, {"a"}, "");
    report("QUILLON", EVENTLOG_INFORMATION_TYPE, 0, 0, {"b"}, "");
    report("other source/with slash", EVENTLOG_INFORMATION_TYPE, 0, 0, {"c"}, "");
    EXPECT_EQ(readEventLog(logPath("quillon")).size(), 2u);
    const auto other = readEventLog(logPath("other%20source%2Fwith%20slash"));
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].text.at("source"), "other source/with slash");
}

TEST_F(EventLogTest, StateDirectoryIsCreatedOnDemand)
{
    const std::string nested = stateDir + "/not/yet/there";
    ::setenv("QUILLON_STATE_DIR", nested.c_str(), 1);
    report("Quillon", EVENTLOG_ERROR_TYPE, 0, 0, {"x"}, "");
    EXPECT_EQ(readEventLog(nested + "/eventlog/quillon.jsonl").size(), 1u);
}

TEST_F(EventLogTest, RefusalsSetTheWindowsCodes)
{
    SetLastError(0);
    EXPECT_EQ(RegisterEventSourceW(nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegisterEventSourceW(nullptr, u""), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegisterEventSourceW(u"\\\\no-such-host.invalid", u"Quillon"), nullptr);
    EXPECT_EQ(GetLastError(), 1722u);

    HANDLE local = RegisterEventSourceW(u"localhost", u"Quillon");
    ASSERT_NE(local, nullptr);
    LPCWSTR strings[] = {u"text"};
    // 3 is no event type.
    EXPECT_FALSE(ReportEventW(local, 3, 0, 0, nullptr, 1, 0, strings, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(ReportEventW(local, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 4, strings, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(ReportEventW(local, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(DeregisterEventSource(local));

    // A released or made-up handle.
    EXPECT_FALSE(ReportEventW(local, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(DeregisterEventSource(local));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_TRUE(readEventLog(logPath("quillon")).empty());
}

TEST_F(EventLogTest, AnUnwritableLogFailsWithTheLastErrorSet)
{
    // A file where the event log's folder should be.
    ASSERT_EQ(::system((": > '" + stateDir + "/eventlog'").c_str()), 0);
    HANDLE log = RegisterEventSourceW(nullptr, u"Quillon");
    LPCWSTR strings[] = {u"lost?"};
    SetLastError(0);
    EXPECT_FALSE(ReportEventW(log, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr));
    EXPECT_NE(GetLastError(), 0u);
    DeregisterEventSource(log);
}

TEST_F(EventLogTest, EachEntryReachesTheSystemLogWithSourceAndPriority)
{
    char dir[] = "/tmp/quillon-syslog.XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/log";
    const int listener = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ::setenv("QUILLON_SYSLOG_SOCKET", path.c_str(), 1);

    struct Case {
        WORD type;
        int priority;
    };
    const Case cases[] = {{EVENTLOG_ERROR_TYPE, LOG_ERR}, {EVENTLOG_WARNING_TYPE, LOG_WARNING},
                          {EVENTLOG_INFORMATION_TYPE, LOG_INFO}, {EVENTLOG_SUCCESS, LOG_NOTICE},
                          {EVENTLOG_AUDIT_SUCCESS, LOG_NOTICE}};
    for (const Case& c : cases) {
        report("Quillon", c.type, 0, 0, {"hello syslog"}, "");
        char buffer[1024] = {};
        const ssize_t n = ::recv(listener, buffer, sizeof buffer - 1, 0);
        ASSERT_GT(n, 0);
        const std::string datagram(buffer, static_cast<std::size_t>(n));
        EXPECT_EQ(datagram.rfind("<" + std::to_string(LOG_DAEMON | c.priority) + ">", 0), 0u) << datagram;
        EXPECT_NE(datagram.find(" Quillon[" + std::to_string(::getpid()) + "]: hello syslog"),
                  std::string::npos)
            << datagram;
    }
    ::unsetenv("QUILLON_SYSLOG_SOCKET");
    ::close(listener);
    ::unlink(path.c_str());
    ::rmdir(dir);
}

TEST_F(EventLogTest, SeveralProcessesAppendingLoseAndMixNothing)
{
    constexpr int kProcesses = 4;
    constexpr int kEntries = 150;
    std::vector<quillon::testing::RunningProgram> writers;
    for (int p = 0; p < kProcesses; ++p)
        writers.push_back(spawnTool({"log", "Quillon", std::to_string(kEntries), "writer" + std::to_string(p)}));
    for (auto& writer : writers)
        EXPECT_EQ(waitProgramFor(writer), 0);

    const auto entries = readEventLog(logPath("quillon"));
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(kProcesses * kEntries));
    std::map<std::string, int> next;
    for (const auto& e : entries) {
        const std::string& text = e.text.at("text");
        const std::string writer = text.substr(0, text.find(' '));
        EXPECT_EQ(text, writer + " " + std::to_string(next[writer]++)); // each writer in order
    }
    EXPECT_EQ(next.size(), static_cast<std::size_t>(kProcesses));
}

TEST_F(EventLogTest, AFloodKeepsTheNewestEntriesWithinTheBound)
{
    // 40 MiB of entries into a source whose bound is 16 MiB, one rotated file.
    constexpr std::size_t kBound = 16 * 1024 * 1024;
    const std::string text(64 * 1024, 'x');
    constexpr int kEntries = 640;
    for (int i = 0; i < kEntries; ++i)
        report("Quillon", EVENTLOG_INFORMATION_TYPE, 0, static_cast<DWORD>(i), {text}, "");
    struct stat current {}, rotated {};
    ASSERT_EQ(::stat(logPath("quillon").c_str(), &current), 0);
    ASSERT_EQ(::stat(logPath("quillon.1").c_str(), &rotated), 0);
    EXPECT_LE(static_cast<std::size_t>(current.st_size), kBound);
    EXPECT_LE(static_cast<std::size_t>(rotated.st_size), kBound);
    EXPECT_GT(static_cast<std::size_t>(rotated.st_size), kBound - 2 * text.size());
    EXPECT_NE(::access(logPath("quillon.2").c_str(), F_OK), 0);
    // The newest entries, in order, the last one last.
    const auto older = readEventLog(logPath("quillon.1"));
    const auto newer = readEventLog(logPath("quillon"));
    ASSERT_FALSE(newer.empty());
    EXPECT_EQ(newer.back().number.at("eventId"), kEntries - 1);
    ASSERT_FALSE(older.empty());
    EXPECT_EQ(older.back().number.at("eventId") + 1, newer.front().number.at("eventId"));
}

TEST_F(EventLogTest, AnOversizedEntryIsRefusedAndCounted)
{
    HANDLE log = RegisterEventSourceW(nullptr, u"Quillon");
    const std::u16string huge(600 * 1024, u'\u00e9'); // 1.2 MB in UTF-8
    LPCWSTR strings[] = {huge.c_str()};
    EXPECT_FALSE(ReportEventW(log, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 1, 0, strings, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    DeregisterEventSource(log);
    report("Quillon", EVENTLOG_ERROR_TYPE, 0, 0, {"next"}, "");
    const auto entries = readEventLog(logPath("quillon"));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].number.at("dropped"), 1);
}

} // namespace
