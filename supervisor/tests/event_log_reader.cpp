#include "event_log_reader.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

std::vector<EventLogEntry> readEventLog(const QString& stateDir, const QString& source)
{
    std::vector<EventLogEntry> entries;
    const QDir dir(stateDir + QStringLiteral("/eventlog"));
    for (const QString& name : dir.entryList({QStringLiteral("*.jsonl")}, QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QJsonObject object = QJsonDocument::fromJson(line).object();
            if (object.isEmpty() || object.value(QStringLiteral("source")).toString() != source)
                continue;
            entries.push_back({object.value(QStringLiteral("type")).toString(),
                               object.value(QStringLiteral("eventId")).toInt(),
                               object.value(QStringLiteral("category")).toInt(),
                               object.value(QStringLiteral("text")).toString()});
        }
    }
    return entries;
}

QStringList entryTexts(const std::vector<EventLogEntry>& entries)
{
    QStringList texts;
    for (const EventLogEntry& entry : entries)
        texts << entry.text;
    return texts;
}
