#include "match/template_loading.h"

#include <cstring>

#include "match/candidate_pairs.h"
#include "match/matching_model.h"
#include "minutiae/template_format.h"

namespace zp {
namespace {

constexpr std::int64_t kQuartersPerWorkspace = 4;
constexpr std::int32_t kLoadClassCode = 0;
constexpr std::int32_t kLoadTableMode = 2;

}  // namespace

bool storedAreaFits(std::int32_t width, std::int32_t height, std::int32_t workspaceLength) {
    return kQuartersPerWorkspace * width * height <= workspaceLength;
}

std::int32_t loadTemplate(const BufferDescriptor& templ, const BufferDescriptor& workspace) {
    if (!storedAreaFits(storedWidth(templ.data), storedHeight(templ.data), workspace.length)) {
        return 0;
    }
    // Zeroed, so the bytes the decoder leaves unset reach the workspace as
    // zeros on every load.
    MatchingModel model{};
    model.workspaceBase = 0;
    if (decodeTemplate(templ.data, model) == 0) return 0;

    CandidatePairList scratch{};
    buildTablesAndPairs(model, model, scratch, kLoadClassCode, TableSelection::Loading,
                        kLoadTableMode, workspace);
    std::memcpy(workspace.data, &model, sizeof(model));
    return 1;
}

}  // namespace zp
