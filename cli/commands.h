// The zpapi commands; each adds itself to the application and sets the
// exit code when it runs.
#pragma once

#include <CLI/CLI.hpp>

namespace zpcli {

void addImageCommands(CLI::App& app, int& exitCode);    // version detect extract info match show convert
void addGalleryCommands(CLI::App& app, int& exitCode);  // enroll verify identify list remove build-gallery

}  // namespace zpcli
