// Clearing small fixed-size work arrays. An initialiser or a loop of zero
// stores becomes a string instruction or a library call, whose start-up
// costs more than the few vector stores these arrays need; the stores are
// therefore written out one by one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace zp {

#if defined(__SSE2__)
template <std::size_t kBytes, std::size_t... kBlock>
inline void clearBlocks(std::uint8_t* at, std::index_sequence<kBlock...> /*blocks*/) {
    const __m128i zero = _mm_setzero_si128();
    (_mm_storeu_si128(reinterpret_cast<__m128i*>(at + 16 * kBlock), zero), ...);
    // A last store ending at the array's end covers a part block.
    if constexpr (kBytes % 16 != 0) _mm_storeu_si128(reinterpret_cast<__m128i*>(at + kBytes - 16), zero);
}
#endif

// Sets every element of a (of at least 16 bytes) to zero.
template <typename T, std::size_t kCount>
inline void clearSmallArray(std::array<T, kCount>& a) {
    static_assert(std::is_trivially_copyable_v<T> && sizeof(T) * kCount >= 16);
#if defined(__SSE2__)
    constexpr std::size_t kBytes = sizeof(T) * kCount;
    clearBlocks<kBytes>(reinterpret_cast<std::uint8_t*>(a.data()), std::make_index_sequence<kBytes / 16>{});
#else
    a.fill(T{});
#endif
}

}  // namespace zp
