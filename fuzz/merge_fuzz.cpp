// libFuzzer entry: ZPFingerMerge on arbitrary template bytes and counts.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return zpfuzz::mergeInput(data, size);
}
