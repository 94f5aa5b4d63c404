#include "event_wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

bool handleEventsUntil(const std::function<bool()>& done, int passMs, long long limitMs)
{
    // Its ticks end every blocking wait for events within one pass.
    QTimer pass;
    pass.setTimerType(Qt::PreciseTimer);
    pass.start(passMs);
    QElapsedTimer waited;
    waited.start();
    while (!done()) {
        if (limitMs >= 0 && waited.hasExpired(limitMs))
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void handleEventsFor(int passMs, long long durationMs)
{
    handleEventsUntil([] { return false; }, passMs, durationMs);
}
