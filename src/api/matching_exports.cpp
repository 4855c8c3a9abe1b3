// The four comparison exports: verification at a security level,
// enrolment merge, and the load / quick match pair for one-to-many search.
#include <array>
#include <cstring>

#include "core/records.h"
#include "core/rules.h"
#include "api/zpapi.h"
#include "match/match_driver.h"
#include "match/quick_match.h"
#include "match/template_loading.h"
#include "minutiae/template_format.h"

namespace {

zp::BufferDescriptor templateBuffer(const std::uint8_t* templ) {
    // The inner stages only read templates.
    return {const_cast<std::uint8_t*>(templ), zp::kTemplateSize};
}

zp::BufferDescriptor workspaceBuffer(std::uint8_t* workspace) {
    return {workspace, zp::kWorkspaceSize};
}

}  // namespace

extern "C" int32_t ZPMatch(const uint8_t* first, const uint8_t* second, uint8_t* workspace,
                           int32_t level) {
    const std::int32_t threshold = zp::levelThreshold(level);
    const std::int32_t score =
        zp::matchTemplates(templateBuffer(first), templateBuffer(second), workspaceBuffer(workspace));
    return (score >= 1 && score >= threshold) ? 1 : 0;
}

extern "C" int32_t ZPFingerMerge(uint8_t* templates, int32_t count, uint8_t* best,
                                 uint8_t* workspace) {
    std::memset(best, 0, zp::kTemplateSize);
    if (count < 2) return 0;
    const auto at = [templates](std::int32_t k) { return templates + k * zp::kTemplateSize; };

    // Exchange sort by byte 9, largest first; equal bytes never exchange,
    // though the sort is not stable. best is the exchange buffer.
    for (std::int32_t i = 0; i < count - 1; ++i) {
        for (std::int32_t j = i + 1; j < count; ++j) {
            if (at(i)[zp::kQualityOffset] < at(j)[zp::kQualityOffset]) {
                std::memcpy(best, at(i), zp::kTemplateSize);
                std::memcpy(at(i), at(j), zp::kTemplateSize);
                std::memcpy(at(j), best, zp::kTemplateSize);
            }
        }
    }
    std::memcpy(best, at(0), zp::kTemplateSize);
    if (best[zp::kCountOffset] < zp::kEnrolMinMinutiae || best[zp::kYieldOffset] < zp::kEnrolMinYield ||
        best[zp::kQualityOffset] < zp::kEnrolMinQuality) {
        return 0;
    }
    const std::int32_t score =
        zp::matchTemplates(templateBuffer(at(1)), templateBuffer(at(0)), workspaceBuffer(workspace));
    return score >= zp::kEnrolMinScore ? 1 : 0;
}

extern "C" int32_t ZPLoadFeature(const uint8_t* templ, uint8_t* workspace) {
    return zp::loadTemplate(templateBuffer(templ), workspaceBuffer(workspace));
}

extern "C" int32_t ZPQuickMatch(const uint8_t* templ, uint8_t* workspace) {
    const std::int32_t score = zp::quickMatch(templateBuffer(templ), workspaceBuffer(workspace));
    if (score <= 0) return 0;
    return score >= 100 ? 100 : score;
}
