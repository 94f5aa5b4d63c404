#include "servicebase.h"

#include "eventlogwriter_p.h"
#include "servicebase_p.h"
#include "servicemanagerapi_p.h"

#include <QtGlobal>

#include <atomic>

namespace {

// The one service object of the process. Read from the service manager's
// threads too, written only by the object's constructor and destructor.
std::atomic<QtServiceBase*> serviceInstance{nullptr};

constexpr int maximumNameLength = 255;

QString validatedName(const QString& name)
{
    QString copy = name;
    if (copy.length() > maximumNameLength) {
        qWarning("QtService: 'name' is longer than %d characters.", maximumNameLength);
        copy.truncate(maximumNameLength);
    }
    if (copy.contains(QLatin1Char('\\'))) {
        qWarning("QtService: 'name' contains backslashes '\\'.");
        copy.replace(QLatin1Char('\\'), QChar(0));
    }
    return copy;
}

WORD eventTypeFor(QtServiceBase::LogMessageType type)
{
    switch (type) {
    case QtServiceBase::LogError:
        return EVENTLOG_ERROR_TYPE;
    case QtServiceBase::LogWarning:
        return EVENTLOG_WARNING_TYPE;
    case QtServiceBase::LogInformation:
        return EVENTLOG_INFORMATION_TYPE;
    case QtServiceBase::LogSuccess:
        break;
    }
    return EVENTLOG_SUCCESS;
}

} // namespace

ServiceBaseData::ServiceBaseData(QtServiceBase* owner, const QString& name)
    : q_ptr(owner)
    , controller(name)
{
}

QtServiceBase::QtServiceBase(int argc, char** argv, const QString& name)
    : d_ptr(std::make_unique<ServiceBaseData>(this, validatedName(name)))
{
    serviceInstance.store(this);
    for (int i = 0; i < argc; ++i)
        d_ptr->args.append(QString::fromLocal8Bit(argv[i]));
}

QtServiceBase::~QtServiceBase()
{
    serviceInstance.store(nullptr);
}

QtServiceBase* QtServiceBase::instance()
{
    return serviceInstance.load();
}

QString QtServiceBase::serviceName() const
{
    return d_ptr->controller.serviceName();
}

QString QtServiceBase::serviceDescription() const
{
    return d_ptr->description;
}

void QtServiceBase::setServiceDescription(const QString& description)
{
    d_ptr->description = description;
}

QtServiceBase::StartupMode QtServiceBase::startupMode() const
{
    return d_ptr->startupMode;
}

void QtServiceBase::setStartupMode(StartupMode mode)
{
    d_ptr->startupMode = mode;
}

QtServiceBase::ServiceFlags QtServiceBase::serviceFlags() const
{
    return d_ptr->flags;
}

void QtServiceBase::stop() {}

void QtServiceBase::pause() {}

void QtServiceBase::resume() {}

void QtServiceBase::processCommand(int) {}

void QtServiceBase::logMessage(const QString& message, LogMessageType type, int id, uint category,
                               const QByteArray& data)
{
    if (!resolveServiceApi())
        return;
    writeEventLogEntry(serviceName(), eventTypeFor(type), static_cast<WORD>(category),
                       static_cast<DWORD>(id), message, data);
}
