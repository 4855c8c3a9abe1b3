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

// Where the finger lies in a capture: the mean position of its
// high-contrast 8 x 8 blocks (the centre fitToSensor cuts round) and the
// box holding all but the outermost 2 % of those blocks on each side.
struct FingerExtent {
    bool found = false;  // some block stands out; otherwise the image centre and the whole image
    double centreX = 0.0;
    double centreY = 0.0;
    std::int32_t left = 0;  // box [left, right) x [top, bottom)
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;
};
FingerExtent fingerExtent(const GreyImage& image);

// A rectangle in a capture's pixels (at 500 dpi).
struct Rect {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool operator==(const Rect&) const = default;
};

// Windows of one capture: where the extractor's 232 x 280 working window is
// placed over the finger. Window 0 is the centred one (the capture fitted as
// fitToSensor fits it); windows 1, 2, ... follow in the order windowGrid
// lists them. Stored templates keep this number.
inline constexpr int kMaxWindows = 9;
// Probe windows unless asked otherwise. verify: three (centre, up, down);
// they cost two more extractions and comparisons with one subject's
// templates, and lift level-3 genuine acceptance on 448 x 478 captures
// enrolled with five windows from 32 to 40 of 70. identify: one; there
// each window is searched through the whole gallery (a search over a
// million templates takes about three times as long with three).
inline constexpr int kDefaultVerifyWindows = 3;
inline constexpr int kDefaultIdentifyWindows = 1;
// Along each axis the window moves by a quarter of its size, or less where
// the finger's extent leaves less, and by at most two such steps each way;
// an axis whose extent exceeds the window by less than kMinWindowShift on
// each side is not shifted. Windows stay inside the extent. Listed centre
// first, then by the number of steps (up and down before left and right,
// up and left first), identical rectangles once; rect 0 is centred on the
// finger's centre.
inline constexpr std::int32_t kMinWindowShift = 16;
std::vector<Rect> windowGrid(const FingerExtent& extent);

// One window of a capture fitted to the sensor frame.
struct CaptureWindow {
    int index = 0;   // 0: centred (byte for byte fitToSensor's image)
    Rect rect;       // the grid's rectangle in the capture
    std::int32_t frameX = 0;  // capture pixel at the frame's top-left
    std::int32_t frameY = 0;
    std::vector<std::uint8_t> sensor;  // 256 x 384
};
// The working window the extractor cuts from a window's frame (round the
// finger centre it measures), in the capture's pixels; the grid's rectangle
// when it finds no finger.
Rect workingWindow(const CaptureWindow& window);
// Up to `windows` windows of the grid. Window 0 is fitToSensor's image;
// each other one shows the capture inside its rectangle (and kWindowMargin
// round it) centred in the frame, the rest filled with the background
// level, so that the extractor centres its working window there.
inline constexpr std::int32_t kWindowMargin = 8;
std::vector<CaptureWindow> fitWindows(const GreyImage& image, int windows, std::string& note);


// Loads and resamples from dpi (refusing what loadSensorImage refuses)
// without fitting; note says what was done.
bool loadCapture(const std::string& path, int dpi, GreyImage& image, std::string& note, std::string& error);

// Loads, resamples from dpi and fits in one step; refuses an image, or a
// resampled one, above kMaxImagePixels. At most kMaxImagesInFlight run at once.
bool loadSensorImage(const std::string& path, int dpi, std::vector<std::uint8_t>& sensor,
                     std::string& note, std::string& error);
// The same, fitted as up to `windows` windows (fitWindows).
bool loadSensorWindows(const std::string& path, int dpi, int windows, std::vector<CaptureWindow>& out,
                       std::string& note, std::string& error);

}  // namespace zpcli
