// libFuzzer entry: ZPMatch on arbitrary template bytes and workspace contents.
#include "fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return zpfuzz::matchInput(data, size);
}
