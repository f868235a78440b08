// The writer of the term table 420_DIC, in an SQLite database file or a
// PostgreSQL database (a "postgresql://" or "postgres://" URI): what the
// commands `tesq terms import`, `export` and `init` do. Each gives back its
// status and its messages ("FILE:LINE: reason", "nothing imported, ...",
// the closing line of a success), for the caller to show; nothing is
// printed here. A URI is never shown with its password. Formats and
// guarantees: term_writer.cc.
#ifndef KARVEL_SRC_TERM_WRITER_H
#define KARVEL_SRC_TERM_WRITER_H

#include <functional>
#include <string>
#include <vector>

namespace karvel {

// The database written when none is named: TESQ_DB, else "terms.db" in the
// data directory.
std::string Terms_Default_Database();

enum class Terms_Status { kDone, kFailed };

// What a call did: its status and its messages, one line each, in order,
// without a line end (the last one says how it ended).
struct Terms_Result {
  Terms_Status status = Terms_Status::kFailed;
  std::vector<std::string> messages;

  void Say(std::string line);
  Terms_Result &Done();
};

// What a long import tells while it runs: every 100,000 lines read, and a
// wait for another import into the same database (before waiting). Either
// may be empty.
struct Terms_Progress {
  std::function<void(long lines)> lines;
  std::function<void(const std::string &message)> note;
};

// Loads the terms of `source` (a file, or "-" for standard input) into
// `database`: all or nothing, replacing the table or merging into it.
Terms_Result Terms_Import(const std::string &source, const std::string &database, bool replace,
                          const Terms_Progress &progress = {});

// Writes every term of `database` to `destination` (a file, or "-").
Terms_Result Terms_Export(const std::string &database, const std::string &destination);

// Creates the table where it is missing; the terms already there stay.
Terms_Result Terms_Init(const std::string &database);

}  // namespace karvel

#endif
