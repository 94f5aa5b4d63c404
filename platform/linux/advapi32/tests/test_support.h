// Shared pieces of the advapi32 tests: a private state directory per test,
// UTF-16 literals, the JSON lines of the event log, and helper processes.
#pragma once

#include "platform/win32_service.h"
#include "program_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace quillon::advapi32::test {

std::u16string wide(const std::string& text);

// Points QUILLON_STATE_DIR at a fresh directory for each test ("state" in a
// scratch folder only root can change, when root) and removes it afterwards.
class StateDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string scratch;
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

// Path of the helper program built beside the tests (its copy that root
// may run, when root).
std::string toolPath();

// The helper program run to its end (bounded); its exit status, or
// ProgramOutcome::crashed / notEnded. Its output goes to the test's own.
int runTool(const std::vector<std::string>& arguments);
// Starts it without waiting.
quillon::testing::RunningProgram spawnTool(const std::vector<std::string>& arguments);
// Any program (argv[0] a path), output to the test's own.
quillon::testing::RunningProgram spawnProgram(const std::vector<std::string>& argv);
// Waits for it at most `limit`; a program still running then is killed and
// ProgramOutcome::notEnded returned. Otherwise its exit status, or
// ProgramOutcome::crashed when a signal ended it.
int waitProgramFor(quillon::testing::RunningProgram& program,
                   std::chrono::seconds limit = std::chrono::seconds(120));

} // namespace quillon::advapi32::test
