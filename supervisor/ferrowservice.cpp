#include "ferrowservice.h"

#include <QCoreApplication>
#include <QDebug>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <cstring>

#include "platform/executable_suffix.h"

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
            [this](int exitCode, QProcess::ExitStatus) { frwHasFinished(exitCode); });
}

FerrowService::~FerrowService()
{
    // The slots must not run on a half-destroyed service while the process ends.
    QObject::disconnect(&javaProcess, nullptr, this, nullptr);
    if (javaProcess.state() != QProcess::NotRunning) {
        javaProcess.kill();
        javaProcess.waitForFinished(limits.killWaitMs);
    }
}

QString FerrowService::programDirectory() const
{
    return QCoreApplication::applicationDirPath();
}

void FerrowService::start()
{
    struct StartScope {
        int& depth;
        explicit StartScope(int& d) : depth(d) { ++depth; }
        ~StartScope() { --depth; }
        StartScope(const StartScope&) = delete;
        StartScope& operator=(const StartScope&) = delete;
    } scope(startDepth);

    QString program = QStringLiteral("java");
    appDirPath = programDirectory();
    QStringList arguments;

    const QFileInfo localJava(QStringLiteral("%1/Java/bin/java").arg(appDirPath)
                              + QString::fromLatin1(quillon::platform::executableSuffix()));
    if (localJava.exists() && localJava.isExecutable()) {
        program = localJava.canonicalFilePath();
        if (!serviceMode)
            qWarning() << "INFO:" << "Using Quillon Java: " << program;
        arguments << QStringLiteral("-Dfile.encoding=UTF8");
    }

    const QString archive = QStringLiteral("%1/quillon.jar").arg(appDirPath);
    logMessage(tr("Service %1 is starting up").arg(serviceDescription()), LogSuccess, 0, 0);

    arguments << QStringLiteral("-Xms1024m")
              << QStringLiteral("--add-opens=java.base/jdk.internal.loader=ALL-UNNAMED")
              << QStringLiteral("--add-opens=java.base/jdk.internal.misc=ALL-UNNAMED")
              << QStringLiteral("--illegal-access=warn")
              << QStringLiteral("-Dio.netty.tryReflectionSetAccessible=true")
              << QStringLiteral("-cp") << archive << QString::fromLatin1(kMainClass);

    javaProcess.setWorkingDirectory(appDirPath);
    javaProcess.setProcessChannelMode(QProcess::SeparateChannels);
    javaProcess.start(program, arguments, QIODevice::ReadWrite);

    startupCompleted = false;
    shutdownCompleted = false;
    quitSent = false;

    javaRunning = true;
    if (!javaProcess.waitForStarted(limits.processStartTimeoutMs)) {
        reportFailure(tr("Unable to start up service: %1").arg(javaProcess.errorString()));
        javaRunning = false;
    } else {
        logMessage(tr("%1 startup java Process ok ").arg(serviceDescription()), LogSuccess, 0, 0);
        // A stop that arrives meanwhile has shut Java down: nothing is left to wait for.
        for (int pass = 0; pass < limits.startupWaitPasses && javaRunning && !startupCompleted
                           && !stopRequested;
             ++pass) {
            waitPass();
        }
        if (startupCompleted)
            javaRunning = true;
    }

    // Start-up cut short by a stop is no failure: the stop has ended the loop.
    if (!stopRequested && (!javaRunning || shutdownCompleted)) {
        if (serviceMode) {
            logMessage(tr("Unable to start up service: %1").arg(javaProcess.errorString()), LogError,
                       kStartupFailureEventId, kStartupFailureCategory);
        } else {
            qDebug() << "Unable to start up";
        }
        endEventLoop(kJavaFailedExitCode);
    }
}

void FerrowService::stop()
{
    stopRequested = true;
    shutdownJava();
    // A failure that already ended the loop keeps its exit code.
    QCoreApplication::exit(failureExitCode);
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
        // The restart waits and starts a new process on the same process
        // object: it must not run inside that object's own signal, so it runs
        // as soon as control is back in an event loop or one of our waits.
        if (!restartPending) {
            restartPending = true;
            QTimer::singleShot(0, this, &FerrowService::restartJava);
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

void FerrowService::frwHasFinished(int exitStatus)
{
    shutdownCompleted = true;
    if (exitStatus != 0)
        javaRunning = false;
    if (javaExitExpected())
        return;

    // The Java application ended on its own while the service runs: the
    // service has nothing left to run, so it ends and says why.
    const QString text = tr("%1 Java process ended unexpectedly with exit code %2")
                             .arg(serviceDescription())
                             .arg(exitStatus);
    logMessage(text, LogError, 0, 0);
    if (!serviceMode)
        qWarning() << "ERROR:" << text;
    endEventLoop(exitStatus != 0 ? exitStatus : kJavaFailedExitCode);
}

void FerrowService::restartJava()
{
    if (stopRequested) {
        restartPending = false;
        return;
    }
    shutdownJava();
    awaitPreviousJavaEnd();
    restartPending = false;
    if (stopRequested)
        return;
    start();
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
    javaProcess.kill();
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
    if (failureExitCode == 0)
        failureExitCode = exitCode;
    QCoreApplication::exit(exitCode);
}

bool FerrowService::javaExitExpected() const
{
    return startDepth > 0 || quitSent || restartPending || stopRequested;
}
