#include <array>

#include "core/records.h"
#include "api/zpapi.h"
#include "image/quality_score.h"

extern "C" int32_t ZPFingerDetect(const uint8_t* image, int32_t threshold) {
    std::array<std::uint8_t, zp::kWorkAreaSize> workArea{};
    // The quality score only reads the image.
    zp::ImageDescriptor desc = zp::sensorDescriptor(const_cast<std::uint8_t*>(image), workArea.data());
    return zp::fingerTest(desc, threshold);
}
