// The templates and scores of the fixed synthetic set match the committed
// golden file, so every build that runs the test suite proves it makes the
// same bytes as the build that wrote the file.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "golden.h"

namespace {

std::string readFile(const std::string& path, bool& found) {
    std::ifstream file(path, std::ios::binary);
    found = static_cast<bool>(file);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(Golden, ReportMatchesCommittedFile) {
    bool found = false;
    const std::string expected = readFile(ZPAPI_GOLDEN_FILE, found);
    ASSERT_TRUE(found) << "no golden file at " << ZPAPI_GOLDEN_FILE << " (make golden-update writes it)";
    const std::string actual = zphard::goldenReport();

    std::istringstream want(expected);
    std::istringstream got(actual);
    std::string wantLine;
    std::string gotLine;
    int line = 0;
    int differences = 0;
    while (true) {
        const bool moreWant = static_cast<bool>(std::getline(want, wantLine));
        const bool moreGot = static_cast<bool>(std::getline(got, gotLine));
        if (!moreWant && !moreGot) break;
        ++line;
        if (moreWant != moreGot || wantLine != gotLine) {
            ADD_FAILURE() << "line " << line << "\n  golden: " << (moreWant ? wantLine : "<end>")
                          << "\n  now:    " << (moreGot ? gotLine : "<end>");
            if (++differences == 10) break;
        }
    }
}

}  // namespace
