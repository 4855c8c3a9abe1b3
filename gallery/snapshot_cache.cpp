#include "gallery/snapshot_cache.h"

#include <unistd.h>
#include <xxhash.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>

namespace zpg {
namespace {

// File layout (native byte order, as the machine that searches wrote it):
// header, the templates side by side, then the fingers and the damaged rows
// as fixed fields followed by their strings. The header's hash covers all
// that follows it.
constexpr char kMagic[8] = {'Z', 'P', 'G', 'S', 'N', 'A', 'P', '1'};

struct Header {
    char magic[8];
    std::int64_t token;
    std::int64_t rows;
    std::uint64_t fingers;
    std::uint64_t templates;
    std::uint64_t damaged;
    std::uint64_t tailBytes;  // fingers and damaged rows after the templates
    std::uint64_t hash;
};

struct FingerEntry {
    std::int32_t position;
    std::uint32_t begin;
    std::uint32_t end;
    std::uint32_t subjectBytes;
};

struct DamagedEntry {
    std::int32_t finger;
    std::int32_t slot;
    std::uint32_t subjectBytes;
    std::uint32_t reasonBytes;
};

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

template <class T>
void put(std::string& out, const T& value) {
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Reads fields and strings from the tail, refusing to run past its end.
class TailReader {
  public:
    explicit TailReader(std::string_view tail) : rest_(tail) {}
    template <class T>
    bool get(T& value) {
        if (rest_.size() < sizeof value) return false;
        std::memcpy(&value, rest_.data(), sizeof value);
        rest_.remove_prefix(sizeof value);
        return true;
    }
    bool text(std::uint32_t bytes, std::string& out) {
        if (rest_.size() < bytes) return false;
        out.assign(rest_.data(), bytes);
        rest_.remove_prefix(bytes);
        return true;
    }
    bool done() const { return rest_.empty(); }

  private:
    std::string_view rest_;
};

std::string tailOf(const Snapshot& s) {
    std::string tail;
    for (const Snapshot::Finger& f : s.fingers) {
        put(tail, FingerEntry{f.position, f.begin, f.end, static_cast<std::uint32_t>(f.subject.size())});
        tail += f.subject;
    }
    for (const DamagedRow& d : s.damaged) {
        put(tail, DamagedEntry{d.finger, d.slot, static_cast<std::uint32_t>(d.subject.size()),
                               static_cast<std::uint32_t>(d.reason.size())});
        tail += d.subject;
        tail += d.reason;
    }
    return tail;
}

// The header's hash: XXH3 over the templates, then the tail. None when the
// hash state cannot be allocated.
std::optional<XXH64_hash_t> contentHash(const std::vector<Template>& templates, std::string_view tail) {
    XXH3_state_t* state = XXH3_createState();
    if (state == nullptr) return std::nullopt;
    XXH3_64bits_reset(state);
    XXH3_64bits_update(state, templates.data(), templates.size() * sizeof(Template));
    XXH3_64bits_update(state, tail.data(), tail.size());
    const XXH64_hash_t hash = XXH3_64bits_digest(state);
    XXH3_freeState(state);
    return hash;
}

bool parseTail(std::string_view tail, const Header& h, Snapshot& s) {
    TailReader in(tail);
    s.fingers.resize(h.fingers);
    s.fingerOf.resize(h.templates);
    std::uint32_t expected = 0;  // fingers tile the templates in order
    for (std::size_t i = 0; i < s.fingers.size(); ++i) {
        Snapshot::Finger& f = s.fingers[i];
        FingerEntry e{};
        if (!in.get(e) || !in.text(e.subjectBytes, f.subject)) return false;
        if (e.begin != expected || e.end <= e.begin || e.end > h.templates) return false;
        f.position = e.position;
        f.begin = e.begin;
        f.end = e.end;
        for (std::uint32_t t = e.begin; t < e.end; ++t) s.fingerOf[t] = static_cast<std::uint32_t>(i);
        expected = e.end;
    }
    if (expected != h.templates) return false;
    s.damaged.resize(h.damaged);
    for (DamagedRow& d : s.damaged) {
        DamagedEntry e{};
        if (!in.get(e) || !in.text(e.subjectBytes, d.subject) || !in.text(e.reasonBytes, d.reason)) return false;
        d.finger = e.finger;
        d.slot = e.slot;
    }
    return in.done();
}

bool load(const std::string& path, const CacheStamp& stamp, Snapshot& into) {
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) return false;
    Header h{};
    if (std::fread(&h, sizeof h, 1, file.get()) != 1) return false;
    if (std::memcmp(h.magic, kMagic, sizeof kMagic) != 0 || h.token != stamp.token || h.rows != stamp.rows)
        return false;
    // Sizes come from the file: bound them by its length before reserving.
    if (std::fseek(file.get(), 0, SEEK_END) != 0) return false;
    const long length = std::ftell(file.get());
    if (length < 0 || std::fseek(file.get(), sizeof h, SEEK_SET) != 0) return false;
    const std::uint64_t body = static_cast<std::uint64_t>(length) - sizeof h;
    if (h.templates > body / sizeof(Template) || h.tailBytes != body - h.templates * sizeof(Template) ||
        h.fingers > h.templates || h.damaged > h.tailBytes / sizeof(DamagedEntry) ||
        h.templates + h.damaged != static_cast<std::uint64_t>(stamp.rows))
        return false;
    into.reserveTemplates(h.templates);
    into.templates.resize(h.templates);
    if (h.templates > 0 && std::fread(into.templates.data(), sizeof(Template), h.templates, file.get()) != h.templates)
        return false;
    std::string tail(h.tailBytes, '\0');
    if (!tail.empty() && std::fread(tail.data(), 1, tail.size(), file.get()) != tail.size()) return false;
    return contentHash(into.templates, tail) == h.hash && parseTail(tail, h, into);
}

}  // namespace

std::string snapshotCachePath(const std::string& gallery) { return gallery + "-snapshot"; }

bool loadSnapshotCache(const std::string& path, const CacheStamp& stamp, Snapshot& into) {
    if (load(path, stamp, into)) return true;
    into = Snapshot{};
    return false;
}

void saveSnapshotCache(const std::string& path, const CacheStamp& stamp, const Snapshot& from) noexcept {
    std::string temporary;
    try {
        temporary = path + ".partial-" + std::to_string(::getpid());
    } catch (...) {
        return;
    }
    // First the file: a folder that cannot take it costs no tail and no hash.
    File file(std::fopen(temporary.c_str(), "wb"));
    if (!file) return;
    bool written = false;
    try {
        const std::string tail = tailOf(from);
        Header h{};
        std::memcpy(h.magic, kMagic, sizeof kMagic);
        h.token = stamp.token;
        h.rows = stamp.rows;
        h.fingers = from.fingers.size();
        h.templates = from.templates.size();
        h.damaged = from.damaged.size();
        h.tailBytes = tail.size();
        if (const std::optional<XXH64_hash_t> hash = contentHash(from.templates, tail)) {
            h.hash = *hash;
            written = std::fwrite(&h, sizeof h, 1, file.get()) == 1 &&
                      (from.templates.empty() ||
                       std::fwrite(from.templates.data(), sizeof(Template), from.templates.size(), file.get()) ==
                           from.templates.size()) &&
                      (tail.empty() || std::fwrite(tail.data(), 1, tail.size(), file.get()) == tail.size()) &&
                      std::fflush(file.get()) == 0;
        }
    } catch (...) {
        // Out of memory for the tail: the next search reads the rows again.
    }
    written = std::fclose(file.release()) == 0 && written;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) std::remove(temporary.c_str());
}

}  // namespace zpg
