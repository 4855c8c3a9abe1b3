#include "support/real_images.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace zptest {

std::string dataDir() {
    const char* env = std::getenv("ZPAPI_DATA_DIR");
    std::string dir = env != nullptr ? env : ZPAPI_DEFAULT_DATA_DIR;
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec) ? dir : std::string();
}

bool dataRequired() {
    const char* env = std::getenv("ZPAPI_REQUIRE_DATA");
    return env != nullptr && std::string(env) == "1";
}

std::string setImage(const std::string& set, int finger, int impression) {
    const std::string dir = dataDir();
    if (dir.empty()) return {};
    return dir + "/" + set + "/" + std::to_string(finger) + "_" + std::to_string(impression) +
           ".tif";
}

bool readTiff(const std::string& path, GreyImage& out, std::string& error) {
    TIFFSetWarningHandler(nullptr);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) {
        error = path + ": cannot open as TIFF";
        return false;
    }
    std::uint32_t w = 0;
    std::uint32_t h = 0;
    std::uint16_t bits = 8;
    std::uint16_t samples = 1;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (bits != 8 || samples != 1 || w == 0 || h == 0 || w > 4096 || h > 4096) {
        error = path + ": not an 8-bit greyscale image";
        TIFFClose(tif);
        return false;
    }
    out.width = static_cast<std::int32_t>(w);
    out.height = static_cast<std::int32_t>(h);
    out.pixels.assign(static_cast<std::size_t>(w) * h, 0);
    for (std::uint32_t y = 0; y < h; ++y) {
        if (TIFFReadScanline(tif, out.pixels.data() + static_cast<std::size_t>(y) * w, y) < 0) {
            error = path + ": unreadable row " + std::to_string(y);
            TIFFClose(tif);
            return false;
        }
    }
    TIFFClose(tif);
    return true;
}

std::vector<std::uint8_t> fitToSensor(const GreyImage& image) {
    constexpr int kW = 256;
    constexpr int kH = 384;
    std::vector<std::uint8_t> border;
    for (int x = 0; x < image.width; ++x) {
        border.push_back(image.pixels[x]);
        border.push_back(image.pixels[static_cast<std::size_t>(image.height - 1) * image.width + x]);
    }
    for (int y = 0; y < image.height; ++y) {
        border.push_back(image.pixels[static_cast<std::size_t>(y) * image.width]);
        border.push_back(image.pixels[static_cast<std::size_t>(y) * image.width + image.width - 1]);
    }
    std::nth_element(border.begin(), border.begin() + border.size() / 2, border.end());
    const std::uint8_t background = border[border.size() / 2];

    std::vector<std::uint8_t> out(static_cast<std::size_t>(kW) * kH, background);
    const int offX = (image.width - kW) / 2;   // >0: crop, <0: pad
    const int offY = (image.height - kH) / 2;
    for (int y = 0; y < kH; ++y) {
        const int sy = y + offY;
        if (sy < 0 || sy >= image.height) continue;
        for (int x = 0; x < kW; ++x) {
            const int sx = x + offX;
            if (sx < 0 || sx >= image.width) continue;
            out[static_cast<std::size_t>(y) * kW + x] =
                image.pixels[static_cast<std::size_t>(sy) * image.width + sx];
        }
    }
    return out;
}

std::vector<std::uint8_t> loadSensorImage(const std::string& set, int finger, int impression) {
    const std::string path = setImage(set, finger, impression);
    GreyImage image;
    std::string error;
    if (path.empty() || !readTiff(path, image, error)) return {};
    return fitToSensor(image);
}

}  // namespace zptest
