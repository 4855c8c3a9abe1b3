// Runs the built zpapi tool as a user would and checks its output and exit
// codes, on synthetic fingers it makes itself and on real ones when present.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <sqlite3.h>

#include "support/real_images.h"
#include "support/tool_run.h"

namespace fs = std::filesystem;
using zptest::readBytes;
using zptest::ToolRun;
using zptest::writeBytes;

namespace {

ToolRun zpapi(const std::string& args) { return zptest::runTool(ZPAPI_TOOL, args); }

// Three synthetic fingers with four impressions each, made once (a seed
// whose impressions all enrol: some generated captures are too poor to).
class Tool : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("zpapi-tool-test-" + std::to_string(::getpid()));
        fs::create_directories(dir_);
        const ToolRun r = zpapi("synth --fingers 3 --impressions 4 --seed 3 -o " + (dir_ / "fingers").string());
        ASSERT_EQ(r.code, 0) << r.out;
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static std::string finger(int f, int i) { return (dir_ / "fingers" / (std::to_string(f) + "_" + std::to_string(i) + ".png")).string(); }
    static std::string path(const std::string& name) { return (dir_ / name).string(); }
    static fs::path dir_;
};
fs::path Tool::dir_;

TEST_F(Tool, HelpAndUsage) {
    EXPECT_EQ(zpapi("--help").code, 0);
    for (const char* cmd : {"detect", "extract", "info", "match", "show", "convert", "enroll", "verify", "identify",
                            "list", "remove", "synth"}) {
        const ToolRun r = zpapi(std::string(cmd) + " --help");
        EXPECT_EQ(r.code, 0) << cmd << "\n" << r.out;
        EXPECT_NE(r.out.find("sage"), std::string::npos) << cmd;
    }
    EXPECT_EQ(zpapi("").code, 2);
    EXPECT_EQ(zpapi("frobnicate").code, 2);
    EXPECT_EQ(zpapi("match onlyone.png").code, 2);
    EXPECT_EQ(zpapi("match a b --level 9").code, 2);
    const ToolRun v = zpapi("version");
    EXPECT_EQ(v.code, 0);
    EXPECT_NE(v.out.find("ZPAPI"), std::string::npos);
}

TEST_F(Tool, DetectExtractInfoConvert) {
    const ToolRun d = zpapi("detect " + finger(101, 1) + " --json");
    EXPECT_EQ(d.code, 0) << d.out;
    EXPECT_NE(d.out.find("\"finger\": true"), std::string::npos) << d.out;

    const ToolRun e = zpapi("extract " + finger(101, 1) + " -o " + path("a.zpt"));
    ASSERT_EQ(e.code, 0) << e.out;
    EXPECT_EQ(readBytes(path("a.zpt")).size(), 256U);

    const ToolRun i = zpapi("info " + path("a.zpt"));
    EXPECT_EQ(i.code, 0) << i.out;
    EXPECT_NE(i.out.find("accepted"), std::string::npos);
    EXPECT_NE(i.out.find("minutiae"), std::string::npos);

    const ToolRun x = zpapi("convert " + path("a.zpt") + " --to xyt");
    EXPECT_EQ(x.code, 0) << x.out;
    const std::vector<std::uint8_t> t = readBytes(path("a.zpt"));
    std::size_t lines = 0;
    for (char c : x.out) lines += c == '\n';
    EXPECT_EQ(lines, t[7]);

    for (const char* format : {"iso19794-2", "ansi378"}) {
        const ToolRun c = zpapi("convert " + path("a.zpt") + " --to " + format + " -o " + path("rec.fmr"));
        ASSERT_EQ(c.code, 0) << c.out;
        const std::vector<std::uint8_t> rec = readBytes(path("rec.fmr"));
        ASSERT_GT(rec.size(), 30U);
        EXPECT_EQ(std::string(rec.begin(), rec.begin() + 3), "FMR");
        const std::size_t header = std::string(format) == "ansi378" ? 26 : 24;
        EXPECT_EQ(rec.size(), header + 4 + 6U * t[7] + 2) << format;
    }
    EXPECT_EQ(zpapi("convert " + path("a.zpt") + " --to iso19794-2").code, 2);  // binary needs -o
    EXPECT_EQ(zpapi("convert " + path("a.zpt") + " --to pdf").code, 2);

    const ToolRun s = zpapi("show " + finger(101, 1) + " -o " + path("show.png"));
    EXPECT_EQ(s.code, 0) << s.out;
    EXPECT_GT(fs::file_size(path("show.png")), 1000U);
}

TEST_F(Tool, MatchAgreesWithItsDecision) {
    const ToolRun same = zpapi("match " + finger(101, 1) + " " + finger(101, 2) + " --json");
    const ToolRun diff = zpapi("match " + finger(101, 1) + " " + finger(102, 1) + " --json");
    for (const ToolRun* r : {&same, &diff}) {
        ASSERT_TRUE(r->code == 0 || r->code == 1) << r->out;
        EXPECT_EQ(r->code == 0, r->out.find("\"match\": true") != std::string::npos) << r->out;
    }
    EXPECT_EQ(same.code, 0) << same.out;
    EXPECT_EQ(diff.code, 1) << diff.out;  // different fingers are rejected
}

TEST_F(Tool, BadInputsAreNamedAndExitTwo) {
    writeBytes(path("text.png"), std::vector<std::uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'});
    writeBytes(path("empty.png"), {});
    struct Case {
        std::string args;
        std::string mentions;
    };
    ASSERT_EQ(zpapi("extract " + finger(102, 1) + " -o " + path("b.zpt")).code, 0);
    std::vector<std::uint8_t> t = readBytes(path("b.zpt"));
    writeBytes(path("truncated.zpt"), std::vector<std::uint8_t>(t.begin(), t.begin() + 200));
    std::vector<std::uint8_t> zero(256, 0);
    writeBytes(path("zero.zpt"), zero);
    std::vector<std::uint8_t> flipped = t;
    flipped[7] ^= 0xFF;  // minutiae count far above the maximum
    writeBytes(path("flipped.zpt"), flipped);
    const Case cases[] = {
        {"detect " + path("missing.png"), "missing.png: no such file"},
        {"detect " + path("text.png"), "text.png: not a readable image"},
        {"extract " + path("empty.png"), "empty.png: empty file"},
        {"info " + path("truncated.zpt"), "truncated"},
        {"info " + path("zero.zpt"), "rejected"},
        {"info " + path("flipped.zpt"), "rejected: minutiae count"},
        {"match " + path("flipped.zpt") + " " + path("b.zpt"), "template rejected"},
        {"match " + path("truncated.zpt") + " " + path("b.zpt"), "truncated"},
        {"list --db " + path("nowhere.db"), "no such gallery"},
    };
    for (const Case& c : cases) {
        const ToolRun r = zpapi(c.args);
        EXPECT_EQ(r.code, 2) << c.args << "\n" << r.out;
        EXPECT_NE(r.out.find(c.mentions), std::string::npos) << c.args << "\n" << r.out;
    }
    // A byte flipped inside a minutia passes the decoder but is flagged.
    std::vector<std::uint8_t> inEntry = t;
    inEntry[59] ^= 0xE0;  // type bits 5-7 of the first minutia
    writeBytes(path("entry.zpt"), inEntry);
    const ToolRun w = zpapi("info " + path("entry.zpt"));
    EXPECT_EQ(w.code, 0) << w.out;
    EXPECT_NE(w.out.find("warning: minutia 0 has type"), std::string::npos) << w.out;
}

TEST_F(Tool, RealImagesFromEverySet) {
    ZP_REQUIRE_DATA();
    const std::string data = zptest::dataDir();
    struct Set {
        const char* name;
        const char* dpi;
    };
    for (const Set& s : {Set{"fvc2002_db1_b", "500"}, Set{"fvc2000_db2_b", "500"}, Set{"fvc2000_db3_b", "500"}}) {
        const std::string a = data + "/" + s.name + "/101_1.tif";
        const std::string b = data + "/" + s.name + "/101_2.tif";
        const ToolRun d = zpapi(std::string("detect --dpi ") + s.dpi + " " + a);
        EXPECT_EQ(d.code, 0) << d.out;
        EXPECT_NE(d.out.find("brought to 256 x 384"), std::string::npos) << d.out;
        const ToolRun m = zpapi("match " + a + " " + b + " --json");
        EXPECT_TRUE(m.code == 0 || m.code == 1) << s.name << "\n" << m.out;
    }
}

}  // namespace
