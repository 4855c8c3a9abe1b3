// Files the tool writes: whole or not at all, through private temporaries.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tool_output.h"

namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t entries(const fs::path& dir) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

TEST(AtomicFiles, ReplaceWholeAndLeaveNoTemporary) {
    const fs::path dir = fs::temp_directory_path() / ("zpapi-atomic-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "taken");
    const std::string target = (dir / "t.zpt").string();
    zpcli::writeFileAtomically(target, "first version");
    zpcli::writeFileAtomically(target, "second");
    EXPECT_EQ(readText(target), "second");
    EXPECT_EQ(entries(dir), 2U);  // t.zpt and taken/

    struct Case {
        fs::path target;
        const char* mentions;
    };
    const Case failing[] = {
        {dir / "missing" / "t.zpt", "t.zpt: cannot be written"},  // no such folder: no temporary either
        {dir / "taken", "taken: cannot be written (rename"},       // a folder stands there: the temporary goes
    };
    for (const Case& c : failing) {
        try {
            zpcli::writeFileAtomically(c.target.string(), "bytes");
            ADD_FAILURE() << c.target << " written";
        } catch (const zpcli::InputError& e) {
            EXPECT_NE(e.message.find(c.mentions), std::string::npos) << e.message;
        }
        EXPECT_EQ(entries(dir), 2U) << c.target;
    }
    EXPECT_TRUE(fs::is_directory(dir / "taken"));
    fs::remove_all(dir);
}

}  // namespace
