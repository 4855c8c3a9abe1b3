#include "match/alignment_search.h"

#include "match/pairing_score.h"
#include "math/trig.h"

namespace zp {
namespace {

constexpr double kRoundingOffset = 0.5;
constexpr std::int32_t kFullTurn = 360;

}  // namespace

std::int32_t moveModel(const MatchingModel& model, const ModelMove& move, const BoxMap& map,
                       std::uint8_t bit, MatchingModel* aligned) {
    const float s = sine(move.rotation);
    const float c = cosine(move.rotation);
    const double sd = s;
    const double cd = c;
    const double cx = move.pivotX;
    const double cy = move.pivotY;
    // Every term is exact in double precision; the offsets are then rounded
    // to single precision. 0.5 is added here, before the truncation below.
    const auto ox = static_cast<float>(cx - cx * cd + cy * sd + move.shiftX + kRoundingOffset);
    const auto oy = static_cast<float>(cy - cx * sd - cy * cd + move.shiftY + kRoundingOffset);
    const double oxd = ox;
    const double oyd = oy;

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

std::int32_t expectedOverlap(std::int32_t forward, std::int32_t reverse) {
    const std::int32_t diff = forward > reverse ? forward - reverse : reverse - forward;
    if (diff <= kOverlapAgreement && kOverlapRatio * diff <= (forward + reverse) / 2) {
        return forward < reverse ? forward : reverse;
    }
    return forward > reverse ? forward : reverse;
}

std::int32_t alignmentSearch(const MatchingModel& a, const MatchingModel& b,
                             const CandidatePairList& pairs, const BoxMap& map) {
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
            moveModel(b, ModelMove{bj.x, bj.y, rotation, dx, dy}, map, kBoxBitA, &aligned);
        const std::int32_t reverse =
            moveModel(a, ModelMove{ai.x, ai.y, -rotation, -dx, -dy}, map, kBoxBitB, nullptr);
        const std::int32_t n = expectedOverlap(forward, reverse);
        if (n <= 0) continue;
        const std::int32_t score = anchorScore(a, aligned, pairs, n);
        if (score > best) best = score;
        if (score == kMaxScore) break;
    }
    return best;
}

}  // namespace zp
