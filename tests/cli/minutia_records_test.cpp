// ISO/IEC 19794-2 and ANSI INCITS 378 finger minutiae records, read back
// field by field by a reader written from the record layouts alone.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "minutia_formats.h"
#include "minutiae/template_format.h"

namespace {

struct RecordMinutia {
    int type = 0;  // 1 ending, 2 bifurcation, 0 other
    int x = 0;
    int y = 0;
    int angle = 0;  // in the format's units, counter-clockwise
    int quality = 0;
};

struct Record {
    std::string magic;
    std::string version;
    std::uint32_t length = 0;
    std::uint32_t productId = 0;  // ANSI only
    int equipment = 0;
    int width = 0;
    int height = 0;
    int xResolution = 0;
    int yResolution = 0;
    int views = 0;
    int position = 0;
    int viewAndImpression = 0;
    int fingerQuality = 0;
    std::vector<RecordMinutia> minutiae;
    int extendedLength = -1;
    std::size_t end = 0;  // bytes read
};

// Big-endian reader of the common layout; ANSI has a 2-byte length and a
// 4-byte product identifier where ISO has a 4-byte length.
Record readRecord(const std::vector<std::uint8_t>& b, bool ansi) {
    std::size_t at = 0;
    const auto u8 = [&] { return b.at(at++); };
    const auto u16 = [&] {
        const int v = (b.at(at) << 8) | b.at(at + 1);
        at += 2;
        return v;
    };
    const auto u32 = [&] {
        const std::uint32_t hi = static_cast<std::uint32_t>(u16());
        return (hi << 16) | static_cast<std::uint32_t>(u16());
    };
    Record r;
    r.magic.assign(b.begin(), b.begin() + 4);
    r.version.assign(b.begin() + 4, b.begin() + 8);
    at = 8;
    if (ansi) {
        r.length = static_cast<std::uint32_t>(u16());
        r.productId = u32();
    } else {
        r.length = u32();
    }
    r.equipment = u16();
    r.width = u16();
    r.height = u16();
    r.xResolution = u16();
    r.yResolution = u16();
    r.views = u8();
    u8();  // reserved
    r.position = u8();
    r.viewAndImpression = u8();
    r.fingerQuality = u8();
    const int count = u8();
    for (int i = 0; i < count; ++i) {
        RecordMinutia m;
        const int typeAndX = u16();
        m.type = typeAndX >> 14;
        m.x = typeAndX & 0x3FFF;
        m.y = u16() & 0x3FFF;
        m.angle = u8();
        m.quality = u8();
        r.minutiae.push_back(m);
    }
    r.extendedLength = u16();
    r.end = at;
    return r;
}

// A stored minutia and what both records must say of it.
struct Case {
    zp::TemplateMinutia stored;  // x, y in half pixels; direction clockwise (y down)
    int isoAngle;                // units of 360/256 degrees, counter-clockwise, rounded
    int ansiAngle;               // units of 2 degrees, counter-clockwise, rounded
};

// Directions at the turns of both quantisations.
const Case kCases[] = {
    {{4, 4, 0, 1}, 0, 0},         // 0: stays 0
    {{111, 135, 1, 2}, 255, 0},   // 1 -> 359 ccw: 255.3 -> 255; 179.5 -> 180 -> wraps to 0
    {{50, 60, 90, 1}, 192, 135},  // 90 -> 270 ccw
    {{20, 30, 180, 2}, 128, 90},  // 180 -> 180
    {{70, 80, 359, 1}, 1, 1},     // 359 -> 1 ccw: 0.71 -> 1; 0.5 -> 1
    {{33, 44, 271, 2}, 63, 45},   // 271 -> 89 ccw: 63.3 -> 63; 44.5 -> 45
    {{10, 100, 45, 1}, 224, 158}, // 45 -> 315 ccw: 224; 157.5 -> 158
    {{60, 10, 2, 2}, 255, 179},   // 2 -> 358 ccw: 254.6 -> 255; 179
};

zpcli::Template caseTemplate() {
    std::vector<zp::TemplateMinutia> minutiae;
    for (const Case& c : kCases) minutiae.push_back(c.stored);
    zp::TemplateHeader header;
    header.yield = 80;
    header.quality = 62;
    header.width = 116;
    header.height = 140;
    zpcli::Template t{};
    zp::writeTemplate(t.data(), header, minutiae.data(), static_cast<std::int32_t>(minutiae.size()));
    return t;
}

TEST(MinutiaRecords, IsoAndAnsiReadBackFieldByField) {
    const zpcli::Template t = caseTemplate();
    for (const bool ansi : {false, true}) {
        SCOPED_TRACE(ansi ? "ANSI INCITS 378" : "ISO/IEC 19794-2");
        const std::vector<std::uint8_t> bytes = ansi ? zpcli::toAnsi378(t) : zpcli::toIso19794_2(t);
        const Record r = readRecord(bytes, ansi);
        EXPECT_EQ(r.magic, std::string("FMR\0", 4));
        EXPECT_EQ(r.version, std::string(" 20\0", 4));
        EXPECT_EQ(r.length, bytes.size());
        EXPECT_EQ(r.end, bytes.size()) << "nothing after the extended data length";
        EXPECT_EQ(r.productId, 0U);
        EXPECT_EQ(r.equipment, 0);
        EXPECT_EQ(r.width, 232);  // the working window
        EXPECT_EQ(r.height, 280);
        EXPECT_EQ(r.xResolution, 197);  // 500 dpi in pixels per centimetre
        EXPECT_EQ(r.yResolution, 197);
        EXPECT_EQ(r.views, 1);
        EXPECT_EQ(r.position, 0);
        EXPECT_EQ(r.viewAndImpression, 0);
        EXPECT_EQ(r.fingerQuality, 62);
        EXPECT_EQ(r.extendedLength, 0);
        ASSERT_EQ(r.minutiae.size(), std::size(kCases));
        for (std::size_t i = 0; i < r.minutiae.size(); ++i) {
            const Case& c = kCases[i];
            const RecordMinutia& m = r.minutiae[i];
            SCOPED_TRACE("direction " + std::to_string(c.stored.direction));
            EXPECT_EQ(m.x, 2 * c.stored.x);
            EXPECT_EQ(m.y, 2 * c.stored.y);
            EXPECT_EQ(m.type, c.stored.type);  // 01 ending, 10 bifurcation in both formats
            EXPECT_EQ(m.angle, ansi ? c.ansiAngle : c.isoAngle);
            EXPECT_EQ(m.quality, 0);
        }
    }
}

TEST(MinutiaRecords, QuantisedAnglesStayWithinHalfAUnit) {
    // Every whole-degree direction: the record's angle is the nearest unit
    // of the counter-clockwise angle, on the circle.
    for (int d = 0; d < 360; ++d) {
        zp::TemplateHeader header;
        header.width = 116;
        header.height = 140;
        const zp::TemplateMinutia one{50, 50, d, 1};
        zpcli::Template t{};
        zp::writeTemplate(t.data(), header, &one, 1);
        const double ccw = (360 - d) % 360;
        for (const bool ansi : {false, true}) {
            const Record r = readRecord(ansi ? zpcli::toAnsi378(t) : zpcli::toIso19794_2(t), ansi);
            ASSERT_EQ(r.minutiae.size(), 1U);
            const double unit = ansi ? 2.0 : 360.0 / 256.0;
            const int units = ansi ? 180 : 256;
            EXPECT_LT(r.minutiae[0].angle, units);
            double error = r.minutiae[0].angle * unit - ccw;
            if (error > 180) error -= 360;
            if (error < -180) error += 360;
            EXPECT_LE(std::abs(error), unit / 2 + 1e-9) << "direction " << d << (ansi ? " ANSI" : " ISO");
        }
    }
}

}  // namespace
