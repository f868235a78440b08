// Where the service libraries find their data (dictionaries, segmenter
// lexicon, term database).
#ifndef TESQ_COMMON_DATA_DIR_H
#define TESQ_COMMON_DATA_DIR_H

#include <string>

namespace tesq {

// TESQ_DATA_DIR when it is set and not empty; otherwise the data directory
// that belongs to the calling library: the build tree's data directory for a
// library inside the build tree, the installed data directory for an
// installed one. `self` is any address inside the calling library.
std::string Data_Directory(const void *self);

// True when a term database location (TESQ_DB, --db) is a PostgreSQL
// connection URI, "postgresql://..." or "postgres://...", rather than the
// path of an SQLite file.
bool Is_Postgres_Uri(const char *location);

// Joins a directory and a file name with one separator.
std::string Join_Path(const std::string &dir, const std::string &name);

}  // namespace tesq

#endif
