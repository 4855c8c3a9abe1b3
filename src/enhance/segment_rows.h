// Rows of an image under a block map, walked in segments of eight pixels
// (one block's columns), for the stages that decide every finger pixel with
// the kernel or flank set of its block's direction code. Each path of a
// stage handles one segment; the AVX2 path two neighbouring ones at once.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>

#include "math/vector_path.h"

#if defined(ZP_VECTOR_PATHS)
#include <immintrin.h>
#endif

namespace zp::segments {

inline constexpr std::int32_t kFrame = 8;  // columns left alone on either side
inline constexpr std::int32_t kLength = 8;
inline constexpr std::int32_t kBlockShift = 3;

// Pixels of the segment starting at xs that lie inside the frame.
inline std::int32_t lengthAt(std::int32_t xs, std::int32_t width) {
    return ((xs | 7) + 1 < width - kFrame ? (xs | 7) + 1 : width - kFrame) - xs;
}

// The entry of a direction code 1..8, none for background (0) and codes above 8.
template <typename Entry>
inline const Entry* entryOf(const std::array<Entry, 8>& table, std::uint8_t code) {
    return code == 0 || code > 8 ? nullptr : &table[code - 1];
}

// A stage provides, for its per-code Entry type:
//   run(p, out, entry, n)             the portable loop over n <= 8 pixels
//   runSse2(p, out, entry, n)         the same with 16-byte vectors
//   runTwoAvx2<same>(p, out, e, f, m) 8 pixels from p with e, 8 from p + 8
//                                     with f (the same entry when same),
//                                     storing 8 and m
template <typename Stage>
using RowFunction = void (*)(const std::uint8_t* row, std::uint8_t* out, const std::uint8_t* blocks,
                             std::int32_t width, const std::array<typename Stage::Entry, 8>& table);

// One segment at a time, by the portable or the 16-byte loop.
template <typename Stage, bool kSse2>
void rowBySegment(const std::uint8_t* row, std::uint8_t* out, const std::uint8_t* blocks, std::int32_t width,
                  const std::array<typename Stage::Entry, 8>& table) {
    for (std::int32_t xs = kFrame; xs < width - kFrame; xs = (xs | 7) + 1) {
        const auto* e = entryOf(table, blocks[xs >> kBlockShift]);
        if (e == nullptr) continue;
#if defined(ZP_VECTOR_PATHS)
        if constexpr (kSse2) {
            Stage::runSse2(row + xs, out + xs, *e, lengthAt(xs, width));
            continue;
        }
#endif
        Stage::run(row + xs, out + xs, *e, lengthAt(xs, width));
    }
}

#if defined(ZP_VECTOR_PATHS)
inline __m128i loadEight(const std::uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }

// Stores the n <= 8 low bytes of v.
inline void storeSegment(__m128i v, std::uint8_t* out, std::int32_t n) {
    if (n == kLength) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), v);
        return;
    }
    alignas(16) std::uint8_t bytes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(bytes), v);
    std::memcpy(out, bytes, static_cast<std::size_t>(n));
}

template <typename Stage>
__attribute__((target("avx2"))) void rowAvx2(const std::uint8_t* row, std::uint8_t* out, const std::uint8_t* blocks,
                                             std::int32_t width, const std::array<typename Stage::Entry, 8>& table) {
    std::int32_t xs = kFrame;
    while (xs < width - kFrame) {
        const auto* e = entryOf(table, blocks[xs >> kBlockShift]);
        const std::int32_t n = lengthAt(xs, width);
        const std::int32_t next = xs + n;
        // A finger segment right after a full first one goes along.
        const auto* f = n == kLength && next < width - kFrame ? entryOf(table, blocks[next >> kBlockShift]) : nullptr;
        if (e != nullptr && f != nullptr) {
            const std::int32_t m = lengthAt(next, width);
            if (e == f) {
                Stage::template runTwoAvx2<true>(row + xs, out + xs, *e, *f, m);
            } else {
                Stage::template runTwoAvx2<false>(row + xs, out + xs, *e, *f, m);
            }
            xs = next + m;
            continue;
        }
        if (e != nullptr) Stage::runSse2(row + xs, out + xs, *e, n);
        xs = next;
    }
}
#endif

// The row function of a path (a narrower one where it is not available).
template <typename Stage>
RowFunction<Stage> rowFunctionFor(VectorPath path) {
#if defined(ZP_VECTOR_PATHS)
    return functionForPath<RowFunction<Stage>>(path, rowBySegment<Stage, false>, rowBySegment<Stage, true>,
                                               rowAvx2<Stage>);
#else
    static_cast<void>(path);
    return rowBySegment<Stage, false>;
#endif
}

}  // namespace zp::segments
