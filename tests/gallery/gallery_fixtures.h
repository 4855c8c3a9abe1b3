// Templates for the gallery tests: real captures where the sets are present,
// plain made-up templates for storage tests that need no real finger.
#pragma once

#include <filesystem>
#include <string>

#include "gallery/records.h"

namespace zptest {

// The template of one real image, extracted the library's way; a zero
// template when the image is absent or is refused.
zpg::Template realTemplate(const std::string& set, int finger, int impression);

// A template the decoder accepts: count minutiae on a row-ordered grid
// shifted by seed, quality as given.
zpg::Template plainTemplate(int seed, int count = 30, int quality = 60);

// A fresh folder under the temporary directory, removed by its destructor.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

}  // namespace zptest
