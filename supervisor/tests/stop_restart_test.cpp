// Stop and restart: the stop routine, its time limit, the restart order, and
// what happens when the Java application ends on its own.
#include "supervisor_fixture.h"

#include <QTimer>
#include <csignal>
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

struct RestartDepthCase
{
    const char* name;
    // Each run asks for a restart; the last one starts up and then waits.
    const char* restartingRun;
    // The starts after which the stack must stand where it stood at the
    // first of them: all when the loop itself restarts, all but the first
    // when the event loop enters it.
    std::size_t firstComparedStart;
};

class RestartDepthTest : public SupervisorTest, public ::testing::WithParamInterface<RestartDepthCase>
{
};

TEST_P(RestartDepthTest, RestartsRunInOneLoopAndLeaveTheStackAsItWas)
{
    constexpr int restarts = 4;
    QStringList runs;
    for (int i = 0; i < restarts; ++i)
        runs << QString::fromLatin1(GetParam().restartingRun);
    runs << QStringLiteral("startup;quit;shutdown");
    script(runs.join('|'));
    TestService& service = makeService(Mode::Service);
    const int exitCode = run([&] {
        EXPECT_TRUE(waitUntil([&] { return texts().count(entry::startupCompleted) > 0
                                           && texts().count(entry::startingUp) == restarts + 1
                                           && texts().endsWith(entry::startupCompleted); }));
        service.stop();
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(texts().count(entry::startingUp), restarts + 1);
    EXPECT_EQ(texts().count(entry::doRestart), restarts);
    const std::vector<quintptr> frames = service.launchFrames();
    ASSERT_EQ(frames.size(), std::size_t(restarts + 1));
    const std::size_t first = GetParam().firstComparedStart;
    for (std::size_t i = first + 1; i < frames.size(); ++i)
        EXPECT_EQ(frames[i], frames[first]) << "start " << i << " nested "
                                            << qint64(frames[first] - frames[i]) << " bytes deeper";
}

INSTANTIATE_TEST_SUITE_P(
    Moments, RestartDepthTest,
    ::testing::Values(RestartDepthCase{"InTheStartupWait", "restart;quit;shutdown", 0},
                      RestartDepthCase{"WhileRunning", "startup;sleep:200;restart;quit;shutdown", 1}),
    [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(StopRestartTest, RestartAskedDuringARestartsShutdownIsThatRestart)
{
    script(QStringLiteral("startup;sleep:200;restart;quit;restart;sleep:200;shutdown|startup;quit;shutdown"));
    TestService& service = makeService(Mode::Service);
    const int exitCode = run([&] {
        EXPECT_TRUE(waitUntil([&] { return texts().count(entry::startupCompleted) == 2; }));
        service.stop();
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(texts(), (QStringList{entry::startingUp, entry::processOk, entry::startupCompleted,
                                    entry::doRestart, entry::goingToShutdown, entry::doRestart,
                                    entry::shutdownCompleted, entry::stopped, entry::startingUp,
                                    entry::processOk, entry::startupCompleted,
                                    entry::goingToShutdown, entry::shutdownCompleted,
                                    entry::stopped}));
}

TEST_F(StopRestartTest, StopDuringARestartWinsWithinTheStopLimit)
{
    // The restart's quit command is ignored: only the stop can end this.
    script(QStringLiteral("startup;sleep:200;restart;hang"));
    SupervisorLimits limits = testLimits();
    limits.stopTimeoutMs = 1500;
    TestService& service = makeService(Mode::Service, limits);
    StandinRun first;
    QTimer stopOnceQuitSent;
    QObject::connect(&stopOnceQuitSent, &QTimer::timeout, [&] {
        if (hasEntry(entry::goingToShutdown)) {
            stopOnceQuitSent.stop();
            service.stop();
        }
    });
    const int exitCode = run([&] {
        first = standinRun(0);
        stopOnceQuitSent.start(20);
    });
    EXPECT_EQ(exitCode, 2);
    const QStringList all = texts();
    EXPECT_EQ(all.count(entry::startingUp), 1) << all.join('|').toStdString();
    EXPECT_EQ(all.count(entry::goingToShutdown), 1) << all.join('|').toStdString();
    EXPECT_EQ(all.filter(QStringLiteral("its Java process was killed")).size(), 1);
    EXPECT_TRUE(processGone(first.pid));
}

TEST_F(StopRestartTest, JavaKilledBySignalIsReportedAsACrash)
{
    script(QStringLiteral("startup;hang"));
    TestService& service = makeService(Mode::Service);
    const int exitCode = run([&] { ::kill(pid_t(standinRun(0).pid), SIGKILL); });
    (void)service;
    EXPECT_EQ(exitCode, SIGKILL);
    const auto log = entries();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().type, QStringLiteral("error"));
    EXPECT_EQ(log.back().text, QStringLiteral("Quillon Java process crashed unexpectedly (exit code 9)"));
}

struct ChildCase
{
    const char* name;
    const char* script;
    int stopTimeoutMs;
    int exitCode;
};

class JavaChildrenTest : public SupervisorTest, public ::testing::WithParamInterface<ChildCase>
{
};

TEST_P(JavaChildrenTest, WhatJavaStartedEndsWithIt)
{
    script(QString::fromLatin1(GetParam().script));
    SupervisorLimits limits = testLimits();
    limits.stopTimeoutMs = GetParam().stopTimeoutMs;
    TestService& service = makeService(Mode::Service, limits);
    qint64 child = 0;
    const int exitCode = run([&] {
        standinRun(0);
        EXPECT_TRUE(waitUntil([&] { return spawnedBy(0) != 0; }));
        child = spawnedBy(0);
        service.stop();
    });
    EXPECT_EQ(exitCode, GetParam().exitCode);
    ASSERT_NE(child, 0);
    EXPECT_TRUE(processGone(child));
    if (!processGone(child, 0))
        ::kill(pid_t(child), SIGKILL);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, JavaChildrenTest,
    ::testing::Values(ChildCase{"CleanStop", "spawn:sleep 300;startup;quit;shutdown", 30000, 0},
                      ChildCase{"KilledAtTheStopLimit", "spawn:sleep 300;startup;hang", 1500, 2}),
    [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

TEST_F(StopRestartTest, WhatTheOldJavaStartedEndsWithItOnARestart)
{
    script(QStringLiteral("spawn:sleep 300;startup;sleep:200;restart;quit;shutdown|startup;quit;shutdown"));
    TestService& service = makeService(Mode::Service);
    qint64 child = 0;
    bool goneBeforeStop = false;
    const int exitCode = run([&] {
        EXPECT_TRUE(waitUntil([&] { return texts().count(entry::startupCompleted) == 2; }));
        child = spawnedBy(0);
        goneBeforeStop = child != 0 && processGone(child);
        service.stop();
    });
    EXPECT_EQ(exitCode, 0);
    ASSERT_NE(child, 0);
    EXPECT_TRUE(goneBeforeStop);
    if (!processGone(child, 0))
        ::kill(pid_t(child), SIGKILL);
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
    limits.startupWaitMs = 3600000;
    TestService& service = makeService(Mode::Service, limits);
    // The stop request arrives while start still waits for the marker, as a
    // stop control does under the service manager.
    QTimer::singleShot(1500, [&] { service.stop(); });
    // With a wait of an hour, only the stop can have ended start in time.
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(texts(), (QStringList{entry::startingUp, entry::processOk, entry::goingToShutdown,
                                    entry::shutdownCompleted, entry::stopped}));
}
