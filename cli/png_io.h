// PNG files for the command-line tool: 8-bit grey and RGB images.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zpcli {

// Writes a width x height image, row by row without gaps (grey: one byte per
// pixel; RGB: three). Returns false with a message in `error` when the file
// cannot be written.
bool writePngGrey(const std::string& path, int width, int height, const std::uint8_t* pixels, std::string* error = nullptr);
bool writePngRgb(const std::string& path, int width, int height, const std::uint8_t* pixels, std::string* error = nullptr);

// Reads an 8-bit grey PNG (other formats are converted to 8-bit grey).
bool readPngGrey(const std::string& path, int& width, int& height, std::vector<std::uint8_t>& pixels,
                 std::string* error = nullptr);

}  // namespace zpcli
