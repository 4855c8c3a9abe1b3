#include "minutiae/template_format.h"

#include "math/integer_math.h"

namespace zp {
namespace {

// Header constants that follow the marker (bytes 1-4) and byte 6.
constexpr std::uint8_t kHeaderByte1 = 0;
constexpr std::uint8_t kHeaderByte2 = 1;
constexpr std::uint8_t kHeaderByte3 = 0;
constexpr std::uint8_t kHeaderByte4 = 0;
constexpr std::uint8_t kHeaderByte6 = 1;

void writeLittle16(std::uint8_t* bytes, std::int32_t value) {
    bytes[0] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}

}  // namespace

std::int32_t maxMinutiaeCount(std::int32_t width, std::int32_t height) {
    // Signed 32-bit product with wrap-around, as the stored format defines it.
    const auto product = static_cast<std::int32_t>(static_cast<std::uint32_t>(width) *
                                                   static_cast<std::uint32_t>(height));
    const std::int32_t bound = isqrt(product) / 2;
    return bound < kMaxMinutiae ? bound : kMaxMinutiae;
}

void writeTemplateHeader(std::uint8_t* templ, const TemplateHeader& header) {
    templ[kMarkerOffset] = kFormatMarker;
    templ[1] = kHeaderByte1;
    templ[2] = kHeaderByte2;
    templ[3] = kHeaderByte3;
    templ[4] = kHeaderByte4;
    templ[6] = kHeaderByte6;
    templ[kCountOffset] = static_cast<std::uint8_t>(header.count & 0xFF);
    templ[kYieldOffset] = static_cast<std::uint8_t>(header.yield & 0xFF);
    writeLittle16(templ + kQualityOffset, header.quality);
    writeLittle16(templ + kWidthOffset, header.width);
    writeLittle16(templ + kHeightOffset, header.height);
    templ[kClassCodeOffset] = static_cast<std::uint8_t>(header.classCode & 0xFF);
}

std::uint32_t encodeMinutiaEntry(const TemplateMinutia& minutia) {
    const auto field = [](std::int32_t v) { return static_cast<std::uint32_t>(v) & kEntryFieldMask; };
    return field(minutia.x) | (field(minutia.y) << kEntryYShift) |
           (field(minutia.direction) << kEntryDirectionShift) |
           ((static_cast<std::uint32_t>(minutia.type) & kEntryTypeWriteMask) << kEntryTypeShift);
}

void writeTemplateMinutia(std::uint8_t* templ, std::int32_t index,
                          const TemplateMinutia& minutia) {
    const std::uint32_t word = encodeMinutiaEntry(minutia);
    std::uint8_t* entry = templ + kEntriesOffset + kEntryBytes * index;
    for (std::int32_t b = 0; b < kEntryBytes; ++b) {
        entry[b] = static_cast<std::uint8_t>((word >> (8 * b)) & 0xFF);
    }
}

void writeTemplate(std::uint8_t* templ, const TemplateHeader& header,
                   const TemplateMinutia* minutiae, std::int32_t count) {
    TemplateHeader h = header;
    h.count = count;
    writeTemplateHeader(templ, h);
    for (std::int32_t i = 0; i < count; ++i) writeTemplateMinutia(templ, i, minutiae[i]);
}

std::uint32_t readLittle16(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8);
}

std::uint32_t readEntryWord(const std::uint8_t* templ, std::int32_t index) {
    const std::uint8_t* entry = templ + kEntriesOffset + kEntryBytes * index;
    return static_cast<std::uint32_t>(entry[0]) | (static_cast<std::uint32_t>(entry[1]) << 8) |
           (static_cast<std::uint32_t>(entry[2]) << 16) |
           (static_cast<std::uint32_t>(entry[3]) << 24);
}

TemplateMinutia decodeMinutiaEntry(std::uint32_t word) {
    TemplateMinutia m;
    m.x = static_cast<std::int32_t>(word & kEntryFieldMask);
    m.y = static_cast<std::int32_t>((word >> kEntryYShift) & kEntryFieldMask);
    m.direction = static_cast<std::int32_t>((word >> kEntryDirectionShift) & kEntryFieldMask);
    m.type = static_cast<std::int32_t>(word >> kEntryTypeShift);
    return m;
}

std::int32_t storedWidth(const std::uint8_t* templ) {
    return static_cast<std::int32_t>(readLittle16(templ + kWidthOffset));
}

std::int32_t storedHeight(const std::uint8_t* templ) {
    return static_cast<std::int32_t>(readLittle16(templ + kHeightOffset));
}

}  // namespace zp
