#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/real_images.h"
#include "zpapi.h"

namespace {

TEST(Version, WritesExactlyOneHundredBytes) {
    char buffer[ZP_VERSION_SIZE + 16];
    std::memset(buffer, 0x5A, sizeof buffer);
    ZPVersion(buffer);
    EXPECT_EQ(std::strlen(buffer), 46U);
    EXPECT_NE(std::strstr(buffer, "ZPAPI"), nullptr);
    EXPECT_NE(std::strstr(buffer, ZPAPI_VERSION_STRING), nullptr);
    for (int i = 46; i < ZP_VERSION_SIZE; ++i) EXPECT_EQ(buffer[i], 0) << i;
    for (int i = ZP_VERSION_SIZE; i < ZP_VERSION_SIZE + 16; ++i) EXPECT_EQ(buffer[i], 0x5A) << i;
}

TEST(FingerDetect, UniformImageIsNeverAFinger) {
    for (int level : {0, 200, 255}) {
        std::vector<std::uint8_t> image(ZP_IMAGE_SIZE, static_cast<std::uint8_t>(level));
        for (int threshold : {-5, 0, 1, 50, 89})
            EXPECT_EQ(ZPFingerDetect(image.data(), threshold), 0) << level << " " << threshold;
    }
}

TEST(FingerDetect, RealFingerAnswersByThresholdAndStaysUntouched) {
    ZP_REQUIRE_DATA();
    for (const char* set : {"fvc2002_db1_b", "fvc2000_db2_b", "fvc2000_db3_b", "fvc2000_db4_b"}) {
        const std::vector<std::uint8_t> image = zptest::loadSensorImage(set, 102, 2);
        ASSERT_FALSE(image.empty()) << set;
        std::vector<std::uint8_t> copy = image;
        EXPECT_EQ(ZPFingerDetect(copy.data(), 0), 1) << set;
        EXPECT_EQ(ZPFingerDetect(copy.data(), 90), 0) << set;
        EXPECT_EQ(ZPFingerDetect(copy.data(), 1000), 0) << set;
        EXPECT_EQ(copy, image) << set;
    }
}

}  // namespace
