#include "cli_common.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <iterator>

#include "core/rules.h"
#include "image/quality_score.h"
#include "image_io.h"
#include "minutiae/template_format.h"

namespace zpcli {

std::vector<std::string> templateOddities(const Template& t) {
    std::vector<std::string> odd;
    const std::uint8_t constants[7] = {2, 0, 1, 0, 0, 0, 1};
    for (int i = 0; i < 7; ++i) {
        if (i == 0 && t[0] != 2) odd.push_back("format byte 0 is " + std::to_string(t[0]) + ", not 2");
        else if (i > 0 && t[i] != constants[i])
            odd.push_back("header byte " + std::to_string(i) + " is " + std::to_string(t[i]) + ", not " +
                          std::to_string(constants[i]));
    }
    for (int i = 16; i < zp::kEntriesOffset; ++i) {
        if (t[i] != 0) {
            odd.push_back("reserved byte " + std::to_string(i) + " is not zero");
            break;
        }
    }
    if (zp::storedWidth(t.data()) != zp::kWindowWidth / 2 || zp::storedHeight(t.data()) != zp::kWindowHeight / 2)
        odd.push_back("stored size " + std::to_string(zp::storedWidth(t.data())) + " x " +
                      std::to_string(zp::storedHeight(t.data())) + " differs from 116 x 140");
    if (templateQuality(t) > 100) odd.push_back("quality score above 100");
    const std::int32_t n = std::min<std::int32_t>(templateCount(t), zp::kMaxMinutiae);
    for (std::int32_t i = 0; i < n; ++i) {
        const std::uint32_t word = zp::readEntryWord(t.data(), i);
        const zp::TemplateMinutia m = zp::decodeMinutiaEntry(word);
        if (m.x < 4 || m.x > 111 || m.y < 4 || m.y > 135)
            odd.push_back("minutia " + std::to_string(i) + " lies outside the working window");
        if (m.direction >= 360) odd.push_back("minutia " + std::to_string(i) + " has direction " + std::to_string(m.direction));
        if (m.type != 1 && m.type != 2) odd.push_back("minutia " + std::to_string(i) + " has type " + std::to_string(m.type));
    }
    for (std::int32_t i = n; i < zp::kMaxMinutiae; ++i) {
        if (zp::readEntryWord(t.data(), i) != 0) {
            odd.push_back("unused minutia slot " + std::to_string(i) + " is not zero");
            break;
        }
    }
    return odd;
}

Template readTemplateFile(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) throw InputError{path + ": no such file"};
    std::ifstream in(path, std::ios::binary);
    if (!in) throw InputError{path + ": cannot be read"};
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() != ZP_TEMPLATE_SIZE)
        throw InputError{path + ": a template has " + std::to_string(ZP_TEMPLATE_SIZE) + " bytes, this file " +
                         std::to_string(bytes.size()) + (bytes.size() < ZP_TEMPLATE_SIZE ? " (truncated)" : "")};
    Template t{};
    for (std::size_t i = 0; i < t.size(); ++i) t[i] = static_cast<std::uint8_t>(bytes[i]);
    return t;
}

void writeTemplateFile(const std::string& path, const Template& t) {
    writeFileAtomically(path, t.data(), t.size());
}

bool looksLikeTemplate(const std::string& path) {
    const std::filesystem::path p(path);
    if (p.extension() == ".zpt") return true;
    std::error_code ec;
    return std::filesystem::is_regular_file(p, ec) && std::filesystem::file_size(p, ec) == ZP_TEMPLATE_SIZE;
}

std::vector<std::uint8_t> loadSensorImageOrThrow(const std::string& path, int dpi, bool quiet) {
    std::vector<std::uint8_t> sensor;
    std::string note;
    std::string error;
    if (!loadSensorImage(path, dpi, sensor, note, error)) throw InputError{error};
    if (!note.empty() && !quiet && !zpcli::quiet()) std::fprintf(stderr, "zpapi: %s: %s\n", path.c_str(), note.c_str());
    return sensor;
}

Extraction extract(const std::vector<std::uint8_t>& sensorImage, std::int32_t threshold, std::int32_t minYield) {
    Extraction e;
    e.workImage = sensorImage;
    e.result = ZPFingerExtract(e.workImage.data(), e.templ.data(), threshold, minYield);
    return e;
}

const char* extractResultText(std::int32_t result) {
    switch (result) {
        case ZP_EXTRACT_OK: return "template written";
        case ZP_EXTRACT_NO_FINGER: return "no finger or quality too low";
        case ZP_EXTRACT_NO_TEMPLATE: return "no usable template";
        case ZP_EXTRACT_BUFFER_TOO_SHORT: return "template buffer too short";
        default: return "unknown result";
    }
}

Template templateFromPath(const std::string& path, int dpi, bool quiet) {
    if (looksLikeTemplate(path)) {
        Template t = readTemplateFile(path);
        const std::string why = templateRejection(t);
        if (!why.empty()) throw InputError{path + ": template rejected: " + why};
        return t;
    }
    const Extraction e = extract(loadSensorImageOrThrow(path, dpi, quiet), 0, 0);
    if (e.result != ZP_EXTRACT_OK) throw InputError{path + ": " + extractResultText(e.result)};
    return e.templ;
}

std::vector<std::uint8_t> skeletonPicture(const Extraction& e) {
    std::vector<std::uint8_t> pic(static_cast<std::size_t>(zp::kWindowWidth) * zp::kWindowHeight);
    for (std::size_t i = 0; i < pic.size(); ++i) pic[i] = e.workImage[i] == 0 ? 255 : e.workImage[i] == 1 ? 0 : 128;
    return pic;
}

zpg::Impression offeredImpression(const std::string& path, int dpi, bool quiet, int windows) {
    zpg::Impression im;
    im.label = path;
    if (looksLikeTemplate(path)) {
        im.templ = templateFromPath(path, dpi, quiet);
        return im;
    }
    std::int32_t centred = 0;
    for (const WindowExtraction& w : extractWindows(loadSensorWindowsOrThrow(path, dpi, windows, quiet), centred)) {
        if (w.window == 0) im.templ = w.templ;
        else im.windows.push_back({w.window, w.templ});
    }
    if (!im.templ) im.failure = extractResultText(centred);
    return im;
}

std::vector<CaptureWindow> loadSensorWindowsOrThrow(const std::string& path, int dpi, int windows, bool quiet) {
    std::vector<CaptureWindow> out;
    std::string note;
    std::string error;
    if (!loadSensorWindows(path, dpi, windows, out, note, error)) throw InputError{error};
    if (!note.empty() && !quiet && !zpcli::quiet()) std::fprintf(stderr, "zpapi: %s: %s\n", path.c_str(), note.c_str());
    return out;
}

std::vector<WindowExtraction> extractWindows(const std::vector<CaptureWindow>& windows, std::int32_t& centredResult,
                                             bool rects) {
    std::vector<WindowExtraction> out;
    std::vector<Template> earlier;
    centredResult = ZP_EXTRACT_NO_FINGER;
    for (const CaptureWindow& w : windows) {
        const Extraction e = extract(w.sensor, 0, 0);
        if (w.index == 0) centredResult = e.result;
        if (e.result != ZP_EXTRACT_OK || zpg::repeatsWindow(e.templ, earlier)) continue;
        earlier.push_back(e.templ);
        out.push_back({w.index, rects ? workingWindow(w) : Rect{}, e.templ});
    }
    return out;
}

std::vector<WindowExtraction> windowTemplatesFromPath(const std::string& path, int dpi, int windows, bool quiet) {
    if (looksLikeTemplate(path)) return {{0, {}, templateFromPath(path, dpi, quiet)}};
    std::int32_t centred = 0;
    std::vector<WindowExtraction> out = extractWindows(loadSensorWindowsOrThrow(path, dpi, windows, quiet), centred);
    if (out.empty()) throw InputError{path + ": " + extractResultText(centred)};
    return out;
}

std::vector<int> windowNumbers(const std::vector<WindowExtraction>& windows) {
    std::vector<int> out;
    for (const WindowExtraction& w : windows) out.push_back(w.window);
    return out;
}

void addCaptureProbes(std::vector<zpg::Probe>& probes, const std::vector<WindowExtraction>& windows, int finger,
                      const std::string& label, int capture) {
    for (const WindowExtraction& w : windows) probes.push_back({w.templ, finger, label, capture, w.window});
}

void refuseDamaged(const std::string& db, const std::vector<zpg::DamagedRow>& damaged, bool skip) {
    if (damaged.empty()) return;
    if (skip) {
        for (const zpg::DamagedRow& d : damaged)
            std::fprintf(stderr, "zpapi: %s: %s is damaged (%s); skipped\n", db.c_str(),
                         zpg::rowName(d.subject, d.finger, d.slot).c_str(), d.reason.c_str());
        return;
    }
    std::string names;
    for (std::size_t i = 0; i < damaged.size() && i < 5; ++i)
        names += (i ? ", " : "") + zpg::rowName(damaged[i].subject, damaged[i].finger, damaged[i].slot) + " (" +
                 damaged[i].reason + ")";
    if (damaged.size() > 5) names += ", ...";
    throw InputError{db + ": " + std::to_string(damaged.size()) + " damaged rows: " + names +
                     "; zpapi check lists them, --skip-damaged searches the others"};
}

Detection detectFinger(const std::vector<std::uint8_t>& image) {
    std::array<std::uint8_t, zp::kWorkAreaSize> workArea{};
    Detection d;
    d.desc = zp::sensorDescriptor(const_cast<std::uint8_t*>(image.data()), workArea.data());  // only read
    d.found = zp::qualityScore(d.desc) == 1;
    d.desc.workArea = nullptr;
    d.desc.image = nullptr;
    return d;
}

void windowOrigin(std::int32_t centreX, std::int32_t centreY, std::int32_t& x0, std::int32_t& y0) {
    const zp::WindowOrigin origin = zp::sensorWindowOrigin(centreX, centreY);
    x0 = origin.x;
    y0 = origin.y;
}

std::int32_t levelThreshold(std::int32_t level) { return zp::levelThreshold(level); }

std::vector<PixelMinutia> templateMinutiae(const Template& t) {
    std::vector<PixelMinutia> out;
    const std::int32_t n = std::min<std::int32_t>(templateCount(t), zp::kMaxMinutiae);
    for (std::int32_t i = 0; i < n; ++i) {
        const zp::TemplateMinutia m = zp::decodeMinutiaEntry(zp::readEntryWord(t.data(), i));
        out.push_back({m.x * 2, m.y * 2, m.direction, m.type});
    }
    return out;
}

Template randomTemplate(std::mt19937& rng) {
    std::uniform_int_distribution<int> count(20, 50);
    std::uniform_int_distribution<int> xs(4, 111);
    std::uniform_int_distribution<int> ys(4, 135);
    std::uniform_int_distribution<int> dirs(0, 359);
    std::uniform_int_distribution<int> types(1, 2);
    std::uniform_int_distribution<int> quality(40, 89);
    std::array<zp::TemplateMinutia, zp::kMaxMinutiae> minutiae{};
    const int n = count(rng);
    for (int i = 0; i < n; ++i) minutiae[i] = {xs(rng), ys(rng), dirs(rng), types(rng)};
    std::sort(minutiae.begin(), minutiae.begin() + n,
              [](const auto& a, const auto& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
    zp::TemplateHeader header;
    header.yield = 40 + n;
    header.quality = quality(rng);
    header.width = zp::kWindowWidth / 2;
    header.height = zp::kWindowHeight / 2;
    Template t{};
    zp::writeTemplate(t.data(), header, minutiae.data(), n);
    return t;
}

std::string hexBytes(const std::uint8_t* bytes, std::size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s += digits[bytes[i] >> 4];
        s += digits[bytes[i] & 15];
    }
    return s;
}

}  // namespace zpcli
