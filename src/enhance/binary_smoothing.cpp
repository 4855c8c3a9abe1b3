#include "enhance/binary_smoothing.h"

#include <cstring>

namespace zp {
namespace {

constexpr std::int32_t kFrame = 8;
constexpr std::int32_t kBlockShift = 3;
// Results of row y wait in row y - kDelay until the pass ends.
constexpr std::int32_t kDelay = 4;

// Both tables in one, indexed by the pixel x 256 + its ridge-table index;
// the valley table only sees the low four bits (the edge neighbours).
constexpr std::array<std::uint8_t, 512> kSmoothingTable = [] {
    std::array<std::uint8_t, 512> table{};
    for (std::size_t i = 0; i < 256; ++i) {
        table[i] = kValleyTable[i & 15];
        table[256 + i] = kRidgeTable[i];
    }
    return table;
}();

constexpr std::uint32_t set(std::uint8_t v) { return v != 0 ? 1U : 0U; }

}  // namespace

void binarySmoothing(std::uint8_t* image, std::int32_t width, std::int32_t height,
                     const std::uint8_t* blockMap) {
    if (width < 1 || height < 2 * kDelay) return;
    const auto rowBytes = static_cast<std::size_t>(width);
    const std::int32_t columns = width >> kBlockShift;
    for (std::int32_t y = kFrame; y < height - kFrame; ++y) {
        const std::uint8_t* n = image + (y - 1) * width;
        const std::uint8_t* c = n + width;
        const std::uint8_t* s = c + width;
        std::uint8_t* out = image + (y - kDelay) * width;
        const std::uint8_t* blocks = blockMap + (y >> kBlockShift) * columns;
        for (std::int32_t xs = kFrame; xs < width - kFrame; xs = (xs | 7) + 1) {
            const std::int32_t xe = (xs | 7) + 1 < width - kFrame ? (xs | 7) + 1 : width - kFrame;
            if (blocks[xs >> kBlockShift] == 0) {
                std::memset(out + xs, 0, static_cast<std::size_t>(xe - xs));
                continue;
            }
            for (std::int32_t x = xs; x < xe; ++x) {
                const std::uint32_t index = (set(c[x]) << 8) | (set(s[x + 1]) << 7) | (set(s[x - 1]) << 6) |
                                            (set(n[x - 1]) << 5) | (set(n[x + 1]) << 4) | (set(s[x]) << 3) |
                                            (set(c[x - 1]) << 2) | (set(n[x]) << 1) | set(c[x + 1]);
                out[x] = kSmoothingTable[index];
            }
        }
    }
    if (height - 12 > kDelay) {
        std::memmove(image + kFrame * width, image + kDelay * width,
                     static_cast<std::size_t>(height - 12 - kDelay) * rowBytes);
    }
    std::memset(image + kDelay * width, 0, kDelay * rowBytes);
}

}  // namespace zp
