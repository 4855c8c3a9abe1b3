// Reading grey images of any common format and bringing them to the
// sensor's 256 x 384 at 500 dpi.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zpcli {

// Largest image the tool decodes, or makes by resampling: 4096 x 4096
// pixels (16 MiB of grey). A larger image is refused from the size its
// header declares, before any pixel is decoded.
inline constexpr std::uint64_t kMaxImagePixels = 4096ULL * 4096ULL;
// Images being decoded and fitted at once in the whole process, whatever
// the number of threads asking (bounds the memory of eval's threads).
inline constexpr int kMaxImagesInFlight = 4;

struct GreyImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;  // row by row, no padding
};

// Reads PNG, PNM (PGM/PPM), BMP, JPEG or TIFF; colour is converted to grey.
// False with a message naming the file and the problem on failure.
bool loadImage(const std::string& path, GreyImage& out, std::string& error);

// Size of an image of width x height taken at dpi once resampled to 500 dpi.
void resampledSize(std::int32_t width, std::int32_t height, int dpi, std::int64_t& outWidth, std::int64_t& outHeight);

// Resamples an image taken at dpi to 500 dpi (bilinear); unchanged at 500.
// The caller checks the resampled size against kMaxImagePixels first.
GreyImage resampleTo500Dpi(const GreyImage& image, int dpi);

// Median of the outermost pixels: the image's background level.
std::uint8_t backgroundLevel(const GreyImage& image);

// Brings an image to 256 x 384: where it is larger, a window is cut round
// the finger (the centre of its high-contrast blocks); where smaller, it is
// padded with its background level. note says what was done ("" when the
// image already had the sensor's size).
std::vector<std::uint8_t> fitToSensor(const GreyImage& image, std::string& note);

// Loads, resamples from dpi and fits in one step; refuses an image, or a
// resampled one, above kMaxImagePixels. At most kMaxImagesInFlight run at once.
bool loadSensorImage(const std::string& path, int dpi, std::vector<std::uint8_t>& sensor,
                     std::string& note, std::string& error);

}  // namespace zpcli
