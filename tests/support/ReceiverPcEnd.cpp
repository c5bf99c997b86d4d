#include "ReceiverPcEnd.h"

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace testsupport
{
CReceiverPcEnd::~CReceiverPcEnd()
{
    Close();
}

bool CReceiverPcEnd::Open(const std::string& path)
{
    Close();
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0)
        return false;
    termios tio{};
    tcgetattr(m_fd, &tio);
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tcsetattr(m_fd, TCSANOW, &tio);
    return true;
}

void CReceiverPcEnd::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

void CReceiverPcEnd::Purge()
{
    if (m_fd >= 0)
        tcflush(m_fd, TCIOFLUSH);
}

bool CReceiverPcEnd::Send(const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size())
    {
        const ssize_t count = ::write(m_fd, bytes.data() + done, bytes.size() - done);
        if (count > 0)
        {
            done += std::size_t(count);
            continue;
        }
        pollfd fd{m_fd, POLLOUT, 0};
        if (poll(&fd, 1, 5000) <= 0)
            return false;
    }
    return true;
}

std::vector<std::uint8_t> CReceiverPcEnd::Receive(std::size_t count, std::chrono::milliseconds timeout)
{
    std::vector<std::uint8_t> bytes;
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (bytes.size() < count && m_fd >= 0)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
        if (left <= 0)
            break;
        pollfd fd{m_fd, POLLIN, 0};
        if (poll(&fd, 1, int(left)) <= 0)
            continue;
        std::uint8_t buffer[2048];
        const ssize_t n = ::read(m_fd, buffer, std::min(sizeof buffer, count - bytes.size()));
        if (n > 0)
            bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}

std::vector<std::uint8_t> CReceiverPcEnd::ReceiveAvailable(std::chrono::milliseconds timeout)
{
    std::vector<std::uint8_t> bytes;
    auto wait = timeout;
    while (m_fd >= 0)
    {
        pollfd fd{m_fd, POLLIN, 0};
        if (poll(&fd, 1, int(wait.count())) <= 0)
            break;
        std::uint8_t buffer[2048];
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + n);
        wait = std::chrono::milliseconds(50);
    }
    return bytes;
}
} // namespace testsupport
