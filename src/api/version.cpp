#include <cstring>

#include "core/records.h"
#include "api/zpapi.h"

namespace {
// Hosts have long relied on the text filling exactly 46 bytes.
constexpr char kVersionText[] = "ZPAPI " ZPAPI_VERSION_STRING " fingerprint minutiae library (C++)";
static_assert(sizeof(kVersionText) - 1 == 46, "version text must be 46 characters");
}  // namespace

extern "C" void ZPVersion(char* version) {
    std::memset(version, 0, zp::kVersionSize);
    std::memcpy(version, kVersionText, sizeof(kVersionText) - 1);
}
