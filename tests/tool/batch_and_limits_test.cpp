// Batch commands that survive bad files, outputs that cannot clobber each
// other, and images refused from their declared size before decoding.
#include <gtest/gtest.h>
#include <zlib.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tool/tool_run.h"

namespace {

namespace fs = std::filesystem;
using zptool::zpapi;
using Json = nlohmann::json;

class BatchAndLimits : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        fingers_ = new zptool::SyntheticFingers("batch");
        ASSERT_EQ(fingers_->make(2, 2), 0);
    }
    static void TearDownTestSuite() { delete fingers_; }
    static zptool::SyntheticFingers* fingers_;
};
zptool::SyntheticFingers* BatchAndLimits::fingers_ = nullptr;

void put32be(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void pngChunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data) {
    put32be(out, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    put32be(out, static_cast<std::uint32_t>(crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

// A small PNG file whose header declares an 8-bit grey image of w x h; only
// its first rows are present.
std::vector<std::uint8_t> hugePng(std::uint32_t w, std::uint32_t h) {
    std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> ihdr;
    put32be(ihdr, w);
    put32be(ihdr, h);
    ihdr.insert(ihdr.end(), {8, 0, 0, 0, 0});  // 8 bits, grey, deflate, no filter, no interlace
    pngChunk(png, "IHDR", ihdr);
    const std::vector<std::uint8_t> rows(static_cast<std::size_t>(w + 1) * 4, 0);
    std::vector<std::uint8_t> packed(compressBound(static_cast<uLong>(rows.size())));
    uLongf size = static_cast<uLongf>(packed.size());
    compress(packed.data(), &size, rows.data(), static_cast<uLong>(rows.size()));
    packed.resize(size);
    pngChunk(png, "IDAT", packed);
    pngChunk(png, "IEND", {});
    return png;
}

// A little-endian TIFF whose one directory declares an uncompressed 8-bit
// grey image of w x h in one strip; the strip itself is absent.
std::vector<std::uint8_t> hugeTiff(std::uint32_t w, std::uint32_t h) {
    std::vector<std::uint8_t> t = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto put16 = [&](std::uint32_t v) {
        t.push_back(static_cast<std::uint8_t>(v));
        t.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    const auto put32 = [&](std::uint32_t v) {
        put16(v & 0xFFFF);
        put16(v >> 16);
    };
    // tag, type (3 short, 4 long), value
    const std::uint32_t entries[][3] = {{256, 4, w}, {257, 4, h}, {258, 3, 8},  {259, 3, 1},     {262, 3, 1},
                                        {273, 4, 200}, {277, 3, 1}, {278, 4, h}, {279, 4, w * h}};
    put16(sizeof entries / sizeof entries[0]);
    for (const auto& e : entries) {
        put16(e[0]);
        put16(e[1]);
        put32(1);
        if (e[1] == 3) {
            put16(e[2]);
            put16(0);
        } else {
            put32(e[2]);
        }
    }
    put32(0);  // no next directory
    t.resize(256, 0);
    return t;
}

TEST_F(BatchAndLimits, BatchProcessesEveryGoodFileAndReportsEveryBadOne) {
    const zptool::SyntheticFingers& f = *fingers_;
    zptool::writeBytes(f.path("text.png"), {'h', 'e', 'l', 'l', 'o', '\n'});
    zptool::writeFlatPgm(f.path("blank.pgm"), 256, 384, 200);
    const std::vector<std::string> good = {f.finger(101, 1), f.finger(102, 2)};
    const std::vector<std::string> bad = {f.path("text.png"), f.path("missing.png")};
    const std::string inputs = bad[0] + " " + good[0] + " " + f.path("blank.pgm") + " " + bad[1] + " " + good[1];

    const zptool::ToolRun json = zpapi("extract --json " + inputs + " -o " + f.path("out"), true);
    EXPECT_EQ(json.code, 2) << json.out << json.err;
    const Json doc = Json::parse(json.out);
    EXPECT_EQ(doc["images"], 5);
    EXPECT_EQ(doc["failed"], 2);
    ASSERT_EQ(doc["results"].size(), 5U);
    const Json& results = doc["results"];
    EXPECT_EQ(results[0]["image"], bad[0]);
    EXPECT_NE(results[0]["error"].get<std::string>().find("not a readable image"), std::string::npos);
    EXPECT_EQ(results[3]["image"], bad[1]);
    EXPECT_NE(results[3]["error"].get<std::string>().find("no such file"), std::string::npos);
    // Read, but no finger: a negative answer, not a failure.
    EXPECT_EQ(results[2]["message"], "no finger or quality too low");
    for (const std::string& image : good) {
        const std::string zpt = f.path("out/" + fs::path(image).stem().string() + ".zpt");
        EXPECT_EQ(zptool::readBytes(zpt).size(), 256U) << zpt;
    }
    EXPECT_EQ(results[1]["template"], f.path("out/101_1.zpt"));
    for (const std::string& b : bad) EXPECT_NE(json.err.find(b), std::string::npos) << "named on stderr: " << b;

    // The table names every failure in its row too, and detect does the same.
    const zptool::ToolRun table = zpapi("extract " + inputs + " -o " + f.path("out2"), true);
    EXPECT_EQ(table.code, 2) << table.out;
    for (const std::string& b : bad) EXPECT_NE(table.out.find(b + " "), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("error: no such file"), std::string::npos) << table.out;
    const zptool::ToolRun detect = zpapi("detect " + inputs, true);
    EXPECT_EQ(detect.code, 2) << detect.out;
    EXPECT_EQ(std::count(detect.out.begin(), detect.out.end(), '\n'), 6) << detect.out;  // header + every input
    EXPECT_NE(detect.out.find("error: not a readable image"), std::string::npos) << detect.out;
    EXPECT_NE(detect.err.find("2 of 5 images failed"), std::string::npos) << detect.err;

    // info: every template decoded, the truncated one reported.
    zptool::writeBytes(f.path("short.zpt"), std::vector<std::uint8_t>(100, 2));
    const zptool::ToolRun info = zpapi("info --json " + f.path("out/101_1.zpt") + " " + f.path("short.zpt") + " " +
                                           f.path("out/102_2.zpt"),
                                       true);
    EXPECT_EQ(info.code, 2);
    const Json decoded = Json::parse(info.out);
    EXPECT_EQ(decoded["failed"], 1);
    EXPECT_TRUE(decoded["results"][0]["accepted"].get<bool>());
    EXPECT_NE(decoded["results"][1]["error"].get<std::string>().find("truncated"), std::string::npos);
    EXPECT_TRUE(decoded["results"][2]["accepted"].get<bool>());
}

TEST_F(BatchAndLimits, SameNamesFromDifferentFoldersNeverOverwrite) {
    const zptool::SyntheticFingers& f = *fingers_;
    for (const char* folder : {"db1", "db2", "other/db1"}) fs::create_directories(f.path(folder));
    fs::copy_file(f.finger(101, 1), f.path("db1/101_1.png"));
    fs::copy_file(f.finger(102, 1), f.path("db2/101_1.png"));
    fs::copy_file(f.finger(102, 2), f.path("other/db1/101_1.png"));

    const zptool::ToolRun sets =
        zpapi("extract --quiet " + f.path("db1/101_1.png") + " " + f.path("db2/101_1.png") + " -o " + f.path("sets"));
    EXPECT_EQ(sets.code, 0) << sets.out;
    const std::vector<std::uint8_t> first = zptool::readBytes(f.path("sets/db1/101_1.zpt"));
    const std::vector<std::uint8_t> second = zptool::readBytes(f.path("sets/db2/101_1.zpt"));
    EXPECT_EQ(first.size(), 256U);
    EXPECT_EQ(second.size(), 256U);
    EXPECT_NE(first, second);

    // Two folders of the same name: refused before anything is written.
    const zptool::ToolRun clash = zpapi("extract " + f.path("db1/101_1.png") + " " + f.path("db2/101_1.png") + " " +
                                        f.path("other/db1/101_1.png") + " -o " + f.path("clash"));
    EXPECT_EQ(clash.code, 2) << clash.out;
    EXPECT_NE(clash.out.find(f.path("db1/101_1.png") + " and " + f.path("other/db1/101_1.png")), std::string::npos)
        << clash.out;
    EXPECT_FALSE(fs::exists(f.path("clash"))) << "nothing written";
}

TEST_F(BatchAndLimits, HugeDeclaredImagesAreRefusedBeforeDecoding) {
    const zptool::SyntheticFingers& f = *fingers_;
    // The declared sizes would take 400 MB (PNG, grey) and 1 GB (TIFF, RGBA) to decode.
    zptool::writeBytes(f.path("huge.png"), hugePng(20000, 20000));
    zptool::writeBytes(f.path("huge.tif"), hugeTiff(16000, 16000));
    // What the tool takes doing nothing (about 47 MB under the sanitizers).
    const long baselineKiB = zptool::zpapiMeasured({"version"}).peakKiB;
    for (const char* name : {"huge.png", "huge.tif"}) {
        SCOPED_TRACE(name);
        const zptool::ToolRun r = zpapi(std::string("detect ") + f.path(name), true);
        EXPECT_EQ(r.code, 2) << r.out << r.err;
        EXPECT_NE(r.err.find("above the limit of 16777216 pixels"), std::string::npos) << r.err;
        const zptool::MeasuredRun m = zptool::zpapiMeasured({"detect", f.path(name)});
        EXPECT_EQ(m.code, 2);
        // Within 16 MiB of doing nothing: decoding would take 400 MB or more.
        EXPECT_LT(m.peakKiB, baselineKiB + 16 * 1024) << "peak RSS " << m.peakKiB << " KiB";
        RecordProperty(std::string(name) + "_peak_kib", static_cast<int>(m.peakKiB));
        std::printf("%s refused: peak RSS %ld KiB (the tool doing nothing: %ld KiB), %.3f s\n", name, m.peakKiB,
                    baselineKiB, m.seconds);
    }
    // A 1,000 x 1,000 image at 100 dpi would become 5,000 x 5,000.
    zptool::writeFlatPgm(f.path("wide.pgm"), 1000, 1000, 128);
    const zptool::ToolRun resampled = zpapi("detect --dpi 100 " + f.path("wide.pgm"), true);
    EXPECT_EQ(resampled.code, 2);
    EXPECT_NE(resampled.err.find("after resampling from 100 to 500 dpi, 5000 x 5000"), std::string::npos) << resampled.err;
    // Read, no finger; the note on fitting it goes to stderr unless --quiet.
    const zptool::ToolRun noted = zpapi("detect " + f.path("wide.pgm"), true);
    EXPECT_EQ(noted.code, 1);
    EXPECT_NE(noted.err.find("1000 x 1000 brought to 256 x 384"), std::string::npos) << noted.err;
    const zptool::ToolRun quiet = zpapi("detect --quiet " + f.path("wide.pgm"), true);
    EXPECT_EQ(quiet.code, 1);
    EXPECT_EQ(quiet.err, "");
}

}  // namespace
