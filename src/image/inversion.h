// Inversion of grey levels: after it ridges are bright.
#pragma once

#include <cstdint>

namespace zp {

// Replaces each of width x height pixels p by 255 - p; nothing happens when
// the product is 0 or negative.
void invertImage(std::uint8_t* image, std::int32_t width, std::int32_t height);

}  // namespace zp
