#include "support/ScriptedLine.h"

#include "serial/PortNames.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdexcept>
#include <termios.h>
#include <unistd.h>

namespace testsupport
{
namespace
{
void MakeRaw(int fd)
{
    termios tio{};
    if (tcgetattr(fd, &tio) == 0)
    {
        cfmakeraw(&tio);
        tcsetattr(fd, TCSANOW, &tio);
    }
}

int BaudOf(speed_t speed)
{
    switch (speed)
    {
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return 0;
    }
}
} // namespace

CScriptedLine::CScriptedLine(int portNumber) : m_nPortNumber(portNumber)
{
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    MakeRaw(m_master);
    MakeRaw(m_slave);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    // A command the test starts must not hold the line open: HangUp() would not reach it.
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    m_wakeRead = pipeFds[0];
    m_wakeWrite = pipeFds[1];
    m_strPath = name;
    SetPortDevice(m_nPortNumber, m_strPath);
    m_reader = std::thread([this] { ReadLoop(); });
}

CScriptedLine::~CScriptedLine()
{
    SetPortDevice(m_nPortNumber, "");
    HangUp();
    if (m_slave >= 0)
        close(m_slave);
    close(m_wakeRead);
    close(m_wakeWrite);
}

void CScriptedLine::ReadLoop()
{
    for (;;)
    {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_wakeRead, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents)
            return;
        if (!(fds[0].revents & POLLIN))
        {
            if (fds[0].revents & (POLLHUP | POLLERR))
                std::this_thread::sleep_for(std::chrono::milliseconds(1)); // no slave open just now
            continue;
        }
        std::uint8_t buffer[4096];
        const ssize_t got = read(m_master, buffer, sizeof buffer);
        if (got > 0)
        {
            std::lock_guard lock(m_mutex);
            m_received.insert(m_received.end(), buffer, buffer + got);
            m_arrived.notify_all();
        }
    }
}

std::vector<std::uint8_t> CScriptedLine::Take(int waitMs)
{
    std::unique_lock lock(m_mutex);
    m_arrived.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return !m_received.empty(); });
    // Bytes still on their way come within a few milliseconds of the first.
    std::size_t seen = 0;
    while (seen != m_received.size())
    {
        seen = m_received.size();
        m_arrived.wait_for(lock, std::chrono::milliseconds(20), [&] { return m_received.size() != seen; });
    }
    std::vector<std::uint8_t> result(m_received.begin(), m_received.end());
    m_received.clear();
    return result;
}

std::vector<std::uint8_t> CScriptedLine::TakeExactly(std::size_t count, int waitMs)
{
    std::unique_lock lock(m_mutex);
    m_arrived.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return m_received.size() >= count; });
    const std::size_t n = std::min(count, m_received.size());
    std::vector<std::uint8_t> result(m_received.begin(), m_received.begin() + std::ptrdiff_t(n));
    m_received.erase(m_received.begin(), m_received.begin() + std::ptrdiff_t(n));
    return result;
}

void CScriptedLine::Send(const std::vector<std::uint8_t>& bytes)
{
    std::size_t done = 0;
    while (m_master >= 0 && done < bytes.size())
    {
        const ssize_t put = write(m_master, bytes.data() + done, bytes.size() - done);
        if (put > 0)
            done += std::size_t(put);
        else if (put < 0 && errno != EAGAIN && errno != EINTR)
            break;
        else
        {
            pollfd pfd{m_master, POLLOUT, 0};
            poll(&pfd, 1, 100);
        }
    }
}

int CScriptedLine::BaudRate() const
{
    termios tio{};
    if (m_slave < 0 || tcgetattr(m_slave, &tio) != 0)
        return 0;
    return BaudOf(cfgetospeed(&tio));
}

void CScriptedLine::HangUp()
{
    if (m_reader.joinable())
    {
        const char wake = 1;
        (void)!write(m_wakeWrite, &wake, 1);
        m_reader.join();
    }
    if (m_master >= 0)
    {
        close(m_master);
        m_master = -1;
    }
}
} // namespace testsupport
