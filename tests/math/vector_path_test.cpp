#include <gtest/gtest.h>

#include "math/vector_path.h"

namespace {

TEST(VectorPath, PortableAlwaysRunsAndTheBestOneIsAvailable) {
    EXPECT_TRUE(zp::vectorPathAvailable(zp::VectorPath::Portable));
    EXPECT_TRUE(zp::vectorPathAvailable(zp::bestVectorPath()));
#if defined(ZP_VECTOR_PATHS)
    EXPECT_TRUE(zp::vectorPathAvailable(zp::VectorPath::Sse2));
    EXPECT_NE(zp::bestVectorPath(), zp::VectorPath::Portable);
#endif
    // The best path is the widest available one.
    for (const zp::VectorPath p : zp::kVectorPaths) {
        if (zp::vectorPathAvailable(p)) {
            EXPECT_GE(static_cast<int>(zp::bestVectorPath()), static_cast<int>(p));
        }
    }
}

// A stage's version for each asked path: the asked one where it runs, else
// the next narrower one.
TEST(VectorPath, FunctionForPathFallsBackToANarrowerVersion) {
    const bool sse2 = zp::vectorPathAvailable(zp::VectorPath::Sse2);
    const bool avx2 = zp::vectorPathAvailable(zp::VectorPath::Avx2);
    EXPECT_EQ(zp::functionForPath(zp::VectorPath::Portable, 1, 2, 3), 1);
    EXPECT_EQ(zp::functionForPath(zp::VectorPath::Sse2, 1, 2, 3), sse2 ? 2 : 1);
    EXPECT_EQ(zp::functionForPath(zp::VectorPath::Avx2, 1, 2, 3), avx2 ? 3 : (sse2 ? 2 : 1));
}

}  // namespace
