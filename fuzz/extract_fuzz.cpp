// libFuzzer entry: ZPFingerDetect + ZPFingerExtract on arbitrary images.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return zpfuzz::extractInput(data, size);
}
