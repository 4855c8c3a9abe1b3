// Records by which the exports hand buffers to the inner stages.
#pragma once

#include <cstdint>

namespace zp {

inline constexpr std::int32_t kImageWidth = 256;
inline constexpr std::int32_t kImageHeight = 384;
inline constexpr std::int32_t kImageSize = kImageWidth * kImageHeight;
inline constexpr std::int32_t kImageResolution = 500;
inline constexpr std::int32_t kTemplateSize = 256;
inline constexpr std::int32_t kWorkspaceSize = 0x18000;
inline constexpr std::int32_t kVersionSize = 100;
// One byte per 8 x 8 block of the largest image: 32 x 48.
inline constexpr std::int32_t kWorkAreaSize = 1536;

// An image and what the stages learn about it. Fields 7..13 are written by
// the quality score.
struct ImageDescriptor {
    std::uint8_t* image = nullptr;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t resolution = 0;
    std::int32_t classCode = 0;
    std::uint8_t* workArea = nullptr;  // block map, kWorkAreaSize bytes
    std::int32_t quality = 0;          // 0..100
    std::int32_t centreX = 0;
    std::int32_t centreY = 0;
    std::int32_t top = 0;
    std::int32_t bottom = 0;
    std::int32_t left = 0;
    std::int32_t right = 0;
};

// Descriptor of a host's 256 x 384, 500-dpi sensor image; workArea may be
// set later by the stage's owner.
inline ImageDescriptor sensorDescriptor(std::uint8_t* image, std::uint8_t* workArea = nullptr) {
    ImageDescriptor desc;
    desc.image = image;
    desc.width = kImageWidth;
    desc.height = kImageHeight;
    desc.resolution = kImageResolution;
    desc.workArea = workArea;
    return desc;
}

// A caller's buffer and its length in bytes.
struct BufferDescriptor {
    std::uint8_t* data = nullptr;
    std::int32_t length = 0;
};

}  // namespace zp
