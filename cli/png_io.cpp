#include "png_io.h"

#include <png.h>

#include <cstdio>
#include <cstring>

#include "tool_output.h"

namespace zpcli {
namespace {

void setError(std::string* error, const std::string& message) {
    if (error != nullptr) *error = message;
}

// libpng's simplified API (no setjmp, errors come back in the image
// record), encoding to memory; the file is then written atomically.
bool writePng(const std::string& path, int width, int height, const std::uint8_t* pixels, png_uint_32 format,
              std::string* error) {
    if (width <= 0 || height <= 0 || pixels == nullptr) {
        setError(error, path + ": empty image");
        return false;
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = format;
    png_alloc_size_t size = 0;
    std::vector<std::uint8_t> encoded;
    if (png_image_write_to_memory(&image, nullptr, &size, 0, pixels, 0, nullptr)) {
        encoded.resize(size);
        if (!png_image_write_to_memory(&image, encoded.data(), &size, 0, pixels, 0, nullptr)) size = 0;
    }
    if (size == 0) {
        setError(error, path + ": " + image.message);
        png_image_free(&image);
        return false;
    }
    try {
        writeFileAtomically(path, encoded.data(), size);
    } catch (const InputError& e) {
        setError(error, e.message);
        return false;
    }
    return true;
}

}  // namespace

bool writePngGrey(const std::string& path, int width, int height, const std::uint8_t* pixels, std::string* error) {
    return writePng(path, width, height, pixels, PNG_FORMAT_GRAY, error);
}

bool writePngRgb(const std::string& path, int width, int height, const std::uint8_t* pixels, std::string* error) {
    return writePng(path, width, height, pixels, PNG_FORMAT_RGB, error);
}

bool readPngGrey(const std::string& path, int& width, int& height, std::vector<std::uint8_t>& pixels, std::string* error) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) {
        setError(error, path + ": " + image.message);
        return false;
    }
    image.format = PNG_FORMAT_GRAY;
    pixels.assign(PNG_IMAGE_SIZE(image), 0);
    if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
        setError(error, path + ": " + image.message);
        png_image_free(&image);
        return false;
    }
    width = static_cast<int>(image.width);
    height = static_cast<int>(image.height);
    return true;
}

}  // namespace zpcli
