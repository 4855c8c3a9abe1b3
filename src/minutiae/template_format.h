// The 256-byte feature template: the one record hosts store for years.
// Header of 56 bytes, then 50 minutia slots of 4 bytes. Every byte written
// here is read back by the matcher; the layout must never change.
#pragma once

#include <cstdint>

namespace zp {

// Byte offsets and sizes of the template.
inline constexpr std::int32_t kTemplateBytes = 256;
inline constexpr std::int32_t kMarkerOffset = 0;          // format marker, 0 = no template
inline constexpr std::int32_t kCountOffset = 7;           // minutiae count N
inline constexpr std::int32_t kYieldOffset = 8;           // candidate yield 0..100
inline constexpr std::int32_t kQualityOffset = 9;         // quality score, 16 bits
inline constexpr std::int32_t kWidthOffset = 11;          // stored width, 16 bits
inline constexpr std::int32_t kHeightOffset = 13;         // stored height, 16 bits
inline constexpr std::int32_t kClassCodeOffset = 15;      // class code
inline constexpr std::int32_t kEntriesOffset = 56;        // first minutia slot
inline constexpr std::int32_t kEntryBytes = 4;
inline constexpr std::int32_t kMaxMinutiae = 50;          // slots in a template
inline constexpr std::uint8_t kFormatMarker = 2;

// Minutia types as stored.
inline constexpr std::int32_t kRidgeEnding = 1;
inline constexpr std::int32_t kBifurcation = 2;

// Entry word: x bits 0-8, y bits 9-17, direction bits 18-26, type 27-31.
inline constexpr std::int32_t kEntryFieldBits = 9;
inline constexpr std::uint32_t kEntryFieldMask = 0x1FF;
inline constexpr std::int32_t kEntryYShift = 9;
inline constexpr std::int32_t kEntryDirectionShift = 18;
inline constexpr std::int32_t kEntryTypeShift = 27;
// Writers store the type in bits 27-28 only; bits 29-31 stay zero.
inline constexpr std::uint32_t kEntryTypeWriteMask = 0x3;

// Header values as the extractor knows them. Each is written as its low
// byte (count, yield, class code) or low 16 bits (quality, sizes).
struct TemplateHeader {
    std::int32_t count = 0;      // minutiae that follow
    std::int32_t yield = 0;      // candidate yield, percent
    std::int32_t quality = 0;    // image quality score
    std::int32_t width = 0;      // working image width / 2
    std::int32_t height = 0;     // working image height / 2
    std::int32_t classCode = 0;
};

// One minutia in template units (two pixels of the working image).
struct TemplateMinutia {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t direction = 0;  // whole degrees 0..359
    std::int32_t type = 0;       // kRidgeEnding or kBifurcation
};

// Most minutiae a template of stored size width x height may hold:
// min(isqrt(width * height) / 2, 50), the product taken as signed 32 bits
// (so it wraps for sizes no extractor writes, and isqrt gives 0).
std::int32_t maxMinutiaeCount(std::int32_t width, std::int32_t height);

// Writing helpers for the extractor. The buffer must hold 256 bytes and be
// zero-filled beforehand: bytes 5 and 16-55 and unused slots are never
// written and must stay zero.
//
// writeTemplateHeader writes bytes 0-4 and 6-15: marker 2, the constants
// 0, 1, 0, 0 and 1, then the header values.
void writeTemplateHeader(std::uint8_t* templ, const TemplateHeader& header);
// Packs one minutia into its 32-bit entry word; each field keeps its low
// 9 bits, the type its low 2 bits.
std::uint32_t encodeMinutiaEntry(const TemplateMinutia& minutia);
// Writes the entry of slot index (0..49) little-endian at 56 + 4 * index.
void writeTemplateMinutia(std::uint8_t* templ, std::int32_t index,
                          const TemplateMinutia& minutia);
// Writes a whole template: header (with header.count replaced by count)
// and minutiae[0..count-1]. count must be 0..50.
void writeTemplate(std::uint8_t* templ, const TemplateHeader& header,
                   const TemplateMinutia* minutiae, std::int32_t count);

// Reading helpers.
std::uint32_t readLittle16(const std::uint8_t* bytes);
std::uint32_t readEntryWord(const std::uint8_t* templ, std::int32_t index);
// Fields of an entry word: x, y, direction; type is bits 27-31 (0..31).
TemplateMinutia decodeMinutiaEntry(std::uint32_t word);
// Stored width and height (bytes 11-12 and 13-14).
std::int32_t storedWidth(const std::uint8_t* templ);
std::int32_t storedHeight(const std::uint8_t* templ);

}  // namespace zp
