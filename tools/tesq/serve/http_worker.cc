// The HTTP side of tesq serve: the accept loop, one thread per open
// connection, the requests read strictly (http_request.h) under a deadline
// from their first byte, the routing, the handlers and the answers. A slow
// client (one byte a second) is cut off by the whole-request deadline, the
// connection limit is enforced at accept with a 503, and SIGTERM lets the
// requests in flight finish.
//
// Every answer comes from the five exports of the public header.
#include "http_worker.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <vector>

#include "answers.h"
#include "cli_options.h"
#include "copy_wait.h"
#include "essay_stream.h"
#include "gb2312.h"
#include "http_request.h"
#include "karvel/karvel.h"
#include "library_calls.h"
#include "log_queue.h"
#include "playground_page.h"
#include "routes.h"
#include "tesqsrch/tesqsrch.h"
#include "trace_rotation.h"

namespace serve {
namespace {

using Clock = std::chrono::steady_clock;
using json = nlohmann::json;

// Rounded up, so that a wait of this long has passed the deadline.
int64_t Ms_Until(Clock::time_point deadline) {
  return std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

// Waits until `fd` has `events` or the deadline passes; false on timeout or
// error.
bool Wait_Fd(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const int64_t left = std::max<int64_t>(Ms_Until(deadline), 0);
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 1 << 30)));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
    if (n == 0 && left == 0) return false;
  }
}

// Writes all of `bytes` to a non-blocking socket before the deadline.
bool Send_All(int fd, const char *bytes, size_t size, Clock::time_point deadline) {
  while (size > 0) {
    const ssize_t n = send(fd, bytes, size, MSG_NOSIGNAL);
    if (n > 0) {
      bytes += n;
      size -= static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      if (!Wait_Fd(fd, POLLOUT, deadline)) return false;
      continue;
    }
    return false;
  }
  return true;
}

const char *Reason(int status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 400: return "Bad Request";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 413: return "Content Too Large";
    case 414: return "URI Too Long";
    case 415: return "Unsupported Media Type";
    case 417: return "Expectation Failed";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    case 505: return "HTTP Version Not Supported";
    default: return "Unknown";
  }
}

struct Answer {
  int status = 200;
  std::string content_type = "application/json";
  std::string body;
  std::string extra_headers;  // whole lines, CR LF included
};

// The bytes of an answer. A HEAD answer has the headers of the GET answer
// and no body.
std::string Answer_Bytes(const Answer &a, bool close, int keep_alive_seconds, bool head_only) {
  std::string out;
  out.reserve(a.body.size() + 200);
  out += "HTTP/1.1 ";
  out += std::to_string(a.status);
  out += ' ';
  out += Reason(a.status);
  out += "\r\nContent-Type: ";
  out += a.content_type;
  out += "\r\nContent-Length: ";
  out += std::to_string(a.body.size());
  out += "\r\n";
  out += a.extra_headers;
  if (close) {
    out += "Connection: close\r\n";
  } else if (keep_alive_seconds > 0) {
    // The time advertised is never longer than the time kept.
    out += "Keep-Alive: timeout=" + std::to_string(keep_alive_seconds) + "\r\n";
  }
  out += "\r\n";
  if (!head_only) out += a.body;
  return out;
}

std::string Error_Json(const std::string &code, const std::string &message) {
  return json{{"error", {{"code", code}, {"message", message}}}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

// The answers written without a request to answer: a connection cut off by
// the time limit, one beyond the connection limit.
const std::string kTimeout_Answer = Answer_Bytes(
    {408, "application/json", Error_Json("timeout", "the request was not received within the time limit"), ""}, true, 0,
    false);
const std::string kBusy_Answer = Answer_Bytes(
    {503, "application/json", Error_Json("overloaded", "too many connections; retry after 1 s"), "Retry-After: 1\r\n"},
    true, 0, false);

// ---------------------------------------------------------------- metrics

const double kBuckets[] = {0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};
constexpr size_t kBucket_Count = sizeof kBuckets / sizeof kBuckets[0];

// The figures of /metrics that are not counted here.
struct Gauges {
  int64_t in_flight, connections;
  uint64_t rejected, timeouts, log_dropped, log_errors;
};

struct Histogram {
  uint64_t counts[kBucket_Count + 1] = {};
  double sum = 0;
  uint64_t count = 0;
};

class Metrics {
 public:
  void Observe(const std::string &endpoint, int status, double seconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++requests_[{endpoint, status}];
    Histogram &h = latency_[endpoint];
    size_t i = 0;
    while (i < kBucket_Count && seconds > kBuckets[i]) ++i;
    ++h.counts[i];
    h.sum += seconds;
    ++h.count;
  }
  void Error(const std::string &code) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++errors_[code];
  }
  std::string Text(int generation, const Gauges &g) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string out;
    char line[256];
    out += "# HELP tesq_requests_total Requests answered, by endpoint and status.\n# TYPE tesq_requests_total counter\n";
    for (const auto &[key, n] : requests_) {
      std::snprintf(line, sizeof line, "tesq_requests_total{endpoint=\"%s\",status=\"%d\"} %llu\n",
                    key.first.c_str(), key.second, static_cast<unsigned long long>(n));
      out += line;
    }
    out += "# HELP tesq_request_duration_seconds Time from a request's first byte to its answer.\n"
           "# TYPE tesq_request_duration_seconds histogram\n";
    for (const auto &[endpoint, h] : latency_) {
      uint64_t cumulative = 0;
      for (size_t i = 0; i <= kBucket_Count; ++i) {
        cumulative += h.counts[i];
        if (i < kBucket_Count)
          std::snprintf(line, sizeof line, "tesq_request_duration_seconds_bucket{endpoint=\"%s\",le=\"%g\"} %llu\n",
                        endpoint.c_str(), kBuckets[i], static_cast<unsigned long long>(cumulative));
        else
          std::snprintf(line, sizeof line, "tesq_request_duration_seconds_bucket{endpoint=\"%s\",le=\"+Inf\"} %llu\n",
                        endpoint.c_str(), static_cast<unsigned long long>(cumulative));
        out += line;
      }
      std::snprintf(line, sizeof line,
                    "tesq_request_duration_seconds_sum{endpoint=\"%s\"} %.6f\n"
                    "tesq_request_duration_seconds_count{endpoint=\"%s\"} %llu\n",
                    endpoint.c_str(), h.sum, endpoint.c_str(), static_cast<unsigned long long>(h.count));
      out += line;
    }
    out += "# HELP tesq_errors_total Error answers and cut-off connections, by cause.\n# TYPE tesq_errors_total counter\n";
    std::map<std::string, uint64_t> errors = errors_;
    errors["overloaded"] += g.rejected;
    errors["timeout"] += g.timeouts;
    for (const auto &[code, n] : errors) {
      std::snprintf(line, sizeof line, "tesq_errors_total{code=\"%s\"} %llu\n", code.c_str(),
                    static_cast<unsigned long long>(n));
      out += line;
    }
    out += "# HELP tesq_in_flight_requests Requests being answered now.\n# TYPE tesq_in_flight_requests gauge\n"
           "tesq_in_flight_requests " + std::to_string(g.in_flight) +
           "\n# HELP tesq_open_connections Connections open now.\n# TYPE tesq_open_connections gauge\n"
           "tesq_open_connections " + std::to_string(g.connections) +
           "\n# HELP tesq_worker_generation The worker's number: 1 at start, one more per reload.\n"
           "# TYPE tesq_worker_generation gauge\ntesq_worker_generation " + std::to_string(generation) +
           "\n# HELP tesq_log_lines_dropped_total Request log lines dropped because standard error did not take them.\n"
           "# TYPE tesq_log_lines_dropped_total counter\ntesq_log_lines_dropped_total " + std::to_string(g.log_dropped) +
           "\n# HELP tesq_log_write_errors_total Request log lines that could not be written.\n"
           "# TYPE tesq_log_write_errors_total counter\ntesq_log_write_errors_total " + std::to_string(g.log_errors) + "\n";
    return out;
  }

 private:
  std::mutex mutex_;
  std::map<std::pair<std::string, int>, uint64_t> requests_;
  std::map<std::string, Histogram> latency_;
  std::map<std::string, uint64_t> errors_;
};

// ---------------------------------------------------------------- errors

struct Request_Error {
  int status;
  std::string code;
  std::string message;
  std::string parameter;  // empty when none
  long long offset = -1;  // byte offset in the parameter's value, -1 when none
};

// Request bytes in the message are escaped by whoever quotes them; any that
// slip into a parameter name are replaced, so this never fails.
std::string Error_Body(const Request_Error &e) {
  json error = {{"code", e.code}, {"message", e.message}};
  if (!e.parameter.empty()) error["parameter"] = e.parameter;
  if (e.offset >= 0) error["offset"] = e.offset;
  return json{{"error", error}}.dump(-1, ' ', false, json::error_handler_t::replace);
}

// ---------------------------------------------------------------- input

struct Input {
  std::map<std::string, std::string> values;
  Charset charset = Charset::kUtf8;
  bool json_body = false;
  json body;  // the parsed JSON body, for the batch
};

std::string Trimmed(const std::string &s) { return std::string(Trim_Blanks(s)); }

// The media type of a Content-Type value (lower case) and its charset
// parameter (lower case, unquoted; empty when none).
void Media_Type(const std::string &type, std::string *media, std::string *charset) {
  *media = Lower_Case(Trimmed(type.substr(0, type.find(';'))));
  charset->clear();
  size_t at = type.find(';');
  while (at != std::string::npos) {
    const size_t next = type.find(';', at + 1);
    const std::string parameter = Trimmed(type.substr(at + 1, next == std::string::npos ? next : next - at - 1));
    const size_t eq = parameter.find('=');
    if (eq != std::string::npos && Lower_Case(Trimmed(parameter.substr(0, eq))) == "charset") {
      std::string value = Trimmed(parameter.substr(eq + 1));
      if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
      *charset = Lower_Case(value);
    }
    at = next;
  }
}

// The parameters of a request: the query string, and a form, JSON or plain
// text body (plain text is the value of `text_parameter`).
bool Read_Input(const Http_Request &req, const std::set<std::string> &allowed, const char *text_parameter,
                Input *in, Request_Error *error) {
  for (auto &[name, value] : Parse_Form(req.query)) in->values[name] = std::move(value);
  const std::string *type = req.Header("content-type");
  std::string media, body_charset;
  Media_Type(type ? *type : "", &media, &body_charset);
  if (req.method == "POST" && !req.body.empty()) {
    if (media == "application/json") {
      try {
        in->body = json::parse(req.body);
      } catch (const json::exception &e) {
        *error = {400, "bad_json", "the body is not valid JSON: " + Printable(e.what()), "", -1};
        return false;
      }
      if (!in->body.is_object()) {
        *error = {400, "bad_json", "the body must be a JSON object", "", -1};
        return false;
      }
      in->json_body = true;
      for (const auto &[name, value] : in->body.items()) {
        if (value.is_string()) {
          in->values[name] = value.get<std::string>();
        } else if (!allowed.count(name)) {
          in->values[name] = "";
        } else if (text_parameter != nullptr) {
          *error = {400, "bad_value", "the parameter '" + name + "' must be a string", name, -1};
          return false;
        }
      }
    } else if (media == "text/plain" && text_parameter != nullptr) {
      in->values[text_parameter] = req.body;
      if (!body_charset.empty() && !in->values.count("charset")) in->values["charset"] = body_charset;
    } else if (media == "application/x-www-form-urlencoded") {
      for (auto &[name, value] : Parse_Form(req.body)) in->values[name] = std::move(value);
    } else {
      *error = {400, "bad_content_type",
                "a body must be application/json, application/x-www-form-urlencoded or text/plain", "", -1};
      return false;
    }
  }
  for (const auto &[name, value] : in->values)
    if (!allowed.count(name)) {
      *error = {400, "unknown_parameter", "unknown parameter '" + Printable(name) + "'", name, -1};
      return false;
    }
  const auto charset = in->values.find("charset");
  if (charset != in->values.end()) {
    const std::string name = Lower_Case(charset->second);
    if (name == "utf-8" || name == "utf8") {
      in->charset = Charset::kUtf8;
    } else if (name == "gb2312") {
      if (in->json_body) {
        *error = {400, "bad_value", "a JSON body is UTF-8; pass GB2312 bytes in a form or text body", "charset", -1};
        return false;
      }
      in->charset = Charset::kGb2312;
    } else {
      *error = {400, "bad_value", "unknown charset '" + Printable(charset->second) + "' (utf-8 or gb2312)", "charset", -1};
      return false;
    }
  }
  return true;
}

// The text of a parameter for the library, as tesq converts terminal text:
// UTF-8 to GB2312 (a character without a GB2312 form or malformed UTF-8 is
// refused, naming its byte), GB2312 unchanged; a NUL byte is refused in both.
bool Library_Text(const std::string &name, const std::string &text, Charset charset, std::string *gb,
                  Request_Error *error) {
  const size_t nul = text.find('\0');
  if (nul != std::string::npos) {
    *error = {400, "nul", "the parameter '" + name + "' contains a NUL byte at byte " + std::to_string(nul), name,
              static_cast<long long>(nul)};
    return false;
  }
  if (charset == Charset::kGb2312) {
    *gb = text;
    return true;
  }
  std::string why;
  gb::Utf8_Fault fault;
  size_t offset;
  if (gb::Utf8_To_Gb(text, gb, &why, &fault, &offset)) return true;
  *error = {400, fault == gb::Utf8_Fault::kMalformed ? "malformed_utf8" : "no_gb2312_form",
            "the parameter '" + name + "': " + why, name, static_cast<long long>(offset)};
  return false;
}

bool Required(const Input &in, const std::string &name, std::string *gb, Request_Error *error) {
  const auto it = in.values.find(name);
  if (it == in.values.end()) {
    *error = {400, "missing_parameter", "missing parameter '" + name + "'", name, -1};
    return false;
  }
  return Library_Text(name, it->second, in.charset, gb, error);
}

std::string To_Utf8(const std::string &gbtext) { return cli::From_Gb(gbtext, cli::Encoding::kUtf8); }

std::string Output_Text(const std::string &gbtext, Charset charset) {
  return charset == Charset::kGb2312 ? gbtext : To_Utf8(gbtext);
}

// ---------------------------------------------------------------- library calls

// At most --threads library calls run at once; the connection threads wait
// here, so open connections do not multiply the CPU work.
class Gate {
 public:
  explicit Gate(int n) : free_(n) {}
  void Enter() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, [&] { return free_ > 0; });
    --free_;
  }
  void Leave() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++free_;
    }
    cv_.notify_one();
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int free_;
};

struct Gate_Pass {
  explicit Gate_Pass(Gate &g) : gate(g) { gate.Enter(); }
  ~Gate_Pass() { gate.Leave(); }
  Gate &gate;
};

struct Word_Answer {
  int32_t result;
  std::string label;  // GB2312, when result is 0
};

Word_Answer Classify_Word(const std::string &gbword) {
  Word_Answer answer;
  answer.result = cli::Word_Label(gbword, &answer.label);
  return answer;
}

// The query document, or the library's result code when it gives none.
int32_t Search_Document(const std::string &gbquery, std::string *document) {
  uint32_t needed = 0;
  return cli::Query_Document(gbquery, document, &needed);
}

// Segments GB2312 text in the pieces tesq essay cuts, with spans in the
// whole text; false when the library fails.
bool Segment_Essay(const std::string &gbtext, std::vector<Essay_Word> *words) {
  size_t start = 0;
  std::vector<Essay_Word> piece_words;
  for (const size_t end : cli::Split_Pieces(gbtext, cli::kEssay_Piece_Bytes)) {
    cli::Piece_Segmentation how;
    if (!cli::Segment_Piece(gbtext.substr(start, end - start), &piece_words, &how)) return false;
    for (const Essay_Word &w : piece_words) words->push_back({start + w.start, start + w.end, w.tag});
    start = end;
  }
  return true;
}

// ---------------------------------------------------------------- the server

// The peer's address, for the log.
std::string Peer_Address(int fd) {
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  char text[INET6_ADDRSTRLEN] = "";
  if (getpeername(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0) {
    if (addr.ss_family == AF_INET)
      inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in *>(&addr)->sin_addr, text, sizeof text);
    else if (addr.ss_family == AF_INET6)
      inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6 *>(&addr)->sin6_addr, text, sizeof text);
  }
  return text;
}

// The request limits with the payload limit of the settings.
Request_Limits Limits_Of(const Settings &settings) {
  Request_Limits limits;
  limits.body = settings.max_body;
  return limits;
}

// Request log lines waiting for standard error, at most (4 KiB each at most).
constexpr size_t kLog_Queue_Lines = 1024;

// What the page's answer adds: it may run its own inline script and styles
// and talk to this server alone, so it fetches nothing from elsewhere.
const char kPage_Headers[] =
    "Content-Security-Policy: default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; "
    "connect-src 'self'; img-src 'self' data:; base-uri 'none'; form-action 'none'; frame-ancestors 'none'\r\n"
    "X-Content-Type-Options: nosniff\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "Cache-Control: no-cache\r\n";

class Worker {
 public:
  Worker(const Settings &settings, int generation)
      : settings_(settings), generation_(generation), limits_(Limits_Of(settings)), gate_(settings.threads),
        rotation_(settings.trace_max_bytes, settings.trace_keep), log_(STDERR_FILENO, kLog_Queue_Lines) {}

  // Accepts on `listen_fd` until SIGTERM arrives on `signal_fd`, then drains.
  int Serve(int listen_fd, int signal_fd) {
    std::thread rejecter;
    try {
      rejecter = std::thread([this] { Reject_Loop(); });
    } catch (const std::system_error &e) {
      std::fprintf(stderr, "tesq serve: cannot start a thread: %s\n", e.what());
      return 1;
    }
    bool exhausted = false;
    Clock::time_point last_report{};
    uint64_t unreported = 0;
    for (;;) {
      // When descriptors have run out, the listener is left alone for a
      // moment: it stays readable, and accepting again at once would spin.
      pollfd p[2] = {{signal_fd, POLLIN, 0}, {listen_fd, POLLIN, 0}};
      if (poll(p, exhausted ? 1 : 2, exhausted ? 100 : -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (p[0].revents & POLLIN) {
        signalfd_siginfo info;
        if (::read(signal_fd, &info, sizeof info) == sizeof info &&
            (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT))
          break;
      }
      const bool was_exhausted = exhausted;
      exhausted = false;
      if (was_exhausted || (p[1].revents & POLLIN)) {
        int why = 0;
        exhausted = !Accept(listen_fd, &why);
        if (exhausted) {
          ++unreported;
          metrics_.Error("descriptors");
          if (Clock::now() - last_report >= std::chrono::seconds(10)) {
            Log_Event("accept_failed", std::string("cannot accept a connection: ") + std::strerror(why) +
                                           "; retrying every 100 ms (" + std::to_string(unreported) + " times)");
            last_report = Clock::now();
            unreported = 0;
          }
        }
      }
    }
    // Connections already in the listen backlog were accepted by the
    // system, and their clients may have sent a request: they are taken
    // and answered (with Connection: close) rather than reset at the close.
    stopping_.store(true);
    int why = 0;
    Accept(listen_fd, &why, true);
    close(listen_fd);
    {
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.notify_all();
      drained_.wait(lock, [&] { return open_connections_ == 0; });
      quit_ = true;
      cv_.notify_all();
    }
    reject_cv_.notify_all();
    rejecter.join();
    for (std::thread &t : threads_) t.join();
    log_.Stop(1000);
    return 0;
  }

 private:
  // Takes the connections waiting; false when descriptors (or memory for
  // them) have run out, with the errno in *why.
  // A call takes at most 64 unless `all`, when it takes every one waiting.
  bool Accept(int listen_fd, int *why, bool all = false) {
    for (int i = 0; all || i < 64; ++i) {
      const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          *why = errno;
          return false;
        }
        return true;  // EAGAIN: the other worker took it, or none left
      }
      const int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::unique_lock<std::mutex> lock(mutex_);
      if (open_connections_ >= settings_.max_connections) {
        Reject(fd);
        continue;
      }
      ++open_connections_;
      pending_.push_back(fd);
      // A woken thread counts as idle until it has taken its connection, so
      // a thread is started unless enough idle ones remain for every
      // connection waiting (else one could wait for a busy connection to
      // end).
      if (static_cast<size_t>(idle_threads_) < pending_.size()) {
        try {
          threads_.emplace_back([this] { Connection_Loop(); });
        } catch (const std::system_error &e) {
          // No thread to be had (a task or memory limit): this connection
          // gets the 503 of one beyond the limit, and serving goes on.
          pending_.pop_back();
          --open_connections_;
          Reject(fd);
          metrics_.Error("no_thread");
          if (!thread_failure_reported_.exchange(true))
            Log_Event("thread_failed", std::string("cannot start a connection thread: ") + e.what() +
                                           "; such connections are answered 503");
        }
      } else {
        cv_.notify_one();
      }
    }
    return true;
  }

  // Under mutex_: the connection gets a 503 with Retry-After from the
  // rejecting thread.
  void Reject(int fd) {
    if (rejects_.size() < 256) {
      rejects_.push_back(fd);
      reject_cv_.notify_one();
    } else {
      close(fd);
    }
    rejected_.fetch_add(1);
  }

  // Connection threads: one per open connection, kept for the next.
  void Connection_Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      ++idle_threads_;
      cv_.wait(lock, [&] { return !pending_.empty() || quit_; });
      --idle_threads_;
      if (pending_.empty()) return;
      const int fd = pending_.front();
      pending_.pop_front();
      lock.unlock();
      Serve_Connection(fd);
      lock.lock();
      --open_connections_;
      if (open_connections_ == 0) drained_.notify_all();
    }
  }

  // Reads into buffer[*end..]: the bytes read, 0 at end of input, -1 on an
  // error or when the deadline passed (*timed_out set).
  static ssize_t Receive(int fd, char *buffer, size_t size, Clock::time_point deadline, bool *timed_out) {
    for (;;) {
      const ssize_t n = recv(fd, buffer, size, 0);
      if (n >= 0) return n;
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
      if (!Wait_Fd(fd, POLLIN, deadline)) {
        *timed_out = true;
        return -1;
      }
    }
  }

  void Serve_Connection(int fd) {
    if (settings_.log) t_remote = Peer_Address(fd);
    Request_Parser parser(limits_);
    char buffer[16384];
    size_t start = 0, end = 0;
    const int keep_alive_seconds = settings_.keep_alive_ms / 1000;
    for (int served = 0;; ++served) {
      // The first request may take the time limit to start, a later one the
      // keep-alive time. The next request is awaited even while draining,
      // and answered with Connection: close: closing an idle keep-alive
      // connection at once would lose a request the client may be sending
      // at that moment. So a drain lasts at most the keep-alive time beyond
      // the requests in flight. That holds too for a connection whose
      // answer went out without Connection: close because the drain began
      // while it was being served: its client is already sending the next
      // request.
      if (start == end) {
        start = end = 0;
        const auto idle = std::chrono::milliseconds(served == 0 ? settings_.timeout_ms : settings_.keep_alive_ms);
        bool timed_out = false;
        const ssize_t n = Receive(fd, buffer, sizeof buffer, Clock::now() + idle, &timed_out);
        if (n <= 0) break;
        end = static_cast<size_t>(n);
      }
      t_request_start = Clock::now();
      const Clock::time_point deadline = t_request_start + std::chrono::milliseconds(settings_.timeout_ms);
      parser.Reset();
      bool continued = false, cut_off = false;
      Request_Parser::State state;
      for (;;) {
        size_t used = 0;
        state = parser.Feed(buffer + start, end - start, &used);
        start += used;
        if (state != Request_Parser::State::kIncomplete) break;
        const Http_Request &head = parser.Request();
        if (!continued && head.expect_continue && parser.Awaiting_Body()) {
          static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
          continued = true;
          if (!Send_All(fd, kContinue, sizeof kContinue - 1, deadline)) {
            cut_off = true;
            break;
          }
        }
        start = end = 0;
        bool timed_out = false;
        const ssize_t n = Receive(fd, buffer, sizeof buffer, deadline, &timed_out);
        if (n <= 0) {
          // A request cut short by the deadline is answered 408; one cut
          // short by the client's close or a reset is not answered.
          if (timed_out) {
            Send_All(fd, kTimeout_Answer.data(), kTimeout_Answer.size(), Clock::now() + std::chrono::milliseconds(settings_.timeout_ms));
            timed_out_.fetch_add(1);
          }
          cut_off = true;
          break;
        }
        end = static_cast<size_t>(n);
      }
      if (cut_off) break;
      in_flight_.fetch_add(1);
      Http_Request &req = parser.Request();
      Answer answer;
      bool close_after = served + 1 >= settings_.keep_alive_requests;
      if (state == Request_Parser::State::kFailed) {
        // The framing is lost: the answer is the connection's last.
        const Http_Error &e = parser.Error();
        Answer_Error(answer, {e.status, e.code, e.message, "", -1});
        close_after = true;
        if (req.method.empty()) req.method = "-";
      } else {
        Handle(req, answer);
        close_after = close_after || !req.keep_alive;
      }
      // A request that was in flight when SIGTERM came is the connection's last.
      close_after = close_after || stopping_.load();
      const std::string bytes = Answer_Bytes(answer, close_after, keep_alive_seconds, req.method == "HEAD");
      // Counted before the answer leaves, so that the client's next request
      // sees this one done in /metrics.
      Log(req, answer);
      in_flight_.fetch_sub(1);
      const bool sent = Send_All(fd, bytes.data(), bytes.size(), Clock::now() + std::chrono::milliseconds(settings_.timeout_ms));
      if (!sent || close_after) break;
    }
    shutdown(fd, SHUT_WR);
    Drain_And_Close(fd);
  }

  // Reads what the client still sends (briefly) before closing, so that the
  // close does not reset the connection before the client has read the
  // answer.
  static void Drain_And_Close(int fd) {
    char sink[4096];
    const auto until = Clock::now() + std::chrono::milliseconds(100);
    while (Wait_Fd(fd, POLLIN, until)) {
      const ssize_t n = recv(fd, sink, sizeof sink, 0);
      if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) break;
    }
    close(fd);
  }

  // Connections beyond the limit get a 503 with Retry-After on a thread of
  // their own, never a connection thread. All those waiting are answered
  // at once and then drained together, so a burst of them is not answered
  // a drain's time apart.
  void Reject_Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      reject_cv_.wait(lock, [&] { return !rejects_.empty() || quit_; });
      if (rejects_.empty()) return;
      std::vector<int> fds(rejects_.begin(), rejects_.end());
      rejects_.clear();
      lock.unlock();
      const auto until = Clock::now() + std::chrono::milliseconds(100);
      for (const int fd : fds) {
        Send_All(fd, kBusy_Answer.data(), kBusy_Answer.size(), until);
        shutdown(fd, SHUT_WR);
      }
      // What the clients still send is read until they close or the time is
      // up, so that the close does not reset an answer not yet read.
      std::vector<pollfd> open;
      for (const int fd : fds) open.push_back({fd, POLLIN, 0});
      while (!open.empty() && Ms_Until(until) > 0) {
        if (poll(open.data(), open.size(), static_cast<int>(std::max<int64_t>(Ms_Until(until), 1))) < 0 && errno != EINTR) break;
        for (size_t i = 0; i < open.size();) {
          char sink[4096];
          if (open[i].revents != 0 && recv(open[i].fd, sink, sizeof sink, 0) <= 0) {
            close(open[i].fd);
            open[i] = open.back();
            open.pop_back();
          } else {
            open[i].revents = 0;
            ++i;
          }
        }
      }
      for (const pollfd &p : open) close(p.fd);
      lock.lock();
    }
  }

  using Handler = void (Worker::*)(const Http_Request &, Answer &);

  static Handler Handler_Of(Route route) {
    switch (route) {
      case Route::kWord: return &Worker::Word;
      case Route::kSearch: return &Worker::Search;
      case Route::kEssay: return &Worker::Essay;
      case Route::kBatch: return &Worker::Batch;
      case Route::kHealthz: return &Worker::Healthz;
      case Route::kMetrics: return &Worker::Metrics_Text;
      case Route::kEmpty: return &Worker::Empty;
      case Route::kPlayground: return &Worker::Playground;
    }
    return &Worker::Empty;
  }

  // Known paths with a method they do not take are 405 with Allow; unknown
  // paths 404; both with a JSON error.
  void Handle(const Http_Request &req, Answer &answer) {
    static const std::set<std::string> kMethods = {"GET", "HEAD", "POST", "PUT", "DELETE", "CONNECT", "OPTIONS", "TRACE", "PATCH"};
    const Endpoint *endpoint = Find_Endpoint(req.path, settings_);
    if (!kMethods.count(req.method))
      return Answer_Error(answer, {501, "not_implemented", "the method " + Printable(req.method) + " is not served", "", -1});
    if (endpoint == nullptr)
      return Answer_Error(answer, {404, "not_found", "no such endpoint '" + Printable(req.path) + "'", "", -1});
    if (std::string(endpoint->allow).find(req.method) == std::string::npos || req.method == "HEAD") {
      Answer_Error(answer, {405, "method_not_allowed", req.method + " is not allowed on " + req.path, "", -1});
      answer.extra_headers = std::string("Allow: ") + endpoint->allow + "\r\n";
      return;
    }
    try {
      (this->*Handler_Of(endpoint->route))(req, answer);
    } catch (const std::exception &) {
      answer = Answer();
      Answer_Error(answer, {500, "internal", "the request could not be answered", "", -1});
    }
  }

  void Answer_Error(Answer &answer, const Request_Error &e) {
    answer.status = e.status;
    answer.content_type = "application/json";
    answer.body = Error_Body(e);
    metrics_.Error(e.code);
  }

  void Answer_Json(Answer &answer, const json &body) {
    answer.status = 200;
    answer.content_type = "application/json";
    answer.body = body.dump(-1, ' ', false, json::error_handler_t::replace);
  }

  std::string Endpoint_Of(const std::string &path) const {
    const Endpoint *e = Find_Endpoint(path, settings_);
    return e ? e->path : "other";
  }

  int64_t Open_Connections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_connections_;
  }

  void Log_Event(const char *event, const std::string &detail) {
    if (!settings_.log) return;
    log_.Push(json{{"ts", static_cast<long long>(std::time(nullptr))}, {"event", event}, {"detail", detail}}.dump(
                  -1, ' ', false, json::error_handler_t::replace) +
              "\n");
  }

  void Rotate_Trace() {
    const std::string failure = rotation_.Check();
    if (!failure.empty()) Log_Event("trace_rotation_failed", failure);
  }

  void Log(const Http_Request &req, const Answer &answer) {
    const double seconds = std::chrono::duration<double>(Clock::now() - t_request_start).count();
    metrics_.Observe(Endpoint_Of(req.path), answer.status, seconds);
    if (!settings_.log) return;
    json line = {{"ts", static_cast<long long>(std::time(nullptr))},
                 {"worker", generation_},
                 {"remote", Remote_Address()},
                 {"method", Printable(req.method, 32)},
                 {"path", Printable(req.path, 256)},
                 {"status", answer.status},
                 {"ms", seconds * 1000.0},
                 {"in", req.body.size()},
                 {"out", answer.body.size()}};
    log_.Push(line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n");
  }

  // The peer of the connection being served, for the log.
  static std::string Remote_Address() { return t_remote; }

  void Healthz(const Http_Request &, Answer &answer) {
    Answer_Json(answer, {{"status", "ready"}, {"generation", generation_}});
  }

  void Metrics_Text(const Http_Request &, Answer &answer) {
    answer.content_type = "text/plain; version=0.0.4";
    answer.body = metrics_.Text(generation_, {in_flight_.load(), Open_Connections(), rejected_.load(), timed_out_.load(),
                                              log_.Dropped(), log_.Write_Errors()});
  }

  void Empty(const Http_Request &, Answer &answer) { answer.body = "{}"; }

  // The page reads its query from the address itself, so the query string
  // is not looked at here.
  void Playground(const Http_Request &, Answer &answer) {
    answer.content_type = "text/html; charset=utf-8";
    answer.body.assign(Playground_Page());
    answer.extra_headers = kPage_Headers;
  }

  void Word(const Http_Request &req, Answer &res) {
    Input in;
    Request_Error error;
    std::string gbword;
    static const std::set<std::string> kAllowed = {"word", "charset"};
    if (!Read_Input(req, kAllowed, "word", &in, &error) || !Required(in, "word", &gbword, &error))
      return Answer_Error(res, error);
    Word_Answer answer;
    {
      Gate_Pass pass(gate_);
      answer = Classify_Word(gbword);
    }
    if (answer.result == 1) return Answer_Error(res, {500, "library", "classification failed (result 1)", "", -1});
    Answer_Json(res, Word_Json(gbword, answer));
  }

  static json Word_Json(const std::string &gbword, const Word_Answer &answer) {
    return {{"word", To_Utf8(gbword)},
            {"label", answer.result == 0 ? json(To_Utf8(answer.label)) : json(nullptr)},
            {"result", answer.result}};
  }

  // The items of a query's document, or an error answer when the document
  // does not fit its query.
  static json Query_Json(const std::string &gbquery, const std::string &document) {
    json items;
    if (!Document_Items(gbquery, document, &items))
      return json::parse(Error_Body({500, "library", "the query document does not match the query", "", -1}));
    return {{"query", To_Utf8(gbquery)}, {"items", items}};
  }

  void Search(const Http_Request &req, Answer &res) {
    Input in;
    Request_Error error;
    std::string gbquery;
    static const std::set<std::string> kAllowed = {"q", "format", "charset"};
    if (!Read_Input(req, kAllowed, "q", &in, &error) || !Required(in, "q", &gbquery, &error))
      return Answer_Error(res, error);
    const std::string format = in.values.count("format") ? in.values.at("format") : "xml";
    if (format != "xml" && format != "json")
      return Answer_Error(res, {400, "bad_value", "unknown format '" + Printable(format) + "' (xml or json)", "format", -1});
    std::string document;
    int32_t result;
    {
      Gate_Pass pass(gate_);
      result = Search_Document(gbquery, &document);
    }
    if (settings_.trace) Rotate_Trace();
    if (result != 0)
      return Answer_Error(res, {500, "library", "a word could not be classified (result " + std::to_string(result) + ")", "", -1});
    if (format == "json") {
      const json body = Query_Json(gbquery, document);
      if (body.contains("error")) return Answer_Error(res, {500, "library", body["error"]["message"], "", -1});
      return Answer_Json(res, body);
    }
    res.status = 200;
    res.body = Output_Text(document, in.charset);
    res.content_type = in.charset == Charset::kGb2312 ? "application/xml; charset=gb2312" : "application/xml; charset=utf-8";
  }

  void Essay(const Http_Request &req, Answer &res) {
    Input in;
    Request_Error error;
    std::string gbtext;
    static const std::set<std::string> kAllowed = {"text", "charset"};
    if (!Read_Input(req, kAllowed, "text", &in, &error) || !Required(in, "text", &gbtext, &error))
      return Answer_Error(res, error);
    std::vector<Essay_Word> words;
    bool ok;
    {
      Gate_Pass pass(gate_);
      ok = Segment_Essay(gbtext, &words);
    }
    if (!ok) return Answer_Error(res, {500, "library", "segmentation failed", "", -1});
    res.status = 200;
    res.content_type = "application/json";
    res.body = Essay_Json(in.values.at("text"), gbtext, words, in.charset);
  }

  // {"words": [...]} or {"queries": [...], "format": "xml"|"json"}: one
  // answer per item, in order, as the single endpoints give them; an item
  // that cannot be given to the library gets its error in its place.
  void Batch(const Http_Request &req, Answer &res) {
    Input in;
    Request_Error error;
    static const std::set<std::string> kAllowed = {"words", "queries", "format"};
    if (!Read_Input(req, kAllowed, nullptr, &in, &error)) return Answer_Error(res, error);
    if (!in.json_body) return Answer_Error(res, {400, "bad_content_type", "a batch is a JSON object body", "", -1});
    const bool words = in.body.contains("words");
    const bool queries = in.body.contains("queries");
    if (words == queries)
      return Answer_Error(res, {400, words ? "bad_value" : "missing_parameter", "give either 'words' or 'queries'",
                                words ? "queries" : "words", -1});
    const std::string name = words ? "words" : "queries";
    const json &list = in.body[name];
    if (!list.is_array() || list.size() > 10000)
      return Answer_Error(res, {400, "bad_value", "'" + name + "' must be an array of at most 10000 strings", name, -1});
    std::string format = "xml";
    if (in.body.contains("format")) {
      format = in.body["format"].is_string() ? in.body["format"].get<std::string>() : "";
      if (format != "xml" && format != "json")
        return Answer_Error(res, {400, "bad_value", "unknown format (xml or json)", "format", -1});
    }
    const auto deadline = t_request_start + std::chrono::milliseconds(settings_.timeout_ms);
    json results = json::array();
    for (size_t i = 0; i < list.size(); ++i) {
      if (Clock::now() > deadline)
        return Answer_Error(res, {503, "timeout", "the batch was not done within the time limit at item " + std::to_string(i), name, -1});
      const std::string item_name = name + "[" + std::to_string(i) + "]";
      if (!list[i].is_string()) {
        results.push_back({{"error", {{"code", "bad_value"}, {"message", "not a string"}, {"parameter", item_name}}}});
        continue;
      }
      std::string gbtext;
      Request_Error item_error;
      if (!Library_Text(item_name, list[i].get<std::string>(), Charset::kUtf8, &gbtext, &item_error)) {
        results.push_back(json::parse(Error_Body(item_error)));
        continue;
      }
      Gate_Pass pass(gate_);
      if (words) {
        const Word_Answer answer = Classify_Word(gbtext);
        results.push_back(Word_Json(gbtext, answer));
      } else {
        std::string document;
        const int32_t result = Search_Document(gbtext, &document);
        if (result != 0)
          results.push_back({{"error", {{"code", "library"}, {"message", "result " + std::to_string(result)}}}});
        else if (format == "json")
          results.push_back(Query_Json(gbtext, document));
        else
          results.push_back({{"query", To_Utf8(gbtext)}, {"xml", To_Utf8(document)}});
      }
    }
    if (queries && settings_.trace) Rotate_Trace();
    Answer_Json(res, {{"results", results}});
  }

  static thread_local Clock::time_point t_request_start;
  static thread_local std::string t_remote;

  const Settings &settings_;
  const int generation_;
  const Request_Limits limits_;
  Gate gate_;
  cli::Trace_Rotation rotation_;
  Metrics metrics_;
  Log_Queue log_;

  std::mutex mutex_;
  std::condition_variable cv_, drained_, reject_cv_;
  std::deque<int> pending_, rejects_;
  std::vector<std::thread> threads_;
  int idle_threads_ = 0;
  int open_connections_ = 0;
  bool quit_ = false;
  std::atomic<bool> stopping_{false};
  std::atomic<bool> thread_failure_reported_{false};
  std::atomic<int64_t> in_flight_{0};
  std::atomic<uint64_t> rejected_{0}, timed_out_{0};
};

thread_local Clock::time_point Worker::t_request_start;
thread_local std::string Worker::t_remote;

}  // namespace

bool Worker_Serves(Worker_Role role, const Worker_Report &report) {
  if (report.init != 0) return false;
  const auto copy = static_cast<Copy_Outcome>(report.copy);
  if (copy == Copy_Outcome::kStopped) return false;
  // A reload's worker without a copy would answer from the table alone
  // while the old worker still answers from its own: with the database
  // down or stalled, that is no label for every known term. So it stands
  // down, and a later reload tries again.
  const bool without_copy = copy == Copy_Outcome::kNotReady || copy == Copy_Outcome::kFailed;
  return !(without_copy && role == Worker_Role::kReload);
}

int Run_Worker(const Settings &settings, Worker_Role role, int listen_fd, int ready_fd, int generation) {
  // SIGTERM and SIGINT arrive on a descriptor that the accept loop polls.
  // A write to a closed socket or pipe, or past a file-size limit, fails
  // with its error (reported where it is made) instead of ending the worker.
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &mask, nullptr);
  const int signal_fd = signalfd(-1, &mask, SFD_CLOEXEC);
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);

  if (chdir(settings.trace_dir.c_str()) != 0) {
    std::fprintf(stderr, "tesq serve: cannot enter the trace directory '%s': %s\n", settings.trace_dir.c_str(),
                 std::strerror(errno));
    const Worker_Report report{kNo_Trace_Directory, static_cast<int32_t>(Copy_Outcome::kNotAwaited)};
    (void)!::write(ready_fd, &report, sizeof report);
    return 1;
  }
  Worker_Report report{Tesquin_Init(0), static_cast<int32_t>(Copy_Outcome::kNotAwaited)};
  if (report.init == 0)
    report.copy = static_cast<int32_t>(Wait_For_Copy(Karvel_CopyState, settings.copy_wait_ms, signal_fd));
  const bool reported = ::write(ready_fd, &report, sizeof report) == static_cast<ssize_t>(sizeof report);
  close(ready_fd);
  if (!reported || !Worker_Serves(role, report)) {
    Tesquin_UnInit();
    return report.copy == static_cast<int32_t>(Copy_Outcome::kStopped) ? 0 : 1;
  }
  int status;
  {
    Worker worker(settings, generation);
    status = worker.Serve(listen_fd, signal_fd);
  }
  Tesquin_UnInit();
  return status;
}

}  // namespace serve
