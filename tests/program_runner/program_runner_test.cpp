// The runner every program-starting test relies on: what it reports of a
// program's end, that its waits are bounded, and that the child starts as a
// shell would start it whatever this process has changed.
#include "program_runner.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

namespace {

using quillon::testing::ProgramOptions;
using quillon::testing::ProgramOutcome;
using quillon::testing::RunningProgram;
using quillon::testing::runProgram;

std::vector<std::string> shell(const std::string& command)
{
    return {"/bin/sh", "-c", command};
}

struct EndCase {
    const char* name;
    const char* command;
    int exitCode;
    const char* out;
    const char* err;
};

class ProgramEnd : public ::testing::TestWithParam<EndCase>
{
};

TEST_P(ProgramEnd, IsReportedWithWhatItPrinted)
{
    const ProgramOutcome outcome = runProgram(shell(GetParam().command));
    EXPECT_EQ(outcome.exitCode, GetParam().exitCode);
    EXPECT_EQ(outcome.out, GetParam().out);
    EXPECT_EQ(outcome.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, ProgramEnd,
    ::testing::Values(EndCase {"Zero", "echo out; echo err >&2", 0, "out\n", "err\n"},
                      EndCase {"MinusOneReadsAsTheShellSeesIt", "exit 255", 255, "", ""},
                      EndCase {"Signal", "kill -SEGV $$", ProgramOutcome::crashed, "", ""}),
    [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST(ProgramRunner, MuchOutputArrivesWhole)
{
    // More than a pipe holds, with no one reading meanwhile.
    const ProgramOutcome outcome = runProgram(shell("head -c 300000 /dev/zero | tr '\\0' x"));
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.out, std::string(300000, 'x'));
}

TEST(ProgramRunner, AWaitEndsAtItsLimitAndTheProgramIsKilled)
{
    RunningProgram program(shell("exec sleep 600"));
    ASSERT_TRUE(program.started());
    EXPECT_FALSE(program.waitForEnd(std::chrono::milliseconds(200)));
    EXPECT_TRUE(program.running());
    program.kill();
    EXPECT_FALSE(program.running());
    EXPECT_EQ(program.exitCode(), ProgramOutcome::crashed);
}

TEST(ProgramRunner, TheChildStartsWithDefaultSignalsAnOpenInputAndTheChangedEnvironment)
{
    // What this process ignores or blocks, the child must not inherit.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction oldInt {}, oldPipe {};
    ASSERT_EQ(::sigaction(SIGINT, &ignore, &oldInt), 0);
    ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &oldPipe), 0);
    sigset_t blocked, oldMask;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGTERM);
    ASSERT_EQ(::pthread_sigmask(SIG_BLOCK, &blocked, &oldMask), 0);
    ::setenv("QUILLON_RUNNER_KEPT", "kept", 1);
    ::setenv("QUILLON_RUNNER_DROPPED", "dropped", 1);

    ProgramOptions options;
    options.set = {{"QUILLON_RUNNER_SET", "set"}, {"QUILLON_RUNNER_KEPT", "changed"}};
    options.unset = {"QUILLON_RUNNER_DROPPED"};
    const ProgramOutcome outcome = runProgram(
        shell("grep -E '^Sig(Ign|Blk)' /proc/self/status;"
              " echo \"$QUILLON_RUNNER_SET $QUILLON_RUNNER_KEPT ${QUILLON_RUNNER_DROPPED-unset}\";"
              " [ -p /dev/stdin ] && echo input-is-a-pipe"),
        options);

    ::pthread_sigmask(SIG_SETMASK, &oldMask, nullptr);
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGPIPE, &oldPipe, nullptr);
    ::unsetenv("QUILLON_RUNNER_KEPT");
    ::unsetenv("QUILLON_RUNNER_DROPPED");

    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\nset changed unset\ninput-is-a-pipe\n");
}

TEST(ProgramRunner, TheChildStartsWithTheSignalsAskedForIgnored)
{
    // As nohup starts a program: SIGHUP ignored, the rest at its default,
    // whatever this process ignores.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction oldInt {};
    ASSERT_EQ(::sigaction(SIGINT, &ignore, &oldInt), 0);
    ProgramOptions options;
    options.ignoredSignals = {SIGHUP, SIGQUIT};
    const ProgramOutcome outcome = runProgram(shell("grep -E '^SigIgn' /proc/self/status"), options);
    ::sigaction(SIGINT, &oldInt, nullptr);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out, "SigIgn:\t0000000000000005\n"); // bits of SIGHUP (1) and SIGQUIT (3)
}

TEST(ProgramRunner, AProgramThatCannotStartIsReported)
{
    RunningProgram program({"/nonexistent/program"});
    EXPECT_FALSE(program.started());
    EXPECT_EQ(program.exitCode(), ProgramOutcome::notEnded);
}

} // namespace
