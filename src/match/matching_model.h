// The matching model: a template decoded into 208 words that every matching
// stage reads, and the direction helpers they share.
#pragma once

#include <array>
#include <cstdint>

#include "minutiae/template_format.h"

namespace zp {

// One decoded minutia, in template units. Only the first byte of the fourth
// word (the type) is set; the other three stay as the storage held them.
struct MinutiaRecord {
    std::int32_t x;
    std::int32_t y;
    std::int32_t direction;
    std::uint8_t type;
    std::array<std::uint8_t, 3> unset;
};

// 208 32-bit words. The workspace base is kept as a byte offset from the
// start of the caller's workspace, so a loaded workspace may be moved or
// copied by its host.
struct MatchingModel {
    std::int32_t count;       // minutiae N
    std::int32_t maxCount;    // maximum minutiae count of the stored size
    std::int32_t yield;       // candidate yield
    std::int32_t quality;
    std::int32_t width;       // stored width W
    std::int32_t height;      // stored height H
    std::int32_t classCode;
    std::array<MinutiaRecord, kMaxMinutiae> minutiae;
    std::int32_t workspaceBase;  // offset of this model's area in the workspace
};
static_assert(sizeof(MinutiaRecord) == 16);
static_assert(sizeof(MatchingModel) == 832);

inline constexpr std::int32_t kModelBytes = 832;
// Largest candidate yield (percent) the decoder accepts.
inline constexpr std::int32_t kMaxYield = 100;

// Decodes and validates a 256-byte template into model: 1 accepted, 0
// rejected (the model may then be partly written). Words 0-6 and records
// 0..N-1 are written; the workspace base and everything else stay as they
// were, so callers zero-initialise the model first.
std::int32_t decodeTemplate(const std::uint8_t* templ, MatchingModel& model);

// |a - b|, replaced by 360 minus itself when above 180. Directions of 360 or
// more (only outside templates produce them) may give a negative result.
inline constexpr std::int32_t circularDifference(std::int32_t a, std::int32_t b) {
    const std::int32_t d = a > b ? a - b : b - a;
    return d > 180 ? 360 - d : d;
}

inline constexpr bool directionsAgree(std::int32_t a, std::int32_t b, std::int32_t tolerance) {
    return circularDifference(a, b) <= tolerance;
}

// Neighbour-table flags treat a minutia as a bifurcation only when its type
// byte is exactly 2; other decoded types (0..31) count as endings there.
inline constexpr bool isBifurcation(const MinutiaRecord& m) { return m.type == kBifurcation; }

}  // namespace zp
