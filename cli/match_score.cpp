#include "core/records.h"
#include "cli_common.h"
#include "match/match_driver.h"

namespace zpcli {

std::int32_t matchScore(const Template& first, const Template& second, Workspace& workspace) {
    // The driver only reads the templates.
    const zp::BufferDescriptor a{const_cast<std::uint8_t*>(first.data()), ZP_TEMPLATE_SIZE};
    const zp::BufferDescriptor b{const_cast<std::uint8_t*>(second.data()), ZP_TEMPLATE_SIZE};
    const zp::BufferDescriptor ws{workspace.data(), ZP_WORKSPACE_SIZE};
    return zp::matchTemplates(a, b, ws);
}

}  // namespace zpcli
