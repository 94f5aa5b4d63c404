// The process that runs the Java virtual machine: a QProcess whose child is
// bound to the life of this program, so that no Java process is ever left
// behind when the program dies or is killed.
#pragma once

#include <QProcess>

#include "platform/child_lifetime.h"

class JavaProcess : public QProcess
{
    Q_OBJECT
public:
    explicit JavaProcess(QObject* parent = nullptr);

    // False when the last started child could not be bound to this program.
    bool childBound() const { return bound; }

protected:
    void setupChildProcess() override;

private:
    void bindStartedChild();

    quillon::platform::ChildLifetimeBinding binding;
    bool bound = false;
};
