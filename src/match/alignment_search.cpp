#include "match/alignment_search.h"

#include <array>
#include <bit>

#include "match/pairing_score.h"
#include "math/trig.h"

#if defined(ZP_VECTOR_PATHS)
#include <immintrin.h>
#endif

namespace zp {
namespace {

constexpr double kRoundingOffset = 0.5;
constexpr std::int32_t kFullTurn = 360;

// A move as the products and sums of every minutia's new position take it:
// x' = x cos - y sin + ox and y' = x sin + y cos + oy, truncated.
struct MoveTerms {
    double sine;
    double cosine;
    double offsetX;
    double offsetY;
};

MoveTerms moveTerms(const ModelMove& move) {
    const float s = sine(move.rotation);
    const float c = cosine(move.rotation);
    const double sd = s;
    const double cd = c;
    const double cx = move.pivotX;
    const double cy = move.pivotY;
    // Every term is exact in double precision; the offsets are then rounded
    // to single precision. 0.5 is added here, before the truncation below.
    // The rounding goes through memory: GCC 12 may otherwise drop a cast
    // to float whose result is widened again (its C++ front end keeps no
    // strict excess-precision mode), and the positions would then differ in
    // the last place that decides a truncation.
    const volatile float ox = static_cast<float>(cx - cx * cd + cy * sd + move.shiftX + kRoundingOffset);
    const volatile float oy = static_cast<float>(cy - cx * sd - cy * cd + move.shiftY + kRoundingOffset);
    return {sd, cd, ox, oy};
}

#if defined(ZP_VECTOR_PATHS)
// Dword k of each: the field of record k (of eight, four dwords each, in
// two registers) that the moves read, and the places the moved records'
// fields come from (x, y: lanes 0-7 and 8-15 of one register; direction and
// type: of the other).
constexpr std::array<std::int32_t, 16> makeFieldLanes(std::int32_t field) {
    std::array<std::int32_t, 16> out{};
    for (std::int32_t k = 0; k < 8; ++k) out[static_cast<std::size_t>(k)] = 4 * k + field;
    return out;
}
constexpr std::array<std::int32_t, 16> kXLanes = makeFieldLanes(0);
constexpr std::array<std::int32_t, 16> kYLanes = makeFieldLanes(1);
constexpr std::array<std::int32_t, 16> kDirectionLanes = makeFieldLanes(2);
constexpr std::array<std::int32_t, 16> kTypeLanes = makeFieldLanes(3);
constexpr std::array<std::int32_t, 32> makeRecordLanes() {
    std::array<std::int32_t, 32> out{};
    for (std::int32_t k = 0; k < 8; ++k) {
        out[static_cast<std::size_t>(4 * k)] = k;           // x
        out[static_cast<std::size_t>(4 * k + 1)] = 8 + k;   // y
        out[static_cast<std::size_t>(4 * k + 2)] = 16 + k;  // direction
        out[static_cast<std::size_t>(4 * k + 3)] = 24 + k;  // type
    }
    return out;
}
constexpr std::array<std::int32_t, 32> kRecordLanes = makeRecordLanes();

// GCC 12's headers fill the unused result of unmasked AVX-512 intrinsics
// from an uninitialised variable and then warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// moveModel eight minutiae at a time: the same double-precision products,
// sums and truncations in each lane, the box test without a branch (the map
// read as words, each lane's cell byte shifted out).
__attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,bmi2"))) std::int32_t moveModelAvx512(
    const MatchingModel& model, const MoveTerms& t, std::int32_t rotation, const BoxMap& map, std::uint8_t bit,
    MatchingModel* aligned) {
    static_assert(sizeof(MinutiaRecord) == 16 && kBoxMapBytes % 4 == 0);
    const __m512d sd = _mm512_set1_pd(t.sine);
    const __m512d cd = _mm512_set1_pd(t.cosine);
    const __m512d ox = _mm512_set1_pd(t.offsetX);
    const __m512d oy = _mm512_set1_pd(t.offsetY);
    const __m512i xLanes = _mm512_loadu_si512(kXLanes.data());
    const __m512i yLanes = _mm512_loadu_si512(kYLanes.data());
    const __m512i directionLanes = _mm512_loadu_si512(kDirectionLanes.data());
    const __m512i typeLanes = _mm512_loadu_si512(kTypeLanes.data());
    const __m512i recordLow = _mm512_loadu_si512(kRecordLanes.data());
    const __m512i recordHigh = _mm512_loadu_si512(kRecordLanes.data() + 16);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i width = _mm256_set1_epi32(model.width);
    const __m256i height = _mm256_set1_epi32(model.height);
    const __m256i columns = _mm256_set1_epi32(kBoxMapColumns);
    const __m256i rows = _mm256_set1_epi32(kBoxMapRows);
    const __m256i turn = _mm256_set1_epi32(kFullTurn);
    const __m256i byRotation = _mm256_set1_epi32(rotation);
    const auto* mapWords = reinterpret_cast<const int*>(map.data());
    std::int32_t count = 0;
    for (std::int32_t m = 0; m < model.count; m += 8) {
        const std::uint32_t in = _bzhi_u32(0xFF, static_cast<std::uint32_t>(model.count - m));
        const auto fields = static_cast<std::uint32_t>(_pdep_u32(in, 0x11111111U) * 0xFU);  // four dwords a record
        const auto* at = reinterpret_cast<const std::int32_t*>(model.minutiae.data() + m);
        const __m512i low = _mm512_maskz_loadu_epi32(static_cast<__mmask16>(fields), at);
        const __m512i high = _mm512_maskz_loadu_epi32(static_cast<__mmask16>(fields >> 16), at + 16);
        const __m512d x = _mm512_cvtepi32_pd(_mm512_castsi512_si256(_mm512_permutex2var_epi32(low, xLanes, high)));
        const __m512d y = _mm512_cvtepi32_pd(_mm512_castsi512_si256(_mm512_permutex2var_epi32(low, yLanes, high)));
        const __m256i xm = _mm512_cvttpd_epi32(_mm512_add_pd(_mm512_sub_pd(_mm512_mul_pd(x, cd), _mm512_mul_pd(y, sd)), ox));
        const __m256i ym = _mm512_cvttpd_epi32(_mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(x, sd), _mm512_mul_pd(y, cd)), oy));
        // Within 0..W-1 x 0..H-1 and on a cell of the map.
        const __m256i column = _mm256_srai_epi32(xm, kBoxCellShift);
        const __m256i row = _mm256_srai_epi32(ym, kBoxCellShift);
        __mmask8 inside = _mm256_mask_cmpge_epi32_mask(static_cast<__mmask8>(in), xm, zero);
        inside = _mm256_mask_cmplt_epi32_mask(inside, xm, width);
        inside = _mm256_mask_cmpge_epi32_mask(inside, ym, zero);
        inside = _mm256_mask_cmplt_epi32_mask(inside, ym, height);
        inside = _mm256_mask_cmplt_epi32_mask(inside, column, columns);
        inside = _mm256_mask_cmplt_epi32_mask(inside, row, rows);
        const __m256i cell = _mm256_add_epi32(_mm256_slli_epi32(row, 5), column);
        static_assert(kBoxMapColumns == 32);
        const __m256i word = _mm256_mmask_i32gather_epi32(zero, inside, _mm256_srli_epi32(cell, 2), mapWords, 4);
        const __m256i cellByte = _mm256_srlv_epi32(word, _mm256_slli_epi32(_mm256_and_si256(cell, _mm256_set1_epi32(3)), 3));
        const __mmask8 marked = _mm256_mask_test_epi32_mask(inside, cellByte, _mm256_set1_epi32(bit));
        count += std::popcount(static_cast<std::uint32_t>(marked));
        if (aligned == nullptr) continue;
        // Direction plus rotation, brought back by a turn above 360 or below 0.
        __m256i direction = _mm256_add_epi32(_mm512_castsi512_si256(_mm512_permutex2var_epi32(low, directionLanes, high)),
                                             byRotation);
        direction = _mm256_mask_sub_epi32(direction, _mm256_cmpgt_epi32_mask(direction, turn), direction, turn);
        direction = _mm256_mask_add_epi32(direction, _mm256_cmpgt_epi32_mask(zero, direction), direction, turn);
        const __m256i type = _mm256_and_si256(_mm512_castsi512_si256(_mm512_permutex2var_epi32(low, typeLanes, high)),
                                              _mm256_set1_epi32(0xFF));
        const __m512i positions = _mm512_inserti64x4(_mm512_castsi256_si512(xm), ym, 1);
        const __m512i rest = _mm512_inserti64x4(_mm512_castsi256_si512(direction), type, 1);
        auto* to = reinterpret_cast<std::int32_t*>(aligned->minutiae.data() + m);
        _mm512_mask_storeu_epi32(to, static_cast<__mmask16>(fields), _mm512_permutex2var_epi32(positions, recordLow, rest));
        _mm512_mask_storeu_epi32(to + 16, static_cast<__mmask16>(fields >> 16),
                                 _mm512_permutex2var_epi32(positions, recordHigh, rest));
    }
    if (aligned != nullptr) aligned->count = model.count;
    return count;
}
#pragma GCC diagnostic pop
#endif

}  // namespace

std::int32_t moveModel(const MatchingModel& model, const ModelMove& move, const BoxMap& map,
                       std::uint8_t bit, MatchingModel* aligned) {
    const MoveTerms t = moveTerms(move);
    const double sd = t.sine;
    const double cd = t.cosine;
    const double oxd = t.offsetX;
    const double oyd = t.offsetY;

    if (aligned != nullptr) aligned->count = model.count;
    std::int32_t count = 0;
    for (std::int32_t m = 0; m < model.count; ++m) {
        const MinutiaRecord& r = model.minutiae[static_cast<std::size_t>(m)];
        const double x = r.x;
        const double y = r.y;
        const auto xm = static_cast<std::int32_t>(x * cd - y * sd + oxd);
        const auto ym = static_cast<std::int32_t>(x * sd + y * cd + oyd);
        if (aligned != nullptr) {
            MinutiaRecord& out = aligned->minutiae[static_cast<std::size_t>(m)];
            std::int32_t direction = r.direction + move.rotation;
            if (direction > kFullTurn) {
                direction -= kFullTurn;
            } else if (direction < 0) {
                direction += kFullTurn;
            }
            out.x = xm;
            out.y = ym;
            out.direction = direction;
            out.type = r.type;
        }
        if (xm >= 0 && xm < model.width && ym >= 0 && ym < model.height &&
            boxMapHas(map, xm, ym, bit)) {
            ++count;
        }
    }
    return count;
}

std::int32_t moveModel(const MatchingModel& model, const ModelMove& move, const BoxMap& map,
                       std::uint8_t bit, MatchingModel* aligned, VectorPath path) {
#if defined(ZP_VECTOR_PATHS)
    if (path == VectorPath::Avx512 && vectorPathAvailable(VectorPath::Avx512)) {
        return moveModelAvx512(model, moveTerms(move), move.rotation, map, bit, aligned);
    }
#else
    static_cast<void>(path);
#endif
    return moveModel(model, move, map, bit, aligned);
}

std::int32_t expectedOverlap(std::int32_t forward, std::int32_t reverse) {
    const std::int32_t diff = forward > reverse ? forward - reverse : reverse - forward;
    if (diff <= kOverlapAgreement && kOverlapRatio * diff <= (forward + reverse) / 2) {
        return forward < reverse ? forward : reverse;
    }
    return forward > reverse ? forward : reverse;
}

std::int32_t alignmentSearch(const MatchingModel& a, const MatchingModel& b,
                             const CandidatePairList& pairs, const BoxMap& map) {
    return alignmentSearch(a, b, pairs, map, bestVectorPath());
}

std::int32_t alignmentSearch(const MatchingModel& a, const MatchingModel& b,
                             const CandidatePairList& pairs, const BoxMap& map, VectorPath path) {
    const std::int32_t available = pairs.count;
    if (available < 2) return 0;
    const std::int32_t anchors = available < kAnchorCount ? available : kAnchorCount;
    MatchingModel aligned{};
    std::int32_t best = 0;
    for (std::int32_t k = 0; k < anchors; ++k) {
        const CandidatePair& e = pairs.entries[static_cast<std::size_t>(k)];
        const MinutiaRecord& ai = a.minutiae[e.first];
        const MinutiaRecord& bj = b.minutiae[e.second];
        const std::int32_t dx = ai.x - bj.x;
        const std::int32_t dy = ai.y - bj.y;
        std::int32_t rotation = ai.direction - bj.direction;
        if (rotation < 0) rotation += kFullTurn;

        const std::int32_t forward =
            moveModel(b, ModelMove{bj.x, bj.y, rotation, dx, dy}, map, kBoxBitA, &aligned, path);
        const std::int32_t reverse =
            moveModel(a, ModelMove{ai.x, ai.y, -rotation, -dx, -dy}, map, kBoxBitB, nullptr, path);
        const std::int32_t n = expectedOverlap(forward, reverse);
        if (n <= 0) continue;
        const std::int32_t score = anchorScore(a, aligned, pairs, n, path);
        if (score > best) best = score;
        if (score == kMaxScore) break;
    }
    return best;
}

}  // namespace zp
