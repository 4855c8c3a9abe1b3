#include "golden.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <vector>

#include "core/records.h"
#include "api/zpapi.h"
#include "hardening_support.h"
#include "match/match_driver.h"

namespace zphard {
namespace {

// Quality a finger must reach for the detection line of each image.
constexpr std::int32_t kDetectThreshold = 40;

void appendf(std::string& out, const char* format, auto... args) {
    char line[256];
    std::snprintf(line, sizeof(line), format, args...);
    out += line;
}

}  // namespace

std::string goldenReport() {
    std::string out;
    appendf(out, "# %d synthetic fingers x %d impressions, set seed %" PRIu64 "\n", kGoldenFingers,
            kGoldenImpressions, kSetSeed);
    char version[ZP_VERSION_SIZE];
    ZPVersion(version);
    appendf(out, "version %s\n", version);

    const std::vector<Bytes> images = syntheticImages(kGoldenFingers, kGoldenImpressions);
    std::vector<Bytes> templates;
    for (std::size_t k = 0; k < images.size(); ++k) {
        const int finger = static_cast<int>(k) / kGoldenImpressions;
        const int impression = static_cast<int>(k) % kGoldenImpressions;
        const Bytes& image = images[k];
        appendf(out, "image %d %d fnv %016" PRIx64 " detect %d\n", finger, impression,
                fnv1a64(image.data(), image.size()), ZPFingerDetect(image.data(), kDetectThreshold));
        const Extraction e = extract(image);
        appendf(out, "extract %d %d result %d template %s image %016" PRIx64 " count %d\n", finger,
                impression, e.result, sha256Hex(e.templ).c_str(),
                fnv1a64(e.image.data(), e.image.size()), e.templ[7]);
        templates.push_back(e.templ);
    }

    // Scores of the match driver for every ordered pair, self included.
    Bytes workspace(ZP_WORKSPACE_SIZE);
    const auto buffer = [](Bytes& b, std::int32_t length) { return zp::BufferDescriptor{b.data(), length}; };
    for (std::size_t a = 0; a < templates.size(); ++a) {
        appendf(out, "match %zu:", a);
        for (std::size_t b = 0; b < templates.size(); ++b) {
            std::memset(workspace.data(), 0, workspace.size());
            const std::int32_t score =
                zp::matchTemplates(buffer(templates[a], ZP_TEMPLATE_SIZE),
                                   buffer(templates[b], ZP_TEMPLATE_SIZE),
                                   buffer(workspace, ZP_WORKSPACE_SIZE));
            appendf(out, " %d", score);
        }
        out += "\n";
    }

    // Quick match of every probe against each template loaded in turn.
    for (std::size_t a = 0; a < templates.size(); ++a) {
        std::memset(workspace.data(), 0, workspace.size());
        appendf(out, "quick %zu: load %d:", a, ZPLoadFeature(templates[a].data(), workspace.data()));
        for (std::size_t b = 0; b < templates.size(); ++b) {
            appendf(out, " %d", ZPQuickMatch(templates[b].data(), workspace.data()));
        }
        out += "\n";
    }

    // Enrolment of each finger from its impressions.
    for (int f = 0; f < kGoldenFingers; ++f) {
        Bytes group;
        for (int i = 0; i < kGoldenImpressions; ++i) {
            const Bytes& t = templates[static_cast<std::size_t>(f * kGoldenImpressions + i)];
            group.insert(group.end(), t.begin(), t.end());
        }
        Bytes best(ZP_TEMPLATE_SIZE);
        std::memset(workspace.data(), 0, workspace.size());
        const std::int32_t merged =
            ZPFingerMerge(group.data(), kGoldenImpressions, best.data(), workspace.data());
        appendf(out, "merge %d result %d best %s order %s\n", f, merged, sha256Hex(best).c_str(),
                sha256Hex(group).c_str());
    }
    return out;
}

}  // namespace zphard
