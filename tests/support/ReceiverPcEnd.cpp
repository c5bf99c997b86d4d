#include "ReceiverPcEnd.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <thread>
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

namespace testsupport
{
namespace
{
constexpr auto kAnswerTime = std::chrono::seconds(10);

std::string Hex(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    char hex[8];
    for (std::size_t i = 0; i < bytes.size() && i < 8; ++i)
    {
        std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
        text += hex;
    }
    return text.empty() ? " (nothing)" : text;
}

bool Expect(CReceiverPcEnd& pc, const std::vector<std::uint8_t>& expected, const std::string& what,
            std::string& error)
{
    const auto got = pc.Receive(expected.size(), kAnswerTime);
    if (got == expected)
        return true;
    error = what + ": expected" + Hex(expected) + ", got" + Hex(got);
    return false;
}

// Reads until `wanted` comes, skipping repeats of the receiver's announcements.
bool AwaitByte(CReceiverPcEnd& pc, std::uint8_t wanted, const std::string& what, std::string& error)
{
    const auto until = std::chrono::steady_clock::now() + kAnswerTime;
    while (std::chrono::steady_clock::now() < until)
    {
        const auto got = pc.Receive(1, std::chrono::milliseconds(200));
        if (got.empty())
            continue;
        if (got[0] == wanted)
            return true;
        if (got[0] != VR520_RATE && got[0] != VR520_READY)
        {
            error = what + ": unexpected" + Hex(got);
            return false;
        }
    }
    error = what + ": nothing came";
    return false;
}

std::vector<std::uint8_t> DataPacket(const ReceiverModule& module, int k, std::uint8_t (&buffer)[kPacketBufferSize])
{
    const int length = ModuleDataLength(module.header);
    const int packets = std::max(1, (length + kPacketDataSize - 1) / kPacketDataSize);
    const int offset = (k - 1) * kPacketDataSize;
    const int count = std::clamp(length - offset, 0, kPacketDataSize);
    buffer[0] = VR520_DATA;
    buffer[1] = BlockNumberByte(k, k == packets);
    if (count > 0)
        std::memcpy(buffer + 2, module.data.data() + offset, std::size_t(count));
    const auto packet = BuildDataPacket(buffer);
    return {packet.begin(), packet.end()};
}
} // namespace

bool PlayDownloadPc(CReceiverPcEnd& pc, const std::string& path, const std::vector<ReceiverModule>& modules,
                    std::uint8_t rateCode, std::uint8_t functionCode, std::string& error)
{
    auto first = pc.Receive(1, kAnswerTime);
    if (!first.empty() && first[0] == VR520_RATE)
    {
        pc.Send({rateCode});
        if (rateCode > 1)
        {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            pc.Close();
            if (!pc.Open(path))
            {
                error = "cannot reopen " + path;
                return false;
            }
            pc.Purge();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!AwaitByte(pc, VR520_READY, "ready after the rate", error))
            return false;
    }
    else if (first.empty() || first[0] != VR520_READY)
    {
        error = "announcement: got" + Hex(first);
        return false;
    }
    pc.Send({VR520_READY});
    if (!AwaitByte(pc, VR520_FUNC, "function query", error))
        return false;
    pc.Send({functionCode});
    if (pc.Receive(1, kAnswerTime).empty())
    {
        error = "no function reply";
        return false;
    }
    std::uint8_t buffer[kPacketBufferSize] = {};
    for (const auto& module : modules)
    {
        if (!Expect(pc, {VR520_HEADER2}, "header request", error))
            return false;
        const auto message = BuildControlMessage(module.header);
        pc.Send({message.begin(), message.end()});
        const int length = ModuleDataLength(module.header);
        const int packets = std::max(1, (length + kPacketDataSize - 1) / kPacketDataSize);
        for (int k = 1; k <= packets; ++k)
        {
            if (!Expect(pc, {VR520_DATA, std::uint8_t(k % 10)}, "request of packet " + std::to_string(k), error))
                return false;
            pc.Send(DataPacket(module, k, buffer));
        }
    }
    if (!Expect(pc, {VR520_HEADER2}, "last header request", error))
        return false;
    ModuleHeader end = modules.empty() ? InitialModuleHeader() : modules.back().header;
    end.bytes[0] = 0;
    const auto message = BuildControlMessage(end);
    return pc.Send({message.begin(), message.end()});
}

bool PlayUploadPc(CReceiverPcEnd& pc, std::vector<ReceiverModule>& modules, std::string& error,
                  std::chrono::milliseconds retryAfter)
{
    modules.clear();
    while (true)
    {
        const auto got = pc.Receive(1, kAnswerTime);
        if (got.empty())
        {
            error = "no ready";
            return false;
        }
        if (got[0] == VR520_RATE)
            pc.Send({0x01});
        else if (got[0] == VR520_READY)
            break;
    }
    pc.Send({VR520_READY});
    if (!AwaitByte(pc, VR520_FUNC, "function query", error))
        return false;
    pc.Send({FUNC_UPLOAD_DIGITAL});
    const auto request = pc.Receive(1, kAnswerTime);
    if (request.empty() || request[0] == 0)
    {
        error = "function request" + Hex(request);
        return false;
    }
    if (!Expect(pc, {VR520_STARD_UPLOAD}, "start upload", error))
        return false;
    pc.Send({HEADER_REQUEST});
    while (true)
    {
        const auto header = pc.Receive(3, kAnswerTime);
        if (header.size() != 3)
        {
            error = "module header" + Hex(header);
            return false;
        }
        if (header[0] == 0)
            return true;
        ReceiverModule module;
        module.header = InitialModuleHeader();
        module.header.bytes[0] = header[0];
        module.header.bytes[32] = header[1];
        module.header.bytes[33] = header[2];
        int k = 1;
        int attempts = 0;
        bool bAsk = true;
        while (true)
        {
            if (bAsk)
            {
                pc.Send({PACKET_REQUEST, std::uint8_t(k % 10)});
                ++attempts;
            }
            bAsk = true;
            if (attempts > 20)
            {
                error = "packet " + std::to_string(k) + " never came";
                return false;
            }
            const auto packet = pc.Receive(kPacketSize, retryAfter);
            if (packet.size() != std::size_t(kPacketSize))
            {
                pc.Purge();
                continue;
            }
            const std::uint32_t crc = Crc32(packet.data() + 2, kPacketDataSize);
            const std::uint32_t sent = std::uint32_t(packet[1026]) << 24 | std::uint32_t(packet[1027]) << 16 |
                                       std::uint32_t(packet[1028]) << 8 | packet[1029];
            if (packet[0] != VR520_DATA || crc != sent)
                continue;
            if (k > 1 && packet[1] == std::uint8_t((k - 1) % 10))
            {
                bAsk = false; // a duplicate of the packet before: wait on for the one asked for
                continue;
            }
            module.data.insert(module.data.end(), packet.begin() + 2, packet.begin() + 1026);
            attempts = 0;
            if (packet[1] == LAST_BLOCK)
                break;
            ++k;
        }
        modules.push_back(std::move(module));
        pc.Send({HEADER_REQUEST});
    }
}
} // namespace testsupport
