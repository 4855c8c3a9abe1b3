// A flat copy of a large gallery's snapshot in one file beside it, so that a
// search reads one file instead of every row. The gallery changes a random
// token with every write; a cache made under another token is stale and is
// rebuilt by the next full read.
#pragma once

#include <cstdint>
#include <string>

#include "gallery/store.h"

namespace zpg {

// What the cache must agree with: the gallery's write token and its row count.
struct CacheStamp {
    std::int64_t token = 0;
    std::int64_t rows = 0;
    bool operator==(const CacheStamp&) const = default;
};

// Galleries below this many rows are read from their rows every time.
inline constexpr std::int64_t kCachedGalleryRows = 100000;

// "gallery.db" → "gallery.db-snapshot".
std::string snapshotCachePath(const std::string& gallery);

// Fills into, which comes empty, from the cache when it exists, is whole
// (its own XXH3 checks) and carries stamp; answers false otherwise and
// leaves into empty. The templates array is sized once and never moves.
bool loadSnapshotCache(const std::string& path, const CacheStamp& stamp, Snapshot& into);

// Writes the cache through a temporary file renamed into place. Best effort:
// a gallery whose folder cannot take the file is searched from its rows.
void saveSnapshotCache(const std::string& path, const CacheStamp& stamp, const Snapshot& from) noexcept;

}  // namespace zpg
