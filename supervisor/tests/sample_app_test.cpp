// The bundled sample application under the supervisor: the relay forwards
// nothing of a read that holds a marker, so the application's own lines reach
// the console only if they come in reads of their own.
#include "supervisor_fixture.h"

#include <QFile>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <csignal>
#include <cstdio>

namespace {

QString sampleJar()
{
    return QFileInfo(QStringLiteral(QUILLONSVC_PATH)).absolutePath() + QStringLiteral("/quillon.jar");
}

// What the sample application says before its start-up marker.
void expectStartingLines(const QString& console, const QString& workingDirectory)
{
    EXPECT_TRUE(console.contains(QLatin1String("Quillon sample application starting (Java ")))
        << console.toStdString();
    EXPECT_TRUE(console.contains(QStringLiteral("Working directory: ") + workingDirectory))
        << console.toStdString();
    EXPECT_TRUE(console.contains(QLatin1String("Started at "))) << console.toStdString();
    EXPECT_FALSE(console.contains(QLatin1String("###QUILL"))) << console.toStdString();
}

} // namespace

class SampleApplicationTest : public SupervisorTest
{
protected:
    void SetUp() override
    {
        SupervisorTest::SetUp();
        ASSERT_TRUE(QFile::remove(programDir + QStringLiteral("/quillon.jar")));
        ASSERT_TRUE(QFile::copy(sampleJar(), programDir + QStringLiteral("/quillon.jar")));
    }
};

TEST_F(SampleApplicationTest, ForegroundRunShowsTheLinesBeforeTheStartUpMarker)
{
    // quillonsvc as a newcomer runs it: the build's own layout.
    QProcess svc;
    svc.start(QStringLiteral(QUILLONSVC_PATH), {QStringLiteral("-e")});
    ASSERT_TRUE(svc.waitForStarted(30000));
    const bool started = waitUntil([&] { return hasEntry(entry::startupCompleted); }, 90000);
    ::kill(pid_t(svc.processId()), SIGKILL);
    ASSERT_TRUE(svc.waitForFinished(30000));
    ASSERT_TRUE(started) << svc.readAllStandardError().constData();

    const QString console = QString::fromUtf8(svc.readAllStandardError());
    expectStartingLines(console, QFileInfo(QFileInfo(QStringLiteral(QUILLONSVC_PATH)).absolutePath())
                                     .canonicalFilePath());
}

TEST_F(SampleApplicationTest, SigtermShutsTheSampleApplicationDownAndEndsWithZero)
{
    QProcess svc;
    svc.start(QStringLiteral(QUILLONSVC_PATH), {QStringLiteral("-e")});
    ASSERT_TRUE(svc.waitForStarted(30000));
    ASSERT_TRUE(waitUntil([&] { return hasEntry(entry::startupCompleted); }, 90000))
        << svc.readAllStandardError().constData();
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    ::kill(pid_t(svc.processId()), SIGTERM);
    ASSERT_TRUE(svc.waitForFinished(60000));
    // A figure for the reader, not a limit.
    std::printf("SIGTERM to exit with the sample application: %lld ms\n",
                static_cast<long long>(sinceSignal.elapsed()));
    EXPECT_EQ(svc.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(svc.exitCode(), 0);
    const QString console = QString::fromUtf8(svc.readAllStandardError());
    EXPECT_TRUE(console.contains(QLatin1String("Quillon sample application shutting down")))
        << console.toStdString();
    const QStringList all = texts();
    EXPECT_EQ(all.mid(all.size() - 3),
              (QStringList{entry::goingToShutdown, entry::shutdownCompleted, entry::stopped}));
}

TEST_F(SampleApplicationTest, StopShowsTheShutDownLineBeforeTheShutDownMarker)
{
    TestService& service = makeService(Mode::Console);
    QString consoleAtStartUp;
    const int exitCode = run([&] {
        consoleAtStartUp = messageTexts(QtDebugMsg).join('\n');
        service.stop();
    });
    EXPECT_EQ(exitCode, 0);
    expectStartingLines(consoleAtStartUp, QFileInfo(programDir).canonicalFilePath());

    const QString console = messageTexts(QtDebugMsg).join('\n');
    EXPECT_TRUE(console.contains(QLatin1String("Quillon sample application shutting down")))
        << console.toStdString();
    EXPECT_TRUE(hasEntry(entry::shutdownCompleted));
    EXPECT_FALSE(console.contains(QLatin1String("###QUILL"))) << console.toStdString();
}
