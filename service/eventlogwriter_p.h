// Writes one entry to the event log under the given source: the source is
// registered and released for this entry alone. Needs the service manager
// functions bound; silent when the source cannot be registered.
#pragma once

#include "platform/win32_service.h"

#include <QByteArray>
#include <QString>

void writeEventLogEntry(const QString& source, WORD type, WORD category, DWORD eventId,
                        const QString& message, const QByteArray& data);
