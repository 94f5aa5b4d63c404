// Reads back the entries that the event log layer keeps for an event source.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

struct EventLogEntry
{
    QString type; // "success", "error", "information", ...
    int eventId = 0;
    int category = 0;
    QString text;
};

// Every entry of the source in the state directory, oldest first.
std::vector<EventLogEntry> readEventLog(const QString& stateDir, const QString& source);

QStringList entryTexts(const std::vector<EventLogEntry>& entries);
