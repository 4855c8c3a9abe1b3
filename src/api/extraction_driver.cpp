#include "api/extraction_driver.h"

#include <array>

#include "enhance/binarisation.h"
#include "enhance/binary_smoothing.h"
#include "enhance/directional_enhancement.h"
#include "enhance/orientation_field.h"
#include "enhance/skeleton_cleanup.h"
#include "enhance/thinning.h"
#include "image/block_crop.h"
#include "image/inversion.h"
#include "image/normalisation.h"
#include "image/quality_score.h"
#include "image/smoothing.h"
#include "image/window_crop.h"
#include "math/integer_math.h"
#include "minutiae/minutiae_extraction.h"

namespace zp {
namespace {

// Block size of the crop to whole blocks at 500 dpi.
constexpr std::int32_t kBlockSize = 8;
// Border width handed to the thinning.
constexpr std::int32_t kThinningBorder = 8;
// Most minutiae a template holds.
constexpr std::int32_t kTemplateMinutiae = 50;

std::int32_t maxMinutiae(std::int32_t width, std::int32_t height) {
    const std::int32_t bound = isqrt((height >> 1) * (width >> 1)) >> 1;
    return bound < kTemplateMinutiae ? bound : kTemplateMinutiae;
}

}  // namespace

std::int32_t extractionDriver(ImageDescriptor& image, const BufferDescriptor& templ,
                              std::int32_t threshold, std::int32_t minimumYield) {
    std::array<std::uint8_t, kWorkAreaSize> workArea{};
    image.workArea = workArea.data();
    image.classCode = 0;
    // The fixed 232 x 280 window cannot be cut from a 250-dpi image, so only
    // 500 dpi is served.
    if (image.resolution != kImageResolution) return kExtractNoFinger;

    cropToBlocks(image.image, image.width, image.height, kBlockSize);
    if (fingerTest(image, threshold) == 0) return kExtractNoFinger;
    if (windowCrop(image) == 0) return kExtractNoFinger;

    std::uint8_t* pixels = image.image;
    const std::int32_t width = image.width;
    const std::int32_t height = image.height;
    invertImage(pixels, width, height);

    byteFill(templ.data, 0, templ.length);
    const std::int32_t maxCount = maxMinutiae(width, height);
    if (templ.length < kTemplateSize) return kExtractShortBuffer;

    if (normalise(pixels, width, height, workArea.data()) == 0) return kExtractNoTemplate;
    smoothImage(pixels, width, height, workArea.data());
    orientationField(pixels, width, height, workArea.data());
    directionalEnhancement(pixels, width, height, workArea.data());
    binarise(image.classCode, pixels, width, height, workArea.data());
    binarySmoothing(pixels, width, height, workArea.data());
    thinning(pixels, width, height, kThinningBorder);
    spurRemoval(image.classCode, pixels, width, height);
    loopFilling(pixels, width, height);

    const std::int32_t result = extractMinutiae(image.classCode, pixels, width, height,
                                                workArea.data(), maxCount, image.quality,
                                                templ.data);
    if ((result & 0xFF) == 0) return kExtractNoTemplate;
    if ((result >> 8) < minimumYield) return kExtractNoTemplate;
    return kExtractWritten;
}

}  // namespace zp
