#include "trusted_copy.h"

#include "program_runner.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace quillon::testing {

namespace {

// Folders made by this process, removed when it ends.
class Scratch {
public:
    ~Scratch()
    {
        for (const auto& folder : folders) {
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    }
    std::string make()
    {
        std::string pattern = "/tmp/quillon-trusted.XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            return {};
        ::chmod(pattern.c_str(), 0755);
        folders.push_back(pattern);
        return pattern;
    }

private:
    std::vector<std::string> folders;
};

std::mutex mutex;
Scratch& scratch()
{
    static Scratch instance;
    return instance;
}

bool systemLibrary(const std::string& path)
{
    for (const char* prefix : {"/lib/", "/lib64/", "/usr/", "/etc/"}) {
        if (path.rfind(prefix, 0) == 0)
            return true;
    }
    return false;
}

// The libraries the loader finds for the program outside the system's
// folders: those of the build tree. The loader lists them without running
// the program.
std::vector<std::string> buildTreeLibraries(const std::string& program)
{
    ProgramOptions options;
    options.set = {{"LD_TRACE_LOADED_OBJECTS", "1"}};
    const ProgramOutcome listed = runProgram({program}, options);
    std::vector<std::string> libraries;
    std::istringstream lines(listed.out);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t arrow = line.find("=> ");
        if (arrow == std::string::npos)
            continue;
        const std::size_t end = line.find(" (", arrow);
        const std::string path = line.substr(arrow + 3, end == std::string::npos ? std::string::npos : end - arrow - 3);
        // Where the loader looks (a link to another folder of the build
        // stays where it is): the copy must find it at the same place.
        std::error_code error;
        const fs::path found = path.empty() || path[0] != '/' || systemLibrary(path) ? fs::path()
                                                                                     : fs::path(path).lexically_normal();
        if (!found.empty() && fs::exists(found, error))
            libraries.push_back(found.string());
    }
    return libraries;
}

fs::path commonFolder(const std::vector<fs::path>& paths)
{
    fs::path common = paths.front().parent_path();
    for (const fs::path& path : paths) {
        while (!common.empty() && path.string().rfind(common.string() + "/", 0) != 0)
            common = common.parent_path();
    }
    return common;
}

// Copies `from` to <folder>/<relative>, making the folders on the way open
// to all for reading (a service under an account must reach its program)
// and writable by root alone, whatever the umask.
bool copyInto(const fs::path& folder, const fs::path& relative, const fs::path& from)
{
    fs::path made = folder;
    for (const fs::path& part : relative.parent_path()) {
        made /= part;
        ::mkdir(made.c_str(), 0755);
        ::chmod(made.c_str(), 0755);
    }
    const fs::path to = folder / relative;
    std::error_code error;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
    if (error) {
        ADD_FAILURE() << "cannot copy " << from << " to " << to << ": " << error.message();
        return false;
    }
    struct stat info {};
    ::stat(to.c_str(), &info);
    ::chmod(to.c_str(), info.st_mode & 0755);
    return true;
}

} // namespace

std::string trustedScratchFolder()
{
    std::lock_guard<std::mutex> lock(mutex);
    const std::string folder = scratch().make();
    if (folder.empty())
        ADD_FAILURE() << "cannot make a folder below /tmp";
    return folder;
}

std::string trustedCopyOf(const std::string& program, const std::vector<std::string>& beside)
{
    if (::geteuid() != 0)
        return program;
    static std::map<std::string, std::string> made;
    std::string key = program;
    for (const std::string& name : beside)
        key += "\n" + name;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (const auto found = made.find(key); found != made.end())
            return found->second;
    }
    std::error_code error;
    const fs::path original = fs::canonical(program, error);
    if (error) {
        ADD_FAILURE() << "no program " << program << ": " << error.message();
        return {};
    }
    std::vector<fs::path> files {original};
    for (const std::string& library : buildTreeLibraries(original.string()))
        files.emplace_back(library);
    const fs::path base = commonFolder(files);
    const std::string folder = trustedScratchFolder();
    if (folder.empty())
        return {};
    for (const fs::path& file : files) {
        if (!copyInto(folder, file.lexically_relative(base), file))
            return {};
    }
    const fs::path relative = original.lexically_relative(base);
    for (const std::string& name : beside) {
        if (!copyInto(folder, relative.parent_path() / name, original.parent_path() / name))
            return {};
    }
    const fs::path copy = fs::path(folder) / relative;
    std::lock_guard<std::mutex> lock(mutex);
    made[key] = copy.string();
    return copy.string();
}

} // namespace quillon::testing
