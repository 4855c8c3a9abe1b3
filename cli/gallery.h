// The fingerprint gallery: enrolled templates by name in one SQLite file.
#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

#include "cli_common.h"

namespace zpcli {

struct GalleryEntry {
    std::string id;
    Template templ{};
};

// A gallery file. Every write is a transaction; templates are validated
// before they are stored and checked against their stored checksum when
// read back, so a corrupt row is reported and skipped.
class Gallery {
  public:
    // Opens (and with create, makes) the gallery; throws InputError.
    Gallery(const std::string& path, bool create);
    ~Gallery();
    Gallery(const Gallery&) = delete;
    Gallery& operator=(const Gallery&) = delete;

    // Stores or replaces the template of id; throws InputError on a
    // template the library would reject.
    void put(const std::string& id, const Template& t);
    bool get(const std::string& id, Template& t);
    bool remove(const std::string& id);
    // All valid rows; corrupt ones are counted in skipped and named on
    // stderr.
    std::vector<GalleryEntry> all(std::size_t& skipped);
    std::size_t size();
    // Stores many templates in one transaction (for building large galleries).
    void putMany(const std::vector<GalleryEntry>& entries);

  private:
    void exec(const char* sql);
    sqlite3* db_ = nullptr;
    std::string path_;
};

// Checksum stored beside each template (FNV-1a, 32 bits).
std::uint32_t templateChecksum(const Template& t);

}  // namespace zpcli
