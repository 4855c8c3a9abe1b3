#include "image/smoothing.h"

#include <cstring>

namespace zp {
namespace {

constexpr std::int32_t kFrame = 8;
constexpr std::int32_t kBlockShift = 3;
// The result of row y is parked in row y - kDelay until the pass ends.
constexpr std::int32_t kDelay = 4;

}  // namespace

void smoothImage(std::uint8_t* image, std::int32_t width, std::int32_t height,
                 const std::uint8_t* workArea) {
    if (width < 1 || height < 2 * kDelay) return;
    const auto rowBytes = static_cast<std::size_t>(width);
    std::memcpy(image, image + kDelay * width, kDelay * rowBytes);

    const std::int32_t columns = width >> kBlockShift;
    for (std::int32_t y = kFrame; y < height - kFrame; ++y) {
        const std::uint8_t* a = image + (y - 1) * width;
        const std::uint8_t* b = a + width;
        const std::uint8_t* c = b + width;
        std::uint8_t* out = image + (y - kDelay) * width;
        std::memcpy(out, b, rowBytes);
        const std::uint8_t* blocks = workArea + (y >> kBlockShift) * columns;
        for (std::int32_t xs = kFrame; xs < width - kFrame; xs = (xs | 7) + 1) {
            const std::int32_t xe = (xs | 7) + 1 < width - kFrame ? (xs | 7) + 1 : width - kFrame;
            if (blocks[xs >> kBlockShift] == 0) continue;
            for (std::int32_t x = xs; x < xe; ++x) {
                const std::int32_t sum = a[x - 1] + 2 * a[x] + a[x + 1] + 2 * b[x - 1] + 4 * b[x] +
                                         2 * b[x + 1] + c[x - 1] + 2 * c[x] + c[x + 1];
                out[x] = static_cast<std::uint8_t>(sum >> 4);
            }
        }
    }
    // Rows 0..height - 13 move down by four: the parked results land in
    // rows 8..height - 9 and the saved rows 4..7 back in place.
    if (height - 12 > 0) {
        std::memmove(image + kDelay * width, image, static_cast<std::size_t>(height - 12) * rowBytes);
    }
}

}  // namespace zp
