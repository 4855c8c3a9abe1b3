#include "match/template_validity.h"

#include "core/records.h"
#include "match/matching_model.h"
#include "match/template_loading.h"
#include "minutiae/template_format.h"

namespace zp {

TemplateVerdict storedTemplateVerdict(const std::uint8_t* templ) {
    if (templ[kMarkerOffset] == 0) return TemplateVerdict::NoTemplate;
    if (!storedAreaFits(storedWidth(templ), storedHeight(templ), kWorkspaceSize)) {
        return TemplateVerdict::AreaTooLarge;
    }
    MatchingModel model{};
    if (decodeTemplate(templ, model) == 0) {
        if (model.count > model.maxCount) return TemplateVerdict::TooManyMinutiae;
        if (model.yield > kMaxYield) return TemplateVerdict::YieldAbove100;
        return TemplateVerdict::QualityAboveLimit;
    }
    return model.classCode == 0 ? TemplateVerdict::Usable : TemplateVerdict::ClassCodeNotZero;
}

}  // namespace zp
