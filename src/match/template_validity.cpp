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
    // The decoder refuses on the header alone; the minutiae need no decoding.
    MatchingModel model{};
    switch (decodeHeader(templ, model)) {
        case HeaderRefusal::None: break;
        case HeaderRefusal::NoTemplate: return TemplateVerdict::NoTemplate;
        case HeaderRefusal::TooManyMinutiae: return TemplateVerdict::TooManyMinutiae;
        case HeaderRefusal::YieldAbove100: return TemplateVerdict::YieldAbove100;
        case HeaderRefusal::QualityAboveLimit: return TemplateVerdict::QualityAboveLimit;
    }
    return model.classCode == 0 ? TemplateVerdict::Usable : TemplateVerdict::ClassCodeNotZero;
}

}  // namespace zp
