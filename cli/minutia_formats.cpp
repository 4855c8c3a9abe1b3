#include "minutia_formats.h"

#include "core/rules.h"

namespace zpcli {
namespace {

constexpr std::int32_t kPixelsPerCm = 197;  // 500 dpi

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put16(out, v >> 16);
    put16(out, v & 0xFFFF);
}

void set32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
    out[at] = static_cast<std::uint8_t>(v >> 24);
    out[at + 1] = static_cast<std::uint8_t>(v >> 16);
    out[at + 2] = static_cast<std::uint8_t>(v >> 8);
    out[at + 3] = static_cast<std::uint8_t>(v);
}

// Capture equipment, image size and resolution, view count: the same in
// both record formats.
void putImageBlock(std::vector<std::uint8_t>& out) {
    put16(out, 0);  // capture equipment: unreported
    put16(out, zp::kWindowWidth);
    put16(out, zp::kWindowHeight);
    put16(out, kPixelsPerCm);
    put16(out, kPixelsPerCm);
    out.push_back(1);  // one finger view
    out.push_back(0);  // reserved
}

// Finger view header and minutiae shared by both record formats; angle
// gives the format's quantised angle.
template <typename Angle>
void putFingerView(std::vector<std::uint8_t>& out, const Template& t, Angle angle) {
    const std::vector<PixelMinutia> minutiae = templateMinutiae(t);
    out.push_back(0);                                              // finger position: unknown
    out.push_back(0);                                              // view 0, live-scan plain impression
    out.push_back(static_cast<std::uint8_t>(std::min(templateQuality(t), 100)));  // finger quality
    out.push_back(static_cast<std::uint8_t>(minutiae.size()));
    for (const PixelMinutia& m : minutiae) {
        const std::uint32_t type = m.type == 2 ? 2U : m.type == 1 ? 1U : 0U;
        put16(out, (type << 14) | (static_cast<std::uint32_t>(m.x) & 0x3FFF));
        put16(out, static_cast<std::uint32_t>(m.y) & 0x3FFF);
        out.push_back(static_cast<std::uint8_t>(angle(counterClockwise(m.direction))));
        out.push_back(0);  // minutia quality not reported
    }
    put16(out, 0);  // no extended data
}

}  // namespace

std::int32_t counterClockwise(std::int32_t direction) {
    const std::int32_t d = ((direction % 360) + 360) % 360;
    return (360 - d) % 360;
}

std::vector<std::uint8_t> toIso19794_2(const Template& t) {
    std::vector<std::uint8_t> out = {'F', 'M', 'R', 0, ' ', '2', '0', 0};
    put32(out, 0);        // record length, set below
    putImageBlock(out);
    putFingerView(out, t, [](std::int32_t a) { return ((a * 256 + 180) / 360) % 256; });
    set32(out, 8, static_cast<std::uint32_t>(out.size()));
    return out;
}

std::vector<std::uint8_t> toAnsi378(const Template& t) {
    std::vector<std::uint8_t> out = {'F', 'M', 'R', 0, ' ', '2', '0', 0};
    put16(out, 0);        // record length (2-byte form), set below
    put32(out, 0);        // CBEFF product identifier: none
    putImageBlock(out);
    putFingerView(out, t, [](std::int32_t a) { return ((a + 1) / 2) % 180; });
    out[8] = static_cast<std::uint8_t>(out.size() >> 8);
    out[9] = static_cast<std::uint8_t>(out.size());
    return out;
}

std::string toXyt(const Template& t) {
    std::string s;
    for (const PixelMinutia& m : templateMinutiae(t)) {
        s += std::to_string(m.x) + " " + std::to_string(m.y) + " " +
             std::to_string(counterClockwise(m.direction)) + " 0\n";
    }
    return s;
}

Json templateJson(const Template& t) {
    Json j;
    j["format"] = t[0];
    j["minutiae"] = templateCount(t);
    j["yield"] = templateYield(t);
    j["quality"] = templateQuality(t);
    j["stored_width"] = t[11] | (t[12] << 8);
    j["stored_height"] = t[13] | (t[14] << 8);
    j["class_code"] = t[15];
    Json list = Json::array();
    for (const PixelMinutia& m : templateMinutiae(t)) {
        list.push_back({{"x", m.x}, {"y", m.y}, {"direction", m.direction},
                        {"type", m.type == 1 ? "ending" : m.type == 2 ? "bifurcation" : "other"}});
    }
    j["points"] = list;
    return j;
}

}  // namespace zpcli
