#include "output_paths.h"

#include <filesystem>
#include <map>

#include "tool_output.h"

namespace zpcli {
namespace {

namespace fs = std::filesystem;

// Name of the folder that holds an image ("." and relative paths resolved).
std::string folderName(const std::string& image) {
    std::error_code ec;
    fs::path parent = fs::absolute(fs::path(image), ec).lexically_normal().parent_path();
    return parent.filename().string();
}

std::string stemFile(const std::string& image) { return fs::path(image).stem().string() + ".zpt"; }

}  // namespace

std::vector<std::string> templateOutputPaths(const std::vector<std::string>& images, const std::string& out) {
    std::vector<std::string> paths;
    std::error_code ec;
    const bool intoFolder = !out.empty() && (images.size() > 1 || fs::is_directory(out, ec));
    if (out.empty()) {
        for (const std::string& image : images) paths.push_back((fs::path(image).parent_path() / stemFile(image)).string());
    } else if (!intoFolder) {
        paths.push_back(out);
    } else {
        // Sets go into subfolders as soon as two folders share a name.
        std::map<std::string, std::string> folderOfName;
        bool bySet = false;
        for (const std::string& image : images) {
            const std::string folder = fs::absolute(fs::path(image), ec).lexically_normal().parent_path().string();
            const auto [it, added] = folderOfName.emplace(stemFile(image), folder);
            bySet = bySet || (!added && it->second != folder);
        }
        for (const std::string& image : images) {
            fs::path p(out);
            if (bySet) p /= folderName(image);
            paths.push_back((p / stemFile(image)).string());
        }
    }
    std::map<std::string, std::size_t> firstWriter;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string key = fs::absolute(fs::path(paths[i]), ec).lexically_normal().string();
        const auto [it, added] = firstWriter.emplace(key, i);
        if (!added) {
            throw InputError{images[it->second] + " and " + images[i] + " would both be written to " + paths[i] +
                             "; nothing written (rename one, or extract them separately)"};
        }
    }
    return paths;
}

}  // namespace zpcli
