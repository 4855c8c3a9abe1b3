#include "match/similarity.h"

#include <bit>
#include <cstring>

#include "match/matching_model.h"
#include "match/cell_lanes_avx512.h"
#include "match/neighbour_table.h"
#include "match/ordered_farther.h"
#include "math/small_clear.h"

#if defined(ZP_VECTOR_PATHS)
#include <immintrin.h>
#endif

namespace zp {

std::int32_t similarity(const std::uint8_t* rowA, const std::uint8_t* rowB, std::int32_t countA,
                        std::int32_t countB, std::int32_t distanceTolerance,
                        std::int32_t angleTolerance) {
    const auto dist = [](const std::uint8_t* row, std::int32_t k) -> std::int32_t {
        return row[k * kCellBytes];
    };
    if (rowA[0] == 0 || rowB[0] == 0) return 0;
    const std::int32_t lastA = countA - 1;  // cells 0..count-2 hold neighbours
    const std::int32_t lastB = countB - 1;

    // Skip the far neighbours that only one side has; an empty cell also ends
    // the skip.
    const std::int32_t dA = rowA[0];
    const std::int32_t dB = rowB[0];
    std::int32_t a0 = 0;
    std::int32_t b0 = 0;
    if (dB > dA) {
        b0 = lastB;
        for (std::int32_t b = 0; b < lastB; ++b) {
            if (dist(rowB, b) <= dA + distanceTolerance) {
                b0 = b;
                break;
            }
        }
    } else {
        a0 = lastA;
        for (std::int32_t a = 0; a < lastA; ++a) {
            if (dist(rowA, a) <= dB + distanceTolerance) {
                a0 = a;
                break;
            }
        }
    }
    if (b0 >= lastB) return 0;

    std::int32_t count = 0;
    std::int32_t start = a0;
    for (std::int32_t b = b0; b < lastB; ++b) {
        const std::uint8_t* cellB = rowB + b * kCellBytes;
        const std::int32_t e = cellB[0];
        if (e == 0) return count;
        bool startSet = false;
        for (std::int32_t a = start; a < lastA; ++a) {
            const std::uint8_t* cellA = rowA + a * kCellBytes;
            const std::int32_t f = cellA[0];
            if (f == 0) break;
            if (f > e + distanceTolerance) continue;
            // The first neighbour of A no farther than e + tolerance starts the
            // window for every later neighbour of B.
            if (!startSet) {
                start = a;
                startSet = true;
            }
            if (f < e - distanceTolerance) break;
            if (!directionsAgree(cellFirstAngle(cellA), cellFirstAngle(cellB), angleTolerance) ||
                !directionsAgree(cellSecondAngle(cellA), cellSecondAngle(cellB), angleTolerance)) {
                continue;
            }
            ++count;
            break;
        }
    }
    return count;
}

namespace {

// Both preparations walk the row once: cells up to the first empty one or
// count - 1, whichever comes first, noting whether distances ever rise.
RowReading readRowPortable(const std::uint8_t* row, std::int32_t count, std::uint32_t* keys, std::uint32_t* packed) {
    const std::int32_t last = count - 1;
    std::int32_t previous = 256;
    bool ordered = true;
    bool wide = false;
    std::int32_t n = 0;
    for (; n < last; ++n) {
        const std::uint8_t* cell = row + n * kCellBytes;
        const std::int32_t d = cell[0];
        if (d == 0) break;
        ordered &= d <= previous;
        previous = d;
        const std::int32_t first = cellFirstAngle(cell);
        const std::int32_t second = cellSecondAngle(cell);
        wide |= (first >= kFullCircle) | (second >= kFullCircle);
        keys[n] = static_cast<std::uint32_t>(d) | (std::uint32_t{kDirectionBucket[static_cast<std::size_t>(first)]} << 8) |
                  (static_cast<std::uint32_t>(d + kKeyNearerBound) << 16) |
                  (std::uint32_t{kDirectionBucket[static_cast<std::size_t>(second)]} << 24);
        if (packed != nullptr) packed[n] = packCell(first, second, 0);
    }
    return {n, ordered, !wide};
}

void finishSecondRow(const std::uint8_t* row, const RowReading& r, SecondRow& out) {
    out.key[static_cast<std::size_t>(r.length)] = 0;
    out.length = r.length;
    out.row = row;
    out.ordered = r.ordered && (r.length == 0 || row[0] <= kPreparedReach);
    out.narrow = r.narrow;
}

}  // namespace

void prepareSecondRow(const std::uint8_t* row, std::int32_t count, SecondRow& out) {
    finishSecondRow(row, readRowPortable(row, count, out.key.data(), nullptr), out);
}

namespace {

#if defined(ZP_VECTOR_PATHS)
// a / 12 for every a below 360 as the high half of a * 5462 (which
// 16-bit lanes give in one step), and at least kDirectionBuckets from 360
// on, where the vector paths clamp it.
constexpr std::uint32_t kBucketMultiplier16 = 5462;
constexpr bool bucketsFromHighHalves() {
    for (std::uint32_t a = 0; a < kFullCircle; ++a) {
        if (((a * kBucketMultiplier16) >> 16) != a / kDirectionBucketWidth) return false;
    }
    return ((kFullCircle * kBucketMultiplier16) >> 16) >= kDirectionBuckets;
}
static_assert(bucketsFromHighHalves());

__attribute__((target("avx2"))) inline __m256i bucketsAvx2(__m256i angle) {
    return _mm256_min_epi32(
        _mm256_srli_epi32(_mm256_mullo_epi32(angle, _mm256_set1_epi32(static_cast<std::int32_t>(kBucketMultiplier16))), 16),
        _mm256_set1_epi32(kDirectionBuckets));
}

// Eight cells at a time: cells at or past count - 1 are neither read nor
// written, the first empty cell ends the row.
__attribute__((target("avx2"))) RowReading readRowAvx2(const std::uint8_t* row, std::int32_t count,
                                                      std::uint32_t* keys, std::uint32_t* packed) {
    const std::int32_t last = count - 1;
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i byte = _mm256_set1_epi32(0xFF);
    const __m256i circle = _mm256_set1_epi32(kFullCircle - 1);
    const __m256i shiftUp = _mm256_setr_epi32(7, 0, 1, 2, 3, 4, 5, 6);
    __m256i previous = _mm256_set1_epi32(256);
    __m256i rises = _mm256_setzero_si256();
    __m256i wide = _mm256_setzero_si256();
    std::int32_t n = 0;
    for (std::int32_t k = 0; k < last; k += 8) {
        const __m256i valid = _mm256_cmpgt_epi32(_mm256_set1_epi32(last - k), lane);
        const __m256i w = _mm256_maskload_epi32(reinterpret_cast<const int*>(row + k * kCellBytes), valid);
        const __m256i d = _mm256_and_si256(w, byte);
        // Lanes before the first empty or unread cell.
        const auto ends = static_cast<std::uint32_t>(
            _mm256_movemask_ps(_mm256_castsi256_ps(_mm256_or_si256(_mm256_cmpeq_epi32(d, _mm256_setzero_si256()),
                                                                    _mm256_xor_si256(valid, _mm256_set1_epi32(-1))))));
        const std::int32_t inRow = ends == 0 ? 8 : std::countr_zero(ends);
        const __m256i kept = _mm256_cmpgt_epi32(_mm256_set1_epi32(inRow), lane);
        const __m256i first = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(w, 8), byte),
                                              _mm256_and_si256(_mm256_srli_epi32(w, 22), _mm256_set1_epi32(0x100)));
        const __m256i second = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(w, 16), byte),
                                               _mm256_and_si256(_mm256_srli_epi32(w, 23), _mm256_set1_epi32(0x100)));
        // Each distance against the one before it, the last of the block
        // before for lane 0.
        const __m256i before = _mm256_blend_epi32(_mm256_permutevar8x32_epi32(d, shiftUp), previous, 1);
        rises = _mm256_or_si256(rises, _mm256_and_si256(kept, _mm256_cmpgt_epi32(d, before)));
        wide = _mm256_or_si256(wide, _mm256_and_si256(kept, _mm256_or_si256(_mm256_cmpgt_epi32(first, circle),
                                                                            _mm256_cmpgt_epi32(second, circle))));
        const __m256i key = _mm256_or_si256(
            _mm256_or_si256(d, _mm256_slli_epi32(_mm256_add_epi32(d, _mm256_set1_epi32(kKeyNearerBound)), 16)),
            _mm256_or_si256(_mm256_slli_epi32(bucketsAvx2(first), 8), _mm256_slli_epi32(bucketsAvx2(second), 24)));
        _mm256_maskstore_epi32(reinterpret_cast<int*>(keys + k), valid, key);
        if (packed != nullptr) {
            _mm256_maskstore_epi32(reinterpret_cast<int*>(packed + k), valid,
                                   _mm256_or_si256(first, _mm256_slli_epi32(second, 16)));
        }
        n = k + inRow;
        if (inRow < 8) break;
        previous = _mm256_permutevar8x32_epi32(d, _mm256_set1_epi32(7));
    }
    return {n, _mm256_testz_si256(rises, rises) != 0, _mm256_testz_si256(wide, wide) != 0};
}

void prepareSecondRowAvx2(const std::uint8_t* row, std::int32_t count, SecondRow& out) {
    finishSecondRow(row, readRowAvx2(row, count, out.key.data(), nullptr), out);
}

// GCC 12's headers fill the unused result of unmasked AVX-512 intrinsics
// from an uninitialised variable and then warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
// Sixteen cells at a time with mask registers: the rule of readRowAvx2.
// Each cell's two directions are read together as the 16-bit halves of
// packCell, and both buckets come from them at once.
__attribute__((target("avx512f,avx512bw,avx512vl,bmi,bmi2"))) RowReading readRowAvx512(const std::uint8_t* row,
                                                                                      std::int32_t count,
                                                                                      std::uint32_t* keys,
                                                                                      std::uint32_t* packed) {
    const std::int32_t last = count - 1;
    const __m512i byte = _mm512_set1_epi32(0xFF);
    // Bucket bytes 0 and 2 to key bytes 1 and 3.
    const __m512i keyBucketBytes = _mm512_set4_epi32(static_cast<std::int32_t>(0x0E800C80), static_cast<std::int32_t>(0x0A800880),
                                                     static_cast<std::int32_t>(0x06800480), static_cast<std::int32_t>(0x02800080));
    const __m512i multiplier = _mm512_set1_epi16(static_cast<std::int16_t>(kBucketMultiplier16));
    const __m512i noBucket = _mm512_set1_epi16(kDirectionBuckets);
    const __m512i circle = _mm512_set1_epi16(kFullCircle - 1);
    const __m512i nearerBound = _mm512_set1_epi32(kKeyNearerBound);
    __m512i previous = _mm512_set1_epi32(256);
    __mmask16 rises = 0;
    __mmask32 wide = 0;
    std::int32_t n = 0;
    for (std::int32_t k = 0; k < last; k += 16) {
        const auto valid = static_cast<__mmask16>(_bzhi_u32(0xFFFF, static_cast<std::uint32_t>(last - k)));
        const __m512i w = _mm512_maskz_loadu_epi32(valid, row + k * kCellBytes);
        const __m512i d = _mm512_and_si512(w, byte);
        // Lanes before the first empty or unread cell.
        const auto ends = static_cast<std::uint32_t>(_mm512_testn_epi32_mask(w, byte) | static_cast<__mmask16>(~valid));
        const std::int32_t inRow = ends == 0 ? 16 : std::countr_zero(ends);
        const auto kept = static_cast<__mmask16>(_bzhi_u32(0xFFFF, static_cast<std::uint32_t>(inRow)));
        const __m512i angles = packedAnglesAvx512(w);
        // Each distance against the one before it, the last of the block
        // before for lane 0.
        rises |= _mm512_mask_cmpgt_epu32_mask(kept, d, _mm512_alignr_epi32(d, previous, 15));
        wide |= _mm512_mask_cmpgt_epu16_mask(static_cast<__mmask32>(_pdep_u32(kept, 0x55555555U) * 3U), angles, circle);
        const __m512i buckets = _mm512_min_epu16(_mm512_mulhi_epu16(angles, multiplier), noBucket);
        const __m512i key = _mm512_ternarylogic_epi32(d, _mm512_shuffle_epi8(buckets, keyBucketBytes),
                                                      _mm512_slli_epi32(_mm512_add_epi32(d, nearerBound), 16), 0xFE);
        _mm512_mask_storeu_epi32(keys + k, valid, key);
        if (packed != nullptr) _mm512_mask_storeu_epi32(packed + k, valid, angles);
        n = k + inRow;
        if (inRow < 16) break;
        previous = d;
    }
    return {n, rises == 0, wide == 0};
}

void prepareSecondRowAvx512(const std::uint8_t* row, std::int32_t count, SecondRow& out) {
    finishSecondRow(row, readRowAvx512(row, count, out.key.data(), nullptr), out);
}

// kNearBuckets[b]: bit t for the buckets t whose candidates hold a cell of
// bucket b (b and its two neighbours round the circle); none for b = 30, 31.
constexpr std::array<std::uint32_t, 32> makeNearBuckets() {
    std::array<std::uint32_t, 32> out{};
    for (std::int32_t b = 0; b < kDirectionBuckets; ++b) {
        for (const std::int32_t t : {b - 1, b, b + 1}) {
            out[static_cast<std::size_t>(b)] |= 1U << ((t + kDirectionBuckets) % kDirectionBuckets);
        }
    }
    return out;
}
constexpr std::array<std::uint32_t, 32> kNearBuckets = makeNearBuckets();

// A 32 x 32 bit matrix held as 32 words (row k: word k) transposed: the
// words' bytes are gathered into 8 x 8 tiles, one per 64-bit lane with its
// rows in reverse order, each tile transposed by an affine step over
// GF(2) whose matrix is the tile, and the tiles' bytes put back in place.
constexpr std::array<std::uint8_t, 128> makeTileBytes() {
    std::array<std::uint8_t, 128> out{};
    for (std::size_t rows = 0; rows < 4; ++rows) {
        for (std::size_t column = 0; column < 4; ++column) {
            for (std::size_t j = 0; j < 8; ++j) {
                out[8 * (4 * rows + column) + 7 - j] = static_cast<std::uint8_t>(4 * (8 * rows + j) + column);
            }
        }
    }
    return out;
}
constexpr std::array<std::uint8_t, 128> makeUntileBytes() {
    std::array<std::uint8_t, 128> out{};
    for (std::size_t rows = 0; rows < 4; ++rows) {
        for (std::size_t column = 0; column < 4; ++column) {
            for (std::size_t i = 0; i < 8; ++i) {
                out[4 * (8 * column + i) + rows] = static_cast<std::uint8_t>(8 * (4 * rows + column) + i);
            }
        }
    }
    return out;
}
constexpr std::array<std::uint8_t, 128> kTileBytes = makeTileBytes();
constexpr std::array<std::uint8_t, 128> kUntileBytes = makeUntileBytes();
constexpr std::uint64_t kUnitBytes = 0x8040201008040201ULL;  // byte i: bit i

__attribute__((target("avx512f,avx512bw,avx512vbmi,gfni"))) void transpose32(__m512i& low, __m512i& high) {
    const __m512i tileLow = _mm512_loadu_si512(kTileBytes.data());
    const __m512i tileHigh = _mm512_loadu_si512(kTileBytes.data() + 64);
    const __m512i unit = _mm512_set1_epi64(static_cast<std::int64_t>(kUnitBytes));
    const __m512i tiles0 = _mm512_gf2p8affine_epi64_epi8(unit, _mm512_permutex2var_epi8(low, tileLow, high), 0);
    const __m512i tiles1 = _mm512_gf2p8affine_epi64_epi8(unit, _mm512_permutex2var_epi8(low, tileHigh, high), 0);
    low = _mm512_permutex2var_epi8(tiles0, _mm512_loadu_si512(kUntileBytes.data()), tiles1);
    high = _mm512_permutex2var_epi8(tiles0, _mm512_loadu_si512(kUntileBytes.data() + 64), tiles1);
}

// Bucket masks of a short row: word k of the matrix holds the buckets
// whose candidates take cell k (from kNearBuckets), so its transpose holds
// each bucket's candidate cells.
__attribute__((target("avx512f,avx512bw,avx512vbmi,gfni"))) void shortCandidates(__m512i keys0, __m512i keys1,
                                                                               __mmask16 in0, __mmask16 in1,
                                                                               std::int32_t keyShift,
                                                                               std::array<std::uint32_t, 32>& out) {
    const __m512i nearLow = _mm512_loadu_si512(kNearBuckets.data());
    const __m512i nearHigh = _mm512_loadu_si512(kNearBuckets.data() + 16);
    const __m128i shift = _mm_cvtsi32_si128(keyShift);
    __m512i low = _mm512_maskz_permutex2var_epi32(in0, nearLow, _mm512_srl_epi32(keys0, shift), nearHigh);
    __m512i high = _mm512_maskz_permutex2var_epi32(in1, nearLow, _mm512_srl_epi32(keys1, shift), nearHigh);
    transpose32(low, high);
    _mm512_storeu_si512(out.data(), low);
    _mm512_storeu_si512(out.data() + 16, high);
}

__attribute__((target("avx512f,avx512bw,avx512vbmi,gfni,bmi2"))) void shortRowAvx512(const std::uint32_t* keys,
                                                                                   FirstRow& out) {
    static_assert(kShortRowCells == 32 && kWindowTableBytes == 80);
    const std::int32_t n = out.length;
    const auto in0 = static_cast<__mmask16>(_bzhi_u32(0xFFFF, static_cast<std::uint32_t>(n)));
    const auto in1 = static_cast<__mmask16>(_bzhi_u32(0xFFFF, static_cast<std::uint32_t>(n > 16 ? n - 16 : 0)));
    const __m512i keys0 = _mm512_maskz_loadu_epi32(in0, keys);
    const __m512i keys1 = _mm512_maskz_loadu_epi32(in1, keys + 16);
    // Each cell's distance plus the offset; distances past the table's
    // range (and only they) reach 80 or more, farther than every threshold.
    const __m512i distances = _mm512_zextsi256_si512(
        _mm256_inserti128_si256(_mm256_castsi128_si256(_mm512_cvtepi32_epi8(keys0)), _mm512_cvtepi32_epi8(keys1), 1));
    const __m512i e = _mm512_maskz_adds_epu8(_bzhi_u64(~std::uint64_t{0}, static_cast<std::uint32_t>(n)), distances,
                                             _mm512_set1_epi8(kFartherOffset));
    orderedFarther<kShortRowCells / 2>(e, out.farther);
    if (!out.narrow) return;
    shortCandidates(keys0, keys1, in0, in1, 8, out.firstShort);
    shortCandidates(keys0, keys1, in0, in1, 24, out.secondShort);
}
#pragma GCC diagnostic pop
#endif

// candidates[k]: the cells of bucket k and of its two neighbours round the
// circle.
void candidatesPortable(BucketCells& cells, std::array<CellMask, kDirectionBuckets>& candidates) {
    cells[0] = cells[kDirectionBuckets];
    cells[kDirectionBuckets + 1] = cells[1];
    for (std::int32_t k = 0; k < kDirectionBuckets; ++k) {
        candidates[static_cast<std::size_t>(k)] = cells[static_cast<std::size_t>(k)] |
                                                  cells[static_cast<std::size_t>(k + 1)] |
                                                  cells[static_cast<std::size_t>(k + 2)];
    }
}

// kLowCells[k]: cells 0 .. k - 1.
constexpr std::array<CellMask, kRowCells + 1> makeLowCells() {
    std::array<CellMask, kRowCells + 1> out{};
    for (std::int32_t k = 0; k <= kRowCells; ++k) out[static_cast<std::size_t>(k)] = (CellMask{1} << k) - 1;
    return out;
}
constexpr std::array<CellMask, kRowCells + 1> kLowCells = makeLowCells();

// window[e]: cells no farther than e + 2 and no nearer than e - 2, i.e.
// cells farther[e + 2] .. farther[e - 3] - 1 (farther never rises, so the
// first bound is the smaller).
constexpr std::size_t kWindowFrom = kKeyNearerBound;                                    // farther[e + 2]
constexpr std::size_t kWindowTo = kFartherOffset - kSimilarityDistanceTolerance - 1;    // farther[e - 3]

void windowsPortable(const WindowTable& farther, std::array<CellMask, kPreparedReach + 1>& window) {
    window[0] = 0;
    for (std::size_t e = 1; e <= kPreparedReach; ++e) {
        window[e] = kLowCells[farther[e + kWindowTo]] ^ kLowCells[farther[e + kWindowFrom]];
    }
}

#if defined(ZP_VECTOR_PATHS)
// Four windows at a time: cells from .. to - 1 are (1 << to) - (1 << from).
__attribute__((target("avx2"))) void windowsAvx2(const WindowTable& farther,
                                                 std::array<CellMask, kPreparedReach + 1>& window) {
    const __m256i one = _mm256_set1_epi64x(1);
    window[0] = 0;
    std::size_t e = 1;
    for (; e + 4 <= kPreparedReach + 1; e += 4) {
        std::int32_t to;
        std::int32_t from;
        std::memcpy(&to, farther.data() + e + kWindowTo, sizeof to);
        std::memcpy(&from, farther.data() + e + kWindowFrom, sizeof from);
        const __m256i high = _mm256_sllv_epi64(one, _mm256_cvtepu8_epi64(_mm_cvtsi32_si128(to)));
        const __m256i low = _mm256_sllv_epi64(one, _mm256_cvtepu8_epi64(_mm_cvtsi32_si128(from)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(window.data() + e), _mm256_sub_epi64(high, low));
    }
    for (; e <= kPreparedReach; ++e) {
        window[e] = kLowCells[farther[e + kWindowTo]] ^ kLowCells[farther[e + kWindowFrom]];
    }
}

// Four buckets at a time from three shifted loads.
__attribute__((target("avx2"))) void candidatesAvx2(BucketCells& cells,
                                                    std::array<CellMask, kDirectionBuckets>& candidates) {
    cells[0] = cells[kDirectionBuckets];
    cells[kDirectionBuckets + 1] = cells[1];
    std::size_t k = 0;
    for (; k + 4 <= kDirectionBuckets; k += 4) {
        const auto* at = reinterpret_cast<const __m256i*>(cells.data() + k);
        const __m256i own = _mm256_loadu_si256(at);
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cells.data() + k + 1));
        const __m256i after = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cells.data() + k + 2));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(candidates.data() + k),
                            _mm256_or_si256(_mm256_or_si256(own, next), after));
    }
    for (; k < kDirectionBuckets; ++k) candidates[k] = cells[k] | cells[k + 1] | cells[k + 2];
}
#endif

}  // namespace

SecondRowPreparer secondRowPreparer(VectorPath path) {
#if defined(ZP_VECTOR_PATHS)
    if (path == VectorPath::Avx512 && vectorPathAvailable(VectorPath::Avx512)) return prepareSecondRowAvx512;
    return functionForPath<SecondRowPreparer>(path, prepareSecondRow, prepareSecondRow, prepareSecondRowAvx2);
#else
    static_cast<void>(path);
    return prepareSecondRow;
#endif
}

FirstRowKernels firstRowKernels(VectorPath path) {
#if defined(ZP_VECTOR_PATHS)
    // The AVX-512 similarity kernel makes each window from the farther
    // counts itself.
    if (path == VectorPath::Avx512 && vectorPathAvailable(VectorPath::Avx512)) {
        return {readRowAvx512, nullptr, candidatesAvx2, shortRowAvx512};
    }
    if (path >= VectorPath::Avx2 && vectorPathAvailable(VectorPath::Avx2)) {
        return {readRowAvx2, windowsAvx2, candidatesAvx2, nullptr};
    }
#else
    static_cast<void>(path);
#endif
    return {readRowPortable, windowsPortable, candidatesPortable, nullptr};
}

void prepareFirstRow(const std::uint8_t* row, std::int32_t count, FirstRow& out) {
    prepareFirstRow(row, count, out, firstRowKernels(bestVectorPath()));
}

void prepareFirstRow(const std::uint8_t* row, std::int32_t count, FirstRow& out, const FirstRowKernels& kernels) {
    std::array<std::uint32_t, kRowCells> keys;
    const RowReading r = kernels.read(row, count, keys.data(), out.cells.data());
    const std::int32_t n = r.length;
    out.length = n;
    out.ordered = r.ordered;
    out.narrow = r.narrow;
    for (std::int32_t a = n; a < n + kWindowPadding; ++a) out.cells[static_cast<std::size_t>(a)] = 0;
    if (!r.ordered) return;
    if (kernels.shortRow != nullptr && n <= kShortRowCells) {
        kernels.shortRow(keys.data(), out);
        return;
    }
    // Distances beyond the window table's range all count as farther.
    WindowTable nearer{};
    constexpr std::uint32_t kTop = kFartherEntries - kFartherOffset;  // first x beyond the table
    BucketCells firstBucket;
    BucketCells secondBucket;
    clearSmallArray(firstBucket);
    clearSmallArray(secondBucket);
    for (std::int32_t k = 0; k < n; ++k) {
        const std::uint32_t key = keys[static_cast<std::size_t>(k)];
        const std::uint32_t d = key & 0xFF;
        if (d < kTop) ++nearer[d + kFartherOffset];
        const CellMask bit = CellMask{1} << k;
        firstBucket[((key >> 8) & 0xFF) + 1U] |= bit;
        secondBucket[(key >> 24) + 1U] |= bit;
    }
    // farther[x] = n - (cells with distance <= x): running sums of the
    // histogram.
    fartherCounts(nearer, n, out.farther);
    if (!out.narrow) return;
    if (kernels.windows != nullptr) kernels.windows(out.farther, out.window);
    kernels.candidates(firstBucket, out.firstCandidates);
    kernels.candidates(secondBucket, out.secondCandidates);
}

namespace {

std::uint32_t probeOf(const std::uint8_t* cell) {
    return packCell(cellFirstAngle(cell), cellSecondAngle(cell), 0);
}

// Rows with directions of 360 or more: each window tested as a whole.
std::int32_t windowSimilarity(const FirstRow& a, const SecondRow& b) {
    std::int32_t count = 0;
    for (std::int32_t k = 0; k < b.length; ++k) {
        const std::int32_t e = static_cast<std::int32_t>(b.key[static_cast<std::size_t>(k)] & 0xFF);
        // Window: cells no farther than e + 2 and no nearer than e - 2.
        const std::int32_t from =
            a.farther[static_cast<std::size_t>(e + kSimilarityDistanceTolerance + kFartherOffset)];
        const std::int32_t to =
            a.farther[static_cast<std::size_t>(e - kSimilarityDistanceTolerance - 1 + kFartherOffset)];
        if (from < to && anyAgreeingCell<false>(a.cells.data(), from, to, probeOf(b.row + k * kCellBytes))) {
            ++count;
        }
    }
    return count;
}

}  // namespace

namespace {

// Masks of the cells of a that may agree with cell k of b.
inline CellMask candidateCells(const FirstRow& a, const SecondRow& b, std::int32_t k) {
    const std::uint32_t key = b.key[static_cast<std::size_t>(k)];
    return a.window[key & 0xFF] & a.firstCandidates[(key >> 8) & 0xFF] & a.secondCandidates[key >> 24];
}

// 1 when one of the candidates really agrees with cell k of b.
inline std::int32_t anyCandidateAgrees(const FirstRow& a, const SecondRow& b, std::int32_t k,
                                       CellMask m) {
    const std::uint32_t probe = probeOf(b.row + k * kCellBytes);
    for (; m != 0; m &= m - 1) {
        if (lanesAgree(a.cells[static_cast<std::size_t>(std::countr_zero(m))], probe)) return 1;
    }
    return 0;
}

}  // namespace

std::int32_t preparedSimilarity(const FirstRow& a, const SecondRow& b) {
    if (!a.narrow || !b.narrow) return windowSimilarity(a, b);
    // A cell of b counts when some cell of a within the distance window has
    // both directions within the angle tolerance. The bucket masks keep every
    // such cell of a (and some others), so only what they keep is tested.
    // Two cells of b per step (the empty key after the last one completes
    // an odd row): most steps keep nothing.
    std::int32_t count = 0;
    for (std::int32_t k = 0; k < b.length; k += 2) {
        const CellMask m0 = candidateCells(a, b, k);
        const CellMask m1 = candidateCells(a, b, k + 1);
        if ((m0 | m1) == 0) continue;
        if (m0 != 0) count += anyCandidateAgrees(a, b, k, m0);
        if (m1 != 0) count += anyCandidateAgrees(a, b, k + 1, m1);
    }
    return count;
}

namespace {

#if defined(ZP_VECTOR_PATHS)
// GCC 12's headers fill the unused result of unmasked AVX-512 intrinsics
// from an uninitialised variable and then warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#define ZP_SIMILARITY_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx512vbmi,avx512cd,bmi,bmi2,popcnt")))

// First rows of at most 32 cells, the usual case: 32-bit candidate masks,
// sixteen cells of b at a time, each table one register pair. The exact
// test follows in the same registers for every cell at once: each cell's
// lowest candidate is read and tested, then the next for the few cells
// that keep more and have not yet agreed, so there is no branch per cell.
ZP_SIMILARITY_AVX512 void similaritiesOfShortRow(const FirstRow& a, const SecondRow* rows, std::uint64_t which,
                                                 std::uint8_t* out) {
    const __m512i fartherLow = _mm512_loadu_si512(a.farther.data());
    const __m512i fartherHigh = _mm512_maskz_loadu_epi8(_bzhi_u64(~std::uint64_t{0}, kWindowTableBytes - 64),
                                                        a.farther.data() + 64);
    const __m512i first0 = _mm512_loadu_si512(a.firstShort.data());
    const __m512i first1 = _mm512_loadu_si512(a.firstShort.data() + 16);
    const __m512i second0 = _mm512_loadu_si512(a.secondShort.data());
    const __m512i second1 = _mm512_loadu_si512(a.secondShort.data() + 16);
    const __m512i cells0 = _mm512_loadu_si512(a.cells.data());
    const __m512i cells1 = _mm512_maskz_loadu_epi32(
        static_cast<__mmask16>(_bzhi_u32(0xFFFF, static_cast<std::uint32_t>(a.length > 16 ? a.length - 16 : 0))),
        a.cells.data() + 16);
    const __m512i zero = _mm512_setzero_si512();
    const __m512i one = _mm512_set1_epi32(1);
    const __m512i byte = _mm512_set1_epi32(0xFF);
    const __m512i highestBit = _mm512_set1_epi32(31);
    const __m512i near = _mm512_set1_epi16(kAgreeNear);
    const __m512i wrapFrom = _mm512_set1_epi16(kAgreeWrapFrom);
    for (; which != 0; which &= which - 1) {
        const auto j = static_cast<std::size_t>(std::countr_zero(which));
        const SecondRow& b = rows[j];
        if (!b.narrow) {
            out[j] = static_cast<std::uint8_t>(windowSimilarity(a, b));
            continue;
        }
        std::int32_t count = 0;
        for (std::int32_t k = 0; k < b.length; k += 16) {
            const auto in = static_cast<__mmask16>(_bzhi_u32(0xFFFF, static_cast<std::uint32_t>(b.length - k)));
            const __m512i key = _mm512_maskz_loadu_epi32(in, b.key.data() + k);
            // Byte 0: farther[d - 3 + offset], the window's end; byte 2:
            // farther[d + 2 + offset], its first cell.
            const __m512i bounds = _mm512_permutex2var_epi8(fartherLow, key, fartherHigh);
            const __m512i window = _mm512_sub_epi32(_mm512_sllv_epi32(one, _mm512_and_si512(bounds, byte)),
                                                    _mm512_sllv_epi32(one, _mm512_and_si512(_mm512_srli_epi32(bounds, 16), byte)));
            const __m512i f = _mm512_permutex2var_epi32(first0, _mm512_srli_epi32(key, 8), first1);
            const __m512i s2 = _mm512_permutex2var_epi32(second0, _mm512_srli_epi32(key, 24), second1);
            __m512i rest = _mm512_ternarylogic_epi32(window, f, s2, 0x80);  // all three
            __mmask16 pending = _mm512_mask_test_epi32_mask(in, rest, rest);
            const __m512i probe = packedAnglesAvx512(_mm512_maskz_loadu_epi32(in, b.row + k * kCellBytes));
            __mmask16 agreeing = 0;
            do {
                const __m512i lowest = _mm512_and_si512(rest, _mm512_sub_epi32(zero, rest));
                const __m512i at = _mm512_sub_epi32(highestBit, _mm512_lzcnt_epi32(lowest));
                const __m512i c = _mm512_permutex2var_epi32(cells0, at, cells1);
                const __m512i g = _mm512_or_si512(_mm512_subs_epu16(c, probe), _mm512_subs_epu16(probe, c));
                const __m512i miss = _mm512_min_epu16(_mm512_subs_epu16(g, near), _mm512_subs_epu16(wrapFrom, g));
                agreeing |= _mm512_mask_testn_epi32_mask(pending, miss, miss);
                rest = _mm512_xor_si512(rest, lowest);
                pending = _mm512_mask_test_epi32_mask(static_cast<__mmask16>(pending & ~agreeing), rest, rest);
            } while (pending != 0);
            count += std::popcount(static_cast<std::uint32_t>(agreeing));
        }
        out[j] = static_cast<std::uint8_t>(count);
    }
}

// The walk above without a branch per cell of b: eight cells' candidate
// masks at a time from tables held in registers (each window as
// (1 << farther[e - 3]) - (1 << farther[e + 2]), which the first bound never
// exceeds), then the exact test only for the cells that keep some, over a's
// candidate cells sixteen at a time (the saturating test of
// anyAgreeingCellVector; directions stay below 360 here).
// The first row's tables are loaded once for all its second rows.
ZP_SIMILARITY_AVX512 void similaritiesAvx512(const FirstRow& a, const SecondRow* rows, std::uint64_t which,
                                             std::uint8_t* out) {
    if (!a.narrow) {
        for (; which != 0; which &= which - 1) {
            const auto j = static_cast<std::size_t>(std::countr_zero(which));
            out[j] = static_cast<std::uint8_t>(windowSimilarity(a, rows[j]));
        }
        return;
    }
    if (a.length <= kShortRowCells) {
        similaritiesOfShortRow(a, rows, which, out);
        return;
    }
    // The tables in registers: farther counts by byte (vpermi2b reads 128),
    // candidate masks by bucket (two vpermt2q over sixteen, chosen by bit 4).
    const __m512i fartherLow = _mm512_loadu_si512(a.farther.data());
    const __m512i fartherHigh = _mm512_maskz_loadu_epi8(_bzhi_u64(~std::uint64_t{0}, kWindowTableBytes - 64),
                                                        a.farther.data() + 64);
    constexpr auto kLastBuckets = static_cast<__mmask8>((1U << (kDirectionBuckets - 24)) - 1);
    static_assert(kDirectionBuckets > 24 && kDirectionBuckets <= 32);
    const __m512i first0 = _mm512_loadu_si512(a.firstCandidates.data());
    const __m512i first1 = _mm512_loadu_si512(a.firstCandidates.data() + 8);
    const __m512i first2 = _mm512_loadu_si512(a.firstCandidates.data() + 16);
    const __m512i first3 = _mm512_maskz_loadu_epi64(kLastBuckets, a.firstCandidates.data() + 24);
    const __m512i second0 = _mm512_loadu_si512(a.secondCandidates.data());
    const __m512i second1 = _mm512_loadu_si512(a.secondCandidates.data() + 8);
    const __m512i second2 = _mm512_loadu_si512(a.secondCandidates.data() + 16);
    const __m512i second3 = _mm512_maskz_loadu_epi64(kLastBuckets, a.secondCandidates.data() + 24);
    const __m512i byte = _mm512_set1_epi64(0xFF);
    const __m512i upper = _mm512_set1_epi64(16);
    const __m512i one = _mm512_set1_epi64(1);
    const __m512i near = _mm512_set1_epi16(kAgreeNear);
    const __m512i wrapFrom = _mm512_set1_epi16(kAgreeWrapFrom);
    const std::int32_t blocks = (a.length + 15) / 16;
    for (; which != 0; which &= which - 1) {
        const auto j = static_cast<std::size_t>(std::countr_zero(which));
        const SecondRow& b = rows[j];
        if (!b.narrow) {
            out[j] = static_cast<std::uint8_t>(windowSimilarity(a, b));
            continue;
        }
        alignas(64) std::array<CellMask, (kRowCells + 7) / 8 * 8> kept;  // whole blocks of eight
        std::uint64_t live = 0;
        for (std::int32_t k = 0; k < b.length; k += 8) {
            const auto in = static_cast<__mmask8>(_bzhi_u32(0xFF, static_cast<std::uint32_t>(b.length - k)));
            const __m512i key = _mm512_cvtepu32_epi64(_mm256_maskz_loadu_epi32(in, b.key.data() + k));
            // Byte 0 the window's end, byte 2 its first cell (as above).
            const __m512i bounds = _mm512_permutex2var_epi8(fartherLow, key, fartherHigh);
            const __m512i window = _mm512_sub_epi64(_mm512_sllv_epi64(one, _mm512_and_si512(bounds, byte)),
                                                    _mm512_sllv_epi64(one, _mm512_and_si512(_mm512_srli_epi64(bounds, 16), byte)));
            const __m512i b1 = _mm512_srli_epi64(key, 8);
            const __m512i b2 = _mm512_srli_epi64(key, 24);
            const __m512i f = _mm512_mask_blend_epi64(_mm512_test_epi64_mask(b1, upper),
                                                      _mm512_permutex2var_epi64(first0, b1, first1),
                                                      _mm512_permutex2var_epi64(first2, b1, first3));
            const __m512i s2 = _mm512_mask_blend_epi64(_mm512_test_epi64_mask(b2, upper),
                                                       _mm512_permutex2var_epi64(second0, b2, second1),
                                                       _mm512_permutex2var_epi64(second2, b2, second3));
            const __m512i m = _mm512_ternarylogic_epi64(window, f, s2, 0x80);
            _mm512_store_si512(kept.data() + k, m);
            live |= std::uint64_t{_mm512_mask_test_epi64_mask(in, m, m)} << k;
        }
        std::int32_t count = 0;
        for (; live != 0; live &= live - 1) {
            const auto k = std::countr_zero(live);
            const CellMask m = kept[static_cast<std::size_t>(k)];
            const __m512i p = _mm512_set1_epi32(static_cast<std::int32_t>(probeOf(b.row + k * kCellBytes)));
            std::uint32_t agreeing = 0;
            for (std::int32_t c = 0; c < blocks; ++c) {
                const auto candidates = static_cast<__mmask16>(m >> (16 * c));
                const __m512i cells = _mm512_maskz_loadu_epi32(candidates, a.cells.data() + 16 * c);
                const __m512i g = _mm512_or_si512(_mm512_subs_epu16(cells, p), _mm512_subs_epu16(p, cells));
                const __m512i miss = _mm512_min_epu16(_mm512_subs_epu16(g, near), _mm512_subs_epu16(wrapFrom, g));
                agreeing |= _mm512_mask_testn_epi32_mask(candidates, miss, miss);
            }
            count += agreeing != 0 ? 1 : 0;
        }
        out[j] = static_cast<std::uint8_t>(count);
    }
}
#undef ZP_SIMILARITY_AVX512
#pragma GCC diagnostic pop
#endif

}  // namespace

SimilarityKernel similarityKernel(VectorPath path) {
#if defined(ZP_VECTOR_PATHS)
    if (path == VectorPath::Avx512 && vectorPathAvailable(VectorPath::Avx512)) return similaritiesAvx512;
#else
    static_cast<void>(path);
#endif
    return nullptr;
}

}  // namespace zp
