#include "term_store.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>
#include <chrono>

#include "data_dir.h"
#include "gb2312.h"
#include "karvel/karvel.h"
#include "platform.h"
#include "query_table.h"
#include "term_index.h"
#include "term_schema.h"
#include "term_text.h"
#ifdef KARVEL_HAS_TERM_COPIES
#include <pthread.h>

#include "term_copies.h"
#endif
#ifdef KARVEL_HAS_POSTGRESQL
#include "pg_store.h"
#endif

namespace karvel {

const char kWordColumnGb[] = "\xB4\xCA";                           // 词
const char kLabelColumnGb[] = "\xB8\xBD\xBC\xD3\xD0\xC5\xCF\xA2";  // 附加信息

namespace {

constexpr char kTableName[] = "420_DIC";

// The prepared lookups, one per column that may be selected. The word is
// the table's key, so each is one index search.
enum Selected { kSelectLabel = 0, kSelectWord = 1, kSelectCount = 2 };
const char *const kLookupSql[kSelectCount] = {kSqliteLookupLabelSql, kSqliteLookupWordSql};

// A locked database is waited for this long per lookup (a writer's commit
// holds its lock for moments only); a database locked for longer answers
// "no row" and is tried again at the next word.
constexpr int kBusyTimeoutMs = 20;

// --- diagnostics -------------------------------------------------------------

// Prints `message` about `path` unless this process has printed it before.
// `unusable`: the failure keeps lookups from answering.
std::mutex &Report_Mutex() {
  static std::mutex *const mutex = new std::mutex;
  return *mutex;
}

void Report(const std::string &path, const std::string &message, bool unusable = true) {
  static std::set<std::string> *const reported = new std::set<std::string>;
  constexpr size_t kMaxReports = 64;
  const std::string key = path + '\n' + message;
  std::lock_guard<std::mutex> lock(Report_Mutex());
  if (reported->size() >= kMaxReports || !reported->insert(key).second) return;
  std::fprintf(stderr, "karvel: term database '%s': %s%s\n", path.c_str(), message.c_str(),
               unusable ? "; known terms are not looked up" : "");
  std::fflush(stderr);
}

// Stands for a stored label with no GB2312 form where a label is read: no
// conversion gives the byte 0xFF, so no real label equals it. A lookup that
// finds it reports the label as unusable and answers no value.
const char kLabel_Without_Gb_Form[] = "\xFF";

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

  // Reads every row into `builder`, words and labels in GB2312, with the
  // rules of a lookup: a word with no GB2312 form cannot be asked for and is
  // left out, a label that is NULL, holds a NUL byte or has no GB2312 form
  // leaves its word without a label. `guard` (held on entry) is let go
  // between stretches of rows. False after a report.
  // A scan that sees `stopping` set gives up (false, with no report).
  bool Scan(Term_Index::Builder *builder, std::unique_lock<std::mutex> *guard, const std::atomic<bool> &stopping) {
    sqlite3_stmt *stmt = nullptr;
    int rc = sqlite3_prepare_v2(db_, kScanSql, -1, &stmt, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(stmt);
      Fail(rc);
      return false;
    }
    std::string word, label, back;
    size_t rows = 0;
    while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
      if (++rows % 4096 == 0) {
        guard->unlock();
        guard->lock();
        if (stopping) break;
      }
      const std::string_view stored(reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0)),
                                    static_cast<size_t>(sqlite3_column_bytes(stmt, 0)));
      // Only a word whose GB2312 form leads back to the stored bytes is one
      // a lookup can match.
      if (stored.data() == nullptr || !gb::Utf8_To_Gb(stored, &word) || !gb::Gb_To_Utf8(word, &back) ||
          back != stored)
        continue;
      const char *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 1));
      const size_t length = static_cast<size_t>(sqlite3_column_bytes(stmt, 1));
      if (text == nullptr || std::memchr(text, '\0', length) != nullptr)
        builder->Add_Without_Label(word);
      else if (gb::Utf8_To_Gb(std::string_view(text, length), &label))
        builder->Add(word, label);
      else
        builder->Add(word, kLabel_Without_Gb_Form);
    }
    sqlite3_finalize(stmt);
    if (rc == SQLITE_ROW) return false;  // stopped
    if (rc != SQLITE_DONE) {
      Fail(rc);
      return false;
    }
    return true;
  }

  // Reports a failed step of a lookup and closes the connection, so that
  // the next lookup starts afresh on whatever the file is then (a hot
  // journal rolled back, a table created): a failure never outlasts its
  // cause.
  void Fail(int rc) {
    Report(path_, Describe(rc));
    Close();
  }

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
    std::unique_lock<std::mutex> lock(mutex_);
    Wait_While([&] { return forking_; }, &lock);
    ++out_;
    if (idle_count_ > 0) return std::unique_ptr<Connection>(idle_[--idle_count_]);
    lock.unlock();
    try {
      return std::make_unique<Connection>();
    } catch (...) {
      // Not out after all: a fork must not wait for it.
      lock.lock();
      --out_;
      throw;
    }
  }

  void Give_Back(std::unique_ptr<Connection> connection) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (idle_count_ < kMaxIdle) {
        idle_[idle_count_++] = connection.release();
        --out_;
        return;
      }
    }
    connection.reset();  // closed outside the lock, still counted as out
    std::lock_guard<std::mutex> lock(mutex_);
    --out_;
  }

  // A fork waits until no connection is out, so that no other thread is
  // inside SQLite (whose own locks would stay held for good in the child),
  // and no connection is taken until it is done; a lookup holds one for
  // moments only. A forked child must not use the connections it inherited
  // (SQLite's rule): they are forgotten, left open and unused.
  void Lock_For_Fork() {
    std::unique_lock<std::mutex> lock(mutex_);
    Wait_While([&] { return forking_; }, &lock);
    forking_ = true;
    Wait_While([&] { return out_ > 0; }, &lock);
    lock.release();  // held until the fork is done
  }
  void Unlock_After_Fork(bool child) {
    if (child) idle_count_ = 0;
    forking_ = false;
    mutex_.unlock();
  }

  void Close_Idle() {
    Connection *closing[kMaxIdle];
    size_t count;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      Wait_While([&] { return forking_; }, &lock);
      count = idle_count_;
      for (size_t i = 0; i < count; ++i) closing[i] = idle_[i];
      idle_count_ = 0;
      out_ += count;
    }
    for (size_t i = 0; i < count; ++i) delete closing[i];
    std::lock_guard<std::mutex> lock(mutex_);
    out_ -= count;
  }

 private:
  // Polls rather than waits on a condition variable: a fork is rare, and a
  // condition variable's waiters would not come along into the child.
  template <typename Condition>
  static void Wait_While(Condition condition, std::unique_lock<std::mutex> *lock) {
    while (condition()) {
      lock->unlock();
      std::this_thread::sleep_for(std::chrono::microseconds(100));
      lock->lock();
    }
  }

  std::mutex mutex_;
  Connection *idle_[kMaxIdle] = {};
  size_t idle_count_ = 0;
  size_t out_ = 0;        // connections taken and not yet given back or closed
  bool forking_ = false;  // a fork waits for the connections out
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

// A database location as messages show it: a URI without its password.
std::string Shown_Location(const char *location) {
#ifdef KARVEL_HAS_POSTGRESQL
  return tesq::Is_Postgres_Uri(location) ? Redacted_Uri(location) : location;
#else
  return location;
#endif
}

// A stored label that the document cannot carry, that is longer than a
// lookup can give back or that has no GB2312 form is no value, whichever
// way it was read (reported once per database and fault).
bool Usable_Label(const char *location, const std::string &label) {
  std::string fault = label == kLabel_Without_Gb_Form ? "the label has no GB2312 form" : tesq::Label_Fault(label);
  if (fault.empty() && label.size() > tesq::kMax_Label_Bytes)
    fault = "the label is " + std::to_string(label.size()) + " bytes in GB2312, at most " +
            std::to_string(tesq::kMax_Label_Bytes) + " fit";
  if (fault.empty()) return true;
  Report(Shown_Location(location),
         "a stored label is unusable (" + fault + "); such words answer no value: correct them with 'tesq terms import'",
         false);
  return false;
}

// The SQLite lookup, on a connection of the pool: true with *value (GB2312).
bool Sqlite_Find(const char *path, const std::string &word_utf8, Selected selected, std::string *value) {
  Connection_Lease connection;
  if (!connection->Attach(path)) return false;
  sqlite3_stmt *stmt = connection->Lookup(selected);
  if (stmt == nullptr) return false;

  bool found = false;
  sqlite3_bind_text(stmt, 1, word_utf8.data(), static_cast<int>(word_utf8.size()), SQLITE_STATIC);
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_ROW) {
    if (sqlite3_column_type(stmt, 0) != SQLITE_NULL) {
      const char *text = reinterpret_cast<const char *>(sqlite3_column_text(stmt, 0));
      const int length = sqlite3_column_bytes(stmt, 0);
      // A value with a NUL byte, or one GB2312 cannot represent, is no value:
      // the caller would get a truncated or garbled label.
      if (text != nullptr && std::memchr(text, '\0', static_cast<size_t>(length)) == nullptr) {
        found = gb::Utf8_To_Gb(std::string_view(text, static_cast<size_t>(length)), value);
        if (!found && selected == kSelectLabel) {
          *value = kLabel_Without_Gb_Form;
          found = true;
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

#ifdef KARVEL_HAS_POSTGRESQL
// Lookups of the PostgreSQL store share one Pg_Store (its pool and its
// outage reports) per URI; the copy's watcher polls the same one, so an
// outage is reported once however it is met.
std::mutex g_pg_mutex;
std::shared_ptr<Pg_Store> g_pg;  // guarded by g_pg_mutex, which the fork handlers take

// The lookup time limit: TESQ_DB_TIMEOUT_MS, 200 ms by default.
int Pg_Timeout_Ms() {
  const char *text = std::getenv("TESQ_DB_TIMEOUT_MS");
  const long ms = text != nullptr ? std::strtol(text, nullptr, 10) : 0;
  return ms > 0 && ms <= 60000 ? static_cast<int>(ms) : 200;
}

std::shared_ptr<Pg_Store> Pg_For(const char *uri) {
  std::shared_ptr<Pg_Store> replaced;  // dropped after the lock: it closes connections
  std::lock_guard<std::mutex> hold(g_pg_mutex);
  if (g_pg == nullptr || g_pg->Uri() != uri) {
    replaced = std::move(g_pg);
    g_pg = std::make_shared<Pg_Store>(uri, Pg_Timeout_Ms());
  }
  return g_pg;
}

// The PostgreSQL lookup: true with *value (GB2312).
bool Pg_Find(const char *uri, const std::string &word_utf8, Selected selected, std::string *value) {
  std::string utf8;
  const Pg_Answer answer = Pg_For(uri)->Find(word_utf8, selected == kSelectWord, &utf8);
  if (answer != Pg_Answer::kFound) return false;
  if (gb::Utf8_To_Gb(utf8, value)) return true;
  if (selected != kSelectLabel) return false;
  *value = kLabel_Without_Gb_Form;
  return true;
}
#endif

#ifdef KARVEL_HAS_TERM_COPIES
// Adds a row read as UTF-8 to a copy, by the rules of Connection::Scan.
void Add_Utf8_Row(Term_Index::Builder *builder, const std::string &word_utf8, const std::string &label_utf8,
                  std::string *word, std::string *label, std::string *back) {
  if (!gb::Utf8_To_Gb(word_utf8, word) || !gb::Gb_To_Utf8(*word, back) || *back != word_utf8) return;
  builder->Add(*word, gb::Utf8_To_Gb(label_utf8, label) ? std::string_view(*label) : kLabel_Without_Gb_Form);
}

// A database file as the source of a copy: its stamp is the file's
// identity, size and last write, and its header (with the change counter
// that every write transaction raises), so that a file replaced, written in
// place or deleted is read again. A copy of a file that can no longer be
// read is dropped, and lookups go to the file and answer as it allows.
class Sqlite_Source : public Copy_Source {
 public:
  explicit Sqlite_Source(std::string path) : path_(std::move(path)) {}

  Source_Answer Stamp(std::string *stamp) override {
    const tesq::File_Identity id = tesq::Identify_File(path_.c_str());
    if (!id.known) {
      *stamp = "gone " + std::to_string(id.error);
      return Source_Answer::kAnswered;
    }
    // The header holds the change counter and the journal mode, which an
    // in-place write changes even within one tick of the file's clock.
    char header[100] = {};
    if (id.regular) tesq::Read_File_Start(path_.c_str(), header, sizeof header);
    *stamp = std::to_string(id.volume) + ':' + std::to_string(id.index) + ':' + std::to_string(id.written) +
             (id.regular ? ":" : " not regular:");
    stamp->append(header, sizeof header);
    return Source_Answer::kAnswered;
  }

  // A file that cannot be read whole is not copied (its copy is dropped);
  // lookups go to it and answer as it allows.
  Source_Answer Read(Term_Index::Builder *builder, std::string *stamp, const std::atomic<bool> &stopping) override {
    Stamp(stamp);
    std::unique_lock<std::mutex> guard(Copies_Fork_Guard());
    Connection connection;
    return connection.Attach(path_.c_str()) && connection.Scan(builder, &guard, stopping) ? Source_Answer::kAnswered
                                                                                          : Source_Answer::kBroken;
  }

  bool Keeps_Old_Copy() const override { return false; }

 private:
  std::string path_;
};

#ifdef KARVEL_HAS_POSTGRESQL
// A PostgreSQL table as the source of a copy: its stamp is the change
// counter with the table's identity and columns; a server that cannot be
// asked leaves the copy in hand answering, a table whose changes cannot be
// followed (reported by the store) has it withdrawn.
Source_Answer Source_Answer_Of(Pg_Answer answer) {
  return answer == Pg_Answer::kFound    ? Source_Answer::kAnswered
         : answer == Pg_Answer::kBroken ? Source_Answer::kBroken
                                        : Source_Answer::kUnavailable;
}

class Pg_Source : public Copy_Source {
 public:
  explicit Pg_Source(std::shared_ptr<Pg_Store> store) : store_(std::move(store)) {}

  Source_Answer Stamp(std::string *stamp) override { return Source_Answer_Of(store_->Stamp(stamp)); }

  Source_Answer Read(Term_Index::Builder *builder, std::string *stamp, const std::atomic<bool> &stopping) override {
    std::string word, label, back;
    return Source_Answer_Of(store_->Scan(
        [&](const std::string &w, const std::string &l) { Add_Utf8_Row(builder, w, l, &word, &label, &back); },
        stamp, &stopping));
  }

 private:
  std::shared_ptr<Pg_Store> store_;
};
#endif

std::unique_ptr<Copy_Source> Make_Source(const char *location) {
#ifdef KARVEL_HAS_POSTGRESQL
  if (tesq::Is_Postgres_Uri(location)) return std::unique_ptr<Copy_Source>(new Pg_Source(Pg_For(location)));
#endif
  return std::unique_ptr<Copy_Source>(new Sqlite_Source(location));
}

// TESQ_DB_COPY=0 (or "off"): every lookup goes to the store itself.
bool Copies_Wanted() {
  const char *setting = std::getenv("TESQ_DB_COPY");
  return setting == nullptr || (std::strcmp(setting, "0") != 0 && std::strcmp(setting, "off") != 0);
}

// The handlers that keep a fork from splitting a lock: the watcher and the
// pools are held still while the process forks, and the child forgets the
// connections it inherited (they belong to the parent's sessions).
void Before_Fork() {
  // The pool first: a lookup with a connection out may still need the
  // locks below (its report) before it gives the connection back.
  Pool().Lock_For_Fork();
  Copies_Before_Fork();
  Queries_Before_Fork();
  Report_Mutex().lock();
#ifdef KARVEL_HAS_POSTGRESQL
  g_pg_mutex.lock();
#endif
}

void After_Fork(bool child) {
#ifdef KARVEL_HAS_POSTGRESQL
  if (child) {
    // Left unused (its sockets are the parent's sessions; closing them
    // would end those), and kept reachable.
    static auto *const inherited = new std::vector<std::shared_ptr<Pg_Store>>;
    inherited->push_back(std::move(g_pg));
  }
  g_pg_mutex.unlock();
#endif
  Pool().Unlock_After_Fork(child);
  Report_Mutex().unlock();
  Queries_After_Fork();
  if (child)
    Copies_After_Fork_In_Child();
  else
    Copies_After_Fork_In_Parent();
}

const int g_fork_handlers = pthread_atfork(Before_Fork, [] { After_Fork(false); }, [] { After_Fork(true); });
#endif

// Words a copy holds: the empty word and very long ones go to the store.
constexpr size_t kMaxCopiedWord = 255;

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
  const std::string_view word_gb = Statement_Word(statement.value);
  std::string word;
  if (!gb::Gb_To_Utf8(word_gb, &word)) return false;

  std::string scratch;
  const char *location = Current_Path(&scratch);
  [[maybe_unused]] const bool want_word = selected == kSelectWord;
  bool found = false;
#ifdef KARVEL_HAS_TERM_COPIES
  const bool copied = !word_gb.empty() && word_gb.size() <= kMaxCopiedWord && Copies_Wanted();
  const Copy_Answer answer =
      copied ? Copy_Find(location, word_gb, want_word, value, [location] { return Make_Source(location); })
             : Copy_Answer::kNotReady;
  if (answer != Copy_Answer::kNotReady) {
    found = answer == Copy_Answer::kFound;
  } else
#endif
#ifdef KARVEL_HAS_POSTGRESQL
      if (tesq::Is_Postgres_Uri(location)) {
    found = Pg_Find(location, word, selected, value);
  } else
#endif
  {
    found = Sqlite_Find(location, word, selected, value);
  }
  if (found && selected == kSelectLabel && !Usable_Label(location, *value)) return false;
  return found;
}

void Term_Store_Close_Idle() {
  Pool().Close_Idle();
#ifdef KARVEL_HAS_POSTGRESQL
  std::shared_ptr<Pg_Store> store;
  {
    std::lock_guard<std::mutex> hold(g_pg_mutex);
    store = g_pg;
  }
  if (store != nullptr) store->Close_Idle();
#endif
}

int32_t Term_Copy_State() {
#ifdef KARVEL_HAS_TERM_COPIES
  if (!Copies_Wanted()) return KARVEL_COPY_OFF;
  std::string scratch;
  const char *location = Current_Path(&scratch);
  switch (Copy_Status(location, [location] { return Make_Source(location); })) {
    case Copy_State::kReady: return KARVEL_COPY_READY;
    case Copy_State::kReading: return KARVEL_COPY_READING;
    case Copy_State::kFailed: return KARVEL_COPY_FAILED;
    case Copy_State::kOff: break;
  }
#endif
  return KARVEL_COPY_OFF;
}

void Term_Store_Release() {
#ifdef KARVEL_HAS_TERM_COPIES
  Copies_Stop();  // first: its watcher uses the stores below
#endif
  Term_Store_Close_Idle();
}

}  // namespace karvel
