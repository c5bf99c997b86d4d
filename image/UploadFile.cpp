#include "image/UploadFile.h"

#include "image/OutputPath.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace
{
constexpr int kTempNameAttempts = 100;
constexpr int kPartialNameAttempts = 1000; // OUT.partial, then OUT.1.partial ... OUT.999.partial

std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Renames `from` to `to` unless something is already at `to` (then EEXIST).
int RenameWithoutReplacing(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    // A file system without that rename: a hard link fails the same way on an existing name.
    if (::link(from.c_str(), to.c_str()) != 0)
        return errno;
    ::unlink(from.c_str());
    return 0;
}

// Makes a rename in `folder` survive a power cut.
void SyncFolder(const std::string& folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}
} // namespace

CUploadFile::~CUploadFile()
{
    Abandon();
}

bool CUploadFile::Fail(int error, const std::string& what, const std::string& path)
{
    m_nLastError = error;
    m_strLastErrorText = what + " " + path + ": " + std::system_category().message(error);
    return false;
}

void CUploadFile::CloseDescriptor()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool CUploadFile::Open(const std::string& path)
{
    Abandon();
    m_nLastError = 0;
    m_strLastErrorText.clear();
    m_nBytesWritten = 0;
    m_strTargetPath = path;
    m_strTempPath.clear();

    if (path.empty() || path.back() == '/')
        return Fail(EISDIR, "Cannot create", path.empty() ? "\"\"" : path);
    // The file that will be replaced must be one the user may write: a plain
    // rename would otherwise overwrite a read-only file or a folder.
    struct stat existing{};
    const bool bTargetExists = ::stat(path.c_str(), &existing) == 0;
    if (bTargetExists && S_ISDIR(existing.st_mode))
        return Fail(EISDIR, "Cannot create", path);
    // Nor a device node, a FIFO or a socket, which the rename would swap for a
    // plain file. A symbolic link is followed: the file it leads to is
    // replaced and the link stays.
    const std::string notRegular = NonRegularOutputReason(path);
    if (!notRegular.empty())
    {
        m_nLastError = EINVAL;
        m_strLastErrorText = "Cannot write " + path + ": it " + notRegular;
        return false;
    }
    const std::string targetPath = ResolveOutputPath(path);
    m_strTargetPath = targetPath;
    if (bTargetExists && ::access(targetPath.c_str(), W_OK) != 0)
        return Fail(errno, "Cannot write", targetPath);

    // Hidden, unique and beside the target, so the final rename stays within
    // one file system. O_EXCL never reuses a name someone else holds.
    std::random_device seed;
    std::mt19937 random(seed());
    const std::string prefix = FolderOf(targetPath) + "/." + BaseNameOf(targetPath) + ".";
    int error = EEXIST;
    for (int attempt = 0; attempt < kTempNameAttempts && error == EEXIST; ++attempt)
    {
        const std::string candidate = prefix + std::to_string(random() % 1000000) + ".tmp";
        m_fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd >= 0)
        {
            m_strTempPath = candidate;
            error = 0;
        }
        else
        {
            error = errno;
        }
    }
    if (m_fd < 0)
        return Fail(error, "Cannot create", targetPath);

    // A replaced file keeps its permissions (a backup may be private).
    if (bTargetExists)
        ::fchmod(m_fd, existing.st_mode & 07777);
    m_bOpen = true;
    return true;
}

bool CUploadFile::Write(const void* data, std::size_t length)
{
    if (!m_bOpen || m_fd < 0)
        return Fail(EBADF, "Cannot write", m_strTargetPath);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    while (length > 0)
    {
        const ssize_t written = ::write(m_fd, bytes, length);
        if (written < 0)
        {
            if (errno == EINTR)
                continue;
            return Fail(errno, "Cannot write", m_strTargetPath);
        }
        if (written == 0)
            return Fail(ENOSPC, "Cannot write", m_strTargetPath);
        bytes += written;
        length -= std::size_t(written);
        m_nBytesWritten += std::uint64_t(written);
    }
    return true;
}

bool CUploadFile::Commit()
{
    if (!m_bOpen)
        return Fail(EBADF, "Cannot save", m_strTargetPath);
    if (m_fd >= 0)
    {
        if (::fsync(m_fd) != 0)
            return Fail(errno, "Cannot save", m_strTargetPath);
        const int closed = ::close(m_fd);
        m_fd = -1;
        if (closed != 0 && errno != EINTR)
            return Fail(errno, "Cannot save", m_strTargetPath);
    }
    if (::rename(m_strTempPath.c_str(), m_strTargetPath.c_str()) != 0)
        return Fail(errno, "Cannot save", m_strTargetPath);
    SyncFolder(FolderOf(m_strTargetPath));
    m_bOpen = false;
    m_strTempPath.clear();
    return true;
}

void CUploadFile::Discard()
{
    if (!m_bOpen)
        return;
    CloseDescriptor();
    m_bOpen = false;
    ::unlink(m_strTempPath.c_str());
    m_strTempPath.clear();
}

std::string CUploadFile::CheckPlace(const std::string& path)
{
    CUploadFile trial;
    if (!trial.Open(path))
        return trial.LastErrorText();
    trial.Discard();
    return {};
}

std::string CUploadFile::Abandon()
{
    if (!m_bOpen)
        return {};
    if (m_nBytesWritten == 0)
    {
        Discard();
        return {};
    }
    CloseDescriptor();
    m_bOpen = false;
    const std::string temp = std::move(m_strTempPath);
    m_strTempPath.clear();
    // An earlier upload's .partial may be all that is left of it: take the
    // next free name rather than replace it.
    std::string partial = PartialPath();
    int error = EEXIST;
    for (int number = 1; number <= kPartialNameAttempts && error == EEXIST; ++number)
    {
        error = RenameWithoutReplacing(temp, partial);
        if (error == EEXIST)
            partial = m_strTargetPath + "." + std::to_string(number) + kPartialSuffix;
    }
    if (error != 0)
    {
        // The data stays where it is rather than being lost.
        Fail(error, "Cannot rename the received data to", partial);
        return temp;
    }
    return partial;
}
