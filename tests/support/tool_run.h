// Runs the built zpapi tool as a user would.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace zptest {

struct ToolRun {
    int code = -1;
    std::string out;  // stdout and stderr together
};

// tool ARGS, with its exit code; stderr joins stdout unless only stdout is
// wanted (a JSON document).
inline ToolRun runTool(const std::string& tool, const std::string& args, bool withStderr = true) {
    const std::string command = tool + " " + args + (withStderr ? " 2>&1" : " 2>/dev/null");
    ToolRun r;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr) return r;
    std::array<char, 4096> buf{};
    std::size_t n = 0;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    const int status = pclose(p);
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

}  // namespace zptest
