#include "term_store.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>

#include "data_dir.h"
#include "gb2312.h"
#include "platform.h"
#include "term_text.h"

namespace karvel {

const char kWordColumnGb[] = "\xB4\xCA";                           // 词
const char kLabelColumnGb[] = "\xB8\xBD\xBC\xD3\xD0\xC5\xCF\xA2";  // 附加信息

namespace {

constexpr char kTableName[] = "420_DIC";

// The prepared lookups, one per column that may be selected. The word is
// the table's key, so each is one index search.
enum Selected { kSelectLabel = 0, kSelectWord = 1, kSelectCount = 2 };
const char *const kLookupSql[kSelectCount] = {
    "SELECT \"\xE9\x99\x84\xE5\x8A\xA0\xE4\xBF\xA1\xE6\x81\xAF\" FROM \"420_DIC\" WHERE \"\xE8\xAF\x8D\" = ?1 LIMIT 1",
    "SELECT \"\xE8\xAF\x8D\" FROM \"420_DIC\" WHERE \"\xE8\xAF\x8D\" = ?1 LIMIT 1",
};

// A locked database is waited for this long per lookup (a writer's commit
// holds its lock for moments only); a database locked for longer answers
// "no row" and is tried again at the next word.
constexpr int kBusyTimeoutMs = 20;

// --- diagnostics -------------------------------------------------------------

// Prints `message` about `path` unless this process has printed it before.
// `unusable`: the failure keeps lookups from answering.
void Report(const std::string &path, const std::string &message, bool unusable = true) {
  static std::mutex *const mutex = new std::mutex;
  static std::set<std::string> *const reported = new std::set<std::string>;
  constexpr size_t kMaxReports = 64;
  const std::string key = path + '\n' + message;
  std::lock_guard<std::mutex> lock(*mutex);
  if (reported->size() >= kMaxReports || !reported->insert(key).second) return;
  std::fprintf(stderr, "karvel: term database '%s': %s%s\n", path.c_str(), message.c_str(),
               unusable ? "; known terms are not looked up" : "");
  std::fflush(stderr);
}

// --- where the database is --------------------------------------------------

const char *Default_Path() {
  static const int anchor = 0;
  static const std::string *const path =
      new std::string(tesq::Join_Path(tesq::Data_Directory(&anchor), "terms.db"));
  return path->c_str();
}

// The current database path, without allocating when it comes from TESQ_DB
// or the default; `scratch` holds a path built from TESQ_DATA_DIR.
const char *Current_Path(std::string *scratch) {
  const char *db = std::getenv("TESQ_DB");
  if (db != nullptr && db[0] != '\0') return db;
  const char *dir = std::getenv("TESQ_DATA_DIR");
  if (dir != nullptr && dir[0] != '\0') {
    *scratch = tesq::Join_Path(dir, "terms.db");
    return scratch->c_str();
  }
  return Default_Path();
}

// --- connections ----------------------------------------------------------------

// One read-only connection with its prepared lookups. Used by one lookup at
// a time (the pool below hands it to one caller only).
class Connection {
 public:
  ~Connection() { Close(); }

  // Makes sure the connection is open on the file at `path`; false (after
  // a report) when the file is missing, is not a regular file, is in WAL
  // mode or cannot be opened. Nothing that is not a regular file is ever
  // opened (a FIFO would block the lookup for good).
  bool Attach(const char *path) {
    const tesq::File_Identity identity = tesq::Identify_File(path);
    if (!identity.known) {
      Close();
      Report(path, identity.error == ENOENT ? "no such file" : std::strerror(identity.error));
      return false;
    }
    if (!identity.regular) {
      Close();
      Report(path, identity.directory ? "is a directory, not a term database"
                                      : "is not a regular file (a FIFO, device or socket), not a term database");
      return false;
    }
    // A file written in place since the connection was opened is opened
    // again, so that a change of its journal mode is seen before SQLite acts
    // on it.
    if (db_ != nullptr && (path_ != path || identity_ != identity || identity_.written != identity.written)) Close();
    if (db_ != nullptr) return true;
    if (!Rollback_Journal_Mode(path)) return false;
    // Read-only, never created; the connection is used by one lookup at a
    // time, so SQLite's per-connection mutex is not needed.
    const int rc = sqlite3_open_v2(path, &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
      Report(path, db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc));
      Close();
      return false;
    }
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    sqlite3_extended_result_codes(db_, 1);
    path_ = path;
    identity_ = identity;
    return true;
  }

  // The prepared lookup for `selected`, or null (after a report) when the
  // database cannot run it now.
  sqlite3_stmt *Lookup(Selected selected) {
    sqlite3_stmt *&stmt = lookups_[selected];
    if (stmt != nullptr) return stmt;
    const int rc = sqlite3_prepare_v3(db_, kLookupSql[selected], -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(stmt);
      stmt = nullptr;
      Fail(rc);
      return nullptr;
    }
    if (!Plan_Uses_Index(stmt))
      Report(path_, "the table 420_DIC has no index on its word column, every lookup scans the table", false);
    return stmt;
  }

  // Reports a failed step of a lookup and closes the connection, so that
  // the next lookup starts afresh on whatever the file is then (a hot
  // journal rolled back, a table created): a failure never outlasts its
  // cause.
  void Fail(int rc) {
    Report(path_, Describe(rc));
    Close();
  }

  // Reports a stored value that cannot be handed out (once per database
  // and fault).
  void Report_Value(const std::string &fault) {
    Report(path_, "a stored label is unusable (" + fault +
                      "); such words answer no value: correct them with 'tesq terms import'",
           false);
  }

  // Room for a path built from TESQ_DATA_DIR, kept for the next lookup.
  std::string *Path_Scratch() { return &path_scratch_; }

 private:
  // The file header must say rollback-journal mode. A WAL database needs
  // its "-wal" and "-shm" files, which SQLite creates beside it even for a
  // read-only connection (and which other users then cannot share): a
  // reader creates no files, so such a database is refused with what to do.
  static bool Rollback_Journal_Mode(const char *path) {
    char header[20];
    const long n = tesq::Read_File_Start(path, header, sizeof header);
    if (n < 0) {
      Report(path, errno == EINVAL ? "is not a regular file, not a term database" : std::strerror(errno));
      return false;
    }
    if (n == static_cast<long>(sizeof header) && std::memcmp(header, "SQLite format 3", 16) == 0 &&
        (header[18] == 2 || header[19] == 2)) {
      Report(path, "is in WAL journal mode, which read-only lookups cannot use without creating files; "
                   "run: sqlite3 FILE 'PRAGMA journal_mode=DELETE'");
      return false;
    }
    return true;
  }

  std::string Describe(int rc) const {
    const int primary = rc & 0xFF;
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED) return "the database is locked by another connection";
    if (rc == SQLITE_READONLY_ROLLBACK)
      return "an interrupted write left a hot journal ('" + path_ +
             "-journal') that a read-only lookup cannot roll back; open the database once with a program "
             "allowed to write it (sqlite3 FILE 'PRAGMA quick_check') to roll it back";
    if (rc == SQLITE_READONLY_RECOVERY) return "the database's WAL file needs a recovery that a read-only lookup cannot do";
    std::string text = sqlite3_errmsg(db_);
    if (text.empty()) text = sqlite3_errstr(rc);
    return text;
  }

  // True when SQLite plans the lookup as an index search. The plan is read
  // once per prepared statement; a table without an index on the word still
  // answers, but the maintainer is told.
  bool Plan_Uses_Index(sqlite3_stmt *stmt) {
    const std::string sql = std::string("EXPLAIN QUERY PLAN ") + sqlite3_sql(stmt);
    sqlite3_stmt *plan = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &plan, nullptr) != SQLITE_OK) {
      sqlite3_finalize(plan);
      return true;  // cannot tell; the lookup itself will report what is wrong
    }
    bool scan = false;
    while (sqlite3_step(plan) == SQLITE_ROW) {
      const unsigned char *detail = sqlite3_column_text(plan, 3);
      if (detail != nullptr && std::strncmp(reinterpret_cast<const char *>(detail), "SCAN", 4) == 0) scan = true;
    }
    sqlite3_finalize(plan);
    return !scan;
  }

  void Close() {
    for (sqlite3_stmt *&stmt : lookups_) {
      sqlite3_finalize(stmt);
      stmt = nullptr;
    }
    if (db_ != nullptr) sqlite3_close(db_);
    db_ = nullptr;
    path_.clear();
  }

  sqlite3 *db_ = nullptr;
  sqlite3_stmt *lookups_[kSelectCount] = {};
  std::string path_;
  std::string path_scratch_;
  tesq::File_Identity identity_;
};

// The idle connections. A lookup takes one (or opens a new one when none is
// idle), uses it alone and gives it back; connections beyond kMaxIdle are
// closed when given back. Nothing is tied to the threads that use them, so
// a thread may end at any time without anything to clean up: no connection
// waits for a thread's end to be closed. (Thread-exit destructors in a
// Windows DLL run after the thread's own storage of them has been freed,
// and a fault there is silently swallowed while the thread still holds the
// heap's lock, which then stops the whole process.)
class Connection_Pool {
 public:
  static constexpr size_t kMaxIdle = 32;

  std::unique_ptr<Connection> Take() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (idle_count_ > 0) return std::unique_ptr<Connection>(idle_[--idle_count_]);
    }
    return std::make_unique<Connection>();
  }

  void Give_Back(std::unique_ptr<Connection> connection) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (idle_count_ < kMaxIdle) {
        idle_[idle_count_++] = connection.release();
        return;
      }
    }
    // closed here, outside the lock
  }

  void Close_Idle() {
    Connection *closing[kMaxIdle];
    size_t count;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      count = idle_count_;
      for (size_t i = 0; i < count; ++i) closing[i] = idle_[i];
      idle_count_ = 0;
    }
    for (size_t i = 0; i < count; ++i) delete closing[i];
  }

 private:
  std::mutex mutex_;
  Connection *idle_[kMaxIdle] = {};
  size_t idle_count_ = 0;
};

// Never destroyed: a lookup still running on another thread while the
// process ends, or a connection given back late, never meets a destroyed
// pool.
Connection_Pool &Pool() {
  static Connection_Pool *const pool = new Connection_Pool;
  return *pool;
}

// A connection taken from the pool for one lookup, given back at the end.
class Connection_Lease {
 public:
  Connection_Lease() : connection_(Pool().Take()) {}
  ~Connection_Lease() { Pool().Give_Back(std::move(connection_)); }
  Connection_Lease(const Connection_Lease &) = delete;
  Connection_Lease &operator=(const Connection_Lease &) = delete;
  Connection *operator->() const { return connection_.get(); }

 private:
  std::unique_ptr<Connection> connection_;
};

#ifndef _WIN32
// The idle connections are closed when the library is unloaded or the
// process ends normally. (Windows: see Term_Store_Close_Idle's caller.)
struct Idle_Closer {
  ~Idle_Closer() { Pool().Close_Idle(); }
} g_idle_closer;
#endif

bool Same_Name(const std::string &a, const char *b) {
  // SQL identifiers compare without regard to ASCII case.
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

bool Term_Find(const Lookup_Statement &statement, std::string *value, const char **column) {
  if (!Same_Name(statement.table, kTableName) || statement.key_column != kWordColumnGb) return false;
  Selected selected;
  if (statement.column == kLabelColumnGb) {
    selected = kSelectLabel;
    *column = kLabelColumnGb;
  } else if (statement.column == kWordColumnGb) {
    selected = kSelectWord;
    *column = kWordColumnGb;
  } else {
    return false;
  }

  // A word that is not GB2312 text cannot be in the table.
  std::string word;
  if (!gb::Gb_To_Utf8(Statement_Word(statement.value), &word)) return false;

  Connection_Lease connection;
  if (!connection->Attach(Current_Path(connection->Path_Scratch()))) return false;
  sqlite3_stmt *stmt = connection->Lookup(selected);
  if (stmt == nullptr) return false;

  bool found = false;
  sqlite3_bind_text(stmt, 1, word.data(), static_cast<int>(word.size()), SQLITE_STATIC);
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) {
    if (sqlite3_column_type(stmt, 0) != SQLITE_NULL) {
      const char *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
      const int length = sqlite3_column_bytes(stmt, 0);
      // A value with a NUL byte, or one GB2312 cannot represent, is no value:
      // the caller would get a truncated or garbled label.
      if (text != nullptr && std::memchr(text, '\0', static_cast<size_t>(length)) == nullptr)
        found = gb::Utf8_To_Gb(std::string_view(text, static_cast<size_t>(length)), value);
      // A label the document cannot carry (stored by an older import or
      // another tool) is no value rather than a broken document.
      if (found && selected == kSelectLabel) {
        const std::string fault = tesq::Label_Fault(*value);
        if (!fault.empty()) {
          connection->Report_Value(fault);
          found = false;
        }
      }
    }
  } else if (rc != SQLITE_DONE) {
    sqlite3_reset(stmt);
    connection->Fail(rc);
    return false;
  }
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  return found;
}

void Term_Store_Close_Idle() { Pool().Close_Idle(); }

}  // namespace karvel
