#include "png_io.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace zpcli {
namespace {

void setError(std::string* error, const std::string& message) {
    if (error != nullptr) *error = message;
}

// libpng's simplified API: no setjmp, errors come back in the image record.
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
    if (!png_image_write_to_file(&image, path.c_str(), 0, pixels, 0, nullptr)) {
        setError(error, path + ": " + (errno != 0 ? std::strerror(errno) : image.message));
        png_image_free(&image);
        return false;
    }
    return true;
}

}  // namespace

bool writePngGrey(const std::string& path, int width, int height, const std::uint8_t* pixels, std::string* error) {
    errno = 0;
    return writePng(path, width, height, pixels, PNG_FORMAT_GRAY, error);
}

bool writePngRgb(const std::string& path, int width, int height, const std::uint8_t* pixels, std::string* error) {
    errno = 0;
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
