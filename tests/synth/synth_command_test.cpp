#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "png_io.h"
#include "synth/synth.h"
#include "synth_command.h"

namespace {

int run(std::vector<std::string> args) {
    args.insert(args.begin(), "synth");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return zpcli::runSynthCommand(static_cast<int>(args.size()), argv.data());
}

std::filesystem::path scratchFolder(const std::string& name) {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("zpapi_synth_test_" + name);
    std::filesystem::remove_all(dir);
    return dir;
}

std::string readText(const std::filesystem::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(SynthCommand, BadUsageExitsWithTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {},                                          // no output folder
        {"--fingers", "0", "-o", "x"},
        {"--fingers", "9900", "-o", "x"},
        {"--fingers", "abc", "-o", "x"},
        {"--fingers", "-3", "-o", "x"},
        {"--impressions", "0", "-o", "x"},
        {"--impressions", "2x", "-o", "x"},
        {"--seed", "18446744073709551616", "-o", "x"},
        {"--seed"},
        {"-o"},
        {"-o", ""},
        {"--class", "spiral", "-o", "x"},
        {"--colour", "-o", "x"},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c), 2) << ::testing::PrintToString(c);
}

TEST(SynthCommand, HelpExitsWithZero) {
    EXPECT_EQ(run({"--help"}), 0);
    EXPECT_EQ(run({"-h"}), 0);
}

TEST(SynthCommand, WritesImagesAndGroundTruth) {
    const std::filesystem::path dir = scratchFolder("set");
    ASSERT_EQ(run({"--fingers", "1", "--impressions", "2", "--seed", "7", "-o", dir.string(), "--master", "--quiet"}), 0);
    for (const char* name : {"101_1.png", "101_1.json", "101_2.png", "101_2.json", "101_master.png", "101_master.json"})
        EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
    EXPECT_FALSE(std::filesystem::exists(dir / "101_3.png"));

    const std::uint64_t finger = zp::synth::fingerSeed(7, 101);
    const zp::synth::MasterFingerprint m = zp::synth::makeMaster(finger);
    const zp::synth::Impression imp = zp::synth::makeImpression(m, zp::synth::impressionSeed(finger, 2));
    int w = 0, h = 0;
    std::vector<std::uint8_t> pixels;
    ASSERT_TRUE(zpcli::readPngGrey((dir / "101_2.png").string(), w, h, pixels));
    EXPECT_EQ(w, 256);
    EXPECT_EQ(h, 384);
    EXPECT_EQ(pixels, imp.pixels);

    const std::string json = readText(dir / "101_2.json");
    EXPECT_NE(json.find("\"finger\": 101"), std::string::npos);
    EXPECT_NE(json.find("\"impression\": 2"), std::string::npos);
    EXPECT_NE(json.find("\"class\": \"" + std::string(zp::synth::patternClassName(m.patternClass)) + "\""), std::string::npos);
    std::size_t entries = 0;
    for (std::size_t at = json.find("\"type\": "); at != std::string::npos; at = json.find("\"type\": ", at + 1)) ++entries;
    EXPECT_EQ(entries, imp.minutiae.size());
    std::filesystem::remove_all(dir);
}

TEST(SynthCommand, ForcedClassAndUnwritableFolder) {
    const std::filesystem::path dir = scratchFolder("class");
    ASSERT_EQ(run({"--fingers", "1", "--impressions", "1", "--class", "tented-arch", "-o", dir.string(), "--quiet"}), 0);
    EXPECT_NE(readText(dir / "101_1.json").find("\"class\": \"tented arch\""), std::string::npos);
    // An output "folder" that is a file cannot be written: bad input.
    EXPECT_EQ(run({"--fingers", "1", "--impressions", "1", "-o", (dir / "101_1.json").string(), "--quiet"}), 2);
    std::filesystem::remove_all(dir);
}

TEST(PngFiles, GreyAndColourRoundTrip) {
    const std::filesystem::path dir = scratchFolder("png");
    std::filesystem::create_directories(dir);
    std::vector<std::uint8_t> grey(7 * 5);
    for (std::size_t i = 0; i < grey.size(); ++i) grey[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(zpcli::writePngGrey((dir / "g.png").string(), 7, 5, grey.data()));
    int w = 0, h = 0;
    std::vector<std::uint8_t> back;
    ASSERT_TRUE(zpcli::readPngGrey((dir / "g.png").string(), w, h, back));
    EXPECT_EQ(w, 7);
    EXPECT_EQ(h, 5);
    EXPECT_EQ(back, grey);
    std::vector<std::uint8_t> rgb(3 * 4 * 2, 200);
    EXPECT_TRUE(zpcli::writePngRgb((dir / "c.png").string(), 4, 2, rgb.data()));
    std::string error;
    EXPECT_FALSE(zpcli::writePngGrey((dir / "missing" / "x.png").string(), 7, 5, grey.data(), &error));
    EXPECT_NE(error.find("x.png"), std::string::npos);
    EXPECT_FALSE(zpcli::readPngGrey((dir / "none.png").string(), w, h, back, &error));
    std::filesystem::remove_all(dir);
}
