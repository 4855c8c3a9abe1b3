#include "gallery/records.h"

#include <xxhash.h>

#include <array>

#include "core/records.h"
#include "core/rules.h"
#include "match/match_driver.h"
#include "match/template_validity.h"
#include "minutiae/template_format.h"

namespace zpg {
namespace {

// Position names in ISO/IEC 19794 order.
constexpr std::array<const char*, kFingerPositions> kFingerNames = {
    "unknown",   "right-thumb", "right-index", "right-middle", "right-ring", "right-little",
    "left-thumb", "left-index", "left-middle", "left-ring",   "left-little"};

}  // namespace

std::string templateRejection(const Template& t) {
    const std::int32_t width = zp::storedWidth(t.data());
    const std::int32_t height = zp::storedHeight(t.data());
    const auto size = [&] { return std::to_string(width) + " x " + std::to_string(height); };
    switch (zp::storedTemplateVerdict(t.data())) {
        case zp::TemplateVerdict::Usable: return {};
        case zp::TemplateVerdict::NoTemplate: return "no template: format byte 0 is 0";
        case zp::TemplateVerdict::AreaTooLarge:
            return "stored size " + size() + " does not fit the matching workspace";
        case zp::TemplateVerdict::TooManyMinutiae:
            return "minutiae count " + std::to_string(templateCount(t)) + " above the " +
                   std::to_string(zp::maxMinutiaeCount(width, height)) + " a " + size() + " template may hold";
        case zp::TemplateVerdict::YieldAbove100:
            return "candidate yield " + std::to_string(templateYield(t)) + " above 100";
        case zp::TemplateVerdict::QualityAboveLimit:
            return "quality score " + std::to_string(templateQuality(t)) + " above its limit " +
                   std::to_string((height / 4) * (width / 4));
        case zp::TemplateVerdict::ClassCodeNotZero:
            return "class code " + std::to_string(t[zp::kClassCodeOffset]) +
                   " (the extractor writes only 0; such a template matches none of its templates)";
    }
    return "unknown verdict";
}

std::string enrolmentLimitFailure(const Template& best) {
    if (best[zp::kCountOffset] < zp::kEnrolMinMinutiae)
        return "best impression has fewer than " + std::to_string(zp::kEnrolMinMinutiae) + " minutiae";
    if (best[zp::kYieldOffset] < zp::kEnrolMinYield)
        return "best impression's candidate yield is below " + std::to_string(zp::kEnrolMinYield);
    if (best[zp::kQualityOffset] < zp::kEnrolMinQuality)
        return "best impression's quality is below " + std::to_string(zp::kEnrolMinQuality);
    return {};
}

int enrolmentConfirmScore() { return zp::kEnrolMinScore; }

std::int32_t matchScore(const Template& first, const Template& second, Workspace& workspace) {
    return matchScore(first.data(), second.data(), workspace.data());
}

std::int32_t matchScore(const std::uint8_t* first, const std::uint8_t* second, std::uint8_t* workspace) {
    // The driver only reads the templates.
    const zp::BufferDescriptor a{const_cast<std::uint8_t*>(first), ZP_TEMPLATE_SIZE};
    const zp::BufferDescriptor b{const_cast<std::uint8_t*>(second), ZP_TEMPLATE_SIZE};
    const zp::BufferDescriptor ws{workspace, ZP_WORKSPACE_SIZE};
    return zp::matchTemplates(a, b, ws);
}

const char* fingerName(int position) {
    return position >= 0 && position < kFingerPositions ? kFingerNames[static_cast<std::size_t>(position)]
                                                        : "invalid";
}

int parseFinger(const std::string& text) {
    for (int i = 0; i < kFingerPositions; ++i) {
        if (text == kFingerNames[static_cast<std::size_t>(i)] || text == std::to_string(i)) return i;
    }
    std::string names;
    for (const char* n : kFingerNames) names += std::string(names.empty() ? "" : ", ") + n;
    throw Error{"'" + text + "' is not a finger position (" + names + ", or 0 to 10)"};
}

std::string rowName(const std::string& subject, int finger, int slot) {
    return subject + "/" + fingerName(finger) + "/" + std::to_string(slot);
}

// The template is hashed unseeded (a seed costs a secret derivation on inputs
// of its size), then seeds the subject's hash together with the finger.
std::int64_t rowChecksum(std::string_view subject, int finger, const Template& t) {
    const XXH64_hash_t bytes = XXH3_64bits(t.data(), t.size());
    return static_cast<std::int64_t>(
        XXH3_64bits_withSeed(subject.data(), subject.size(), bytes ^ static_cast<XXH64_hash_t>(finger)));
}

}  // namespace zpg
