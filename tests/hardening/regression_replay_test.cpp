// Every input that once broke the library, replayed through the same fuzz
// target body that found it (regressions/<target>/<file>). In the sanitizer
// build a relapse shows as an AddressSanitizer or UndefinedBehaviorSanitizer
// report; in every build as a failed check of the target.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_targets.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> readBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The folder of regression inputs exists (empty is fine): a missing one
// would make the replay pass without replaying anything.
TEST(Regressions, EveryFolderNamesATarget) {
    const fs::path root = ZPAPI_REGRESSIONS_DIR;
    ASSERT_TRUE(fs::is_directory(root)) << root << " is missing";
    for (const auto& entry : fs::directory_iterator(root)) {
        if (!entry.is_directory()) continue;
        bool known = false;
        for (const zpfuzz::Target& t : zpfuzz::kTargets) known = known || entry.path().filename() == t.name;
        EXPECT_TRUE(known) << entry.path() << " is not the name of a fuzz target";
    }
}

TEST(Regressions, InputsRunCleanly) {
    const fs::path root = ZPAPI_REGRESSIONS_DIR;
    ASSERT_TRUE(fs::is_directory(root)) << root << " is missing";
    int replayed = 0;
    for (const zpfuzz::Target& t : zpfuzz::kTargets) {
        const fs::path dir = root / std::string(t.name);
        if (!fs::exists(dir)) continue;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) continue;
            const std::vector<std::uint8_t> bytes = readBytes(entry.path());
            SCOPED_TRACE(entry.path().string());
            EXPECT_EQ(t.run(bytes.data(), bytes.size()), 0);
            ++replayed;
        }
    }
    RecordProperty("replayed", replayed);
    std::printf("replayed %d regression inputs from %s\n", replayed, root.c_str());
}

TEST(Regressions, EdgeInputsRunCleanly) {
    // Empty, tiny and all-0xFF inputs for every target.
    const std::vector<std::uint8_t> ones(600, 0xFF);
    for (const zpfuzz::Target& t : zpfuzz::kTargets) {
        SCOPED_TRACE(std::string(t.name));
        EXPECT_EQ(t.run(nullptr, 0), 0);
        const std::uint8_t one = 2;
        EXPECT_EQ(t.run(&one, 1), 0);
        EXPECT_EQ(t.run(ones.data(), ones.size()), 0);
    }
}

}  // namespace
