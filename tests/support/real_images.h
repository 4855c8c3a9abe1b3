// Access to the real fingerprint sets beside the checkout, for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zptest {

struct GreyImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;
};

// Folder of the real sets: $ZPAPI_DATA_DIR, else ../shared/data beside the
// checkout; empty when it does not exist.
std::string dataDir();

// Path of one set's image, e.g. setImage("fvc2002_db1_b", 101, 1); empty
// when the data folder is absent.
std::string setImage(const std::string& set, int finger, int impression);

// Reads an 8-bit greyscale TIFF; false with a message in error on failure.
bool readTiff(const std::string& path, GreyImage& out, std::string& error);

// Brings an image to the sensor's 256 x 384: centre crop where it is larger,
// padding with its background level (median of its outermost pixels) where
// it is smaller.
std::vector<std::uint8_t> fitToSensor(const GreyImage& image);

// Reads a set's image and fits it to the sensor; empty vector on failure.
std::vector<std::uint8_t> loadSensorImage(const std::string& set, int finger, int impression);

// A w x h block map of random direction codes 1..8 with about one block
// in backgroundOneIn left background (0), for row-by-row stage tests.
template <typename Rng>
std::vector<std::uint8_t> randomBlockMap(Rng& rng, std::int32_t w, std::int32_t h, unsigned backgroundOneIn) {
    std::vector<std::uint8_t> map(static_cast<std::size_t>((w >> 3) * (h >> 3)));
    for (auto& b : map) b = static_cast<std::uint8_t>(rng() % backgroundOneIn == 0 ? 0 : 1 + rng() % 8);
    return map;
}

// n bytes of random grey levels.
template <typename Rng>
std::vector<std::uint8_t> randomGrey(Rng& rng, std::size_t n) {
    std::vector<std::uint8_t> image(n);
    for (auto& p : image) p = static_cast<std::uint8_t>(rng());
    return image;
}

// True when $ZPAPI_REQUIRE_DATA is 1: CI sets it, so that missing real sets
// fail the real-image tests instead of skipping them.
bool dataRequired();

}  // namespace zptest

// Skips the current test when the real sets are not beside the checkout,
// or fails it when they are required.
#define ZP_REQUIRE_DATA()                                                                   \
    do {                                                                                    \
        if (::zptest::dataDir().empty()) {                                                  \
            if (::zptest::dataRequired())                                                   \
                FAIL() << "real fingerprint sets not found (../shared/data or "             \
                          "$ZPAPI_DATA_DIR) and ZPAPI_REQUIRE_DATA=1";                      \
            GTEST_SKIP() << "real fingerprint sets not found (../shared/data or "           \
                            "$ZPAPI_DATA_DIR); skipping";                                   \
        }                                                                                   \
    } while (0)
