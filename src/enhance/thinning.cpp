#include "enhance/thinning.h"

#include <array>
#include <bit>
#include <cstring>

namespace zp {
namespace {

constexpr std::int32_t kStandardBorder = 8;
constexpr std::int32_t kOtherBorder = 4;
constexpr std::uint8_t kRowPass = 1;
constexpr std::uint8_t kColumnPass = 2;
// Largest image served (the sensor's); the bit planes live on the stack.
constexpr std::int32_t kMaxWidth = 256;
constexpr std::int32_t kMaxHeight = 384;
constexpr std::int32_t kRowWords = kMaxWidth / 64;
constexpr std::int32_t kColumnWords = kMaxHeight / 64;

using RowBits = std::array<std::uint64_t, kRowWords>;
using ColumnBits = std::array<std::uint64_t, kColumnWords>;

constexpr std::uint64_t kLowBits = 0x0101010101010101ULL;
// Multiplying eight 0/1 bytes by this gathers byte i into bit 56 + i.
constexpr std::uint64_t kGatherBytes = 0x0102040810204080ULL;

// Bit i set for each byte i of the eight from p on (n of them real) whose
// value is odd, and in `exactOnes` for each byte equal to 1.
void packEight(const std::uint8_t* p, std::int32_t n, std::uint64_t& odd, std::uint64_t& exactOnes) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, static_cast<std::size_t>(n));
    const std::uint64_t low = word & kLowBits;
    // Bytes equal to 1: low bit set and nothing else.
    const std::uint64_t rest = word & ~kLowBits;
    const std::uint64_t restZero = ~(((rest & 0x7F7F7F7F7F7F7F7FULL) + 0x7F7F7F7F7F7F7F7FULL) | rest) & 0x8080808080808080ULL;
    odd = (low * kGatherBytes) >> 56;
    exactOnes = (((restZero >> 7) & low) * kGatherBytes) >> 56;
}

// Neighbour planes of one word: pixel x of the result holds pixel x + 1
// (east) or x - 1 (west) of the row.
inline std::uint64_t eastOf(const RowBits& row, std::int32_t k, std::int32_t words) {
    return (row[k] >> 1) | (k + 1 < words ? row[k + 1] << 63 : 0);
}
inline std::uint64_t westOf(const RowBits& row, std::int32_t k) {
    return (row[k] << 1) | (k > 0 ? row[k - 1] >> 63 : 0);
}

// Pixels of one word that the thinning table would let go in some
// sub-pass: crossing number 1, at least two set neighbours, and the side
// conditions of the row or the column sub-pass.
inline std::uint64_t deletable(std::uint64_t e, std::uint64_t ne, std::uint64_t n, std::uint64_t nw, std::uint64_t w,
                               std::uint64_t sw, std::uint64_t s, std::uint64_t se) {
    const std::uint64_t t1 = ~e & (ne | n);
    const std::uint64_t t2 = ~n & (nw | w);
    const std::uint64_t t3 = ~w & (sw | s);
    const std::uint64_t t4 = ~s & (se | e);
    const std::uint64_t pairs = (t1 & t2) | (t1 & t3) | (t1 & t4) | (t2 & t3) | (t2 & t4) | (t3 & t4);
    const std::uint64_t oneCrossing = (t1 | t2 | t3 | t4) & ~pairs;
    std::uint64_t seen = 0;
    std::uint64_t twoSet = 0;
    for (const std::uint64_t b : {e, ne, n, nw, w, sw, s, se}) {
        twoSet |= seen & b;
        seen |= b;
    }
    const std::uint64_t rowSide = (~w | ~e) & (e | w | sw | s | se) & (e | w | nw | n | ne);
    const std::uint64_t columnSide = (~n | ~s) & (n | s | ne | e | se) & (n | s | nw | w | sw);
    return oneCrossing & twoSet & (rowSide | columnSide);
}

}  // namespace

void thinning(std::uint8_t* image, std::int32_t width, std::int32_t height, std::int32_t border) {
    const std::int32_t m = border == kStandardBorder ? kStandardBorder : kOtherBorder;
    const std::int32_t x0 = m;
    const std::int32_t x1 = width - m;
    const std::int32_t y0 = m;
    const std::int32_t y1 = height - m;
    if (x0 >= x1 || y0 >= y1 || width > kMaxWidth || height > kMaxHeight) return;
    const std::int32_t words = (width + 63) / 64;

    // Bit planes of the image: odd (set) pixels everywhere, and the pixels
    // of the region that may be marked (exactly 1). Deletions are written
    // to the image at once and cleared in both planes; marks stay 1 in the
    // image, where they count as set just as the mark value 3 would.
    std::array<RowBits, kMaxHeight> set{};
    std::array<RowBits, kMaxHeight> candidates{};
    std::array<RowBits, kMaxHeight> marks{};
    std::array<ColumnBits, kMaxWidth> columnMarks{};
    RowBits region{};
    for (std::int32_t x = x0; x < x1; ++x) region[x >> 6] |= std::uint64_t{1} << (x & 63);

    for (std::int32_t y = 0; y < height; ++y) {
        const std::uint8_t* row = image + y * width;
        for (std::int32_t x = 0; x < width; x += 8) {
            const std::int32_t n = width - x < 8 ? width - x : 8;
            std::uint64_t odd = 0;
            std::uint64_t ones = 0;
            packEight(row + x, n, odd, ones);
            set[y][x >> 6] |= odd << (x & 63);
            candidates[y][x >> 6] |= ones << (x & 63);
        }
        if (y < y0 || y >= y1) {
            candidates[y] = RowBits{};
        } else {
            for (std::int32_t k = 0; k < words; ++k) candidates[y][k] &= region[k];
        }
    }

    for (;;) {
        // Mark pass, all pixels at once from the image as it stands.
        std::uint64_t any = 0;
        for (std::int32_t y = y0; y < y1; ++y) {
            const RowBits& up = set[y - 1];
            const RowBits& mid = set[y];
            const RowBits& down = set[y + 1];
            for (std::int32_t k = 0; k < words; ++k) {
                const std::uint64_t c = candidates[y][k];
                if (c == 0) {
                    marks[y][k] = 0;
                    continue;
                }
                const std::uint64_t mk =
                    c & deletable(eastOf(mid, k, words), eastOf(up, k, words), up[k], westOf(up, k), westOf(mid, k),
                                  westOf(down, k), down[k], eastOf(down, k, words));
                marks[y][k] = mk;
                any |= mk;
            }
        }
        if (any == 0) return;

        // Row sub-pass, in row order; each decision sees earlier deletions.
        for (std::int32_t y = y0; y < y1; ++y) {
            std::uint8_t* row = image + y * width;
            for (std::int32_t k = 0; k < words; ++k) {
                std::uint64_t bits = marks[y][k];
                while (bits != 0) {
                    const std::int32_t b = std::countr_zero(bits);
                    bits &= bits - 1;
                    const std::int32_t x = (k << 6) + b;
                    if ((kThinningTable[thinningIndex(row + x, width)] & kRowPass) == 0) {
                        columnMarks[x][y >> 6] |= std::uint64_t{1} << (y & 63);
                        continue;
                    }
                    row[x] = 0;
                    const std::uint64_t clear = ~(std::uint64_t{1} << b);
                    set[y][k] &= clear;
                    candidates[y][k] &= clear;
                }
            }
        }

        // Column sub-pass over the surviving marks, columns left to right,
        // each from the top; the column marks are consumed on the way.
        for (std::int32_t x = x0; x < x1; ++x) {
            ColumnBits& column = columnMarks[x];
            for (std::int32_t j = 0; j < kColumnWords; ++j) {
                std::uint64_t bits = column[j];
                column[j] = 0;
                while (bits != 0) {
                    const std::int32_t y = (j << 6) + std::countr_zero(bits);
                    bits &= bits - 1;
                    std::uint8_t* p = image + y * width + x;
                    if ((kThinningTable[thinningIndex(p, width)] & kColumnPass) == 0) continue;
                    *p = 0;
                    const std::uint64_t clear = ~(std::uint64_t{1} << (x & 63));
                    set[y][x >> 6] &= clear;
                    candidates[y][x >> 6] &= clear;
                }
            }
        }
        // Reset: the surviving marks are plain ridge pixels again; nothing
        // to do, as they were never written as marks.
    }
}

}  // namespace zp
