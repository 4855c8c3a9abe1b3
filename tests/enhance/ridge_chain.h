// Runs a real capture through the preparation and ridge stages up to the
// binary ridge image, for tests of the stages that follow.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "core/records.h"
#include "enhance/binarisation.h"
#include "enhance/binary_smoothing.h"
#include "enhance/directional_enhancement.h"
#include "enhance/orientation_field.h"
#include "image/inversion.h"
#include "image/normalisation.h"
#include "image/quality_score.h"
#include "image/smoothing.h"
#include "image/window_crop.h"
#include "support/real_images.h"
#include "support/vector_paths.h"

namespace zptest {

// One capture of a real set.
struct Capture {
    const char* set;
    int finger;
    int impression;
};

// Stages of the chain, in order; a run stops before the one it names.
enum class RidgeStage { Enhancement, Binarisation, BinarySmoothing, Done };

// image: a 256 x 384 sensor image, turned in place into the input of stage
// `until` (the binary ridge image for Done) in its 232 x 280 window, the
// window's rows packed from the start; workArea ends holding the direction
// codes. Fails the current test (and returns early) when a stage refuses.
inline void runRidgeStages(std::vector<std::uint8_t>& image, std::array<std::uint8_t, zp::kWorkAreaSize>& workArea,
                           std::int32_t& w, std::int32_t& h, RidgeStage until) {
    ASSERT_EQ(image.size(), static_cast<std::size_t>(zp::kImageSize));
    zp::ImageDescriptor desc = zp::sensorDescriptor(image.data(), workArea.data());
    ASSERT_EQ(zp::qualityScore(desc), 1);
    ASSERT_EQ(zp::windowCrop(desc), 1);
    w = desc.width;
    h = desc.height;
    zp::invertImage(image.data(), w, h);
    ASSERT_EQ(zp::normalise(image.data(), w, h, workArea.data()), 1);
    zp::smoothImage(image.data(), w, h, workArea.data());
    zp::orientationField(image.data(), w, h, workArea.data());
    if (until == RidgeStage::Enhancement) return;
    zp::directionalEnhancement(image.data(), w, h, workArea.data());
    if (until == RidgeStage::Binarisation) return;
    zp::binarise(0, image.data(), w, h, workArea.data());
    if (until == RidgeStage::BinarySmoothing) return;
    zp::binarySmoothing(image.data(), w, h, workArea.data());
}

inline void runToBinaryRidges(std::vector<std::uint8_t>& image,
                              std::array<std::uint8_t, zp::kWorkAreaSize>& workArea, std::int32_t& w,
                              std::int32_t& h) {
    runRidgeStages(image, workArea, w, h, RidgeStage::Done);
}

// A real capture's input to stage `until` as a w x h image and its block
// map; empty image when a stage refused (the test has then failed).
struct StageInput {
    std::vector<std::uint8_t> image;
    std::vector<std::uint8_t> map;
    std::int32_t w = 0;
    std::int32_t h = 0;
};
inline StageInput realStageInput(const Capture& capture, RidgeStage until) {
    StageInput in;
    std::vector<std::uint8_t> image = loadSensorImage(capture.set, capture.finger, capture.impression);
    if (image.empty()) {
        ADD_FAILURE() << "cannot read " << capture.set;
        return in;
    }
    std::array<std::uint8_t, zp::kWorkAreaSize> workArea{};
    std::int32_t w = 0;
    std::int32_t h = 0;
    runRidgeStages(image, workArea, w, h, until);
    if (::testing::Test::HasFatalFailure()) return in;
    image.resize(static_cast<std::size_t>(w * h));
    in.image = std::move(image);
    in.map.assign(workArea.begin(), workArea.begin() + (w >> 3) * (h >> 3));
    in.w = w;
    in.h = h;
    return in;
}

// Captures from sets of different backgrounds and sizes, for the vector
// paths' tests.
inline constexpr Capture kPathCaptures[] = {
    {"fvc2000_db1_b", 103, 2}, {"fvc2000_db3_b", 103, 2}, {"fvc2002_db1_b", 103, 2}, {"fvc2000_db2_b", 107, 5}};

// Runs stage(image, w, h, map, path) on every path capture's input to
// `until` for every vector path available, expecting reference(image, w, h,
// map)'s image.
template <typename Reference, typename Stage>
void expectEveryPathOnRealCaptures(RidgeStage until, Reference reference, Stage stage) {
    for (const Capture& capture : kPathCaptures) {
        const StageInput in = realStageInput(capture, until);
        ASSERT_FALSE(in.image.empty()) << capture.set;
        const std::vector<std::uint8_t> want = reference(in.image, in.w, in.h, in.map);
        for (const zp::VectorPath path : availableVectorPaths()) {
            std::vector<std::uint8_t> work = in.image;
            stage(work.data(), in.w, in.h, in.map.data(), path);
            EXPECT_EQ(work, want) << vectorPathName(path) << " " << capture.set;
        }
    }
}

}  // namespace zptest
