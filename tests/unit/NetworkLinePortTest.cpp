// The port object on an rfc2217:// line, against a minimal Com Port server in
// this process: a reopen at another rate stays on the same connection, and a
// server that floods the line with Telnet commands cannot hold an open.
#include "serial/NetworkLine.h"
#include "serial/NetworkLinePark.h"
#include "serial/PortNames.h"
#include "serial/SerialPort.h"
#include "serial/TelnetCodec.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace telnet;

namespace
{
constexpr int kServerWaitMs = 5000;

// Accepts connections one after another; agrees to the Com Port option and
// confirms every rate it is sent. Records the rates and counts connections.
class CComPortServer
{
public:
    CComPortServer()
    {
        m_nListener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(m_nListener, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(m_nListener, 4);
        ::getsockname(m_nListener, reinterpret_cast<sockaddr*>(&address), &size);
        m_nPort = ntohs(address.sin_port);
    }
    ~CComPortServer() { ::close(m_nListener); }

    std::string Url() const { return "rfc2217://127.0.0.1:" + std::to_string(m_nPort); }

    // Serves a connection until it ends (or nothing happens for a while); when it ended.
    std::chrono::steady_clock::time_point ServeUntilClosed()
    {
        pollfd accept{m_nListener, POLLIN, 0};
        if (::poll(&accept, 1, kServerWaitMs) != 1)
            return {};
        const int fd = ::accept(m_nListener, nullptr, nullptr);
        ++connections;
        const std::string agree = {char(kIac), char(kDo), char(kComPortOption)};
        ::send(fd, agree.data(), agree.size(), MSG_NOSIGNAL);
        std::string seen;
        for (;;)
        {
            pollfd wait{fd, POLLIN, 0};
            char block[512];
            if (::poll(&wait, 1, kServerWaitMs) != 1)
                break;
            const ssize_t n = ::read(fd, block, sizeof block);
            if (n <= 0)
                break;
            seen.append(block, std::size_t(n));
            // Answers each complete SET-BAUDRATE with the same rate.
            const std::string request = {char(kIac), char(kSb), char(kComPortOption), 1};
            for (auto at = seen.find(request); at != std::string::npos && at + 10 <= seen.size();
                 at = seen.find(request))
            {
                std::string reply = seen.substr(at, 10);
                reply[3] = char(1 + kServerReplyOffset);
                ::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
                rates.push_back(std::uint32_t(std::uint8_t(reply[4])) << 24 |
                                std::uint32_t(std::uint8_t(reply[5])) << 16 |
                                std::uint32_t(std::uint8_t(reply[6])) << 8 | std::uint8_t(reply[7]));
                seen.erase(0, at + 10);
            }
        }
        ::close(fd);
        return std::chrono::steady_clock::now();
    }

    // Agrees to the Com Port option, then sends an endless subnegotiation for
    // `length`: from the start, or in place of the answer to the first rate.
    void ServeSubnegotiationFlood(bool fromTheStart, std::chrono::seconds length)
    {
        pollfd accept{m_nListener, POLLIN, 0};
        if (::poll(&accept, 1, kServerWaitMs) != 1)
            return;
        const int fd = ::accept(m_nListener, nullptr, nullptr);
        const std::string agree = {char(kIac), char(kDo), char(kComPortOption)};
        ::send(fd, agree.data(), agree.size(), MSG_NOSIGNAL);
        const std::string request = {char(kIac), char(kSb), char(kComPortOption), 1};
        for (std::string seen; !fromTheStart && seen.find(request) == std::string::npos;)
        {
            char block[512];
            const ssize_t n = ::read(fd, block, sizeof block);
            if (n <= 0)
                break;
            seen.append(block, std::size_t(n));
        }
        std::string flood = {char(kIac), char(kSb), char(kComPortOption)};
        flood.resize(64 * 1024, '\x01');
        const auto until = std::chrono::steady_clock::now() + length;
        while (std::chrono::steady_clock::now() < until)
            if (::send(fd, flood.data(), flood.size(), MSG_NOSIGNAL) < 0)
                break;
        ::close(fd);
    }

    int connections = 0;
    std::vector<std::uint32_t> rates;

private:
    int m_nListener = -1;
    int m_nPort = 0;
};
} // namespace

TEST(NetworkLinePortTest, ReopenAtAnotherRateKeepsTheConnectionAndClosingEndsIt)
{
    ClearPortDevices();
    CComPortServer server;
    SetPortDevice(7, server.Url());
    std::chrono::steady_clock::time_point closed;
    std::chrono::steady_clock::time_point ended;
    std::thread serving([&] { ended = server.ServeUntilClosed(); });
    {
        auto port = std::make_unique<CSerialPort>();
        EXPECT_EQ(port->SetParamsAndOpen(7, 9600, 8, 0, 0), 1) << port->LastErrorText();
        // As the pages switch rates: a new port object at the new rate.
        port.reset();
        port = std::make_unique<CSerialPort>();
        EXPECT_EQ(port->SetParamsAndOpen(7, 115200, 8, 0, 0), 1) << port->LastErrorText();
        EXPECT_EQ(port->Write("\xFF", 1), 1);
        closed = std::chrono::steady_clock::now();
    }
    serving.join();
    const auto untilEnd = std::chrono::duration_cast<std::chrono::milliseconds>(ended - closed);
    EXPECT_EQ(server.connections, 1);
    EXPECT_EQ(server.rates, (std::vector<std::uint32_t>{9600, 115200}));
    // Closed once the moment for a reopen has passed, and not before.
    EXPECT_GE(untilEnd, kNetworkLineParkTime - std::chrono::milliseconds(50));
    EXPECT_LT(untilEnd, kNetworkLineParkTime + std::chrono::milliseconds(1500));
    ClearPortDevices();
}

TEST(NetworkLinePortTest, AnEndlessSubnegotiationDoesNotHoldTheOpenPastItsTimeOut)
{
    for (const bool fromTheStart : {true, false})
    {
        ClearPortDevices();
        CComPortServer server;
        SetPortDevice(7, server.Url());
        std::thread serving([&] { server.ServeSubnegotiationFlood(fromTheStart, std::chrono::seconds(10)); });
        const auto start = std::chrono::steady_clock::now();
        {
            CSerialPort port;
            EXPECT_EQ(port.SetParamsAndOpen(7, 9600, 8, 0, 0), 0) << "no rate was confirmed";
            EXPECT_NE(port.LastErrorText().find("did not confirm the rate"), std::string::npos)
                << port.LastErrorText();
        }
        const auto took = std::chrono::steady_clock::now() - start;
        // At most the stale bytes' drain and the wait for the rate's answer.
        EXPECT_LT(took, 2 * CNetworkLine::kReplyTimeout + std::chrono::seconds(1)) << "from the start: " << fromTheStart;
        serving.join();
        CloseParkedNetworkLines();
    }
    ClearPortDevices();
}
