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
// Largest image served (the sensor's); the work area is sized for it.
constexpr std::int32_t kMaxWidth = 256;
constexpr std::int32_t kMaxHeight = 384;
constexpr std::int32_t kRowWords = kMaxWidth / 64;
// Rows per band of the column sub-pass's index: one bit per band and
// column, so that a column's bands fit one word.
constexpr std::int32_t kBandShift = 3;
static_assert((kMaxHeight >> kBandShift) <= 64);

using RowBits = std::array<std::uint64_t, kRowWords>;

constexpr std::uint64_t kLowBits = 0x0101010101010101ULL;
// Multiplying eight 0/1 bytes by this gathers byte i into bit 56 + i.
constexpr std::uint64_t kGatherBytes = 0x0102040810204080ULL;

// One row as bit planes: `set` has bit x for each odd pixel, `ones` for
// each pixel equal to 1 (the ones that may be marked).
struct PackedRow {
    RowBits set;
    RowBits ones;
};

// Bit x of the result: byte x of the eight from p on is odd.
inline std::uint64_t oddBits(std::uint64_t word) { return ((word & kLowBits) * kGatherBytes) >> 56; }

void packRow(const std::uint8_t* row, std::int32_t width, PackedRow& out) {
    out.set = RowBits{};
    // Bits above the lowest of any byte; when none is set, the row holds
    // only 0 and 1 and its ones are its set pixels.
    std::uint64_t high = 0;
    std::int32_t x = 0;
    for (; x + 8 <= width; x += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, row + x, 8);
        out.set[x >> 6] |= oddBits(word) << (x & 63);
        high |= word & ~kLowBits;
    }
    if (x < width) {
        std::uint64_t word = 0;
        std::memcpy(&word, row + x, static_cast<std::size_t>(width - x));
        out.set[x >> 6] |= oddBits(word) << (x & 63);
        high |= word & ~kLowBits;
    }
    if (high == 0) {
        out.ones = out.set;
        return;
    }
    out.ones = RowBits{};
    for (x = 0; x < width; ++x) {
        if (row[x] == 1) out.ones[x >> 6] |= std::uint64_t{1} << (x & 63);
    }
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

    RowBits region{};
    for (std::int32_t x = x0; x < x1; ++x) region[x >> 6] |= std::uint64_t{1} << (x & 63);
    // Bands holding marks that survived the row sub-pass, per column (bit
    // j: the rows whose index shifted right by kBandShift is j).
    std::array<std::uint64_t, kMaxWidth> survivorBands{};

    // Rows that held marks in the previous iteration (all, before the
    // first). Where rows y - 1 to y + 1 held none, nothing there was
    // deleted, so row y's marks are those of the previous pass, that is
    // none, and the row is skipped.
    std::array<bool, kMaxHeight> markedBefore{};
    std::array<bool, kMaxHeight> marked{};
    for (std::int32_t y = y0 - 1; y <= y1; ++y) markedBefore[y] = true;

    for (;;) {
        // Mark pass and row sub-pass in one sweep. The marks of row y depend
        // on rows y - 1 to y + 1 as they were when the pass began: rows
        // y and y + 1 are still untouched in the image (a row's deletions
        // change that row only), row y - 1 is kept packed from before its
        // deletions. Row r is held in ring[r % 3] once packed. Marks that
        // survive are written as the mark value and noted for the column
        // sub-pass.
        PackedRow ring[3];
        std::int32_t packed[3] = {-1, -1, -1};
        std::uint64_t any = 0;
        for (std::int32_t y = y0; y < y1; ++y) {
            marked[y] = false;
            if (!markedBefore[y - 1] && !markedBefore[y] && !markedBefore[y + 1]) continue;
            for (std::int32_t r = y - 1; r <= y + 1; ++r) {
                if (packed[r % 3] == r) continue;
                packRow(image + r * width, width, ring[r % 3]);
                packed[r % 3] = r;
            }
            const RowBits& up = ring[(y - 1) % 3].set;
            const RowBits& mid = ring[y % 3].set;
            const RowBits& down = ring[(y + 1) % 3].set;
            const RowBits& ones = ring[y % 3].ones;
            std::uint8_t* row = image + y * width;
            const std::uint64_t band = std::uint64_t{1} << (y >> kBandShift);
            std::uint64_t rowMarks = 0;
            for (std::int32_t k = 0; k < words; ++k) {
                const std::uint64_t c = ones[k] & region[k];
                if (c == 0) continue;
                std::uint64_t bits =
                    c & deletable(eastOf(mid, k, words), eastOf(up, k, words), up[k], westOf(up, k), westOf(mid, k),
                                  westOf(down, k), down[k], eastOf(down, k, words));
                rowMarks |= bits;
                while (bits != 0) {
                    const std::int32_t x = (k << 6) + std::countr_zero(bits);
                    bits &= bits - 1;
                    if ((kThinningTable[thinningIndex(row + x, width)] & kRowPass) != 0) {
                        row[x] = 0;
                    } else {
                        row[x] = kThinningMark;
                        survivorBands[x] |= band;
                    }
                }
            }
            marked[y] = rowMarks != 0;
            any |= rowMarks;
        }
        markedBefore = marked;
        if (any == 0) return;

        // Column sub-pass over the surviving marks, columns left to right,
        // each from the top. A mark is reset to 1 as soon as it is decided:
        // later decisions see it as set either way.
        for (std::int32_t x = x0; x < x1; ++x) {
            std::uint64_t bands = survivorBands[x];
            survivorBands[x] = 0;
            while (bands != 0) {
                const std::int32_t start = std::countr_zero(bands) << kBandShift;
                bands &= bands - 1;
                // Only region rows hold marks; a band may reach beyond them.
                const std::int32_t first = start > y0 ? start : y0;
                const std::int32_t last = start + (1 << kBandShift) < y1 ? start + (1 << kBandShift) : y1;
                // The band's pixels as the bytes of one word, marks found
                // all at once: fewer unpredictable branches than a test per row.
                std::uint8_t* const top = image + first * width + x;
                std::uint64_t column = 0;
                for (std::int32_t j = 0; j < last - first; ++j) {
                    column |= std::uint64_t{top[j * width]} << (8 * j);
                }
                const std::uint64_t other = column ^ (kLowBits * kThinningMark);
                std::uint64_t found =
                    ~(((other & 0x7F7F7F7F7F7F7F7FULL) + 0x7F7F7F7F7F7F7F7FULL) | other) & 0x8080808080808080ULL;
                // Bytes beyond the band's rows read as 0 and are not marks.
                while (found != 0) {
                    std::uint8_t* p = top + (std::countr_zero(found) >> 3) * width;
                    found &= found - 1;
                    *p = (kThinningTable[thinningIndex(p, width)] & kColumnPass) != 0 ? 0 : 1;
                }
            }
        }
    }
}

}  // namespace zp
