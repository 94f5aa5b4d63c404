#include "platform/program_files.h"

#include "running_program.h"
#include "trusted_path.h"

#include <QByteArray>
#include <QFile>

#include <sys/stat.h>
#include <unistd.h>

namespace quillon::platform {

namespace {

// Bytes as a message shows them: printable ASCII as it is, anything else as
// \xHH, so that a name that is no text can still be told apart.
QString shown(const std::string& bytes)
{
    QString text;
    for (const unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f && c != '\\')
            text += QLatin1Char(static_cast<char>(c));
        else
            text += QStringLiteral("\\x%1").arg(c, 2, 16, QLatin1Char('0'));
    }
    return text;
}

// The text that Qt turns back into exactly these bytes (it hands paths to
// the system through QFile::encodeName); nothing when there is none.
bool asText(const std::string& bytes, QString& text)
{
    text = QFile::decodeName(QByteArray::fromStdString(bytes));
    return QFile::encodeName(text).toStdString() == bytes;
}

QString noText(const std::string& bytes)
{
    return QStringLiteral("%1 is not used: its name is not valid text in this system's encoding, "
                          "and as text it would name another file")
        .arg(shown(bytes));
}

} // namespace

ProgramFolder runningProgramFolder()
{
    ProgramFolder folder;
    const std::string program = linux_trust::runningProgramPath();
    const std::string bytes = linux_trust::folderOf(program);
    if (bytes.empty()) {
        folder.problem = QStringLiteral("The program's folder is unknown (/proc/self/exe cannot be read)");
    } else if (!asText(bytes, folder.path) || !asText(program, folder.program)) {
        folder.path.clear();
        folder.program.clear();
        folder.problem = QStringLiteral("The program's folder ") + noText(bytes);
    }
    return folder;
}

ProgramFile examineProgramFile(const QString& path, FileUse use)
{
    ProgramFile file;
    const std::string bytes = QFile::encodeName(path).toStdString();
    const bool root = ::geteuid() == 0;
    linux_trust::WalkOptions options;
    options.rootsRule = root;
    const linux_trust::Walked walked = linux_trust::walkPath(bytes, options, linux_trust::Target::File);
    const auto refuse = [&](const std::string& reason) {
        file.problem = QStringLiteral("%1 is not used: %2").arg(shown(bytes), QString::fromStdString(reason));
        return file;
    };
    if (!walked.refusal.empty())
        return refuse(walked.refusal);
    // Missing, or no regular file: there is nothing to use.
    if (walked.error != 0 || !S_ISREG(walked.info.st_mode))
        return file;
    if (root) {
        if (const std::string reason = linux_trust::fileRefusal(walked.path, walked.info); !reason.empty())
            return refuse(reason);
    }
    if (!asText(walked.path, file.path)) {
        file.path.clear();
        file.problem = noText(walked.path);
        return file;
    }
    file.present = use == FileUse::Read || ::access(walked.path.c_str(), X_OK) == 0;
    if (!file.present)
        file.path.clear();
    return file;
}

} // namespace quillon::platform
