#include "supervisor_fixture.h"

#include <QDir>
#include <algorithm>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <cstdlib>

namespace {

QMutex capturedLock;
std::vector<CapturedMessage> captured;

void captureMessage(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    QMutexLocker locker(&capturedLock);
    captured.push_back({type, text});
}

int appArgc = 1;
char appName[] = "supervisor_tests";
char* appArgv[] = {appName, nullptr};

// Java 17 warns on standard error that it ignores "--illegal-access=warn",
// one of the fixed arguments: every start relays that warning, which the
// tests leave aside.
bool isJvmArgumentWarning(const QString& text)
{
    return text.contains(QLatin1String("Ignoring option --illegal-access"));
}

} // namespace

TestService::TestService(int argc, char** argv, const QString& programDir)
    : FerrowService(argc, argv, QStringLiteral("Quillon"))
    , dir(programDir)
{
}

void SupervisorTest::SetUp()
{
    ASSERT_TRUE(root.isValid());
    programDir = root.filePath(QStringLiteral("program"));
    stateDir = root.filePath(QStringLiteral("state"));
    runsDir = root.filePath(QStringLiteral("runs"));
    ASSERT_TRUE(QDir().mkpath(programDir));
    ASSERT_TRUE(QDir().mkpath(runsDir));
    ASSERT_TRUE(QFile::copy(QStringLiteral(QUILLON_STANDIN_JAR), programDir + "/quillon.jar"));
    ::setenv("QUILLON_STATE_DIR", stateDir.toLocal8Bit().constData(), 1);
    ::setenv("QUILLON_STANDIN_DIR", runsDir.toLocal8Bit().constData(), 1);
    ::unsetenv("QUILLON_STANDIN");
    {
        QMutexLocker locker(&capturedLock);
        captured.clear();
    }
    qInstallMessageHandler(captureMessage);
    app = std::make_unique<QCoreApplication>(appArgc, appArgv);
}

void SupervisorTest::TearDown()
{
    currentService.reset();
    app.reset();
    qInstallMessageHandler(nullptr);
    ::unsetenv("QUILLON_STANDIN");
    ::unsetenv("QUILLON_STANDIN_DIR");
    ::unsetenv("QUILLON_STATE_DIR");
}

void SupervisorTest::script(const QString& scripts)
{
    ::setenv("QUILLON_STANDIN", scripts.toUtf8().constData(), 1);
}

QString SupervisorTest::localRuntimePath() const
{
    return programDir + QStringLiteral("/Java/bin/java");
}

void SupervisorTest::addLocalRuntime()
{
    const QString realJava =
        QFileInfo(QStandardPaths::findExecutable(QStringLiteral("java"))).canonicalFilePath();
    ASSERT_FALSE(realJava.isEmpty()) << "no java on the search path";
    ASSERT_TRUE(QDir().mkpath(programDir + QStringLiteral("/Java/bin")));
    QFile wrapper(localRuntimePath());
    ASSERT_TRUE(wrapper.open(QIODevice::WriteOnly));
    const QString body = QStringLiteral("#!/bin/sh\n"
                                        "printf '%s\\n' \"$0\" \"$@\" > '%1'\n"
                                        "exec '%2' \"$@\"\n")
                             .arg(root.filePath(QStringLiteral("runtime-args")), realJava);
    wrapper.write(body.toUtf8());
    wrapper.close();
    ASSERT_TRUE(wrapper.setPermissions(wrapper.permissions() | QFileDevice::ExeOwner
                                       | QFileDevice::ExeGroup | QFileDevice::ExeOther));
}

QStringList SupervisorTest::localRuntimeArguments() const
{
    QFile file(root.filePath(QStringLiteral("runtime-args")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

SupervisorLimits SupervisorTest::testLimits() const
{
    SupervisorLimits limits;
    limits.startupWaitMs = 60000; // a minute, for a JVM on a busy machine
    limits.stopTimeoutMs = 30000;
    return limits;
}

TestService& SupervisorTest::makeService(Mode mode, const SupervisorLimits& limits)
{
    argStorage = {QByteArray("quillonsvc")};
    if (mode == Mode::Console)
        argStorage.push_back(QByteArray("-e"));
    argPointers.clear();
    for (QByteArray& arg : argStorage)
        argPointers.push_back(arg.data());
    argPointers.push_back(nullptr);
    currentService = std::make_unique<TestService>(int(argStorage.size()), argPointers.data(), programDir);
    currentService->setLimits(limits);
    return *currentService;
}

int SupervisorTest::run(const std::function<void()>& afterStart)
{
    TestService* current = currentService.get();
    QTimer::singleShot(0, app.get(), [current, afterStart] {
        current->start();
        if (afterStart)
            afterStart();
    });
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    watchdog.start(150000);
    return current->runApplication();
}

bool SupervisorTest::waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    while (!condition()) {
        if (waited.hasExpired(timeoutMs))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

std::vector<EventLogEntry> SupervisorTest::entries() const
{
    std::vector<EventLogEntry> all = readEventLog(stateDir, QStringLiteral("Quillon"));
    all.erase(std::remove_if(all.begin(), all.end(),
                             [](const EventLogEntry& e) { return isJvmArgumentWarning(e.text); }),
              all.end());
    return all;
}

std::vector<CapturedMessage> SupervisorTest::messages() const
{
    QMutexLocker locker(&capturedLock);
    std::vector<CapturedMessage> all;
    for (const CapturedMessage& message : captured) {
        if (!isJvmArgumentWarning(message.text))
            all.push_back(message);
    }
    return all;
}

QStringList SupervisorTest::messageTexts(QtMsgType type) const
{
    QStringList texts;
    for (const CapturedMessage& message : messages()) {
        if (message.type == type)
            texts << message.text;
    }
    return texts;
}

StandinRun SupervisorTest::standinRun(int run) const
{
    StandinRun result;
    const QString path = runsDir + QStringLiteral("/run-%1").arg(run);
    waitUntil([&] {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n');
        if (!lines.contains(QStringLiteral("end")))
            return false;
        for (const QString& line : lines) {
            if (line.startsWith(QLatin1String("pid=")))
                result.pid = line.mid(4).toLongLong();
            else if (line.startsWith(QLatin1String("cwd=")))
                result.workingDirectory = line.mid(4);
            else if (line.startsWith(QLatin1String("encoding=")))
                result.fileEncoding = line.mid(9);
        }
        return true;
    });
    return result;
}

bool SupervisorTest::processGone(qint64 pid, int timeoutMs)
{
    return waitUntil(
        [pid] {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
            if (!stat.open(QIODevice::ReadOnly))
                return true;
            // A zombie has ended; only its parent has not collected it yet.
            const QByteArray fields = stat.readAll();
            const int close = fields.lastIndexOf(')');
            return close >= 0 && fields.mid(close + 2, 1) == "Z";
        },
        timeoutMs);
}

qint64 SupervisorTest::spawnedBy(int run) const
{
    QFile file(runsDir + QStringLiteral("/spawned-%1").arg(run));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.readAll().trimmed().toLongLong();
}

QStringList SupervisorTest::commandLine(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList parts;
    for (const QByteArray& part : file.readAll().split('\0'))
        parts << QString::fromLocal8Bit(part);
    if (!parts.isEmpty() && parts.last().isEmpty())
        parts.removeLast();
    return parts;
}
