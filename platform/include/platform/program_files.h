// The files beside the program that it runs or reads as its own (a local
// Java runtime, the application's archive): where they are, as paths the
// system takes back unchanged, and whether the program may use them.
//
// Linux: the program's folder comes from the bytes of /proc/self/exe (the
// folder the layer library is loaded from); a folder whose name has no text
// form that turns back into the same bytes is not used, since its text would
// name another folder. Run as root, a file is used only when it, its folder
// and every folder above it are root's alone: owned by root and writable by
// no one else (a folder with the sticky bit excepted), links on the way
// owned by root; the rule the service manager applies to the programs it
// runs as root and to its state directory.
//
// Windows: the folder is the module's path as the system reports it in
// UTF-16, which Qt keeps as it is. There is no root: who may change the
// program's folder is decided by its access control lists, which the
// installer sets (Program Files); nothing is refused here.
#pragma once

#include <QString>

namespace quillon::platform {

struct ProgramFolder {
    QString path;    // empty when there is none to use
    QString program; // the running program's file in it (when path is set)
    QString problem; // why not (names the folder); empty when path is set
};

// The folder of the running program.
ProgramFolder runningProgramFolder();

enum class FileUse { Run, Read };

struct ProgramFile {
    // There: a regular file (to Run: one the system can run).
    bool present = false;
    // When present: its full path with every link resolved.
    QString path;
    // Why it must not be used (names the path and what is wrong); the file
    // is then neither run nor read, present or not.
    QString problem;
};

// Examines a file of the program's folder, given by a path built on
// runningProgramFolder().
ProgramFile examineProgramFile(const QString& path, FileUse use);

} // namespace quillon::platform
