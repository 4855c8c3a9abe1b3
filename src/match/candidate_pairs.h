// Candidate pair list: for each minutia of the first model, the minutia of
// the second model whose neighbourhood agrees best; and the builder that
// makes the two neighbour tables in the workspace first.
#pragma once

#include <array>
#include <cstdint>

#include "core/records.h"
#include "match/matching_model.h"
#include "math/vector_path.h"

namespace zp {

inline constexpr std::int32_t kMaxCandidatePairs = 50;
inline constexpr std::int32_t kPairDirectionTolerance = 90;  // degrees
inline constexpr std::int32_t kMinPairSimilarity = 2;
// A class code of 1 builds no table: the pairs come from whatever tables the
// workspace already holds.
inline constexpr std::int32_t kClassCodeWithoutTables = 1;

struct CandidatePair {
    std::uint8_t first;       // index in the first model
    std::uint8_t second;      // index in the second model
    std::uint8_t similarity;
};

// 156 bytes: leading word and trailing byte are carried but never used.
struct CandidatePairList {
    std::uint32_t leading;
    std::uint8_t count;
    std::array<CandidatePair, kMaxCandidatePairs> entries;
    std::uint8_t trailing;
};
static_assert(sizeof(CandidatePair) == 3);
static_assert(sizeof(CandidatePairList) == 156);

// Matching builds both tables and the pairs; loading builds the first
// model's table only.
enum class TableSelection { Matching, Loading };

// Location of a model's neighbour table in the workspace: its workspace
// base plus twice the stored area of the second model handed to the builder.
std::uint8_t* neighbourTableOf(const MatchingModel& model, std::int32_t secondArea,
                               const BufferDescriptor& workspace);

// Builds and compacts the tables and fills pairs; answers the pair count P
// (0 with the loading selection, pairs then untouched). tableMode 1 and 2
// both give the reach of 65 units. The caller guarantees both tables fit the
// workspace.
std::int32_t buildTablesAndPairs(const MatchingModel& first, const MatchingModel& second,
                                 CandidatePairList& pairs, std::int32_t classCode,
                                 TableSelection selection, std::int32_t tableMode,
                                 const BufferDescriptor& workspace,
                                 VectorPath path = widestVectorPath());

}  // namespace zp
