// Shared pieces of the zpapi commands: exit codes, template files, the
// sensor-image loading every command uses, progress and JSON output.
#pragma once

#include <array>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "core/records.h"
#include "gallery/enrolment.h"
#include "gallery/search.h"
#include "image_io.h"
#include "gallery/records.h"
#include "tool_output.h"
#include "zpapi.h"

namespace zpcli {

// Exit codes of every command.
inline constexpr int kExitOk = 0;        // success, positive answer
inline constexpr int kExitNegative = 1;  // no match, no finger, not confirmed
inline constexpr int kExitBadInput = 2;  // bad usage, unreadable or invalid input

using Template = zpg::Template;
using Json = nlohmann::ordered_json;

using Workspace = zpg::Workspace;
using zpg::matchScore;
using zpg::templateCount;
using zpg::templateQuality;
using zpg::templateRejection;
using zpg::templateYield;
// Ways in which an accepted template differs from what the extractor writes
// (constant bytes, reserved bytes, ranges): hints of corruption.
std::vector<std::string> templateOddities(const Template& t);

// Reads a .zpt file of exactly 256 bytes; throws InputError otherwise.
Template readTemplateFile(const std::string& path);
// Writes a template file atomically (see writeFileAtomically).
void writeTemplateFile(const std::string& path, const Template& t);

// True when path names a template file rather than an image (by its size
// and extension).
bool looksLikeTemplate(const std::string& path);

// Loads an image as the 256 x 384 sensor image, saying on stderr what was
// done to fit it (unless quiet or --quiet); throws InputError on failure.
std::vector<std::uint8_t> loadSensorImageOrThrow(const std::string& path, int dpi, bool quiet);

// Result of one extraction.
struct Extraction {
    std::int32_t result = 0;  // ZPFingerExtract's code
    Template templ{};
    std::vector<std::uint8_t> workImage;  // the image buffer after extraction
};
Extraction extract(const std::vector<std::uint8_t>& sensorImage, std::int32_t threshold,
                   std::int32_t minYield);
// "template written", "no finger or quality too low", "no usable template", ...
const char* extractResultText(std::int32_t result);

// The marked skeleton of the working window (kWindowWidth x kWindowHeight,
// row by row) left in the image buffer by an extraction, as a grey picture:
// background white, skeleton black, the extractor's marks grey.
std::vector<std::uint8_t> skeletonPicture(const Extraction& e);

// A template from an image (extracted) or a template file; throws
// InputError on a rejected template or a failed extraction.
Template templateFromPath(const std::string& path, int dpi, bool quiet);

// The loaded windows of an image (fitWindows), saying on stderr what was
// done to fit it (unless quiet or --quiet); throws InputError on failure.
std::vector<CaptureWindow> loadSensorWindowsOrThrow(const std::string& path, int dpi, int windows, bool quiet);

// The template of one window of a capture.
struct WindowExtraction {
    int window = 0;  // zpg::StoredTemplate::window
    Rect rect;       // the working window in the capture (workingWindow), when asked for
    Template templ{};
};
// Extracts each window; windows that fail, or whose template repeats an
// earlier window's (zpg::repeatsWindow), are dropped. centredResult is
// window 0's ZPFingerExtract code. With rects, each kept window's rect is
// filled (one more finger detection a window: only for showing them).
std::vector<WindowExtraction> extractWindows(const std::vector<CaptureWindow>& windows, std::int32_t& centredResult,
                                             bool rects = false);
// The templates of an image's windows (up to `windows`), or of a template
// file (one, as window 0); throws InputError when none is made.
std::vector<WindowExtraction> windowTemplatesFromPath(const std::string& path, int dpi, int windows, bool quiet);
// The window numbers of a capture's templates.
std::vector<int> windowNumbers(const std::vector<WindowExtraction>& windows);
// The windows of one capture as search probes, appended to probes: they
// share the capture number, so that a subject's fused score counts their
// best once.
void addCaptureProbes(std::vector<zpg::Probe>& probes, const std::vector<WindowExtraction>& windows, int finger,
                      const std::string& label, int capture);

// An image or template offered for enrolment, with its other windows' templates
// up to `windows`; throws InputError when the file cannot be read (a failed
// extraction of the centred window is an impression without a template).
zpg::Impression offeredImpression(const std::string& path, int dpi, bool quiet, int windows = 1);

// Gallery rows a command found damaged: with skip, each is named on stderr
// and the command goes on; without, InputError names them.
void refuseDamaged(const std::string& db, const std::vector<zpg::DamagedRow>& damaged, bool skip);

// The quality score's view of a sensor image: whether a finger was found,
// its quality, centre and extent (the descriptor's work area is not kept).
struct Detection {
    bool found = false;
    zp::ImageDescriptor desc;
};
Detection detectFinger(const std::vector<std::uint8_t>& image);

// Top-left pixel of the 232 x 280 working window that extraction cuts round
// a finger centre (from the quality score) in the 256 x 384 image.
void windowOrigin(std::int32_t centreX, std::int32_t centreY, std::int32_t& x0, std::int32_t& y0);

// Threshold of ZPMatch's security level (other levels act as level 3).
std::int32_t levelThreshold(std::int32_t level);

// Decoded minutiae for display and export, in working-window pixels.
struct PixelMinutia {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t direction = 0;  // degrees from +x towards +y (y down)
    std::int32_t type = 0;       // 1 ending, 2 bifurcation
};
std::vector<PixelMinutia> templateMinutiae(const Template& t);

// A random template of plausible shape: 20 to 50 minutiae inside the
// working window, ordered by row as the extractor writes them (for load
// tests and benchmarks of large galleries).
Template randomTemplate(std::mt19937& rng);

std::string hexBytes(const std::uint8_t* bytes, std::size_t n);

}  // namespace zpcli
