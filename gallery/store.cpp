#include "gallery/backends.h"

#include <sys/mman.h>

#include <cstdint>

namespace zpg {

std::size_t Snapshot::subjects() const {
    std::size_t n = 0;
    for (std::size_t i = 0; i < fingers.size(); ++i)
        if (i == 0 || fingers[i].subject != fingers[i - 1].subject) ++n;
    return n;
}

void Snapshot::reserveTemplates(std::size_t rows) {
    templates.reserve(rows);
    fingerOf.reserve(rows);
    // Whole large pages inside the fresh, untouched array; advice only.
    constexpr std::uintptr_t kLargePage = std::uintptr_t{2} << 20;
    const auto begin = reinterpret_cast<std::uintptr_t>(templates.data());
    const std::uintptr_t end = begin + rows * sizeof(Template);
    const std::uintptr_t first = (begin + kLargePage - 1) & ~(kLargePage - 1);
    if (end > first + kLargePage)
        madvise(reinterpret_cast<void*>(first), (end - first) & ~(kLargePage - 1), MADV_HUGEPAGE);
}

void appendToSnapshot(Snapshot& s, std::string_view subject, int finger, const Template& t) {
    if (s.fingers.empty() || s.fingers.back().position != finger || s.fingers.back().subject != subject) {
        const auto at = static_cast<std::uint32_t>(s.templates.size());
        s.fingers.push_back({std::string(subject), finger, at, at});
    }
    s.templates.push_back(t);
    s.fingerOf.push_back(static_cast<std::uint32_t>(s.fingers.size() - 1));
    ++s.fingers.back().end;
}

std::string enrolRefusal(const std::string& location, const std::string& subject, int finger, Existing existing,
                         std::size_t kept, const std::vector<DamagedRow>& damaged) {
    const std::size_t stored = kept + damaged.size();
    if (stored > 0 && existing == Existing::Refuse)
        return location + ": " + subject + " already has the " + fingerName(finger) + " finger enrolled (" +
               std::to_string(stored) + " templates); --replace starts it over, --add merges new impressions";
    if (!damaged.empty() && existing == Existing::Add)
        return location + ": " + rowName(damaged[0].subject, damaged[0].finger, damaged[0].slot) + " is damaged (" +
               damaged[0].reason + "); --replace starts the finger over";
    return {};
}

void checkChosen(const std::vector<NewTemplate>& chosen) {
    if (chosen.size() > static_cast<std::size_t>(kMaxTemplatesPerFinger))
        throw Error{"at most " + std::to_string(kMaxTemplatesPerFinger) + " templates are kept per finger"};
    for (const NewTemplate& n : chosen) {
        if (const std::string why = templateRejection(n.templ); !why.empty())
            throw Error{n.impression + ": template not stored: " + why};
    }
}

void checkNewRows(const std::vector<StoredTemplate>& rows) {
    for (const StoredTemplate& r : rows) {
        if (r.subject.empty()) throw Error{"an empty subject id cannot be stored"};
        if (const std::string why = templateRejection(r.templ); !why.empty())
            throw Error{rowName(r.subject, r.finger, r.slot) + ": template not stored: " + why};
    }
}

}  // namespace zpg
