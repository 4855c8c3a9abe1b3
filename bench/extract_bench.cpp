#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "api/zpapi.h"
#include "real_sets.h"
#include "support/real_images.h"

namespace {

// The 80 images of one real set, fitted to the sensor.
std::vector<std::vector<std::uint8_t>> loadSet(const std::string& set) {
    std::vector<std::vector<std::uint8_t>> images;
    for (int finger = 101; finger <= 110; ++finger) {
        for (int impression = 1; impression <= 8; ++impression) {
            std::vector<std::uint8_t> image = zptest::loadSensorImage(set, finger, impression);
            if (image.empty()) return {};
            images.push_back(std::move(image));
        }
    }
    return images;
}

// One ZPFingerExtract per iteration, cycling through the set's images; each
// iteration works on a fresh copy, since extraction overwrites the image.
void BM_FingerExtract(benchmark::State& state, const std::string& set) {
    const std::vector<std::vector<std::uint8_t>> images = loadSet(set);
    if (images.empty()) {
        state.SkipWithError("real fingerprint sets not found");
        return;
    }
    std::vector<std::uint8_t> work(ZP_IMAGE_SIZE);
    std::array<std::uint8_t, ZP_TEMPLATE_SIZE> templ{};
    std::size_t next = 0;
    for (auto _ : state) {
        std::memcpy(work.data(), images[next].data(), ZP_IMAGE_SIZE);
        benchmark::DoNotOptimize(ZPFingerExtract(work.data(), templ.data(), 0, 0));
        benchmark::ClobberMemory();
        next = (next + 1) % images.size();
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_CAPTURE(BM_FingerExtract, fvc2002_db1_b, std::string("fvc2002_db1_b"))
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(BM_FingerExtract, fvc2000_db2_b, std::string("fvc2000_db2_b"))
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Per image, for the median over the images of one set.
void BM_FingerExtractImage(benchmark::State& state) {
    static const std::vector<std::vector<std::uint8_t>> images = loadSet("fvc2002_db1_b");
    if (images.empty()) {
        state.SkipWithError("real fingerprint sets not found");
        return;
    }
    const auto& image = images[static_cast<std::size_t>(state.range(0))];
    std::vector<std::uint8_t> work(ZP_IMAGE_SIZE);
    std::array<std::uint8_t, ZP_TEMPLATE_SIZE> templ{};
    for (auto _ : state) {
        std::memcpy(work.data(), image.data(), ZP_IMAGE_SIZE);
        benchmark::DoNotOptimize(ZPFingerExtract(work.data(), templ.data(), 0, 0));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FingerExtractImage)->DenseRange(0, 79, 8)->Unit(benchmark::kMillisecond);

// Median and 90th percentile over every image of every real set of one
// extraction's time (the fastest of a few passes per image).
void BM_FingerExtractRealMedian(benchmark::State& state) {
    const zpbench::RealSets& sets = zpbench::realSets();
    if (sets.images.empty()) {
        state.SkipWithError("real fingerprint sets not found");
        return;
    }
    std::vector<std::uint8_t> work(ZP_IMAGE_SIZE);
    std::array<std::uint8_t, ZP_TEMPLATE_SIZE> templ{};
    std::vector<double> best(sets.images.size(), 1e300);
    for (auto _ : state) {
        for (int pass = 0; pass < zpbench::kTimedPasses; ++pass) {
            for (std::size_t i = 0; i < sets.images.size(); ++i) {
                std::memcpy(work.data(), sets.images[i].pixels.data(), ZP_IMAGE_SIZE);
                const auto start = zpbench::Clock::now();
                benchmark::DoNotOptimize(ZPFingerExtract(work.data(), templ.data(), 0, 0));
                benchmark::ClobberMemory();
                best[i] = std::min(best[i], zpbench::microsecondsSince(start));
            }
        }
    }
    state.counters["images"] = static_cast<double>(sets.images.size());
    state.counters["median_ms"] = zpbench::quantile(best, 0.5) / 1000.0;
    state.counters["p90_ms"] = zpbench::quantile(best, 0.9) / 1000.0;
}
BENCHMARK(BM_FingerExtractRealMedian)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
