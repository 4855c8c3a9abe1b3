#include "enhance/median_filter.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace zp {
namespace {

constexpr std::int32_t kWindow = 25;
constexpr std::int32_t kMiddle = kWindow / 2;
// Widest row the filter serves, and the number of neighbouring entries
// whose medians are found together, one per lane.
constexpr std::int32_t kMaxColumns = 32;
constexpr std::int32_t kLanes = 16;

struct Comparator {
    std::uint8_t low;
    std::uint8_t high;
};

// Batcher's odd-even merge sort for 32 wires; comparators reaching wires
// 25..31 are left out (as if those held the largest values), then every
// comparator that cannot affect the middle wire is pruned.
struct MedianNetwork {
    std::array<Comparator, 256> comparators{};
    std::int32_t count = 0;
};

constexpr MedianNetwork buildMedianNetwork() {
    std::array<Comparator, 256> all{};
    std::int32_t total = 0;
    constexpr std::int32_t n = 32;
    for (std::int32_t p = 1; p < n; p <<= 1) {
        for (std::int32_t k = p; k >= 1; k >>= 1) {
            for (std::int32_t j = k % p; j + k < n; j += 2 * k) {
                for (std::int32_t i = 0; i < k && i + j + k < n; ++i) {
                    const std::int32_t a = i + j;
                    const std::int32_t b = i + j + k;
                    if (a / (2 * p) == b / (2 * p) && b < kWindow) {
                        all[total++] = Comparator{static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)};
                    }
                }
            }
        }
    }
    std::array<bool, kWindow> needed{};
    needed[kMiddle] = true;
    std::array<bool, 256> keep{};
    for (std::int32_t c = total - 1; c >= 0; --c) {
        if (needed[all[c].low] || needed[all[c].high]) {
            keep[c] = true;
            needed[all[c].low] = true;
            needed[all[c].high] = true;
        }
    }
    MedianNetwork network;
    for (std::int32_t c = 0; c < total; ++c) {
        if (keep[c]) network.comparators[network.count++] = all[c];
    }
    return network;
}

constexpr MedianNetwork kMedianNetwork = buildMedianNetwork();

using Lanes = std::array<std::uint8_t, kLanes>;

}  // namespace

std::int32_t medianOfValues(std::int32_t* values, std::int32_t n) {
    if (n < 1) return 0;
    for (std::int32_t i = 1; i < n; ++i) {
        const std::int32_t v = values[i];
        std::int32_t j = i;
        for (; j > 0 && values[j - 1] > v; --j) values[j] = values[j - 1];
        values[j] = v;
    }
    if ((n & 1) != 0) return values[n / 2];
    return (values[n / 2 - 1] + values[n / 2]) >> 1;
}

void medianFilter5x5(const std::uint8_t* source, std::uint8_t* destination, const std::uint8_t* mask,
                     std::int32_t columns, std::int32_t rows) {
    if (columns < 1 || rows < 1) return;
    std::memcpy(destination, source, static_cast<std::size_t>(columns * rows));
    if (columns > kMaxColumns || columns < 5 || rows < 5) return;

    // Wire w of lane l holds the entry (bx + l + w % 5 - 2, by + w / 5 - 2),
    // bx the first of the lane group; the network leaves the median of
    // each lane's 25 entries on the middle wire.
    std::array<Lanes, kWindow> wires{};
    for (std::int32_t by = 2; by <= rows - 3; ++by) {
        for (std::int32_t bx = 2; bx <= columns - 3; bx += kLanes) {
            const std::int32_t lanes = std::min(kLanes, columns - 2 - bx);
            for (std::int32_t w = 0; w < kWindow; ++w) {
                const std::uint8_t* from = source + (by + w / 5 - 2) * columns + bx + w % 5 - 2;
                std::memcpy(wires[w].data(), from, static_cast<std::size_t>(lanes));
            }
            for (std::int32_t c = 0; c < kMedianNetwork.count; ++c) {
                // Whole-wire copies keep the lane loop free of aliasing, so
                // that it becomes one vector min and max.
                const Lanes a = wires[kMedianNetwork.comparators[c].low];
                const Lanes b = wires[kMedianNetwork.comparators[c].high];
                Lanes lo;
                Lanes hi;
                for (std::int32_t l = 0; l < kLanes; ++l) {
                    lo[l] = a[l] < b[l] ? a[l] : b[l];
                    hi[l] = a[l] < b[l] ? b[l] : a[l];
                }
                wires[kMedianNetwork.comparators[c].low] = lo;
                wires[kMedianNetwork.comparators[c].high] = hi;
            }
            const std::uint8_t* m = mask + by * columns + bx;
            std::uint8_t* out = destination + by * columns + bx;
            for (std::int32_t l = 0; l < lanes; ++l) {
                if (m[l] != 0) out[l] = wires[kMiddle][l];
            }
        }
    }
}

}  // namespace zp
