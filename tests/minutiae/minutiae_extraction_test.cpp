#include "minutiae/minutiae_extraction.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <vector>

#include "minutiae/minutiae_stages.h"
#include "minutiae/skeleton_canvas.h"
#include "minutiae/template_format.h"

namespace {

using zptest::SkeletonCanvas;

constexpr std::int32_t kW = 232;
constexpr std::int32_t kH = 280;
constexpr std::int32_t kQuality = 57;

struct Extraction {
    std::int32_t result;
    std::array<std::uint8_t, 256> templ;
};

Extraction extract(SkeletonCanvas& img, const std::vector<std::uint8_t>& map,
                   std::int32_t classCode = 0, std::int32_t maxCount = 50) {
    Extraction e{};
    e.templ.fill(0);
    e.result = zp::extractMinutiae(classCode, img.data(), img.width, img.height, map.data(),
                                   maxCount, kQuality, e.templ.data());
    return e;
}

std::vector<std::uint8_t> fullBlockMap() {
    return std::vector<std::uint8_t>(static_cast<std::size_t>((kW / 8) * (kH / 8)), 1);
}

std::vector<zp::TemplateMinutia> minutiaeOf(const Extraction& e) {
    std::vector<zp::TemplateMinutia> out;
    for (std::int32_t i = 0; i < e.templ[7]; ++i) {
        out.push_back(zp::decodeMinutiaEntry(zp::readEntryWord(e.templ.data(), i)));
    }
    return out;
}

TEST(MinutiaeExtraction, EmptySkeletonWritesNothing) {
    SkeletonCanvas img(kW, kH);
    const Extraction e = extract(img, fullBlockMap());
    EXPECT_EQ(e.result, 0);
    for (std::uint8_t b : e.templ) EXPECT_EQ(b, 0);
}

TEST(MinutiaeExtraction, TooShortImageWritesNothing) {
    SkeletonCanvas img(kW, 16);
    img.line(20, 8, 100, 8);
    const std::vector<std::uint8_t> map(static_cast<std::size_t>(kW / 8 * 2), 1);
    const Extraction e = extract(img, map);
    EXPECT_EQ(e.result, 0);
    for (std::uint8_t b : e.templ) EXPECT_EQ(b, 0);
    EXPECT_EQ(img.get(20, 8), 1);  // the image is not scanned either
}

TEST(MinutiaeExtraction, StraightRidgeGivesTwoEndings) {
    SkeletonCanvas img(kW, kH);
    img.line(60, 101, 119, 101);
    const Extraction e = extract(img, fullBlockMap());
    EXPECT_EQ(e.result, 2 + 256 * 100);
    // Header: marker, constants, count, yield, quality, halved sizes, class.
    const std::array<std::uint8_t, 16> header = {2, 0, 1, 0, 0, 0, 1, 2, 100, kQuality, 0,
                                                 116, 0, 140, 0, 0};
    for (std::size_t i = 0; i < header.size(); ++i) EXPECT_EQ(e.templ[i], header[i]) << i;
    const auto m = minutiaeOf(e);
    ASSERT_EQ(m.size(), 2U);
    EXPECT_EQ(m[0].x, 30);
    EXPECT_EQ(m[0].y, 50);
    EXPECT_EQ(m[0].direction, 0);
    EXPECT_EQ(m[0].type, zp::kRidgeEnding);
    EXPECT_EQ(m[1].x, 59);
    EXPECT_EQ(m[1].y, 50);
    EXPECT_EQ(m[1].direction, 180);
    EXPECT_EQ(m[1].type, zp::kRidgeEnding);
    for (std::size_t i = 56 + 8; i < 256; ++i) EXPECT_EQ(e.templ[i], 0) << i;
    // The endings are marked 2; the rest of the ridge stays 1.
    EXPECT_EQ(img.get(60, 101), 2);
    EXPECT_EQ(img.get(119, 101), 2);
    EXPECT_EQ(img.get(90, 101), 1);
}

TEST(MinutiaeExtraction, ShortPieceGivesAHeaderWithoutMinutiae) {
    SkeletonCanvas img(kW, kH);
    img.line(60, 100, 65, 100);
    const Extraction e = extract(img, fullBlockMap());
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(e.templ[0], 2);
    EXPECT_EQ(e.templ[7], 0);
    EXPECT_EQ(e.templ[8], 0);
    EXPECT_EQ(e.templ[11], 116);
    for (std::size_t i = 56; i < 256; ++i) EXPECT_EQ(e.templ[i], 0) << i;
}

TEST(MinutiaeExtraction, ScanMarksJunctionsAndClearsIsolatedPixels) {
    SkeletonCanvas img(kW, kH);
    img.set(30, 30);  // isolated
    img.line(100, 100, 100, 130);
    img.line(100, 100, 80, 80);
    img.line(100, 100, 120, 80);
    extract(img, fullBlockMap());
    EXPECT_EQ(img.get(30, 30), 0);
    EXPECT_EQ(img.get(100, 100), 3);
    EXPECT_EQ(img.get(98, 98), 3);
    EXPECT_EQ(img.get(100, 102), 3);
    EXPECT_EQ(img.get(100, 103), 1);
    EXPECT_EQ(img.get(97, 97), 1);
    EXPECT_EQ(img.get(100, 130), 2);
}

TEST(MinutiaeExtraction, EndingsNearABorderEnding) {
    // Block (5, 5) is background, so the ending at (50, 40) fails the safe
    // area with margin 6 and becomes a border ending. A second ridge starts
    // to its right, 6 or 7 pixels away.
    for (const std::int32_t start : {56, 57}) {
        SkeletonCanvas img(kW, kH);
        img.line(20, 40, 50, 40);
        img.line(start, 40, 100, 40);
        auto map = fullBlockMap();
        map[static_cast<std::size_t>(5 * (kW / 8) + 5)] = 0;
        const Extraction e = extract(img, map);
        const auto m = minutiaeOf(e);
        if (start == 56) {
            ASSERT_EQ(m.size(), 2U);
            EXPECT_EQ(e.result, 2 + 256 * 66);
            EXPECT_EQ(m[0].x, 10);
            EXPECT_EQ(m[1].x, 50);
        } else {
            ASSERT_EQ(m.size(), 3U);
            EXPECT_EQ(e.result, 3 + 256 * 100);
            EXPECT_EQ(m[1].x, 28);
            EXPECT_EQ(m[1].direction, 0);
        }
    }
}

TEST(MinutiaeExtraction, CandidateYieldOfFortyCandidatesWithThirtySurvivors) {
    // Fifteen ridges of 41 pixels (30 valid endings) and five pieces of 6
    // pixels (10 invalid endings), all far apart.
    SkeletonCanvas img(kW, kH);
    std::int32_t ridges = 0;
    for (std::int32_t r = 0; r < 8; ++r) {
        for (const std::int32_t x0 : {20, 100}) {
            if (ridges == 15) break;
            img.line(x0, 20 + 16 * r, x0 + 40, 20 + 16 * r);
            ++ridges;
        }
    }
    for (const std::int32_t x0 : {20, 60, 100, 140}) img.line(x0, 160, x0 + 5, 160);
    img.line(20, 180, 25, 180);
    const Extraction e = extract(img, fullBlockMap());
    EXPECT_EQ(e.templ[7], 30);
    EXPECT_EQ(e.templ[8], 75);
    EXPECT_EQ(e.result, 30 + 256 * 75);
}

TEST(MinutiaeExtraction, ClassCodeSelectsTheEndingTraceLength) {
    // A ridge that forks after its tenth step into two arms 6 pixels apart
    // (a valid bifurcation, 10 pixels from the ending).
    for (const std::int32_t classCode : {0, 4}) {
        SkeletonCanvas img(kW, kH);
        img.line(40, 100, 50, 100);
        img.line(50, 100, 53, 97);
        img.line(53, 97, 80, 97);
        img.line(50, 100, 53, 103);
        img.line(53, 103, 80, 103);
        const Extraction e = extract(img, fullBlockMap(), classCode);
        EXPECT_EQ(e.templ[15], classCode);
        bool found = false;
        for (const auto& m : minutiaeOf(e)) found = found || (m.x == 20 && m.y == 50);
        EXPECT_EQ(found, classCode == 0) << classCode;
    }
}

TEST(MinutiaeExtraction, AtMostMaxCountMinutiaeAreWritten) {
    SkeletonCanvas img(kW, kH);
    for (std::int32_t r = 0; r < 8; ++r) img.line(20, 20 + 16 * r, 60, 20 + 16 * r);
    const Extraction e = extract(img, fullBlockMap(), 0, 10);
    EXPECT_EQ(e.templ[7], 10);
    EXPECT_EQ(e.templ[8], 100);
    EXPECT_EQ(e.result, 10 + 256 * 100);
    for (std::size_t i = 56 + 40; i < 256; ++i) EXPECT_EQ(e.templ[i], 0) << i;
}

TEST(MinutiaeExtraction, CandidateListHoldsTwoHundred) {
    // 150 short vertical pieces far enough apart: 300 endings, of which the
    // first 200 in scan order are candidates. All are invalid; the yield is 0.
    SkeletonCanvas img(kW, kH);
    std::int32_t pieces = 0;
    for (std::int32_t y = 12; y + 3 < kH - 12 && pieces < 150; y += 16) {
        for (std::int32_t x = 12; x < kW - 12 && pieces < 150; x += 12) {
            img.line(x, y, x, y + 3);
            ++pieces;
        }
    }
    ASSERT_EQ(pieces, 150);
    const Extraction e = extract(img, fullBlockMap());
    EXPECT_EQ(e.result, 0);
    EXPECT_EQ(e.templ[0], 2);
    EXPECT_EQ(e.templ[7], 0);
}

}  // namespace
