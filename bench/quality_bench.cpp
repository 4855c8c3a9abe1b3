#include <benchmark/benchmark.h>

#include <array>
#include <vector>

#include "core/records.h"
#include "image/quality_score.h"
#include "support/real_images.h"

namespace {

void BM_QualityScore(benchmark::State& state) {
    std::vector<std::uint8_t> image = zptest::loadSensorImage("fvc2002_db1_b", 101, 1);
    if (image.empty()) {
        state.SkipWithError("real fingerprint sets not found");
        return;
    }
    std::array<std::uint8_t, zp::kWorkAreaSize> workArea{};
    for (auto _ : state) {
        zp::ImageDescriptor desc = zp::sensorDescriptor(image.data(), workArea.data());
        benchmark::DoNotOptimize(zp::qualityScore(desc));
        benchmark::DoNotOptimize(desc.quality);
    }
}
BENCHMARK(BM_QualityScore);

}  // namespace
