// Runs a program as a child process and collects what it printed.
#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <string>

struct ProcessOutcome {
    int exitCode = -1000;
    std::string out;
    std::string err;
};

// Waits up to two minutes; a program that does not end is killed and
// reported as a test failure. A crash gives the exit code -2000.
ProcessOutcome runProgram(const QString& executable, const QStringList& arguments,
                          const QProcessEnvironment& environment);
