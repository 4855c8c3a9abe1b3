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
    // The widest path is the widest available one; the best one is too, up
    // to AVX2 (the stages without AVX-512 versions compare against it).
    EXPECT_TRUE(zp::vectorPathAvailable(zp::widestVectorPath()));
    for (const zp::VectorPath p : zp::kVectorPaths) {
        if (zp::vectorPathAvailable(p)) {
            EXPECT_GE(static_cast<int>(zp::widestVectorPath()), static_cast<int>(p));
            if (p <= zp::VectorPath::Avx2) {
                EXPECT_GE(static_cast<int>(zp::bestVectorPath()), static_cast<int>(p));
            }
        }
    }
    EXPECT_LE(static_cast<int>(zp::bestVectorPath()), static_cast<int>(zp::VectorPath::Avx2));
}

// A stage's version for each asked path: the asked one where it runs, else
// the next narrower one.
TEST(VectorPath, FunctionForPathFallsBackToANarrowerVersion) {
    const bool sse2 = zp::vectorPathAvailable(zp::VectorPath::Sse2);
    const bool avx2 = zp::vectorPathAvailable(zp::VectorPath::Avx2);
    EXPECT_EQ(zp::functionForPath(zp::VectorPath::Portable, 1, 2, 3), 1);
    EXPECT_EQ(zp::functionForPath(zp::VectorPath::Sse2, 1, 2, 3), sse2 ? 2 : 1);
    EXPECT_EQ(zp::functionForPath(zp::VectorPath::Avx2, 1, 2, 3), avx2 ? 3 : (sse2 ? 2 : 1));
    // A stage without an AVX-512 version takes its AVX2 one there.
    EXPECT_EQ(zp::functionForPath(zp::VectorPath::Avx512, 1, 2, 3), avx2 ? 3 : (sse2 ? 2 : 1));
}

}  // namespace
