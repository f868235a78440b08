// The term table 420_DIC in a PostgreSQL database, reached through libpq.
//
// Location: a libpq connection URI, "postgresql://..." or "postgres://...".
// The database is UTF-8; words and labels cross this interface as UTF-8.
// The schema (karvel/schema/postgresql.sql) is the table "420_DIC" with the
// quoted columns "词" (the key) and "附加信息", and a one-row counter
// "420_DIC_VERSION" that a trigger raises on every change of the table.
//
// Lookups: each is one prepared statement with the word bound as its
// parameter, never written into SQL text, on a connection from a pool
// shared by all threads. Nothing a lookup does writes to the database. No
// lookup takes longer than the store's timeout (default 200 ms): connecting,
// preparing and answering all run against one deadline, and a connection
// that misses it is dropped. After a failure the store answers "unavailable"
// at once for a short while instead of trying again on every call, then
// tries again, so a server that is down or stalled costs each caller at
// most one timeout. Each outage is reported once on stderr, as a line
// beginning "karvel: ", and so is the recovery; passwords never appear in
// a message.
//
// Administration (schema, import, export) runs synchronously with no
// lookup deadline: an import is one transaction that copies the rows into a
// staging table, then replaces or merges the table, so that readers see the
// old table or the new one, never a mixture, and concurrent imports take
// turns on the table's lock.
#ifndef KARVEL_SRC_PG_STORE_H
#define KARVEL_SRC_PG_STORE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace karvel {

// `uri` with any password replaced by "***", for messages.
std::string Redacted_Uri(const std::string &uri);

enum class Pg_Answer { kFound, kMissing, kUnavailable };

class Pg_Store {
 public:
  explicit Pg_Store(std::string uri, int timeout_ms = 200);
  ~Pg_Store();
  Pg_Store(const Pg_Store &) = delete;
  Pg_Store &operator=(const Pg_Store &) = delete;

  // Looks `word` up: kFound with its label in *value (with the word itself
  // when `want_word`), kMissing when the table has no such row, kUnavailable
  // when the database could not answer in time or at all.
  Pg_Answer Find(const std::string &word, bool want_word, std::string *value);

  // The change counter of the table, within the lookup deadline.
  bool Version(int64_t *version, std::string *error);

  // Every row with the counter they belong to, read in one snapshot; `row`
  // is called for each (word, label). A generous deadline of its own: for
  // building a copy. Its failure and recovery are reported like a lookup's.
  bool Scan(const std::function<void(const std::string &, const std::string &)> &row, int64_t *version,
            std::string *error);

  // Closes the idle connections.
  void Close_Idle();

  const std::string &Uri() const { return uri_; }

 private:
  struct Impl;
  std::string uri_;
  std::unique_ptr<Impl> impl_;
};

// Creates the schema where it is missing.
bool Pg_Create_Schema(const std::string &uri, std::string *error);

// Loads `rows` (word, label; already checked) into the table in one
// transaction: replacing the whole table, or merging (a word's new label
// wins). On failure the table is as it was.
bool Pg_Import(const std::string &uri, const std::vector<std::pair<std::string, std::string>> &rows, bool replace,
               std::string *error);

// Calls `row` for every row in the order of the words' bytes; stops with
// false when `row` returns false.
bool Pg_Export(const std::string &uri, const std::function<bool(const std::string &, const std::string &)> &row,
               std::string *error);

}  // namespace karvel

#endif
