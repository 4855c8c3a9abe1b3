// Image preparation and ridge enhancement, stage by stage and as a chain,
// on the working window of a real capture.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/records.h"
#include "enhance/binarisation.h"
#include "enhance/binary_smoothing.h"
#include "enhance/directional_enhancement.h"
#include "enhance/orientation_field.h"
#include "enhance/thinning.h"
#include "image/inversion.h"
#include "image/normalisation.h"
#include "image/quality_score.h"
#include "image/smoothing.h"
#include "image/window_crop.h"
#include "support/real_images.h"

namespace {

enum Stage : int {
    kWindowCrop,
    kInversion,
    kNormalisation,
    kSmoothing,
    kOrientation,
    kEnhancement,
    kBinarisation,
    kBinarySmoothing,
    kThinning,
    kStages
};

struct Snapshot {
    std::vector<std::uint8_t> image;
    std::array<std::uint8_t, zp::kWorkAreaSize> workArea{};
    zp::ImageDescriptor desc;
};

// Runs one stage on the snapshot's buffers.
void runStage(int stage, Snapshot& s) {
    std::uint8_t* image = s.image.data();
    std::uint8_t* map = s.workArea.data();
    const std::int32_t w = s.desc.width;
    const std::int32_t h = s.desc.height;
    switch (stage) {
        case kWindowCrop: zp::windowCrop(s.desc); break;
        case kInversion: zp::invertImage(image, w, h); break;
        case kNormalisation: zp::normalise(image, w, h, map); break;
        case kSmoothing: zp::smoothImage(image, w, h, map); break;
        case kOrientation: zp::orientationField(image, w, h, map); break;
        case kEnhancement: zp::directionalEnhancement(image, w, h, map); break;
        case kBinarisation: zp::binarise(0, image, w, h, map); break;
        case kBinarySmoothing: zp::binarySmoothing(image, w, h, map); break;
        case kThinning: zp::thinning(image, w, h, 8); break;
        default: break;
    }
}

// The capture after the quality score and the stages before `stage`.
bool prepare(int stage, Snapshot& s) {
    s.image = zptest::loadSensorImage("fvc2002_db1_b", 101, 1);
    if (s.image.empty()) return false;
    s.desc = zp::sensorDescriptor(s.image.data(), s.workArea.data());
    if (zp::qualityScore(s.desc) != 1) return false;
    for (int k = 0; k < stage; ++k) runStage(k, s);
    return true;
}

void BM_EnhanceStage(benchmark::State& state) {
    const int stage = static_cast<int>(state.range(0));
    Snapshot input;
    if (!prepare(stage, input)) {
        state.SkipWithError("real fingerprint sets not found");
        return;
    }
    Snapshot work = input;
    work.desc.image = work.image.data();
    work.desc.workArea = work.workArea.data();
    for (auto _ : state) {
        // Restoring the input costs about as much as copying 100 KB.
        std::memcpy(work.image.data(), input.image.data(), input.image.size());
        work.workArea = input.workArea;
        work.desc.width = input.desc.width;
        work.desc.height = input.desc.height;
        runStage(stage, work);
        benchmark::DoNotOptimize(work.image.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_EnhanceStage)
    ->ArgName("stage")
    ->DenseRange(kWindowCrop, kThinning)
    ->Unit(benchmark::kMicrosecond);

// Restoring the inputs alone, to subtract from the stage figures.
void BM_EnhanceRestoreOnly(benchmark::State& state) {
    Snapshot input;
    if (!prepare(0, input)) {
        state.SkipWithError("real fingerprint sets not found");
        return;
    }
    Snapshot work = input;
    for (auto _ : state) {
        std::memcpy(work.image.data(), input.image.data(), input.image.size());
        work.workArea = input.workArea;
        benchmark::DoNotOptimize(work.image.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_EnhanceRestoreOnly)->Unit(benchmark::kMicrosecond);

// Quality score through thinning, from the captured image.
void BM_EnhanceChain(benchmark::State& state) {
    const std::vector<std::uint8_t> capture = zptest::loadSensorImage("fvc2002_db1_b", 101, 1);
    if (capture.empty()) {
        state.SkipWithError("real fingerprint sets not found");
        return;
    }
    Snapshot work;
    work.image = capture;
    for (auto _ : state) {
        std::memcpy(work.image.data(), capture.data(), capture.size());
        work.desc = zp::sensorDescriptor(work.image.data(), work.workArea.data());
        zp::qualityScore(work.desc);
        for (int k = 0; k < kStages; ++k) runStage(k, work);
        benchmark::DoNotOptimize(work.image.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_EnhanceChain)->Unit(benchmark::kMicrosecond);

}  // namespace
