// Where `extract` writes the template of each image.
#pragma once

#include <string>
#include <vector>

namespace zpcli {

// The template file of each image, in order:
// - no out: beside the image, NAME.zpt for NAME.ext;
// - out naming a file (one image, out not an existing folder): out itself;
// - out naming a folder (several images, or an existing folder):
//   out/NAME.zpt; when two images from different folders share a NAME (FVC
//   sets all hold 101_1.tif), every template goes to out/SET/NAME.zpt
//   instead, SET being the name of the image's folder.
// Throws InputError naming both images, before anything is written, when
// two images would still write the same file.
std::vector<std::string> templateOutputPaths(const std::vector<std::string>& images, const std::string& out);

}  // namespace zpcli
