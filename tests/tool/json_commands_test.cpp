// The command table of docs/json.md: for every command, its --json document
// and its exit code on success, on a negative answer and on bad input.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/tool_run.h"

namespace {

using Json = nlohmann::json;

// zpapi ARGS; split keeps stderr apart from stdout.
zptest::ToolRun zpapi(const std::string& args, bool split = false) {
    return split ? zptest::runToolSplit(ZPAPI_TOOL, args) : zptest::runTool(ZPAPI_TOOL, args);
}

class JsonCommands : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        fingers_ = new zptest::SyntheticFingers(ZPAPI_TOOL, "json-commands");
        ASSERT_EQ(fingers_->make(3, 4), 0);
        zptest::writeFlatPgm(fingers_->path("blank.pgm"), 256, 384, 200);
        ASSERT_EQ(zpapi("extract --quiet " + fingers_->finger(101, 1) + " -o " + fingers_->path("a.zpt")).code, 0);
        std::vector<std::uint8_t> t = zptest::readBytes(fingers_->path("a.zpt"));
        t.resize(200);
        zptest::writeBytes(fingers_->path("short.zpt"), t);
        zptest::writeBytes(fingers_->path("file"), {1});
    }
    static void TearDownTestSuite() { delete fingers_; }
    static zptest::SyntheticFingers* fingers_;
};
zptest::SyntheticFingers* JsonCommands::fingers_ = nullptr;

// One row of the table. Empty args: the command has no such case.
struct Row {
    std::string command;
    std::string success;
    std::vector<std::string> keys;  // of the success document
    std::string negative;
    std::string bad;
};

Json parseOne(const zptest::ToolRun& r, const std::string& args) {
    try {
        return Json::parse(r.out);  // throws on anything but exactly one document
    } catch (const Json::exception& e) {
        ADD_FAILURE() << args << ": stdout is not one JSON document (" << e.what() << ")\n" << r.out;
        return Json::object();
    }
}

TEST_F(JsonCommands, EveryRowOfTheTable) {
    const zptest::SyntheticFingers& f = *fingers_;
    const std::string a = f.path("a.zpt");
    const std::string missing = f.path("missing.png");
    const std::vector<Row> rows = {
        {"version", "version", {"version"}, "", "version --bogus"},
        {"detect", "detect " + f.finger(101, 1), {"images", "failed", "results"}, "detect " + f.path("blank.pgm"),
         "detect " + missing},
        {"extract", "extract " + f.finger(101, 2) + " -o " + f.path("b.zpt"), {"images", "failed", "results"},
         "extract " + f.path("blank.pgm") + " -o " + f.path("blank.zpt"), "extract " + missing},
        {"info", "info " + a, {"templates", "failed", "results"}, "", "info " + f.path("short.zpt")},
        {"match", "match " + f.finger(101, 1) + " " + f.finger(101, 2),
         {"first", "second", "score", "level", "threshold", "match"}, "match " + f.finger(101, 1) + " " + f.finger(102, 1),
         "match " + missing + " " + a},
        {"show", "show " + f.finger(101, 1) + " -o " + f.path("show.png"),
         {"image", "output", "result", "message", "minutiae"}, "show " + f.path("blank.pgm") + " -o " + f.path("blank-show.png"),
         "show " + missing + " -o " + f.path("x.png")},
        {"convert", "convert " + a + " --to iso19794-2 -o " + f.path("a.fmr"),
         {"template", "format", "output", "bytes", "minutiae"}, "", "convert " + f.path("short.zpt") + " --to xyt -o " + f.path("x.xyt")},
        {"synth", "synth --fingers 1 --impressions 1 -o " + f.path("synth"),
         {"output", "seed", "fingers", "impressions", "master", "files"}, "", "synth -o " + f.path("file")},
        {"eval", "eval " + (f.dir() / "fingers").string(), {"threads", "sets"}, "", "eval " + f.path("nowhere")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        const std::string ok = row.success + " --json --quiet";
        const zptest::ToolRun r = zpapi(ok, true);
        EXPECT_EQ(r.code, 0) << ok << "\n" << r.out << r.err;
        EXPECT_EQ(r.err, "") << ok << ": --quiet leaves stderr empty on success";
        const Json doc = parseOne(r, ok);
        for (const std::string& key : row.keys) EXPECT_TRUE(doc.contains(key)) << ok << ": no " << key << "\n" << r.out;
        EXPECT_EQ(doc.size(), row.keys.size()) << ok << "\n" << r.out;

        if (!row.negative.empty()) {
            const zptest::ToolRun n = zpapi(row.negative + " --json", true);
            EXPECT_EQ(n.code, 1) << row.negative << "\n" << n.out << n.err;
            parseOne(n, row.negative);
        }
        const zptest::ToolRun b = zpapi(row.bad + " --json", true);
        EXPECT_EQ(b.code, 2) << row.bad << "\n" << b.out << b.err;
        EXPECT_NE(b.err, "") << row.bad << ": bad input is named on stderr";
        if (row.bad.find("--bogus") == std::string::npos) {
            const Json bad = parseOne(b, row.bad);
            EXPECT_TRUE(bad.contains("error") || bad.value("failed", 0) > 0) << row.bad << "\n" << b.out;
        }
    }
}

TEST_F(JsonCommands, SameNamesForTheSameThings) {
    const zptest::SyntheticFingers& f = *fingers_;
    const Json detect = Json::parse(zpapi("detect --json " + f.finger(101, 1), true).out);
    const Json& d = detect["results"][0];
    EXPECT_EQ(d["image"], f.finger(101, 1));
    EXPECT_TRUE(d["finger"].get<bool>());
    EXPECT_EQ(d["centre"].size(), 2U);
    for (const char* side : {"left", "right", "top", "bottom"}) EXPECT_TRUE(d["extent"].contains(side)) << side;

    const Json extract = Json::parse(zpapi("extract --json " + f.finger(102, 1) + " -o " + f.path("c.zpt"), true).out);
    const Json& e = extract["results"][0];
    EXPECT_EQ(e["template"], f.path("c.zpt"));
    for (const char* key : {"minutiae", "yield", "quality"}) EXPECT_TRUE(e[key].is_number()) << key;

    const Json info = Json::parse(zpapi("info --json " + f.path("c.zpt"), true).out);
    const Json& i = info["results"][0];
    EXPECT_EQ(i["template"], f.path("c.zpt"));
    EXPECT_EQ(i["minutiae"], e["minutiae"]);
    EXPECT_EQ(i["yield"], e["yield"]);
    EXPECT_EQ(i["quality"], e["quality"]);
    EXPECT_EQ(i["points"].size(), e["minutiae"].get<std::size_t>());

    // The text form of convert --to json is info's decoding.
    const Json converted = Json::parse(zpapi("convert " + f.path("c.zpt") + " --to json", true).out);
    EXPECT_EQ(converted["points"], i["points"]);

    // eval's failures and identification use the same words.
    const Json eval = Json::parse(zpapi("eval --json " + (f.dir() / "fingers").string(), true).out);
    const Json& set = eval["sets"][0];
    EXPECT_EQ(set["fingers"], 3);
    EXPECT_EQ(set["identification"]["fingers"], 3);
    EXPECT_FALSE(set.contains("curve"));  // the full report goes to --report FILE
    ASSERT_EQ(zpapi("eval --quiet --report " + f.path("report.json") + " " + (f.dir() / "fingers").string()).code, 0);
    const Json report = Json::parse(zptest::readBytes(f.path("report.json")));
    EXPECT_EQ(report["sets"][0]["curve"].size(), 101U);
}

}  // namespace
