#include "match/candidate_pairs.h"

#include <array>
#include <bit>

#include "match/neighbour_table.h"
#include "match/pairing_mask.h"
#include "match/similarity.h"

#if defined(ZP_VECTOR_PATHS)
#include <immintrin.h>
#endif

namespace zp {

std::uint8_t* neighbourTableOf(const MatchingModel& model, std::int32_t secondArea,
                               const BufferDescriptor& workspace) {
    return workspace.data + model.workspaceBase + 2 * secondArea;
}

namespace {

// One row's candidate from its similarities: among the passing j whose
// similarity reaches kMinPairSimilarity, taken in order of j, the last one
// whose similarity exceeds that of the qualifying j before it, else the
// first (the pair list's rule of appending and replacing). False when no
// j qualifies.
using PairChooser = bool (*)(std::uint64_t passing, const std::uint8_t* similarity, CandidatePair& chosen);

#if defined(ZP_VECTOR_PATHS)
// Byte k: k - 1.
constexpr std::array<std::uint8_t, 64> kPreviousBytes = [] {
    std::array<std::uint8_t, 64> out{};
    for (std::size_t k = 1; k < out.size(); ++k) out[k] = static_cast<std::uint8_t>(k - 1);
    return out;
}();

// GCC 12's headers fill the unused result of unmasked AVX-512 intrinsics
// from an uninitialised variable and then warn about it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// The qualifying similarities packed in order, each compared with the one
// before it: the chosen j is the last rise's, found without a branch per j.
__attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt"))) bool choosePairAvx512(
    std::uint64_t passing, const std::uint8_t* similarity, CandidatePair& chosen) {
    static_assert(kMaxMinutiae <= 64);
    const __m512i values = _mm512_maskz_loadu_epi8(passing, similarity);
    const __mmask64 qualifying =
        _mm512_mask_cmpge_epu8_mask(passing, values, _mm512_set1_epi8(static_cast<char>(kMinPairSimilarity)));
    if (qualifying == 0) return false;
    const __m512i packed = _mm512_maskz_compress_epi8(qualifying, values);
    const __m512i before = _mm512_permutexvar_epi8(_mm512_loadu_si512(kPreviousBytes.data()), packed);
    const auto taken = static_cast<std::uint32_t>(std::popcount(qualifying));
    const __mmask64 rises = _mm512_mask_cmpgt_epu8_mask(_bzhi_u64(~std::uint64_t{0}, taken) & ~std::uint64_t{1}, packed, before);
    const std::int32_t place = rises == 0 ? 0 : 63 - std::countl_zero(std::uint64_t{rises});
    const auto j = std::countr_zero(_pdep_u64(std::uint64_t{1} << place, qualifying));
    chosen.second = static_cast<std::uint8_t>(j);
    chosen.similarity = similarity[j];
    return true;
}
#pragma GCC diagnostic pop
#endif

}  // namespace

std::int32_t buildTablesAndPairs(const MatchingModel& first, const MatchingModel& second,
                                 CandidatePairList& pairs, std::int32_t classCode,
                                 TableSelection selection, std::int32_t /*tableMode*/,
                                 const BufferDescriptor& workspace, VectorPath path) {
    const std::int32_t secondArea = second.width * second.height;
    std::uint8_t* tableA = neighbourTableOf(first, secondArea, workspace);
    std::uint8_t* tableB = neighbourTableOf(second, secondArea, workspace);
    if (classCode != kClassCodeWithoutTables) {
        // Each table is written whole, so building it sorted in one go
        // leaves the same bytes as filling and then compacting it.
        buildSortedNeighbourTable(first, tableA, path);
        if (selection == TableSelection::Loading) return 0;
        // Built after A's: when the second area is small the tables overlap
        // and B's cells win.
        buildSortedNeighbourTable(second, tableB, path);
    } else if (selection == TableSelection::Loading) {
        return 0;
    }

    pairs.count = 0;
    for (CandidatePair& e : pairs.entries) e = CandidatePair{0, 0, 0};

    std::int32_t p = 0;
    const std::int32_t rowA = first.maxCount * kCellBytes;
    const std::int32_t rowB = second.maxCount * kCellBytes;
    // Both tables are read as they stand now (B's may have overwritten part
    // of A's): each row once.
    std::array<SecondRow, kMaxMinutiae> rowsB;
    const SecondRowPreparer prepareSecond = secondRowPreparer(path);
    std::uint64_t orderedB = 0;
    for (std::int32_t j = 0; j < second.count; ++j) {
        prepareSecond(tableB + j * rowB, second.count, rowsB[static_cast<std::size_t>(j)]);
        orderedB |= std::uint64_t{rowsB[static_cast<std::size_t>(j)].ordered} << j;
    }
    PackedMinutiae packedB;
    packMinutiae(second, packedB);
    // The minutiae of B of each i's type and direction, in order of j.
    std::array<std::uint64_t, kMaxMinutiae> passingOf;
    pairingMasks(first, packedB, kPairDirectionTolerance, passingOf, path);
    FirstRow preparedA;
    const FirstRowKernels kernels = firstRowKernels(path);
    const SimilarityKernel preparedSimilarities = similarityKernel(path);
#if defined(ZP_VECTOR_PATHS)
    const PairChooser choosePair =
        path == VectorPath::Avx512 && vectorPathAvailable(VectorPath::Avx512) ? choosePairAvx512 : nullptr;
#else
    const PairChooser choosePair = nullptr;
#endif
    // Bit j: some pair listed before the newest one has second minutia j.
    std::uint64_t listedSeconds = 0;
    for (std::int32_t i = 0; i < first.count; ++i) {
        std::int32_t last = 0;
        bool appended = false;
        std::uint64_t passing = passingOf[static_cast<std::size_t>(i)];
        // The similarities of the ordered pairs, all at once.
        std::array<std::uint8_t, kMaxMinutiae> prepared;
        if (passing != 0) {
            prepareFirstRow(tableA + i * rowA, first.count, preparedA, kernels);
            if (preparedA.ordered && preparedSimilarities != nullptr) {
                preparedSimilarities(preparedA, rowsB.data(), passing & orderedB, prepared.data());
                if (choosePair != nullptr && (passing & ~orderedB) == 0) {
                    CandidatePair chosen{static_cast<std::uint8_t>(i), 0, 0};
                    appended = choosePair(passing, prepared.data(), chosen);
                    if (appended) pairs.entries[static_cast<std::size_t>(p++)] = chosen;
                    passing = 0;
                }
            }
        }
        for (; passing != 0; passing &= passing - 1) {
            const auto j = std::countr_zero(passing);
            const SecondRow& preparedB = rowsB[static_cast<std::size_t>(j)];
            const std::int32_t s =
                preparedA.ordered && preparedB.ordered
                    ? (preparedSimilarities != nullptr ? prepared[static_cast<std::size_t>(j)]
                                                       : preparedSimilarity(preparedA, preparedB))
                    : similarity(tableA + i * rowA, tableB + j * rowB, first.count, second.count,
                                 kSimilarityDistanceTolerance, kSimilarityAngleTolerance);
            if (s < kMinPairSimilarity) continue;
            const CandidatePair entry{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(j),
                                      static_cast<std::uint8_t>(s)};
            if (last == 0) {
                pairs.entries[static_cast<std::size_t>(p++)] = entry;
                appended = true;
            } else if (s > last) {
                pairs.entries[static_cast<std::size_t>(p - 1)] = entry;
            }
            // Compared with the previous passing j, not with the best so far.
            last = s;
        }
        if (!appended) continue;
        const CandidatePair added = pairs.entries[static_cast<std::size_t>(p - 1)];
        if (((listedSeconds >> added.second) & 1U) == 0) {
            listedSeconds |= std::uint64_t{1} << added.second;
        } else {
            for (std::int32_t k = 0; k < p - 1; ++k) {
                CandidatePair& earlier = pairs.entries[static_cast<std::size_t>(k)];
                if (earlier.second != added.second) continue;
                if (added.similarity > earlier.similarity) earlier = added;
                pairs.entries[static_cast<std::size_t>(p - 1)] = CandidatePair{0, 0, 0};
                --p;
                break;
            }
        }
    }

    // Stable order by falling similarity (a bubble sort swapping only on a
    // strictly smaller first similarity gives the same order).
    for (std::int32_t k = 1; k < p; ++k) {
        const CandidatePair moving = pairs.entries[static_cast<std::size_t>(k)];
        std::int32_t m = k;
        while (m > 0 && pairs.entries[static_cast<std::size_t>(m - 1)].similarity < moving.similarity) {
            pairs.entries[static_cast<std::size_t>(m)] = pairs.entries[static_cast<std::size_t>(m - 1)];
            --m;
        }
        pairs.entries[static_cast<std::size_t>(m)] = moving;
    }
    pairs.count = static_cast<std::uint8_t>(p);
    return p;
}

}  // namespace zp
