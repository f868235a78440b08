// The writer of the term table 420_DIC, in an SQLite database file or a
// PostgreSQL database (a "postgresql://" or "postgres://" URI): what the
// commands `tesq terms import`, `export` and `init` do. Each returns the
// command's exit status (0 done, 1 failed) and prints the command's
// messages on stderr ("tesq terms import: FILE:LINE: reason", ...); a URI
// is never shown with its password. Formats and guarantees: term_writer.cc.
#ifndef KARVEL_SRC_TERM_WRITER_H
#define KARVEL_SRC_TERM_WRITER_H

#include <string>

namespace karvel {

// The database written when none is named: TESQ_DB, else "terms.db" in the
// data directory.
std::string Terms_Default_Database();

// Loads the terms of `source` (a file, or "-" for standard input) into
// `database`: all or nothing, replacing the table or merging into it.
int Terms_Import(const std::string &source, const std::string &database, bool replace);

// Writes every term of `database` to `destination` (a file, or "-").
int Terms_Export(const std::string &database, const std::string &destination);

// Creates the table where it is missing; the terms already there stay.
int Terms_Init(const std::string &database);

}  // namespace karvel

#endif
