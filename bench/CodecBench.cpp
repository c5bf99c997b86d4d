// STB coding speed: decode and encode of 4 MB of code-like bytes, of 4 MB of
// random bytes, and of the first 4 MB of this very executable (real compiled
// code with its tables and strings).
#include "image/SampleImages.h"
#include "image/StbCodec.h"

#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>
#include <random>

namespace
{
constexpr std::size_t kImageBytes = 4 * 1024 * 1024;

const std::vector<std::uint8_t>& CodeLikeImage()
{
    static const std::vector<std::uint8_t> image = MakeMachineCodeLikeBytes(kImageBytes, 2024);
    return image;
}

const std::vector<std::uint8_t>& RandomImage()
{
    static const std::vector<std::uint8_t> image = [] {
        std::mt19937_64 random(7);
        std::vector<std::uint8_t> bytes(kImageBytes);
        for (auto& byte : bytes)
            byte = std::uint8_t(random());
        return bytes;
    }();
    return image;
}

const std::vector<std::uint8_t>& OwnExecutable()
{
    static const std::vector<std::uint8_t> image = [] {
        std::ifstream in("/proc/self/exe", std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (bytes.size() > kImageBytes)
            bytes.resize(kImageBytes);
        return bytes;
    }();
    return image;
}

void Decode(benchmark::State& state, const std::vector<std::uint8_t>& image)
{
    const auto stream = EncodeStb(image).stream;
    for (auto _ : state)
    {
        auto decoded = DecodeStb(stream);
        benchmark::DoNotOptimize(decoded.image.data());
        if (!decoded.ok() || decoded.image.size() != image.size())
            state.SkipWithError("decoding failed");
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(image.size()));
    state.counters["ratio"] = double(stream.size()) / double(image.size());
}

void Encode(benchmark::State& state, const std::vector<std::uint8_t>& image)
{
    for (auto _ : state)
    {
        auto encoded = EncodeStb(image);
        benchmark::DoNotOptimize(encoded.stream.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(image.size()));
}
} // namespace

BENCHMARK_CAPTURE(Decode, CodeLike4MB, CodeLikeImage())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, Random4MB, RandomImage())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, OwnExecutable, OwnExecutable())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, CodeLike4MB, CodeLikeImage())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, Random4MB, RandomImage())->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, OwnExecutable, OwnExecutable())->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
