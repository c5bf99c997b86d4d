// Request-to-answer timing of the PC's side of a transfer, for the transfer
// benchmarks. The bytes are watched where they cross the C library: this
// header defines read() and write() for the benchmark program, so every call of
// the serial code passes through here. A read of the port's monitor (it asks for
// a block of 1024 bytes) that returns data is an arrival; the first write to the
// same descriptor after the latest arrival is the answer. Samples go into a fixed array: the watching
// allocates nothing and takes no lock. Include it in one file per program, and
// call MarkAnsweringThread() on the protocol thread: its reads are arrivals only
// from the descriptor the monitor reads (it reads the image file too).
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <sys/syscall.h>
#include <unistd.h>
#include <vector>

namespace exchangetimings
{
inline constexpr std::size_t kMonitorBlockBytes = 1024; // what the monitor thread asks read() for
inline constexpr std::size_t kMaxSamples = 1 << 14;

inline std::int64_t NowNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

struct Recorder
{
    std::atomic<bool> bRecording{false};
    std::atomic<std::int64_t> arrivalNs{0}; // 0: no arrival waits for its answer
    std::atomic<int> portFd{-1};
    std::atomic<std::size_t> count{0};
    std::array<std::int64_t, kMaxSamples> latencyNs{}; // arrival to the answer's first byte
    std::array<std::int64_t, kMaxSamples> answerNs{};  // when each answer began
};

inline thread_local bool tAnsweringThread = false;

inline void MarkAnsweringThread()
{
    tAnsweringThread = true;
}

inline Recorder& TheRecorder()
{
    static Recorder recorder;
    return recorder;
}

inline void Start()
{
    Recorder& r = TheRecorder();
    r.arrivalNs = 0;
    r.count = 0;
    r.bRecording = true;
}

inline void Stop()
{
    TheRecorder().bRecording = false;
}

// The recorded exchanges, in milliseconds: answer latencies and the intervals
// between consecutive answers (one packet's whole cycle in the steady state).
struct Summary
{
    double latencyMedianMs = 0;
    double latencyP99Ms = 0;
    double cycleMedianMs = 0;
    double cycleP99Ms = 0;
    std::size_t exchanges = 0;
    std::int64_t lastAnswerNs = 0; // on the clock of NowNs()
};

inline double Percentile(std::vector<std::int64_t> values, double fraction)
{
    if (values.empty())
        return 0;
    const auto index = std::min(values.size() - 1, std::size_t(fraction * double(values.size())));
    std::nth_element(values.begin(), values.begin() + std::ptrdiff_t(index), values.end());
    return double(values[index]) / 1e6;
}

inline Summary Summarise()
{
    const Recorder& r = TheRecorder();
    const std::size_t n = std::min(r.count.load(), kMaxSamples);
    std::vector<std::int64_t> latency(r.latencyNs.begin(), r.latencyNs.begin() + std::ptrdiff_t(n));
    std::vector<std::int64_t> cycle;
    for (std::size_t i = 1; i < n; ++i)
        cycle.push_back(r.answerNs[i] - r.answerNs[i - 1]);
    Summary s;
    s.exchanges = n;
    s.lastAnswerNs = n > 0 ? r.answerNs[n - 1] : 0;
    s.latencyMedianMs = Percentile(latency, 0.5);
    s.latencyP99Ms = Percentile(latency, 0.99);
    s.cycleMedianMs = Percentile(cycle, 0.5);
    s.cycleP99Ms = Percentile(cycle, 0.99);
    return s;
}
} // namespace exchangetimings

extern "C" ssize_t read(int fd, void* buffer, std::size_t count)
{
    const ssize_t n = ::syscall(SYS_read, fd, buffer, count);
    auto& r = exchangetimings::TheRecorder();
    if (n > 0 && count == exchangetimings::kMonitorBlockBytes && r.bRecording.load(std::memory_order_relaxed) &&
        (!exchangetimings::tAnsweringThread || fd == r.portFd.load()))
    {
        r.portFd.store(fd);
        r.arrivalNs.store(exchangetimings::NowNs());
    }
    return n;
}

extern "C" ssize_t write(int fd, const void* buffer, std::size_t count)
{
    auto& r = exchangetimings::TheRecorder();
    if (r.bRecording.load(std::memory_order_relaxed) && fd == r.portFd.load())
    {
        const std::int64_t arrival = r.arrivalNs.exchange(0);
        if (arrival != 0)
        {
            const std::int64_t now = exchangetimings::NowNs();
            const std::size_t i = r.count.fetch_add(1);
            if (i < exchangetimings::kMaxSamples)
            {
                r.latencyNs[i] = now - arrival;
                r.answerNs[i] = now;
            }
        }
    }
    return ::syscall(SYS_write, fd, buffer, count);
}
