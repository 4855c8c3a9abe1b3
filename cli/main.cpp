// zpapi: the command-line front end of the library.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <string_view>

#include "cli_common.h"
#include "commands.h"
#include "eval_command.h"
#include "synth_command.h"

int main(int argc, char** argv) {
    using namespace zpcli;
    // The generator parses its own options.
    if (argc >= 2 && std::string_view(argv[1]) == "synth") return runSynthCommand(argc - 1, argv + 1);
    CLI::App app{"zpapi: fingerprint extraction, comparison and identification.\n"
                 "Exit codes: 0 success, 1 negative answer (no match, no finger), 2 bad input or usage."};
    app.require_subcommand(1);
    app.fallthrough(false);
    int exitCode = kExitOk;
    addImageCommands(app, exitCode);
    addGalleryCommands(app, exitCode);
    addEvalCommand(app, exitCode);
    app.add_subcommand("synth", "Make synthetic fingerprints with known minutiae (see zpapi synth --help)");
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitBadInput;
    } catch (const InputError& e) {
        std::fprintf(stderr, "zpapi: %s\n", e.message.c_str());
        return kExitBadInput;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zpapi: %s\n", e.what());
        return kExitBadInput;
    }
    return exitCode;
}
