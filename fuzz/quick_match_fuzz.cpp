// libFuzzer entry: ZPLoadFeature + ZPQuickMatch on arbitrary templates and workspace contents.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return zpfuzz::quickMatchInput(data, size);
}
