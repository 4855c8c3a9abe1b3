#include "minutiae/minutiae_extraction.h"

#include "minutiae/minutiae_stages.h"
#include "minutiae/skeleton_tracing.h"
#include "minutiae/template_format.h"

namespace zp {
namespace {

// Least height that leaves rows to scan inside the 8-pixel frame.
constexpr std::int32_t kFrame = 8;

}  // namespace

std::int32_t extractMinutiae(std::int32_t classCode, std::uint8_t* image, std::int32_t width,
                             std::int32_t height, const std::uint8_t* blockMap,
                             std::int32_t maxCount, std::int32_t quality, std::uint8_t* templ) {
    if (height - kFrame <= kFrame) return 0;

    CandidateList list;
    BorderList border;
    scanCandidates(image, width, height, blockMap, list, border);
    if (list.count == 0) return 0;

    validateCandidates(classCode, image, width, height, blockMap, list);
    pairFilter(image, width, list);
    invalidNeighbourFilter(list);
    borderFilter(list, border);
    removedForkFilter(image, width, list);

    Candidate survivors[kMaxCandidates];
    const std::int32_t survivorCount = collectSurvivors(list, survivors);
    const std::int32_t yield = candidateYield(survivorCount, list.count);
    // The template has room for kMaxMinutiae entries whatever the caller asks.
    const std::int32_t limit = maxCount < kMaxMinutiae ? maxCount : kMaxMinutiae;
    const std::int32_t count =
        selectMinutiae(list, survivors, survivorCount, limit < 0 ? 0 : limit);

    TemplateMinutia minutiae[kMaxMinutiae];
    for (std::int32_t i = 0; i < count; ++i) {
        const Candidate& c = survivors[i];
        const std::int32_t direction =
            c.type == kCandidateEnding ? endingDirection(image, width, c.x, c.y, true)
                                       : bifurcationDirection(image, width, c.x, c.y);
        minutiae[i] = {c.x >> 1, c.y >> 1, direction, c.type};
    }

    TemplateHeader header;
    header.count = count;
    header.yield = yield;
    header.quality = quality;
    header.width = width / 2;
    header.height = height / 2;
    header.classCode = classCode;
    writeTemplate(templ, header, minutiae, count);
    return count + 256 * yield;  // 0 when nothing survived
}

}  // namespace zp
