#include "enhance/orientation_field.h"

#include <array>
#include <cstring>

#include "enhance/median_filter.h"
#include "math/trig.h"

namespace zp {
namespace {

constexpr std::int32_t kBlockShift = 3;
constexpr std::int32_t kBlock = 8;
constexpr std::int32_t kMaxColumns = 32;
constexpr std::int32_t kMaxRows = 48;
constexpr std::int32_t kMaxBlocks = kMaxColumns * kMaxRows;
constexpr std::int32_t kMaxWidth = kMaxColumns * kBlock + kBlock - 1;
// Vector components are stored as 100 - c; 200 stands for c = -100.
constexpr std::uint8_t kUnmeasured = 200;
constexpr std::int32_t kScale = 100;

// Upper bounds of 100 x tan(halved angle) and the code of each bin, from
// the steep negative side through horizontal to the steep positive side.
struct TangentBin {
    std::int32_t below;
    std::uint8_t code;
};
constexpr std::array<TangentBin, 8> kTangentBins = {{
    {-400, 5}, {-133, 4}, {-75, 3}, {-25, 2}, {25, 1}, {75, 8}, {133, 7}, {400, 6},
}};

// Gradient components of one image row, for the pixels 8..end - 1:
// xx = gx^2 - gy^2 and xy = 2 gx gy with gx, gy the Sobel sums >> 2.
void rowGradients(const std::uint8_t* above, const std::uint8_t* row, const std::uint8_t* below,
                  std::int32_t end, std::int32_t* xx, std::int32_t* xy) {
    for (std::int32_t u = kBlock; u < end; ++u) {
        const std::int32_t gxSum = (above[u + 1] - above[u - 1]) + 2 * (row[u + 1] - row[u - 1]) +
                                   (below[u + 1] - below[u - 1]);
        const std::int32_t gySum = (below[u - 1] + 2 * below[u] + below[u + 1]) -
                                   (above[u - 1] + 2 * above[u] + above[u + 1]);
        // Arithmetic shifts round towards minus infinity.
        const std::int32_t gx = gxSum >> 2;
        const std::int32_t gy = gySum >> 2;
        xx[u] = gx * gx - gy * gy;
        xy[u] = 2 * gx * gy;
    }
}

}  // namespace

std::uint8_t directionCodeOfTangent(std::int32_t t) {
    for (const TangentBin& bin : kTangentBins) {
        if (t < bin.below) return bin.code;
    }
    return kVerticalCode;
}

std::uint8_t directionCode(std::uint8_t cosineByte, std::uint8_t sineByte) {
    // Minus the stored vector: the doubled gradient angle turned by 180
    // degrees is the doubled ridge angle.
    const std::int32_t a = cosineByte - kScale;
    const std::int32_t b = sineByte - kScale;
    std::int32_t phi = 0;
    if (a == 0) {
        phi = b < 0 ? -90 : 90;
    } else {
        phi = arctangent(static_cast<float>(b) / static_cast<float>(a));
        if (a < 0) phi += 180;
    }
    const std::int32_t half = phi / 2;
    const auto t = static_cast<std::int32_t>(static_cast<float>(kScale) * tangent(half));
    return directionCodeOfTangent(t);
}

void orientationField(const std::uint8_t* image, std::int32_t width, std::int32_t height,
                      std::uint8_t* blockMap) {
    const std::int32_t columns = width >> kBlockShift;
    const std::int32_t rows = height >> kBlockShift;
    if (columns < 1 || rows < 1 || columns > kMaxColumns || rows > kMaxRows) return;
    const std::int32_t blocks = columns * rows;

    std::array<std::uint8_t, kMaxBlocks> cosines;
    std::array<std::uint8_t, kMaxBlocks> sines;
    std::array<std::uint8_t, kMaxBlocks> filteredCosines;
    std::memset(cosines.data(), kUnmeasured, static_cast<std::size_t>(blocks));
    std::memset(sines.data(), kUnmeasured, static_cast<std::size_t>(blocks));

    // Block columns measured: x = 8, 16, ... while x < width - 8; rows alike.
    std::int32_t measuredColumns = 0;
    while (kBlock * (measuredColumns + 1) < width - kBlock) ++measuredColumns;
    const std::int32_t end = kBlock * (measuredColumns + 1);

    std::array<std::int32_t, kMaxWidth> xx{};
    std::array<std::int32_t, kMaxWidth> xy{};
    for (std::int32_t by = 1; kBlock * by < height - kBlock; ++by) {
        const std::uint8_t* map = blockMap + by * columns;
        bool any = false;
        for (std::int32_t bx = 1; bx <= measuredColumns; ++bx) any = any || map[bx] != 0;
        if (!any) continue;

        std::array<std::int32_t, kMaxColumns> sxx{};
        std::array<std::int32_t, kMaxColumns> sxy{};
        for (std::int32_t v = kBlock * by; v < kBlock * by + kBlock; ++v) {
            const std::uint8_t* row = image + v * width;
            rowGradients(row - width, row, row + width, end, xx.data(), xy.data());
            for (std::int32_t bx = 1; bx <= measuredColumns; ++bx) {
                std::int32_t sumXX = 0;
                std::int32_t sumXY = 0;
                for (std::int32_t u = kBlock * bx; u < kBlock * bx + kBlock; ++u) {
                    sumXX += xx[u];
                    sumXY += xy[u];
                }
                sxx[bx] += sumXX;
                sxy[bx] += sumXY;
            }
        }

        for (std::int32_t bx = 1; bx <= measuredColumns; ++bx) {
            if (map[bx] == 0) continue;
            std::int32_t c = 0;
            std::int32_t s = 0;
            if (sxx[bx] != 0) {
                const auto r = static_cast<float>(static_cast<double>(sxy[bx]) / static_cast<double>(sxx[bx]));
                const std::int32_t theta = arctangent(r);
                const float sign = sxx[bx] >= 0 ? 1.0F : -1.0F;
                c = static_cast<std::int32_t>(sign * kScale * cosine(theta));
                s = static_cast<std::int32_t>(sign * kScale * sine(theta));
            } else {
                s = sxy[bx] < 0 ? -kScale : kScale;
            }
            cosines[by * columns + bx] = static_cast<std::uint8_t>(kScale - c);
            sines[by * columns + bx] = static_cast<std::uint8_t>(kScale - s);
        }
    }

    // The filtered sines go into the storage of the unfiltered cosines.
    medianFilter5x5(cosines.data(), filteredCosines.data(), blockMap, columns, rows);
    medianFilter5x5(sines.data(), cosines.data(), blockMap, columns, rows);

    for (std::int32_t by = 1; by <= rows - 2; ++by) {
        for (std::int32_t bx = 1; bx <= columns - 2; ++bx) {
            const std::int32_t i = by * columns + bx;
            if (blockMap[i] != 0) blockMap[i] = directionCode(filteredCosines[i], cosines[i]);
        }
    }
}

}  // namespace zp
