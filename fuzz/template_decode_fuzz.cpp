// libFuzzer entry: template decoding on arbitrary template bytes.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return zpfuzz::decodeTemplateInput(data, size);
}
