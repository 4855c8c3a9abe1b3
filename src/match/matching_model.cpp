#include "match/matching_model.h"

namespace zp {

std::int32_t decodeTemplate(const std::uint8_t* templ, MatchingModel& model) {
    if (templ[kMarkerOffset] == 0) return 0;

    const std::int32_t count = templ[kCountOffset];
    const std::int32_t yield = templ[kYieldOffset];
    const auto quality = static_cast<std::int32_t>(readLittle16(templ + kQualityOffset));
    const std::int32_t width = storedWidth(templ);
    const std::int32_t height = storedHeight(templ);
    model.count = count;
    model.maxCount = maxMinutiaeCount(width, height);
    model.yield = yield;
    model.quality = quality;
    model.width = width;
    model.height = height;
    model.classCode = templ[kClassCodeOffset];

    if (count > model.maxCount) return 0;
    if (yield > kMaxYield) return 0;
    if (quality > (height / 4) * (width / 4)) return 0;

    for (std::int32_t i = 0; i < count; ++i) {
        const TemplateMinutia m = decodeMinutiaEntry(readEntryWord(templ, i));
        MinutiaRecord& r = model.minutiae[static_cast<std::size_t>(i)];
        r.x = m.x;
        r.y = m.y;
        r.direction = m.direction;
        r.type = static_cast<std::uint8_t>(m.type);
    }
    return 1;
}

}  // namespace zp
