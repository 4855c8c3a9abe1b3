// Whether a stored template can take part in comparisons: the rule every
// store of templates applies before it keeps one.
#pragma once

#include <cstdint>

namespace zp {

enum class TemplateVerdict : std::int32_t {
    Usable,
    NoTemplate,         // format marker 0
    AreaTooLarge,       // stored size whose tables do not fit the workspace
    TooManyMinutiae,    // count above what the stored size may hold
    YieldAbove100,
    QualityAboveLimit,  // quality above (height / 4) * (width / 4)
    ClassCodeNotZero,   // the extractor writes only class code 0, and
                        // templates of different class codes never match
};

// A usable template is one the decoder accepts, whose stored size fits a
// workspace of the exported size, and whose class code is 0. Every
// comparison export can use it, and a match between two usable templates
// depends on nothing but their bytes.
TemplateVerdict storedTemplateVerdict(const std::uint8_t* templ);

}  // namespace zp
