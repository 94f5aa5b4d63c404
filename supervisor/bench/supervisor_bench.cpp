// Figures of the Java supervisor with the real JVM:
//  - start-up marker written by Java -> start() returned
//  - quit command -> end of the stop routine (stop)
//  - relay throughput of standard output (console mode), checked for loss,
//    in the same run before the start-up marker (inside the start-up wait)
//    and after it (in the event loop)
//  - resident memory and idle CPU of a running "quillonsvc -e"
// Usage: supervisor_bench [runs] [flood megabytes]
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <functional>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <unistd.h>
#include <vector>

#include "event_wait.h"
#include "ferrowservice.h"

namespace {

qint64 monotonicNs();

qint64 relayedPrintable = 0;
// The moment the count reached relayTarget (0 until then).
qint64 relayTarget = 0;
qint64 relayTargetReachedNs = 0;

void countMessage(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type != QtDebugMsg)
        return;
    for (const QChar c : text)
        relayedPrintable += c.isSpace() ? 0 : 1;
    if (relayTargetReachedNs == 0 && relayTarget > 0 && relayedPrintable >= relayTarget)
        relayTargetReachedNs = monotonicNs();
}

class BenchService : public FerrowService
{
public:
    BenchService(int argc, char** argv, QString dir)
        : FerrowService(argc, argv, QStringLiteral("Quillon"))
        , programDir(std::move(dir))
    {
    }

protected:
    QString programDirectory() const override { return programDir; }

private:
    QString programDir;
};

qint64 monotonicNs()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

qint64 readStamp(const QString& path)
{
    for (int i = 0; i < 2000; ++i) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray text = file.readAll();
            if (!text.isEmpty())
                return text.toLongLong();
        }
        QThread::msleep(5);
    }
    return -1;
}

// Handles events, as the service's event loop does once started, until the
// condition holds. (An event loop's exec would return at once in the runs
// after the first: each ends with a stop, which tells the application to quit.)
void waitFor(const std::function<bool()>& condition, int timeoutMs)
{
    handleEventsUntil(condition, 2, timeoutMs);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

struct RunFigures
{
    double markerToStartReturnMs = 0;
    double quitToStopEndMs = 0;
    double quitToJavaReadMs = 0;
    double relayBeforeMarkerMBps = 0;
    double relayAfterMarkerMBps = 0;
    bool relayWhole = true;
};

RunFigures oneRun(const QString& root, int run, qint64 floodBytes)
{
    const QString programDir = root + QStringLiteral("/program");
    const QString runsDir = root + QStringLiteral("/runs-%1").arg(run);
    QDir().mkpath(runsDir);
    ::setenv("QUILLON_STANDIN_DIR", runsDir.toLocal8Bit().constData(), 1);
    const qint64 lines = floodBytes / 64;
    // A flood in the start-up wait, the marker in a read of its own, then a
    // flood once Java runs.
    const QString script = QStringLiteral("stamp:early;flood:%1;sleep:300;stamp:marker;startup;sleep:300;"
                                          "stamp:flood;flood:%1;quit;stamp:quit;shutdown")
                               .arg(lines * 64);
    ::setenv("QUILLON_STANDIN", script.toUtf8().constData(), 1);

    char name[] = "quillonsvc";
    char exec[] = "-e";
    char* argv[] = {name, exec, nullptr};
    BenchService service(2, argv, programDir);

    RunFigures figures;
    const qint64 expected = lines * 63;
    relayedPrintable = 0;
    relayTarget = expected;
    relayTargetReachedNs = 0;
    service.start();
    const qint64 returned = monotonicNs();
    figures.markerToStartReturnMs = double(returned - readStamp(runsDir + "/marker")) / 1e6;
    figures.relayWhole = relayedPrintable == expected && relayTargetReachedNs != 0;
    figures.relayBeforeMarkerMBps =
        double(lines * 64) / (double(relayTargetReachedNs - readStamp(runsDir + "/early")) / 1e9) / 1e6;

    relayTarget = 2 * expected;
    relayTargetReachedNs = 0;
    waitFor([&] { return relayTargetReachedNs != 0; }, 600000);
    figures.relayWhole = figures.relayWhole && relayedPrintable == 2 * expected;
    figures.relayAfterMarkerMBps =
        double(lines * 64) / (double(relayTargetReachedNs - readStamp(runsDir + "/flood")) / 1e9) / 1e6;

    const qint64 quitAt = monotonicNs();
    service.stop();
    const qint64 stopEnd = monotonicNs();
    figures.quitToStopEndMs = double(stopEnd - quitAt) / 1e6;
    figures.quitToJavaReadMs = double(readStamp(runsDir + "/quit") - quitAt) / 1e6;
    return figures;
}

qint64 cpuTicks(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray fields = stat.readAll();
    const QList<QByteArray> rest = fields.mid(fields.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    return rest.size() > 12 ? rest.at(11).toLongLong() + rest.at(12).toLongLong() : -1;
}

QByteArray statusField(qint64 pid, const QByteArray& field)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return {};
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).simplified();
    }
    return {};
}

void idleFigures(const QString& stateDir)
{
    // The shipped layout: quillonsvc beside the sample application.
    ::setenv("QUILLON_STATE_DIR", stateDir.toLocal8Bit().constData(), 1);
    QProcess svc;
    svc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    svc.start(QStringLiteral(QUILLONSVC_PATH), {QStringLiteral("-e")});
    if (!svc.waitForStarted(30000)) {
        std::printf("quillonsvc did not start\n");
        return;
    }
    QThread::sleep(8); // JVM up and the start-up marker handled
    const qint64 pid = svc.processId();
    const QByteArray rss = statusField(pid, "VmRSS");
    const qint64 ticksBefore = cpuTicks(pid);
    const int idleSeconds = 10;
    QThread::sleep(idleSeconds);
    const qint64 ticksAfter = cpuTicks(pid);
    const double cpuPercent =
        100.0 * double(ticksAfter - ticksBefore) / double(::sysconf(_SC_CLK_TCK)) / idleSeconds;
    std::printf("quillonsvc -e (sample app) resident memory: %s (peak %s)\n", rss.constData(),
                statusField(pid, "VmHWM").constData());
    std::printf("quillonsvc -e idle CPU over %d s: %.3f %% of one core (%lld ticks)\n", idleSeconds,
                cpuPercent, static_cast<long long>(ticksAfter - ticksBefore));
    ::kill(pid_t(pid), SIGKILL);
    svc.waitForFinished(30000);
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
    const qint64 floodMB = argc > 2 ? std::atoll(argv[2]) : 64;
    QCoreApplication app(argc, argv);
    QTemporaryDir root;
    QDir().mkpath(root.path() + "/program");
    QFile::copy(QStringLiteral(QUILLON_STANDIN_JAR), root.path() + "/program/quillon.jar");
    ::setenv("QUILLON_STATE_DIR", (root.path() + "/state").toLocal8Bit().constData(), 1);
    qInstallMessageHandler(countMessage);

    std::vector<double> startReturn, stopEnd, quitRead, relayBefore, relayAfter;
    bool whole = true;
    for (int run = 0; run < runs; ++run) {
        const RunFigures f = oneRun(root.path(), run, floodMB * 1000000);
        startReturn.push_back(f.markerToStartReturnMs);
        stopEnd.push_back(f.quitToStopEndMs);
        quitRead.push_back(f.quitToJavaReadMs);
        relayBefore.push_back(f.relayBeforeMarkerMBps);
        relayAfter.push_back(f.relayAfterMarkerMBps);
        whole = whole && f.relayWhole;
    }
    qInstallMessageHandler(nullptr);

    std::printf("runs: %d, flood per run: %lld MB\n", runs, static_cast<long long>(floodMB));
    std::printf("start-up marker written -> start() returned: median %.2f ms (min %.2f, max %.2f)\n",
                median(startReturn), *std::min_element(startReturn.begin(), startReturn.end()),
                *std::max_element(startReturn.begin(), startReturn.end()));
    std::printf("quit command -> stop routine ended: median %.2f ms (Java read QUIT after %.2f ms)\n",
                median(stopEnd), median(quitRead));
    std::printf("stdout relay throughput (console mode), before the start-up marker: median %.1f MB/s "
                "(min %.1f), after it: median %.1f MB/s (min %.1f); nothing lost: %s\n",
                median(relayBefore), *std::min_element(relayBefore.begin(), relayBefore.end()),
                median(relayAfter), *std::min_element(relayAfter.begin(), relayAfter.end()), whole ? "yes" : "NO");
    idleFigures(root.path() + "/state-idle");
    return 0;
}
