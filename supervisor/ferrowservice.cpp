#include "ferrowservice.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <cstring>

#include "java_command_line.h"
#include "platform/program_files.h"

namespace {

const char kStartupMarker[] = "###QUILLSTARTUPCOMP###";
const char kShutdownMarker[] = "###QUILLSHUTDOWNCOMP###";
const char kRestartMarker[] = "###QUILLRESTART###";
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

void FerrowService::start()
{
    runJavaLoop(false);
}

// The one place that starts Java processes. A restart asked for at any
// moment (in a start-up wait, in a restart's shut-down wait, while Java
// runs) is carried out by this loop, never by a start nested in a wait, so
// any number of restarts leaves the stack as it was.
void FerrowService::runJavaLoop(bool restartFirst)
{
    bool restart = restartFirst;
    for (;;) {
        if (restart) {
            phase = Phase::Restarting;
            shutdownJava();
            awaitPreviousJavaEnd();
        }
        if (phase == Phase::Stopping || phase == Phase::Failed)
            return;
        if (!launchJava())
            return;
        if (phase != Phase::RestartRequested)
            return;
        restart = true;
    }
}

void FerrowService::startRequestedRestart()
{
    // A stop that came meanwhile has already ended the restart's Java.
    if (phase == Phase::RestartRequested)
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
        endEventLoop(kJavaFailedExitCode);
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
    if (!javaProcess.waitForStarted(limits.processStartTimeoutMs)) {
        reportFailure(tr("Unable to start up service: %1").arg(javaProcess.errorString()));
        javaRunning = false;
    } else {
        logMessage(tr("%1 startup java Process ok ").arg(serviceDescription()), LogSuccess, 0, 0);
        // The service counts as up once a Java process runs, so that a stop
        // is accepted during the start-up wait and the restarts.
        reportStarted();
        // A stop or a restart request ends the wait: both shut this Java down.
        for (int pass = 0; pass < limits.startupWaitPasses && javaRunning && !startupCompleted
                           && phase == Phase::StartingUp;
             ++pass) {
            waitPass();
        }
        if (startupCompleted)
            javaRunning = true;
    }

    if (phase != Phase::StartingUp)
        return true;
    if (!javaRunning || shutdownCompleted) {
        if (serviceMode) {
            logMessage(tr("Unable to start up service: %1").arg(javaProcess.errorString()), LogError,
                       kStartupFailureEventId, kStartupFailureCategory);
        } else {
            qDebug() << "Unable to start up";
        }
        endEventLoop(kJavaFailedExitCode);
        return false;
    }
    phase = Phase::Running;
    return true;
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
            QThread::msleep(static_cast<unsigned long>(limits.quitPauseMs));
        }
        QElapsedTimer waited;
        waited.start();
        while (!shutdownCompleted) {
            if (waited.hasExpired(limits.stopTimeoutMs)) {
                killJava(tr("Service %1 did not shut down within %2 s; its Java process was killed.")
                             .arg(serviceDescription())
                             .arg(limits.stopTimeoutMs / 1000.0));
                // Only a stop ends the run; a restart goes on with a new Java.
                if (phase == Phase::Stopping)
                    endEventLoop(kJavaKilledExitCode);
                break;
            }
            waitPass();
        }
    }
    logMessage(tr("Service %1 succesfully stopped.").arg(serviceDescription()), LogSuccess, 0, 0);
}

void FerrowService::printStdOut()
{
    const QString text = QString::fromUtf8(javaProcess.readAllStandardOutput()).trimmed();
    if (text.contains(QLatin1String(kStartupMarker))) {
        startupCompleted = true;
        logMessage(tr("%1 startup completed").arg(serviceDescription()), LogSuccess, 0, 0);
    } else if (text.contains(QLatin1String(kShutdownMarker))) {
        shutdownCompleted = true;
        logMessage(tr("%1 shutdown completed").arg(serviceDescription()), LogSuccess, 0, 0);
    } else if (text.contains(QLatin1String(kRestartMarker))) {
        logMessage(tr("%1 do restart").arg(serviceDescription()), LogSuccess, 0, 0);
        // In a start-up wait the restart loop is already there to take it; a
        // restart under way or a stop leaves nothing to do. While Java runs,
        // the loop is entered from the event loop, never inside this signal.
        if (phase == Phase::StartingUp) {
            phase = Phase::RestartRequested;
        } else if (phase == Phase::Running) {
            phase = Phase::RestartRequested;
            QTimer::singleShot(0, this, &FerrowService::startRequestedRestart);
        }
    } else if (!serviceMode) {
        qDebug().noquote() << text;
    }
}

void FerrowService::printStdErrorOut()
{
    const QByteArray bytes = javaProcess.readAllStandardError();
    if (serviceMode)
        logMessage(QString::fromUtf8(bytes), LogError, 0, 0);
    else
        qWarning() << "ERROR:" << bytes;
}

void FerrowService::javaFinished(int exitCode, QProcess::ExitStatus status)
{
    javaCrashed = status == QProcess::CrashExit;
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
    QElapsedTimer waited;
    waited.start();
    while (javaProcess.state() != QProcess::NotRunning
           && !waited.hasExpired(limits.previousExitTimeoutMs)) {
        waitPass();
    }
    if (javaProcess.state() != QProcess::NotRunning) {
        killJava(tr("%1 Java process did not end after its shut-down; it was killed.")
                     .arg(serviceDescription()));
    }
}

void FerrowService::waitPass() const
{
    QCoreApplication::processEvents();
    QThread::msleep(static_cast<unsigned long>(limits.passSleepMs));
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

void FerrowService::endEventLoop(int exitCode)
{
    if (phase != Phase::Stopping)
        phase = Phase::Failed;
    if (failureExitCode == 0)
        failureExitCode = exitCode;
    QCoreApplication::exit(failureExitCode);
}
