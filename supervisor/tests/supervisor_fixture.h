// A program directory of its own for each test (the stand-in Java application
// as quillon.jar, optionally a local Java runtime), an event log of its own,
// the supervisor's console messages captured, and FerrowService run on a
// QCoreApplication the way the service framework runs it.
#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <ostream>
#include <vector>

#include "event_log_reader.h"
#include "ferrowservice.h"

// Texts in test failures as text.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

struct CapturedMessage
{
    QtMsgType type;
    QString text;
};

// What one run of the stand-in recorded about itself.
struct StandinRun
{
    qint64 pid = 0;
    QString workingDirectory;
    QString fileEncoding;
};

// FerrowService with its program directory moved to the test's own.
class TestService : public FerrowService
{
public:
    TestService(int argc, char** argv, const QString& programDir);

    // The event loop as the service framework runs it.
    using FerrowService::runApplication;

    // Where the stack stood at each start of a Java process (the program
    // directory is looked up once per start), innermost frame of ours.
    std::vector<quintptr> launchFrames() const { return frames; }

protected:
    QString programDirectory() const override
    {
        const char here = 0;
        frames.push_back(reinterpret_cast<quintptr>(&here));
        return dir;
    }

private:
    QString dir;
    mutable std::vector<quintptr> frames;
};

enum class Mode { Console, Service };

class SupervisorTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The stand-in's scripts, one per run, separated by '|'.
    void script(const QString& scripts);
    // Puts an executable "Java/bin/java" into the program directory that
    // records its arguments and runs the real java.
    void addLocalRuntime();
    QStringList localRuntimeArguments() const;
    QString localRuntimePath() const;

    // Short limits that keep the tests quick yet leave a loaded machine
    // ample time for the JVM to come up.
    SupervisorLimits testLimits() const;
    TestService& makeService(Mode mode, const SupervisorLimits& limits);
    TestService& makeService(Mode mode) { return makeService(mode, testLimits()); }

    // Runs the event loop, calls start once it runs and then afterStart;
    // returns the loop's exit code (99 when the watchdog ended it).
    int run(const std::function<void()>& afterStart = {});

    // Handles events until the condition holds; false after the time-out.
    static bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 60000);

    std::vector<EventLogEntry> entries() const;
    QStringList texts() const { return entryTexts(entries()); }
    bool hasEntry(const QString& text) const { return texts().contains(text); }

    std::vector<CapturedMessage> messages() const;
    QStringList messageTexts(QtMsgType type) const;

    // Waits for the stand-in's run record (0 = the first run).
    StandinRun standinRun(int run) const;
    static bool processGone(qint64 pid, int timeoutMs = 30000);
    // The process a run started with "spawn:" (0 when there is none yet).
    qint64 spawnedBy(int run) const;
    // The command line of a running process, argv[0] first.
    static QStringList commandLine(qint64 pid);

    // Below /tmp whatever TMPDIR says: run as root, the supervisor starts
    // Java only from a folder that only root can change, all the way up.
    QTemporaryDir root {QStringLiteral("/tmp/quillon-supervisor-XXXXXX")};
    QString programDir;
    QString stateDir;
    QString runsDir;

private:
    std::unique_ptr<QCoreApplication> app;
    std::vector<QByteArray> argStorage;
    std::vector<char*> argPointers;
    std::unique_ptr<TestService> currentService;
};

// Entry texts as the supervisor writes them for the service "Quillon".
namespace entry {
inline const QString startingUp = QStringLiteral("Service Quillon is starting up");
inline const QString processOk = QStringLiteral("Quillon startup java Process ok ");
inline const QString startupCompleted = QStringLiteral("Quillon startup completed");
inline const QString shutdownCompleted = QStringLiteral("Quillon shutdown completed");
inline const QString doRestart = QStringLiteral("Quillon do restart");
inline const QString goingToShutdown = QStringLiteral("Service Quillon is going to shutdown.");
inline const QString stopped = QStringLiteral("Service Quillon succesfully stopped.");
} // namespace entry
