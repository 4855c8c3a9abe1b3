// Reading grey images of any common format and bringing them to the
// sensor's 256 x 384 at 500 dpi.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zpcli {

struct GreyImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<std::uint8_t> pixels;  // row by row, no padding
};

// Reads PNG, PNM (PGM/PPM), BMP, JPEG or TIFF; colour is converted to grey.
// False with a message naming the file and the problem on failure.
bool loadImage(const std::string& path, GreyImage& out, std::string& error);

// Resamples an image taken at dpi to 500 dpi (bilinear); unchanged at 500.
GreyImage resampleTo500Dpi(const GreyImage& image, int dpi);

// Median of the outermost pixels: the image's background level.
std::uint8_t backgroundLevel(const GreyImage& image);

// Brings an image to 256 x 384: where it is larger, a window is cut round
// the finger (the centre of its high-contrast blocks); where smaller, it is
// padded with its background level. note says what was done ("" when the
// image already had the sensor's size).
std::vector<std::uint8_t> fitToSensor(const GreyImage& image, std::string& note);

// Loads, resamples from dpi and fits in one step.
bool loadSensorImage(const std::string& path, int dpi, std::vector<std::uint8_t>& sensor,
                     std::string& note, std::string& error);

}  // namespace zpcli
