#include "serial/NetworkLine.h"

#include "serial/HostLookup.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace telnet;
using Clock = std::chrono::steady_clock;

namespace
{
// A server that vanishes without closing (power cut, cable) is noticed within
// about ten seconds instead of never.
constexpr int kKeepAliveIdleS = 5;
constexpr int kKeepAliveIntervalS = 2;
constexpr int kKeepAliveProbes = 3;
constexpr unsigned kUnacknowledgedSendLimitMs = 10000;
constexpr std::size_t kReadBlockBytes = 1024;

int MillisecondsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

std::string Seconds(std::chrono::milliseconds duration)
{
    return std::to_string(duration.count() / 1000) + " s";
}

bool SameSettings(const posixport::LineSettings& a, const posixport::LineSettings& b)
{
    return a.baudRate == b.baudRate && a.byteSize == b.byteSize && a.parity == b.parity && a.stopBits == b.stopBits;
}

void TuneSocket(int fd)
{
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdleS, sizeof kKeepAliveIdleS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveIntervalS, sizeof kKeepAliveIntervalS);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveProbes, sizeof kKeepAliveProbes);
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUnacknowledgedSendLimitMs, sizeof kUnacknowledgedSendLimitMs);
}

// One non-blocking connect, bounded by `deadline`. The socket or -1 with `error`.
int ConnectTo(const ResolvedAddress& address, Clock::time_point deadline, int& error)
{
    const int fd = ::socket(address.family, address.socketType | SOCK_NONBLOCK | SOCK_CLOEXEC, address.protocol);
    if (fd < 0)
    {
        error = errno;
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address.address), address.length) != 0 &&
        errno != EINPROGRESS)
    {
        error = errno;
        ::close(fd);
        return -1;
    }
    pollfd wait{fd, POLLOUT, 0};
    int ready;
    do
        ready = ::poll(&wait, 1, MillisecondsLeft(deadline));
    while (ready < 0 && errno == EINTR);
    int result = 0;
    socklen_t size = sizeof result;
    if (ready == 0)
        result = ETIMEDOUT;
    else if (ready < 0)
        result = errno;
    else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &size) != 0)
        result = errno;
    if (result != 0)
    {
        error = result;
        ::close(fd);
        return -1;
    }
    return fd;
}
} // namespace

std::shared_ptr<CNetworkLine> CNetworkLine::Connect(const NetworkLineUrl& url, int& error, std::string& detail)
{
    error = 0;
    detail.clear();
    // The lookup and the connect share one deadline.
    const Clock::time_point deadline = Clock::now() + kConnectTimeout;
    const HostLookupResult lookup = LookUpHost(url.host, url.port, deadline);
    if (lookup.bTimedOut)
    {
        error = ETIMEDOUT;
        detail = "no answer for the host name \"" + url.host + "\" within " + Seconds(kConnectTimeout) +
                 " (name lookup time-out)";
        return nullptr;
    }
    if (lookup.failure != 0)
    {
        error = lookup.failure == EAI_SYSTEM ? lookup.systemError : EHOSTUNREACH;
        detail = "unknown host \"" + url.host + "\" (" + ::gai_strerror(lookup.failure) + ")";
        return nullptr;
    }
    int fd = -1;
    for (const ResolvedAddress& address : lookup.addresses)
    {
        fd = ConnectTo(address, deadline, error);
        if (fd >= 0)
            break;
    }
    if (fd < 0)
    {
        if (error == ETIMEDOUT)
            detail = "no connection to " + url.host + ":" + url.port + " within " + Seconds(kConnectTimeout) +
                     " (connect time-out)";
        return nullptr;
    }
    error = 0;
    TuneSocket(fd);
    std::shared_ptr<CNetworkLine> line(new CNetworkLine(url, fd));
    if (url.kind == NetworkLineUrl::Kind::Rfc2217)
    {
        error = line->Negotiate(detail);
        if (error != 0)
            return nullptr;
    }
    return line;
}

CNetworkLine::~CNetworkLine()
{
    // Ends our side and reads until the server ends its own: closing with
    // unread bytes would reset the connection and could drop our last bytes.
    ::shutdown(m_nFd, SHUT_WR);
    const Clock::time_point deadline = Clock::now() + kCloseGrace;
    char block[kReadBlockBytes];
    for (;;)
    {
        pollfd wait{m_nFd, POLLIN, 0};
        const int timeoutMs = MillisecondsLeft(deadline);
        if (timeoutMs == 0 || ::poll(&wait, 1, timeoutMs) <= 0)
            break;
        const ssize_t n = ::read(m_nFd, block, sizeof block);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
            break;
    }
    ::close(m_nFd);
}

template <typename Done>
int CNetworkLine::ReadUntil(std::chrono::milliseconds timeout, Done done, std::string& detail)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    char block[kReadBlockBytes];
    for (;;)
    {
        // The deadline holds also while bytes keep coming: a server that never
        // pauses (an endless Telnet subnegotiation) is no answer.
        const int leftMs = MillisecondsLeft(deadline);
        if (leftMs == 0)
            return ETIMEDOUT;
        pollfd wait{m_nFd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, leftMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0)
            return errno;
        if (ready == 0)
            return ETIMEDOUT;
        const ssize_t n = ::read(m_nFd, block, sizeof block);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
        {
            detail = "the server closed the connection";
            return n == 0 ? ECONNRESET : errno;
        }
        CTelnetCodec::Output out;
        {
            std::lock_guard lock(m_codecMutex);
            m_codec.Feed(block, std::size_t(n), out);
        }
        if (!out.reply.empty())
            SendRaw(out.reply, -1);
        if (done(out))
            return 0;
    }
}

int CNetworkLine::Negotiate(std::string& detail)
{
    std::string start;
    {
        std::lock_guard lock(m_codecMutex);
        start = m_codec.Start(true);
    }
    if (const int error = SendRaw(start, -1); error != 0)
        return error;
    bool refused = false;
    const int error = ReadUntil(
        kNegotiationTimeout,
        [&](const CTelnetCodec::Output& out) {
            for (const auto& event : out.events)
            {
                if (event.kind == CTelnetCodec::Event::Kind::ComPortRefused)
                    refused = true;
                if (event.kind == CTelnetCodec::Event::Kind::ComPortAccepted)
                    return true;
            }
            return refused;
        },
        detail);
    if (refused)
    {
        detail = "the server refused the Com Port option (RFC 2217); for a raw TCP port use tcp://";
        return EPROTONOSUPPORT;
    }
    if (error == ETIMEDOUT)
    {
        detail = "the server did not negotiate the Com Port option (RFC 2217) within " +
                 Seconds(kNegotiationTimeout);
        return EPROTO;
    }
    return error;
}

std::string CNetworkLine::SettingsRequests(const posixport::LineSettings& settings) const
{
    // Parity codes map one to one (ours 0 none .. 4 space, RFC 2217 1 none .. 5
    // space); stop-bit codes 0 one, 1 one and a half, 2 two become 1, 3, 2.
    static constexpr std::uint8_t kStopSize[] = {1, 3, 2};
    std::string out;
    out += CTelnetCodec::ComPortRequest(ComPortCommand::SetBaudRate, settings.baudRate);
    out += CTelnetCodec::ComPortRequest(ComPortCommand::SetDataSize, settings.byteSize);
    out += CTelnetCodec::ComPortRequest(ComPortCommand::SetParity, settings.parity + 1u);
    out += CTelnetCodec::ComPortRequest(ComPortCommand::SetStopSize, kStopSize[settings.stopBits % 3]);
    out += CTelnetCodec::ComPortRequest(ComPortCommand::SetControl, kControlNoFlowControl);
    // DTR and RTS up, as on a local port. Servers on a pseudo-terminal cannot
    // set them and may not answer: these answers are never waited for.
    out += CTelnetCodec::ComPortRequest(ComPortCommand::SetControl, kControlDtrOn);
    out += CTelnetCodec::ComPortRequest(ComPortCommand::SetControl, kControlRtsOn);
    return out;
}

void CNetworkLine::NoteRawRate(std::uint32_t baudRate)
{
    {
        std::lock_guard lock(m_codecMutex);
        if (m_nRawRate == 0)
            m_nRawRate = baudRate;
        if (baudRate == m_nRawRate || m_bRawRateNoted)
            return;
        m_bRawRateNoted = true;
    }
    std::fprintf(stderr,
                 "kavdm: %s is a raw TCP line: the switch to %u baud does not reach the far line, which keeps the "
                 "rate its server set (use rfc2217:// for rate switching)\n",
                 m_url.text.c_str(), unsigned(baudRate));
}

int CNetworkLine::Prepare(const posixport::LineSettings& settings, std::string& detail)
{
    detail.clear();
    m_strEarlyData.clear();
    // What arrived before this open is stale, as on a tty opened afresh. A
    // server that never stops sending gets no more than the reply time of it.
    char block[kReadBlockBytes];
    for (const Clock::time_point drainUntil = Clock::now() + kReplyTimeout; Clock::now() < drainUntil;)
    {
        const ssize_t n = ::read(m_nFd, block, sizeof block);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        if (n <= 0)
        {
            detail = "the server closed the connection";
            return n == 0 ? ECONNRESET : errno;
        }
        if (m_url.kind == NetworkLineUrl::Kind::RawTcp)
            continue;
        CTelnetCodec::Output out;
        {
            std::lock_guard lock(m_codecMutex);
            m_codec.Feed(block, std::size_t(n), out);
        }
        if (!out.reply.empty())
            SendRaw(out.reply, -1);
    }
    if (!SettingsToSend(settings))
        return 0;
    if (const int error = SendRaw(SettingsRequests(settings), -1); error != 0)
        return error;
    // Bytes before the confirmation come from the line at its old settings.
    std::uint32_t confirmed = 0;
    const int error = ReadUntil(
        kReplyTimeout,
        [&](const CTelnetCodec::Output& out) {
            for (const auto& event : out.events)
            {
                if (event.kind == CTelnetCodec::Event::Kind::ComPortReply &&
                    event.command == ComPortCommand::SetBaudRate)
                {
                    confirmed = event.value;
                    m_strEarlyData = out.data.substr(event.dataBefore);
                    return true;
                }
            }
            return false;
        },
        detail);
    if (error != 0)
    {
        std::lock_guard lock(m_codecMutex);
        m_bSettingsSent = false;
    }
    if (error == ETIMEDOUT)
    {
        detail = "the server did not confirm the rate of " + std::to_string(settings.baudRate) + " baud within " +
                 Seconds(kReplyTimeout);
        return EPROTO;
    }
    if (error != 0)
        return error;
    if (confirmed != settings.baudRate)
    {
        detail = "the server set " + std::to_string(confirmed) + " baud instead of " +
                 std::to_string(settings.baudRate);
        std::lock_guard lock(m_codecMutex);
        m_bSettingsSent = false;
        return EINVAL;
    }
    return 0;
}

std::string CNetworkLine::TakeEarlyData()
{
    return std::move(m_strEarlyData);
}

bool CNetworkLine::SettingsToSend(const posixport::LineSettings& settings)
{
    if (m_url.kind == NetworkLineUrl::Kind::RawTcp)
    {
        NoteRawRate(settings.baudRate);
        return false;
    }
    std::lock_guard lock(m_codecMutex);
    if (m_bSettingsSent && SameSettings(settings, m_applied))
        return false;
    m_bSettingsSent = true;
    m_applied = settings;
    return true;
}

int CNetworkLine::ApplySettings(const posixport::LineSettings& settings, int wakeFd)
{
    if (!SettingsToSend(settings))
        return 0;
    return SendRaw(SettingsRequests(settings), wakeFd);
}

int CNetworkLine::Send(const void* data, std::size_t length, int wakeFd)
{
    if (m_url.kind == NetworkLineUrl::Kind::RawTcp)
        return SendRaw(std::string(static_cast<const char*>(data), length), wakeFd);
    std::string escaped;
    CTelnetCodec::AppendEscaped(data, length, escaped);
    return SendRaw(escaped, wakeFd);
}

void CNetworkLine::Purge(int wakeFd)
{
    if (m_url.kind == NetworkLineUrl::Kind::Rfc2217)
        SendRaw(CTelnetCodec::ComPortRequest(ComPortCommand::PurgeData, kPurgeReceived), wakeFd);
}

void CNetworkLine::Received(const void* bytes, std::size_t length, int wakeFd, std::string& data)
{
    if (m_url.kind == NetworkLineUrl::Kind::RawTcp)
    {
        data.assign(static_cast<const char*>(bytes), length);
        return;
    }
    CTelnetCodec::Output out;
    {
        std::lock_guard lock(m_codecMutex);
        m_codec.Feed(bytes, length, out);
    }
    if (!out.reply.empty())
        SendRaw(out.reply, wakeFd);
    data = std::move(out.data);
}

int CNetworkLine::SendRaw(const std::string& bytes, int wakeFd)
{
    // Whole commands and data blocks go out one at a time, never interleaved.
    std::lock_guard lock(m_sendMutex);
    std::size_t sent = 0;
    while (sent < bytes.size())
    {
        const ssize_t n = ::send(m_nFd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n > 0)
        {
            sent += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            return errno;
        // The socket's queue is full: wait for room or for the close. Without a
        // wake-up event (opening) the wait is bounded.
        pollfd fds[2] = {{m_nFd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        const int ready = ::poll(fds, wakeFd >= 0 ? 2 : 1, wakeFd >= 0 ? -1 : int(kReplyTimeout.count()));
        if (ready < 0 && errno != EINTR)
            return errno;
        if (ready == 0)
            return ETIMEDOUT;
        if (wakeFd >= 0 && fds[1].revents != 0)
            return ECANCELED;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            return ECONNRESET;
    }
    return 0;
}
