// Shared pieces of the advapi32 tests: a private state directory per test,
// UTF-16 literals, the JSON lines of the event log, and helper processes.
#pragma once

#include "platform/win32_service.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace quillon::advapi32::test {

std::u16string wide(const std::string& text);

// Points QUILLON_STATE_DIR at a fresh directory in the build tree for each
// test and removes it afterwards.
class StateDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string stateDir;
};

// One event-log entry as read back from its JSON line: strings and numbers
// by key, the "strings" array separately.
struct LogEntry {
    std::map<std::string, std::string> text;
    std::map<std::string, long long> number;
    std::vector<std::string> strings;
};
std::vector<LogEntry> readEventLog(const std::string& path);

// The whole content of a file ("" when there is none).
std::string readText(const std::string& path);

// Path of the helper program built beside the tests.
std::string toolPath();

// Runs the helper program with arguments and waits; returns its exit status
// (or -1 when it did not exit normally).
int runTool(const std::vector<std::string>& arguments);
// Starts it without waiting; returns the pid.
int spawnTool(const std::vector<std::string>& arguments);
int waitTool(int pid);

// Any program (argv[0] a path); its pid, or -1.
int spawnProgram(const std::vector<std::string>& argv);
// Waits for it at most `limit`; a program still running then is killed and
// -2 returned. Otherwise its exit status, -1 when it did not exit normally.
int waitProgramFor(int pid, std::chrono::seconds limit);

} // namespace quillon::advapi32::test
