#include "recording_service.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex capturedMutex;
std::vector<std::pair<QtMsgType, QString>> captured;

void captureMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    QMutexLocker lock(&capturedMutex);
    captured.emplace_back(type, message);
}
} // namespace

MessageCapture::MessageCapture()
{
    {
        QMutexLocker lock(&capturedMutex);
        captured.clear();
    }
    previous = qInstallMessageHandler(captureMessage);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(previous);
}

std::vector<std::pair<QtMsgType, QString>> MessageCapture::messages() const
{
    QMutexLocker lock(&capturedMutex);
    return captured;
}

std::vector<QString> MessageCapture::warnings() const
{
    std::vector<QString> result;
    for (const auto& [type, text] : messages())
        // qErrnoWarning writes at the critical level.
        if (type == QtWarningMsg || type == QtCriticalMsg)
            result.push_back(text);
    return result;
}
