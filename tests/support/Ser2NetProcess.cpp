#include "support/Ser2NetProcess.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace testsupport
{
namespace
{
constexpr const char* kSer2Net = "/usr/sbin/ser2net";
constexpr auto kListenTimeout = std::chrono::seconds(5);
constexpr auto kStopTimeout = std::chrono::seconds(5);

// Binds a socket to 127.0.0.1:`port` (0: any free one); the bound port, or -1
// when the port is taken.
int BindLoopback(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(std::uint16_t(port));
    socklen_t size = sizeof address;
    int bound = -1;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        bound = ntohs(address.sin_port);
    if (fd >= 0)
        ::close(fd);
    return bound;
}
} // namespace

int FreeLoopbackPort()
{
    return BindLoopback(0);
}

bool CSer2NetProcess::Start(const std::string& folder, const std::string& device, bool rfc2217, std::string& error)
{
    const int port = FreeLoopbackPort();
    const std::string config = folder + "/ser2net.yaml";
    {
        std::ofstream out(config);
        out << "%YAML 1.1\n---\n"
            << "connection: &line\n"
            << "    accepter: " << (rfc2217 ? "telnet(rfc2217),tcp," : "tcp,") << "127.0.0.1," << port << "\n"
            << "    connector: serialdev," << device << ",9600n81,local\n"
            << "    options:\n"
            << "      kickolduser: true\n"
            // Forward each byte from the line at once rather than wait for
            // more (1 to 20 ms by default), and take whole packets from the
            // network in one go: the configuration the README gives.
            << "      chardelay: false\n"
            << "      net-to-dev-bufsize: 4096\n"
            << "      dev-to-net-bufsize: 4096\n";
        if (!out)
        {
            error = "cannot write " + config;
            return false;
        }
    }
    m_strUrl = std::string(rfc2217 ? "rfc2217://" : "tcp://") + "127.0.0.1:" + std::to_string(port);
    m_process = std::make_unique<CCommandProcess>();
    if (!m_process->Start({kSer2Net, "-n", "-d", "-c", config, "-P", folder + "/ser2net.pid"}))
    {
        error = std::string("cannot start ") + kSer2Net;
        return false;
    }
    // Listening shows as the port being taken; no connection is made to find out.
    const auto deadline = std::chrono::steady_clock::now() + kListenTimeout;
    while (BindLoopback(port) == port)
    {
        if (m_process->Wait(std::chrono::milliseconds(0)) >= 0 || std::chrono::steady_clock::now() > deadline)
        {
            error = "ser2net did not listen on port " + std::to_string(port) + ": " + m_process->Output();
            Stop();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

void CSer2NetProcess::Stop()
{
    if (!m_process)
        return;
    m_process->Signal(SIGTERM);
    if (m_process->Wait(kStopTimeout) < 0)
    {
        m_process->Signal(SIGKILL);
        m_process->Wait(kStopTimeout);
    }
}
} // namespace testsupport
