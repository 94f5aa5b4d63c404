#include "java_command_line.h"

#include "platform/executable_suffix.h"
#include "platform/program_files.h"

using quillon::platform::examineProgramFile;
using quillon::platform::FileUse;

JavaCommandLine javaCommandLine(const QString& programFolder)
{
    JavaCommandLine line;
    const auto running = quillon::platform::runningProgramFolder();
    if (programFolder.isEmpty()) {
        line.refusal = running.problem;
        if (line.refusal.isEmpty())
            line.refusal = QStringLiteral("The program's folder is unknown");
        return line;
    }
    // The program itself, where Java comes from its folder: what runs this
    // time is what another user could change for the next.
    if (programFolder == running.path) {
        line.refusal = examineProgramFile(running.program, FileUse::Run).problem;
        if (!line.refusal.isEmpty())
            return line;
    }
    const auto runtime =
        examineProgramFile(QStringLiteral("%1/Java/bin/java").arg(programFolder)
                               + QString::fromLatin1(quillon::platform::executableSuffix()),
                           FileUse::Run);
    // The archive is checked whether it is there or not: the folders above
    // it are the ones it could appear in.
    const auto archive = examineProgramFile(QStringLiteral("%1/quillon.jar").arg(programFolder), FileUse::Read);
    line.refusal = !runtime.problem.isEmpty() ? runtime.problem : archive.problem;
    if (!line.refusal.isEmpty())
        return line;
    line.localRuntime = runtime.present;
    line.program = runtime.present ? runtime.path : QStringLiteral("java");
    line.archive = QStringLiteral("%1/quillon.jar").arg(programFolder);
    line.workingDirectory = programFolder;
    return line;
}
