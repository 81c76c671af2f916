// The peak level of a buffer against copying it, as throughput ratios measured in one run: for a
// 50 ms block of 16-bit mono 8000 Hz (800 bytes, what the echo measures 20 times a second) and
// for a 64 KiB buffer. A ratio of 1 means the scan runs at memcpy speed.
#include "audio/WaveUtils.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> Noise(std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(x >> 16);
    }
    return bytes;
}

void Memcpy(benchmark::State& state)
{
    const auto source = Noise(static_cast<std::size_t>(state.range(0)));
    std::vector<std::uint8_t> target(source.size());
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Peak16(benchmark::State& state)
{
    const auto source = Noise(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(
            PeakLevel16(source.data(), static_cast<std::uint32_t>(source.size())));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void Peak8(benchmark::State& state)
{
    const auto source = Noise(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(
            PeakLevel8(source.data(), static_cast<std::uint32_t>(source.size())));
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

class Collect : public benchmark::ConsoleReporter
{
public:
    std::map<std::string, double> BytesPerSecond;
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            BytesPerSecond[r.run_name.str()] = r.counters.at("bytes_per_second");
    }
};

} // namespace

BENCHMARK(Memcpy)->Arg(800)->Arg(65536);
BENCHMARK(Peak16)->Arg(800)->Arg(65536);
BENCHMARK(Peak8)->Arg(800)->Arg(65536);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    Collect report;
    benchmark::RunSpecifiedBenchmarks(&report);
    for (const char* size : {"800", "65536"}) {
        const double copy = report.BytesPerSecond["Memcpy/" + std::string(size)];
        const double p16 = report.BytesPerSecond["Peak16/" + std::string(size)];
        const double p8 = report.BytesPerSecond["Peak8/" + std::string(size)];
        if (copy > 0)
            std::printf("%s bytes: PeakLevel16 %.2f x memcpy, PeakLevel8 %.2f x memcpy "
                        "(memcpy %.1f GB/s)\n",
                        size, p16 / copy, p8 / copy, copy / 1e9);
    }
    benchmark::Shutdown();
    return 0;
}
