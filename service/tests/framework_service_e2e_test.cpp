// The program as an installed service, between separate processes, with the
// real service manager layer: install, console launch, status, controls,
// stop and removal.
#include "program_runner.h"
#include "status_poller.h"
#include "trusted_copy.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <chrono>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Root runs the service's program as root: a copy of it where root alone can
// change anything, wherever the build tree is, and the state directory
// beside it. Set in main.
QString program;
QString scratch;
QString stateDir;

using quillon::testing::ProgramOutcome;

ProgramOutcome runProgram(const QString& executable, const QStringList& arguments, const QString& serviceName)
{
    quillon::testing::ProgramOptions options;
    options.set = {{"QUILLON_STATE_DIR", stateDir.toStdString()},
                   {"QUILLON_TEST_SERVICE_NAME", serviceName.toStdString()}};
    options.unset = {"QUILLON_TEST_EXIT_CODE"};
    std::vector<std::string> argv {executable.toStdString()};
    for (const QString& argument : arguments)
        argv.push_back(argument.toStdString());
    return quillon::testing::runProgram(argv, options);
}

std::string versionText(const QString& name, const QString& executable, bool installed, bool running)
{
    return "The service\n\t" + name.toStdString() + "\n\t" + executable.toStdString() + "\n\nis "
        + (installed ? "installed" : "not installed") + " and " + (running ? "running" : "not running") + "\n\n";
}

QStringList eventTexts(const QString& name)
{
    QStringList texts;
    QFile file(stateDir + QStringLiteral("/eventlog/") + name.toLower() + QStringLiteral(".jsonl"));
    if (!file.open(QIODevice::ReadOnly))
        return texts;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const int start = line.indexOf("\"text\":\"");
        if (start < 0)
            continue;
        const int from = start + 8;
        texts.append(QString::fromUtf8(line.mid(from, line.indexOf('"', from) - from)));
    }
    return texts;
}

QString registryValue(const QString& name, const QString& key)
{
    QFile file(stateDir + QStringLiteral("/services/") + name.toLower() + QStringLiteral(".conf"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("<no entry>");
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(key.toUtf8() + '='))
            return QString::fromUtf8(line.mid(key.size() + 1));
    return QStringLiteral("<no key>");
}

// A started service gets the system's environment, not its starter's: its
// name goes into its entry, as an administrator sets a service's variables,
// with any other variables it is to have.
void giveServiceItsName(const QString& name, const QStringList& variables = {})
{
    QFile file(stateDir + QStringLiteral("/services/") + name.toLower() + QStringLiteral(".conf"));
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("environment=QUILLON_TEST_SERVICE_NAME=" + name.toUtf8() + "\n");
    for (const QString& variable : variables)
        file.write("environment=" + variable.toUtf8() + "\n");
}

// Polls "-v" until the service reads as running (or not), generously.
bool waitForRunning(const QString& executable, const QString& name, bool running)
{
    for (int i = 0; i < 600; ++i) {
        if (runProgram(executable, {QStringLiteral("-v")}, name).out == versionText(name, executable, true, running))
            return true;
        QThread::msleep(100);
    }
    return false;
}

bool waitForEvent(const QString& name, const QString& text)
{
    for (int i = 0; i < 600; ++i) {
        if (eventTexts(name).contains(text))
            return true;
        QThread::msleep(100);
    }
    return false;
}

class FrameworkServiceEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        QDir().mkpath(stateDir);
        // The service manager's view, polled from this process.
        ::setenv("QUILLON_STATE_DIR", stateDir.toLocal8Bit().constData(), 1);
    }
    // Whatever a failed step left behind: no service process outlives the test.
    void TearDown() override
    {
        for (const QString& name : {QStringLiteral("QuillonE2E"), QStringLiteral("QuillonE2ESpace"),
                                    QStringLiteral("QuillonE2EAccount"), QStringLiteral("QuillonE2EStates")}) {
            runProgram(program, {QStringLiteral("-t")}, name);
            runProgram(program, {QStringLiteral("-u")}, name);
        }
    }
};

TEST_F(FrameworkServiceEndToEnd, InstallStartControlStopUninstall)
{
    const QString name = QStringLiteral("QuillonE2E");
    runProgram(program, {QStringLiteral("-t")}, name);
    runProgram(program, {QStringLiteral("-u")}, name);

    ProgramOutcome outcome = runProgram(program, {QStringLiteral("-i")}, name);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.out, "The service QuillonE2E has been installed under: " + program.toStdString() + "\n");
    EXPECT_EQ(registryValue(name, QStringLiteral("type")), QStringLiteral("272")); // 0x110
    giveServiceItsName(name);

    outcome = runProgram(program, {QStringLiteral("-i")}, name);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.err, "The service QuillonE2E is already installed\n");

    EXPECT_EQ(runProgram(program, {QStringLiteral("-v")}, name).out, versionText(name, program, true, false));

    // From a console without an option: the manager starts the service in a
    // process of its own and the launch returns at once.
    outcome = runProgram(program, {}, name);
    EXPECT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(outcome.out + outcome.err, "");
    ASSERT_TRUE(waitForRunning(program, name, true));
    ASSERT_TRUE(waitForEvent(name, QStringLiteral("started")));

    outcome = runProgram(program, {QStringLiteral("-c"), QStringLiteral("5")}, name);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_TRUE(waitForEvent(name, QStringLiteral("command 5")));

    // Not pausable: refused, silently.
    outcome = runProgram(program, {QStringLiteral("-p")}, name);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.out + outcome.err, "");

    // Starting it again through the manager fails: it runs.
    outcome = runProgram(program, {QStringLiteral("-Start")}, name);
    EXPECT_EQ(outcome.exitCode, 252);
    EXPECT_EQ(outcome.err, "The service QuillonE2E could not start\n");

    outcome = runProgram(program, {QStringLiteral("-t")}, name);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.out + outcome.err, "");
    EXPECT_TRUE(eventTexts(name).contains(QStringLiteral("stopped")));
    EXPECT_EQ(runProgram(program, {QStringLiteral("-v")}, name).out, versionText(name, program, true, false));

    // A command to a stopped service is not sent.
    outcome = runProgram(program, {QStringLiteral("-c"), QStringLiteral("6")}, name);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.out + outcome.err, "");
    EXPECT_FALSE(eventTexts(name).contains(QStringLiteral("command 6")));

    // Stopping a stopped service: the "stopping" warning, then the message.
    outcome = runProgram(program, {QStringLiteral("-t")}, name);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_NE(outcome.err.find("stopping"), std::string::npos) << outcome.err;
    EXPECT_NE(outcome.err.find("The service could not be stopped."), std::string::npos) << outcome.err;

    outcome = runProgram(program, {QStringLiteral("-u")}, name);
    EXPECT_EQ(outcome.exitCode, 0);
    EXPECT_EQ(outcome.out, "The service QuillonE2E has been uninstalled.\n");
    outcome = runProgram(program, {QStringLiteral("-u")}, name);
    EXPECT_EQ(outcome.err, "The service QuillonE2E is not installed\n");
    EXPECT_EQ(runProgram(program, {QStringLiteral("-v")}, name).out, versionText(name, program, false, false));
}

TEST_F(FrameworkServiceEndToEnd, PathWithASpaceIsRegisteredQuotedAndStillStarts)
{
    const QString name = QStringLiteral("QuillonE2ESpace");
    const QString dir = scratch + QStringLiteral("/dir with space");
    QDir().mkpath(dir);
    // The program finds the service manager layer beside itself.
    const QString copy = dir + QStringLiteral("/quillon_test_service");
    QFile::remove(copy);
    ASSERT_TRUE(QFile::copy(program, copy));
    for (const char* file : {"/libquillon_advapi32.so", "/libquillon_kernel32.so"}) {
        const QString library = QLatin1String(file);
        QFile::remove(dir + library);
        ASSERT_TRUE(QFile::link(QFileInfo(program).absolutePath() + library, dir + library));
    }
    runProgram(copy, {QStringLiteral("-t")}, name);
    runProgram(copy, {QStringLiteral("-u")}, name);

    ProgramOutcome outcome = runProgram(copy, {QStringLiteral("-i")}, name);
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    // The message shows the plain path; the entry holds it in quotes.
    EXPECT_EQ(outcome.out, "The service QuillonE2ESpace has been installed under: " + copy.toStdString() + "\n");
    EXPECT_EQ(registryValue(name, QStringLiteral("commandLine")), QLatin1Char('"') + copy + QLatin1Char('"'));
    giveServiceItsName(name);

    EXPECT_EQ(runProgram(copy, {}, name).exitCode, 0);
    EXPECT_TRUE(waitForRunning(copy, name, true));
    EXPECT_EQ(runProgram(copy, {QStringLiteral("-t")}, name).exitCode, 0);
    EXPECT_EQ(runProgram(copy, {QStringLiteral("-u")}, name).exitCode, 0);
}

TEST_F(FrameworkServiceEndToEnd, AccountRulesReachTheRegistry)
{
    const QString name = QStringLiteral("QuillonE2EAccount");
    const struct {
        QStringList arguments;
        const char* type;
        const char* account;
    } cases[] = {
        {{"-i"}, "272", ""},
        {{"-i", "LocalSystem", "pw"}, "272", ""},
        {{"-i", "NT AUTHORITY\\LocalSystem", "pw"}, "272", ""},
        {{"-i", "root", "pw"}, "16", ".\\\\root"},
    };
    for (const auto& c : cases) {
        runProgram(program, {QStringLiteral("-u")}, name);
        const ProgramOutcome outcome = runProgram(program, c.arguments, name);
        const std::string label = c.arguments.join(' ').toStdString();
        EXPECT_EQ(outcome.exitCode, 0) << label << outcome.err;
        EXPECT_EQ(registryValue(name, QStringLiteral("type")), QString::fromLatin1(c.type)) << label;
        const QString account = registryValue(name, QStringLiteral("account"));
        if (*c.account == 0) {
            EXPECT_TRUE(account.isEmpty() || account == QStringLiteral("<no key>")) << label << account.toStdString();
        } else {
            EXPECT_EQ(account, QString::fromLatin1(c.account)) << label;
        }
    }
    runProgram(program, {QStringLiteral("-u")}, name);
}

// What the service manager shows of a start, polled every 2 ms as a monitor
// polls it: start-pending until the service's start has returned, and a
// start that failed, or that a stop ended, never reads as running.
TEST_F(FrameworkServiceEndToEnd, StartPendingLastsAsLongAsStart)
{
    using quillon::testing::StatusPoller;
    const QString name = QStringLiteral("QuillonE2EStates");
    enum class Then { StopOnceRunning, StopWhileStarting, Nothing };
    const struct {
        const char* label;
        QStringList variables;
        Then then;
        std::vector<DWORD> states;
        DWORD win32;
        DWORD specific;
    } cases[] = {
        // A stop that takes a moment, so that a poll sees it stop-pending.
        {"a start that takes 1.5 s", {"QUILLON_TEST_START_MS=1500", "QUILLON_TEST_STOP_MS=300"}, Then::StopOnceRunning,
         {SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOPPED}, 0, 0},
        {"a stop while start runs", {"QUILLON_TEST_START_MS=600000", "QUILLON_TEST_STOP_MS=300"},
         Then::StopWhileStarting,
         {SERVICE_START_PENDING, SERVICE_STOP_PENDING, SERVICE_STOPPED}, 0, 0},
        {"a start that fails with 3", {"QUILLON_TEST_START_MS=300", "QUILLON_TEST_START_FAILS=3"}, Then::Nothing,
         {SERVICE_START_PENDING, SERVICE_STOPPED}, ERROR_SERVICE_SPECIFIC_ERROR, 3},
    };
    for (const auto& c : cases) {
        runProgram(program, {QStringLiteral("-u")}, name);
        ASSERT_EQ(runProgram(program, {QStringLiteral("-i")}, name).exitCode, 0) << c.label;
        giveServiceItsName(name, c.variables);
        const StatusPoller poller(name.toStdU16String());
        const ProgramOutcome started = runProgram(program, {}, name);
        ASSERT_EQ(started.exitCode, 0) << c.label << started.err;
        if (c.then == Then::StopOnceRunning) {
            ASSERT_TRUE(poller.waitFor(SERVICE_RUNNING, SERVICE_START_PENDING, std::chrono::seconds(60))) << c.label;
        } else if (c.then == Then::StopWhileStarting) {
            ASSERT_TRUE(waitForEvent(name, QStringLiteral("started"))) << c.label;
        }
        if (c.then != Then::Nothing) {
            const ProgramOutcome stopped = runProgram(program, {QStringLiteral("-t")}, name);
            EXPECT_EQ(stopped.exitCode, 0) << c.label;
            EXPECT_EQ(stopped.out + stopped.err, "") << c.label;
        }
        ASSERT_TRUE(poller.waitFor(SERVICE_STOPPED, SERVICE_START_PENDING, std::chrono::seconds(60))) << c.label;
        const auto changes = poller.changes();
        const auto states = quillon::testing::statesSince(changes, SERVICE_START_PENDING);
        EXPECT_EQ(states, c.states) << c.label << ": " << quillon::testing::stateNames(states);
        EXPECT_EQ(changes.back().win32ExitCode, c.win32) << c.label;
        EXPECT_EQ(changes.back().specificExitCode, c.specific) << c.label;
    }
    runProgram(program, {QStringLiteral("-u")}, name);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    program = QString::fromStdString(quillon::testing::trustedCopyOf(TEST_SERVICE_PATH, {"libquillon_advapi32.so"}));
    scratch = QString::fromStdString(quillon::testing::trustedScratchFolder());
    stateDir = scratch + QStringLiteral("/state");
    return RUN_ALL_TESTS();
}
