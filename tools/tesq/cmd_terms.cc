// tesq terms import / export: maintaining the known terms of 420_DIC.
//
// The source format is UTF-8 text, one term per line: the word, one tab, the
// label ("word<TAB>label"); a line may end in CR LF; blank lines are skipped;
// a byte order mark at the start of the file is ignored. The word must not be
// empty; neither part may hold another tab; both must be GB2312 text, and the
// label at most 127 bytes in GB2312 (what the classifier's label buffer
// holds). When a word appears twice the later line wins. Words and labels are
// stored in the form they take after a round trip through GB2312, which is
// the form the lookups ask for.
//
// Import is all or nothing. Every import builds the new database in a
// temporary file beside the target and renames it over the target once
// complete, so readers see the old table or the new one, never a part, and a
// bad line, a failure or a kill (even kill -9) leaves the database file as it
// was: it is never written in place, so no journal is ever left beside it for
// a read-only reader to trip over. A merge (no --replace) starts from a copy
// of the current database. While an import builds its file it holds a write
// lock on the database it replaces, so concurrent imports take turns and
// none loses another's terms.
//
// Export writes every term in that same format, ordered by word, so importing
// an export gives the same table back.
#include <dirent.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "data_dir.h"
#include "gb2312.h"
#include "platform.h"

namespace {

constexpr size_t kMaxLabelBytes = 127;  // GB2312 bytes; the terminator makes 128
constexpr long kProgressEvery = 100000;

const char kSchemaSql[] =
    "CREATE TABLE \"420_DIC\" ("
    "\"\xE8\xAF\x8D\" TEXT NOT NULL PRIMARY KEY, "                  // 词
    "\"\xE9\x99\x84\xE5\x8A\xA0\xE4\xBF\xA1\xE6\x81\xAF\" TEXT NOT NULL"  // 附加信息
    ") WITHOUT ROWID";
const char kHasTableSql[] = "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = '420_DIC'";
const char kUpsertSql[] =
    "INSERT INTO \"420_DIC\" (\"\xE8\xAF\x8D\", \"\xE9\x99\x84\xE5\x8A\xA0\xE4\xBF\xA1\xE6\x81\xAF\") "
    "VALUES (?1, ?2) ON CONFLICT (\"\xE8\xAF\x8D\") DO UPDATE SET "
    "\"\xE9\x99\x84\xE5\x8A\xA0\xE4\xBF\xA1\xE6\x81\xAF\" = excluded.\"\xE9\x99\x84\xE5\x8A\xA0\xE4\xBF\xA1\xE6\x81\xAF\"";
const char kExportSql[] =
    "SELECT \"\xE8\xAF\x8D\", \"\xE9\x99\x84\xE5\x8A\xA0\xE4\xBF\xA1\xE6\x81\xAF\" FROM \"420_DIC\" "
    "ORDER BY \"\xE8\xAF\x8D\"";

const char kUsage[] =
    "usage: tesq terms import [--replace] [--db FILE] FILE|-\n"
    "       tesq terms export [--db FILE] [FILE|-]\n"
    "\n"
    "Loads known terms (UTF-8, one 'word<TAB>label' per line) into the table\n"
    "420_DIC of the term database, or writes them out in the same format.\n"
    "\n"
    "  --replace  empty the table first (default: merge, a word's new label wins)\n"
    "  --db FILE  term database (default: $TESQ_DB, else terms.db in $TESQ_DATA_DIR\n"
    "             or in the data directory)\n"
    "  --help     show this help\n";

// The database file used when --db is not given; the rule libkarvel follows.
std::string Default_Database() {
  const char *db = std::getenv("TESQ_DB");
  if (db != nullptr && db[0] != '\0') return db;
  static const int anchor = 0;
  return tesq::Join_Path(tesq::Data_Directory(&anchor), "terms.db");
}

bool File_Exists(const std::string &path) {
  FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
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
  if (tab == 0) {
    *error = "empty word";
    return false;
  }
  size_t word_length = 0, label_length = 0;
  if (!Term_Part(line.substr(0, tab), "word", word, &word_length, error)) return false;
  if (!Term_Part(line.substr(tab + 1), "label", label, &label_length, error)) return false;
  if (label_length > kMaxLabelBytes) {
    *error = "label is " + std::to_string(label_length) + " bytes in GB2312, at most " +
             std::to_string(kMaxLabelBytes) + " fit";
    return false;
  }
  return true;
}

// Creates the table 420_DIC unless the database has it.
bool Ensure_Table(Database *db, std::string *error) {
  const int has = db->Has_Row(kHasTableSql, error);
  if (has < 0) return false;
  return has == 1 || db->Exec(kSchemaSql, error);
}

// Removes a temporary database and its journal.
void Remove_Temporary(const std::string &path) {
  std::remove(path.c_str());
  std::remove((path + "-journal").c_str());
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
    if (!lock->Open(path, SQLITE_OPEN_READWRITE, error) || !lock->Exec("BEGIN IMMEDIATE", error)) {
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

int Import(const std::string &source, const std::string &database, bool replace) {
  const std::string source_name = source == "-" ? "<stdin>" : source;
  std::ifstream file;
  if (source != "-") {
    file.open(source, std::ios::binary);
    if (!file) {
      std::fprintf(stderr, "tesq terms import: cannot open '%s': %s\n", source.c_str(), std::strerror(errno));
      return 1;
    }
  }
  std::istream &in = source == "-" ? std::cin : file;

  // The new database is built beside the target and renamed over it.
  const std::string target = database + ".import-" + std::to_string(tesq::Process_Id()) + ".tmp";
  Remove_Temporary(target);

  bool ok = false;
  long terms = 0;
  auto fail = [&](const std::string &message) {
    std::fprintf(stderr, "tesq terms import: %s: %s\n", database.c_str(), message.c_str());
  };
  // Held until the new file has replaced the database (or the import failed).
  Database lock;
  struct stat current;
  bool exists = false;
  std::string error;
  if (!Lock_Current(database, &lock, &current, &exists, &error)) {
    // A replacement does not read the current file, which may be damaged
    // beyond locking; it simply wins.
    if (!replace) {
      fail(error);
      std::fprintf(stderr, "tesq terms import: nothing imported, '%s' is unchanged\n", database.c_str());
      return 1;
    }
    error.clear();
  }
  Remove_Stale_Temporaries(database);
  {
    Database db;
    if (!db.Open(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, &error)) {
      fail(error);
    } else {
      // A merge starts from the current terms. The temporary file needs no
      // journal: it is thrown away on failure.
      bool ready = (replace || !exists || Copy_Database(database, db.Handle(), &error)) &&
                   db.Exec("PRAGMA journal_mode=OFF", &error) &&
                   db.Exec("PRAGMA cache_size=-65536", &error) && db.Exec("BEGIN IMMEDIATE", &error) &&
                   Ensure_Table(&db, &error);
      sqlite3_stmt *upsert = ready ? db.Prepare(kUpsertSql, &error) : nullptr;
      if (upsert == nullptr) {
        fail(error);
      } else {
        const bool progress = tesq::Stderr_Is_Terminal();
        std::string line, word, label;
        long line_number = 0;
        bool bad = false;
        while (std::getline(in, line)) {
          ++line_number;
          if (!line.empty() && line.back() == '\r') line.pop_back();
          if (line_number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
          if (line.empty()) continue;
          if (!Term_Line(line, &word, &label, &error)) {
            std::fprintf(stderr, "tesq terms import: %s:%ld: %s\n", source_name.c_str(), line_number, error.c_str());
            bad = true;
            break;
          }
          sqlite3_bind_text(upsert, 1, word.data(), static_cast<int>(word.size()), SQLITE_STATIC);
          sqlite3_bind_text(upsert, 2, label.data(), static_cast<int>(label.size()), SQLITE_STATIC);
          const int rc = sqlite3_step(upsert);
          sqlite3_reset(upsert);
          if (rc != SQLITE_DONE) {
            fail("line " + std::to_string(line_number) + ": " + db.Error());
            bad = true;
            break;
          }
          ++terms;
          if (progress && line_number % kProgressEvery == 0)
            std::fprintf(stderr, "\rtesq terms import: %ld lines", line_number);
        }
        if (progress && line_number >= kProgressEvery) std::fprintf(stderr, "\n");
        if (!bad && in.bad()) {
          std::fprintf(stderr, "tesq terms import: %s: read error\n", source_name.c_str());
          bad = true;
        }
        if (!bad) {
          ok = db.Exec("COMMIT", &error);
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
  if (ok && !tesq::Replace_File(target, database)) {
    std::fprintf(stderr, "tesq terms import: cannot replace '%s': %s\n", database.c_str(), std::strerror(errno));
    ok = false;
  }
  if (!ok) Remove_Temporary(target);
  if (!ok) {
    std::fprintf(stderr, "tesq terms import: nothing imported, '%s' is unchanged\n", database.c_str());
    return 1;
  }
  std::fprintf(stderr, "tesq terms import: %ld terms from %s into %s\n", terms, source_name.c_str(),
               database.c_str());
  return 0;
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
  std::string gbtext, why;
  if (!gb::Utf8_To_Gb(value, &gbtext, &why)) {
    *error = why;
    return false;
  }
  if (!is_word && gbtext.size() > kMaxLabelBytes) {
    *error = "is " + std::to_string(gbtext.size()) + " bytes in GB2312, at most 127 fit";
    return false;
  }
  return true;
}

int Export(const std::string &database, const std::string &destination) {
  if (!File_Exists(database)) {
    std::fprintf(stderr, "tesq terms export: cannot open '%s': no such file\n", database.c_str());
    return 1;
  }
  Database db;
  std::string error;
  sqlite3_stmt *select = nullptr;
  if (db.Open(database, SQLITE_OPEN_READONLY, &error)) select = db.Prepare(kExportSql, &error);
  if (select == nullptr) {
    std::fprintf(stderr, "tesq terms export: %s: %s\n", database.c_str(), error.c_str());
    return 1;
  }

  std::string text;
  int rc;
  while ((rc = sqlite3_step(select)) == SQLITE_ROW) {
    const unsigned char *word = sqlite3_column_text(select, 0);
    const int word_bytes = sqlite3_column_bytes(select, 0);
    const unsigned char *label = sqlite3_column_text(select, 1);
    const int label_bytes = sqlite3_column_bytes(select, 1);
    const bool word_ok = Exportable(word, word_bytes, true, &error);
    if (!word_ok || !Exportable(label, label_bytes, false, &error)) {
      const std::string shown = word ? std::string(reinterpret_cast<const char *>(word), word_bytes) : "NULL";
      std::fprintf(stderr, "tesq terms export: %s: the %s of the word '%s' %s; it cannot be written as a line\n",
                   database.c_str(), word_ok ? "label" : "word", shown.c_str(), error.c_str());
      return 1;
    }
    text.append(reinterpret_cast<const char *>(word), static_cast<size_t>(word_bytes));
    text.push_back('\t');
    text.append(reinterpret_cast<const char *>(label), static_cast<size_t>(label_bytes));
    text.push_back('\n');
  }
  if (rc != SQLITE_DONE) {
    std::fprintf(stderr, "tesq terms export: %s: %s\n", database.c_str(), db.Error().c_str());
    return 1;
  }

  if (destination == "-") {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
      std::fprintf(stderr, "tesq terms export: write error on standard output\n");
      return 1;
    }
    return 0;
  }
  // A file is written beside its destination and renamed over it.
  const std::string temporary = destination + ".export-" + std::to_string(tesq::Process_Id()) + ".tmp";
  FILE *out = std::fopen(temporary.c_str(), "wb");
  bool ok = out != nullptr && std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (out != nullptr) ok = (std::fclose(out) == 0) && ok;
  if (ok) ok = tesq::Replace_File(temporary, destination);
  if (!ok) {
    std::fprintf(stderr, "tesq terms export: cannot write '%s': %s\n", destination.c_str(), std::strerror(errno));
    std::remove(temporary.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

int Command_Terms(int argc, char **argv) {
  if (argc < 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string action = argv[1];
  if (action == "--help" || action == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (action != "import" && action != "export") {
    std::fprintf(stderr, "tesq terms: unknown action '%s' (import or export)\n", action.c_str());
    std::fputs(kUsage, stderr);
    return 2;
  }
  bool replace = false;
  std::string database;
  std::vector<std::string> positional;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--replace" && action == "import") {
      replace = true;
    } else if (arg == "--db") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "tesq terms %s: --db needs a value\n", action.c_str());
        return 2;
      }
      database = argv[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(stderr, "tesq terms %s: unknown option '%s'\n", action.c_str(), arg.c_str());
      return 2;
    } else {
      positional.push_back(arg);
    }
  }
  if (database.empty()) database = Default_Database();
  if (action == "import") {
    if (positional.size() != 1) {
      std::fprintf(stderr, "tesq terms import: expected exactly one FILE (or - for standard input)\n");
      return 2;
    }
    return Import(positional[0], database, replace);
  }
  if (positional.size() > 1) {
    std::fprintf(stderr, "tesq terms export: expected at most one FILE\n");
    return 2;
  }
  return Export(database, positional.empty() ? "-" : positional[0]);
}
