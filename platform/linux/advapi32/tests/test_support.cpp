#include "test_support.h"

#include "trusted_copy.h"
#include "utf16.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace quillon::advapi32::test {

std::u16string wide(const std::string& text)
{
    return linux_text::utf8ToUtf16(text);
}

void StateDirTest::SetUp()
{
    // Root trusts a state directory only below folders root alone can
    // change, wherever the build tree is.
    scratch = quillon::testing::trustedScratchFolder();
    ASSERT_FALSE(scratch.empty());
    stateDir = scratch + "/state";
    ASSERT_EQ(::mkdir(stateDir.c_str(), 0700), 0);
    ::setenv("QUILLON_STATE_DIR", stateDir.c_str(), 1);
}

void StateDirTest::TearDown()
{
    ::unsetenv("QUILLON_STATE_DIR");
    if (!scratch.empty()) {
        EXPECT_EQ(::system(("rm -rf '" + scratch + "'").c_str()), 0);
    }
}

namespace {
// A reader for the flat objects the event log writes.
class LineParser {
public:
    explicit LineParser(const std::string& line) : s_(line) {}

    bool parse(LogEntry& entry)
    {
        if (!take('{'))
            return false;
        while (true) {
            std::string key;
            if (!readString(key) || !take(':'))
                return false;
            skipBlanks();
            if (peek() == '"') {
                std::string value;
                if (!readString(value))
                    return false;
                entry.text[key] = value;
            } else if (peek() == '[') {
                ++i_;
                while (!take(']')) {
                    std::string value;
                    if (!readString(value))
                        return false;
                    entry.strings.push_back(value);
                    take(',');
                }
            } else {
                std::size_t used = 0;
                entry.number[key] = std::stoll(s_.substr(i_), &used);
                i_ += used;
            }
            if (take('}'))
                return true;
            if (!take(','))
                return false;
        }
    }

private:
    void skipBlanks()
    {
        while (i_ < s_.size() && s_[i_] == ' ')
            ++i_;
    }
    char peek() const { return i_ < s_.size() ? s_[i_] : '\0'; }
    bool take(char c)
    {
        skipBlanks();
        if (peek() != c)
            return false;
        ++i_;
        return true;
    }
    bool readString(std::string& out)
    {
        if (!take('"'))
            return false;
        while (i_ < s_.size() && s_[i_] != '"') {
            char c = s_[i_++];
            if (c == '\\') {
                const char e = s_[i_++];
                switch (e) {
                case 'n': c = '\n'; break;
                case 'r': c = '\r'; break;
                case 't': c = '\t'; break;
                case 'u': c = static_cast<char>(std::stoi(s_.substr(i_, 4), nullptr, 16)); i_ += 4; break;
                default: c = e;
                }
            }
            out.push_back(c);
        }
        return take('"');
    }

    const std::string& s_;
    std::size_t i_ = 0;
};
} // namespace

std::vector<LogEntry> readEventLog(const std::string& path)
{
    std::vector<LogEntry> entries;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        LogEntry entry;
        EXPECT_TRUE(LineParser(line).parse(entry)) << line;
        entries.push_back(entry);
    }
    return entries;
}

std::string readText(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string toolPath()
{
    // What root runs as a service must be root's alone.
    static const std::string copy = quillon::testing::trustedCopyOf(QUILLON_TEST_TOOL);
    return copy;
}

quillon::testing::RunningProgram spawnProgram(const std::vector<std::string>& argv)
{
    quillon::testing::ProgramOptions options;
    options.captureOutput = false;
    return quillon::testing::RunningProgram(argv, options);
}

quillon::testing::RunningProgram spawnTool(const std::vector<std::string>& arguments)
{
    std::vector<std::string> all;
    all.push_back(toolPath());
    all.insert(all.end(), arguments.begin(), arguments.end());
    return spawnProgram(all);
}

int waitProgramFor(quillon::testing::RunningProgram& program, std::chrono::seconds limit)
{
    if (!program.waitForEnd(limit)) {
        program.kill();
        return quillon::testing::ProgramOutcome::notEnded;
    }
    return program.exitCode();
}

int runTool(const std::vector<std::string>& arguments)
{
    quillon::testing::RunningProgram tool = spawnTool(arguments);
    return waitProgramFor(tool);
}

} // namespace quillon::advapi32::test
