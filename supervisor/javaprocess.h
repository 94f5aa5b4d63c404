// The process that runs the Java virtual machine: a QProcess whose child is
// bound to the life of this program, so that no Java process is ever left
// behind when the program dies or is killed, and whose own children end with
// it. The child gets none of the console's stop signals: it hears of a stop
// only by the quit command.
#pragma once

#include <QProcess>

#include <cstdint>

#include "platform/child_lifetime.h"

class JavaProcess : public QProcess
{
    Q_OBJECT
public:
    explicit JavaProcess(QObject* parent = nullptr);

    // False when the last started child could not be bound to this program.
    bool childBound() const { return bound; }

    // Kills the Java process and every process it started.
    void killTree();
    // Once the Java process has ended: kills what it started and left behind.
    void endLeftovers();

    // All the bytes the channel holds now, in one array of their size
    // (readAll would grow a larger one first, to see whether more comes).
    QByteArray takeAvailable(ProcessChannel channel);

protected:
    void setupChildProcess() override;

private:
    void bindStartedChild();

    quillon::platform::ChildLifetimeBinding binding;
    bool bound = false;
    std::int64_t childId = 0;
};
