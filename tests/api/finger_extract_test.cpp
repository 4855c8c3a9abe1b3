#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "api/extraction_driver.h"
#include "core/records.h"
#include "api/zpapi.h"
#include "match/match_driver.h"
#include "match/matching_model.h"
#include "support/real_images.h"

namespace {

using Template = std::array<std::uint8_t, ZP_TEMPLATE_SIZE>;

// The set of the single-set checks, and the fingers and impressions of
// every set.
const std::string kSet = "fvc2002_db1_b";
constexpr int kFirstFinger = 101;
constexpr int kFingers = 10;
constexpr int kImpressions = 8;

std::vector<std::uint8_t> uniformImage(std::uint8_t grey) {
    return std::vector<std::uint8_t>(ZP_IMAGE_SIZE, grey);
}

TEST(FingerExtract, UniformImageHasNoFinger) {
    for (const std::uint8_t grey : {0, 128, 255}) {
        std::vector<std::uint8_t> image = uniformImage(grey);
        Template templ;
        templ.fill(0xA5);
        EXPECT_EQ(ZPFingerExtract(image.data(), templ.data(), 0, 0), ZP_EXTRACT_NO_FINGER);
        EXPECT_EQ(image, uniformImage(grey));
        for (std::uint8_t b : templ) EXPECT_EQ(b, 0);
    }
}

TEST(ExtractionDriver, OnlyFiveHundredDpiIsServed) {
    std::vector<std::uint8_t> image = uniformImage(100);
    std::array<std::uint8_t, 256> templ{};
    zp::ImageDescriptor desc;
    desc.image = image.data();
    desc.width = 128;
    desc.height = 192;
    desc.resolution = 250;
    EXPECT_EQ(zp::extractionDriver(desc, {templ.data(), 256}, 0, 0), zp::kExtractNoFinger);
    EXPECT_EQ(image, uniformImage(100));
}

// One real image, or a skip when the sets are absent.
std::vector<std::uint8_t> realImage(int finger, int impression,
                                    const std::string& set = kSet) {
    return zptest::loadSensorImage(set, finger, impression);
}

TEST(FingerExtract, ThresholdNinetyRefusesEveryImage) {
    ZP_REQUIRE_DATA();
    for (int f = 0; f < kFingers; ++f) {
        for (int i = 1; i <= kImpressions; ++i) {
            std::vector<std::uint8_t> image = realImage(kFirstFinger + f, i);
            ASSERT_EQ(image.size(), static_cast<std::size_t>(ZP_IMAGE_SIZE));
            const std::vector<std::uint8_t> before = image;
            Template templ;
            templ.fill(0xA5);
            EXPECT_EQ(ZPFingerExtract(image.data(), templ.data(), 90, 0), ZP_EXTRACT_NO_FINGER);
            EXPECT_EQ(image, before);
            for (std::uint8_t b : templ) EXPECT_EQ(b, 0);
        }
    }
}

TEST(FingerExtract, MinimumYieldAboveHundredRefusesEveryTemplate) {
    ZP_REQUIRE_DATA();
    for (int f = 0; f < kFingers; ++f) {
        std::vector<std::uint8_t> image = realImage(kFirstFinger + f, 1);
        Template templ{};
        EXPECT_EQ(ZPFingerExtract(image.data(), templ.data(), 0, 101), ZP_EXTRACT_NO_TEMPLATE)
            << kFirstFinger + f;
    }
}

TEST(ExtractionDriver, ShortTemplateBufferAfterCropAndInversion) {
    ZP_REQUIRE_DATA();
    std::vector<std::uint8_t> image = realImage(kFirstFinger, 1);
    const std::vector<std::uint8_t> before = image;
    std::array<std::uint8_t, 256> templ;
    templ.fill(0xA5);
    zp::ImageDescriptor desc;
    desc.image = image.data();
    desc.width = ZP_IMAGE_WIDTH;
    desc.height = ZP_IMAGE_HEIGHT;
    desc.resolution = ZP_IMAGE_DPI;
    ASSERT_EQ(zp::extractionDriver(desc, {templ.data(), 255}, 0, 0), zp::kExtractShortBuffer);
    for (std::size_t i = 0; i < 255; ++i) EXPECT_EQ(templ[i], 0) << i;
    EXPECT_EQ(templ[255], 0xA5);
    EXPECT_EQ(desc.width, 232);
    EXPECT_EQ(desc.height, 280);
    EXPECT_EQ(desc.classCode, 0);
    // The window has been cut out and inverted in place.
    EXPECT_NE(image, before);
}

struct Extracted {
    int result = -1;
    Template templ{};
    std::vector<std::uint8_t> image;
};

// Least candidate yield asked of the real images. A window whose upper part
// holds textured background that the quality map took for finger can fill
// the 200-candidate list with noise before the scan reaches the ridges; its
// yield is then 0 or 1 and its few minutiae too few to match even
// themselves. Such templates are refused.
constexpr std::int32_t kMinimumYield = 5;

Extracted extractReal(const std::string& set, int finger, int impression) {
    Extracted e;
    e.image = realImage(finger, impression, set);
    e.result = ZPFingerExtract(e.image.data(), e.templ.data(), 0, kMinimumYield);
    return e;
}

std::int32_t score(const Template& a, const Template& b) {
    std::vector<std::uint8_t> workspace(ZP_WORKSPACE_SIZE);
    return zp::matchTemplates({const_cast<std::uint8_t*>(a.data()), ZP_TEMPLATE_SIZE},
                              {const_cast<std::uint8_t*>(b.data()), ZP_TEMPLATE_SIZE},
                              {workspace.data(), ZP_WORKSPACE_SIZE});
}

class RealSet : public ::testing::TestWithParam<std::string> {};

TEST_P(RealSet, EndToEnd) {
    ZP_REQUIRE_DATA();
    const std::string set = GetParam();
    std::vector<Extracted> all;
    int failures = 0;
    for (int f = 0; f < kFingers; ++f) {
        for (int i = 1; i <= kImpressions; ++i) {
            Extracted e = extractReal(set, kFirstFinger + f, i);
            ASSERT_EQ(e.image.size(), static_cast<std::size_t>(ZP_IMAGE_SIZE));
            const std::string name = std::to_string(kFirstFinger + f) + "_" + std::to_string(i);
            if (e.result == ZP_EXTRACT_OK) {
                zp::MatchingModel model{};
                EXPECT_EQ(zp::decodeTemplate(e.templ.data(), model), 1) << name;
                EXPECT_GE(e.templ[7], 1) << name;
                EXPECT_GE(e.templ[8], kMinimumYield) << name;
                EXPECT_EQ(e.templ[0], 2) << name;
                EXPECT_EQ(e.templ[11], 116) << name;
                EXPECT_EQ(e.templ[13], 140) << name;
                // The marked skeleton of the window: 0 background, 1 ridge,
                // 2 endings, 3 around junctions, nothing in the 8-pixel frame.
                for (std::int32_t y = 0; y < 280; ++y) {
                    for (std::int32_t x = 0; x < 232; ++x) {
                        const std::uint8_t p = e.image[static_cast<std::size_t>(y * 232 + x)];
                        ASSERT_LE(p, 3) << name;
                        if (x < 8 || y < 8 || x >= 224 || y >= 272) {
                            ASSERT_EQ(p, 0) << name;
                        }
                    }
                }
                std::vector<std::uint8_t> workspace(ZP_WORKSPACE_SIZE);
                EXPECT_EQ(ZPMatch(e.templ.data(), e.templ.data(), workspace.data(), 5), 1) << name;
            } else {
                // Every failure is a refusal of the image or of its template;
                // a template refused for its yield was still written.
                EXPECT_TRUE(e.result == ZP_EXTRACT_NO_FINGER || e.result == ZP_EXTRACT_NO_TEMPLATE)
                    << name << " gave " << e.result;
                if (e.result == ZP_EXTRACT_NO_TEMPLATE && e.templ[0] != 0 && e.templ[7] != 0) {
                    EXPECT_LT(e.templ[8], kMinimumYield) << name;
                }
                ++failures;
                std::printf("[ info ] %s %s: result %d (minutiae %d, yield %d)\n", set.c_str(),
                            name.c_str(), e.result, e.templ[7], e.templ[8]);
            }
            all.push_back(e);
        }
    }
    // At most one image in ten may be refused.
    EXPECT_LE(failures, kFingers * kImpressions / 10);

    long genuineSum = 0;
    long impostorSum = 0;
    int genuineCount = 0;
    int impostorCount = 0;
    for (std::size_t a = 0; a < all.size(); ++a) {
        if (all[a].result != ZP_EXTRACT_OK) continue;
        for (std::size_t b = a + 1; b < all.size(); ++b) {
            if (all[b].result != ZP_EXTRACT_OK) continue;
            const bool sameFinger = a / kImpressions == b / kImpressions;
            // Impostor pairs: first impressions of different fingers.
            if (!sameFinger && (a % kImpressions != 0 || b % kImpressions != 0)) continue;
            const std::int32_t s = score(all[a].templ, all[b].templ);
            if (sameFinger) {
                genuineSum += s;
                ++genuineCount;
            } else {
                impostorSum += s;
                ++impostorCount;
            }
        }
    }
    ASSERT_GT(genuineCount, 0);
    ASSERT_GT(impostorCount, 0);
    const double genuine = static_cast<double>(genuineSum) / genuineCount;
    const double impostor = static_cast<double>(impostorSum) / impostorCount;
    std::printf("[ info ] %s: %d of %d images refused; genuine average score %.2f over %d pairs, "
                "impostor average %.2f over %d pairs\n",
                set.c_str(), failures, kFingers * kImpressions, genuine, genuineCount, impostor,
                impostorCount);
    EXPECT_GT(genuine, impostor);
}

INSTANTIATE_TEST_SUITE_P(FingerExtract, RealSet,
                         ::testing::Values("fvc2002_db1_b", "fvc2000_db1_b", "fvc2000_db2_b",
                                           "fvc2000_db3_b", "fvc2000_db4_b"));

}  // namespace
