// The service proper of quillonsvc: runs the Quillon Java application as a
// child process, relays its console, follows its markers, restarts and stops it.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

#include "javaprocess.h"
#include "servicebase.h"
#include "supervisor_limits.h"

class FerrowService : public QObject, public QtService<QCoreApplication>
{
    Q_OBJECT
public:
    FerrowService(int argc, char** argv, const QString& name);
    ~FerrowService() override;

    // Tests and benchmarks shorten the waits; the program keeps the defaults.
    void setLimits(const SupervisorLimits& newLimits) { limits = newLimits; }

    void start() override;
    // A second stop while the first still waits for Java ends it at once.
    void stop() override;
    void shutdownJava();

public slots:
    void printStdOut();
    void printStdErrorOut();
    void frwHasFinished(int exitStatus);

protected:
    // The directory that holds quillonsvc, quillon.jar and the local runtime.
    virtual QString programDirectory() const;
    // The event loop's exit code, unless a failure chose one before.
    int runApplication() override;

private:
    // What the supervisor is doing with its Java application.
    enum class Phase {
        Idle,             // nothing started yet
        StartingUp,       // a Java process is in its start-up wait
        Running,          // Java has started up; its end would be unexpected
        RestartRequested, // Java asked for a restart that has not begun
        Restarting,       // the restart loop shuts the old Java down
        Stopping,         // a stop came; it wins over every restart
        Failed,           // the event loop was told to end with a failure
    };

    void runJavaLoop(bool restartFirst);
    void startRequestedRestart();
    bool launchJava();
    void awaitPreviousJavaEnd();
    void killJava(const QString& reason);
    void reportFailure(const QString& text);
    // Ends the run with exitCode (the first failure's code wins); a start
    // that failed tells the service framework so.
    void endEventLoop(int exitCode, bool startFailed = false);
    void failStartUp();
    void javaFinished(int exitCode, QProcess::ExitStatus status);
    void startupMarkerRead();
    void restartMarkerRead();
    void relayStandardError(const QByteArray& bytes);
    void flushStandardError();

    JavaProcess javaProcess;
    QString appDirPath;
    bool startupCompleted = false;
    bool shutdownCompleted = false;
    bool serviceMode = true;
    bool javaRunning = false;

    SupervisorLimits limits;
    Phase phase = Phase::Idle;
    // The quit command went to the current Java process, or it was killed.
    bool quitSent = false;
    // The current Java process ended by a crash rather than an exit.
    bool javaCrashed = false;
    // Non-zero once the run must end with a failure.
    int failureExitCode = 0;
    // Inside start: the service manager sees the service start-pending.
    bool starting = false;
    // The Java loop runs (a start or a restart under way).
    bool javaLoopActive = false;
    // The restart asked for came once the current Java had started up.
    bool restartAfterStartup = false;
    // The beginning of a line of standard error, waiting for its end.
    QByteArray standardErrorPending;
    QTimer partialLineTimer;
};
