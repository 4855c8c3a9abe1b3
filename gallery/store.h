// The identification store: subjects, their fingers and several templates
// per finger, behind one interface so that front ends do not care which
// database holds them.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gallery/records.h"

namespace zpg {

struct Probe;
struct StoreShortLists;

// Every usable template of a gallery, read once for a search: templates
// lie in one array, each finger's templates side by side.
struct Snapshot {
    struct Finger {
        std::string subject;
        int position = kUnknownFinger;
        std::uint32_t begin = 0;  // its templates: [begin, end)
        std::uint32_t end = 0;
    };
    std::vector<Finger> fingers;
    std::vector<Template> templates;
    std::vector<std::uint32_t> fingerOf;  // finger of each template
    std::vector<DamagedRow> damaged;      // rows left out, with the reason
    std::size_t subjects() const;
    // Sizes the templates array once for rows rows, asking the system for
    // large pages: a million templates then fault in a few hundred pages.
    void reserveTemplates(std::size_t rows);
};

struct CheckReport {
    std::vector<std::string> problems;  // the database's integrity check and the store's own counts
    std::vector<DamagedRow> damaged;
    std::size_t templates = 0;          // rows read
    int schemaVersion = 0;
    bool sound() const { return problems.empty() && damaged.empty(); }
};

// What happens when a subject's finger is already enrolled.
enum class Existing {
    Refuse,   // an error naming the finger
    Replace,  // start over: the kept templates go
    Add,      // the kept templates are offered again with the new ones
};

struct NewTemplate {
    Template templ{};
    std::string impression;
    int window = 0;  // which window of the capture (StoredTemplate::window)
};

class Store {
  public:
    virtual ~Store() = default;
    virtual const std::string& location() const = 0;
    virtual int schemaVersion() const = 0;

    // Every row in (subject, finger, slot) order: usable templates in the
    // snapshot, the others listed as damaged. A database error throws.
    Snapshot snapshot() {
        Snapshot s;
        readSnapshot(s, {});
        return s;
    }
    // The same into the caller's snapshot. arrived, when given, is called now
    // and then with the number of templates in place so far: into's array is
    // reserved up front and never moves, so other threads may read what has
    // arrived, also after an error ends the read.
    using Arrival = std::function<void(std::size_t arrived)>;
    virtual void readSnapshot(Snapshot& into, const Arrival& arrived) = 0;
    // The rows of one subject (finger kAllFingers: every finger), with their
    // impressions and times; damaged ones are listed apart.
    static constexpr int kAllFingers = -1;
    virtual std::vector<StoredTemplate> templatesOf(const std::string& subject, int finger,
                                                    std::vector<DamagedRow>& damaged) = 0;
    // Every row with its impression and time (for listings).
    virtual std::vector<StoredTemplate> rows(std::vector<DamagedRow>& damaged) = 0;

    // Enrols one finger in a single write transaction: decide receives the
    // templates kept so far (with Existing::Add; none otherwise) and returns
    // those to keep, best first; an empty answer writes nothing. A finger
    // that exists is refused with Existing::Refuse.
    using Decision = std::function<std::vector<NewTemplate>(const std::vector<StoredTemplate>& kept)>;
    virtual void enrol(const std::string& subject, int finger, Existing existing, const Decision& decide) = 0;
    // Removes a subject's finger (or every finger); answers the templates removed.
    virtual std::size_t remove(const std::string& subject, int finger) = 0;
    // Stores new rows in one transaction; a row that exists is an error.
    // A row's enrolment time is kept when given (a copy between galleries).
    virtual void add(const std::vector<StoredTemplate>& rows) = 0;

    // The database's own integrity check, then every row's checksum and
    // decoder test.
    virtual CheckReport check() = 0;
    // A consistent copy of the whole gallery, taken while others use it.
    virtual void backup(const std::string& path) = 0;

    // A store that searches next to its rows short-lists each probe's
    // fingers itself (length fingers per probe), so that only the short
    // lists leave it. False: not offered; the caller reads the whole gallery.
    virtual bool shortLists(const std::vector<Probe>& /*probes*/, std::size_t /*length*/, StoreShortLists& /*into*/) {
        return false;
    }
};

// Opens a gallery: a postgresql:// or postgres:// URI names a database
// served by PostgreSQL with the zpapi extension, anything else an SQLite
// file. Read-only opens never create or change anything; a write open
// creates the gallery when missing (Modify: only an existing one) and
// brings a gallery of an earlier layout up to date in one transaction.
enum class Access { Read, Write, Modify };
std::unique_ptr<Store> openGallery(const std::string& location, Access access);
// True when openGallery would take location for a server's URI.
bool isServerLocation(const std::string& location);
// location with any password in it replaced by "***", for messages.
std::string maskedLocation(const std::string& location);

}  // namespace zpg
