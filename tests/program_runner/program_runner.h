// Runs programs as child processes for the tests and collects what they
// print. Every wait is bounded; a program still running when its runner goes
// is killed, so that no test leaves one behind.
//
// The child starts as a shell starts a command: default signal dispositions
// (unless the options ask for some to be ignored), nothing blocked, the environment this process has at the start (with the
// options' changes), standard input an open pipe that never delivers, like an
// idle console's. Its output goes to anonymous files, so a program that
// writes much never waits for the test to read.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quillon::testing {

struct ProgramOutcome {
    // The program's exit code (0..255); notEnded when it had to be killed or
    // could not be started, crashed when a signal ended it.
    int exitCode = notEnded;
    std::string out;
    std::string err;

    static constexpr int notEnded = -1000;
    static constexpr int crashed = -2000;
};

struct ProgramOptions {
    // Changes to the environment this process has when the program starts.
    std::vector<std::pair<std::string, std::string>> set;
    std::vector<std::string> unset;
    // A process group of its own, as a shell puts a foreground job: a
    // terminal's Ctrl+C goes to the whole group.
    bool ownProcessGroup = false;
    // Standard input at its end from the start (/dev/null).
    bool closeInput = false;
    // False: the program writes to the test's own standard output and error.
    bool captureOutput = true;
    // Signals the program starts with ignored, as `nohup` starts it with
    // SIGHUP ignored; all others start at their default.
    std::vector<int> ignoredSignals;
};

class RunningProgram
{
public:
    // Starts argv[0] (a path) with the arguments; started() tells whether it did.
    explicit RunningProgram(const std::vector<std::string>& argv, const ProgramOptions& options = {});
    ~RunningProgram();

    RunningProgram(RunningProgram&&) noexcept;
    RunningProgram& operator=(RunningProgram&&) noexcept;

    bool started() const;
    long pid() const;
    // Does not wait.
    bool running();

    // Sends a signal to the program, or to its process group, while it runs.
    void signal(int number, bool toTheGroup = false);

    // Waits at most `limit` for the program to end; false while it runs on.
    bool waitForEnd(std::chrono::milliseconds limit);
    // Kills the program if it still runs and waits for its end (bounded).
    void kill();

    // The exit code once it ended (see ProgramOutcome).
    int exitCode();
    // All the program has written so far ("" when output is not captured).
    std::string standardOutput() const;
    std::string standardError() const;
    ProgramOutcome outcome();

private:
    struct Child;
    std::unique_ptr<Child> child;
};

// Runs a program to its end. One that has not ended after `limit` is killed
// and reported as a test failure (exit code ProgramOutcome::notEnded).
ProgramOutcome runProgram(const std::vector<std::string>& argv, const ProgramOptions& options = {},
                          std::chrono::milliseconds limit = std::chrono::minutes(2));

} // namespace quillon::testing
