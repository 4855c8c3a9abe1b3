#include "api/zpapi.h"

// Comparison lands with the matching stages; until then every comparison
// refuses.
extern "C" int32_t ZPFingerMerge(uint8_t* /*templates*/, int32_t /*count*/, uint8_t* best,
                                 uint8_t* /*workspace*/) {
    for (int i = 0; i < ZP_TEMPLATE_SIZE; ++i) best[i] = 0;
    return 0;
}

extern "C" int32_t ZPLoadFeature(const uint8_t* /*templ*/, uint8_t* /*workspace*/) { return 0; }

extern "C" int32_t ZPQuickMatch(const uint8_t* /*templ*/, uint8_t* /*workspace*/) { return 0; }

extern "C" int32_t ZPMatch(const uint8_t* /*first*/, const uint8_t* /*second*/,
                           uint8_t* /*workspace*/, int32_t /*level*/) {
    return 0;
}
