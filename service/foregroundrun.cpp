// The run as a regular application: no service manager, no controls; the
// service's start runs once the event loop runs.
#include "localarguments.h"
#include "servicebasedata.h"
#include "serviceruntime.h"

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
    QTimer::singleShot(0, &starter, SLOT(slotStart()));
    const int exitCode = q_ptr->runApplication();
    delete QCoreApplication::instance();
    return exitCode;
}
