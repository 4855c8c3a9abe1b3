// Loading one template into a workspace for later quick matches: its model
// at offset 0 and its neighbour table at twice its stored area.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace zp {

// Answers 1 when loaded, 0 when the template is rejected (by the decoder, or
// because 4 * W * H exceeds the workspace length); nothing is then written.
std::int32_t loadTemplate(const BufferDescriptor& templ, const BufferDescriptor& workspace);

// True when 4 * width * height fits in a workspace of the given length; the
// test every comparison makes before placing tables by the stored area.
bool storedAreaFits(std::int32_t width, std::int32_t height, std::int32_t workspaceLength);

}  // namespace zp
