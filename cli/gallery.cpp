#include "gallery.h"

#include <cstdio>
#include <cstring>
#include <filesystem>

namespace zpcli {
namespace {

class Statement {
  public:
    Statement(sqlite3* db, const char* sql, const std::string& path) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            throw InputError{path + ": gallery error: " + sqlite3_errmsg(db)};
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    sqlite3_stmt* get() { return stmt_; }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

}  // namespace

std::uint32_t templateChecksum(const Template& t) {
    std::uint32_t h = 2166136261U;
    for (std::uint8_t b : t) {
        h ^= b;
        h *= 16777619U;
    }
    return h;
}

Gallery::Gallery(const std::string& path, bool create) : path_(path) {
    std::error_code ec;
    if (!create && !std::filesystem::exists(path, ec))
        throw InputError{path + ": no such gallery (enrol a finger first)"};
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        const std::string why = db_ ? sqlite3_errmsg(db_) : "cannot open";
        sqlite3_close(db_);
        db_ = nullptr;
        throw InputError{path + ": cannot open gallery: " + why};
    }
    sqlite3_busy_timeout(db_, 5000);
    try {
        exec("CREATE TABLE IF NOT EXISTS templates ("
             " id TEXT PRIMARY KEY NOT NULL,"
             " template BLOB NOT NULL CHECK (length(template) = 256),"
             " checksum INTEGER NOT NULL,"
             " enrolled TEXT NOT NULL DEFAULT (datetime('now')))");
    } catch (const InputError& e) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw InputError{path + ": not a zpapi gallery (" + e.message + ")"};
    }
}

Gallery::~Gallery() { sqlite3_close(db_); }

void Gallery::exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string why = error ? error : "unknown error";
        sqlite3_free(error);
        throw InputError{path_ + ": gallery error: " + why};
    }
}

void Gallery::put(const std::string& id, const Template& t) { putMany({{id, t}}); }

void Gallery::putMany(const std::vector<GalleryEntry>& entries) {
    for (const GalleryEntry& e : entries) {
        const std::string why = templateRejection(e.templ);
        if (!why.empty()) throw InputError{"template of '" + e.id + "' not stored: " + why};
        if (e.id.empty()) throw InputError{"an empty id cannot be stored"};
    }
    exec("BEGIN IMMEDIATE");
    try {
        Statement st(db_, "INSERT OR REPLACE INTO templates (id, template, checksum) VALUES (?, ?, ?)", path_);
        for (const GalleryEntry& e : entries) {
            sqlite3_bind_text(st.get(), 1, e.id.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_blob(st.get(), 2, e.templ.data(), ZP_TEMPLATE_SIZE, SQLITE_STATIC);
            sqlite3_bind_int64(st.get(), 3, templateChecksum(e.templ));
            if (sqlite3_step(st.get()) != SQLITE_DONE) throw InputError{path_ + ": gallery write failed: " + sqlite3_errmsg(db_)};
            sqlite3_reset(st.get());
        }
        exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

bool Gallery::get(const std::string& id, Template& t) {
    Statement st(db_, "SELECT template, checksum FROM templates WHERE id = ?", path_);
    sqlite3_bind_text(st.get(), 1, id.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(st.get()) != SQLITE_ROW) return false;
    const void* blob = sqlite3_column_blob(st.get(), 0);
    if (blob == nullptr || sqlite3_column_bytes(st.get(), 0) != ZP_TEMPLATE_SIZE)
        throw InputError{path_ + ": stored template of '" + id + "' is corrupt (wrong length)"};
    std::memcpy(t.data(), blob, ZP_TEMPLATE_SIZE);
    if (templateChecksum(t) != static_cast<std::uint32_t>(sqlite3_column_int64(st.get(), 1)))
        throw InputError{path_ + ": stored template of '" + id + "' is corrupt (checksum mismatch)"};
    return true;
}

bool Gallery::remove(const std::string& id) {
    exec("BEGIN IMMEDIATE");
    Statement st(db_, "DELETE FROM templates WHERE id = ?", path_);
    sqlite3_bind_text(st.get(), 1, id.c_str(), -1, SQLITE_TRANSIENT);
    const bool ok = sqlite3_step(st.get()) == SQLITE_DONE;
    const bool removed = ok && sqlite3_changes(db_) > 0;
    exec(ok ? "COMMIT" : "ROLLBACK");
    return removed;
}

std::vector<GalleryEntry> Gallery::all(std::size_t& skipped) {
    skipped = 0;
    std::vector<GalleryEntry> out;
    out.reserve(size());
    Statement st(db_, "SELECT id, template, checksum FROM templates ORDER BY id", path_);
    while (sqlite3_step(st.get()) == SQLITE_ROW) {
        GalleryEntry e;
        const unsigned char* id = sqlite3_column_text(st.get(), 0);
        e.id = id ? reinterpret_cast<const char*>(id) : "";
        const void* blob = sqlite3_column_blob(st.get(), 1);
        const bool sized = blob != nullptr && sqlite3_column_bytes(st.get(), 1) == ZP_TEMPLATE_SIZE;
        if (sized) std::memcpy(e.templ.data(), blob, ZP_TEMPLATE_SIZE);
        if (!sized || templateChecksum(e.templ) != static_cast<std::uint32_t>(sqlite3_column_int64(st.get(), 2)) ||
            !templateRejection(e.templ).empty()) {
            std::fprintf(stderr, "zpapi: %s: stored template of '%s' is corrupt; skipped\n", path_.c_str(),
                         e.id.c_str());
            ++skipped;
            continue;
        }
        out.push_back(std::move(e));
    }
    return out;
}

std::size_t Gallery::size() {
    Statement st(db_, "SELECT count(*) FROM templates", path_);
    return sqlite3_step(st.get()) == SQLITE_ROW ? static_cast<std::size_t>(sqlite3_column_int64(st.get(), 0)) : 0;
}

}  // namespace zpcli
