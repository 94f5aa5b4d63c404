// quillonsvc itself, run in the foreground as a child process.
#include "supervisor_fixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <csignal>

namespace {

// The child processes of a process, from /proc.
QList<qint64> childrenOf(qint64 parent)
{
    QList<qint64> children;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& name : pids) {
        bool numeric = false;
        const qint64 pid = name.toLongLong(&numeric);
        if (!numeric)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray fields = stat.readAll();
        const QList<QByteArray> rest = fields.mid(fields.lastIndexOf(')') + 2).split(' ');
        if (rest.size() > 1 && rest.at(1).toLongLong() == parent)
            children << pid;
    }
    return children;
}

} // namespace

class QuillonsvcRunTest : public SupervisorTest
{
protected:
    // A program directory of quillonsvc beside the stand-in archive, with the
    // libraries it loads from its own folder.
    QString installCopy()
    {
        const QString copy = programDir + QStringLiteral("/quillonsvc");
        EXPECT_TRUE(QFile::copy(QStringLiteral(QUILLONSVC_PATH), copy));
        const QString bin = QFileInfo(QStringLiteral(QUILLONSVC_PATH)).absolutePath();
        for (const char* library : {"/libquillon_kernel32.so", "/libquillon_advapi32.so"})
            EXPECT_TRUE(QFile::copy(bin + QLatin1String(library), programDir + QLatin1String(library)));
        return copy;
    }

    int runToEnd(const QString& program, QByteArray& standardError)
    {
        QProcess svc;
        svc.start(program, {QStringLiteral("-e")});
        EXPECT_TRUE(svc.waitForStarted(30000));
        svc.closeWriteChannel();
        EXPECT_TRUE(svc.waitForFinished(120000));
        standardError = svc.readAllStandardError();
        return svc.exitCode();
    }
};

TEST_F(QuillonsvcRunTest, FailedStartEndsTheProgramWithAnErrorCode)
{
    script(QStringLiteral("exit:3"));
    QByteArray standardError;
    EXPECT_EQ(runToEnd(installCopy(), standardError), 1);
    EXPECT_TRUE(standardError.contains("Unable to start up\n")) << standardError.constData();
}

TEST_F(QuillonsvcRunTest, JavaEndingOnItsOwnEndsTheProgramWithItsExitCode)
{
    script(QStringLiteral("startup;sleep:300;exit:5"));
    QByteArray standardError;
    EXPECT_EQ(runToEnd(installCopy(), standardError), 5);
    EXPECT_TRUE(standardError.contains(
        "ERROR: \"Quillon Java process ended unexpectedly with exit code 5\"\n"))
        << standardError.constData();
}

TEST_F(QuillonsvcRunTest, SampleApplicationStartsInTheProgramDirectory)
{
    // The build's own layout: quillonsvc beside the sample quillon.jar.
    const QString program = QStringLiteral(QUILLONSVC_PATH);
    ASSERT_TRUE(QFileInfo::exists(QFileInfo(program).absolutePath() + "/quillon.jar"));
    QProcess svc;
    svc.start(program, {QStringLiteral("-e")});
    ASSERT_TRUE(svc.waitForStarted(30000));
    ASSERT_TRUE(waitUntil([&] { return hasEntry(entry::startupCompleted); }, 90000))
        << svc.readAllStandardError().constData();

    const QList<qint64> children = childrenOf(svc.processId());
    ASSERT_EQ(children.size(), 1);
    const qint64 java = children.first();
    EXPECT_TRUE(commandLine(java).contains(QStringLiteral("quillon.core.Bootstrap")));
    EXPECT_EQ(QFileInfo(QStringLiteral("/proc/%1/cwd").arg(java)).canonicalFilePath(),
              QFileInfo(QFileInfo(program).absolutePath()).canonicalFilePath());

    ::kill(pid_t(svc.processId()), SIGKILL);
    ASSERT_TRUE(svc.waitForFinished(30000));
    EXPECT_TRUE(processGone(java));
}

TEST_F(QuillonsvcRunTest, NoJavaOutlivesAKilledSupervisor)
{
    // A Java application that would run on even after its standard input closes.
    script(QStringLiteral("startup;hang"));
    QProcess svc;
    svc.start(installCopy(), {QStringLiteral("-e")});
    ASSERT_TRUE(svc.waitForStarted(30000));
    const qint64 java = standinRun(0).pid;
    ASSERT_NE(java, 0);
    ASSERT_FALSE(processGone(java, 500));

    ::kill(pid_t(svc.processId()), SIGKILL);
    ASSERT_TRUE(svc.waitForFinished(30000));
    EXPECT_TRUE(processGone(java));
    if (!processGone(java, 0))
        ::kill(pid_t(java), SIGKILL); // leave nothing behind even when failing
}
