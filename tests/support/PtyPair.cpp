#include "support/PtyPair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace testsupport
{
namespace
{
void MakeRaw(int fd)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return;
    ::cfmakeraw(&tio);
    ::tcsetattr(fd, TCSANOW, &tio);
}
} // namespace

CPtyPair::CPtyPair()
{
    char name[256] = {};
    if (::openpty(&m_nMasterFd, &m_nSlaveFd, name, nullptr, nullptr) != 0)
    {
        ADD_FAILURE() << "openpty failed: " << std::strerror(errno);
        return;
    }
    m_strSlavePath = name;
    MakeRaw(m_nMasterFd);
    MakeRaw(m_nSlaveFd);
    ::fcntl(m_nMasterFd, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_nSlaveFd, F_SETFD, FD_CLOEXEC);
}

CPtyPair::~CPtyPair()
{
    CloseMaster();
    if (m_nSlaveFd >= 0)
        ::close(m_nSlaveFd);
}

void CPtyPair::CloseMaster()
{
    if (m_nMasterFd >= 0)
        ::close(m_nMasterFd);
    m_nMasterFd = -1;
}

bool CPtyPair::Send(const void* data, std::size_t length)
{
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t sent = 0;
    while (sent < length)
    {
        const ssize_t n = ::write(m_nMasterFd, bytes + sent, length - sent);
        if (n > 0)
            sent += std::size_t(n);
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            return false;
    }
    return true;
}

std::vector<unsigned char> CPtyPair::Receive(std::size_t count, std::chrono::milliseconds timeout)
{
    std::vector<unsigned char> bytes;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (bytes.size() < count)
    {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd fd{m_nMasterFd, POLLIN, 0};
        if (::poll(&fd, 1, int(left.count())) <= 0)
            continue;
        unsigned char buffer[4096];
        const std::size_t want = std::min(sizeof buffer, count - bytes.size());
        const ssize_t n = ::read(m_nMasterFd, buffer, want);
        if (n > 0)
            bytes.insert(bytes.end(), buffer, buffer + n);
        else if (n < 0 && errno != EINTR && errno != EAGAIN)
            break;
    }
    return bytes;
}

std::vector<unsigned char> CPtyPair::ReceiveAvailable(std::chrono::milliseconds timeout)
{
    std::vector<unsigned char> bytes;
    pollfd fd{m_nMasterFd, POLLIN, 0};
    while (::poll(&fd, 1, int(timeout.count())) > 0)
    {
        unsigned char buffer[4096];
        const ssize_t n = ::read(m_nMasterFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
}
} // namespace testsupport
