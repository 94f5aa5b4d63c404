// The foreground run ("-e"): start once the loop runs, never stop, the
// loop's exit code as the program's, the arguments after the option.
#include "fake_fixture.h"

#include <QTimer>

namespace {

using ForegroundRun = FakeScmTest;

TEST_F(ForegroundRun, StartsOnceInTheLoopAndSeesTheArgumentsAfterTheOption)
{
    for (const char* option : {"-e", "-exec"}) {
        RecordingService service({QStringLiteral("/opt/prog"), QString::fromLatin1(option), QStringLiteral("one"),
                                  QStringLiteral("-i"), QStringLiteral("two three")});
        service.onStart = [] { QCoreApplication::quit(); };
        const ExecOutcome outcome = captureExec(service);
        EXPECT_EQ(outcome.exitCode, 0) << option;
        EXPECT_EQ(service.calls, (std::vector<std::string>{"start"})) << option;
        EXPECT_TRUE(service.loopRunningAtStart);
        EXPECT_TRUE(service.everyCallOnMainThread);
        EXPECT_EQ(service.argumentsAtStart, (QStringList{QStringLiteral("/opt/prog"), QStringLiteral("one"),
                                                         QStringLiteral("-i"), QStringLiteral("two three")}));
        EXPECT_EQ(QCoreApplication::instance(), nullptr) << "the run deletes its application";
        EXPECT_EQ(outcome.out + outcome.err, "");
    }
    // Nothing of the service manager is touched.
    EXPECT_TRUE(fakescm::opens().empty());
    EXPECT_TRUE(fakescm::eventLog().empty());
}

TEST_F(ForegroundRun, ExitCodeOfTheLoopIsTheResultAndStopIsNeverCalled)
{
    RecordingService service({QStringLiteral("prog"), QStringLiteral("-e")});
    service.onStart = [] { QTimer::singleShot(0, [] { QCoreApplication::exit(3); }); };
    const ExecOutcome outcome = captureExec(service);
    EXPECT_EQ(outcome.exitCode, 3);
    EXPECT_EQ(service.calls, (std::vector<std::string>{"start"}));
}

TEST_F(ForegroundRun, NoApplicationGivesMinusOneAndAWarning)
{
    RecordingService service({QStringLiteral("prog"), QStringLiteral("-e")});
    service.createNoApplication = true;
    const ExecOutcome outcome = captureExec(service);
    EXPECT_EQ(outcome.exitCode, -1);
    EXPECT_TRUE(service.calls.empty());
    ASSERT_EQ(outcome.warnings.size(), 1u);
    EXPECT_TRUE(outcome.warnings[0].startsWith(QStringLiteral("The service could not be executed.")));
}

} // namespace
