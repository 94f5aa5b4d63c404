// Where the Java application comes from: the local runtime "Java/bin/java"
// beside the program when it is there, else "java" from the search path; the
// archive "quillon.jar" beside the program; the program's folder as the
// working directory. Each is checked before anything is run, and the program
// itself when they lie beside it: a file the program must not use (see
// platform/program_files.h: a folder that is no faithful text, a file another
// user can change while the program runs as root) refuses the start, naming
// the path and what is wrong.
#pragma once

#include <QString>

struct JavaCommandLine
{
    QString program;          // the local runtime's full path, or "java"
    bool localRuntime = false; // the local runtime is used
    QString archive;           // "<folder>/quillon.jar"
    QString workingDirectory;  // the program's folder
    QString refusal;           // non-empty: nothing may be started, and why
};

// For the program's folder as given (empty: there is none to use, and the
// running program's folder says why).
JavaCommandLine javaCommandLine(const QString& programFolder);
