// Root trusts only what root alone can change. A path root acts on is walked
// from / one name at a time through folder descriptors: by root's rule every
// folder on the way must be owned by root and writable by no one else, unless
// it has the sticky bit (like /tmp, where others cannot replace root's
// entries), and a link is followed only when root owns it. What is finally
// opened is what is checked, so nothing can be swapped in between.
#pragma once

#include <string>
#include <sys/stat.h>

namespace quillon::linux_trust {

// A descriptor closed when the object goes.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept : fd_(other.release()) {}
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

enum class Target { Folder, File };

struct WalkOptions {
    // Root's rule for the folders and links on the way (above). Without it
    // the path is only resolved.
    bool rootsRule = false;
    // Missing folders are made (mode 0755), the last one too for a Folder.
    bool createFolders = false;
};

struct Walked {
    // The last element, opened without following a link: a Folder for
    // reading, a File as O_PATH (whatever it is: nothing is read, nothing
    // blocks). Invalid when error or refusal is set.
    Descriptor fd;
    std::string path; // where it is, every link resolved
    struct stat info {};
    int error = 0;       // errno of what failed (ENOENT: something is missing)
    std::string refusal; // a folder or link on the way that cannot be trusted, and why
};

// `path` must be absolute (EINVAL otherwise). A Folder target is checked by
// the rule like the folders above it; what a File must be is its user's to
// check (fileRefusal).
Walked walkPath(const std::string& path, const WalkOptions& options, Target target);

bool writableByOthers(const struct stat& info);

// Why a file that root runs or reads is not root's alone (not a regular
// file, another owner, writable by group or others); empty when it is.
std::string fileRefusal(const std::string& path, const struct stat& info);

// A program or file root is about to run or read: walked by root's rule, then
// checked by fileRefusal. The refusal names the path and what is wrong.
Walked checkRootsFile(const std::string& path);

} // namespace quillon::linux_trust
