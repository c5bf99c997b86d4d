#include "image/FileKind.h"

#include <sys/stat.h>

std::string FileKindText(mode_t mode)
{
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISFIFO(mode))
        return "a FIFO (named pipe)";
    if (S_ISSOCK(mode))
        return "a socket";
    return "a special file";
}

std::string NonRegularFileKind(const std::string& path)
{
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode) || S_ISDIR(info.st_mode))
        return {};
    return FileKindText(info.st_mode);
}
