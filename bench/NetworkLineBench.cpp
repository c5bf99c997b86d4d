// A paced 256 KiB download at 115200 baud, over the pseudo-terminal directly and
// over rfc2217:// through ser2net on the loopback interface, side by side in one
// run (the two alternate, three times each). Reported: the best transfer time of each
// (from the ready answered to the end of the page's reset) and their ratio; the
// network line should stay within 3% of the direct line.
#include "BenchDownload.h"
#include "BenchImage.h"
#include "ChildProcess.h"
#include "TransferWatchWindow.h"
#include "support/Ser2NetProcess.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/wait.h>

namespace
{
using SteadyClock = std::chrono::steady_clock;
constexpr int kBaud = 115200;
constexpr int kRounds = 3;

class CTimingWindow : public CTransferWatchWindow
{
public:
    CTimingWindow()
        : CTransferWatchWindow({"Remember to power the IRD standby and then on!", "Download Complete"},
                               std::chrono::milliseconds(20))
    {
    }
};

// One paced download; its time in seconds, or a negative number on failure.
double TimedDownload(const std::string& image, bool overNetwork)
{
    std::string pty;
    const pid_t receiver = StartChild(
        {KAVDM_BINARY, "receiver", "--pty", "--timeout", "30", "--rate", std::to_string(kBaud), "--pace"}, &pty);
    if (pty.empty())
        return -1;
    testsupport::CSer2NetProcess server;
    std::string port = pty;
    if (overNetwork)
    {
        const std::string folder = "/tmp/kavdm-bench-ser2net";
        std::filesystem::create_directories(folder);
        std::string error;
        if (!server.Start(folder, pty, true, error))
            std::fprintf(stderr, "%s\n", error.c_str());
        port = server.Url();
    }
    CTimingWindow window;
    double seconds = 0;
    {
        CBenchDownload download(window, port, image, kBaud);
        window.WaitForEnd(std::chrono::minutes(2));
        download.Sync(); // the reset has run
        seconds = std::chrono::duration<double>(SteadyClock::now() - window.started).count();
    }
    int status = 0;
    waitpid(receiver, &status, 0);
    server.Stop();
    const bool ok = window.bStarted && window.bCompleted && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return ok ? seconds : -1;
}

void BM_Download256KiBPaced115200PtyVersusRfc2217(benchmark::State& state)
{
    const std::string image = WriteFirmwareImage("/tmp/kavdm-bench-network.bin", 1);
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
