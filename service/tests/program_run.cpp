#include "program_run.h"

#include <gtest/gtest.h>

#include <QProcess>

ProcessOutcome runProgram(const QString& executable, const QStringList& arguments,
                          const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(executable, arguments);
    ProcessOutcome outcome;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished(10000);
        ADD_FAILURE() << "the program did not end";
        return outcome;
    }
    outcome.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2000;
    outcome.out = process.readAllStandardOutput().toStdString();
    outcome.err = process.readAllStandardError().toStdString();
    return outcome;
}
