#include "pg_store.h"

#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "pg_schema.h"
#include "term_schema.h"

namespace karvel {
namespace {

using Clock = std::chrono::steady_clock;

// A failed store is tried again after this long; until then it answers
// "unavailable" at once.
constexpr auto kRetryAfter = std::chrono::milliseconds(500);
constexpr size_t kMaxIdle = 32;
// A full read of the table for a copy may take a while; it still ends.
constexpr auto kScanTimeout = std::chrono::seconds(60);


const char kLookupLabel[] = "tesq_lookup_label";
const char kLookupWord[] = "tesq_lookup_word";
const char kReadVersion[] = "tesq_read_version";
struct Prepared {
  const char *name;
  const char *sql;
};
const Prepared kPrepared[] = {
    {kLookupLabel, "SELECT " KARVEL_LABEL " FROM \"420_DIC\" WHERE " KARVEL_WORD " = $1"},
    {kLookupWord, "SELECT " KARVEL_WORD " FROM \"420_DIC\" WHERE " KARVEL_WORD " = $1"},
    {kReadVersion, "SELECT version FROM \"420_DIC_VERSION\""},
};
const char kExportSql[] =
    "SELECT " KARVEL_WORD ", " KARVEL_LABEL " FROM \"420_DIC\" ORDER BY " KARVEL_WORD " COLLATE \"C\"";
// Every writer of the schema or the table takes this lock first, so that
// imports and the creation of the schema take turns.
const char kWriterLockSql[] = "SELECT pg_advisory_xact_lock(4200420)";

// libpq's messages may run over several indented lines; a report is one
// line, its white space folded.
std::string One_Line(const char *text) {
  std::string line;
  for (const char *p = text; *p != '\0'; ++p) {
    const bool blank = *p == ' ' || *p == '\t' || *p == '\n' || *p == '\r';
    if (!blank)
      line += *p;
    else if (!line.empty() && line.back() != ' ')
      line += ' ';
  }
  if (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

std::string Connection_Message(const PGconn *c) {
  const std::string message = c != nullptr ? One_Line(PQerrorMessage(c)) : "out of memory";
  return message.empty() ? "the connection failed" : message;
}

std::string Result_Message(const PGresult *r, const PGconn *c) {
  if (r != nullptr && PQresultErrorMessage(r)[0] != '\0') return One_Line(PQresultErrorMessage(r));
  return Connection_Message(c);
}

// Waits until the connection's socket is ready for `events`; false when the
// deadline passes first or the socket fails.
bool Wait_Socket(PGconn *c, short events, Clock::time_point deadline) {
  const int fd = PQsocket(c);
  if (fd < 0) return false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

const char kTimedOut[] = "no answer within the time limit";

PGconn *Connect(const std::string &uri, Clock::time_point deadline, std::string *error) {
  const char *const keys[] = {"dbname", "application_name", nullptr};
  const char *const values[] = {uri.c_str(), "tesqsrch", nullptr};
  PGconn *c = PQconnectStartParams(keys, values, 1);
  if (c == nullptr || PQstatus(c) == CONNECTION_BAD) {
    *error = Connection_Message(c);
    PQfinish(c);
    return nullptr;
  }
  PostgresPollingStatusType status = PGRES_POLLING_WRITING;
  while (status != PGRES_POLLING_OK) {
    if (status == PGRES_POLLING_FAILED) {
      *error = Connection_Message(c);
      PQfinish(c);
      return nullptr;
    }
    if (!Wait_Socket(c, status == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline)) {
      *error = kTimedOut;
      PQfinish(c);
      return nullptr;
    }
    status = PQconnectPoll(c);
  }
  if (PQsetnonblocking(c, 1) != 0) {
    *error = Connection_Message(c);
    PQfinish(c);
    return nullptr;
  }
  return c;
}

// Sends what is queued and collects the command's results until the
// deadline. Returns the last result (the caller clears it), or nullptr with
// *error. A single-row read passes `row`, which receives each row's result.
PGresult *Await_Result(PGconn *c, Clock::time_point deadline, std::string *error,
                       const std::function<void(const PGresult *)> &row = nullptr) {
  for (;;) {
    const int flushed = PQflush(c);
    if (flushed == 0) break;
    if (flushed < 0 || !Wait_Socket(c, POLLOUT, deadline)) {
      *error = flushed < 0 ? Connection_Message(c) : kTimedOut;
      return nullptr;
    }
  }
  PGresult *last = nullptr;
  for (;;) {
    while (!PQisBusy(c)) {
      PGresult *r = PQgetResult(c);
      if (r == nullptr) {
        if (last == nullptr) *error = Connection_Message(c);
        return last;
      }
      if (row && PQresultStatus(r) == PGRES_SINGLE_TUPLE) {
        row(r);
        PQclear(r);
        continue;
      }
      PQclear(last);
      last = r;
    }
    if (!Wait_Socket(c, POLLIN, deadline)) {
      PQclear(last);
      *error = kTimedOut;
      return nullptr;
    }
    if (PQconsumeInput(c) == 0) {
      PQclear(last);
      *error = Connection_Message(c);
      return nullptr;
    }
  }
}

// Runs a command (text, or a prepared statement with parameters) and checks
// its status; false with *error otherwise.
bool Run(PGconn *c, const char *sql, const char *prepared, const std::vector<const char *> &params,
         ExecStatusType wanted, Clock::time_point deadline, PGresult **result, std::string *error,
         const std::function<void(const PGresult *)> &row = nullptr) {
  const int sent = prepared != nullptr
                       ? PQsendQueryPrepared(c, prepared, static_cast<int>(params.size()), params.data(), nullptr,
                                             nullptr, 0)
                       : PQsendQuery(c, sql);
  if (sent == 0) {
    *error = Connection_Message(c);
    return false;
  }
  if (row && PQsetSingleRowMode(c) == 0) {
    *error = "single-row mode refused";
    return false;
  }
  PGresult *r = Await_Result(c, deadline, error, row);
  if (r == nullptr) return false;
  if (PQresultStatus(r) != wanted) {
    *error = Result_Message(r, c);
    PQclear(r);
    return false;
  }
  if (result != nullptr)
    *result = r;
  else
    PQclear(r);
  return true;
}

PGconn *Connect_Prepared(const std::string &uri, Clock::time_point deadline, std::string *error) {
  PGconn *c = Connect(uri, deadline, error);
  if (c == nullptr) return nullptr;
  for (const Prepared &p : kPrepared) {
    if (PQsendPrepare(c, p.name, p.sql, 0, nullptr) == 0) {
      *error = Connection_Message(c);
      PQfinish(c);
      return nullptr;
    }
    PGresult *r = Await_Result(c, deadline, error);
    const bool ok = r != nullptr && PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!ok && r != nullptr) *error = Result_Message(r, c);
    PQclear(r);
    if (!ok) {
      PQfinish(c);
      return nullptr;
    }
  }
  return c;
}

}  // namespace

std::string Redacted_Uri(const std::string &uri) {
  const size_t scheme = uri.find("://");
  if (scheme == std::string::npos) return uri;
  const size_t authority = scheme + 3;
  const size_t end = uri.find_first_of("/?", authority);
  const size_t at = uri.rfind('@', end == std::string::npos ? std::string::npos : end);
  std::string shown = uri;
  if (at != std::string::npos && at >= authority) {
    const size_t colon = uri.find(':', authority);
    if (colon != std::string::npos && colon < at) shown = uri.substr(0, colon + 1) + "***" + uri.substr(at);
  }
  // A password may also come as a query parameter.
  const size_t password = shown.find("password=");
  if (password != std::string::npos && password > 0 && (shown[password - 1] == '?' || shown[password - 1] == '&')) {
    const size_t value_end = shown.find('&', password);
    shown = shown.substr(0, password + 9) + "***" + (value_end == std::string::npos ? "" : shown.substr(value_end));
  }
  return shown;
}

struct Pg_Store::Impl {
  std::chrono::milliseconds timeout;
  std::mutex mutex;
  std::vector<PGconn *> idle;
  bool down = false;
  Clock::time_point retry_at{};

  ~Impl() {
    for (PGconn *c : idle) PQfinish(c);
  }

  // True when a recent failure says not to try yet; otherwise the caller
  // may try (and, after an outage, is the one caller that probes).
  bool Backing_Off() {
    std::lock_guard<std::mutex> hold(mutex);
    if (!down) return false;
    const Clock::time_point now = Clock::now();
    if (now < retry_at) return true;
    retry_at = now + kRetryAfter;
    return false;
  }

  PGconn *Take(const std::string &uri, Clock::time_point deadline, std::string *error) {
    {
      std::lock_guard<std::mutex> hold(mutex);
      if (!idle.empty()) {
        PGconn *c = idle.back();
        idle.pop_back();
        return c;
      }
    }
    return Connect_Prepared(uri, deadline, error);
  }

  void Give(PGconn *c) {
    {
      std::lock_guard<std::mutex> hold(mutex);
      if (idle.size() < kMaxIdle) {
        idle.push_back(c);
        return;
      }
    }
    PQfinish(c);
  }

  void Failed(const std::string &uri, const std::string &reason) {
    std::lock_guard<std::mutex> hold(mutex);
    retry_at = Clock::now() + kRetryAfter;
    if (down) return;
    down = true;
    std::fprintf(stderr,
                 "karvel: %s: the term database is unavailable (%s); until it is back, lookups answer from the "
                 "copy in memory if there is one, else find no value\n",
                 Redacted_Uri(uri).c_str(), reason.c_str());
    std::fflush(stderr);
  }

  void Succeeded(const std::string &uri) {
    std::lock_guard<std::mutex> hold(mutex);
    if (!down) return;
    down = false;
    std::fprintf(stderr, "karvel: %s: the term database answers again\n", Redacted_Uri(uri).c_str());
    std::fflush(stderr);
  }

  // Runs one prepared statement against the deadline on a pooled connection.
  bool Prepared_Query(const std::string &uri, const char *name, const std::vector<const char *> &params,
                      PGresult **result, std::string *error) {
    const Clock::time_point deadline = Clock::now() + timeout;
    if (Backing_Off()) {
      *error = "unavailable";
      return false;
    }
    PGconn *c = Take(uri, deadline, error);
    if (c == nullptr) {
      Failed(uri, *error);
      return false;
    }
    if (!Run(c, nullptr, name, params, PGRES_TUPLES_OK, deadline, result, error)) {
      // Whatever went wrong, this connection is not trusted again.
      PQfinish(c);
      Failed(uri, *error);
      return false;
    }
    Give(c);
    Succeeded(uri);
    return true;
  }
};

Pg_Store::Pg_Store(std::string uri, int timeout_ms) : uri_(std::move(uri)), impl_(new Impl) {
  impl_->timeout = std::chrono::milliseconds(timeout_ms);
}

Pg_Store::~Pg_Store() = default;

Pg_Answer Pg_Store::Find(const std::string &word, bool want_word, std::string *value) {
  PGresult *r = nullptr;
  std::string error;
  if (!impl_->Prepared_Query(uri_, want_word ? kLookupWord : kLookupLabel, {word.c_str()}, &r, &error))
    return Pg_Answer::kUnavailable;
  const bool found = PQntuples(r) > 0 && PQgetisnull(r, 0, 0) == 0;
  if (found) value->assign(PQgetvalue(r, 0, 0), static_cast<size_t>(PQgetlength(r, 0, 0)));
  PQclear(r);
  return found ? Pg_Answer::kFound : Pg_Answer::kMissing;
}

bool Pg_Store::Version(int64_t *version, std::string *error) {
  PGresult *r = nullptr;
  if (!impl_->Prepared_Query(uri_, kReadVersion, {}, &r, error)) return false;
  const bool ok = PQntuples(r) == 1 && PQgetisnull(r, 0, 0) == 0;
  if (ok)
    *version = std::strtoll(PQgetvalue(r, 0, 0), nullptr, 10);
  else
    *error = "the table \"420_DIC_VERSION\" does not hold one row";
  PQclear(r);
  return ok;
}

bool Pg_Store::Scan(const std::function<void(const std::string &, const std::string &)> &row, int64_t *version,
                    std::string *error) {
  const Clock::time_point deadline = Clock::now() + kScanTimeout;
  PGconn *c = Connect(uri_, deadline, error);
  if (c == nullptr) {
    impl_->Failed(uri_, *error);
    return false;
  }
  PGresult *r = nullptr;
  bool ok = Run(c, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", nullptr, {}, PGRES_COMMAND_OK, deadline,
                nullptr, error) &&
            Run(c, "SELECT version FROM \"420_DIC_VERSION\"", nullptr, {}, PGRES_TUPLES_OK, deadline, &r, error);
  if (ok) {
    ok = PQntuples(r) == 1 && PQgetisnull(r, 0, 0) == 0;
    if (ok)
      *version = std::strtoll(PQgetvalue(r, 0, 0), nullptr, 10);
    else
      *error = "the table \"420_DIC_VERSION\" does not hold one row";
    PQclear(r);
  }
  ok = ok && Run(c, kScanSql, nullptr, {}, PGRES_TUPLES_OK, deadline, nullptr, error, [&](const PGresult *one) {
         if (PQgetisnull(one, 0, 0) || PQgetisnull(one, 0, 1)) return;
         row(std::string(PQgetvalue(one, 0, 0), static_cast<size_t>(PQgetlength(one, 0, 0))),
             std::string(PQgetvalue(one, 0, 1), static_cast<size_t>(PQgetlength(one, 0, 1))));
       });
  PQfinish(c);
  // An outage that a read of the whole table meets, or its end, is the
  // store's like any other (reported once).
  if (ok)
    impl_->Succeeded(uri_);
  else
    impl_->Failed(uri_, *error);
  return ok;
}

void Pg_Store::Close_Idle() {
  std::vector<PGconn *> closing;
  {
    std::lock_guard<std::mutex> hold(impl_->mutex);
    closing.swap(impl_->idle);
  }
  for (PGconn *c : closing) PQfinish(c);
}

namespace {

// A blocking connection for administration.
struct Admin_Connection {
  PGconn *c = nullptr;
  ~Admin_Connection() { PQfinish(c); }
  bool Open(const std::string &uri, std::string *error) {
    const char *const keys[] = {"dbname", "application_name", nullptr};
    const char *const values[] = {uri.c_str(), "tesq terms", nullptr};
    c = PQconnectdbParams(keys, values, 1);
    if (c == nullptr || PQstatus(c) != CONNECTION_OK) {
      *error = Connection_Message(c);
      return false;
    }
    PGresult *r = PQexec(c, "SET client_min_messages = warning");
    PQclear(r);
    return true;
  }
  bool Exec(const char *sql, std::string *error) {
    PGresult *r = PQexec(c, sql);
    const ExecStatusType status = PQresultStatus(r);
    const bool ok = status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
    if (!ok) *error = Result_Message(r, c);
    PQclear(r);
    return ok;
  }
};

// COPY text format: a backslash, tab, line feed or carriage return in a
// value is written as its escape.
void Append_Copy_Field(const std::string &value, std::string *out) {
  for (const char ch : value) {
    switch (ch) {
      case '\\': *out += "\\\\"; break;
      case '\t': *out += "\\t"; break;
      case '\n': *out += "\\n"; break;
      case '\r': *out += "\\r"; break;
      default: *out += ch;
    }
  }
}

}  // namespace

bool Pg_Create_Schema(const std::string &uri, std::string *error) {
  Admin_Connection db;
  return db.Open(uri, error) && db.Exec("BEGIN", error) && db.Exec(kWriterLockSql, error) &&
         db.Exec(kPostgresSchemaSql, error) && db.Exec("COMMIT", error);
}

bool Pg_Import(const std::string &uri, const std::vector<std::pair<std::string, std::string>> &rows, bool replace,
               std::string *error) {
  Admin_Connection db;
  if (!db.Open(uri, error)) return false;
  // A word given twice keeps its last label, as in a merge line by line.
  std::unordered_map<std::string, size_t> last_of;
  last_of.reserve(rows.size());
  for (size_t n = 0; n < rows.size(); ++n) last_of[rows[n].first] = n;

  if (!(db.Exec("BEGIN", error) && db.Exec(kWriterLockSql, error) && db.Exec(kPostgresSchemaSql, error) &&
        db.Exec("CREATE TEMPORARY TABLE tesq_staging (w text NOT NULL, l text NOT NULL) ON COMMIT DROP", error)))
    return false;
  PGresult *r = PQexec(db.c, "COPY tesq_staging (w, l) FROM STDIN");
  const bool copying = PQresultStatus(r) == PGRES_COPY_IN;
  if (!copying) *error = Result_Message(r, db.c);
  PQclear(r);
  if (!copying) return false;
  std::string chunk;
  bool sent = true;
  for (size_t n = 0; n < rows.size() && sent; ++n) {
    if (last_of[rows[n].first] != n) continue;
    Append_Copy_Field(rows[n].first, &chunk);
    chunk += '\t';
    Append_Copy_Field(rows[n].second, &chunk);
    chunk += '\n';
    if (chunk.size() >= 1 << 16) {
      sent = PQputCopyData(db.c, chunk.data(), static_cast<int>(chunk.size())) == 1;
      chunk.clear();
    }
  }
  if (sent && !chunk.empty()) sent = PQputCopyData(db.c, chunk.data(), static_cast<int>(chunk.size())) == 1;
  if (PQputCopyEnd(db.c, sent ? nullptr : "the import stopped") != 1) sent = false;
  r = PQgetResult(db.c);
  const bool copied = sent && PQresultStatus(r) == PGRES_COMMAND_OK;
  if (!copied) *error = Result_Message(r, db.c);
  PQclear(r);
  while ((r = PQgetResult(db.c)) != nullptr) PQclear(r);
  if (!copied) return false;

  const char *const kReplace = "DELETE FROM \"420_DIC\"";
  const char *const kInsert = "INSERT INTO \"420_DIC\" (" KARVEL_WORD ", " KARVEL_LABEL
                              ") SELECT w, l FROM tesq_staging ON CONFLICT (" KARVEL_WORD
                              ") DO UPDATE SET " KARVEL_LABEL " = EXCLUDED." KARVEL_LABEL;
  return (!replace || db.Exec(kReplace, error)) && db.Exec(kInsert, error) && db.Exec("COMMIT", error);
}

bool Pg_Export(const std::string &uri, const std::function<bool(const std::string &, const std::string &)> &row,
               std::string *error) {
  Admin_Connection db;
  if (!db.Open(uri, error)) return false;
  if (PQsendQuery(db.c, kExportSql) == 0 || PQsetSingleRowMode(db.c) == 0) {
    *error = Connection_Message(db.c);
    return false;
  }
  bool ok = true;
  bool stopped = false;
  while (PGresult *r = PQgetResult(db.c)) {
    const ExecStatusType status = PQresultStatus(r);
    if (status == PGRES_SINGLE_TUPLE && ok && !stopped) {
      stopped = !row(std::string(PQgetvalue(r, 0, 0), static_cast<size_t>(PQgetlength(r, 0, 0))),
                     std::string(PQgetvalue(r, 0, 1), static_cast<size_t>(PQgetlength(r, 0, 1))));
    } else if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK && ok) {
      *error = Result_Message(r, db.c);
      ok = false;
    }
    PQclear(r);
  }
  return ok && !stopped;
}

}  // namespace karvel
