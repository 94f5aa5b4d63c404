// The service proper of quillonsvc: runs the Quillon Java application as a
// child process, relays its console, follows its markers, restarts and stops it.
#pragma once

#include <QObject>
#include <QString>

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
    void stop() override;
    void shutdownJava();

public slots:
    void printStdOut();
    void printStdErrorOut();
    void frwHasFinished(int exitStatus);

protected:
    // The directory that holds quillonsvc, quillon.jar and the local runtime.
    virtual QString programDirectory() const;

private:
    void restartJava();
    void awaitPreviousJavaEnd();
    void waitPass() const;
    void killJava(const QString& reason);
    void reportFailure(const QString& text);
    void endEventLoop(int exitCode);
    bool javaExitExpected() const;

    JavaProcess javaProcess;
    QString appDirPath;
    bool startupCompleted = false;
    bool shutdownCompleted = false;
    bool serviceMode = true;
    bool javaRunning = false;

    SupervisorLimits limits;
    // Inside start(): the Java process's end is start-up's own business.
    int startDepth = 0;
    // The quit command went to the current Java process, or it was killed.
    bool quitSent = false;
    bool restartPending = false;
    bool stopRequested = false;
    // Non-zero once the event loop was told to end with a failure.
    int failureExitCode = 0;
};
