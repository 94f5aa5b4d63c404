// The bundled sample application under the supervisor: the relay forwards
// nothing of a read that holds a marker, so the application's own lines reach
// the console only if they come in reads of their own.
#include "program_runner.h"
#include "supervisor_fixture.h"
#include "trusted_copy.h"

#include <QFile>
#include <QElapsedTimer>
#include <QFileInfo>
#include <chrono>
#include <csignal>
#include <cstdio>

using quillon::testing::RunningProgram;

namespace {

QString sampleJar()
{
    return QFileInfo(QStringLiteral(QUILLONSVC_PATH)).absolutePath() + QStringLiteral("/quillon.jar");
}

// quillonsvc as a newcomer runs it: the build's layout (the program, its
// libraries, the sample quillon.jar beside it), copied where root alone can
// change anything, since root runs nothing from a folder others could change.
std::string builtProgram()
{
    return quillon::testing::trustedCopyOf(QUILLONSVC_PATH, {"libquillon_advapi32.so", "quillon.jar"});
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
    RunningProgram svc({builtProgram(), "-e"});
    ASSERT_TRUE(svc.started());
    const bool started = waitUntil([&] { return hasEntry(entry::startupCompleted); }, 90000);
    svc.signal(SIGKILL);
    ASSERT_TRUE(svc.waitForEnd(std::chrono::seconds(30)));
    ASSERT_TRUE(started) << svc.standardError();

    const QString console = QString::fromStdString(svc.standardError());
    expectStartingLines(console, QFileInfo(QFileInfo(QString::fromStdString(builtProgram())).absolutePath())
                                     .canonicalFilePath());
}

TEST_F(SampleApplicationTest, SigtermShutsTheSampleApplicationDownAndEndsWithZero)
{
    RunningProgram svc({builtProgram(), "-e"});
    ASSERT_TRUE(svc.started());
    ASSERT_TRUE(waitUntil([&] { return hasEntry(entry::startupCompleted); }, 90000))
        << svc.standardError();
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    svc.signal(SIGTERM);
    ASSERT_TRUE(svc.waitForEnd(std::chrono::seconds(60)));
    // A figure for the reader, not a limit.
    std::printf("SIGTERM to exit with the sample application: %lld ms\n",
                static_cast<long long>(sinceSignal.elapsed()));
    EXPECT_EQ(svc.exitCode(), 0);
    const QString console = QString::fromStdString(svc.standardError());
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
