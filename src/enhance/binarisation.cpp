#include "enhance/binarisation.h"

#include <cstring>

namespace zp {
namespace {

constexpr std::int32_t kFrame = 8;
constexpr std::int32_t kBlockShift = 3;
// Results of row y wait in row y - kDelay until the pass ends.
constexpr std::int32_t kDelay = 4;
// Threshold = flank sum x 205 / 2048, a little over the mean of ten.
constexpr std::int32_t kMeanFactor = 205;
constexpr std::int32_t kMeanShift = 11;
constexpr std::int32_t kSegment = 8;

}  // namespace

void binarise(std::int32_t /*classCode*/, std::uint8_t* image, std::int32_t width, std::int32_t height,
              const std::uint8_t* blockMap) {
    if (width < 1 || height < 1) return;
    const auto rowBytes = static_cast<std::size_t>(width);
    if (height < 2 * kFrame) {
        // Nothing but frame.
        std::memset(image, 0, static_cast<std::size_t>(height) * rowBytes);
        return;
    }

    std::array<std::array<std::int32_t, 10>, 8> offsets{};
    for (std::size_t code = 0; code < offsets.size(); ++code) {
        for (std::size_t i = 0; i < offsets[code].size(); ++i) {
            offsets[code][i] = kFlankSets[code][i].dy * width + kFlankSets[code][i].dx;
        }
    }

    const std::int32_t columns = width >> kBlockShift;
    for (std::int32_t y = kFrame; y < height - kFrame; ++y) {
        const std::uint8_t* row = image + y * width;
        std::uint8_t* out = image + (y - kDelay) * width;
        std::memset(out, 0, rowBytes);
        const std::uint8_t* blocks = blockMap + (y >> kBlockShift) * columns;
        for (std::int32_t xs = kFrame; xs < width - kFrame; xs = (xs | 7) + 1) {
            const std::uint8_t code = blocks[xs >> kBlockShift];
            if (code == 0 || code > 8) continue;
            const std::int32_t n = ((xs | 7) + 1 < width - kFrame ? (xs | 7) + 1 : width - kFrame) - xs;
            const std::array<std::int32_t, 10>& flank = offsets[code - 1];
            const std::uint8_t* p = row + xs;
            // All eight lanes are computed (reads stay inside the rows
            // around), only n are stored.
            std::int32_t sum[kSegment];
            for (std::int32_t i = 0; i < kSegment; ++i) sum[i] = 0;
            for (std::int32_t f = 0; f < 10; ++f) {
                const std::uint8_t* q = p + flank[f];
                for (std::int32_t i = 0; i < kSegment; ++i) sum[i] += q[i];
            }
            std::uint8_t result[kSegment];
            for (std::int32_t i = 0; i < kSegment; ++i) {
                const std::int32_t threshold = (kMeanFactor * sum[i]) >> kMeanShift;
                result[i] = static_cast<std::uint8_t>(p[i] >= threshold && p[i] >= 1 ? 1 : 0);
            }
            std::memcpy(out + xs, result, static_cast<std::size_t>(n));
        }
    }

    std::memset(image + (height - kFrame) * width, 0, kFrame * rowBytes);
    if (height - 12 > kDelay) {
        std::memmove(image + kFrame * width, image + kDelay * width,
                     static_cast<std::size_t>(height - 12 - kDelay) * rowBytes);
    }
    std::memset(image, 0, kFrame * rowBytes);
}

}  // namespace zp
