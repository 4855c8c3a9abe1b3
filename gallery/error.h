// The error of bad input or of a gallery that cannot do what was asked:
// the message names the file or row and the problem; front ends print it
// and exit 2.
#pragma once

#include <string>

namespace zpg {

struct Error {
    std::string message;
};

}  // namespace zpg
