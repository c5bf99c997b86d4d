// Download timing against the simulated receiver on a pseudo-terminal.
//
// The download page runs here on its protocol thread (as in kavdm and the GUI);
// `kavdm receiver --pty` runs as a child process. Measured from the receiver's
// ready being answered to the end of the page's reset.
//
// Every figure is printed beside its floor, the time no PC can beat on this rig:
//  - Unpaced: the line costs nothing, so the floor is the fixed pauses of the
//    protocol on the path of the exchange: 10 ms before each delivery is
//    handled, the 1 ms pauses after the first three CRC bytes of each packet
//    (the receiver asks for the next packet as soon as the fourth has come, so
//    the pause after it passes within the next request's 10 ms), the receiver's own
//    50 ms gap before its first header request (the 5 ms after the function
//    code and the reply's 10 ms pass within it), the user's OK of the
//    completion box (20 ms here), 610 ms in the reset.
//  - Paced at 115200 baud: the receiver sleeps each byte's wire time (10 bits)
//    as it reads or writes. The floor adds the wire time of every byte on the
//    path; the simulated line paces a packet as it reads it, so the CRC pauses
//    pass during the packet's wire time there and are left out.
// Reported: wall / floor, CPU (all threads of this process) / wall, and per
// exchange the time from a request's arrival to the answer's first byte and
// the interval between answers (a packet's whole cycle) beside its floor.
#include "BenchDownload.h"
#include "BenchImage.h"
#include "ChildProcess.h"
#include "ExchangeTimings.h"
#include "OneProcessor.h"
#include "TransferWatchWindow.h"
#include "protocol/WireFormat.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{
using SteadyClock = std::chrono::steady_clock;

constexpr double kDeliveryPauseS = 0.010;
constexpr double kPacketCrcPausesS = 0.003;
constexpr double kResetPausesS = 0.610;
constexpr double kReceiverFunctionGapS = 0.050;
constexpr double kBoxOkS = 0.020; // the user's OK of the completion box, as the window below gives it

// The user's OK, as the console does it: the reset after "Download Complete"
// purges the line, which on a pseudo-terminal drops what the receiver has not
// read yet.
class CTimingWindow : public CTransferWatchWindow
{
public:
    CTimingWindow()
        : CTransferWatchWindow({"Remember to power the IRD standby and then on!", "Download Complete"},
                               std::chrono::milliseconds(int(kBoxOkS * 1000)))
    {
    }

protected:
    void OnStarted() override { exchangetimings::Start(); }
    void OnEnded() override { exchangetimings::Stop(); }
};

// `kavdm receiver --pty ARGS`: its pty path, and the child's pid.
struct ReceiverChild
{
    pid_t pid = -1;
    std::string path;
};

ReceiverChild StartReceiver(const std::vector<std::string>& extra)
{
    std::vector<std::string> args = {KAVDM_BINARY, "receiver", "--pty", "--timeout", "30"};
    args.insert(args.end(), extra.begin(), extra.end());
    ReceiverChild child;
    child.pid = StartChild(std::move(args), &child.path);
    return child;
}


double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void RunDownload(benchmark::State& state, int modules, int baud, bool paced, bool oneProcessor = true)
{
    const std::string image = WriteFirmwareImage("/tmp/kavdm-bench-download.bin", modules);
    const int packets = modules * 256;
    for (auto _ : state)
    {
        const COneProcessor pinned(oneProcessor);
        std::vector<std::string> receiverArgs = {"--rate", std::to_string(baud)};
        if (paced)
            receiverArgs.push_back("--pace");
        ReceiverChild receiver = StartReceiver(receiverArgs);
        if (receiver.path.empty())
        {
            state.SkipWithError("the receiver did not start");
            return;
        }
        CTimingWindow window;
        double cpu = 0;
        double wall = 0;
        {
            CBenchDownload download(window, receiver.path, image, baud, [] { exchangetimings::MarkAnsweringThread(); });
            window.WaitForStart(std::chrono::seconds(20));
            const double cpuAtStart = CpuSeconds();
            window.WaitForEnd(std::chrono::minutes(10));
            download.Sync(); // the reset has run
            const auto ended = SteadyClock::now();
            cpu = CpuSeconds() - cpuAtStart;
            wall = std::chrono::duration<double>(ended - window.started).count();
        }
        state.SetIterationTime(wall);
        int status = 0;
        waitpid(receiver.pid, &status, 0);
        if (!window.bCompleted || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("the download did not complete");

        const double byteTime = paced ? 10.0 / baud : 0.0;
        // Unpaced, the CRC pauses are on the path; paced, they pass during the packet.
        const double packetFloor = paced ? kDeliveryPauseS + (2 + kPacketSize) * byteTime
                                         : kDeliveryPauseS + kPacketCrcPausesS;
        // The function's 5 ms and the reply's 10 ms pass during the receiver's gap.
        const double floor = 2 * byteTime + kDeliveryPauseS                          // 0xCD, 0xD0, its pause
                             + 2 * byteTime + kReceiverFunctionGapS                   // function, reply, gap
                             + modules * (kDeliveryPauseS + (1 + kHeaderBlockSize) * byteTime) // headers
                             + kDeliveryPauseS + byteTime                             // the last request
                             + packets * packetFloor + kBoxOkS + kResetPausesS;
        const auto timings = exchangetimings::Summarise();
        state.counters["wall_s"] = wall;
        state.counters["floor_s"] = floor;
        state.counters["wall_over_floor"] = wall / floor;
        state.counters["cpu_over_wall"] = cpu / wall;
        state.counters["exchanges"] = double(timings.exchanges);
        state.counters["answer_p50_ms"] = timings.latencyMedianMs;
        state.counters["answer_p99_ms"] = timings.latencyP99Ms;
        state.counters["answer_floor_ms"] = kDeliveryPauseS * 1e3;
        state.counters["cycle_p50_ms"] = timings.cycleMedianMs;
        state.counters["cycle_p99_ms"] = timings.cycleP99Ms;
        state.counters["cycle_floor_ms"] = packetFloor * 1e3;
    }
}

void BM_Download1MiBUnpaced(benchmark::State& state)
{
    RunDownload(state, 4, 115200, false);
}
void BM_Download256KiBPaced115200(benchmark::State& state)
{
    RunDownload(state, 1, 115200, true);
}
void BM_Download1MiBUnpacedSpread(benchmark::State& state)
{
    RunDownload(state, 4, 115200, false, false);
}
} // namespace

BENCHMARK(BM_Download1MiBUnpaced)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Download256KiBPaced115200)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_Download1MiBUnpacedSpread)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
