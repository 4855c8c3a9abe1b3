#include "math/vector_path.h"

namespace zp {

bool vectorPathAvailable(VectorPath path) {
    switch (path) {
        case VectorPath::Portable:
            return true;
#if defined(ZP_VECTOR_PATHS)
        case VectorPath::Sse2:
            return true;
        case VectorPath::Avx2:
            // The processor's and the system's feature bits, as the compiler's
            // runtime records them once; the init call only matters for a
            // host that calls in from its own static constructors, before
            // that runtime's.
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2") != 0;
        case VectorPath::Avx512:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("avx512f") != 0 &&
                   __builtin_cpu_supports("avx512bw") != 0 && __builtin_cpu_supports("avx512vl") != 0 &&
                   __builtin_cpu_supports("avx512dq") != 0 && __builtin_cpu_supports("avx512vbmi") != 0 &&
                   __builtin_cpu_supports("avx512vbmi2") != 0 &&
                   __builtin_cpu_supports("avx512cd") != 0 && __builtin_cpu_supports("gfni") != 0 &&
                   __builtin_cpu_supports("bmi2") != 0;
#endif
        default:
            return false;
    }
}

VectorPath widestVectorPath() {
    if (vectorPathAvailable(VectorPath::Avx512)) return VectorPath::Avx512;
    return bestVectorPath();
}

VectorPath bestVectorPath() {
    if (vectorPathAvailable(VectorPath::Avx2)) return VectorPath::Avx2;
    if (vectorPathAvailable(VectorPath::Sse2)) return VectorPath::Sse2;
    return VectorPath::Portable;
}

}  // namespace zp
