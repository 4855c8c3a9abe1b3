// Plausible templates for tests and benchmarks, written with the template
// writers: minutiae spread over the stored area with a smooth ridge flow,
// and transformed copies (turned, shifted, jittered, partly lost) of them.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "minutiae/template_format.h"

namespace zptest {

using Template = std::array<std::uint8_t, zp::kTemplateBytes>;

inline constexpr std::int32_t kExtractedWidth = 116;
inline constexpr std::int32_t kExtractedHeight = 140;

inline zp::TemplateHeader extractedHeader(std::int32_t count = 0) {
    zp::TemplateHeader h;
    h.count = count;
    h.yield = 60;
    h.quality = 70;
    h.width = kExtractedWidth;
    h.height = kExtractedHeight;
    h.classCode = 0;
    return h;
}

inline Template makeTemplate(const std::vector<zp::TemplateMinutia>& minutiae,
                             zp::TemplateHeader header = extractedHeader()) {
    Template t{};
    zp::writeTemplate(t.data(), header, minutiae.data(), static_cast<std::int32_t>(minutiae.size()));
    return t;
}

// Raster order of the extractor: by row, then by column.
inline void rasterOrder(std::vector<zp::TemplateMinutia>& minutiae) {
    std::stable_sort(minutiae.begin(), minutiae.end(), [](const auto& a, const auto& b) {
        return a.y != b.y ? a.y < b.y : a.x < b.x;
    });
}

// Ridge flow of a loop-like finger: direction in degrees at (x, y).
inline double flowDirection(double x, double y) {
    const double cx = 58.0;
    const double cy = 60.0;
    const double around = std::atan2(y - cy, x - cx) * 180.0 / 3.14159265358979;
    return std::fmod(around + 90.0 + 0.3 * (y - cy) + 720.0, 180.0);
}

// count minutiae (at most 50) at least 6 units apart inside x 4..111,
// y 4..135, directions along the flow (either way), types mixed.
inline std::vector<zp::TemplateMinutia> plausibleMinutiae(std::uint32_t seed, std::int32_t count) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::int32_t> xs(8, 107);
    std::uniform_int_distribution<std::int32_t> ys(8, 131);
    std::uniform_int_distribution<std::int32_t> coin(0, 1);
    std::uniform_int_distribution<std::int32_t> jitter(-8, 8);
    std::vector<zp::TemplateMinutia> out;
    for (std::int32_t tries = 0; tries < 20000 && static_cast<std::int32_t>(out.size()) < count; ++tries) {
        const std::int32_t x = xs(rng);
        const std::int32_t y = ys(rng);
        bool crowded = false;
        for (const auto& m : out) {
            if ((m.x - x) * (m.x - x) + (m.y - y) * (m.y - y) < 36) crowded = true;
        }
        if (crowded) continue;
        std::int32_t direction = static_cast<std::int32_t>(flowDirection(x, y)) + 180 * coin(rng) + jitter(rng);
        direction = (direction % 360 + 360) % 360;
        out.push_back({x, y, direction, 1 + coin(rng)});
    }
    rasterOrder(out);
    return out;
}

struct Transform {
    std::int32_t rotation = 0;   // degrees
    std::int32_t shiftX = 0;
    std::int32_t shiftY = 0;
    std::int32_t positionNoise = 0;   // units, each way
    std::int32_t directionNoise = 0;  // degrees, each way
    double lossRate = 0.0;            // share of minutiae dropped
    std::int32_t extra = 0;           // spurious minutiae added
};

// Another impression of the same finger: turned about the centre, shifted,
// jittered; minutiae leaving 4..111 x 4..135 are lost.
inline std::vector<zp::TemplateMinutia> transformedCopy(const std::vector<zp::TemplateMinutia>& in,
                                                        const Transform& t, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<std::int32_t> pos(-t.positionNoise, t.positionNoise);
    std::uniform_int_distribution<std::int32_t> dir(-t.directionNoise, t.directionNoise);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double a = t.rotation * 3.14159265358979 / 180.0;
    const double cx = 58.0;
    const double cy = 70.0;
    std::vector<zp::TemplateMinutia> out;
    for (const auto& m : in) {
        if (unit(rng) < t.lossRate) continue;
        const double dx = m.x - cx;
        const double dy = m.y - cy;
        const auto x = static_cast<std::int32_t>(std::lround(cx + dx * std::cos(a) - dy * std::sin(a))) + t.shiftX + pos(rng);
        const auto y = static_cast<std::int32_t>(std::lround(cy + dx * std::sin(a) + dy * std::cos(a))) + t.shiftY + pos(rng);
        if (x < 4 || x > 111 || y < 4 || y > 135) continue;
        const std::int32_t d = ((m.direction + t.rotation + dir(rng)) % 360 + 360) % 360;
        out.push_back({x, y, d, m.type});
    }
    const auto spurious = plausibleMinutiae(seed ^ 0x5A5A5A5Au, t.extra);
    for (const auto& m : spurious) {
        if (out.size() < static_cast<std::size_t>(zp::kMaxMinutiae)) out.push_back(m);
    }
    rasterOrder(out);
    return out;
}

}  // namespace zptest
