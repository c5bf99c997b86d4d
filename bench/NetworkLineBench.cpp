// A paced 256 KiB download at 115200 baud, over the pseudo-terminal directly and
// over rfc2217:// through ser2net on the loopback interface, side by side in one
// run (the two alternate, three times each). Reported: the best transfer time of each
// (from the ready answered to the end of the page's reset) and their ratio; the
// network line should stay within 3% of the direct line.
#include "ChildProcess.h"
#include "protocol/ProtocolThread.h"
#include "protocol/WireFormat.h"
#include "serial/PortNames.h"
#include "serial/SerialPort.h"
#include "ui/DownloadPage.h"
#include "ui/LinkSettings.h"
#include "ui/NullWindow.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <utility>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
using SteadyClock = std::chrono::steady_clock;
constexpr int kBaud = 115200;
constexpr int kRounds = 3;

class CTimingWindow : public CNullWindow
{
public:
    void MessageBox(const std::string& text, BoxIcon) override
    {
        if (text != "Remember to power the IRD standby and then on!" && text != "Download Complete")
            std::fprintf(stderr, "box: %s\n", text.c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    void TransferStarted() override
    {
        std::lock_guard lock(mutex);
        started = SteadyClock::now();
        bStarted = true;
    }
    void TransferEnded(bool completed) override
    {
        std::lock_guard lock(mutex);
        bEnded = true;
        bCompleted = completed;
        changed.notify_all();
    }

    std::mutex mutex;
    std::condition_variable changed;
    SteadyClock::time_point started;
    bool bStarted = false;
    bool bEnded = false;
    bool bCompleted = false;
};

// Binds 127.0.0.1:`port` (0: any); the port bound, -1 when it is taken.
int BindLoopback(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(std::uint16_t(port));
    socklen_t size = sizeof address;
    int bound = -1;
    if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        bound = ntohs(address.sin_port);
    if (fd >= 0)
        close(fd);
    return bound;
}

// ser2net serving `device` with the Com Port option; its URL, "" on failure.
std::string StartSer2Net(const std::string& device, pid_t& pid)
{
    const int port = BindLoopback(0);
    const std::string config = "/tmp/kavdm-bench-ser2net.yaml";
    std::ofstream(config) << "%YAML 1.1\n---\nconnection: &line\n    accepter: telnet(rfc2217),tcp,127.0.0.1," << port
                          << "\n    connector: serialdev," << device << ",9600n81,local\n"
                          // Forward each byte from the line at once rather than
                          // wait for more (ser2net waits 1 to 20 ms by default),
                          // and take whole packets from the network in one go.
                          << "    options:\n      chardelay: false\n      net-to-dev-bufsize: 4096\n"
                          << "      dev-to-net-bufsize: 4096\n";
    pid = StartChild({"/usr/sbin/ser2net", "-n", "-d", "-c", config, "-P", "/tmp/kavdm-bench-ser2net.pid"}, nullptr);
    const auto deadline = SteadyClock::now() + std::chrono::seconds(5);
    while (BindLoopback(port) == port)
    {
        if (SteadyClock::now() > deadline)
            return "";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return "rfc2217://127.0.0.1:" + std::to_string(port);
}

std::string WriteImage()
{
    const std::string path = "/tmp/kavdm-bench-network.bin";
    std::ofstream out(path, std::ios::binary);
    ModuleHeader header = InitialModuleHeader();
    header.bytes[0] = 1;
    header.bytes[31] = 1;
    header.setProgramLength(262144);
    out.write(reinterpret_cast<const char*>(header.bytes), kModuleHeaderSize);
    const std::string fill(20, '\xFF');
    out.write(fill.data(), 20);
    std::vector<char> data(262144);
    std::uint32_t seed = 12345;
    for (auto& byte : data)
    {
        seed = seed * 1103515245u + 12345u;
        byte = char(seed >> 24);
    }
    out.write(data.data(), std::streamsize(data.size()));
    return path;
}

// One paced download; its time in seconds, or a negative number on failure.
double TimedDownload(const std::string& image, bool overNetwork)
{
    std::string pty;
    const pid_t receiver = StartChild(
        {KAVDM_BINARY, "receiver", "--pty", "--timeout", "30", "--rate", std::to_string(kBaud), "--pace"}, &pty);
    if (pty.empty())
        return -1;
    pid_t server = -1;
    std::string port = pty;
    if (overNetwork)
        port = StartSer2Net(pty, server);
    SetPortDevice(2, port);
    CTimingWindow window;
    CProtocolThread thread;
    CDownloadPage* page = nullptr;
    thread.RunDelivery([&] {
        theLinkSettings = kInitialLinkSettings;
        page = new CDownloadPage(&window, &thread);
        page->OnInitDialog();
        page->OnActivatePage();
        page->SetBaudRate(kBaud);
        page->OnBrowse(image);
    });
    {
        std::unique_lock lock(window.mutex);
        window.changed.wait_for(lock, std::chrono::minutes(2), [&] { return window.bEnded; });
    }
    thread.Sync(); // the reset has run
    const double seconds = std::chrono::duration<double>(SteadyClock::now() - window.started).count();
    thread.RunDelivery([&] {
        delete page;
        delete theSerialPort;
        theSerialPort = nullptr;
    });
    thread.Stop();
    int status = 0;
    waitpid(receiver, &status, 0);
    if (server > 0)
    {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
    const bool ok = window.bStarted && window.bCompleted && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return ok ? seconds : -1;
}

void BM_Download256KiBPaced115200PtyVersusRfc2217(benchmark::State& state)
{
    const std::string image = WriteImage();
    for (auto _ : state)
    {
        double pty = 1e9;
        double network = 1e9;
        for (int round = 0; round < kRounds; ++round)
        {
            const double direct = TimedDownload(image, false);
            const double viaServer = TimedDownload(image, true);
            if (direct < 0 || viaServer < 0)
            {
                state.SkipWithError("a download did not complete");
                return;
            }
            std::fprintf(stderr, "round %d: pty %.3f s, rfc2217 %.3f s\n", round + 1, direct, viaServer);
            pty = std::min(pty, direct);
            network = std::min(network, viaServer);
        }
        state.SetIterationTime(network);
        state.counters["pty_s"] = pty;
        state.counters["rfc2217_s"] = network;
        state.counters["rfc2217_over_pty"] = network / pty;
    }
}
} // namespace

BENCHMARK(BM_Download256KiBPaced115200PtyVersusRfc2217)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
