#include "match/candidate_pairs.h"

#include <array>
#include <bit>

#include "match/neighbour_table.h"
#include "match/pairing_mask.h"
#include "match/similarity.h"

namespace zp {

std::uint8_t* neighbourTableOf(const MatchingModel& model, std::int32_t secondArea,
                               const BufferDescriptor& workspace) {
    return workspace.data + model.workspaceBase + 2 * secondArea;
}

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
    FirstRow preparedA;
    const FirstRowKernels kernels = firstRowKernels(path);
    const SimilarityKernel preparedSimilarities = similarityKernel(path);
    for (std::int32_t i = 0; i < first.count; ++i) {
        const MinutiaRecord& mi = first.minutiae[static_cast<std::size_t>(i)];
        std::int32_t last = 0;
        bool appended = false;
        // The minutiae of B of i's type and direction, in order of j.
        std::uint64_t passing = pairingMask(mi, packedB, kPairDirectionTolerance);
        // The similarities of the ordered pairs, all at once.
        std::array<std::uint8_t, kMaxMinutiae> prepared;
        if (passing != 0) {
            prepareFirstRow(tableA + i * rowA, first.count, preparedA, kernels);
            if (preparedA.ordered && preparedSimilarities != nullptr) {
                preparedSimilarities(preparedA, rowsB.data(), passing & orderedB, prepared.data());
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
        if (appended && p >= 2) {
            const CandidatePair added = pairs.entries[static_cast<std::size_t>(p - 1)];
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
