#include "enhance/thinning.h"

#include <array>
#include <bit>
#include <cstring>

#if defined(ZP_VECTOR_PATHS)
#include <immintrin.h>
#endif

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

// Packs row[x..width) into out.set (cleared before), or-ing the bytes'
// bits above the lowest into high.
void packFrom(const std::uint8_t* row, std::int32_t x, std::int32_t width, PackedRow& out, std::uint64_t& high) {
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
}

// Bits above the lowest of any byte; when none is set, the row holds only
// 0 and 1 and its ones are its set pixels.
void packOnes(const std::uint8_t* row, std::int32_t width, std::uint64_t high, PackedRow& out) {
    if (high == 0) {
        out.ones = out.set;
        return;
    }
    out.ones = RowBits{};
    for (std::int32_t x = 0; x < width; ++x) {
        if (row[x] == 1) out.ones[x >> 6] |= std::uint64_t{1} << (x & 63);
    }
}

void packRow(const std::uint8_t* row, std::int32_t width, PackedRow& out) {
    out.set = RowBits{};
    std::uint64_t high = 0;
    packFrom(row, 0, width, out, high);
    packOnes(row, width, high, out);
}

#if defined(ZP_VECTOR_PATHS)
// Sixteen pixels at a time: shifting each byte's lowest bit to its top
// lets the byte mask gather them.
void packRowSse2(const std::uint8_t* row, std::int32_t width, PackedRow& out) {
    out.set = RowBits{};
    __m128i above = _mm_setzero_si128();
    std::int32_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x));
        const auto odd = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_slli_epi16(v, 7)));
        out.set[x >> 6] |= std::uint64_t{odd} << (x & 63);
        above = _mm_or_si128(above, v);
    }
    const __m128i clearAbove = _mm_cmpeq_epi8(_mm_andnot_si128(_mm_set1_epi8(1), above), _mm_setzero_si128());
    std::uint64_t high = _mm_movemask_epi8(clearAbove) == 0xFFFF ? 0 : 1;
    packFrom(row, x, width, out, high);
    packOnes(row, width, high, out);
}
#endif

using RowPacker = void (*)(const std::uint8_t*, std::int32_t, PackedRow&);

// Neighbour planes of one word: pixel x of the result holds pixel x + 1
// (east) or x - 1 (west) of the row.
inline std::uint64_t eastOf(const RowBits& row, std::int32_t k, std::int32_t words) {
    return (row[k] >> 1) | (k + 1 < words ? row[k + 1] << 63 : 0);
}
inline std::uint64_t westOf(const RowBits& row, std::int32_t k) {
    return (row[k] << 1) | (k > 0 ? row[k - 1] >> 63 : 0);
}

// Pixels that the thinning table would let go in some sub-pass: crossing
// number 1, at least two set neighbours, and the side conditions of the row
// or the column sub-pass. T is one word or a vector of words (bitwise
// operators only); values go through references so that no vector crosses
// a call outside its own target.
template <typename T>
[[gnu::always_inline]] inline void deletable(T& out, const T& e, const T& ne, const T& n, const T& nw, const T& w,
                                             const T& sw, const T& s, const T& se) {
    const T t1 = ~e & (ne | n);
    const T t2 = ~n & (nw | w);
    const T t3 = ~w & (sw | s);
    const T t4 = ~s & (se | e);
    const T pairs = (t1 & t2) | (t1 & t3) | (t1 & t4) | (t2 & t3) | (t2 & t4) | (t3 & t4);
    const T oneCrossing = (t1 | t2 | t3 | t4) & ~pairs;
    const T planes[8] = {e, ne, n, nw, w, sw, s, se};
    T seen = e & ~e;
    T twoSet = seen;
    for (const T& b : planes) {
        twoSet |= seen & b;
        seen |= b;
    }
    const T rowSide = (~w | ~e) & (e | w | sw | s | se) & (e | w | nw | n | ne);
    const T columnSide = (~n | ~s) & (n | s | ne | e | se) & (n | s | nw | w | sw);
    out = oneCrossing & twoSet & (rowSide | columnSide);
}

// The deletable pixels of a row, one word at a time.
void deletableRow(const RowBits& up, const RowBits& mid, const RowBits& down, std::int32_t words, RowBits& out) {
    for (std::int32_t k = 0; k < words; ++k) {
        deletable(out[k], eastOf(mid, k, words), eastOf(up, k, words), up[k], westOf(up, k), westOf(mid, k),
                  westOf(down, k), down[k], eastOf(down, k, words));
    }
}

#if defined(ZP_VECTOR_PATHS)
// The same for the whole row in one 32-byte vector (words beyond the
// image's are 0): the neighbour planes shift bits across word boundaries by
// moving the words one place and taking their end bits.
constexpr int kNextWords = 0xF9;      // words 1, 2, 3, 3
constexpr int kPreviousWords = 0x90;  // words 0, 0, 1, 2
constexpr int kTopWord = 0xC0;        // the 32-bit halves of word 3
constexpr int kBottomWord = 0x03;     // those of word 0

__attribute__((target("avx2"))) inline void planesAvx2(const RowBits& row, __m256i& centre, __m256i& east,
                                                       __m256i& west) {
    const __m256i zero = _mm256_setzero_si256();
    centre = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row.data()));
    const __m256i next = _mm256_blend_epi32(_mm256_permute4x64_epi64(centre, kNextWords), zero, kTopWord);
    const __m256i previous = _mm256_blend_epi32(_mm256_permute4x64_epi64(centre, kPreviousWords), zero, kBottomWord);
    east = _mm256_or_si256(_mm256_srli_epi64(centre, 1), _mm256_slli_epi64(next, 63));
    west = _mm256_or_si256(_mm256_slli_epi64(centre, 1), _mm256_srli_epi64(previous, 63));
}

__attribute__((target("avx2"))) void deletableRowAvx2(const RowBits& up, const RowBits& mid, const RowBits& down,
                                                      std::int32_t /*words*/, RowBits& out) {
    static_assert(kRowWords == 4);
    __m256i n, ne, nw, c, e, w, s, se, sw;
    planesAvx2(up, n, ne, nw);
    planesAvx2(mid, c, e, w);
    planesAvx2(down, s, se, sw);
    __m256i result;
    deletable(result, e, ne, n, nw, w, sw, s, se);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out.data()), result);
}
#endif

using DeletableRow = void (*)(const RowBits&, const RowBits&, const RowBits&, std::int32_t, RowBits&);

}  // namespace

void thinning(std::uint8_t* image, std::int32_t width, std::int32_t height, std::int32_t border) {
    thinning(image, width, height, border, bestVectorPath());
}

void thinning(std::uint8_t* image, std::int32_t width, std::int32_t height, std::int32_t border, VectorPath path) {
    const std::int32_t m = border == kStandardBorder ? kStandardBorder : kOtherBorder;
    const std::int32_t x0 = m;
    const std::int32_t x1 = width - m;
    const std::int32_t y0 = m;
    const std::int32_t y1 = height - m;
    if (x0 >= x1 || y0 >= y1 || width > kMaxWidth || height > kMaxHeight) return;
    const std::int32_t words = (width + 63) / 64;
#if defined(ZP_VECTOR_PATHS)
    const RowPacker pack = functionForPath<RowPacker>(path, packRow, packRowSse2, packRowSse2);
    const DeletableRow deletableOf = functionForPath<DeletableRow>(path, deletableRow, deletableRow, deletableRowAvx2);
#else
    static_cast<void>(path);
    const RowPacker pack = packRow;
    const DeletableRow deletableOf = deletableRow;
#endif

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
                pack(image + r * width, width, ring[r % 3]);
                packed[r % 3] = r;
            }
            const RowBits& up = ring[(y - 1) % 3].set;
            const RowBits& mid = ring[y % 3].set;
            const RowBits& down = ring[(y + 1) % 3].set;
            const RowBits& ones = ring[y % 3].ones;
            std::uint8_t* row = image + y * width;
            const std::uint64_t band = std::uint64_t{1} << (y >> kBandShift);
            std::uint64_t rowMarks = 0;
            RowBits candidates;
            deletableOf(up, mid, down, words, candidates);
            for (std::int32_t k = 0; k < words; ++k) {
                std::uint64_t bits = ones[k] & region[k] & candidates[k];
                rowMarks |= bits;
                while (bits != 0) {
                    const std::int32_t x = (k << 6) + std::countr_zero(bits);
                    bits &= bits - 1;
                    // Without branches: the outcome is hard to predict.
                    const bool survives = (kThinningTable[thinningIndex(row + x, width)] & kRowPass) == 0;
                    row[x] = survives ? kThinningMark : 0;
                    survivorBands[x] |= survives ? band : 0;
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
