#include "serial/PosixPortLayer.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace posixport
{
namespace
{
int RetryIoctl(int fd, unsigned long request, void* argument)
{
    int result;
    do
        result = ::ioctl(fd, request, argument);
    while (result < 0 && errno == EINTR);
    return result;
}

int CharacterSizeFlag(std::uint8_t byteSize)
{
    switch (byteSize)
    {
    case 5: return CS5;
    case 6: return CS6;
    case 7: return CS7;
    case 8: return CS8;
    default: return -1;
    }
}
} // namespace

unsigned SpeedCode(std::uint32_t baudRate)
{
    switch (baudRate)
    {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    default: return 0;
    }
}

int OpenExclusive(const std::string& path, int& fd)
{
    fd = -1;
    if (path.empty())
        return ENOENT;
    int handle;
    do
        handle = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    while (handle < 0 && errno == EINTR);
    if (handle < 0)
        return errno;
    if (!::isatty(handle))
    {
        ::close(handle);
        return ENOTTY;
    }
    if (::flock(handle, LOCK_EX | LOCK_NB) != 0)
    {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(handle);
        return error;
    }
    // Keeps other programs from opening the tty (root is not held back by it; the
    // flock above still is, for programs that respect it).
    RetryIoctl(handle, TIOCEXCL, nullptr);
    fd = handle;
    return 0;
}

int FillLineSettings(termios& tio, const LineSettings& settings)
{
    const unsigned speed = SpeedCode(settings.baudRate);
    const int sizeFlag = CharacterSizeFlag(settings.byteSize);
    if (speed == 0 || sizeFlag < 0 || settings.parity > 4 || settings.stopBits > 2)
        return EINVAL;
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK | ISTRIP);
    tio.c_iflag |= IGNBRK;
    tio.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= tcflag_t(sizeFlag) | CLOCAL | CREAD;
    switch (settings.parity)
    {
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    // Linux has no one and a half stop bits; the UART sends 1.5 for CSTOPB at 5 bits.
    if (settings.stopBits != 0)
        tio.c_cflag |= CSTOPB;
    tio.c_cc[VMIN] = 1; // with O_NONBLOCK: EAGAIN when empty, 0 only at hang-up
    tio.c_cc[VTIME] = 0;
    tio.c_cc[VSTART] = 0x11;
    tio.c_cc[VSTOP] = 0x13;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0)
        return errno;
    return 0;
}

int ApplyLineSettings(int fd, const LineSettings& settings)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return errno;
    if (const int error = FillLineSettings(tio, settings); error != 0)
        return error;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0)
        return errno;
    return 0;
}

void SetModemLines(int fd, bool dtr, bool rts)
{
    int bits = TIOCM_DTR;
    RetryIoctl(fd, dtr ? TIOCMBIS : TIOCMBIC, &bits);
    bits = TIOCM_RTS;
    RetryIoctl(fd, rts ? TIOCMBIS : TIOCMBIC, &bits);
}

void RequestLowLatency(int fd)
{
    serial_struct info{};
    if (RetryIoctl(fd, TIOCGSERIAL, &info) != 0)
        return;
    if (info.flags & ASYNC_LOW_LATENCY)
        return;
    info.flags |= ASYNC_LOW_LATENCY;
    RetryIoctl(fd, TIOCSSERIAL, &info);
}

void FlushBoth(int fd)
{
    ::tcflush(fd, TCIOFLUSH);
}

void FlushInput(int fd)
{
    ::tcflush(fd, TCIFLUSH);
}

int DrainOutput(int fd)
{
    int result;
    do
        result = ::tcdrain(fd);
    while (result < 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

void CloseExclusive(int fd)
{
    if (fd < 0)
        return;
    RetryIoctl(fd, TIOCNXCL, nullptr);
    int bits = TIOCM_DTR;
    RetryIoctl(fd, TIOCMBIC, &bits);
    ::close(fd);
}
} // namespace posixport
