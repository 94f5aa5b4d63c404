// Tests that bind the service manager stand-in in place of the real layer.
#pragma once

#include "fake_scm.h"
#include "recording_service.h"
#include "servicemanagerapi_p.h"

#include <gtest/gtest.h>

#include <QString>

#include <string>

inline std::u16string u16(const QString& text)
{
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size()));
}

inline QString qs(const std::u16string& text)
{
    return QString::fromUtf16(text.data(), static_cast<int>(text.size()));
}

class FakeScmTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        fakescm::reset();
        bindServiceApiLibraryForTesting(QStringLiteral(FAKE_ADVAPI32_PATH));
        ASSERT_TRUE(resolveServiceApi());
    }
    void TearDown() override
    {
        EXPECT_EQ(fakescm::openHandleCount(), 0) << "a handle was left open";
        bindServiceApiLibraryForTesting(QString());
    }
};

struct ExecOutcome {
    int exitCode = 0;
    std::string out;
    std::string err;
    std::vector<QString> warnings;
};

inline ExecOutcome captureExec(QtServiceBase& service)
{
    ExecOutcome outcome;
    MessageCapture capture;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    outcome.exitCode = service.exec();
    outcome.out = ::testing::internal::GetCapturedStdout();
    outcome.err = ::testing::internal::GetCapturedStderr();
    outcome.warnings = capture.warnings();
    return outcome;
}
