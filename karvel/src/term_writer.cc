// The writer of the term table 420_DIC, for both stores: what `tesq terms
// import`, `export` and `init` do; each gives back its status and its
// messages, which the tool prints.
//
// The source format is UTF-8 text, one term per line: the word, one tab, the
// label ("word<TAB>label"); a line may end in CR LF; blank lines are skipped;
// a byte order mark at the start of the file is ignored. The word must not be
// empty; neither part may hold another tab or a control character (one CR
// before the line feed is the line end, not part of the label); the label
// must not be empty nor hold '"', '<', '>' or '&', which the query document
// cannot carry (term_text.h); both must be GB2312 text, and the label at
// most 127 bytes in GB2312 (what the classifier's label buffer holds). When
// a word appears twice the later line wins. Words and labels are stored in
// the form they take after a round trip through GB2312, which is the form
// the lookups ask for. A source that cannot be read to its end (a read
// error, a directory, a closed standard input) is an error, never an early
// end.
//
// SQLite. Import is all or nothing. Every import builds the new database in a
// temporary file beside the target and renames it over the target once
// complete, so readers see the old table or the new one, never a part, and a
// bad line, a failure or a kill (even kill -9) leaves the database file as it
// was: it is never written in place, so no journal is ever left beside it for
// a read-only reader to trip over. The new file is always in rollback-journal
// mode. A merge (no --replace) starts from a copy of the current database.
//
// The target is the database's real place (a symbolic link is followed and
// stays); a directory, FIFO or device there is refused, and so is a dangling
// link. Concurrent imports into one database take turns, whether it exists
// yet or not: each holds an exclusive lock on "<database>.lock" (a file left
// beside it) from before it reads the current terms until the rename; while
// it builds its file it also holds SQLite's write lock on the current
// database, so other writers wait too.
//
// Export writes every term in that same format, ordered by word, so importing
// an export gives the same table back; a file destination is replaced like
// the database (at its real place; a regular file or nothing).
//
// PostgreSQL (a URI). Every line is read and checked first; then the rows
// go into the table in one transaction (COPY into a staging table, then
// replace or merge: pg_store.h), so an error leaves the table as it was and
// lookups see the old table or the new one. The schema is created by `init`
// or by the first import. Export reads the table in one snapshot.
#include <dirent.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "data_dir.h"
#include "gb2312.h"
#include "platform.h"
#include "term_schema.h"
#include "term_text.h"
#include "term_writer.h"
#ifdef KARVEL_HAS_POSTGRESQL
#include "pg_store.h"
#endif

namespace karvel {
void Terms_Result::Say(std::string line) { messages.push_back(std::move(line)); }

Terms_Result &Terms_Result::Done() {
  status = Terms_Status::kDone;
  return *this;
}

namespace {

// printf into a string, for messages.
std::string Printed(const char *format, ...) __attribute__((format(printf, 1, 2)));
std::string Printed(const char *format, ...) {
  va_list args;
  va_start(args, format);
  char small[512];
  const int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) return format;
  if (static_cast<size_t>(n) < sizeof small) return std::string(small, static_cast<size_t>(n));
  std::string text(static_cast<size_t>(n) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(&text[0], text.size(), format, args);
  va_end(args);
  text.resize(static_cast<size_t>(n));
  return text;
}

constexpr long kProgressEvery = 100000;

}  // namespace

std::string Terms_Default_Database() {
  const char *db = std::getenv("TESQ_DB");
  if (db != nullptr && db[0] != '\0') return db;
  static const int anchor = 0;
  return tesq::Join_Path(tesq::Data_Directory(&anchor), "terms.db");
}

namespace {

// Reads lines from a stdio stream, bytes unchanged (a NUL byte included),
// and tells a read error from the end of the input: a stream that fails
// part-way (EIO, EISDIR, a closed descriptor) is an error, never an early
// end.
class Line_Reader {
 public:
  explicit Line_Reader(FILE *file) : file_(file) {}
  // The next line without its line feed; false at the end or on an error.
  bool Next(std::string *line) {
    line->clear();
    for (;;) {
      if (start_ == end_ && !Fill()) return !line->empty();
      const char *newline = static_cast<const char *>(std::memchr(buffer_ + start_, '\n', end_ - start_));
      const size_t stop = newline != nullptr ? static_cast<size_t>(newline - buffer_) : end_;
      line->append(buffer_ + start_, stop - start_);
      start_ = newline != nullptr ? stop + 1 : stop;
      if (newline != nullptr) return true;
    }
  }
  // errno of a failed read, 0 when the input simply ended.
  int Error() const { return error_; }

 private:
  bool Fill() {
    if (file_ == nullptr || error_ != 0 || std::feof(file_)) return false;
    errno = 0;
    start_ = 0;
    end_ = std::fread(buffer_, 1, sizeof buffer_, file_);
    if (end_ == 0 && std::ferror(file_)) error_ = errno != 0 ? errno : EIO;
    return end_ > 0;
  }

  FILE *file_;
  char buffer_[1 << 16];
  size_t start_ = 0, end_ = 0;
  int error_ = 0;
};

// The real place of a file that is replaced by renaming a new file over it:
// the rename must land where the name leads (a symbolic link stays and its
// target is replaced), and only a regular file, or nothing, may be replaced.
// `wanted` names what the file should be ("a term database").
bool Replacement_Target(const std::string &path, const char *wanted, std::string *real, std::string *error) {
  if (!tesq::Real_Path(path, real)) {
    *error = errno == ENOENT ? "its directory is missing, or it is a symbolic link to a missing file"
                             : std::strerror(errno);
    return false;
  }
  const tesq::File_Identity identity = tesq::Identify_File(real->c_str());
  if (identity.known && !identity.regular) {
    *error = std::string(identity.directory ? "is a directory" : "is not a regular file (a FIFO, device or socket)") +
             ", not " + wanted;
    return false;
  }
  if (!identity.known && identity.error != ENOENT) {
    *error = std::strerror(identity.error);
    return false;
  }
  return true;
}

// One database connection, closed on every path.
class Database {
 public:
  Database() = default;
  Database(const Database &) = delete;
  Database &operator=(const Database &) = delete;
  ~Database() { Close(); }
  void Close() {
    for (sqlite3_stmt *stmt : statements_) sqlite3_finalize(stmt);
    statements_.clear();
    if (db_ != nullptr) sqlite3_close(db_);
    db_ = nullptr;
  }
  bool Open(const std::string &path, int flags, std::string *error) {
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) == SQLITE_OK) {
      sqlite3_busy_timeout(db_, 5000);
      return true;
    }
    *error = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
    return false;
  }
  bool Exec(const char *sql, std::string *error) {
    if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK) return true;
    *error = sqlite3_errmsg(db_);
    return false;
  }
  sqlite3_stmt *Prepare(const char *sql, std::string *error) {
    sqlite3_stmt *stmt = nullptr;
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) != SQLITE_OK) {
      *error = sqlite3_errmsg(db_);
      sqlite3_finalize(stmt);
      return nullptr;
    }
    statements_.push_back(stmt);
    return stmt;
  }
  std::string Error() const { return sqlite3_errmsg(db_); }
  sqlite3 *Handle() const { return db_; }
  // Runs a query for whether it gives a row; -1 on error.
  int Has_Row(const char *sql, std::string *error) {
    sqlite3_stmt *stmt = Prepare(sql, error);
    if (stmt == nullptr) return -1;
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW || rc == SQLITE_DONE) return rc == SQLITE_ROW;
    *error = sqlite3_errmsg(db_);
    return -1;
  }

 private:
  sqlite3 *db_ = nullptr;
  std::vector<sqlite3_stmt *> statements_;
};

// Checks one part of a line and gives its stored form (UTF-8 after a round
// trip through GB2312); `gb_length` receives its length in GB2312.
bool Term_Part(const std::string &text, const char *what, std::string *stored, size_t *gb_length,
               std::string *error) {
  std::string gbtext, why;
  if (!gb::Utf8_To_Gb(text, &gbtext, &why)) {
    *error = std::string(what) + ": " + why;
    return false;
  }
  gb::Gb_To_Utf8(gbtext, stored);
  *gb_length = gbtext.size();
  return true;
}

// Checks one line of the source; on success `word` and `label` hold the
// stored forms.
bool Term_Line(std::string line, std::string *word, std::string *label, std::string *error) {
  if (line.find('\0') != std::string::npos) {
    *error = "the line contains a NUL byte";
    return false;
  }
  const size_t tab = line.find('\t');
  if (tab == std::string::npos) {
    *error = "missing tab between word and label";
    return false;
  }
  if (line.find('\t', tab + 1) != std::string::npos) {
    *error = "more than one tab (expected 'word<TAB>label')";
    return false;
  }
  // Control characters and, in labels, what the query document cannot
  // carry are refused before the encoding is looked at.
  *error = tesq::Word_Fault(std::string_view(line).substr(0, tab));
  if (error->empty()) *error = tesq::Label_Fault(std::string_view(line).substr(tab + 1));
  if (!error->empty()) return false;
  size_t word_length = 0, label_length = 0;
  if (!Term_Part(line.substr(0, tab), "word", word, &word_length, error)) return false;
  if (!Term_Part(line.substr(tab + 1), "label", label, &label_length, error)) return false;
  if (label_length > tesq::kMax_Label_Bytes) {
    *error = "label is " + std::to_string(label_length) + " bytes in GB2312, at most " +
             std::to_string(tesq::kMax_Label_Bytes) + " fit";
    return false;
  }
  return true;
}

// The terms of an import source, line by line, checked; both stores read
// them so. A bad line or a read error is reported as "SOURCE:LINE: reason"
// (or "SOURCE: read error after line N") and ends the source.
class Term_Source {
 public:
  // Bad lines are said to `out`; `progress` (may be null or empty) hears
  // of every kProgressEvery lines.
  Term_Source(FILE *file, std::string name, Terms_Result *out, const std::function<void(long)> *progress)
      : in_(file), name_(std::move(name)), out_(out), progress_(progress) {}
  // The next term (stored forms); false at the end or on an error (then
  // Failed()).
  bool Next(std::string *word, std::string *label) {
    std::string error;
    while (in_.Next(&line_)) {
      ++line_number_;
      if (!line_.empty() && line_.back() == '\r') line_.pop_back();
      if (line_number_ == 1 && line_.compare(0, 3, "\xEF\xBB\xBF") == 0) line_.erase(0, 3);
      if (line_.empty()) continue;
      if (!Term_Line(line_, word, label, &error)) {
        out_->Say(Printed("%s:%ld: %s", name_.c_str(), line_number_, error.c_str()));
        failed_ = true;
        return false;
      }
      if (progress_ != nullptr && *progress_ && line_number_ % kProgressEvery == 0) (*progress_)(line_number_);
      return true;
    }
    if (in_.Error() != 0) {
      out_->Say(Printed("%s: read error after line %ld: %s", name_.c_str(), line_number_,
                   std::strerror(in_.Error())));
      failed_ = true;
    }
    return false;
  }
  bool Failed() const { return failed_; }
  long Line_Number() const { return line_number_; }
  const std::string &Name() const { return name_; }

 private:
  Line_Reader in_;
  std::string name_;
  std::string line_;
  long line_number_ = 0;
  bool failed_ = false;
  Terms_Result *out_;
  const std::function<void(long)> *progress_;
};

// Creates the table 420_DIC unless the database has it.
bool Ensure_Table(Database *db, std::string *error) {
  const int has = db->Has_Row(kSqliteHasTableSql, error);
  if (has < 0) return false;
  return has == 1 || db->Exec(kSqliteSchemaSql, error);
}

// Removes a temporary database and its journal.
void Remove_Temporary(const std::string &path) {
  std::remove(path.c_str());
  std::remove((path + "-journal").c_str());
}

// Removes what a replaced database may have left beside its name: a
// journal, or the -wal and -shm of WAL mode, which SQLite would otherwise
// apply to the new file (which is never in WAL mode and has no journal).
void Remove_Leftovers(const std::string &database) {
  for (const char *suffix : {"-journal", "-wal", "-shm"}) std::remove((database + suffix).c_str());
}

// Takes the write lock of the database file now at `path` (when there is
// one) on `lock`, and describes that file in `info`. The lock is SQLite's
// own (a reserved lock): readers go on reading, other importers wait. The
// file is checked to be still the one at `path` once locked, since another
// import may have renamed its new file over it meanwhile.
bool Lock_Current(const std::string &path, Database *lock, struct stat *info, bool *exists, std::string *error) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    if (::stat(path.c_str(), info) != 0) {
      if (errno != ENOENT) {
        *error = std::strerror(errno);
        return false;
      }
      *exists = false;
      return true;
    }
    *exists = true;
    lock->Close();
    // A WAL database is checkpointed and turned back to rollback-journal
    // mode first when nobody else uses it, so that its -wal and -shm go.
    std::string ignored;
    if (!lock->Open(path, SQLITE_OPEN_READWRITE, error) ||
        !(lock->Exec("PRAGMA journal_mode=DELETE", &ignored), lock->Exec("BEGIN IMMEDIATE", error))) {
      lock->Close();
      return false;
    }
    struct stat now;
    if (::stat(path.c_str(), &now) == 0 && now.st_dev == info->st_dev && now.st_ino == info->st_ino) return true;
  }
  lock->Close();
  *error = "the database keeps being replaced by other imports";
  return false;
}

// Copies the whole database at `path` into the empty database of `to`.
bool Copy_Database(const std::string &path, sqlite3 *to, std::string *error) {
  Database source;
  if (!source.Open(path, SQLITE_OPEN_READONLY, error)) return false;
  sqlite3_backup *backup = sqlite3_backup_init(to, "main", source.Handle(), "main");
  if (backup == nullptr) {
    *error = sqlite3_errmsg(to);
    return false;
  }
  const int rc = sqlite3_backup_step(backup, -1);
  sqlite3_backup_finish(backup);
  if (rc != SQLITE_DONE) {
    *error = std::string("cannot copy the current terms: ") + sqlite3_errstr(rc);
    return false;
  }
  return true;
}

// Removes the temporary files that killed imports left beside `database`:
// "<name>.import-<pid>.tmp" of a process that no longer runs.
void Remove_Stale_Temporaries(const std::string &database) {
  const size_t slash = database.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : database.substr(0, slash);
  const std::string prefix = (slash == std::string::npos ? database : database.substr(slash + 1)) + ".import-";
  DIR *listing = opendir(dir.c_str());
  if (listing == nullptr) return;
  while (const dirent *entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0)
      continue;
    const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
    if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) continue;
    const long pid = std::atol(digits.c_str());
    if (pid > 0 && tesq::Process_Gone(pid)) Remove_Temporary(tesq::Join_Path(dir, name));
  }
  closedir(listing);
}

// Imports the terms of `terms_in` into the SQLite database at `database`.
// `said`: the closing line of a successful import is printed.
bool Sqlite_Import(Term_Source *terms_in, const std::string &database, bool replace, Terms_Result *out,
                   const std::function<void(const std::string &)> &note, bool said = true) {
  const std::string &source_name = terms_in->Name();
  auto refuse = [&](const std::string &message) {
    out->Say(message);
    out->Say(Printed("nothing imported, '%s' is unchanged", database.c_str()));
    return false;
  };
  // Everything happens at the database's real place: through a symbolic
  // link, the linked file gets the terms and the link stays.
  std::string real;
  std::string error;
  if (!Replacement_Target(database, "a term database", &real, &error))
    return refuse("'" + database + "': " + error);

  // Imports into one database take turns, whether or not it exists yet:
  // each holds the lock file beside it from before it reads the current
  // terms until its new file has replaced them.
  tesq::File_Lock import_lock;
  const std::string lock_path = real + ".lock";
  bool busy = false;
  if (!import_lock.Lock(lock_path, false, &busy)) {
    if (busy) {
      if (note) note(Printed("waiting for another import into '%s'", database.c_str()));
      std::fflush(stderr);
    }
    if (!busy || !import_lock.Lock(lock_path, true, &busy))
      return refuse("cannot lock '" + lock_path + "': " + std::strerror(errno));
  }

  // The new database is built beside the target and renamed over it.
  const std::string target = real + ".import-" + std::to_string(tesq::Process_Id()) + ".tmp";
  Remove_Temporary(target);

  bool ok = false;
  long terms = 0;
  auto fail = [&](const std::string &message) {
    out->Say(Printed("%s: %s", database.c_str(), message.c_str()));
  };
  // Held until the new file has replaced the database (or the import
  // failed): SQLite's write lock keeps out writers other than imports.
  Database lock;
  struct stat current;
  bool exists = false;
  if (!Lock_Current(real, &lock, &current, &exists, &error)) {
    // A replacement does not read the current file, which may be damaged
    // beyond locking; it simply wins.
    if (!replace) return refuse(database + ": " + error);
    error.clear();
  }
  Remove_Stale_Temporaries(real);
  {
    Database db;
    if (!db.Open(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, &error)) {
      fail(error);
    } else {
      // A merge starts from the current terms. The temporary file needs no
      // journal: it is thrown away on failure.
      bool ready = (replace || !exists || Copy_Database(real, db.Handle(), &error)) &&
                   db.Exec("PRAGMA journal_mode=OFF", &error) &&
                   db.Exec("PRAGMA cache_size=-65536", &error) && db.Exec("BEGIN IMMEDIATE", &error) &&
                   Ensure_Table(&db, &error);
      sqlite3_stmt *upsert = ready ? db.Prepare(kSqliteUpsertSql, &error) : nullptr;
      if (upsert == nullptr) {
        fail(error);
      } else {
        std::string word, label;
        bool bad = false;
        while (!bad && terms_in->Next(&word, &label)) {
          sqlite3_bind_text(upsert, 1, word.data(), static_cast<int>(word.size()), SQLITE_STATIC);
          sqlite3_bind_text(upsert, 2, label.data(), static_cast<int>(label.size()), SQLITE_STATIC);
          const int rc = sqlite3_step(upsert);
          sqlite3_reset(upsert);
          if (rc != SQLITE_DONE) {
            fail("line " + std::to_string(terms_in->Line_Number()) + ": " + db.Error());
            bad = true;
          }
          ++terms;
        }
        bad = bad || terms_in->Failed();
        // The new file is in rollback-journal mode whatever the current one
        // was (a copy of a WAL database would be WAL too): readers open it
        // read-only and create no files beside it.
        if (!bad) {
          ok = db.Exec("COMMIT", &error) && db.Exec("PRAGMA journal_mode=DELETE", &error);
          if (!ok) fail(error);
        }
        if (!ok) db.Exec("ROLLBACK", &error);
      }
    }
  }
  // The new file keeps the permissions of the one it replaces.
  if (ok && exists) chmod(target.c_str(), current.st_mode & 07777);
#if defined(_WIN32)
  // Windows cannot replace a file that is open, and the lock holds the
  // current database open: release it just before the replacement.
  lock.Close();
#endif
  if (ok && !tesq::Replace_File(target, real)) {
    out->Say(Printed("cannot replace '%s': %s", database.c_str(), std::strerror(errno)));
    ok = false;
  }
  if (ok) Remove_Leftovers(real);
  if (!ok) Remove_Temporary(target);
  if (!ok) {
    out->Say(Printed("nothing imported, '%s' is unchanged", database.c_str()));
    return false;
  }
  if (said)
    out->Say(Printed("%ld terms from %s into %s", terms, source_name.c_str(),
                 database.c_str()));
  return true;
}

#ifdef KARVEL_HAS_POSTGRESQL
// Imports the terms of `terms_in` into the PostgreSQL database at `uri`:
// every line is checked before the one transaction that stores them.
bool Pg_Terms_Import(Term_Source *terms_in, const std::string &uri, bool replace, Terms_Result *out) {
  const std::string shown = Redacted_Uri(uri);
  std::vector<std::pair<std::string, std::string>> rows;
  std::string word, label, error;
  while (terms_in->Next(&word, &label)) rows.emplace_back(word, label);
  if (!terms_in->Failed() && !Pg_Import(uri, rows, replace, &error)) {
    out->Say(Printed("%s: %s", shown.c_str(), error.c_str()));
    error = "failed";
  }
  if (terms_in->Failed() || !error.empty()) {
    out->Say(Printed("nothing imported, '%s' is unchanged", shown.c_str()));
    return false;
  }
  out->Say(Printed("%zu terms from %s into %s", rows.size(), terms_in->Name().c_str(),
               shown.c_str()));
  return true;
}
#endif

// The database named in messages: a URI without its password.
std::string Shown(const std::string &database) {
#ifdef KARVEL_HAS_POSTGRESQL
  if (tesq::Is_Postgres_Uri(database.c_str())) return Redacted_Uri(database);
#endif
  return database;
}

// Checks that a stored word or label reads back through import unchanged.
bool Exportable(const unsigned char *text, int bytes, bool is_word, std::string *error) {
  if (text == nullptr) {
    *error = "is NULL";
    return false;
  }
  const std::string value(reinterpret_cast<const char *>(text), static_cast<size_t>(bytes));
  if (is_word && value.empty()) {
    *error = "is empty";
    return false;
  }
  if (value.find_first_of(std::string("\t\r\n\0", 4)) != std::string::npos) {
    *error = "contains a tab, line break or NUL byte";
    return false;
  }
  // What the import would refuse cannot be exported either: the export is
  // read back by the import.
  *error = is_word ? tesq::Word_Fault(value) : tesq::Label_Fault(value);
  if (!error->empty()) return false;
  std::string gbtext, why;
  if (!gb::Utf8_To_Gb(value, &gbtext, &why)) {
    *error = why;
    return false;
  }
  if (!is_word && gbtext.size() > tesq::kMax_Label_Bytes) {
    *error = "is " + std::to_string(gbtext.size()) + " bytes in GB2312, at most 127 fit";
    return false;
  }
  return true;
}

// Adds one row to an export's text, or says why it cannot be a line.
bool Export_Row(const std::string &shown, const unsigned char *word, int word_bytes, const unsigned char *label,
                int label_bytes, std::string *text, Terms_Result *out) {
  std::string error;
  const bool word_ok = Exportable(word, word_bytes, true, &error);
  if (!word_ok || !Exportable(label, label_bytes, false, &error)) {
    const std::string named = word ? std::string(reinterpret_cast<const char *>(word), word_bytes) : "NULL";
    out->Say(Printed("%s: the %s of the word '%s' %s; it cannot be written as a line", shown.c_str(), word_ok ? "label" : "word", named.c_str(), error.c_str()));
    return false;
  }
  text->append(reinterpret_cast<const char *>(word), static_cast<size_t>(word_bytes));
  text->push_back('\t');
  text->append(reinterpret_cast<const char *>(label), static_cast<size_t>(label_bytes));
  text->push_back('\n');
  return true;
}

// Every row of the SQLite database at `database`, ordered by word, as the
// export's text.
bool Sqlite_Export_Text(const std::string &database, std::string *text, Terms_Result *out) {
  const tesq::File_Identity identity = tesq::Identify_File(database.c_str());
  if (!identity.known) {
    out->Say(Printed("cannot open '%s': %s", database.c_str(),
                 identity.error == ENOENT ? "no such file" : std::strerror(identity.error)));
    return false;
  }
  if (!identity.regular) {
    out->Say(Printed("'%s': %s, not a term database", database.c_str(),
                 identity.directory ? "is a directory" : "is not a regular file"));
    return false;
  }
  std::string error;
  Database db;
  sqlite3_stmt *select = nullptr;
  if (db.Open(database, SQLITE_OPEN_READONLY, &error)) select = db.Prepare(kSqliteExportSql, &error);
  if (select == nullptr) {
    out->Say(Printed("%s: %s", database.c_str(), error.c_str()));
    return false;
  }
  int rc;
  while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
    if (!Export_Row(database, sqlite3_column_text(select, 0), sqlite3_column_bytes(select, 0),
                    sqlite3_column_text(select, 1), sqlite3_column_bytes(select, 1), text, out))
      return false;
  }
  if (rc != SQLITE_DONE) {
    out->Say(Printed("%s: %s", database.c_str(), db.Error().c_str()));
    return false;
  }
  return true;
}

#ifdef KARVEL_HAS_POSTGRESQL
bool Pg_Export_Text(const std::string &uri, std::string *text, Terms_Result *out) {
  const std::string shown = Redacted_Uri(uri);
  bool rows_ok = true;
  std::string error;
  const bool ok = Pg_Export(
      uri,
      [&](const std::string &word, const std::string &label) {
        rows_ok = Export_Row(shown, reinterpret_cast<const unsigned char *>(word.data()),
                             static_cast<int>(word.size()), reinterpret_cast<const unsigned char *>(label.data()),
                             static_cast<int>(label.size()), text, out);
        return rows_ok;
      },
      &error);
  if (!ok && rows_ok) out->Say(Printed("%s: %s", shown.c_str(), error.c_str()));
  return ok;
}
#endif

}  // namespace

Terms_Result Terms_Import(const std::string &source, const std::string &database, bool replace,
                          const Terms_Progress &progress) {
  Terms_Result result;
  Terms_Result *const out = &result;
  const std::string shown = Shown(database);
  auto refuse = [&](const std::string &message) {
    out->Say(message);
    out->Say(Printed("nothing imported, '%s' is unchanged", shown.c_str()));
    return result;
  };
  // The source is checked before anything else is opened: with standard
  // input closed, the next file opened would take its place.
  FILE *input = stdin;
  if (source == "-") {
    const int error = tesq::Prepare_Stdin();
    if (error != 0)
      return refuse("cannot read standard input: " +
                    std::string(error == EISDIR ? "it is a directory" : std::strerror(error)));
  } else {
    if (tesq::Identify_File(source.c_str()).directory) return refuse("cannot read '" + source + "': is a directory");
    input = std::fopen(source.c_str(), "rb");
    if (input == nullptr) return refuse("cannot open '" + source + "': " + std::strerror(errno));
  }
  struct Closer {
    FILE *file;
    ~Closer() {
      if (file != stdin) std::fclose(file);
    }
  } closer{input};
  Term_Source terms(input, source == "-" ? "<stdin>" : source, out, &progress.lines);
  bool done;
#ifdef KARVEL_HAS_POSTGRESQL
  if (tesq::Is_Postgres_Uri(database.c_str()))
    done = Pg_Terms_Import(&terms, database, replace, out);
  else
#endif
    done = Sqlite_Import(&terms, database, replace, out, progress.note);
  result.status = done ? Terms_Status::kDone : Terms_Status::kFailed;
  return result;
}

Terms_Result Terms_Export(const std::string &database, const std::string &destination) {
  Terms_Result result;
  Terms_Result *const out = &result;
  // A file destination is written beside its real place and renamed over
  // it; the checks come first, so that nothing is read for a destination
  // that would be refused.
  std::string real;
  std::string error;
  if (destination != "-" && !Replacement_Target(destination, "a file to write", &real, &error)) {
    out->Say(Printed("cannot write '%s': %s", destination.c_str(), error.c_str()));
    return result;
  }
  std::string text;
#ifdef KARVEL_HAS_POSTGRESQL
  if (tesq::Is_Postgres_Uri(database.c_str())) {
    if (!Pg_Export_Text(database, &text, out)) return result;
  } else
#endif
      if (!Sqlite_Export_Text(database, &text, out)) {
    return result;
  }

  if (destination == "-") {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
      out->Say("write error on standard output");
      return result;
    }
    return result.Done();
  }
  const std::string temporary = real + ".export-" + std::to_string(tesq::Process_Id()) + ".tmp";
  std::remove(temporary.c_str());
  FILE *file = std::fopen(temporary.c_str(), "wb");
  bool ok = file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file != nullptr) ok = (std::fclose(file) == 0) && ok;
  if (ok) ok = tesq::Replace_File(temporary, real);
  if (!ok) {
    out->Say(Printed("cannot write '%s': %s", destination.c_str(), std::strerror(errno)));
    std::remove(temporary.c_str());
    return result;
  }
  return result.Done();
}

Terms_Result Terms_Init(const std::string &database) {
  Terms_Result result;
  Terms_Result *const out = &result;
  const std::string shown = Shown(database);
#ifdef KARVEL_HAS_POSTGRESQL
  if (tesq::Is_Postgres_Uri(database.c_str())) {
    std::string error;
    if (!Pg_Create_Schema(database, &error)) {
      out->Say(Printed("%s: %s", shown.c_str(), error.c_str()));
      return result;
    }
    out->Say(Printed("%s has the table 420_DIC", shown.c_str()));
    return result.Done();
  }
#endif
  // A merge of nothing: the table is created where it is missing, the
  // terms already there stay, all or nothing like any import.
  Term_Source nothing(nullptr, "<nothing>", out, nullptr);
  if (!Sqlite_Import(&nothing, database, false, out, nullptr, false)) return result;
  out->Say(Printed("%s has the table 420_DIC", shown.c_str()));
  return result.Done();
}

}  // namespace karvel
