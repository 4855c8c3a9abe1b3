// The backends openGallery chooses between.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "gallery/store.h"

namespace zpg {

std::unique_ptr<Store> openSqliteGallery(const std::string& path, Access access);
std::unique_ptr<Store> openPostgresGallery(const std::string& uri, Access access);

// Checks every backend makes the same way before it writes, so that all
// answer alike. An enrolment of a finger that has kept (and damaged) rows:
std::string enrolRefusal(const std::string& location, const std::string& subject, int finger, Existing existing,
                         std::size_t kept, const std::vector<DamagedRow>& damaged);
// Templates chosen for a finger, and rows to add: throws Error naming the
// first that cannot be stored.
void checkChosen(const std::vector<NewTemplate>& chosen);
void checkNewRows(const std::vector<StoredTemplate>& rows);
// Appends a usable row of a read in (subject, finger, slot) order.
void appendToSnapshot(Snapshot& s, std::string_view subject, int finger, const Template& t);

}  // namespace zpg
