// Upload timing against the simulated receiver on a pseudo-terminal.
//
// The upload page runs here on its protocol thread (as in kavdm and the GUI);
// `kavdm receiver --pty --role upload` runs as a child process and serves its
// synthetic flash (262144 bytes) and EEPROM (2048 bytes). Measured from the
// receiver's ready being answered to the end of the step that completes the
// upload (file moved into place, reset, closing tones).
//
//  - Paced at 115200 baud: the receiver sleeps each byte's wire time (10 bits),
//    in both directions. The floor is the wire time of every byte moved after
//    the ready plus the pauses the protocol fixes: the reset's 1.11 s, the two
//    closing tones' 0.4 s, and the receiver's own 50 ms gap after the function.
//  - Unpaced: the line costs nothing; shows what the PC side costs by itself.
//
// Reported: wall / floor, CPU time of this process (every thread) / wall, the
// time from the arrival of a packet's last bytes to the next request's first
// byte (its floor is 0) and the interval between requests (a packet's cycle)
// beside its floor, heap allocations per delivery and per packet (the whole
// process, and those made inside the page's OnReceive), and the peak RSS growth.
#include "ChildProcess.h"
#include "ExchangeTimings.h"
#include "OneProcessor.h"
#include "TransferWatchWindow.h"
#include "protocol/ProtocolThread.h"
#include "protocol/WireFormat.h"
#include "serial/PortNames.h"
#include "serial/SerialPort.h"
#include "ui/LinkSettings.h"
#include "ui/UploadPage.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{
std::atomic<long> theAllocations{0};
} // namespace

// Every heap allocation of the process is counted, to show that handling a
// delivery allocates nothing. (GCC takes free() in a replaced operator delete
// for a mismatch with the operator new it cannot see is ours.)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size)
{
    theAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

namespace
{
using SteadyClock = std::chrono::steady_clock;

constexpr int kFlashPackets = kFlashModuleLength / kPacketDataSize;   // 256
constexpr int kEepromPackets = kEepromModuleLength / kPacketDataSize; // 2
constexpr int kPackets = kFlashPackets + kEepromPackets;
constexpr int kModules = 2;
constexpr double kResetPausesS = 1.110;
constexpr double kClosingTonesS = 0.400;
constexpr double kReceiverFunctionGapS = 0.050;

// Bytes on the line after the ready is answered.
constexpr int kPcBytes = 1 /* 0xCD */ + 1 /* function */ + (kModules + 1) /* 0x70 */ + 2 * kPackets;
constexpr int kReceiverBytes = 1 /* 0xD0 */ + 1 /* function request */ + 1 /* 0xD1 */ + 3 * (kModules + 1) +
                               kPacketSize * kPackets;

class CTimingWindow : public CTransferWatchWindow
{
public:
    CTimingWindow()
        : CTransferWatchWindow({"Remember to power the IRD standby and then on!", "Upload Complete"},
                               std::chrono::milliseconds(0))
    {
    }
    long allocationsAtStart = 0;

protected:
    void OnStarted() override
    {
        allocationsAtStart = theAllocations.load();
        exchangetimings::Start();
    }
    void OnEnded() override { exchangetimings::Stop(); }
};

// The upload page, counting its deliveries.
class CCountingUploadPage : public CUploadPage
{
public:
    using CUploadPage::CUploadPage;
    void OnReceive(const char* data, int length) override
    {
        ++deliveries;
        const long before = theAllocations.load(std::memory_order_relaxed);
        CUploadPage::OnReceive(data, length);
        engineAllocations += theAllocations.load(std::memory_order_relaxed) - before;
    }
    long deliveries = 0;
    long engineAllocations = 0; // made inside OnReceive: the engine and the page's window calls
};

struct ReceiverChild
{
    pid_t pid = -1;
    std::string path;
};

ReceiverChild StartReceiver(const std::vector<std::string>& extra)
{
    std::vector<std::string> args = {KAVDM_BINARY, "receiver", "--pty", "--role", "upload", "--timeout", "30"};
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

long PeakRssKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void RunUpload(benchmark::State& state, bool paced, bool oneProcessor = true)
{
    const std::string output = "/tmp/kavdm-bench-upload.bin";
    for (auto _ : state)
    {
        const COneProcessor pinned(oneProcessor);
        std::vector<std::string> receiverArgs = {"--no-rate"};
        if (paced)
            receiverArgs.insert(receiverArgs.end(), {"--pace", "115200"});
        ReceiverChild receiver = StartReceiver(receiverArgs);
        if (receiver.path.empty())
        {
            state.SkipWithError("the receiver did not start");
            return;
        }
        SetPortDevice(2, receiver.path);
        CTimingWindow window;
        CProtocolThread thread;
        CCountingUploadPage* page = nullptr;
        thread.RunDelivery([&] {
            exchangetimings::MarkAnsweringThread();
            theLinkSettings = kInitialLinkSettings;
            page = new CCountingUploadPage(&window, &thread);
            page->ReopenPort(false);
            page->OnInitDialog();
            page->OnActivatePage();
            page->OnBrowse(output);
        });
        window.WaitForStart(std::chrono::seconds(20));
        const double cpuAtStart = CpuSeconds();
        const long rssAtStart = PeakRssKiB();
        long deliveriesAtStart = 0;
        long engineAllocationsAtStart = 0;
        thread.RunDelivery([&] {
            deliveriesAtStart = page->deliveries;
            engineAllocationsAtStart = page->engineAllocations;
        });
        window.WaitForEnd(std::chrono::minutes(5));
        thread.Sync(); // the completing step (reset, tones) has run
        const auto ended = SteadyClock::now();
        const double cpu = CpuSeconds() - cpuAtStart;
        const long allocations = theAllocations.load() - window.allocationsAtStart;
        const double wall = std::chrono::duration<double>(ended - window.started).count();
        state.SetIterationTime(wall);
        long deliveries = 0;
        long engineAllocations = 0;
        thread.RunDelivery([&] {
            deliveries = page->deliveries - deliveriesAtStart;
            engineAllocations = page->engineAllocations - engineAllocationsAtStart;
            delete page;
            delete theSerialPort;
            theSerialPort = nullptr;
        });
        thread.Stop();
        int status = 0;
        waitpid(receiver.pid, &status, 0);
        std::error_code ignored;
        const bool bSizeRight = std::filesystem::file_size(output, ignored) ==
                                std::uintmax_t(kModules * kHeaderBlockSize + kPackets * kPacketDataSize);
        std::filesystem::remove(output, ignored);
        if (!window.bCompleted || !bSizeRight || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            state.SkipWithError("the upload did not complete");

        const double byteTime = paced ? 10.0 / 115200 : 0.0;
        const double floor =
            (kPcBytes + kReceiverBytes) * byteTime + kResetPausesS + kClosingTonesS + kReceiverFunctionGapS;
        const auto timings = exchangetimings::Summarise();
        // After the last request (for the closing header): that header, the
        // file's commit, the reset and the tones.
        const double tail = timings.lastAnswerNs ? double(exchangetimings::NowNs() - timings.lastAnswerNs) / 1e9 -
                                                       std::chrono::duration<double>(SteadyClock::now() - ended).count()
                                                 : 0.0;
        state.counters["wall_s"] = wall;
        state.counters["floor_s"] = floor;
        state.counters["wall_over_floor"] = wall / floor;
        state.counters["cpu_over_wall"] = cpu / wall;
        state.counters["exchanges"] = double(timings.exchanges);
        state.counters["answer_p50_ms"] = timings.latencyMedianMs;
        state.counters["answer_p99_ms"] = timings.latencyP99Ms;
        state.counters["cycle_p50_ms"] = timings.cycleMedianMs;
        state.counters["cycle_p99_ms"] = timings.cycleP99Ms;
        state.counters["cycle_floor_ms"] = (2 + kPacketSize) * byteTime * 1e3;
        state.counters["tail_s"] = tail;
        state.counters["tail_floor_s"] = (1 + 3) * byteTime + kResetPausesS + kClosingTonesS;
        state.counters["deliveries"] = double(deliveries);
        state.counters["allocs_per_delivery"] = deliveries ? double(allocations) / double(deliveries) : 0.0;
        state.counters["allocs_per_packet"] = double(allocations) / kPackets;
        // Inside OnReceive: deliveries that only collect packet bytes allocate
        // nothing; what is counted comes from the once-per-packet steps (log
        // lines, time texts, the next request).
        state.counters["engine_allocs_per_packet"] = double(engineAllocations) / kPackets;
        state.counters["engine_allocs_per_delivery"] = deliveries ? double(engineAllocations) / double(deliveries) : 0.0;
        state.counters["rss_growth_KiB"] = double(PeakRssKiB() - rssAtStart);
    }
}

void BM_UploadFlashEepromPaced115200(benchmark::State& state)
{
    RunUpload(state, true);
}
void BM_UploadFlashEepromUnpaced(benchmark::State& state)
{
    RunUpload(state, false);
}
void BM_UploadFlashEepromPaced115200Spread(benchmark::State& state)
{
    RunUpload(state, true, false);
}
} // namespace

BENCHMARK(BM_UploadFlashEepromPaced115200)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_UploadFlashEepromUnpaced)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
BENCHMARK(BM_UploadFlashEepromPaced115200Spread)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

BENCHMARK_MAIN();
