#include "receiver/ReceiverLine.h"

#include "protocol/Clock.h"
#include "serial/PosixPortLayer.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace
{
// Paced writes go out in slices of about this much wire time, the way a UART's
// FIFO hands bytes to the other side in small bursts.
constexpr auto kPaceSlice = std::chrono::milliseconds(5);
constexpr int kDrainPollMs = 10;

// The termios speed of a rate, B0 for one the port layer does not support.
speed_t SpeedFor(int baudRate)
{
    return baudRate > 0 ? speed_t(posixport::SpeedCode(std::uint32_t(baudRate))) : B0;
}

std::string ErrnoText(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}
} // namespace

CReceiverLine::CReceiverLine()
{
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

CReceiverLine::~CReceiverLine()
{
    Close();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void CReceiverLine::Close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_slaveFd >= 0)
        ::close(m_slaveFd);
    m_fd = -1;
    m_slaveFd = -1;
    m_strSlavePath.clear();
}

bool CReceiverLine::ApplyRawMode(int fd, int baudRate, std::string& error)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0)
    {
        error = ErrnoText("tcgetattr");
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~tcflag_t(CSIZE | CSTOPB | PARENB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    const speed_t speed = SpeedFor(baudRate);
    if (speed != B0)
        cfsetspeed(&tio, speed);
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
    {
        error = ErrnoText("tcsetattr");
        return false;
    }
    return true;
}

bool CReceiverLine::OpenPty(std::string& error)
{
    Close();
    if (m_wakeFd < 0)
    {
        error = ErrnoText("eventfd");
        return false;
    }
    m_fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_fd < 0)
    {
        error = ErrnoText("posix_openpt");
        return false;
    }
    char name[128];
    if (grantpt(m_fd) != 0 || unlockpt(m_fd) != 0 || ptsname_r(m_fd, name, sizeof name) != 0)
    {
        error = ErrnoText("pseudo-terminal setup");
        Close();
        return false;
    }
    fcntl(m_fd, F_SETFL, fcntl(m_fd, F_GETFL) | O_NONBLOCK);
    m_slaveFd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_slaveFd < 0)
    {
        error = ErrnoText(std::string("open ") + name);
        Close();
        return false;
    }
    // Raw at once: an echoing slave would send the PC's bytes straight back to it.
    if (!ApplyRawMode(m_slaveFd, 9600, error))
    {
        Close();
        return false;
    }
    m_strSlavePath = name;
    m_bIsDevice = false;
    m_nBaudRate = 9600;
    m_txFree = m_rxFree = Clock::now();
    m_bRxBusy = false;
    return true;
}

bool CReceiverLine::OpenDevice(const std::string& path, std::string& error)
{
    Close();
    if (m_wakeFd < 0)
    {
        error = ErrnoText("eventfd");
        return false;
    }
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0)
    {
        error = ErrnoText("open " + path);
        return false;
    }
    if (!ApplyRawMode(m_fd, 9600, error))
    {
        error = path + ": " + error;
        Close();
        return false;
    }
    tcflush(m_fd, TCIOFLUSH);
    m_bIsDevice = true;
    m_nBaudRate = 9600;
    m_txFree = m_rxFree = Clock::now();
    m_bRxBusy = false;
    return true;
}

void CReceiverLine::SetRate(int baudRate)
{
    m_nBaudRate = baudRate;
    if (m_bIsDevice && m_fd >= 0)
    {
        // After what was sent at the old rate has left.
        termios tio{};
        if (tcgetattr(m_fd, &tio) == 0 && SpeedFor(baudRate) != B0)
        {
            cfsetspeed(&tio, SpeedFor(baudRate));
            tcsetattr(m_fd, TCSADRAIN, &tio);
        }
    }
}

int CReceiverLine::WaitForPeerRate(int baudRate, int timeoutMs) const
{
    static constexpr int kCommonRates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 230400};
    static constexpr auto kPollInterval = std::chrono::milliseconds(2);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;)
    {
        // The master of a pseudo-terminal reports the settings of its slave.
        termios tio{};
        int seen = 0;
        if (m_fd >= 0 && tcgetattr(m_fd, &tio) == 0)
        {
            for (const int rate : kCommonRates)
                if (cfgetospeed(&tio) == SpeedFor(rate))
                    seen = rate;
        }
        if (seen == baudRate || Clock::now() >= deadline)
            return seen;
        std::this_thread::sleep_for(kPollInterval);
    }
}

void CReceiverLine::SetPace(bool bPace, int nFixedBaud)
{
    m_bPace = bPace;
    m_nFixedPaceBaud = nFixedBaud;
}

int CReceiverLine::PaceBaud() const
{
    return m_nFixedPaceBaud > 0 ? m_nFixedPaceBaud : m_nBaudRate;
}

CReceiverLine::Clock::duration CReceiverLine::ByteTime() const
{
    // 10 bits on the wire per byte: start, 8 data, stop.
    return std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(10'000'000'000LL / PaceBaud()));
}

CReceiverLine::Result CReceiverLine::SleepUntil(Clock::time_point until)
{
    // As the PC's pauses do: sleep until the thread's recent timer lateness
    // before `until`, then watch the clock, so that a late wake-up does not
    // lengthen a byte's wire time (87 us at 115200 baud).
    const auto wake = until - m_wakeLateness;
    while (true)
    {
        const auto now = Clock::now();
        if (now >= wake)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now).count();
        timespec ts{time_t(left / 1'000'000'000), long(left % 1'000'000'000)};
        pollfd wakeFd{m_wakeFd, POLLIN, 0};
        const int ready = ppoll(&wakeFd, 1, &ts, nullptr);
        if (ready > 0)
            return Result::Woken;
        if (ready < 0 && errno != EINTR)
            return Result::Failed;
        if (ready == 0)
        {
            m_wakeLateness = NextWakeLateness(m_wakeLateness, Clock::now() - wake);
            break;
        }
    }
    while (Clock::now() < until)
    {
    }
    return Result::Ok;
}

CReceiverLine::Result CReceiverLine::Pause(int milliseconds)
{
    return SleepUntil(Clock::now() + std::chrono::milliseconds(milliseconds));
}

CReceiverLine::Result CReceiverLine::Read(std::uint8_t* buffer, std::size_t capacity, int timeoutMs,
                                          std::size_t& length)
{
    length = 0;
    if (m_fd < 0)
    {
        m_strLastError = "the line is not open";
        return Result::Failed;
    }
    if (m_bPace && m_bRxBusy)
    {
        // Bytes already waiting when the last ones' wire time ended were sent
        // behind them and follow them back to back: a late wake-up of this
        // thread does not lengthen the simulated line.
        m_bRxBusy = false;
        const ssize_t count = ::read(m_fd, buffer, capacity);
        if (count > 0)
        {
            length = std::size_t(count);
            PaceReceived(m_rxFree, length);
            return Result::Ok;
        }
    }
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    const int ready = poll(fds, 2, timeoutMs < 0 ? -1 : timeoutMs);
    if (ready < 0)
    {
        if (errno == EINTR)
            return Result::TimedOut;
        m_strLastError = ErrnoText("poll");
        return Result::Failed;
    }
    if (fds[1].revents & POLLIN)
        return Result::Woken;
    if (ready == 0)
        return Result::TimedOut;
    if (!(fds[0].revents & POLLIN) && (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)))
    {
        m_strLastError = "the line hung up";
        return Result::Failed;
    }
    const ssize_t count = ::read(m_fd, buffer, capacity);
    if (count < 0)
    {
        if (errno == EAGAIN || errno == EINTR)
            return Result::TimedOut;
        m_strLastError = ErrnoText("read");
        return Result::Failed;
    }
    length = std::size_t(count);
    if (m_bPace && length > 0)
        PaceReceived(std::max(Clock::now(), m_rxFree), length);
    return Result::Ok;
}

void CReceiverLine::PaceReceived(Clock::time_point start, std::size_t length)
{
    // The bytes count as received once their wire time from `start` has passed.
    m_rxFree = start + ByteTime() * std::int64_t(length);
    SleepUntil(m_rxFree);
    m_bRxBusy = true;
}

CReceiverLine::Result CReceiverLine::Write(const std::uint8_t* data, std::size_t length, int stallTimeoutMs,
                                           std::size_t& done)
{
    done = 0;
    if (m_fd < 0)
    {
        m_strLastError = "the line is not open";
        return Result::Failed;
    }
    std::size_t slice = length;
    if (m_bPace)
    {
        slice = std::max<std::size_t>(1, std::size_t(kPaceSlice / ByteTime()));
        m_txFree = std::max(Clock::now(), m_txFree);
    }
    while (done < length)
    {
        const std::size_t part = std::min(slice, length - done);
        if (m_bPace)
        {
            // A byte reaches the PC once its last bit is on the wire.
            m_txFree += ByteTime() * std::int64_t(part);
            if (SleepUntil(m_txFree) == Result::Woken)
            {
                m_txFree -= ByteTime() * std::int64_t(part);
                return Result::Woken;
            }
        }
        std::size_t written = 0;
        auto stallSince = Clock::now();
        while (written < part)
        {
            const ssize_t count = ::write(m_fd, data + done + written, part - written);
            if (count > 0)
            {
                written += std::size_t(count);
                stallSince = Clock::now();
                continue;
            }
            if (count < 0 && errno != EAGAIN && errno != EINTR)
            {
                m_strLastError = ErrnoText("write");
                return Result::Failed;
            }
            const int waitedMs = int(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - stallSince)
                                         .count());
            if (waitedMs >= stallTimeoutMs)
            {
                m_strLastError = "the PC took no bytes for " + std::to_string(stallTimeoutMs / 1000) + " s";
                return Result::Failed;
            }
            pollfd fds[2] = {{m_fd, POLLOUT, 0}, {m_wakeFd, POLLIN, 0}};
            // Once a slice has begun it is finished; a wake waits for the slice's end.
            poll(fds, written == 0 ? 2 : 1, std::min(100, stallTimeoutMs - waitedMs));
            if (written == 0 && (fds[1].revents & POLLIN))
            {
                if (m_bPace)
                    m_txFree -= ByteTime() * std::int64_t(part);
                return Result::Woken;
            }
        }
        done += part;
    }
    return Result::Ok;
}

void CReceiverLine::DrainToPeer(int timeoutMs)
{
    if (m_fd < 0)
        return;
    if (m_bIsDevice)
    {
        tcdrain(m_fd);
        return;
    }
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < until)
    {
        // Bytes written to the master wait in the slave's input queue until the PC reads them.
        if (Pause(kDrainPollMs) != Result::Ok)
            return;
        int pending = 0;
        if (ioctl(m_slaveFd, FIONREAD, &pending) != 0 || pending == 0)
            return;
    }
}

void CReceiverLine::DiscardInput()
{
    if (m_fd < 0)
        return;
    m_bRxBusy = false;
    std::uint8_t scratch[1024];
    while (::read(m_fd, scratch, sizeof scratch) > 0)
    {
    }
}

void CReceiverLine::Wake()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void CReceiverLine::ClearWake()
{
    std::uint64_t value = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &value, sizeof value);
}
