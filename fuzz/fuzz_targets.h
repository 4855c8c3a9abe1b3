// Bodies of the fuzz targets. Each takes arbitrary bytes, shapes them into
// the inputs of one part of the library, runs it and checks the answers
// that must hold for every input (abort on a violation, like a crash).
// The libFuzzer entry points and the regression replay test share them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zpfuzz {

// Template decoding: the first 256 bytes (zero-padded) as a template.
int decodeTemplateInput(const std::uint8_t* data, std::size_t size);
// ZPMatch both ways: two templates, a level byte, the rest tiled over the
// workspace.
int matchInput(const std::uint8_t* data, std::size_t size);
// ZPFingerMerge: a count byte, then the templates.
int mergeInput(const std::uint8_t* data, std::size_t size);
// ZPLoadFeature + ZPQuickMatch: a mode byte, a loaded template, a probe, and
// bytes for the workspace.
int quickMatchInput(const std::uint8_t* data, std::size_t size);
// ZPFingerDetect + ZPFingerExtract: the input tiled over a 256 x 384 image;
// two bytes past a whole image set the threshold and minimum yield.
int extractInput(const std::uint8_t* data, std::size_t size);

// The targets by name, as the fuzz binaries and the regression folders are named.
struct Target {
    std::string_view name;
    int (*run)(const std::uint8_t*, std::size_t);
};
inline constexpr Target kTargets[] = {
    {"template_decode", decodeTemplateInput}, {"match", matchInput}, {"merge", mergeInput},
    {"quick_match", quickMatchInput},         {"extract", extractInput},
};

}  // namespace zpfuzz
