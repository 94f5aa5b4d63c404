// logMessage through the real event log layer, read back from the log file
// it keeps for the event source.
#include "recording_service.h"
#include "servicemanagerapi_p.h"
#include "trusted_copy.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdlib>

namespace {

// Root trusts a state directory only below folders root alone can change,
// wherever the build tree is.
const QString stateDir = QString::fromStdString(quillon::testing::trustedScratchFolder()) + "/state";

std::vector<QJsonObject> readEntries(const QString& fileName)
{
    std::vector<QJsonObject> entries;
    QFile file(stateDir + QStringLiteral("/eventlog/") + fileName);
    if (!file.open(QIODevice::ReadOnly))
        return entries;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (!line.trimmed().isEmpty())
            entries.push_back(QJsonDocument::fromJson(line).object());
    return entries;
}

TEST(EventLog, EntriesCarryTypeIdCategoryTextAndData)
{
    QDir(stateDir).removeRecursively();
    ASSERT_TRUE(resolveServiceApi()) << "the event log layer beside the program";
    RecordingService service({QStringLiteral("prog")}, QStringLiteral("QuillonLogTest"));
    struct Case {
        int type;
        const char* typeName;
        int typeCode;
    };
    const Case cases[] = {{0, "success", 0}, {1, "error", 1}, {2, "warning", 2},
                          {3, "information", 4}, {7, "success", 0}};
    for (const Case& c : cases)
        service.logMessage(QStringLiteral("entry %1").arg(c.type), static_cast<QtServiceBase::LogMessageType>(c.type),
                           100 + c.type, 9, QByteArray("\x01\xfe", 2));
    service.logMessage(QStringLiteral("no data"));

    const auto entries = readEntries(QStringLiteral("quillonlogtest.jsonl"));
    ASSERT_EQ(entries.size(), std::size(cases) + 1);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const QJsonObject& entry = entries[i];
        EXPECT_EQ(entry.value("source").toString(), QStringLiteral("QuillonLogTest"));
        EXPECT_EQ(entry.value("type").toString(), QString::fromLatin1(cases[i].typeName)) << i;
        EXPECT_EQ(entry.value("typeCode").toInt(), cases[i].typeCode) << i;
        EXPECT_EQ(entry.value("eventId").toInt(), 100 + cases[i].type);
        EXPECT_EQ(entry.value("category").toInt(), 9);
        EXPECT_EQ(entry.value("text").toString(), QStringLiteral("entry %1").arg(cases[i].type));
        EXPECT_EQ(entry.value("data").toString(), QStringLiteral("01fe"));
    }
    const QJsonObject& last = entries.back();
    EXPECT_EQ(last.value("type").toString(), QStringLiteral("success"));
    EXPECT_EQ(last.value("eventId").toInt(), 0);
    EXPECT_EQ(last.value("category").toInt(), 0);
    EXPECT_EQ(last.value("data").toString(), QString());
}

} // namespace

int main(int argc, char** argv)
{
    // The layer keeps its files in the state directory, here inside the
    // build tree.
    qputenv("QUILLON_STATE_DIR", stateDir.toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
