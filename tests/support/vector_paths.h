// The vector paths this machine runs, for tests that hold each one to the
// portable path's results.
#pragma once

#include <string>
#include <vector>

#include "math/vector_path.h"

namespace zptest {

inline std::vector<zp::VectorPath> availableVectorPaths() {
    std::vector<zp::VectorPath> paths;
    for (const zp::VectorPath p : zp::kVectorPaths) {
        if (zp::vectorPathAvailable(p)) paths.push_back(p);
    }
    return paths;
}

inline std::string vectorPathName(zp::VectorPath path) {
    switch (path) {
        case zp::VectorPath::Portable: return "portable";
        case zp::VectorPath::Sse2: return "sse2";
        case zp::VectorPath::Avx2: return "avx2";
    }
    return "unknown";
}

}  // namespace zptest
