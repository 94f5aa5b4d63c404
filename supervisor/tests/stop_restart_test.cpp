// Stop and restart: the stop routine, its time limit, the restart order, and
// what happens when the Java application ends on its own.
#include "supervisor_fixture.h"

#include <QTimer>
#include <string>

using StopRestartTest = SupervisorTest;

TEST_F(StopRestartTest, RestartShutsDownTheOldJavaAndStartsANewOne)
{
    script(QStringLiteral("startup;sleep:300;restart;quit;shutdown|startup;quit;shutdown"));
    TestService& service = makeService(Mode::Service);
    StandinRun first;
    StandinRun second;
    const int exitCode = run([&] {
        first = standinRun(0);
        EXPECT_TRUE(waitUntil([&] { return texts().count(entry::startupCompleted) == 2; }));
        second = standinRun(1);
        service.stop();
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(texts(), (QStringList{entry::startingUp, entry::processOk, entry::startupCompleted,
                                    entry::doRestart, entry::goingToShutdown,
                                    entry::shutdownCompleted, entry::stopped, entry::startingUp,
                                    entry::processOk, entry::startupCompleted,
                                    entry::goingToShutdown, entry::shutdownCompleted,
                                    entry::stopped}));
    EXPECT_NE(first.pid, second.pid);
    EXPECT_TRUE(processGone(first.pid));
}

TEST_F(StopRestartTest, RestartBeforeTheStartupMarkerRestartsWithinStart)
{
    script(QStringLiteral("restart;quit;shutdown|startup;quit;shutdown"));
    TestService& service = makeService(Mode::Service);
    bool startedUp = false;
    const int exitCode = run([&] {
        startedUp = hasEntry(entry::startupCompleted);
        service.stop();
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(startedUp);
    EXPECT_EQ(texts(), (QStringList{entry::startingUp, entry::processOk, entry::doRestart,
                                    entry::goingToShutdown, entry::shutdownCompleted,
                                    entry::stopped, entry::startingUp, entry::processOk,
                                    entry::startupCompleted, entry::goingToShutdown,
                                    entry::shutdownCompleted, entry::stopped}));
}

TEST_F(StopRestartTest, RestartKillsAnOldJavaThatLingersAfterItsShutdown)
{
    script(QStringLiteral("startup;sleep:300;restart;quit;shutdown;sleep:600000|startup;quit;shutdown"));
    SupervisorLimits limits = testLimits();
    limits.previousExitTimeoutMs = 1000;
    TestService& service = makeService(Mode::Service, limits);
    StandinRun first;
    const int exitCode = run([&] {
        first = standinRun(0);
        EXPECT_TRUE(waitUntil([&] { return texts().count(entry::startupCompleted) == 2; }));
        service.stop();
    });
    EXPECT_EQ(exitCode, 0);
    const auto log = entries();
    ASSERT_GE(log.size(), 8u);
    EXPECT_EQ(log[6].text, entry::stopped);
    EXPECT_EQ(log[7].type, QStringLiteral("error"));
    EXPECT_EQ(log[7].text,
              QStringLiteral("Quillon Java process did not end after its shut-down; it was killed."));
    EXPECT_EQ(log[8].text, entry::startingUp);
    EXPECT_TRUE(processGone(first.pid));
}

TEST_F(StopRestartTest, StopWithoutShutdownMarkerEndsWithTheProcess)
{
    script(QStringLiteral("startup;quit;exit:0"));
    TestService& service = makeService(Mode::Service);
    const int exitCode = run([&] { service.stop(); });
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(texts(), (QStringList{entry::startingUp, entry::processOk, entry::startupCompleted,
                                    entry::goingToShutdown, entry::stopped}));
}

TEST_F(StopRestartTest, JavaIgnoringQuitIsKilledAfterTheLimit)
{
    script(QStringLiteral("startup;hang"));
    SupervisorLimits limits = testLimits();
    limits.stopTimeoutMs = 1500;
    TestService& service = makeService(Mode::Console, limits);
    StandinRun record;
    const int exitCode = run([&] {
        record = standinRun(0);
        service.stop();
    });
    // A stop that had to kill is no clean stop.
    EXPECT_EQ(exitCode, 2);
    const QString killed =
        QStringLiteral("Service Quillon did not shut down within 1.5 s; its Java process was killed.");
    EXPECT_EQ(texts(), (QStringList{entry::startingUp, entry::processOk, entry::startupCompleted,
                                    entry::goingToShutdown, killed, entry::stopped}));
    EXPECT_EQ(entries()[4].type, QStringLiteral("error"));
    EXPECT_EQ(messageTexts(QtWarningMsg), QStringList{"ERROR: \"" + killed + "\""});
    EXPECT_TRUE(processGone(record.pid));
}

struct OwnEndCase
{
    int javaExitCode;
    int loopExitCode;
};

class JavaEndsOnItsOwnTest : public SupervisorTest, public ::testing::WithParamInterface<OwnEndCase>
{
};

TEST_P(JavaEndsOnItsOwnTest, EndsTheServiceWithAnErrorAndALaterStopOnlyReportsStopped)
{
    script(QStringLiteral("startup;sleep:300;exit:%1").arg(GetParam().javaExitCode));
    TestService& service = makeService(Mode::Service);
    EXPECT_EQ(run(), GetParam().loopExitCode);
    const auto log = entries();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[3].type, QStringLiteral("error"));
    EXPECT_EQ(log[3].text, QStringLiteral("Quillon Java process ended unexpectedly with exit code %1")
                               .arg(GetParam().javaExitCode));

    // A stop that comes after the Java process has gone sends no quit command.
    service.stop();
    const QStringList all = texts();
    EXPECT_EQ(all.size(), 5);
    EXPECT_EQ(all.last(), entry::stopped);
}

INSTANTIATE_TEST_SUITE_P(ExitCodes, JavaEndsOnItsOwnTest,
                         ::testing::Values(OwnEndCase{0, 1}, OwnEndCase{7, 7}),
                         [](const auto& caseInfo) {
                             return "JavaExit" + std::to_string(caseInfo.param.javaExitCode);
                         });

TEST_F(StopRestartTest, StopDuringStartupWaitEndsTheService)
{
    script(QStringLiteral("out:booting;quit;shutdown"));
    SupervisorLimits limits = testLimits();
    limits.startupWaitPasses = 720000;
    TestService& service = makeService(Mode::Service, limits);
    // The stop request arrives while start still waits for the marker, as a
    // stop control does under the service manager.
    QTimer::singleShot(1500, [&] { service.stop(); });
    // With a wait of an hour, only the stop can have ended start in time.
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(texts(), (QStringList{entry::startingUp, entry::processOk, entry::goingToShutdown,
                                    entry::shutdownCompleted, entry::stopped}));
}
