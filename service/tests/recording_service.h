// A service object for tests: records which of its operations ran, on which
// thread, and whether the event loop was running at the time.
#pragma once

#include "servicebase.h"

#include <QCoreApplication>
#include <QStringList>
#include <QThread>

#include <functional>
#include <string>
#include <vector>

class RecordingService : public QtService<QCoreApplication>
{
public:
    explicit RecordingService(const QStringList& arguments, const QString& name = QStringLiteral("QuillonTest"))
        : RecordingService(Argv(arguments), name)
    {
    }

    std::vector<std::string> calls;
    bool everyCallOnMainThread = true;
    bool loopRunningAtStart = false;
    QStringList argumentsAtStart;
    std::function<void()> onStart;
    std::function<void()> onStop;
    std::function<void()> onApplicationCreated;
    bool createNoApplication = false;

    using QtServiceBase::logMessage;
    void failStartForTest(int exitCode) { failStart(exitCode); }

protected:
    void start() override
    {
        record("start");
        loopRunningAtStart = QThread::currentThread()->loopLevel() > 0;
        argumentsAtStart = QCoreApplication::arguments();
        if (onStart)
            onStart();
    }
    void stop() override
    {
        record("stop");
        if (onStop)
            onStop();
    }
    void pause() override { record("pause"); }
    void resume() override { record("resume"); }
    void processCommand(int code) override { record("command " + std::to_string(code)); }
    void createApplication(int& argc, char** argv) override
    {
        if (createNoApplication)
            return;
        QtService<QCoreApplication>::createApplication(argc, argv);
        if (onApplicationCreated)
            onApplicationCreated();
    }

private:
    // Keeps an argv alive for the base's constructor, which copies it.
    struct Argv {
        explicit Argv(const QStringList& arguments)
        {
            for (const QString& argument : arguments)
                storage.push_back(argument.toLocal8Bit());
            for (QByteArray& argument : storage)
                pointers.push_back(argument.data());
            pointers.push_back(nullptr);
        }
        std::vector<QByteArray> storage;
        std::vector<char*> pointers;
    };

    RecordingService(Argv argv, const QString& name)
        : QtService<QCoreApplication>(static_cast<int>(argv.storage.size()), argv.pointers.data(), name)
    {
    }

    void record(const std::string& call)
    {
        calls.push_back(call);
        if (QCoreApplication::instance() == nullptr
            || QThread::currentThread() != QCoreApplication::instance()->thread())
            everyCallOnMainThread = false;
    }
};

// Collects what the toolkit's message functions write while it lives.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    std::vector<std::pair<QtMsgType, QString>> messages() const;
    std::vector<QString> warnings() const;

private:
    QtMessageHandler previous;
};
