// The run as a regular application: no service manager, no controls; the
// service's start runs once the event loop runs. The system's requests to end
// the program (signals, console control events) run the service's stop, as a
// stop control would; a second one calls stop again, which a service may
// take as "at once".
#include "localarguments_p.h"
#include "servicebase_p.h"
#include "serviceruntime_p.h"

#include "platform/console_stop_requests.h"

#include <QCoreApplication>
#include <QTimer>

QtServiceStarter::QtServiceStarter(ServiceBaseData* serviceData)
    : data(serviceData)
{
}

void QtServiceStarter::slotStart()
{
    data->startService();
}

int ServiceBaseData::runAsApplication(const QStringList& arguments)
{
    LocalArguments localArguments(arguments);
    q_ptr->createApplication(localArguments.argc(), localArguments.argv());
    if (QCoreApplication::instance() == nullptr)
        return -1;

    QtServiceStarter starter(this);
    QTimer::singleShot(0, &starter, &QtServiceStarter::slotStart);
    const quillon::platform::ConsoleStopRequests stopRequests([this] {
        stopService();
        QCoreApplication::quit();
    });
    const int exitCode = q_ptr->runApplication();
    delete QCoreApplication::instance();
    return exitCode;
}
