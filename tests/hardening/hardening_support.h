// Inputs and digests shared by the hardening tests, the golden tool and the
// fuzz seed builder: synthetic sensor images from fixed seeds, their
// templates, and hashes that print the same on every machine.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zphard {

using Bytes = std::vector<std::uint8_t>;

// Seed of the fixed set of synthetic fingers every hardening check uses.
inline constexpr std::uint64_t kSetSeed = 20240917;

// Extraction settings of the checks: accept every finger the gate lets
// through, so that the most images reach the template.
inline constexpr std::int32_t kExtractThreshold = 0;
inline constexpr std::int32_t kExtractMinYield = 0;

// Impression `impression` of finger `finger` of the fixed set: 256 x 384.
Bytes syntheticImage(int finger, int impression);

// fingers x impressions images, finger by finger.
std::vector<Bytes> syntheticImages(int fingers, int impressions);

struct Extraction {
    std::int32_t result = 0;  // ZPFingerExtract's answer
    Bytes templ;              // 256 bytes
    Bytes image;              // the image buffer after the call
};

// Runs ZPFingerExtract on a copy of image with the settings above.
Extraction extract(const Bytes& image);

std::string sha256Hex(const std::uint8_t* data, std::size_t size);
std::string sha256Hex(const Bytes& bytes);
std::uint64_t fnv1a64(const std::uint8_t* data, std::size_t size);

}  // namespace zphard
