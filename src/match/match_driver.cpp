#include "match/match_driver.h"

#include "match/alignment_search.h"
#include "match/box_map.h"
#include "match/candidate_pairs.h"
#include "match/matching_model.h"
#include "match/template_loading.h"
#include "minutiae/template_format.h"

namespace zp {
namespace {

constexpr std::int32_t kMatchTableMode = 1;

}  // namespace

std::int32_t matchTemplates(const BufferDescriptor& first, const BufferDescriptor& second,
                            const BufferDescriptor& workspace) {
    return matchTemplates(first, second, workspace, widestVectorPath());
}

std::int32_t matchTemplates(const BufferDescriptor& first, const BufferDescriptor& second,
                            const BufferDescriptor& workspace, VectorPath path) {
    if (!storedAreaFits(storedWidth(first.data), storedHeight(first.data), workspace.length)) {
        return 0;
    }
    MatchingModel a{};
    a.workspaceBase = 0;
    if (decodeTemplate(first.data, a) == 0) return 0;

    const std::int32_t widthB = storedWidth(second.data);
    const std::int32_t heightB = storedHeight(second.data);
    if (!storedAreaFits(widthB, heightB, workspace.length)) return 0;
    MatchingModel b{};
    b.workspaceBase = widthB * heightB;
    if (decodeTemplate(second.data, b) == 0) return 0;

    if (a.classCode != b.classCode) return 0;

    BoxMap map;
    buildBoxMap(a, b, map);
    CandidatePairList pairs{};
    buildTablesAndPairs(a, b, pairs, a.classCode, TableSelection::Matching, kMatchTableMode,
                        workspace, path);
    return alignmentSearch(a, b, pairs, map, path);
}

}  // namespace zp
