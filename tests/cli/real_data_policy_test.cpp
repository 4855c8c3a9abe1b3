// With ZPAPI_REQUIRE_DATA=1 (as CI sets it) a real-image test whose sets are
// missing fails instead of skipping.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "support/real_images.h"

namespace {

// Sets an environment variable for one scope, then puts the old value back.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        const char* old = std::getenv(name);
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv(name, value, 1);
    }
    ~ScopedEnv() {
        if (had_) setenv(name_, old_.c_str(), 1);
        else unsetenv(name_);
    }

  private:
    const char* name_;
    bool had_ = false;
    std::string old_;
};

void needsRealSets() { ZP_REQUIRE_DATA(); }

TEST(RealDataPolicy, MissingSetsFailWhenRequired) {
    const ScopedEnv nowhere("ZPAPI_DATA_DIR", "/nonexistent/zpapi-data");
    const ScopedEnv required("ZPAPI_REQUIRE_DATA", "1");
    EXPECT_TRUE(zptest::dataDir().empty());
    EXPECT_FATAL_FAILURE(needsRealSets(), "ZPAPI_REQUIRE_DATA=1");
}

}  // namespace
