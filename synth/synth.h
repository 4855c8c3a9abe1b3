// Synthetic fingerprints with known minutiae, for the tool, tests and
// benchmarks: no real person's finger is needed anywhere.
//
// A master fingerprint is the whole ridge pattern of one made-up finger,
// grown from a seed; an impression is one sensor image of that finger
// (256 x 384, 8 bits, 500 dpi, dark ridges on a bright background), moved,
// distorted, pressed and degraded the way a real capture is. Both carry
// their ground-truth minutiae. The same seed gives the same bytes on every
// build and machine.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace zp::synth {

enum class PatternClass : std::uint8_t { Arch, TentedArch, LeftLoop, RightLoop, Whorl };

// "arch", "tented arch", "left loop", "right loop", "whorl".
std::string_view patternClassName(PatternClass patternClass);

enum class MinutiaType : std::uint8_t { Ending = 1, Bifurcation = 2 };

// Position in pixels (x to the right, y down the image); direction in degrees
// 0 <= d < 360 from +x towards +y. An ending points from its end into its
// ridge; a bifurcation points from its lone branch across the fork towards the
// two branches that run side by side.
struct Minutia {
    double x = 0.0;
    double y = 0.0;
    double direction = 0.0;
    MinutiaType type = MinutiaType::Ending;
};

enum class SingularKind : std::uint8_t { Core, Delta };

struct SingularPoint {
    double x = 0.0;
    double y = 0.0;
    SingularKind kind = SingularKind::Core;
};

inline constexpr int kMasterWidth = 320;
inline constexpr int kMasterHeight = 448;
inline constexpr int kImpressionWidth = 256;
inline constexpr int kImpressionHeight = 384;
inline constexpr int kDpi = 500;

// The whole ridge pattern of one finger on a kMasterWidth x kMasterHeight
// canvas, row by row. Outside the finger every map is 0.
struct MasterFingerprint {
    std::uint64_t seed = 0;
    PatternClass patternClass = PatternClass::Arch;
    int width = kMasterWidth;
    int height = kMasterHeight;
    std::vector<SingularPoint> singularPoints;  // cores and deltas of the orientation model
    std::vector<std::uint8_t> silhouette;       // 1 = finger
    std::vector<float> orientation;             // ridge direction, radians in [0, pi)
    std::vector<float> period;                  // ridge period in pixels, about 8 to 11
    std::vector<float> ridge;                   // smooth ridge field in [-1, 1]; > 0 on a ridge
    std::vector<std::uint8_t> binary;           // 1 = ridge pixel (ridge > 0 inside the finger)
    std::vector<std::uint8_t> skeleton;         // 1 = pixel of the thinned binary master
    std::vector<Minutia> minutiae;              // ground truth, on skeleton pixels
};

// The pattern class drawn for a seed, with the frequencies of real fingers
// (arches rare, loops and whorls common).
PatternClass patternClassForSeed(std::uint64_t seed);

MasterFingerprint makeMaster(std::uint64_t seed);
MasterFingerprint makeMaster(std::uint64_t seed, PatternClass patternClass);

// Grey picture of a master: dark ridges on white, white outside the finger.
std::vector<std::uint8_t> renderMaster(const MasterFingerprint& master);

// How one capture differs from the master. Drawn from a seed by
// impressionParameters; every field may also be set by hand.
struct ImpressionParameters {
    double rotationDegrees = 0.0;        // finger rotation, clockwise on screen
    double contactX = 0.0, contactY = 0.0;  // contact centre on the master
    double centreX = 128.0, centreY = 192.0;  // where the contact centre lands in the image
    double distortionDegrees = 0.0;      // extra rotation far from the contact centre
    double distortionX = 0.0, distortionY = 0.0;  // extra shift far from the contact centre (pixels)
    double contactRadiusX = 110.0;       // half axes of the contact ellipse in the image
    double contactRadiusY = 170.0;
    double pressure = 0.0;               // -1 light (thin ridges) .. +1 heavy (thick ridges)
    double noise = 4.0;                  // standard deviation of pixel noise, grey levels
    int blurPasses = 1;                  // 3 x 3 binomial blurs
    double background = 235.0;           // grey level of the background and valleys
    double ridgeLevel = 60.0;            // grey level of a fully pressed ridge
    std::uint64_t textureSeed = 0;       // contact edge, contrast patches, noise, creases, blobs
    // Further degradations of real captures; their defaults leave none.
    double moisture = 0.0;               // -1 dry (thin, broken ridges) .. +1 wet (merged ridges, dark blobs)
    double illumination = 0.0;           // swing of an uneven background, grey levels either way
    double contrastPatches = 0.22;       // share of the contrast lost in the faintest patches, 0 .. 1
    int creases = 0;                     // creases and scratches: bright lines across the ridges
    // The capture's size: the sensor's by default; a larger canvas is a
    // larger sensor (see onCanvas).
    int canvasWidth = kImpressionWidth;
    int canvasHeight = kImpressionHeight;
};

// The same capture on a larger sensor of width x height: the contact centre
// lands as far from the canvas's centre as from the sensor's, and the
// contact area grows with the canvas, so that more of the finger shows.
ImpressionParameters onCanvas(ImpressionParameters parameters, int width, int height);

ImpressionParameters impressionParameters(const MasterFingerprint& master, std::uint64_t seed);

struct Impression {
    int width = kImpressionWidth;  // the parameters' canvas
    int height = kImpressionHeight;
    ImpressionParameters parameters;
    std::vector<std::uint8_t> pixels;            // width x height, row by row
    std::vector<std::uint8_t> contact;           // 1 = finger touches the sensor here
    std::vector<Minutia> minutiae;               // master minutiae inside the contact area, except those
                                                 // under a crease or a wet blob, which the capture wipes out
    std::vector<SingularPoint> singularPoints;   // those that land inside the image
};

Impression makeImpression(const MasterFingerprint& master, std::uint64_t seed);
Impression makeImpression(const MasterFingerprint& master, const ImpressionParameters& parameters);

// Where a master point lands in the impression (the forward transformation,
// elastic distortion included).
std::array<double, 2> masterToImpression(const ImpressionParameters& parameters, double x, double y);
// Where an impression pixel comes from on the master (the inverse).
std::array<double, 2> impressionToMaster(const ImpressionParameters& parameters, double u, double v);
// A master minutia carried into the impression: position and direction.
Minutia mapMinutia(const ImpressionParameters& parameters, const Minutia& minutia);

// Seeds of finger `finger` of a set and of its impression `impression`; both
// independent of how many fingers or impressions are made.
std::uint64_t fingerSeed(std::uint64_t setSeed, int finger);
std::uint64_t impressionSeed(std::uint64_t fingerSeed, int impression);

// 64-bit FNV-1a of a byte buffer, for golden-value tests of the output.
std::uint64_t hashBytes(const std::vector<std::uint8_t>& bytes);

}  // namespace zp::synth
