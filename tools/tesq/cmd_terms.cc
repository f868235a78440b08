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
// Import is all or nothing. Into an existing database without --replace the
// terms are merged in one transaction: a bad line, a failure or a kill leaves
// the table as it was. A new database, and every --replace, is built in a
// temporary file beside the target and renamed over it once complete, so
// readers see the old table or the new one, never a part.
//
// Export writes every term in that same format, ordered by word, so importing
// an export gives the same table back.
#include <sqlite3.h>

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
  ~Database() {
    for (sqlite3_stmt *stmt : statements_) sqlite3_finalize(stmt);
    if (db_ != nullptr) sqlite3_close(db_);
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

  // A merge goes into the existing file in one transaction; anything else is
  // built beside it and renamed over it.
  const bool in_place = !replace && File_Exists(database);
  const std::string target = in_place ? database : database + ".import-" + std::to_string(tesq::Process_Id()) + ".tmp";
  if (!in_place) Remove_Temporary(target);

  bool ok = false;
  long terms = 0;
  {
    Database db;
    std::string error;
    auto fail = [&](const std::string &message) {
      std::fprintf(stderr, "tesq terms import: %s: %s\n", database.c_str(), message.c_str());
    };
    if (!db.Open(target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, &error)) {
      fail(error);
    } else {
      // A temporary file needs no journal: it is thrown away on failure.
      bool ready = (in_place || db.Exec("PRAGMA journal_mode=OFF", &error)) &&
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
  if (!in_place) {
    if (ok && !tesq::Replace_File(target, database)) {
      std::fprintf(stderr, "tesq terms import: cannot replace '%s': %s\n", database.c_str(), std::strerror(errno));
      ok = false;
    }
    if (!ok) Remove_Temporary(target);
  }
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
