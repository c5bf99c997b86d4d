#include "image/OutputPath.h"

#include "image/FileKind.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace
{
std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}
} // namespace

std::string NonRegularOutputReason(const std::string& path)
{
    struct stat link{};
    if (::lstat(path.c_str(), &link) != 0)
        return {};
    struct stat target{};
    if (::stat(path.c_str(), &target) != 0)
    {
        if (!S_ISLNK(link.st_mode))
            return {};
        if (errno == ENOENT)
            return "is a symbolic link to a file that does not exist";
        // A loop (ELOOP) or a link that may not be followed: a rename onto the
        // name would replace the link itself with a plain file.
        return std::string("is a symbolic link that cannot be followed: ") + std::strerror(errno);
    }
    if (S_ISREG(target.st_mode))
        return {};
    const std::string kind = FileKindText(target.st_mode);
    return (S_ISLNK(link.st_mode) ? "is a symbolic link to " : "is ") + kind + ", not a regular file";
}

std::string ResolveOutputPath(const std::string& path)
{
    struct stat link{};
    if (::lstat(path.c_str(), &link) != 0 || !S_ISLNK(link.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
        return path;
    return resolved;
}

bool IsSameFile(const std::string& first, const std::string& second)
{
    struct stat a{};
    struct stat b{};
    return ::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

std::optional<std::uint64_t> FreeBytesBeside(const std::string& path)
{
    struct statvfs fs{};
    if (::statvfs(FolderOf(ResolveOutputPath(path)).c_str(), &fs) != 0)
        return std::nullopt;
    return std::uint64_t(fs.f_bavail) * std::uint64_t(fs.f_frsize);
}
