#include "image/normalisation.h"

#include <array>
#include <cmath>

namespace zp {
namespace {

constexpr std::int32_t kFrame = 8;
// The gain is a fixed-point factor with this many fractional bits.
constexpr std::int32_t kGainShift = 7;

}  // namespace

std::int32_t normalisationGain(std::uint32_t variance) {
    const double ratio = static_cast<double>(kTargetVariance) / static_cast<double>(variance);
    return static_cast<std::int32_t>(std::sqrt(ratio) * (1 << kGainShift));
}

std::int32_t normalisedGrey(std::int32_t p, std::int32_t mean, std::int32_t gain) {
    // Arithmetic shift: negative products round towards minus infinity.
    const std::int32_t q = (((p - mean) * gain) >> kGainShift) + kTargetMean;
    return q < 0 ? 0 : (q > 255 ? 255 : q);
}

std::int32_t normalise(std::uint8_t* image, std::int32_t width, std::int32_t height,
                       const std::uint8_t* /*workArea*/) {
    if (width <= 2 * kFrame || height <= 2 * kFrame) return 0;
    const std::int32_t count = (width - 2 * kFrame) * (height - 2 * kFrame);

    // Sum and histogram of the inner region; the variance comes from the
    // histogram, which gives the same unsigned sum of squares. Neighbouring
    // pixels, often of one grey, count into four partial histograms so that
    // one count need not wait for the last.
    std::array<std::array<std::uint32_t, 256>, 4> partial{};
    for (std::int32_t y = kFrame; y < height - kFrame; ++y) {
        const std::uint8_t* row = image + y * width;
        std::int32_t x = kFrame;
        for (; x + 4 <= width - kFrame; x += 4) {
            ++partial[0][row[x]];
            ++partial[1][row[x + 1]];
            ++partial[2][row[x + 2]];
            ++partial[3][row[x + 3]];
        }
        for (; x < width - kFrame; ++x) ++partial[0][row[x]];
    }
    std::array<std::uint32_t, 256> histogram{};
    for (std::size_t g = 0; g < histogram.size(); ++g) {
        histogram[g] = partial[0][g] + partial[1][g] + partial[2][g] + partial[3][g];
    }
    std::uint32_t sum = 0;
    for (std::int32_t g = 0; g < 256; ++g) sum += histogram[g] * static_cast<std::uint32_t>(g);
    const auto mean = static_cast<std::int32_t>(sum / static_cast<std::uint32_t>(count));

    std::uint32_t squares = 0;
    for (std::int32_t g = 0; g < 256; ++g) {
        const auto d = static_cast<std::uint32_t>((g - mean) * (g - mean));
        squares += histogram[g] * d;
    }
    const std::uint32_t variance = squares / static_cast<std::uint32_t>(count);
    if (variance == 0) return 0;

    const std::int32_t gain = normalisationGain(variance);
    std::array<std::uint8_t, 256> map{};
    for (std::int32_t p = 0; p < 256; ++p) {
        map[p] = static_cast<std::uint8_t>(normalisedGrey(p, mean, gain));
    }
    const std::int32_t total = width * height;
    for (std::int32_t i = 0; i < total; ++i) image[i] = map[image[i]];
    return 1;
}

}  // namespace zp
