// The real sets beside the checkout as the benchmarks use them: every
// impression fitted to the sensor, and the templates of those that enrol.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "api/zpapi.h"
#include "support/real_images.h"

namespace zpbench {

struct RealImage {
    std::int32_t set = 0;  // index into the sets found
    std::int32_t finger = 0;
    std::vector<std::uint8_t> pixels;  // ZP_IMAGE_SIZE bytes
};

struct RealTemplate {
    std::int32_t set = 0;
    std::int32_t finger = 0;
    std::array<std::uint8_t, ZP_TEMPLATE_SIZE> bytes{};
};

struct RealSets {
    std::int32_t setCount = 0;
    std::vector<RealImage> images;
    std::vector<RealTemplate> templates;  // the images that enrol, in image order
};

// Every folder of the data directory holding 101_1.tif is a set of fingers
// 101..110 x impressions 1..8; loaded once.
inline const RealSets& realSets() {
    static const RealSets sets = [] {
        RealSets out;
        const std::string dir = zptest::dataDir();
        if (dir.empty()) return out;
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            if (std::filesystem::exists(entry.path() / "101_1.tif")) names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        std::vector<std::uint8_t> work(ZP_IMAGE_SIZE);
        for (const std::string& name : names) {
            for (int finger = 101; finger <= 110; ++finger) {
                for (int impression = 1; impression <= 8; ++impression) {
                    std::vector<std::uint8_t> pixels = zptest::loadSensorImage(name, finger, impression);
                    if (pixels.empty()) continue;
                    RealTemplate t{out.setCount, finger, {}};
                    std::copy(pixels.begin(), pixels.end(), work.begin());
                    if (ZPFingerExtract(work.data(), t.bytes.data(), 0, 0) == ZP_EXTRACT_OK) out.templates.push_back(t);
                    out.images.push_back(RealImage{out.setCount, finger, std::move(pixels)});
                }
            }
            ++out.setCount;
        }
        return out;
    }();
    return sets;
}

using Clock = std::chrono::steady_clock;

inline double microsecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

// The q-quantile (0..1) of the values, by nearest rank; 0 when empty.
inline double quantile(std::vector<double> values, double q) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1) + 0.5);
    return values[at];
}

// Each item's time is the fastest of this many passes, so that a pass
// slowed by another process on the machine does not count.
inline constexpr int kTimedPasses = 3;

}  // namespace zpbench
