#include "platform/program_files.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace quillon::platform {

ProgramFolder runningProgramFolder()
{
    ProgramFolder folder;
    folder.path = QCoreApplication::applicationDirPath();
    folder.program = QCoreApplication::applicationFilePath();
    if (folder.path.isEmpty())
        folder.problem = QStringLiteral("The program's folder is unknown");
    return folder;
}

ProgramFile examineProgramFile(const QString& path, FileUse use)
{
    const QFileInfo info(path);
    ProgramFile file;
    file.present = info.exists() && info.isFile() && (use == FileUse::Read || info.isExecutable());
    if (file.present)
        file.path = info.canonicalFilePath();
    return file;
}

} // namespace quillon::platform
