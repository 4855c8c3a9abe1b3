// zpapi: the command-line front end of the library.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "cli_common.h"
#include "commands.h"
#include "eval_command.h"
#include "synth_command.h"

namespace {

// True when the command that ran asked for JSON.
bool wantsJson(CLI::App& app) {
    for (CLI::App* sub : app.get_subcommands()) {
        const CLI::Option* json = sub->get_option_no_throw("--json");
        if (json != nullptr && json->count() > 0 && json->get_expected_min() == 0) return true;
    }
    return false;
}

// A command stopped by bad input still gives a script one JSON document.
int badInput(CLI::App& app, const std::string& message) {
    std::fprintf(stderr, "zpapi: %s\n", message.c_str());
    if (wantsJson(app)) std::cout << zpcli::Json({{"error", message}}).dump(2) << "\n";
    return zpcli::kExitBadInput;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace zpcli;
    CLI::App app{"zpapi: fingerprint extraction, comparison and identification.\n"
                 "Exit codes: 0 success, 1 negative answer (no match, no finger), 2 bad input or usage.\n"
                 "--json prints one JSON document on stdout; --quiet silences notes and progress on stderr."};
    app.require_subcommand(1);
    app.fallthrough(false);
    int exitCode = kExitOk;
    addImageCommands(app, exitCode);
    addGalleryCommands(app, exitCode);
    addEvalCommand(app, exitCode);
    addSynthCommand(app, exitCode);
    addQuietFlags(app);
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
        return badInput(app, e.message);
    } catch (const std::exception& e) {
        return badInput(app, e.what());
    }
    return exitCode;
}
