// Match driver: two templates and a workspace give a match score 0..100.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "math/vector_path.h"

namespace zp {

// Template A's side builds the candidate pairs, B is moved into A's frame,
// and B's stored area q = W_B * H_B lays the workspace out in quarters: A's
// table at 2q, B's at 3q. Any refusal (sizes beyond a quarter of the
// workspace, a rejected template, different class codes) gives 0 and leaves
// the workspace untouched.
std::int32_t matchTemplates(const BufferDescriptor& first, const BufferDescriptor& second,
                            const BufferDescriptor& workspace);
// The same on a chosen vector path; every path gives the same score and
// workspace bytes.
std::int32_t matchTemplates(const BufferDescriptor& first, const BufferDescriptor& second,
                            const BufferDescriptor& workspace, VectorPath path);

}  // namespace zp
