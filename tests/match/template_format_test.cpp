#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "match/matching_model.h"
#include "match/synthetic_templates.h"
#include "minutiae/template_format.h"

namespace {

using zptest::Template;

TEST(TemplateWriting, HeaderBytes) {
    Template t{};
    zp::TemplateHeader h{3, 87, 0x1234, 116, 140, 5};
    zp::writeTemplateHeader(t.data(), h);
    const std::array<std::uint8_t, 16> expected = {2, 0, 1, 0, 0, 0, 1, 3, 87, 0x34, 0x12, 116, 0, 140, 0, 5};
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(t[i], expected[i]) << "byte " << i;
    for (std::size_t i = 16; i < t.size(); ++i) EXPECT_EQ(t[i], 0) << "byte " << i;
}

TEST(TemplateWriting, EntryBitLayout) {
    struct Case {
        zp::TemplateMinutia m;
        std::uint32_t word;
    };
    const Case cases[] = {
        {{4, 4, 0, 1}, 4u | (4u << 9) | (1u << 27)},                      // column 9, row 8
        {{111, 135, 359, 2}, 111u | (135u << 9) | (359u << 18) | (1u << 28)},
        {{0, 0, 0, 1}, 1u << 27},
        {{0, 0, 0, 2}, 1u << 28},
        {{511, 511, 511, 3}, 0x1FFFFFFFu},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zp::encodeMinutiaEntry(c.m), c.word);
        Template t{};
        zp::writeTemplateMinutia(t.data(), 2, c.m);
        EXPECT_EQ(zp::readEntryWord(t.data(), 2), c.word);
        EXPECT_EQ(t[56 + 8] | (t[56 + 9] << 8) | (t[56 + 10] << 16) | (static_cast<std::uint32_t>(t[56 + 11]) << 24), c.word);
        const zp::TemplateMinutia back = zp::decodeMinutiaEntry(c.word);
        EXPECT_EQ(back.x, c.m.x);
        EXPECT_EQ(back.y, c.m.y);
        EXPECT_EQ(back.direction, c.m.direction);
        EXPECT_EQ(back.type, c.m.type);
    }
}

TEST(TemplateWriting, ByteByByteOfOneEntry) {
    // x = 300 (bit 8 set), y = 200, direction 359, type 2.
    Template t{};
    zp::writeTemplateMinutia(t.data(), 0, {300, 200, 359, 2});
    EXPECT_EQ(t[56], 300 & 0xFF);
    EXPECT_EQ(t[57], ((300 >> 8) & 1) | ((200 & 0x7F) << 1));
    EXPECT_EQ(t[58], ((200 >> 7) & 3) | ((359 & 0x3F) << 2));
    EXPECT_EQ(t[59], ((359 >> 6) & 7) | (2 << 3));
}

TEST(TemplateWriting, MaxMinutiaeCount) {
    EXPECT_EQ(zp::maxMinutiaeCount(116, 140), 50);
    EXPECT_EQ(zp::maxMinutiaeCount(20, 20), 10);
    EXPECT_EQ(zp::maxMinutiaeCount(0, 140), 0);
    EXPECT_EQ(zp::maxMinutiaeCount(116, 0), 0);
    // The product wraps to a negative signed value: isqrt gives 0.
    EXPECT_EQ(zp::maxMinutiaeCount(65535, 65535), 0);
    EXPECT_EQ(zp::maxMinutiaeCount(65535, 1), 50);
}

struct DecodeCase {
    const char* name;
    std::int32_t marker;
    std::int32_t count;
    std::int32_t yield;
    std::int32_t quality;
    std::int32_t width;
    std::int32_t height;
    std::int32_t accepted;
};

TEST(TemplateDecoding, AcceptAndReject) {
    const DecodeCase cases[] = {
        {"extracted", 2, 30, 60, 70, 116, 140, 1},
        {"marker 7", 7, 30, 60, 70, 116, 140, 1},
        {"marker 0", 0, 30, 60, 70, 116, 140, 0},
        {"N = 50", 2, 50, 60, 70, 116, 140, 1},
        {"N = 51", 2, 51, 60, 70, 116, 140, 0},
        {"20 x 20, N = 10", 2, 10, 60, 0, 20, 20, 1},
        {"20 x 20, N = 11", 2, 11, 60, 0, 20, 20, 0},
        {"yield 100", 2, 30, 100, 70, 116, 140, 1},
        {"yield 101", 2, 30, 101, 70, 116, 140, 0},
        {"quality 1015", 2, 30, 60, 1015, 116, 140, 1},
        {"quality 1016", 2, 30, 60, 1016, 116, 140, 0},
        {"W = 0, N = 0, quality 0", 2, 0, 0, 0, 0, 140, 1},
        {"W = 0, quality 1", 2, 0, 0, 1, 0, 140, 0},
        {"H = 0, N = 1", 2, 1, 0, 0, 116, 0, 0},
        {"N = 0", 2, 0, 60, 70, 116, 140, 1},
        // N is tested before the yield: both bad still rejects.
        {"N = 51, yield 101", 2, 51, 101, 70, 116, 140, 0},
    };
    for (const auto& c : cases) {
        Template t{};
        zp::TemplateHeader h{c.count, c.yield, c.quality, c.width, c.height, 0};
        zp::writeTemplateHeader(t.data(), h);
        t[0] = static_cast<std::uint8_t>(c.marker);
        for (std::int32_t i = 0; i < c.count && i < 50; ++i) zp::writeTemplateMinutia(t.data(), i, {10 + i, 20, 30, 1});
        zp::MatchingModel model{};
        EXPECT_EQ(zp::decodeTemplate(t.data(), model), c.accepted) << c.name;
        if (c.accepted == 1) {
            EXPECT_EQ(model.count, c.count) << c.name;
            EXPECT_EQ(model.maxCount, zp::maxMinutiaeCount(c.width, c.height)) << c.name;
            EXPECT_EQ(model.yield, c.yield);
            EXPECT_EQ(model.quality, c.quality);
            EXPECT_EQ(model.width, c.width);
            EXPECT_EQ(model.height, c.height);
        }
    }
}

TEST(TemplateDecoding, AllZeroTemplateIsRejected) {
    Template t{};
    zp::MatchingModel model{};
    EXPECT_EQ(zp::decodeTemplate(t.data(), model), 0);
}

TEST(TemplateDecoding, EntriesAreNotRangeChecked) {
    Template t{};
    zp::writeTemplateHeader(t.data(), zptest::extractedHeader(3));
    zp::writeTemplateMinutia(t.data(), 0, {4, 4, 359, 1});
    zp::writeTemplateMinutia(t.data(), 1, {511, 300, 511, 2});
    // Type bits 27-31 all set: type 31.
    const std::uint32_t word = 7u | (9u << 9) | (400u << 18) | (31u << 27);
    for (int b = 0; b < 4; ++b) t[56 + 8 + b] = static_cast<std::uint8_t>(word >> (8 * b));
    t[15] = 9;
    zp::MatchingModel model{};
    model.workspaceBase = 1234;
    ASSERT_EQ(zp::decodeTemplate(t.data(), model), 1);
    EXPECT_EQ(model.classCode, 9);
    EXPECT_EQ(model.workspaceBase, 1234);  // never set by the decoder
    const std::int32_t expected[3][4] = {{4, 4, 359, 1}, {511, 300, 511, 2}, {7, 9, 400, 31}};
    for (int i = 0; i < 3; ++i) {
        const auto& r = model.minutiae[static_cast<std::size_t>(i)];
        EXPECT_EQ(r.x, expected[i][0]);
        EXPECT_EQ(r.y, expected[i][1]);
        EXPECT_EQ(r.direction, expected[i][2]);
        EXPECT_EQ(r.type, expected[i][3]);
        EXPECT_EQ(r.unset[0] | r.unset[1] | r.unset[2], 0);
    }
    // Records from N on stay as the storage held them.
    EXPECT_EQ(model.minutiae[3].x, 0);
}

TEST(TemplateDecoding, WriterAndDecoderRoundTrip) {
    const auto minutiae = zptest::plausibleMinutiae(7, 45);
    const Template t = zptest::makeTemplate(minutiae);
    zp::MatchingModel model{};
    ASSERT_EQ(zp::decodeTemplate(t.data(), model), 1);
    ASSERT_EQ(model.count, static_cast<std::int32_t>(minutiae.size()));
    for (std::size_t i = 0; i < minutiae.size(); ++i) {
        EXPECT_EQ(model.minutiae[i].x, minutiae[i].x);
        EXPECT_EQ(model.minutiae[i].y, minutiae[i].y);
        EXPECT_EQ(model.minutiae[i].direction, minutiae[i].direction);
        EXPECT_EQ(model.minutiae[i].type, minutiae[i].type);
    }
}

}  // namespace
