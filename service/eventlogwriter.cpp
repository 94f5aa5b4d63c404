#include "eventlogwriter_p.h"

#include "servicemanagerapi_p.h"

void writeEventLogEntry(const QString& source, WORD type, WORD category, DWORD eventId,
                        const QString& message, const QByteArray& data)
{
    HANDLE eventLog = ServiceApi::RegisterEventSourceW(nullptr, reinterpret_cast<LPCWSTR>(source.utf16()));
    if (eventLog == nullptr)
        return;
    LPCWSTR strings[] = {reinterpret_cast<LPCWSTR>(message.utf16())};
    // The call takes a writable pointer but only reads the raw data.
    LPVOID rawData = data.isEmpty() ? nullptr : const_cast<char*>(data.constData());
    ServiceApi::ReportEventW(eventLog, type, category, eventId, nullptr, 1,
                             static_cast<DWORD>(data.size()), strings, rawData);
    ServiceApi::DeregisterEventSource(eventLog);
}
