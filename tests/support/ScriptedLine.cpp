#include "support/ScriptedLine.h"

#include "serial/PortNames.h"

#include <cerrno>
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
    m_strPath = name;
    SetPortDevice(m_nPortNumber, m_strPath);
}

CScriptedLine::~CScriptedLine()
{
    SetPortDevice(m_nPortNumber, "");
    HangUp();
    if (m_slave >= 0)
        close(m_slave);
}

std::vector<std::uint8_t> CScriptedLine::Take(int waitMs)
{
    std::vector<std::uint8_t> result;
    if (m_master < 0)
        return result;
    int timeout = waitMs;
    for (;;)
    {
        pollfd pfd{m_master, POLLIN, 0};
        if (poll(&pfd, 1, timeout) <= 0 || !(pfd.revents & POLLIN))
            break;
        std::uint8_t buffer[4096];
        const ssize_t got = read(m_master, buffer, sizeof buffer);
        if (got <= 0)
            break;
        result.insert(result.end(), buffer, buffer + got);
        timeout = 20;
    }
    return result;
}

std::vector<std::uint8_t> CScriptedLine::TakeExactly(std::size_t count, int waitMs)
{
    std::vector<std::uint8_t> result;
    while (m_master >= 0 && result.size() < count)
    {
        pollfd pfd{m_master, POLLIN, 0};
        if (poll(&pfd, 1, waitMs) <= 0 || !(pfd.revents & POLLIN))
            break;
        std::uint8_t buffer[4096];
        const std::size_t want = std::min(sizeof buffer, count - result.size());
        const ssize_t got = read(m_master, buffer, want);
        if (got <= 0)
            break;
        result.insert(result.end(), buffer, buffer + got);
    }
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
    if (m_master >= 0)
    {
        close(m_master);
        m_master = -1;
    }
}
} // namespace testsupport
