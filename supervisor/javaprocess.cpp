#include "javaprocess.h"

JavaProcess::JavaProcess(QObject* parent)
    : QProcess(parent)
{
    quillon::platform::keepConsoleSignalsFromChild(*this);
    // Direct connection: the child is bound before anyone hears that it runs.
    connect(this, &QProcess::started, this, &JavaProcess::bindStartedChild, Qt::DirectConnection);
}

void JavaProcess::setupChildProcess()
{
    binding.bindInChild();
}

void JavaProcess::bindStartedChild()
{
    childId = processId();
    bound = binding.bindStartedChild(childId);
}

void JavaProcess::killTree()
{
    if (childId != 0)
        binding.endChildTree(childId);
    kill();
}

QByteArray JavaProcess::takeAvailable(ProcessChannel channel)
{
    const ProcessChannel previous = readChannel();
    setReadChannel(channel);
    QByteArray bytes = read(bytesAvailable());
    setReadChannel(previous);
    return bytes;
}

void JavaProcess::endLeftovers()
{
    if (childId != 0)
        binding.endChildTree(childId);
    childId = 0;
}
