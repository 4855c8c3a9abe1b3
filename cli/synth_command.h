// `zpapi synth`: writes sets of synthetic fingerprints with their ground truth.
#pragma once

namespace CLI {
class App;
}

namespace zpcli {

// Adds the synth command to the tool; it sets exitCode when it runs.
// Bad options and unwritable files stop it with exit code 2.
void addSynthCommand(CLI::App& app, int& exitCode);

// The synth command on its own: argv[0] is its name ("synth"), the options
// follow. Returns the exit status: 0 done, 2 bad usage or a file that could
// not be written.
int runSynthCommand(int argc, char** argv);

}  // namespace zpcli
