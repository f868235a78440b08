#include "pg_store.h"

#include <libpq-fe.h>
#include <poll.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <algorithm>
#include <cstdlib>
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
// How often a read that may be told to stop looks at its flag.
constexpr int kStopCheckMs = 50;

const char kLookupLabel[] = "tesq_lookup_label";
const char kLookupWord[] = "tesq_lookup_word";
struct Prepared {
  const char *name;
  const char *sql;
};
// Only the lookups are prepared, so that a connection still serves them
// when the counter's table is damaged.
const Prepared kPrepared[] = {
    {kLookupLabel, "SELECT " KARVEL_LABEL " FROM \"420_DIC\" WHERE " KARVEL_WORD " = $1"},
    {kLookupWord, "SELECT " KARVEL_WORD " FROM \"420_DIC\" WHERE " KARVEL_WORD " = $1"},
};
// The stamp, in one statement (so one snapshot): the counter's rows and
// value, the table's identity, how many of its two columns it has, and all
// its columns with their types. A rename or a dropped column raises no
// counter, but changes the identity or the columns.
#define KARVEL_TABLE_OID "to_regclass('\"420_DIC\"')"
const char kStampSql[] =
    "SELECT (SELECT count(*) FROM \"420_DIC_VERSION\"), (SELECT max(version) FROM \"420_DIC_VERSION\"), "
    KARVEL_TABLE_OID "::oid, "
    "(SELECT count(*) FROM pg_attribute WHERE attrelid = " KARVEL_TABLE_OID
    " AND attnum > 0 AND NOT attisdropped AND quote_ident(attname) IN ('" KARVEL_WORD "', '" KARVEL_LABEL "')), "
    "(SELECT string_agg(quote_ident(attname) || ' ' || format_type(atttypid, atttypmod), ', ' ORDER BY attnum) "
    "FROM pg_attribute WHERE attrelid = " KARVEL_TABLE_OID " AND attnum > 0 AND NOT attisdropped)";
#undef KARVEL_TABLE_OID
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

// What went wrong with a call: the message, and whether the deadline passed
// or the table (not the server) could not answer the statement.
struct Failure {
  std::string message;
  bool timed_out = false;
  bool table = false;
};

const char kTimedOut[] = "no answer within the time limit";
const char kStopped[] = "stopped";

// A statement refused for what it names (no such table or column, no
// privilege on it: SQLSTATE class 42) on a connection that is still up.
bool Table_Fault(const PGresult *r, const PGconn *c) {
  const char *state = r != nullptr ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  return state != nullptr && std::strncmp(state, "42", 2) == 0 && PQstatus(c) == CONNECTION_OK;
}

// A refused statement: a table fault is told by its primary message alone,
// the same whichever statement and connection met it, so that it is
// reported once.
void Describe(const PGresult *r, const PGconn *c, Failure *failure) {
  failure->table = Table_Fault(r, c);
  const char *primary = failure->table ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  failure->message = primary != nullptr ? One_Line(primary) : Result_Message(r, c);
}

// Waits until the connection's socket is ready for `events`; false when the
// deadline passes first, *stopping is set or the socket fails.
bool Wait_Socket(PGconn *c, short events, Clock::time_point deadline, Failure *failure,
                 const std::atomic<bool> *stopping = nullptr) {
  const int fd = PQsocket(c);
  if (fd < 0) {
    failure->message = Connection_Message(c);
    return false;
  }
  for (;;) {
    if (stopping != nullptr && *stopping) {
      failure->message = kStopped;
      return false;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      failure->message = kTimedOut;
      failure->timed_out = true;
      return false;
    }
    if (stopping != nullptr && left > kStopCheckMs) left = kStopCheckMs;
    pollfd p{fd, events, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) {
      failure->message = std::strerror(errno);
      return false;
    }
  }
}

// libpq's notices (a server shutting down, a warning) go out as Karvel's
// own lines, about the store's URI without its password.
void Notice(void *uri, const char *message) {
  const std::string &location = *static_cast<const std::string *>(uri);
  std::fprintf(stderr, "karvel: %s: %s\n", Redacted_Uri(location).c_str(),
               Scrubbed(location, One_Line(message)).c_str());
  std::fflush(stderr);
}

// `uri` outlives the connection.
PGconn *Connect(const std::string &uri, Clock::time_point deadline, Failure *failure,
                const std::atomic<bool> *stopping = nullptr) {
  const char *const keys[] = {"dbname", "application_name", nullptr};
  const char *const values[] = {uri.c_str(), "tesqsrch", nullptr};
  PGconn *c = PQconnectStartParams(keys, values, 1);
  if (c == nullptr || PQstatus(c) == CONNECTION_BAD) {
    failure->message = Connection_Message(c);
    PQfinish(c);
    return nullptr;
  }
  PQsetNoticeProcessor(c, Notice, const_cast<std::string *>(&uri));
  PostgresPollingStatusType status = PGRES_POLLING_WRITING;
  while (status != PGRES_POLLING_OK) {
    if (status == PGRES_POLLING_FAILED) {
      failure->message = Connection_Message(c);
      PQfinish(c);
      return nullptr;
    }
    if (!Wait_Socket(c, status == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline, failure, stopping)) {
      PQfinish(c);
      return nullptr;
    }
    status = PQconnectPoll(c);
  }
  if (PQsetnonblocking(c, 1) != 0) {
    failure->message = Connection_Message(c);
    PQfinish(c);
    return nullptr;
  }
  return c;
}

// Sends what is queued and collects the command's results until the
// deadline. Returns the last result (the caller clears it), or nullptr with
// *failure. A single-row read passes `row`, which receives each row's
// result.
PGresult *Await_Result(PGconn *c, Clock::time_point deadline, Failure *failure,
                       const std::function<void(const PGresult *)> &row = nullptr,
                       const std::atomic<bool> *stopping = nullptr) {
  for (;;) {
    const int flushed = PQflush(c);
    if (flushed == 0) break;
    if (flushed < 0) {
      failure->message = Connection_Message(c);
      return nullptr;
    }
    if (!Wait_Socket(c, POLLOUT, deadline, failure, stopping)) return nullptr;
  }
  PGresult *last = nullptr;
  for (;;) {
    while (!PQisBusy(c)) {
      PGresult *r = PQgetResult(c);
      if (r == nullptr) {
        if (last == nullptr) failure->message = Connection_Message(c);
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
    if (!Wait_Socket(c, POLLIN, deadline, failure, stopping)) {
      PQclear(last);
      return nullptr;
    }
    if (PQconsumeInput(c) == 0) {
      PQclear(last);
      failure->message = Connection_Message(c);
      return nullptr;
    }
  }
}

// Runs a command (text, or a prepared statement with parameters) and checks
// its status; false with *failure otherwise.
bool Run(PGconn *c, const char *sql, const char *prepared, const std::vector<const char *> &params,
         ExecStatusType wanted, Clock::time_point deadline, PGresult **result, Failure *failure,
         const std::function<void(const PGresult *)> &row = nullptr, const std::atomic<bool> *stopping = nullptr) {
  const int sent = prepared != nullptr
                       ? PQsendQueryPrepared(c, prepared, static_cast<int>(params.size()), params.data(), nullptr,
                                             nullptr, 0)
                       : PQsendQuery(c, sql);
  if (sent == 0) {
    failure->message = Connection_Message(c);
    return false;
  }
  if (row && PQsetSingleRowMode(c) == 0) {
    failure->message = "single-row mode refused";
    return false;
  }
  PGresult *r = Await_Result(c, deadline, failure, row, stopping);
  if (r == nullptr) return false;
  if (PQresultStatus(r) != wanted) {
    Describe(r, c, failure);
    PQclear(r);
    return false;
  }
  if (result != nullptr)
    *result = r;
  else
    PQclear(r);
  return true;
}

PGconn *Connect_Prepared(const std::string &uri, Clock::time_point deadline, Failure *failure) {
  PGconn *c = Connect(uri, deadline, failure);
  if (c == nullptr) return nullptr;
  for (const Prepared &p : kPrepared) {
    if (PQsendPrepare(c, p.name, p.sql, 0, nullptr) == 0) {
      failure->message = Connection_Message(c);
      PQfinish(c);
      return nullptr;
    }
    PGresult *r = Await_Result(c, deadline, failure);
    const bool ok = r != nullptr && PQresultStatus(r) == PGRES_COMMAND_OK;
    if (!ok && r != nullptr) Describe(r, c, failure);
    PQclear(r);
    if (!ok) {
      PQfinish(c);
      return nullptr;
    }
  }
  return c;
}

// Reads the stamp query's one row: kFound with *stamp and *version, or
// kBroken with what is wrong in *failure.
Pg_Answer Stamp_Row(const PGresult *r, std::string *stamp, int64_t *version, Failure *failure) {
  failure->table = true;
  if (PQntuples(r) != 1 || PQnfields(r) != 5) {
    failure->message = "the stamp of the table could not be read";
    return Pg_Answer::kBroken;
  }
  const long long rows = std::strtoll(PQgetvalue(r, 0, 0), nullptr, 10);
  if (rows != 1) {
    failure->message = rows == 0 ? "the table \"420_DIC_VERSION\" holds no row, so changes of the terms cannot be "
                                   "followed; 'tesq terms init' puts its row back"
                                 : "the table \"420_DIC_VERSION\" holds " + std::to_string(rows) +
                                       " rows, so changes of the terms cannot be followed; delete all but one";
    return Pg_Answer::kBroken;
  }
  if (PQgetisnull(r, 0, 2)) {
    failure->message = "there is no table \"420_DIC\"";
    return Pg_Answer::kBroken;
  }
  if (std::strcmp(PQgetvalue(r, 0, 3), "2") != 0) {
    failure->message = "the table \"420_DIC\" lacks the column " KARVEL_WORD " or " KARVEL_LABEL;
    return Pg_Answer::kBroken;
  }
  failure->table = false;
  *version = std::strtoll(PQgetvalue(r, 0, 1), nullptr, 10);
  *stamp = std::string(PQgetvalue(r, 0, 1)) + ':' + PQgetvalue(r, 0, 2) + ':' + PQgetvalue(r, 0, 4);
  return Pg_Answer::kFound;
}

bool Is_Separator(char ch) { return std::strchr("@/?:#&=%", ch) != nullptr; }

int Hex_Value(char ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

std::string Percent_Decoded(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() + 0 && Hex_Value(text[i + 1]) >= 0 && Hex_Value(text[i + 2]) >= 0) {
      out += static_cast<char>(Hex_Value(text[i + 1]) * 16 + Hex_Value(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// Where the password of `uri` is: [*begin, *end) of the user information,
// or of a "password=" parameter when `parameter`; false when there is none.
bool Password_Span(const std::string &uri, bool parameter, size_t *begin, size_t *end) {
  if (parameter) {
    for (size_t at = uri.find("password="); at != std::string::npos; at = uri.find("password=", at + 1)) {
      if (at == 0 || (uri[at - 1] != '?' && uri[at - 1] != '&')) continue;
      *begin = at + 9;
      *end = std::min(uri.find('&', *begin), uri.size());
      return true;
    }
    return false;
  }
  const size_t scheme = uri.find("://");
  if (scheme == std::string::npos) return false;
  const size_t authority = scheme + 3;
  const size_t at = uri.rfind('@');
  if (at == std::string::npos || at < authority) return false;
  const size_t colon = uri.find(':', authority);
  if (colon == std::string::npos || colon > at) return false;
  *begin = colon + 1;
  *end = at;
  return true;
}

void Replace_All(std::string *text, const std::string &secret) {
  if (secret.empty()) return;
  for (size_t at = text->find(secret); at != std::string::npos; at = text->find(secret, at + 3))
    text->replace(at, secret.size(), "***");
}

}  // namespace

std::string Redacted_Uri(const std::string &uri) {
  std::string shown = uri;
  size_t begin = 0, end = 0;
  // The parameter first: hiding the user information moves it.
  if (Password_Span(shown, true, &begin, &end)) shown.replace(begin, end - begin, "***");
  if (Password_Span(shown, false, &begin, &end)) shown.replace(begin, end - begin, "***");
  return shown;
}

std::string Scrubbed(const std::string &uri, const std::string &message) {
  std::string text = message;
  const std::string shown = Redacted_Uri(uri);
  if (shown == uri) return text;
  Replace_All(&text, uri);
  std::vector<std::string> secrets;
  for (const bool parameter : {true, false}) {
    size_t begin = 0, end = 0;
    if (!Password_Span(uri, parameter, &begin, &end)) continue;
    const std::string password = uri.substr(begin, end - begin);
    secrets.push_back(password);
    secrets.push_back(Percent_Decoded(password));
    for (size_t i = 0; i < password.size();) {
      size_t j = i;
      while (j < password.size() && !Is_Separator(password[j])) ++j;
      if (j - i >= 3) secrets.push_back(password.substr(i, j - i));
      i = j + 1;
    }
  }
  // Longer secrets first, so that a part does not split a whole.
  std::sort(secrets.begin(), secrets.end(), [](const std::string &a, const std::string &b) { return a.size() > b.size(); });
  for (const std::string &secret : secrets) Replace_All(&text, secret);
  Replace_All(&text, shown);  // nothing to hide in it, but "***" may have been split
  return text;
}

enum { kLookupSlot = 0, kStampSlot = 1 };

struct Pg_Store::Impl {
  std::chrono::milliseconds timeout;
  std::mutex mutex;
  std::vector<PGconn *> idle;
  bool down = false;
  int strikes = 0;  // lookups in a row that missed the deadline
  Clock::time_point retry_at{};
  // The table faults reported last, of the lookups and of the stamp; ""
  // when that call answered since.
  std::string table_faults[2];

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

  PGconn *Take(const std::string &uri, Clock::time_point deadline, Failure *failure) {
    {
      std::lock_guard<std::mutex> hold(mutex);
      if (!idle.empty()) {
        PGconn *c = idle.back();
        idle.pop_back();
        return c;
      }
    }
    return Connect_Prepared(uri, deadline, failure);
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

  // A failed call. A table fault is reported once while it lasts, in its
  // `slot` (the lookups' or the stamp's, which fail apart), and is no
  // outage; a missed deadline is one strike; a failed connection, or the
  // last strike, starts an outage.
  void Failed(const std::string &uri, const Failure &failure, int slot) {
    if (failure.message == kStopped) return;
    std::lock_guard<std::mutex> hold(mutex);
    if (failure.table) {
      if (table_faults[slot] == failure.message) return;
      table_faults[slot] = failure.message;
      std::fprintf(stderr,
                   "karvel: %s: the term table cannot be used as it is (%s); lookups go to the table itself and "
                   "find no value where it cannot answer\n",
                   Redacted_Uri(uri).c_str(), Scrubbed(uri, failure.message).c_str());
      std::fflush(stderr);
      return;
    }
    if (failure.timed_out && !down && ++strikes < kStrikesBeforeBackOff) return;
    retry_at = Clock::now() + kRetryAfter;
    if (down) return;
    down = true;
    std::fprintf(stderr,
                 "karvel: %s: the term database is unavailable (%s); until it is back, lookups answer from the "
                 "copy in memory if there is one, else find no value\n",
                 Redacted_Uri(uri).c_str(), Scrubbed(uri, failure.message).c_str());
    std::fflush(stderr);
  }

  // A call the server answered; its `slot` (or none: -1) answered as the
  // schema says, too.
  void Succeeded(const std::string &uri, int slot) {
    std::lock_guard<std::mutex> hold(mutex);
    strikes = 0;
    if (slot >= 0) table_faults[slot].clear();
    if (!down) return;
    down = false;
    std::fprintf(stderr, "karvel: %s: the term database answers again\n", Redacted_Uri(uri).c_str());
    std::fflush(stderr);
  }

  // Runs one statement (prepared, or text) against the deadline on a
  // pooled connection; false with *failure, already counted.
  bool Query(const std::string &uri, const char *name, const char *sql, const std::vector<const char *> &params,
             int slot, PGresult **result, Failure *failure) {
    const Clock::time_point deadline = Clock::now() + timeout;
    if (Backing_Off()) {
      failure->message = "unavailable";
      return false;
    }
    PGconn *c = Take(uri, deadline, failure);
    if (c == nullptr || !Run(c, sql, name, params, PGRES_TUPLES_OK, deadline, result, failure)) {
      // Whatever went wrong, this connection is not trusted again.
      PQfinish(c);
      if (failure->table) Succeeded(uri, -1);  // the server itself answered
      Failed(uri, *failure, slot);
      return false;
    }
    Give(c);
    if (slot == kLookupSlot) Succeeded(uri, slot);  // a stamp is judged by its row
    return true;
  }
};

Pg_Store::Pg_Store(std::string uri, int timeout_ms) : uri_(std::move(uri)), impl_(new Impl) {
  impl_->timeout = std::chrono::milliseconds(timeout_ms);
}

Pg_Store::~Pg_Store() = default;

Pg_Answer Pg_Store::Find(const std::string &word, bool want_word, std::string *value) {
  PGresult *r = nullptr;
  Failure failure;
  if (!impl_->Query(uri_, want_word ? kLookupWord : kLookupLabel, nullptr, {word.c_str()}, kLookupSlot, &r,
                    &failure))
    return failure.table ? Pg_Answer::kBroken : Pg_Answer::kUnavailable;
  const bool found = PQntuples(r) > 0 && PQgetisnull(r, 0, 0) == 0;
  if (found) value->assign(PQgetvalue(r, 0, 0), static_cast<size_t>(PQgetlength(r, 0, 0)));
  PQclear(r);
  return found ? Pg_Answer::kFound : Pg_Answer::kMissing;
}

Pg_Answer Pg_Store::Stamp(std::string *stamp, int64_t *version) {
  PGresult *r = nullptr;
  Failure failure;
  if (!impl_->Query(uri_, nullptr, kStampSql, {}, kStampSlot, &r, &failure))
    return failure.table ? Pg_Answer::kBroken : Pg_Answer::kUnavailable;
  int64_t counter = 0;
  const Pg_Answer answer = Stamp_Row(r, stamp, &counter, &failure);
  PQclear(r);
  impl_->Succeeded(uri_, answer == Pg_Answer::kFound ? kStampSlot : -1);
  if (answer != Pg_Answer::kFound) {
    impl_->Failed(uri_, failure, kStampSlot);
    return answer;
  }
  if (version != nullptr) *version = counter;
  return answer;
}

Pg_Answer Pg_Store::Scan(const std::function<void(const std::string &, const std::string &)> &row,
                         std::string *stamp, const std::atomic<bool> *stopping,
                         const std::function<void()> &between) {
  const Clock::time_point deadline = Clock::now() + kScanTimeout;
  Failure failure;
  PGconn *c = Connect(uri_, deadline, &failure, stopping);
  PGresult *r = nullptr;
  // The stamp and the rows in one snapshot: a change committed between the
  // two reads is in neither.
  bool ok = c != nullptr && Run(c, "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY", nullptr, {}, PGRES_COMMAND_OK,
                                deadline, nullptr, &failure, nullptr, stopping) &&
            Run(c, kStampSql, nullptr, {}, PGRES_TUPLES_OK, deadline, &r, &failure, nullptr, stopping);
  if (ok) {
    int64_t version = 0;
    ok = Stamp_Row(r, stamp, &version, &failure) == Pg_Answer::kFound;
    PQclear(r);
  }
  if (ok && between) between();
  ok = ok && Run(c, kScanSql, nullptr, {}, PGRES_TUPLES_OK, deadline, nullptr, &failure,
                 [&](const PGresult *one) {
                   if (PQgetisnull(one, 0, 0) || PQgetisnull(one, 0, 1)) return;
                   row(std::string(PQgetvalue(one, 0, 0), static_cast<size_t>(PQgetlength(one, 0, 0))),
                       std::string(PQgetvalue(one, 0, 1), static_cast<size_t>(PQgetlength(one, 0, 1))));
                 },
                 stopping);
  PQfinish(c);
  // A lost server, or its return, is the store's like any other outage
  // (reported once); a read that merely took too long puts no lookup into
  // back-off.
  if (ok) {
    impl_->Succeeded(uri_, kStampSlot);
    return Pg_Answer::kFound;
  }
  if (!failure.timed_out) impl_->Failed(uri_, failure, kStampSlot);
  return failure.table ? Pg_Answer::kBroken : Pg_Answer::kUnavailable;
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
// Its messages never hold the password.
struct Admin_Connection {
  PGconn *c = nullptr;
  ~Admin_Connection() { PQfinish(c); }
  // `uri` outlives the connection.
  bool Open(const std::string &uri, std::string *error) {
    const char *const keys[] = {"dbname", "application_name", nullptr};
    const char *const values[] = {uri.c_str(), "tesq terms", nullptr};
    c = PQconnectdbParams(keys, values, 1);
    if (c == nullptr || PQstatus(c) != CONNECTION_OK) {
      *error = Connection_Message(c);
      return false;
    }
    PQsetNoticeProcessor(c, Notice, const_cast<std::string *>(&uri));
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

bool Create_Schema(const std::string &uri, std::string *error) {
  Admin_Connection db;
  return db.Open(uri, error) && db.Exec("BEGIN", error) && db.Exec(kWriterLockSql, error) &&
         db.Exec(kPostgresSchemaSql, error) && db.Exec("COMMIT", error);
}

bool Import(const std::string &uri, const std::vector<std::pair<std::string, std::string>> &rows, bool replace,
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

bool Export(const std::string &uri, const std::function<bool(const std::string &, const std::string &)> &row,
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

// What an administration call gives back: its result, and its message
// without the password.
bool Scrubbed_Result(const std::string &uri, bool ok, std::string *error) {
  if (!ok) *error = Scrubbed(uri, *error);
  return ok;
}

}  // namespace

bool Pg_Create_Schema(const std::string &uri, std::string *error) {
  return Scrubbed_Result(uri, Create_Schema(uri, error), error);
}

bool Pg_Import(const std::string &uri, const std::vector<std::pair<std::string, std::string>> &rows, bool replace,
               std::string *error) {
  return Scrubbed_Result(uri, Import(uri, rows, replace, error), error);
}

bool Pg_Export(const std::string &uri, const std::function<bool(const std::string &, const std::string &)> &row,
               std::string *error) {
  return Scrubbed_Result(uri, Export(uri, row, error), error);
}

}  // namespace karvel
