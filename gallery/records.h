// What the identification store keeps and hands out: templates, finger
// positions, stored rows and the errors every front end reports.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gallery/error.h"
#include "zpapi.h"

namespace zpg {

using Template = std::array<std::uint8_t, ZP_TEMPLATE_SIZE>;

// A matching workspace on the heap (the store's, not the library's).
struct Workspace {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(ZP_WORKSPACE_SIZE);
    std::uint8_t* data() { return bytes.data(); }
};

// Header fields of a template.
inline std::int32_t templateCount(const Template& t) { return t[7]; }
inline std::int32_t templateYield(const Template& t) { return t[8]; }
inline std::int32_t templateQuality(const Template& t) { return t[9] | (t[10] << 8); }

// Why a template cannot be stored or compared, or "" when it can: the
// decoder refuses it, its stored size does not fit the workspace, or its
// class code is not 0.
std::string templateRejection(const Template& t);

// Which enrolment limit the best impression misses, or "" when it meets
// them all.
std::string enrolmentLimitFailure(const Template& best);
// Score a confirming impression must reach against the best.
int enrolmentConfirmScore();

// The match driver's score 0..100 of two templates.
std::int32_t matchScore(const Template& first, const Template& second, Workspace& workspace);
// The same over a host's bytes (ZP_TEMPLATE_SIZE each) and work area
// (ZP_WORKSPACE_SIZE bytes).
std::int32_t matchScore(const std::uint8_t* first, const std::uint8_t* second, std::uint8_t* workspace);

// Finger positions as ISO/IEC 19794 numbers them: 0 unknown, 1 right thumb
// ... 5 right little, 6 left thumb ... 10 left little.
inline constexpr int kFingerPositions = 11;
inline constexpr int kUnknownFinger = 0;
// "unknown", "right-thumb", ..., "left-little".
const char* fingerName(int position);
// A name above or its number; throws Error otherwise.
int parseFinger(const std::string& text);

// Impressions kept per finger: by default and at most.
inline constexpr int kDefaultKeep = 3;
inline constexpr int kMaxKeep = 10;
// Templates stored per finger at most: the kept impressions' centred
// windows, then their other windows while room is left (slots 0 to 14).
inline constexpr int kMaxTemplatesPerFinger = 15;

// One stored template. slot 0 is the finger's best impression, the others
// follow by quality.
struct StoredTemplate {
    std::string subject;
    int finger = kUnknownFinger;
    int slot = 0;
    std::string impression;  // where the template came from, as given at enrolment
    // Which window of that capture: 0 the centred window (or the capture's
    // only one), 1, 2, ... the other windows in the order the tool's window
    // grid lists them (windowGrid in cli/image_io.h). Every backend stores
    // this number.
    int window = 0;
    std::string enrolled;    // UTC time of enrolment
    Template templ{};
};

// A row that could not be used, with the reason.
struct DamagedRow {
    std::string subject;
    int finger = kUnknownFinger;
    int slot = 0;
    std::string reason;
};
// Checksum stored with every row: XXH3 (64 bits) over the subject, the
// finger and the template, so that a row moved to another subject or finger
// fails it too. Every backend stores the same value.
std::int64_t rowChecksum(std::string_view subject, int finger, const Template& t);

// "subject/right-index/2": how messages name a row.
std::string rowName(const std::string& subject, int finger, int slot);

}  // namespace zpg
