#include "image/ImageFile.h"

#include "image/FileKind.h"
#include "image/StbCodec.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CImageFile::~CImageFile()
{
    Release();
}

void CImageFile::Release()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    std::vector<std::uint8_t>().swap(m_data);
    m_nLength = 0;
    m_nPosition = 0;
}

int CImageFile::OpenFile(const std::string& strPath)
{
    Release();
    m_bDiskMode = 1;
    m_strPath = strPath;
    m_strErrorText.clear();
    // Without waiting: a FIFO opened for reading would wait right here for a
    // writer. Only a regular file is kept (read with blocking calls).
    int fd;
    do
        fd = ::open(strPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
    {
        m_strErrorText = std::strerror(errno);
        return 0;
    }
    // A folder opens read-only but cannot be read: refuse it here with its
    // reason. Nor can a pipe, a FIFO or a device be read as a file: it has no
    // size, and what is read once is gone.
    struct stat info;
    int nError = ::fstat(fd, &info) != 0 ? errno : S_ISDIR(info.st_mode) ? EISDIR : 0;
    if (nError == 0 && !S_ISREG(info.st_mode))
        m_strErrorText = "it is " + FileKindText(info.st_mode) + ", not a regular file";
    else if (nError == 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        nError = errno;
    if (nError != 0)
        m_strErrorText = std::strerror(nError);
    if (!m_strErrorText.empty())
    {
        ::close(fd);
        return 0;
    }
    m_fd = fd;
    m_openedInfo = info;
    return 1;
}

int CImageFile::Allocate(std::uint32_t nLength)
{
    Release();
    m_strPath.clear();
    m_strErrorText.clear();
    try
    {
        m_data.assign(nLength, 0);
    }
    catch (const std::bad_alloc&)
    {
        m_strErrorText = kMemoryAssignError;
        return 0;
    }
    m_bDiskMode = 0;
    m_nLength = nLength;
    m_nPosition = 0;
    return 1;
}

int CImageFile::Assign(std::vector<std::uint8_t>&& data)
{
    Release();
    m_strPath.clear();
    m_strErrorText.clear();
    if (data.size() > UINT32_MAX)
    {
        m_strErrorText = "the image is too large";
        return 0;
    }
    m_data = std::move(data);
    m_bDiskMode = 0;
    m_nLength = std::uint32_t(m_data.size());
    m_nPosition = 0;
    return 1;
}

int CImageFile::Read(void* pBuffer, std::uint32_t nCount)
{
    auto* out = static_cast<std::uint8_t*>(pBuffer);
    if (!m_bDiskMode)
    {
        const std::uint32_t nAvailable = m_nPosition < m_nLength ? m_nLength - m_nPosition : 0;
        const std::uint32_t nCopied = std::min(nAvailable, nCount);
        if (nCopied > 0)
            std::memcpy(out, m_data.data() + m_nPosition, nCopied);
        m_nPosition += nCopied;
        return nCopied == nCount ? 1 : 0;
    }

    if (m_fd < 0)
        return 0;
    m_strErrorText.clear();
    std::uint32_t nDone = 0;
    while (nDone < nCount)
    {
        const ssize_t n = ::read(m_fd, out + nDone, nCount - nDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
        {
            m_strErrorText = std::strerror(errno);
            break;
        }
        if (n == 0)
            break;
        nDone += std::uint32_t(n);
    }
    return int(std::min<std::uint32_t>(nDone, INT32_MAX));
}

std::int64_t CImageFile::Seek(std::int64_t nOffset, Origin origin)
{
    if (m_bDiskMode)
    {
        if (m_fd < 0)
            return -1;
        const int whence = origin == Origin::Begin ? SEEK_SET : origin == Origin::End ? SEEK_END : SEEK_CUR;
        const off_t position = ::lseek(m_fd, off_t(nOffset), whence);
        if (position < 0)
            m_strErrorText = std::strerror(errno);
        return position;
    }

    const std::int64_t nBase = origin == Origin::Begin ? 0 : origin == Origin::End ? m_nLength : m_nPosition;
    const std::int64_t nTarget = std::max<std::int64_t>(nBase + nOffset, 0);
    // Past the end parks on the last byte, not on the length (for an empty image that wraps, as
    // the position is unsigned, and every later read of a byte or more still finds the end).
    m_nPosition = nTarget < std::int64_t(m_nLength) ? std::uint32_t(nTarget) : m_nLength - 1;
    return 1;
}

void CImageFile::Rewind()
{
    if (m_bDiskMode)
        Seek(0, Origin::Begin);
    else
        m_nPosition = 0;
}

std::uint64_t CImageFile::GetLength() const
{
    if (!m_bDiskMode)
        return m_nLength;
    struct stat info;
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0)
        return 0;
    return std::uint64_t(info.st_size);
}

bool CImageFile::ChangedSinceOpened() const
{
    if (!m_bDiskMode)
        return false;
    struct stat info;
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0)
        return true;
    return info.st_size < m_openedInfo.st_size || info.st_mtim.tv_sec != m_openedInfo.st_mtim.tv_sec ||
           info.st_mtim.tv_nsec != m_openedInfo.st_mtim.tv_nsec;
}

void CImageFile::Close()
{
    if (m_bDiskMode)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        return;
    }
    std::vector<std::uint8_t>().swap(m_data);
    m_nLength = 0;
    m_nPosition = 0;
}
