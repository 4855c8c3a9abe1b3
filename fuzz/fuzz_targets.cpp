#include "fuzz_targets.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/records.h"
#include "api/zpapi.h"
#include "match/match_driver.h"
#include "match/matching_model.h"
#include "minutiae/template_format.h"

namespace zpfuzz {
namespace {

using Template = std::array<std::uint8_t, ZP_TEMPLATE_SIZE>;

// A broken promise of the library: report and stop, as a crash would.
void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "violated: %s\n", what);
        std::abort();
    }
}

// Bytes [from, from + 256) of the input, zero beyond its end.
Template templateAt(const std::uint8_t* data, std::size_t size, std::size_t from) {
    Template t{};
    for (std::size_t k = 0; k < t.size() && from + k < size; ++k) t[k] = data[from + k];
    return t;
}

// Fills buffer with bytes [from, size) of the input, repeated; zeros when
// there are none.
void tile(std::uint8_t* buffer, std::size_t length, const std::uint8_t* data, std::size_t size,
          std::size_t from) {
    if (from >= size) {
        std::memset(buffer, 0, length);
        return;
    }
    const std::size_t period = size - from;
    for (std::size_t k = 0; k < length; k += period) {
        std::memcpy(buffer + k, data + from, std::min(period, length - k));
    }
}

// Work buffers of the harness (one target runs at a time per process).
std::array<std::uint8_t, ZP_WORKSPACE_SIZE>& workspace() {
    static std::array<std::uint8_t, ZP_WORKSPACE_SIZE> w;
    return w;
}
std::array<std::uint8_t, ZP_IMAGE_SIZE>& image() {
    static std::array<std::uint8_t, ZP_IMAGE_SIZE> i;
    return i;
}

std::int32_t driverScore(const Template& a, const Template& b, std::uint8_t* ws) {
    return zp::matchTemplates({const_cast<std::uint8_t*>(a.data()), ZP_TEMPLATE_SIZE},
                              {const_cast<std::uint8_t*>(b.data()), ZP_TEMPLATE_SIZE},
                              {ws, ZP_WORKSPACE_SIZE});
}

// An accepted template decodes within the model's bounds.
void checkDecoded(const Template& t) {
    zp::MatchingModel model{};
    if (zp::decodeTemplate(t.data(), model) == 0) return;
    require(model.count >= 0 && model.count <= zp::kMaxMinutiae, "decoded count within 0..50");
    require(model.count <= model.maxCount, "decoded count within the stored size's maximum");
}

}  // namespace

int decodeTemplateInput(const std::uint8_t* data, std::size_t size) {
    const Template t = templateAt(data, size, 0);
    zp::MatchingModel model{};
    const std::int32_t accepted = zp::decodeTemplate(t.data(), model);
    require(accepted == 0 || accepted == 1, "decoder answers 0 or 1");
    if (accepted == 1) checkDecoded(t);
    // The decoder never depends on the model's previous content for its answer.
    zp::MatchingModel dirty;
    std::memset(&dirty, 0xA5, sizeof(dirty));
    require(zp::decodeTemplate(t.data(), dirty) == accepted, "decoder answer independent of model");
    return 0;
}

int matchInput(const std::uint8_t* data, std::size_t size) {
    const Template a = templateAt(data, size, 0);
    const Template b = templateAt(data, size, ZP_TEMPLATE_SIZE);
    const std::int32_t level = size > 2 * ZP_TEMPLATE_SIZE
                                   ? static_cast<std::int8_t>(data[2 * ZP_TEMPLATE_SIZE])
                                   : 3;
    std::uint8_t* ws = workspace().data();
    tile(ws, ZP_WORKSPACE_SIZE, data, size, 2 * ZP_TEMPLATE_SIZE + 1);
    const Template a0 = a;
    const Template b0 = b;
    const std::int32_t forward = ZPMatch(a.data(), b.data(), ws, level);
    const std::int32_t backward = ZPMatch(b.data(), a.data(), ws, level);
    require(forward == 0 || forward == 1, "ZPMatch answers 0 or 1");
    require(backward == 0 || backward == 1, "ZPMatch answers 0 or 1");
    require(a == a0 && b == b0, "ZPMatch leaves the templates unchanged");
    const std::int32_t score = driverScore(a, b, ws);
    require(score >= 0 && score <= 100, "match score within 0..100");
    require(driverScore(a, b, ws) == score, "same score twice");
    return 0;
}

int mergeInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::int32_t kMostTemplates = 6;
    // -1 .. 6 templates: counts below 2 must be refused.
    const std::int32_t count = size > 0 ? static_cast<std::int32_t>(data[0] % (kMostTemplates + 2)) - 1 : 2;
    std::array<std::uint8_t, kMostTemplates * ZP_TEMPLATE_SIZE> group{};
    const std::int32_t stored = std::max(count, 0);
    for (std::int32_t k = 0; k < stored; ++k) {
        const Template t = templateAt(data, size, 1 + static_cast<std::size_t>(k) * ZP_TEMPLATE_SIZE);
        std::memcpy(group.data() + k * ZP_TEMPLATE_SIZE, t.data(), t.size());
    }
    const auto before = group;
    Template best;
    best.fill(0xEE);
    std::uint8_t* ws = workspace().data();
    std::memset(ws, 0, ZP_WORKSPACE_SIZE);
    const std::int32_t result = ZPFingerMerge(group.data(), count, best.data(), ws);
    require(result == 0 || result == 1, "ZPFingerMerge answers 0 or 1");
    if (count < 2) {
        require(result == 0, "fewer than two templates are refused");
        return 0;
    }
    require(std::memcmp(best.data(), group.data(), ZP_TEMPLATE_SIZE) == 0, "best is the first after sorting");
    // The templates are only reordered: the same multiset of records.
    std::array<Template, kMostTemplates> x{};
    std::array<Template, kMostTemplates> y{};
    for (std::int32_t k = 0; k < count; ++k) {
        std::memcpy(x[k].data(), before.data() + k * ZP_TEMPLATE_SIZE, ZP_TEMPLATE_SIZE);
        std::memcpy(y[k].data(), group.data() + k * ZP_TEMPLATE_SIZE, ZP_TEMPLATE_SIZE);
    }
    std::sort(x.begin(), x.begin() + count);
    std::sort(y.begin(), y.begin() + count);
    require(x == y, "ZPFingerMerge only reorders the templates");
    for (std::int32_t k = 1; k < count; ++k) {
        require(group[(k - 1) * ZP_TEMPLATE_SIZE + zp::kQualityOffset] >=
                    group[k * ZP_TEMPLATE_SIZE + zp::kQualityOffset],
                "templates sorted by quality byte");
    }
    return 0;
}

int quickMatchInput(const std::uint8_t* data, std::size_t size) {
    // Mode 0: load, then quick matches over a workspace whose other bytes
    // are arbitrary. Mode 1: load, then arbitrary bytes over the loaded
    // model and table. Mode 2: no load at all, an arbitrary workspace.
    const std::uint8_t mode = size > 0 ? data[0] % 3 : 0;
    const Template loaded = templateAt(data, size, 1);
    const Template probe = templateAt(data, size, 1 + ZP_TEMPLATE_SIZE);
    const std::size_t rest = 1 + 2 * ZP_TEMPLATE_SIZE;
    std::uint8_t* ws = workspace().data();
    tile(ws, ZP_WORKSPACE_SIZE, data, size, rest);
    if (mode != 2) {
        std::array<std::uint8_t, ZP_WORKSPACE_SIZE> copy;
        std::memcpy(copy.data(), ws, ZP_WORKSPACE_SIZE);
        const std::int32_t ok = ZPLoadFeature(loaded.data(), ws);
        require(ok == 0 || ok == 1, "ZPLoadFeature answers 0 or 1");
        if (ok == 0) require(std::memcmp(copy.data(), ws, ZP_WORKSPACE_SIZE) == 0, "refused load writes nothing");
    }
    if (mode == 1 && size > rest) {
        // Corrupt the model header and the first rows of the table: the
        // host's workspace may have been damaged between calls.
        const std::size_t n = std::min<std::size_t>(size - rest, 832);
        for (std::size_t k = 0; k < n; ++k) ws[k] ^= data[rest + k];
        for (std::size_t k = 0; k < size - rest && 2 * 116 * 140 + k < ZP_WORKSPACE_SIZE; ++k) {
            ws[2 * 116 * 140 + k] ^= data[rest + k];
        }
    }
    std::array<std::uint8_t, 832> model;
    std::memcpy(model.data(), ws, model.size());
    const std::int32_t first = ZPQuickMatch(probe.data(), ws);
    const std::int32_t second = ZPQuickMatch(probe.data(), ws);
    require(first >= 0 && first <= 100, "quick match score within 0..100");
    require(first == second, "quick match gives the same score twice");
    require(std::memcmp(model.data(), ws, model.size()) == 0, "quick match leaves the loaded model");
    const std::int32_t self = ZPQuickMatch(loaded.data(), ws);
    require(self >= 0 && self <= 100, "quick match score within 0..100");
    return 0;
}

int extractInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    std::uint8_t* img = image().data();
    const std::size_t pixels = std::min<std::size_t>(size, ZP_IMAGE_SIZE);
    tile(img, ZP_IMAGE_SIZE, data, pixels, 0);
    std::int32_t threshold = 0;
    std::int32_t minYield = 0;
    if (size > ZP_IMAGE_SIZE) threshold = static_cast<std::int8_t>(data[ZP_IMAGE_SIZE]);
    if (size > ZP_IMAGE_SIZE + 1) minYield = static_cast<std::int8_t>(data[ZP_IMAGE_SIZE + 1]);

    const std::uint32_t before = [&] {
        std::uint32_t h = 2166136261u;
        for (std::size_t k = 0; k < ZP_IMAGE_SIZE; ++k) h = (h ^ img[k]) * 16777619u;
        return h;
    }();
    const std::int32_t present = ZPFingerDetect(img, threshold);
    require(present == 0 || present == 1, "ZPFingerDetect answers 0 or 1");
    std::uint32_t after = 2166136261u;
    for (std::size_t k = 0; k < ZP_IMAGE_SIZE; ++k) after = (after ^ img[k]) * 16777619u;
    require(before == after, "ZPFingerDetect leaves the image unchanged");

    Template t;
    t.fill(0xCC);
    const std::int32_t result = ZPFingerExtract(img, t.data(), threshold, minYield);
    require(result >= 0 && result <= 3, "ZPFingerExtract answers 0..3");
    if (result != 0) return 0;
    // A written template decodes and compares with itself.
    zp::MatchingModel model{};
    require(zp::decodeTemplate(t.data(), model) == 1, "an extracted template decodes");
    checkDecoded(t);
    std::uint8_t* ws = workspace().data();
    const std::int32_t self = driverScore(t, t, ws);
    require(self >= 0 && self <= 100, "self score within 0..100");
    require(ZPLoadFeature(t.data(), ws) == 1, "an extracted template loads");
    const std::int32_t quick = ZPQuickMatch(t.data(), ws);
    require(quick >= 0 && quick <= 100, "quick self score within 0..100");
    return 0;
}

}  // namespace zpfuzz
