#include "image/ImageStream.h"

#include "image/StbCodec.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace
{
constexpr std::size_t kReadBlockBytes = 65536;
} // namespace

bool ReadImageStream(int fd, const std::string& name, std::vector<std::uint8_t>& bytes, std::string& error)
{
    bytes.clear();
    std::uint8_t block[kReadBlockBytes];
    for (;;)
    {
        // Waiting in poll rather than in read: a FIFO that no writer has
        // opened yet reads as its end, but does not poll readable.
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, -1) < 0 && errno != EINTR)
            break;
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got == 0)
            return true;
        if (got < 0)
        {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            break;
        }
        bytes.insert(bytes.end(), block, block + got);
        if (bytes.size() > kMaxStbImageBytes)
        {
            bytes.clear();
            error = name + " holds more than the " + std::to_string(kMaxStbImageBytes) +
                    " bytes (256 MiB) an image may have";
            return false;
        }
    }
    error = "cannot read " + name + ": " + std::strerror(errno);
    bytes.clear();
    return false;
}

bool ReadImageStream(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = ReadImageStream(fd, path, bytes, error);
    ::close(fd);
    return ok;
}
