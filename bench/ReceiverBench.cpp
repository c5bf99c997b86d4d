// The simulated receiver's own costs: how close its pacing comes to a real
// line's time (others' benchmarks measure the PC against the receiver paced at
// 115200 baud, so any time the pacing adds would count against the PC), and the
// processor time its engine spends per packet.
#include "receiver/ReceiverLine.h"
#include "receiver/UploadRole.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace
{
// Paced writes of whole packets at 115200 baud to a PC end that reads at once.
// Reports the wall time against the wire time of the bytes (10 bits each).
void BM_PacedPacketsAt115200(benchmark::State& state)
{
    CReceiverLine line;
    std::string error;
    if (!line.OpenPty(error))
    {
        state.SkipWithError(error.c_str());
        return;
    }
    const int pc = ::open(line.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios tio{};
    tcgetattr(pc, &tio);
    cfmakeraw(&tio);
    tcsetattr(pc, TCSANOW, &tio);
    std::atomic<bool> bDone{false};
    std::thread reader([&] {
        char buffer[4096];
        while (!bDone)
        {
            pollfd fd{pc, POLLIN, 0};
            if (poll(&fd, 1, 20) > 0)
                [[maybe_unused]] const ssize_t n = ::read(pc, buffer, sizeof buffer);
        }
    });
    line.SetRate(115200);
    line.SetPace(true);
    const std::vector<std::uint8_t> packet(kPacketSize, 0x3C);
    const int packets = int(state.range(0));
    double wireSeconds = 0;
    double wallSeconds = 0;
    for (auto _ : state)
    {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < packets; ++i)
        {
            std::size_t written = 0;
            line.Write(packet.data(), packet.size(), 5000, written);
        }
        wallSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        wireSeconds += packets * kPacketSize * 10.0 / 115200.0;
    }
    bDone = true;
    reader.join();
    ::close(pc);
    state.counters["wall_over_wire_pct"] = 100.0 * (wallSeconds / wireSeconds - 1.0);
    state.counters["bytes_per_s"] = benchmark::Counter(double(packets) * kPacketSize * double(state.iterations()),
                                                       benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PacedPacketsAt115200)->Arg(30)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// The upload role serving flash and EEPROM (258 packets) with no line at all.
void BM_UploadRoleEnginePerTransfer(benchmark::State& state)
{
    ReceiverOptions options;
    options.role = ReceiverRole::Upload;
    options.nRate = kReceiverNoRate;
    options.memory = SyntheticMemory();
    std::size_t bytes = 0;
    for (auto _ : state)
    {
        CUploadRole role(options);
        std::int64_t now = 0;
        role.Start(now);
        role.TakeActions();
        const std::uint8_t ready[] = {VR520_READY};
        role.OnReceive(ready, 1, now);
        const std::uint8_t function[] = {FUNC_UPLOAD_DIGITAL};
        role.OnReceive(function, 1, now);
        role.TakeActions();
        const std::uint8_t header[] = {HEADER_REQUEST};
        for (int module = 0; module < 2; ++module)
        {
            role.OnReceive(header, 1, now);
            const int packets = module == 0 ? 256 : 2;
            for (int k = 1; k <= packets; ++k)
            {
                const std::uint8_t request[] = {PACKET_REQUEST, std::uint8_t(k % 10)};
                role.OnReceive(request, 2, now);
                for (const auto& action : role.TakeActions())
                    bytes += action.bytes.size();
            }
        }
        role.OnReceive(header, 1, now);
        benchmark::DoNotOptimize(role.Succeeded());
    }
    state.counters["bytes_per_s"] = benchmark::Counter(double(bytes), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_UploadRoleEnginePerTransfer)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
