#include "api/extraction_driver.h"
#include "core/records.h"
#include "api/zpapi.h"
#include "math/integer_math.h"

extern "C" int32_t ZPFingerExtract(uint8_t* image, uint8_t* templ, int32_t threshold,
                                   int32_t min_yield) {
    zp::byteFill(templ, 0, zp::kTemplateSize);
    zp::ImageDescriptor desc = zp::sensorDescriptor(image);
    const zp::BufferDescriptor buffer{templ, zp::kTemplateSize};
    switch (zp::extractionDriver(desc, buffer, threshold, min_yield)) {
        case zp::kExtractWritten:
            return ZP_EXTRACT_OK;
        case zp::kExtractNoFinger:
            return ZP_EXTRACT_NO_FINGER;
        case zp::kExtractShortBuffer:
            return ZP_EXTRACT_BUFFER_TOO_SHORT;
        default:
            return ZP_EXTRACT_NO_TEMPLATE;
    }
}
