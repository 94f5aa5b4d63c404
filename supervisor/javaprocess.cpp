#include "javaprocess.h"

JavaProcess::JavaProcess(QObject* parent)
    : QProcess(parent)
{
    // Direct connection: the child is bound before anyone hears that it runs.
    connect(this, &QProcess::started, this, &JavaProcess::bindStartedChild, Qt::DirectConnection);
}

void JavaProcess::setupChildProcess()
{
    binding.bindInChild();
}

void JavaProcess::bindStartedChild()
{
    bound = binding.bindStartedChild(processId());
}
