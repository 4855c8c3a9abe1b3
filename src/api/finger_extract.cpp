#include "api/zpapi.h"

// Extraction lands with the minutiae stages; until then no template is made.
extern "C" int32_t ZPFingerExtract(uint8_t* /*image*/, uint8_t* templ, int32_t /*threshold*/,
                                   int32_t /*min_yield*/) {
    for (int i = 0; i < ZP_TEMPLATE_SIZE; ++i) templ[i] = 0;
    return ZP_EXTRACT_NO_TEMPLATE;
}
