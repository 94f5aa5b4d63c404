// Start-up: the Java command line, its working directory, and how start-up
// ends for each way the Java application can behave before its marker.
#include "supervisor_fixture.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <chrono>
#include <cstdlib>

namespace {

QStringList expectedJavaArguments(const QString& programDir)
{
    return {QStringLiteral("-Xms1024m"),
            QStringLiteral("--add-opens=java.base/jdk.internal.loader=ALL-UNNAMED"),
            QStringLiteral("--add-opens=java.base/jdk.internal.misc=ALL-UNNAMED"),
            QStringLiteral("--illegal-access=warn"),
            QStringLiteral("-Dio.netty.tryReflectionSetAccessible=true"),
            QStringLiteral("-cp"),
            programDir + QStringLiteral("/quillon.jar"),
            QStringLiteral("quillon.core.Bootstrap")};
}

QStringList infoWarnings(const QStringList& warnings)
{
    return warnings.filter(QRegularExpression(QStringLiteral("^INFO:")));
}

} // namespace

using StartupTest = SupervisorTest;

TEST_F(StartupTest, SearchPathJavaGetsEightArgumentsInTheProgramDirectory)
{
    script(QStringLiteral("startup;quit;shutdown"));
    makeService(Mode::Console);
    QStringList commandLineSeen;
    StandinRun record;
    const int exitCode = run([&] {
        record = standinRun(0);
        commandLineSeen = commandLine(record.pid);
        QCoreApplication::quit();
    });
    EXPECT_EQ(exitCode, 0);
    ASSERT_FALSE(commandLineSeen.isEmpty());
    EXPECT_EQ(QFileInfo(commandLineSeen.first()).fileName(), QStringLiteral("java"));
    EXPECT_EQ(commandLineSeen.mid(1), expectedJavaArguments(programDir));
    EXPECT_EQ(QFileInfo(record.workingDirectory).canonicalFilePath(),
              QFileInfo(programDir).canonicalFilePath());
    EXPECT_TRUE(infoWarnings(messageTexts(QtWarningMsg)).isEmpty());
}

struct LocalRuntimeCase
{
    Mode mode;
    int infoWarnings;
};

class LocalRuntimeTest : public SupervisorTest, public ::testing::WithParamInterface<LocalRuntimeCase>
{
};

TEST_P(LocalRuntimeTest, LocalRuntimeGetsNineArgumentsAndIsAnnouncedOnlyOnTheConsole)
{
    addLocalRuntime();
    script(QStringLiteral("startup;quit;shutdown"));
    makeService(GetParam().mode);
    StandinRun record;
    const int exitCode = run([&] {
        record = standinRun(0);
        QCoreApplication::quit();
    });
    EXPECT_EQ(exitCode, 0);

    const QString canonical = QFileInfo(localRuntimePath()).canonicalFilePath();
    const QStringList seen = localRuntimeArguments();
    ASSERT_EQ(seen.size(), 10) << seen.join('|').toStdString();
    EXPECT_EQ(seen.first(), canonical);
    EXPECT_EQ(seen.at(1), QStringLiteral("-Dfile.encoding=UTF8"));
    EXPECT_EQ(seen.mid(2), expectedJavaArguments(programDir));
    EXPECT_EQ(record.fileEncoding, QStringLiteral("UTF8"));
    EXPECT_EQ(QFileInfo(record.workingDirectory).canonicalFilePath(),
              QFileInfo(programDir).canonicalFilePath());

    const QStringList infos = infoWarnings(messageTexts(QtWarningMsg));
    ASSERT_EQ(infos.size(), GetParam().infoWarnings);
    if (!infos.isEmpty()) {
        EXPECT_EQ(infos.first(), QStringLiteral("INFO: Using Quillon Java:  \"%1\"").arg(canonical));
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, LocalRuntimeTest,
                         ::testing::Values(LocalRuntimeCase{Mode::Console, 1},
                                           LocalRuntimeCase{Mode::Service, 0}),
                         [](const auto& caseInfo) {
                             return caseInfo.param.mode == Mode::Console ? "Console" : "Service";
                         });

TEST_F(StartupTest, LocalRuntimeThatIsNotExecutableFallsBackToTheSearchPath)
{
    addLocalRuntime();
    QFile::setPermissions(localRuntimePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    script(QStringLiteral("startup;quit;shutdown"));
    makeService(Mode::Console);
    QStringList commandLineSeen;
    const int exitCode = run([&] {
        commandLineSeen = commandLine(standinRun(0).pid);
        QCoreApplication::quit();
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(localRuntimeArguments().isEmpty());
    EXPECT_EQ(commandLineSeen.mid(1), expectedJavaArguments(programDir));
    EXPECT_TRUE(infoWarnings(messageTexts(QtWarningMsg)).isEmpty());
}

TEST_F(StartupTest, ExitWithAnErrorCodeBeforeTheMarkerFailsAtOnce)
{
    script(QStringLiteral("out:starting;exit:3"));
    SupervisorLimits limits = testLimits();
    limits.startupWaitMs = 3600000; // an hour: only the exit code can end this wait in time
    makeService(Mode::Service, limits);
    EXPECT_EQ(run(), 1);
    const auto log = entries();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[0].text, entry::startingUp);
    EXPECT_EQ(log[1].text, entry::processOk);
    EXPECT_EQ(log.back().type, QStringLiteral("error"));
    EXPECT_EQ(log.back().eventId, 1005);
    EXPECT_EQ(log.back().category, 1);
    EXPECT_TRUE(log.back().text.startsWith(QLatin1String("Unable to start up service: ")));
    EXPECT_EQ(texts().filter(QStringLiteral("Unable to start up")).size(), 1);
}

TEST_F(StartupTest, ExitWithZeroBeforeTheMarkerFailsAfterTheWait)
{
    script(QStringLiteral("stamp:exit;exit:0"));
    SupervisorLimits limits = testLimits();
    limits.startupWaitMs = 4000;
    makeService(Mode::Console, limits);
    // Java's System.nanoTime and steady_clock both read the monotonic clock.
    const auto monotonicMs = [] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    const qint64 beforeRun = monotonicMs();
    EXPECT_EQ(run(), 1);
    const qint64 ended = monotonicMs();
    QFile stamp(runsDir + QStringLiteral("/exit"));
    ASSERT_TRUE(stamp.open(QIODevice::ReadOnly));
    const qint64 exited = stamp.readAll().trimmed().toLongLong() / 1000000;

    // The wait is counted on the clock and begins once Java runs, so it lasts
    // at least this long; a wait cut short by the exit ends just after it.
    const qint64 wholeWaitMs = limits.startupWaitMs;
    ASSERT_LT(exited - beforeRun, wholeWaitMs) << "Java took longer to exit than the whole wait";
    EXPECT_GE(ended - beforeRun, wholeWaitMs) << "ended " << ended - exited << " ms after Java's exit";
    EXPECT_EQ(messageTexts(QtDebugMsg), QStringList{QStringLiteral("Unable to start up")});
    EXPECT_FALSE(hasEntry(entry::startupCompleted));
}

TEST_F(StartupTest, NoMarkerKeepsTheServiceUpAfterTheWait)
{
    script(QStringLiteral("out:working;quit;shutdown"));
    SupervisorLimits limits = testLimits();
    limits.startupWaitMs = 1000;
    TestService& service = makeService(Mode::Service, limits);
    bool stillRunningAfterStart = false;
    const int exitCode = run([&] {
        // Still running after start returned: the loop only ends with stop.
        stillRunningAfterStart = !waitUntil([] { return false; }, 300);
        service.stop();
    });
    EXPECT_TRUE(stillRunningAfterStart);
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(texts(), (QStringList{entry::startingUp, entry::processOk, entry::goingToShutdown,
                                    entry::shutdownCompleted, entry::stopped}));
}

TEST_F(StartupTest, MarkerAmongOtherOutputInOneReadCounts)
{
    script(QStringLiteral("raw:first line\\n  ###QUILLSTARTUPCOMP###  \\nlast line\\n;quit;shutdown"));
    TestService& service = makeService(Mode::Console);
    const int exitCode = run([&] { service.stop(); });
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(texts().filter(entry::startupCompleted).size(), 1);
    EXPECT_TRUE(messageTexts(QtDebugMsg).filter(QStringLiteral("line")).isEmpty());
}

struct UnstartableCase
{
    Mode mode;
    int errorEntries;
    QStringList warnings;
    QStringList debugs;
};

class UnstartableJavaTest : public SupervisorTest,
                            public ::testing::WithParamInterface<UnstartableCase>
{
};

TEST_P(UnstartableJavaTest, JavaThatCannotBeStartedFailsTheStartWithAnErrorExitCode)
{
    // No local runtime and no java on the search path.
    const QByteArray savedPath = qgetenv("PATH");
    ::setenv("PATH", root.filePath(QStringLiteral("empty")).toLocal8Bit().constData(), 1);
    makeService(GetParam().mode);
    const int exitCode = run();
    ::setenv("PATH", savedPath.constData(), 1);

    EXPECT_EQ(exitCode, 1);
    const auto log = entries();
    int errors = 0;
    for (const EventLogEntry& e : log) {
        if (e.type == QLatin1String("error")) {
            ++errors;
            EXPECT_EQ(e.eventId, 1005);
            EXPECT_EQ(e.category, 1);
            EXPECT_TRUE(e.text.startsWith(QLatin1String("Unable to start up service: ")));
        }
    }
    EXPECT_EQ(errors, GetParam().errorEntries);
    EXPECT_EQ(messageTexts(QtWarningMsg).size(), GetParam().warnings.size());
    for (const QString& prefix : GetParam().warnings)
        EXPECT_FALSE(messageTexts(QtWarningMsg).filter(QRegularExpression("^" + prefix)).isEmpty());
    EXPECT_EQ(messageTexts(QtDebugMsg), GetParam().debugs);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, UnstartableJavaTest,
    ::testing::Values(UnstartableCase{Mode::Service, 2, {}, {}},
                      UnstartableCase{Mode::Console, 0, {QStringLiteral("ERROR: \"Unable to start up service: ")},
                                      {QStringLiteral("Unable to start up")}}),
    [](const auto& caseInfo) { return caseInfo.param.mode == Mode::Console ? "Console" : "Service"; });
