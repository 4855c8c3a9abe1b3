// `zpapi synth`: writes sets of synthetic fingerprints with their ground truth.
#pragma once

namespace zpcli {

// argv[0] is the command name ("synth"); the options follow. Returns the
// process exit status: 0 done, 1 a file could not be written, 2 bad usage.
int runSynthCommand(int argc, char** argv);

}  // namespace zpcli
