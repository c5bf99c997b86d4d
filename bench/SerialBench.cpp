// Serial link figures over a pseudo-terminal: latency from a byte written on the
// far side to its delivery (median and 99th percentile), throughput of a 1 MB
// burst through the ring in deliveries of at most 100 bytes (every byte checked),
// and what a drained write costs on a pty.
#include "protocol/ProtocolThread.h"
#include "serial/PortNames.h"
#include "serial/SerialPort.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
using Clock = std::chrono::steady_clock;
constexpr int kBenchPort = 5;
constexpr int kRoundTrips = 10000;
constexpr std::size_t kBurstBytes = 1 << 20;

struct CPty
{
    int master = -1;
    int slave = -1;
    std::string path;
    CPty()
    {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        path = name;
        for (int fd : {master, slave})
        {
            termios tio{};
            ::tcgetattr(fd, &tio);
            ::cfmakeraw(&tio);
            ::tcsetattr(fd, TCSANOW, &tio);
        }
    }
    ~CPty()
    {
        ::close(master);
        ::close(slave);
    }
    void Send(const unsigned char* data, std::size_t length) const
    {
        while (length > 0)
        {
            const ssize_t n = ::write(master, data, length);
            if (n > 0)
            {
                data += n;
                length -= std::size_t(n);
            }
            else if (n < 0 && errno != EINTR && errno != EAGAIN)
                return;
        }
    }
};

// Notes when each delivery came and checks the byte sequence.
class CTimingOwner : public CSerialOwner
{
public:
    void OnReceive(const char* data, int length) override
    {
        const auto now = Clock::now();
        for (int i = 0; i < length; ++i)
        {
            if (static_cast<unsigned char>(data[i]) != static_cast<unsigned char>(m_nNext++ % 251))
                m_bOutOfOrder = true;
        }
        if (length > 100 || data[length] != 0)
            m_bOutOfOrder = true;
        std::lock_guard lock(m_mutex);
        m_lastDelivery = now;
        m_nBytes += std::size_t(length);
        m_changed.notify_all();
    }
    bool WaitForBytes(std::size_t bytes, Clock::time_point& deliveredAt)
    {
        std::unique_lock lock(m_mutex);
        const bool done = m_changed.wait_for(lock, std::chrono::seconds(10), [&] { return m_nBytes >= bytes; });
        deliveredAt = m_lastDelivery;
        return done;
    }
    bool OutOfOrder() const { return m_bOutOfOrder; }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    Clock::time_point m_lastDelivery;
    std::size_t m_nBytes = 0;
    std::size_t m_nNext = 0; // touched only by deliveries, which never overlap
    std::atomic<bool> m_bOutOfOrder{false};
};

void MeasureLatency(benchmark::State& state, CDeliveryGate* gate)
{
    CPty pty;
    SetPortDevice(kBenchPort, pty.path);
    CTimingOwner owner;
    CForwardingSerialPort port(&owner, gate);
    if (port.SetParamsAndOpen(kBenchPort, 115200, 8, 0, 0) != 1)
    {
        state.SkipWithError(port.LastErrorText().c_str());
        return;
    }
    std::vector<double> microseconds;
    microseconds.reserve(kRoundTrips);
    std::size_t sent = 0;
    for (auto _ : state)
    {
        const unsigned char byte = static_cast<unsigned char>(sent % 251);
        const auto start = Clock::now();
        pty.Send(&byte, 1);
        ++sent;
        Clock::time_point deliveredAt;
        if (!owner.WaitForBytes(sent, deliveredAt))
        {
            state.SkipWithError("a byte was not delivered");
            return;
        }
        const double us = std::chrono::duration<double, std::micro>(deliveredAt - start).count();
        microseconds.push_back(us);
        state.SetIterationTime(us / 1e6);
    }
    std::sort(microseconds.begin(), microseconds.end());
    state.counters["median_us"] = microseconds[microseconds.size() / 2];
    state.counters["p99_us"] = microseconds[microseconds.size() * 99 / 100];
    state.counters["max_us"] = microseconds.back();
    if (owner.OutOfOrder())
        state.SkipWithError("bytes lost or reordered");
}

void BM_ByteToDeliveryLatency(benchmark::State& state)
{
    MeasureLatency(state, nullptr);
}
BENCHMARK(BM_ByteToDeliveryLatency)->Iterations(kRoundTrips)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_ByteToDeliveryLatencyThroughGate(benchmark::State& state)
{
    CProtocolThread gate;
    MeasureLatency(state, &gate);
}
BENCHMARK(BM_ByteToDeliveryLatencyThroughGate)
    ->Iterations(kRoundTrips)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

void BM_OneMegabyteBurst(benchmark::State& state)
{
    std::vector<unsigned char> burst(kBurstBytes);
    for (std::size_t i = 0; i < burst.size(); ++i)
        burst[i] = static_cast<unsigned char>(i % 251);
    for (auto _ : state)
    {
        CPty pty;
        SetPortDevice(kBenchPort, pty.path);
        CTimingOwner owner;
        CForwardingSerialPort port(&owner);
        if (port.SetParamsAndOpen(kBenchPort, 115200, 8, 0, 0) != 1)
        {
            state.SkipWithError(port.LastErrorText().c_str());
            return;
        }
        const auto start = Clock::now();
        std::thread sender([&] { pty.Send(burst.data(), burst.size()); });
        Clock::time_point deliveredAt;
        const bool complete = owner.WaitForBytes(burst.size(), deliveredAt);
        sender.join();
        if (!complete || owner.OutOfOrder())
        {
            state.SkipWithError("bytes lost or reordered");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(deliveredAt - start).count());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kBurstBytes));
}
BENCHMARK(BM_OneMegabyteBurst)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// What Write's wait for the driver (tcdrain) costs per call on a pty, against
// a bare write of the same byte.
void BM_DrainedWriteByte(benchmark::State& state)
{
    CPty pty;
    SetPortDevice(kBenchPort, pty.path);
    CSerialPort port;
    if (port.SetParamsAndOpen(kBenchPort, 115200, 8, 0, 0) != 1)
    {
        state.SkipWithError(port.LastErrorText().c_str());
        return;
    }
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        unsigned char buffer[4096];
        pollfd fd{pty.master, POLLIN, 0};
        while (!stop)
            if (::poll(&fd, 1, 10) > 0)
                [[maybe_unused]] auto n = ::read(pty.master, buffer, sizeof buffer);
    });
    for (auto _ : state)
        port.WriteByte(0xCD);
    stop = true;
    drain.join();
}
BENCHMARK(BM_DrainedWriteByte)->Unit(benchmark::kMicrosecond);

void BM_BareWriteByte(benchmark::State& state)
{
    CPty pty;
    std::atomic<bool> stop{false};
    std::thread drain([&] {
        unsigned char buffer[4096];
        pollfd fd{pty.master, POLLIN, 0};
        while (!stop)
            if (::poll(&fd, 1, 10) > 0)
                [[maybe_unused]] auto n = ::read(pty.master, buffer, sizeof buffer);
    });
    const unsigned char byte = 0xCD;
    for (auto _ : state)
        benchmark::DoNotOptimize(::write(pty.slave, &byte, 1));
    stop = true;
    drain.join();
}
BENCHMARK(BM_BareWriteByte)->Unit(benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
