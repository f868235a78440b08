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
// most one timeout. A single slow answer of a server that is up is not an
// outage: the store backs off only after a connection fails or
// kStrikesBeforeBackOff calls in a row missed the deadline. Each outage is
// reported once on stderr, as a line beginning "karvel: ", and so is the
// recovery; passwords never appear in a message, libpq's own included.
//
// A table that cannot answer as the schema says (the table or a column
// renamed or dropped, the counter's table without its one row) is not an
// outage either: it is reported once per fault, lookups find no value where
// the table cannot answer them, and a copy is not kept of a table whose
// changes cannot be followed.
//
// Administration (schema, import, export) runs synchronously with no
// lookup deadline: an import is one transaction that copies the rows into a
// staging table, then replaces or merges the table, so that readers see the
// old table or the new one, never a mixture, and concurrent imports take
// turns on the table's lock.
#ifndef KARVEL_SRC_PG_STORE_H
#define KARVEL_SRC_PG_STORE_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace karvel {

// `uri` with any password replaced by "***", for messages: the user
// information runs from "://" to the last '@' (a password may hold '/', '?'
// or '@' of its own), and a "password=" parameter is hidden too.
std::string Redacted_Uri(const std::string &uri);

// `message` (from libpq or the server, about `uri`) without the URI's
// password: the URI itself, the password, its decoded form and each of its
// parts that libpq may quote separately (split at '@', '/', '?', ':', '#',
// '&', '=' or '%', 3 bytes or more) are replaced.
std::string Scrubbed(const std::string &uri, const std::string &message);

// Consecutive lookups that miss the deadline before the store backs off.
constexpr int kStrikesBeforeBackOff = 2;

// kBroken: the table cannot answer as the schema says (reported).
enum class Pg_Answer { kFound, kMissing, kUnavailable, kBroken };

class Pg_Store {
 public:
  explicit Pg_Store(std::string uri, int timeout_ms = 200);
  ~Pg_Store();
  Pg_Store(const Pg_Store &) = delete;
  Pg_Store &operator=(const Pg_Store &) = delete;

  // Looks `word` up: kFound with its label in *value (with the word itself
  // when `want_word`), kMissing when the table has no such row, kUnavailable
  // when the database could not answer in time or at all, kBroken when the
  // table cannot be asked.
  Pg_Answer Find(const std::string &word, bool want_word, std::string *value);

  // The table's stamp, within the lookup deadline: its change counter, its
  // identity and its columns, so that a change of its rows and a rename or
  // change of the table (which raises no counter) both show. kFound with
  // *stamp and the counter in *version (when given); kUnavailable; kBroken
  // when the counter's table does not hold exactly one row, or the table
  // or one of its two columns is missing.
  Pg_Answer Stamp(std::string *stamp, int64_t *version = nullptr);

  // Every row with the stamp they belong to, read in one snapshot; `row` is
  // called for each (word, label). A generous deadline of its own: for
  // building a copy; it gives up early (kUnavailable) once *stopping is set.
  // `between`, when given, is called after the stamp is read and before the
  // rows are (a seam for tests: what it commits must not reach this read).
  // A lost connection is reported like a lookup's; a missed deadline is
  // not, and puts no lookup into back-off.
  Pg_Answer Scan(const std::function<void(const std::string &, const std::string &)> &row, std::string *stamp,
                 const std::atomic<bool> *stopping = nullptr, const std::function<void()> &between = nullptr);

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
