// The service base: name checks, arguments, the instance and the event log
// writer, seen through the service manager stand-in.
#include "fake_fixture.h"
#include "servicemanagerapi_p.h"

#include <QByteArray>

namespace {

using ServiceBaseTest = FakeScmTest;

TEST(ServiceName, LongNameIsCutTo255WithOneWarning)
{
    MessageCapture capture;
    const QString name(300, QLatin1Char('n'));
    RecordingService service({QStringLiteral("prog")}, name);
    EXPECT_EQ(service.serviceName(), name.left(255));
    ASSERT_EQ(capture.warnings().size(), 1u);
    EXPECT_EQ(capture.warnings()[0], QStringLiteral("QtService: 'name' is longer than 255 characters."));
}

TEST(ServiceName, BackslashesBecomeCharacterZeroWithOneWarning)
{
    MessageCapture capture;
    RecordingService service({QStringLiteral("prog")}, QStringLiteral("a\\b"));
    const QString expected = QStringLiteral("a") + QChar(0) + QStringLiteral("b");
    EXPECT_EQ(service.serviceName(), expected);
    ASSERT_EQ(capture.warnings().size(), 1u);
    EXPECT_EQ(capture.warnings()[0], QStringLiteral("QtService: 'name' contains backslashes '\\'."));
}

TEST(ServiceName, Exactly255CharactersPassWithoutWarning)
{
    MessageCapture capture;
    const QString name(255, QLatin1Char('n'));
    RecordingService service({QStringLiteral("prog")}, name);
    EXPECT_EQ(service.serviceName(), name);
    EXPECT_TRUE(capture.warnings().empty());
}

TEST(ServiceInstance, PointsAtTheServiceForItsLifetime)
{
    EXPECT_EQ(QtServiceBase::instance(), nullptr);
    {
        RecordingService service({QStringLiteral("prog")});
        EXPECT_EQ(QtServiceBase::instance(), &service);
        EXPECT_EQ(service.startupMode(), QtServiceBase::DemandStart);
        EXPECT_EQ(service.serviceFlags(), 0);
        EXPECT_TRUE(service.serviceDescription().isEmpty());
    }
    EXPECT_EQ(QtServiceBase::instance(), nullptr);
}

struct LogCase {
    int type;
    WORD eventType;
};

class LogMessageTypes : public FakeScmTest, public ::testing::WithParamInterface<LogCase>
{
};

TEST_P(LogMessageTypes, BecomeTheirEventType)
{
    RecordingService service({QStringLiteral("prog")});
    service.logMessage(QStringLiteral("hello"), static_cast<QtServiceBase::LogMessageType>(GetParam().type), 42, 7,
                       QByteArray("\x00\xff", 2));
    const auto log = fakescm::eventLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].type, GetParam().eventType);
    EXPECT_EQ(log[0].source, u"QuillonTest");
    EXPECT_EQ(log[0].eventId, 42u);
    EXPECT_EQ(log[0].category, 7u);
    ASSERT_EQ(log[0].strings.size(), 1u);
    EXPECT_EQ(log[0].strings[0], u"hello");
    EXPECT_EQ(log[0].dataSize, 2u);
    EXPECT_EQ(log[0].data, (std::vector<unsigned char>{0x00, 0xff}));
}

INSTANTIATE_TEST_SUITE_P(Table, LogMessageTypes,
                         ::testing::Values(LogCase{0, EVENTLOG_SUCCESS}, LogCase{1, EVENTLOG_ERROR_TYPE},
                                           LogCase{2, EVENTLOG_WARNING_TYPE}, LogCase{3, EVENTLOG_INFORMATION_TYPE},
                                           LogCase{7, EVENTLOG_SUCCESS}, LogCase{-1, EVENTLOG_SUCCESS}));

TEST_F(ServiceBaseTest, EmptyDataPassesSizeZeroAndNullPointer)
{
    RecordingService service({QStringLiteral("prog")});
    service.logMessage(QStringLiteral("no data"));
    const auto log = fakescm::eventLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].dataSize, 0u);
    EXPECT_TRUE(log[0].dataPointerNull);
    EXPECT_EQ(log[0].type, EVENTLOG_SUCCESS);
}

TEST_F(ServiceBaseTest, EachEntryRegistersAndReleasesItsSource)
{
    RecordingService service({QStringLiteral("prog")});
    service.logMessage(QStringLiteral("one"));
    service.logMessage(QStringLiteral("two"));
    EXPECT_EQ(fakescm::eventLog().size(), 2u);
    // TearDown checks that no event source handle is left.
}

TEST_F(ServiceBaseTest, SourceThatCannotBeRegisteredDropsTheEntrySilently)
{
    fakescm::setEventSourceFails(true);
    RecordingService service({QStringLiteral("prog")});
    MessageCapture capture;
    service.logMessage(QStringLiteral("lost"), QtServiceBase::LogError);
    EXPECT_TRUE(fakescm::eventLog().empty());
    EXPECT_TRUE(capture.messages().empty());
}

TEST(ServiceApiBinding, MissingLibraryFailsAndTheNextCallTriesAgain)
{
    bindServiceApiLibraryForTesting(QStringLiteral(QUILLON_TEST_BINARY_DIR "/no-such-library.so"));
    EXPECT_FALSE(resolveServiceApi());
    EXPECT_FALSE(serviceApiBound());
    RecordingService service({QStringLiteral("prog")});
    service.logMessage(QStringLiteral("nowhere")); // silently nothing

    // The stand-in appears under the same name: the next call binds it.
    bindServiceApiLibraryForTesting(QStringLiteral(FAKE_ADVAPI32_PATH));
    EXPECT_TRUE(resolveServiceApi());
    EXPECT_TRUE(serviceApiBound());
    EXPECT_TRUE(resolveServiceApi());
    bindServiceApiLibraryForTesting(QString());
}

TEST(ServiceApiBinding, LibraryWithoutOpenSCManagerDoesNotBind)
{
    // kernel32 is a real library, but not the service manager.
    bindServiceApiLibraryForTesting(QStringLiteral(KERNEL32_PATH));
    EXPECT_FALSE(resolveServiceApi());
    EXPECT_FALSE(serviceApiBound());
    bindServiceApiLibraryForTesting(QString());
}

} // namespace
