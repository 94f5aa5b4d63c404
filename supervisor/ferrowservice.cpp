#include "ferrowservice.h"

#include <QCoreApplication>
#include <QDebug>
#include <QStringList>
#include <QTimer>
#include <cstring>

#include "event_wait.h"
#include "java_command_line.h"
#include "markers.h"
#include "platform/memory_reuse.h"
#include "platform/program_files.h"

namespace {

const char kQuitCommand[] = "QUIT\n";
const char kMainClass[] = "quillon.core.Bootstrap";

constexpr int kStartupFailureEventId = 1005;
constexpr uint kStartupFailureCategory = 1;

// Exit code of the event loop when the Java application could not be started;
// a Java process that ends by itself yields its own exit code, or this one
// when that was 0.
constexpr int kJavaFailedExitCode = 1;
// Exit code of a stop that had to kill the Java process: not a clean stop.
constexpr int kJavaKilledExitCode = 2;

// The run's exit code for a Java process that ended by itself. -1 would read
// as "no application" to the foreground run, and is what Java's exit(-1)
// gives on Windows; Linux reports the same exit as 255, so both say 255.
int exitCodeForJavaEnd(int javaExitCode)
{
    if (javaExitCode == 0)
        return kJavaFailedExitCode;
    if (javaExitCode == -1)
        return 255;
    return javaExitCode;
}

bool isExecOption(const char* argument)
{
    return std::strcmp(argument, "-e") == 0 || std::strcmp(argument, "-exec") == 0;
}

} // namespace

FerrowService::FerrowService(int argc, char** argv, const QString& name)
    : QObject()
    , QtService<QCoreApplication>(argc, argv, name)
{
    serviceMode = true;
    setServiceDescription(name);
    setStartupMode(AutomaticStart);
    setFlags(0);
    for (int i = 0; i < argc; ++i) {
        if (argv[i] != nullptr && isExecOption(argv[i]))
            serviceMode = false;
    }

    // Connected once here, so that each signal reaches its slot once however
    // often start() runs on the same process object.
    connect(&javaProcess, &QProcess::readyReadStandardError, this, &FerrowService::printStdErrorOut);
    connect(&javaProcess, &QProcess::readyReadStandardOutput, this, &FerrowService::printStdOut);
    connect(&javaProcess, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &FerrowService::javaFinished);
    partialLineTimer.setSingleShot(true);
    connect(&partialLineTimer, &QTimer::timeout, this, &FerrowService::flushStandardError);
    // Every read of the JVM's output allocates and frees buffers of up to a
    // few hundred KiB; given back to the system each time, they would be
    // faulted in anew at every read and slow the relay several times over.
    quillon::platform::keepFreedMemoryForReuse();
}

FerrowService::~FerrowService()
{
    // The slots must not run on a half-destroyed service while the process ends.
    QObject::disconnect(&javaProcess, nullptr, this, nullptr);
    if (javaProcess.state() != QProcess::NotRunning) {
        javaProcess.killTree();
        javaProcess.waitForFinished(limits.killWaitMs);
    }
}

QString FerrowService::programDirectory() const
{
    // The folder as the system names it; empty when it has no faithful text
    // form (launchJava then says why).
    return quillon::platform::runningProgramFolder().path;
}

int FerrowService::runApplication()
{
    const int loopExitCode = QtService<QCoreApplication>::runApplication();
    return failureExitCode != 0 ? failureExitCode : loopExitCode;
}

// Returns once the Java application has started up (its marker, or the
// whole start-up wait without it), has failed to, or a stop came: under the
// service manager the service is start-pending until then.
void FerrowService::start()
{
    starting = true;
    runJavaLoop(false);
    starting = false;
}

// The one place that starts Java processes. A restart asked for in a start-up
// wait before the marker, or in a restart's shut-down wait, is carried out by
// this loop, never by a start nested in a wait, so any number of restarts
// leaves the stack as it was. A restart asked for once Java has started up
// is entered from the event loop; so a start-up marker and a restart marker
// in one read first end start (the service runs), then restart.
void FerrowService::runJavaLoop(bool restartFirst)
{
    javaLoopActive = true;
    bool restart = restartFirst;
    for (;;) {
        if (restart) {
            phase = Phase::Restarting;
            shutdownJava();
            awaitPreviousJavaEnd();
        }
        if (phase == Phase::Stopping || phase == Phase::Failed || !launchJava()
            || phase != Phase::RestartRequested)
            break;
        if (restartAfterStartup) {
            QTimer::singleShot(0, this, &FerrowService::startRequestedRestart);
            break;
        }
        restart = true;
    }
    javaLoopActive = false;
}

void FerrowService::startRequestedRestart()
{
    // A stop that came meanwhile has already ended the restart's Java.
    if (phase == Phase::RestartRequested && !javaLoopActive)
        runJavaLoop(true);
}

bool FerrowService::launchJava()
{
    appDirPath = programDirectory();
    const JavaCommandLine java = javaCommandLine(appDirPath);
    // Nothing is run (or loaded: the event log's library lies there too)
    // from a folder or of a file that cannot be used: a failed start,
    // reported once, with the reason.
    if (!java.refusal.isEmpty()) {
        reportFailure(tr("Unable to start up service: %1").arg(java.refusal));
        endEventLoop(kJavaFailedExitCode, starting);
        return false;
    }
    const QString program = java.program;
    QStringList arguments;
    if (java.localRuntime) {
        if (!serviceMode)
            qWarning() << "INFO:" << "Using Quillon Java: " << program;
        arguments << QStringLiteral("-Dfile.encoding=UTF8");
    }

    const QString archive = java.archive;
    logMessage(tr("Service %1 is starting up").arg(serviceDescription()), LogSuccess, 0, 0);

    arguments << QStringLiteral("-Xms1024m")
              << QStringLiteral("--add-opens=java.base/jdk.internal.loader=ALL-UNNAMED")
              << QStringLiteral("--add-opens=java.base/jdk.internal.misc=ALL-UNNAMED")
              << QStringLiteral("--illegal-access=warn")
              << QStringLiteral("-Dio.netty.tryReflectionSetAccessible=true")
              << QStringLiteral("-cp") << archive << QString::fromLatin1(kMainClass);

    phase = Phase::StartingUp;
    javaProcess.setWorkingDirectory(java.workingDirectory);
    javaProcess.setProcessChannelMode(QProcess::SeparateChannels);
    javaProcess.start(program, arguments, QIODevice::ReadWrite);

    startupCompleted = false;
    shutdownCompleted = false;
    quitSent = false;
    javaCrashed = false;

    javaRunning = true;
    restartAfterStartup = false;
    if (!javaProcess.waitForStarted(limits.processStartTimeoutMs)) {
        reportFailure(tr("Unable to start up service: %1").arg(javaProcess.errorString()));
        javaRunning = false;
    } else {
        logMessage(tr("%1 startup java Process ok ").arg(serviceDescription()), LogSuccess, 0, 0);
        // The marker ends the wait (it starts the phase Running), and so do a
        // stop and a restart request: both shut this Java down.
        handleEventsUntil([this] { return !javaRunning || startupCompleted || phase != Phase::StartingUp; },
                          limits.passMs, limits.startupWaitMs);
        if (startupCompleted)
            javaRunning = true;
    }

    if (phase != Phase::StartingUp)
        return true;
    if (!javaRunning || shutdownCompleted) {
        failStartUp();
        return false;
    }
    // The whole wait without the marker: start-up counts as good.
    phase = Phase::Running;
    return true;
}

void FerrowService::failStartUp()
{
    if (serviceMode) {
        logMessage(tr("Unable to start up service: %1").arg(javaProcess.errorString()), LogError,
                   kStartupFailureEventId, kStartupFailureCategory);
    } else {
        qDebug() << "Unable to start up";
    }
    // Inside start the service has never run: under the service manager it
    // goes from start-pending to stopped. A restart's failure ends a service
    // that ran.
    endEventLoop(kJavaFailedExitCode, starting);
}

void FerrowService::stop()
{
    if (phase == Phase::Stopping) {
        // Asked again while the first stop still waits: no more waiting.
        if (javaProcess.state() != QProcess::NotRunning && !shutdownCompleted) {
            killJava(tr("Service %1 was asked again to stop; its Java process was killed.")
                         .arg(serviceDescription()));
            endEventLoop(kJavaKilledExitCode);
        }
        return;
    }
    phase = Phase::Stopping;
    shutdownJava();
    QCoreApplication::quit();
}

void FerrowService::shutdownJava()
{
    if (javaProcess.state() != QProcess::NotRunning && !shutdownCompleted) {
        // A stop that arrives while a restart is shutting Java down already
        // waits for the same end instead of sending a second quit command.
        if (!quitSent) {
            quitSent = true;
            logMessage(tr("Service %1 is going to shutdown.").arg(serviceDescription()),
                       LogInformation, 0, 0);
            javaProcess.write(kQuitCommand, qint64(sizeof kQuitCommand - 1));
            // The process object would send it only when events are next
            // handled; the pause that follows is meant for the Java side.
            javaProcess.waitForBytesWritten(1000);
            handleEventsFor(limits.passMs, limits.quitPauseMs);
        }
        if (!handleEventsUntil([this] { return shutdownCompleted; }, limits.passMs, limits.stopTimeoutMs)) {
            killJava(tr("Service %1 did not shut down within %2 s; its Java process was killed.")
                         .arg(serviceDescription())
                         .arg(limits.stopTimeoutMs / 1000.0));
            // Only a stop ends the run; a restart goes on with a new Java.
            if (phase == Phase::Stopping)
                endEventLoop(kJavaKilledExitCode);
        }
    }
    logMessage(tr("Service %1 succesfully stopped.").arg(serviceDescription()), LogSuccess, 0, 0);
}

// Every marker of a read is acted on, in the order they stand; a read that
// holds one is not forwarded.
void FerrowService::printStdOut()
{
    const QByteArray bytes = javaProcess.takeAvailable(QProcess::StandardOutput);
    const std::vector<Marker> markers = markersIn(bytes);
    if (markers.empty()) {
        // As qDebug() would pass it on, without the copy its stream makes.
        if (!serviceMode)
            qt_message_output(QtDebugMsg, QMessageLogContext(), textOfRead(bytes).trimmed());
        return;
    }
    for (const Marker marker : markers) {
        switch (marker) {
        case Marker::Startup: startupMarkerRead(); break;
        case Marker::Shutdown:
            shutdownCompleted = true;
            logMessage(tr("%1 shutdown completed").arg(serviceDescription()), LogSuccess, 0, 0);
            break;
        case Marker::Restart: restartMarkerRead(); break;
        }
    }
}

void FerrowService::startupMarkerRead()
{
    startupCompleted = true;
    logMessage(tr("%1 startup completed").arg(serviceDescription()), LogSuccess, 0, 0);
    // Start-up is complete at once, unless this Java has already said it shut
    // down or ended; what follows in the same read then finds it running.
    if (phase == Phase::StartingUp && !shutdownCompleted) {
        javaRunning = true;
        phase = Phase::Running;
    }
}

void FerrowService::restartMarkerRead()
{
    logMessage(tr("%1 do restart").arg(serviceDescription()), LogSuccess, 0, 0);
    // Before the start-up marker the loop in its start-up wait takes it; a
    // restart under way or a stop leaves nothing to do. Once Java has started
    // up, the loop is entered from the event loop, never inside this signal.
    if (phase == Phase::StartingUp) {
        phase = Phase::RestartRequested;
    } else if (phase == Phase::Running) {
        phase = Phase::RestartRequested;
        restartAfterStartup = true;
        if (!javaLoopActive)
            QTimer::singleShot(0, this, &FerrowService::startRequestedRestart);
    }
}

// Whole lines: what was read up to its last line end is one entry (or one
// warning); the beginning of a line waits for its end, briefly. Read as it
// comes, the JVM's own warnings would otherwise be cut in pieces.
void FerrowService::printStdErrorOut()
{
    standardErrorPending += javaProcess.takeAvailable(QProcess::StandardError);
    const int lineEnd = standardErrorPending.lastIndexOf('\n') + 1;
    const int cut = standardErrorPending.size() >= limits.longestHeldLine ? standardErrorPending.size() : lineEnd;
    if (cut > 0) {
        relayStandardError(standardErrorPending.left(cut));
        standardErrorPending.remove(0, cut);
    }
    if (standardErrorPending.isEmpty())
        partialLineTimer.stop();
    else if (!partialLineTimer.isActive())
        partialLineTimer.start(limits.partialLineWaitMs);
}

void FerrowService::flushStandardError()
{
    partialLineTimer.stop();
    if (standardErrorPending.isEmpty())
        return;
    relayStandardError(standardErrorPending);
    standardErrorPending.clear();
}

void FerrowService::relayStandardError(const QByteArray& bytes)
{
    if (serviceMode)
        logMessage(textOfRead(bytes), LogError, 0, 0);
    else
        qWarning() << "ERROR:" << bytes;
}

void FerrowService::javaFinished(int exitCode, QProcess::ExitStatus status)
{
    javaCrashed = status == QProcess::CrashExit;
    // Its last words come before what its end brings.
    standardErrorPending += javaProcess.takeAvailable(QProcess::StandardError);
    flushStandardError();
    // What the Java process started goes with it.
    javaProcess.endLeftovers();
    frwHasFinished(exitCode);
}

void FerrowService::frwHasFinished(int exitStatus)
{
    shutdownCompleted = true;
    if (exitStatus != 0 || javaCrashed)
        javaRunning = false;
    if (phase != Phase::Running)
        return;

    // The Java application ended on its own while the service runs: the
    // service has nothing left to run, so it ends and says why.
    const QString text =
        javaCrashed ? tr("%1 Java process crashed unexpectedly (exit code %2)")
                          .arg(serviceDescription())
                          .arg(exitStatus)
                    : tr("%1 Java process ended unexpectedly with exit code %2")
                          .arg(serviceDescription())
                          .arg(exitStatus);
    logMessage(text, LogError, 0, 0);
    if (!serviceMode)
        qWarning() << "ERROR:" << text;
    endEventLoop(exitCodeForJavaEnd(exitStatus));
}

void FerrowService::awaitPreviousJavaEnd()
{
    // The shut-down marker may come before the process has ended, and a
    // process object cannot start a new program while the old one runs.
    handleEventsUntil([this] { return javaProcess.state() == QProcess::NotRunning; }, limits.passMs,
                      limits.previousExitTimeoutMs);
    if (javaProcess.state() != QProcess::NotRunning) {
        killJava(tr("%1 Java process did not end after its shut-down; it was killed.")
                     .arg(serviceDescription()));
    }
}

void FerrowService::killJava(const QString& reason)
{
    quitSent = true;
    logMessage(reason, LogError, 0, 0);
    if (!serviceMode)
        qWarning() << "ERROR:" << reason;
    javaProcess.killTree();
    if (!javaProcess.waitForFinished(limits.killWaitMs)) {
        const QString stuck = tr("%1 Java process could not be ended: %2")
                                  .arg(serviceDescription(), javaProcess.errorString());
        logMessage(stuck, LogError, 0, 0);
        if (!serviceMode)
            qWarning() << "ERROR:" << stuck;
    }
    shutdownCompleted = true;
}

void FerrowService::reportFailure(const QString& text)
{
    if (serviceMode)
        logMessage(text, LogError, kStartupFailureEventId, kStartupFailureCategory);
    else
        qWarning() << "ERROR:" << text;
}

void FerrowService::endEventLoop(int exitCode, bool startFailed)
{
    if (phase != Phase::Stopping)
        phase = Phase::Failed;
    if (failureExitCode == 0)
        failureExitCode = exitCode;
    if (startFailed)
        failStart(failureExitCode);
    else
        QCoreApplication::exit(failureExitCode);
}
