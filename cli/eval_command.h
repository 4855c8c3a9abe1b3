// zpapi eval: error rates and identification rates of the library on
// folders of fingerprint images named FINGER_IMPRESSION.ext.
#pragma once

#include <CLI/CLI.hpp>

namespace zpcli {

void addEvalCommand(CLI::App& app, int& exitCode);

}  // namespace zpcli
