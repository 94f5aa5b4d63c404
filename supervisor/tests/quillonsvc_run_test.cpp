// quillonsvc itself, run in the foreground as a child process.
#include "program_runner.h"
#include "supervisor_fixture.h"
#include "trusted_copy.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <chrono>
#include <csignal>
#include <string>
#include <unistd.h>

using quillon::testing::ProgramOptions;
using quillon::testing::ProgramOutcome;
using quillon::testing::RunningProgram;
using quillon::testing::runProgram;

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
        ProgramOptions options;
        options.closeInput = true;
        const ProgramOutcome outcome = runProgram({program.toStdString(), "-e"}, options);
        standardError = QByteArray::fromStdString(outcome.err);
        return outcome.exitCode;
    }
};

struct StopSignalCase
{
    const char* name;
    int signal;
    bool toTheGroup;
};

class StopSignalTest : public QuillonsvcRunTest, public ::testing::WithParamInterface<StopSignalCase>
{
};

TEST_P(StopSignalTest, SignalStopsTheForegroundRunAndJavaGetsOnlyTheQuitCommand)
{
    // Java answers the quit command; had it got the signal too, it would
    // have ended without its shut-down marker.
    script(QStringLiteral("startup;quit;out:quitting;shutdown"));
    ProgramOptions options;
    options.ownProcessGroup = true;
    RunningProgram svc({installCopy().toStdString(), "-e"}, options);
    ASSERT_TRUE(svc.started());
    ASSERT_TRUE(waitUntil([&] { return hasEntry(entry::startupCompleted); }, 90000));
    svc.signal(GetParam().signal, GetParam().toTheGroup);
    ASSERT_TRUE(svc.waitForEnd(std::chrono::seconds(60)));
    EXPECT_EQ(svc.exitCode(), 0) << svc.standardError();
    EXPECT_EQ(texts(), (QStringList{entry::startingUp, entry::processOk, entry::startupCompleted,
                                    entry::goingToShutdown, entry::shutdownCompleted,
                                    entry::stopped}));
    EXPECT_TRUE(processGone(standinRun(0).pid));
}

INSTANTIATE_TEST_SUITE_P(
    Signals, StopSignalTest,
    ::testing::Values(StopSignalCase{"Term", SIGTERM, false}, StopSignalCase{"Hup", SIGHUP, false},
                      StopSignalCase{"CtrlCToTheGroup", SIGINT, true}),
    [](const auto& caseInfo) { return std::string(caseInfo.param.name); });

// A signal mask of /proc/<pid>/status ("SigIgn", "SigCgt").
quint64 signalMask(qint64 pid, const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().toULongLong(nullptr, 16);
    }
    return 0;
}

bool inMask(quint64 mask, int signal)
{
    return (mask >> (signal - 1)) & 1U;
}

TEST_F(QuillonsvcRunTest, ASignalIgnoredAtTheStartStaysIgnored)
{
    // As `nohup quillonsvc -e` starts it: closing the terminal must not stop
    // the application; the other signals still do.
    script(QStringLiteral("startup;quit;shutdown"));
    ProgramOptions options;
    options.ignoredSignals = {SIGHUP};
    RunningProgram svc({installCopy().toStdString(), "-e"}, options);
    ASSERT_TRUE(svc.started());
    ASSERT_TRUE(waitUntil([&] { return hasEntry(entry::startupCompleted); }, 90000));
    // The run is in its event loop: its handling of the signals is in place.
    const quint64 ignored = signalMask(svc.pid(), "SigIgn");
    const quint64 caught = signalMask(svc.pid(), "SigCgt");
    EXPECT_TRUE(inMask(ignored, SIGHUP));
    EXPECT_FALSE(inMask(caught, SIGHUP));
    EXPECT_TRUE(inMask(caught, SIGTERM));
    EXPECT_TRUE(inMask(caught, SIGINT));

    // An ignored signal is dropped as it is sent; the stop that follows is
    // the only one.
    svc.signal(SIGHUP);
    EXPECT_TRUE(svc.running());
    svc.signal(SIGTERM);
    ASSERT_TRUE(svc.waitForEnd(std::chrono::seconds(60)));
    EXPECT_EQ(svc.exitCode(), 0) << svc.standardError();
    EXPECT_EQ(texts(), (QStringList{entry::startingUp, entry::processOk, entry::startupCompleted,
                                    entry::goingToShutdown, entry::shutdownCompleted, entry::stopped}));
}

TEST_F(QuillonsvcRunTest, SecondSignalEndsTheForegroundRunAtOnce)
{
    // Java ignores the quit command; the stop limit is 20 s.
    script(QStringLiteral("startup;hang"));
    RunningProgram svc({installCopy().toStdString(), "-e"});
    ASSERT_TRUE(svc.started());
    const qint64 java = standinRun(0).pid;
    ASSERT_TRUE(waitUntil([&] { return hasEntry(entry::startupCompleted); }, 90000));
    svc.signal(SIGTERM);
    ASSERT_TRUE(waitUntil([&] { return hasEntry(entry::goingToShutdown); }, 30000));
    svc.signal(SIGTERM);
    ASSERT_TRUE(svc.waitForEnd(std::chrono::seconds(15)));
    EXPECT_EQ(svc.exitCode(), 2);
    EXPECT_TRUE(hasEntry(QStringLiteral("Service Quillon was asked again to stop; its Java process was killed.")))
        << texts().join('|').toStdString();
    EXPECT_TRUE(processGone(java));
}

TEST_F(QuillonsvcRunTest, ManyRestartsFitInASmallStack)
{
    // A Java stand-in of the shell, quick to start: each run but the last asks
    // for a restart in its start-up wait, the last starts up and waits.
    constexpr int restarts = 500;
    constexpr int stackKiB = 256;
    ASSERT_TRUE(QDir().mkpath(programDir + QStringLiteral("/Java/bin")));
    QFile java(localRuntimePath());
    ASSERT_TRUE(java.open(QIODevice::WriteOnly));
    java.write(QStringLiteral("#!/bin/sh\n"
                              "count='%1/count'\n"
                              "n=$(cat \"$count\" 2>/dev/null || echo 0)\n"
                              "echo $((n + 1)) > \"$count\"\n"
                              "if [ \"$n\" -lt %2 ]; then echo '###QUILLRESTART###'; read line;"
                              " echo '###QUILLSHUTDOWNCOMP###'; exit 0; fi\n"
                              "echo '###QUILLSTARTUPCOMP###'\n"
                              "read line\n"
                              "echo '###QUILLSHUTDOWNCOMP###'\n")
                   .arg(runsDir)
                   .arg(restarts)
                   .toUtf8());
    java.close();
    ASSERT_TRUE(java.setPermissions(java.permissions() | QFileDevice::ExeOwner));

    const QString shell = QStringLiteral("ulimit -s %1 && exec \"$0\" -e").arg(stackKiB);
    RunningProgram svc({"/bin/sh", "-c", shell.toStdString(), installCopy().toStdString()});
    ASSERT_TRUE(svc.started());
    QFile count(runsDir + QStringLiteral("/count"));
    const bool allRestarted = waitUntil(
        [&] {
            if (!svc.running() || !count.open(QIODevice::ReadOnly))
                return !svc.running();
            const int runs = count.readAll().trimmed().toInt();
            count.close();
            return runs > restarts;
        },
        170000)
        && waitUntil([&] { return hasEntry(entry::startupCompleted); }, 30000);
    const int restartsSeen = texts().count(entry::doRestart);
    svc.signal(SIGTERM);
    ASSERT_TRUE(svc.waitForEnd(std::chrono::seconds(30)));
    EXPECT_TRUE(allRestarted);
    EXPECT_EQ(restartsSeen, restarts);
    EXPECT_EQ(svc.exitCode(), 0) << "ended so after " << restartsSeen << " restarts";
}

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

TEST_F(QuillonsvcRunTest, JavaExitCodeMinusOneIsNoFailureToRun)
{
    // -1 is the foreground run's "no application"; Java's -1 must not read so.
    script(QStringLiteral("startup;sleep:300;exit:-1"));
    QByteArray standardError;
    EXPECT_EQ(runToEnd(installCopy(), standardError), 255);
    EXPECT_FALSE(standardError.contains("could not be executed")) << standardError.constData();
}

TEST_F(QuillonsvcRunTest, SampleApplicationStartsInTheProgramDirectory)
{
    // The build's layout, quillonsvc beside the sample quillon.jar, copied
    // where root may run it.
    const QString program = QString::fromStdString(
        quillon::testing::trustedCopyOf(QUILLONSVC_PATH, {"libquillon_advapi32.so", "quillon.jar"}));
    ASSERT_TRUE(QFileInfo::exists(QFileInfo(program).absolutePath() + "/quillon.jar"));
    RunningProgram svc({program.toStdString(), "-e"});
    ASSERT_TRUE(svc.started());
    ASSERT_TRUE(waitUntil([&] { return hasEntry(entry::startupCompleted); }, 90000))
        << svc.standardError();

    const QList<qint64> children = childrenOf(svc.pid());
    ASSERT_EQ(children.size(), 1);
    const qint64 java = children.first();
    EXPECT_TRUE(commandLine(java).contains(QStringLiteral("quillon.core.Bootstrap")));
    EXPECT_EQ(QFileInfo(QStringLiteral("/proc/%1/cwd").arg(java)).canonicalFilePath(),
              QFileInfo(QFileInfo(program).absolutePath()).canonicalFilePath());

    svc.signal(SIGKILL);
    ASSERT_TRUE(svc.waitForEnd(std::chrono::seconds(30)));
    EXPECT_TRUE(processGone(java));
}

TEST_F(QuillonsvcRunTest, NoJavaOutlivesAKilledSupervisor)
{
    // A Java application that would run on even after its standard input closes.
    script(QStringLiteral("startup;hang"));
    RunningProgram svc({installCopy().toStdString(), "-e"});
    ASSERT_TRUE(svc.started());
    const qint64 java = standinRun(0).pid;
    ASSERT_NE(java, 0);
    ASSERT_FALSE(processGone(java, 500));

    svc.signal(SIGKILL);
    ASSERT_TRUE(svc.waitForEnd(std::chrono::seconds(30)));
    EXPECT_TRUE(processGone(java));
    if (!processGone(java, 0))
        ::kill(pid_t(java), SIGKILL); // leave nothing behind even when failing
}
