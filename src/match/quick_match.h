// Quick match: scores a probe template against the model and neighbour
// table that a load left in the workspace, without alignment.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "match/matching_model.h"
#include "math/vector_path.h"

namespace zp {

inline constexpr std::int32_t kSuccessorCells = 3;        // next minutiae in template order
inline constexpr std::int32_t kQuickDistanceTolerance = 2;
inline constexpr std::int32_t kQuickAngleTolerance = 10;
inline constexpr std::int32_t kQuickDirectionTolerance = 90;
inline constexpr std::int32_t kQuickMaxScore = 100;

// True when loaded (the first 832 workspace bytes) can be a model that a
// load of a template with the probe's stored size left: counts within
// bounds, the same stored width and height as the probe, directions a
// template can hold, and its table within the workspace.
bool plausibleLoadedModel(const MatchingModel& loaded, const MatchingModel& probe,
                          std::int32_t workspaceLength);

// Number of probe successor relations found again in the loaded table,
// capped at 100; 0 for a rejected probe or an implausible workspace. Writes
// only the probe's successor table at three times the probe's stored area.
std::int32_t quickMatch(const BufferDescriptor& templ, const BufferDescriptor& workspace);
// The same on a chosen vector path (a narrower one where it is not available).
std::int32_t quickMatch(const BufferDescriptor& templ, const BufferDescriptor& workspace, VectorPath path);

}  // namespace zp
