#include "image_io.h"

#include <stb_image.h>
#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <semaphore>

#include "cli_common.h"
#include "core/rules.h"
#include "zpapi.h"

namespace zpcli {
namespace {

std::string sizeText(std::uint64_t width, std::uint64_t height) {
    return std::to_string(width) + " x " + std::to_string(height);
}

// The refusal of a declared size above the limit, or "" when it is within.
std::string sizeRefusal(const std::string& path, std::uint64_t width, std::uint64_t height, const char* what) {
    if (width * height <= kMaxImagePixels) return {};
    return path + ": " + what + " " + sizeText(width, height) + " (" + std::to_string(width * height) +
           " pixels) is above the limit of " + std::to_string(kMaxImagePixels) + " pixels; refused";
}

bool isTiff(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    unsigned char magic[4] = {0, 0, 0, 0};
    const std::size_t n = std::fread(magic, 1, 4, f);
    std::fclose(f);
    return n == 4 && ((magic[0] == 'I' && magic[1] == 'I' && magic[2] == 42 && magic[3] == 0) ||
                      (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && magic[3] == 42));
}

void quietTiffHandler(const char*, const char*, va_list) {}

bool loadTiff(const std::string& path, GreyImage& out, std::string& error) {
    TIFFSetWarningHandler(quietTiffHandler);
    TIFFSetErrorHandler(quietTiffHandler);
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (tif == nullptr) {
        error = path + ": not a readable TIFF file";
        return false;
    }
    std::uint32_t w = 0;
    std::uint32_t h = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    if (w == 0 || h == 0) {
        error = path + ": TIFF image has no usable size (" + sizeText(w, h) + ")";
        TIFFClose(tif);
        return false;
    }
    error = sizeRefusal(path, w, h, "declared image size");
    if (!error.empty()) {
        TIFFClose(tif);
        return false;
    }
    // Every TIFF flavour goes through libtiff's RGBA reader, then to grey.
    std::vector<std::uint32_t> rgba(static_cast<std::size_t>(w) * h);
    if (TIFFReadRGBAImageOriented(tif, w, h, rgba.data(), ORIENTATION_TOPLEFT, 0) == 0) {
        error = path + ": TIFF image data could not be decoded";
        TIFFClose(tif);
        return false;
    }
    TIFFClose(tif);
    out.width = static_cast<std::int32_t>(w);
    out.height = static_cast<std::int32_t>(h);
    out.pixels.resize(rgba.size());
    for (std::size_t i = 0; i < rgba.size(); ++i) {
        const std::uint32_t p = rgba[i];
        const std::uint32_t r = TIFFGetR(p);
        const std::uint32_t g = TIFFGetG(p);
        const std::uint32_t b = TIFFGetB(p);
        out.pixels[i] = static_cast<std::uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
    }
    return true;
}

}  // namespace

bool loadImage(const std::string& path, GreyImage& out, std::string& error) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        error = path + ": no such file";
        return false;
    }
    if (std::filesystem::is_directory(path, ec)) {
        error = path + ": is a directory, not an image";
        return false;
    }
    if (std::filesystem::file_size(path, ec) == 0) {
        error = path + ": empty file";
        return false;
    }
    if (isTiff(path)) return loadTiff(path, out, error);
    int w = 0;
    int h = 0;
    int channels = 0;
    // The header alone first: stb would allocate the declared size.
    if (stbi_info(path.c_str(), &w, &h, &channels) != 0) {
        error = sizeRefusal(path, static_cast<std::uint64_t>(std::max(w, 0)), static_cast<std::uint64_t>(std::max(h, 0)),
                            "declared image size");
        if (!error.empty()) return false;
    }
    stbi_uc* data = stbi_load(path.c_str(), &w, &h, &channels, 1);
    if (data == nullptr) {
        const char* reason = stbi_failure_reason();
        error = path + ": not a readable image (" + (reason ? reason : "unknown format") +
                "); PNG, PNM, BMP, JPEG and TIFF are supported";
        return false;
    }
    out.width = w;
    out.height = h;
    out.pixels.assign(data, data + static_cast<std::size_t>(w) * h);
    stbi_image_free(data);
    if (w <= 0 || h <= 0) {
        error = path + ": empty image";
        return false;
    }
    return true;
}

void resampledSize(std::int32_t width, std::int32_t height, int dpi, std::int64_t& outWidth, std::int64_t& outHeight) {
    if (dpi == 500 || dpi <= 0) {
        outWidth = width;
        outHeight = height;
        return;
    }
    const double scale = 500.0 / dpi;
    outWidth = std::max<std::int64_t>(1, std::llround(width * scale));
    outHeight = std::max<std::int64_t>(1, std::llround(height * scale));
}

GreyImage resampleTo500Dpi(const GreyImage& image, int dpi) {
    if (dpi == 500 || dpi <= 0) return image;
    const double scale = 500.0 / dpi;
    std::int64_t width = 0;
    std::int64_t height = 0;
    resampledSize(image.width, image.height, dpi, width, height);
    GreyImage out;
    out.width = static_cast<std::int32_t>(width);
    out.height = static_cast<std::int32_t>(height);
    out.pixels.resize(static_cast<std::size_t>(out.width) * out.height);
    for (int y = 0; y < out.height; ++y) {
        const double sy = std::clamp((y + 0.5) / scale - 0.5, 0.0, image.height - 1.0);
        const int y0 = static_cast<int>(sy);
        const int y1 = std::min(y0 + 1, image.height - 1);
        const double fy = sy - y0;
        for (int x = 0; x < out.width; ++x) {
            const double sx = std::clamp((x + 0.5) / scale - 0.5, 0.0, image.width - 1.0);
            const int x0 = static_cast<int>(sx);
            const int x1 = std::min(x0 + 1, image.width - 1);
            const double fx = sx - x0;
            auto at = [&](int xx, int yy) { return image.pixels[static_cast<std::size_t>(yy) * image.width + xx]; };
            const double v = (at(x0, y0) * (1 - fx) + at(x1, y0) * fx) * (1 - fy) +
                             (at(x0, y1) * (1 - fx) + at(x1, y1) * fx) * fy;
            out.pixels[static_cast<std::size_t>(y) * out.width + x] = static_cast<std::uint8_t>(std::lround(v));
        }
    }
    return out;
}

std::uint8_t backgroundLevel(const GreyImage& image) {
    std::vector<std::uint8_t> border;
    const auto at = [&](int x, int y) { return image.pixels[static_cast<std::size_t>(y) * image.width + x]; };
    for (int x = 0; x < image.width; ++x) {
        border.push_back(at(x, 0));
        border.push_back(at(x, image.height - 1));
    }
    for (int y = 0; y < image.height; ++y) {
        border.push_back(at(0, y));
        border.push_back(at(image.width - 1, y));
    }
    std::nth_element(border.begin(), border.begin() + border.size() / 2, border.end());
    return border[border.size() / 2];
}

namespace {

// Grey-level spread of each whole 8 x 8 block, row by row, and the largest.
std::vector<double> blockSpreads(const GreyImage& image, double& maxSpread) {
    const int bw = image.width / 8;
    const int bh = image.height / 8;
    std::vector<double> spread(static_cast<std::size_t>(std::max(bw * bh, 0)));
    maxSpread = 0;
    for (int by = 0; by < bh; ++by) {
        for (int bx = 0; bx < bw; ++bx) {
            double sum = 0;
            double sq = 0;
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 8; ++x) {
                    const double v = image.pixels[static_cast<std::size_t>(by * 8 + y) * image.width + bx * 8 + x];
                    sum += v;
                    sq += v * v;
                }
            }
            const double s = std::sqrt(std::max(0.0, sq / 64 - (sum / 64) * (sum / 64)));
            spread[by * bw + bx] = s;
            maxSpread = std::max(maxSpread, s);
        }
    }
    return spread;
}

// The frame's top-left pixel in the image along one axis: round the finger
// where the image is larger than the frame, centred (padded) where smaller.
int frameOffset(int size, int window, double centre) {
    if (size <= window) return -((window - size) / 2);
    return std::clamp(static_cast<int>(std::lround(centre)) - window / 2, 0, size - window);
}

// The frame placed at (offX, offY) of the image; outside the image, and
// outside keep (when given), the background level.
std::vector<std::uint8_t> cutFrame(const GreyImage& image, int offX, int offY, std::uint8_t background,
                                   const Rect* keep) {
    constexpr int kW = ZP_IMAGE_WIDTH;
    constexpr int kH = ZP_IMAGE_HEIGHT;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(kW) * kH, background);
    for (int y = 0; y < kH; ++y) {
        const int srcY = y + offY;
        if (srcY < 0 || srcY >= image.height) continue;
        if (keep && (srcY < keep->y || srcY >= keep->y + keep->height)) continue;
        for (int x = 0; x < kW; ++x) {
            const int srcX = x + offX;
            if (srcX < 0 || srcX >= image.width) continue;
            if (keep && (srcX < keep->x || srcX >= keep->x + keep->width)) continue;
            out[static_cast<std::size_t>(y) * kW + x] = image.pixels[static_cast<std::size_t>(srcY) * image.width + srcX];
        }
    }
    return out;
}

// Window positions along one axis, as offsets of the window's centre from
// the centre, in the order -1, +1, -2, +2 steps (0 first).
std::vector<std::int32_t> axisShifts(std::int32_t lo, std::int32_t hi, std::int32_t window, double centre) {
    std::vector<std::int32_t> out{0};
    const std::int32_t slack = (hi - lo - window) / 2;
    if (slack < kMinWindowShift) return out;
    const std::int32_t step = std::min(window / 4, slack);
    const auto c = static_cast<std::int32_t>(std::lround(centre));
    // Window centres stay where the whole window lies inside the extent.
    const std::int32_t least = lo + window / 2;
    const std::int32_t most = hi - (window - window / 2);
    for (std::int32_t k = 1; k <= 2 && k * step <= slack; ++k) {
        for (std::int32_t sign : {-1, 1}) {
            const std::int32_t at = std::clamp(c + sign * k * step, least, std::max(least, most));
            if (std::find(out.begin(), out.end(), at - c) == out.end()) out.push_back(at - c);
        }
    }
    return out;
}

}  // namespace

FingerExtent fingerExtent(const GreyImage& image) {
    FingerExtent e;
    e.centreX = image.width / 2.0;
    e.centreY = image.height / 2.0;
    e.right = image.width;
    e.bottom = image.height;
    double maxSpread = 0;
    const std::vector<double> spread = blockSpreads(image, maxSpread);
    const int bw = image.width / 8;
    const int bh = image.height / 8;
    double n = 0;
    double sx = 0;
    double sy = 0;
    std::vector<std::int32_t> xs;
    std::vector<std::int32_t> ys;
    for (int by = 0; by < bh; ++by) {
        for (int bx = 0; bx < bw; ++bx) {
            if (maxSpread > 0 && spread[by * bw + bx] > maxSpread / 4) {
                sx += bx * 8 + 4;
                sy += by * 8 + 4;
                ++n;
                xs.push_back(bx * 8);
                ys.push_back(by * 8);
            }
        }
    }
    if (n == 0) return e;
    e.found = true;
    e.centreX = sx / n;
    e.centreY = sy / n;
    // Stray blocks of noise or of the sensor's edge do not stretch the box.
    const auto trimmed = [](std::vector<std::int32_t>& v, std::int32_t& lo, std::int32_t& hi) {
        std::sort(v.begin(), v.end());
        const std::size_t cut = v.size() / 50;
        lo = v[cut];
        hi = v[v.size() - 1 - cut] + 8;
    };
    trimmed(xs, e.left, e.right);
    trimmed(ys, e.top, e.bottom);
    return e;
}

std::vector<Rect> windowGrid(const FingerExtent& e) {
    constexpr std::int32_t kW = zp::kWindowWidth;
    constexpr std::int32_t kH = zp::kWindowHeight;
    const std::vector<std::int32_t> xs = axisShifts(e.left, e.right, kW, e.centreX);
    const std::vector<std::int32_t> ys = axisShifts(e.top, e.bottom, kH, e.centreY);
    // (steps, horizontal first?, x index, y index): the listing order.
    std::vector<std::array<std::size_t, 4>> order;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        for (std::size_t j = 0; j < ys.size(); ++j) {
            const std::size_t steps = (i + 1) / 2 + (j + 1) / 2;
            order.push_back({steps, i > 0 && j == 0 ? 1U : 0U, i, j});
        }
    }
    std::stable_sort(order.begin(), order.end(), [](const auto& a, const auto& b) {
        return a[0] != b[0] ? a[0] < b[0] : a[1] < b[1];
    });
    const auto cx = static_cast<std::int32_t>(std::lround(e.centreX));
    const auto cy = static_cast<std::int32_t>(std::lround(e.centreY));
    std::vector<Rect> out;
    for (const auto& o : order) {
        const Rect r{cx + xs[o[2]] - kW / 2, cy + ys[o[3]] - kH / 2, kW, kH};
        if (std::find(out.begin(), out.end(), r) == out.end()) out.push_back(r);
    }
    return out;
}

std::vector<std::uint8_t> fitToSensor(const GreyImage& image, std::string& note) {
    // A sensor-sized image is itself: fitWindows finds the finger only for window 0's rect.
    if (image.width == ZP_IMAGE_WIDTH && image.height == ZP_IMAGE_HEIGHT) {
        note.clear();
        return image.pixels;
    }
    std::vector<CaptureWindow> one = fitWindows(image, 1, note);
    return std::move(one.front().sensor);
}

std::vector<CaptureWindow> fitWindows(const GreyImage& image, int windows, std::string& note) {
    constexpr int kW = ZP_IMAGE_WIDTH;
    constexpr int kH = ZP_IMAGE_HEIGHT;
    note.clear();
    const FingerExtent extent = fingerExtent(image);
    const std::vector<Rect> grid = windowGrid(extent);
    const bool sensorSized = image.width == kW && image.height == kH;
    const bool others = windows > 1 && grid.size() > 1;
    const std::uint8_t background = sensorSized && !others ? 0 : backgroundLevel(image);
    std::vector<CaptureWindow> out;
    CaptureWindow centred;
    centred.rect = grid.front();
    if (sensorSized) {
        centred.sensor = image.pixels;
    } else {
        centred.frameX = frameOffset(image.width, kW, extent.centreX);
        centred.frameY = frameOffset(image.height, kH, extent.centreY);
        centred.sensor = cutFrame(image, centred.frameX, centred.frameY, background, nullptr);
        char buf[200];
        std::snprintf(buf, sizeof buf, "%d x %d brought to %d x %d (%s width, %s height, background %d)",
                      image.width, image.height, kW, kH,
                      image.width > kW ? "cropped round the finger in" : image.width < kW ? "padded in" : "same",
                      image.height > kH ? "cropped round the finger in" : image.height < kH ? "padded in" : "same",
                      background);
        note = buf;
    }
    out.push_back(std::move(centred));
    if (!others) return out;
    for (std::size_t k = 1; k < grid.size() && static_cast<int>(k) < windows; ++k) {
        CaptureWindow w;
        w.index = static_cast<int>(k);
        w.rect = grid[k];
        const Rect keep{w.rect.x - kWindowMargin, w.rect.y - kWindowMargin, w.rect.width + 2 * kWindowMargin,
                        w.rect.height + 2 * kWindowMargin};
        w.frameX = w.rect.x + w.rect.width / 2 - kW / 2;
        w.frameY = w.rect.y + w.rect.height / 2 - kH / 2;
        w.sensor = cutFrame(image, w.frameX, w.frameY, background, &keep);
        out.push_back(std::move(w));
    }
    note += std::string(note.empty() ? "" : "; ") + std::to_string(out.size()) + " windows of " +
            std::to_string(grid.size());
    return out;
}

Rect workingWindow(const CaptureWindow& window) {
    const Detection d = detectFinger(window.sensor);
    if (!d.found) return window.rect;
    std::int32_t x0 = 0;
    std::int32_t y0 = 0;
    windowOrigin(d.desc.centreX, d.desc.centreY, x0, y0);
    return {window.frameX + x0, window.frameY + y0, zp::kWindowWidth, zp::kWindowHeight};
}

bool loadCapture(const std::string& path, int dpi, GreyImage& image, std::string& note, std::string& error) {
    note.clear();
    if (!loadImage(path, image, error)) return false;
    if (dpi != 500) {
        std::int64_t width = 0;
        std::int64_t height = 0;
        resampledSize(image.width, image.height, dpi, width, height);
        error = sizeRefusal(path, static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height),
                            ("size after resampling from " + std::to_string(dpi) + " to 500 dpi,").c_str());
        if (!error.empty()) return false;
        image = resampleTo500Dpi(image, dpi);
        note = "resampled from " + std::to_string(dpi) + " to 500 dpi; ";
    }
    return true;
}

namespace {

// Loads and resamples a capture and fits it with fit (which sets the note),
// at most kMaxImagesInFlight at once.
bool loadFitted(const std::string& path, int dpi, std::string& note, std::string& error,
                const std::function<void(const GreyImage&, std::string&)>& fit) {
    static std::counting_semaphore<kMaxImagesInFlight> slots(kMaxImagesInFlight);
    struct Slot {
        Slot() { slots.acquire(); }
        ~Slot() { slots.release(); }
    } slot;
    GreyImage image;
    std::string resampled;
    if (!loadCapture(path, dpi, image, resampled, error)) return false;
    fit(image, note);
    if (!resampled.empty()) note = resampled + note;
    return true;
}

}  // namespace

bool loadSensorWindows(const std::string& path, int dpi, int windows, std::vector<CaptureWindow>& out,
                       std::string& note, std::string& error) {
    return loadFitted(path, dpi, note, error,
                      [&](const GreyImage& image, std::string& n) { out = fitWindows(image, windows, n); });
}

bool loadSensorImage(const std::string& path, int dpi, std::vector<std::uint8_t>& sensor,
                     std::string& note, std::string& error) {
    return loadFitted(path, dpi, note, error,
                      [&](const GreyImage& image, std::string& n) { sensor = fitToSensor(image, n); });
}

}  // namespace zpcli
