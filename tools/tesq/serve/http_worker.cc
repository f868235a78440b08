// The HTTP side of tesq serve, on cpp-httplib: request parsing, routing, the
// payload limit and the response writing are the library's; the accept loop,
// the connection threads, keep-alive and the time limits are ours, so that a
// slow client (one byte a second) is cut off by a whole-request deadline,
// the connection limit is enforced at accept with a 503, and SIGTERM can
// close idle connections while requests in flight finish.
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

#include <httplib.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "cli_options.h"
#include "gb2312.h"
#include "library_calls.h"
#include "tesqsrch/tesqsrch.h"

namespace serve {
namespace {

using Clock = std::chrono::steady_clock;
using json = nlohmann::json;

int64_t Ms_Until(Clock::time_point deadline) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
}

// Waits until `fd` has `events` or the deadline passes; false on timeout or
// error. Wakes every 100 ms to look at `stop` when one is given.
bool Wait_Fd(int fd, short events, Clock::time_point deadline, const std::atomic<bool> *stop) {
  // What has arrived is taken even after `stop`, so that a request already
  // sent is answered.
  for (;;) {
    const int64_t left = std::max<int64_t>(Ms_Until(deadline), 0);
    pollfd p{fd, events, 0};
    const bool stopped = stop != nullptr && stop->load();
    const int wait = static_cast<int>(stopped ? 0 : stop != nullptr ? std::min<int64_t>(left, 100) : left);
    const int n = poll(&p, 1, wait);
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
    if (stopped || (n == 0 && left == 0)) return false;
  }
}

// A whole answer written by hand, for the connections cpp-httplib does not
// answer: one cut off by the time limit, one beyond the connection limit.
std::string Raw_Answer(const char *status_line, const char *extra_headers, const char *code, const char *message) {
  const std::string body = std::string("{\"error\":{\"code\":\"") + code + "\",\"message\":\"" + message + "\"}}";
  return std::string("HTTP/1.1 ") + status_line + "\r\nContent-Type: application/json\r\n" + extra_headers +
         "Connection: close\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

const std::string kTimeout_Answer =
    Raw_Answer("408 Request Timeout", "", "timeout", "the request was not received within the time limit");
const std::string kBusy_Answer =
    Raw_Answer("503 Service Unavailable", "Retry-After: 1\r\n", "overloaded", "too many connections; retry after 1 s");

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
      if (!Wait_Fd(fd, POLLOUT, deadline, nullptr)) return false;
      continue;
    }
    return false;
  }
  return true;
}

// A connection as cpp-httplib reads and writes it. Reads are buffered and
// bounded by the request's deadline, set when its first byte has arrived:
// a request not received in full by then is answered 408 and the connection
// is closed.
class Socket_Stream : public httplib::Stream {
 public:
  Socket_Stream(int fd, int timeout_ms) : fd_(fd), timeout_(timeout_ms) {}

  void Begin_Request() {
    deadline_ = Clock::now() + timeout_;
    wrote_ = false;
  }
  bool Dead() const { return dead_; }
  bool Buffered() const { return start_ < end_; }
  uint64_t Bytes_Read() const { return bytes_read_; }

  bool is_readable() const override { return Buffered() || Wait_Fd(fd_, POLLIN, deadline_, nullptr); }
  bool is_writable() const override { return !dead_ && Wait_Fd(fd_, POLLOUT, Clock::now() + timeout_, nullptr); }

  ssize_t read(char *ptr, size_t size) override {
    if (dead_) return -1;
    if (!Buffered()) {
      for (;;) {
        const ssize_t n = recv(fd_, buffer_, sizeof buffer_, 0);
        if (n > 0) {
          start_ = 0;
          end_ = static_cast<size_t>(n);
          bytes_read_ += static_cast<uint64_t>(n);
          break;
        }
        if (n == 0) return 0;
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return -1;
        if (!Wait_Fd(fd_, POLLIN, deadline_, nullptr)) {
          Time_Out();
          return -1;
        }
      }
    }
    const size_t n = std::min(size, end_ - start_);
    std::memcpy(ptr, buffer_ + start_, n);
    start_ += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char *ptr, size_t size) override {
    if (dead_) return -1;
    wrote_ = true;
    // The answer gets its own time limit: a client that does not read it is
    // cut off then.
    if (!Send_All(fd_, ptr, size, Clock::now() + timeout_)) {
      dead_ = true;
      return -1;
    }
    return static_cast<ssize_t>(size);
  }

  void get_remote_ip_and_port(std::string &ip, int &port) const override { Address(false, ip, port); }
  void get_local_ip_and_port(std::string &ip, int &port) const override { Address(true, ip, port); }
  socket_t socket() const override { return fd_; }

 private:
  void Time_Out() {
    if (!wrote_) Send_All(fd_, kTimeout_Answer.data(), kTimeout_Answer.size(), Clock::now() + timeout_);
    timed_out_count.fetch_add(1);
    dead_ = true;
  }

  void Address(bool local, std::string &ip, int &port) const {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    const int r = local ? getsockname(fd_, reinterpret_cast<sockaddr *>(&addr), &len)
                        : getpeername(fd_, reinterpret_cast<sockaddr *>(&addr), &len);
    ip.clear();
    port = 0;
    if (r != 0) return;
    char text[INET6_ADDRSTRLEN] = "";
    if (addr.ss_family == AF_INET) {
      const auto *in = reinterpret_cast<const sockaddr_in *>(&addr);
      inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
      port = ntohs(in->sin_port);
    } else if (addr.ss_family == AF_INET6) {
      const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&addr);
      inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
      port = ntohs(in6->sin6_port);
    }
    ip = text;
  }

  int fd_;
  std::chrono::milliseconds timeout_;
  Clock::time_point deadline_ = Clock::now();
  char buffer_[4096];
  size_t start_ = 0, end_ = 0;
  uint64_t bytes_read_ = 0;
  bool dead_ = false;
  bool wrote_ = false;

 public:
  static std::atomic<uint64_t> timed_out_count;
};

std::atomic<uint64_t> Socket_Stream::timed_out_count{0};

// ---------------------------------------------------------------- metrics

const double kBuckets[] = {0.0001, 0.00025, 0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10};
constexpr size_t kBucket_Count = sizeof kBuckets / sizeof kBuckets[0];

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
  std::string Text(int generation, int64_t in_flight, int64_t connections, uint64_t rejected, uint64_t timeouts) {
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
    errors["overloaded"] += rejected;
    errors["timeout"] += timeouts;
    for (const auto &[code, n] : errors) {
      std::snprintf(line, sizeof line, "tesq_errors_total{code=\"%s\"} %llu\n", code.c_str(),
                    static_cast<unsigned long long>(n));
      out += line;
    }
    out += "# HELP tesq_in_flight_requests Requests being answered now.\n# TYPE tesq_in_flight_requests gauge\n"
           "tesq_in_flight_requests " + std::to_string(in_flight) +
           "\n# HELP tesq_open_connections Connections open now.\n# TYPE tesq_open_connections gauge\n"
           "tesq_open_connections " + std::to_string(connections) +
           "\n# HELP tesq_worker_generation The worker's number: 1 at start, one more per reload.\n"
           "# TYPE tesq_worker_generation gauge\ntesq_worker_generation " + std::to_string(generation) + "\n";
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

std::string Error_Body(const Request_Error &e) {
  json error = {{"code", e.code}, {"message", e.message}};
  if (!e.parameter.empty()) error["parameter"] = e.parameter;
  if (e.offset >= 0) error["offset"] = e.offset;
  return json{{"error", error}}.dump();
}

// ---------------------------------------------------------------- input

enum class Charset { kUtf8, kGb2312 };

struct Input {
  std::map<std::string, std::string> values;
  Charset charset = Charset::kUtf8;
  bool json_body = false;
  json body;  // the parsed JSON body, for the batch
};

// The parameters of a request: the query string, and a form, JSON or plain
// text body (plain text is the value of `text_parameter`).
bool Read_Input(const httplib::Request &req, const std::set<std::string> &allowed, const char *text_parameter,
                Input *in, Request_Error *error) {
  for (const auto &[name, value] : req.params) in->values[name] = value;
  const std::string type = req.get_header_value("Content-Type");
  const std::string media = type.substr(0, type.find(';'));
  if (req.method == "POST" && !req.body.empty()) {
    if (media == "application/json") {
      try {
        in->body = json::parse(req.body);
      } catch (const json::exception &e) {
        *error = {400, "bad_json", std::string("the body is not valid JSON: ") + e.what(), "", -1};
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
      const size_t at = type.find("charset=");
      if (at != std::string::npos && !in->values.count("charset")) in->values["charset"] = type.substr(at + 8);
    } else if (media != "application/x-www-form-urlencoded") {
      *error = {400, "bad_content_type",
                "a body must be application/json, application/x-www-form-urlencoded or text/plain", "", -1};
      return false;
    }
  }
  for (const auto &[name, value] : in->values)
    if (!allowed.count(name)) {
      *error = {400, "unknown_parameter", "unknown parameter '" + name + "'", name, -1};
      return false;
    }
  const auto charset = in->values.find("charset");
  if (charset != in->values.end()) {
    std::string name = charset->second;
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    if (name == "utf-8" || name == "utf8") {
      in->charset = Charset::kUtf8;
    } else if (name == "gb2312") {
      if (in->json_body) {
        *error = {400, "bad_value", "a JSON body is UTF-8; pass GB2312 bytes in a form or text body", "charset", -1};
        return false;
      }
      in->charset = Charset::kGb2312;
    } else {
      *error = {400, "bad_value", "unknown charset '" + charset->second + "' (utf-8 or gb2312)", "charset", -1};
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

// The Word elements of a query document, each with the number of the query
// word it comes from: a word split into a named prefix and its rest gives
// two items of the same word.
json Document_Items(const std::string &gbquery, const std::string &document) {
  std::vector<std::string> words;
  size_t start = 0;
  if (!gbquery.empty())
    for (;;) {
      const size_t space = gbquery.find(' ', start);
      words.push_back(gbquery.substr(start, space - start));
      if (space == std::string::npos) break;
      start = space + 1;
    }
  json items = json::array();
  const std::string open = "\t<Word p=\"", middle = "\">", close = "</Word>\n";
  size_t at = document.find("</Sentence>\n<Items>\n");
  if (at == std::string::npos) return items;
  at += std::strlen("</Sentence>\n<Items>\n");
  size_t word = 0;
  std::string consumed;
  while (document.compare(at, open.size(), open) == 0) {
    const size_t label_start = at + open.size();
    const size_t label_end = document.find(middle, label_start);
    if (label_end == std::string::npos) break;
    const size_t text_start = label_end + middle.size();
    const size_t text_end = document.find(close, text_start);
    if (text_end == std::string::npos) break;
    const std::string text = document.substr(text_start, text_end - text_start);
    items.push_back({{"word", To_Utf8(text)},
                     {"label", To_Utf8(document.substr(label_start, label_end - label_start))},
                     {"word_index", word}});
    consumed += text;
    if (word < words.size() && consumed.size() >= words[word].size()) {
      ++word;
      consumed.clear();
    }
    at = text_end + close.size();
  }
  return items;
}

struct Essay_Word {
  size_t start, end;
  int tag;
};

// Segments GB2312 text in pieces as tesq essay does; false when the library
// fails.
bool Segment_Essay(const std::string &gbtext, std::vector<Essay_Word> *words) {
  size_t start = 0;
  for (const size_t end : cli::Split_Pieces(gbtext, 64 * 1024)) {
    const std::string piece = gbtext.substr(start, end - start);
    const int32_t count = static_cast<int32_t>(piece.size()) + 1;
    std::vector<int32_t> ends(static_cast<size_t>(count), 0);
    std::vector<int16_t> tags(static_cast<size_t>(count), 0);
    const int32_t result = Tesquin_Search_Essay(piece.c_str(), ends.data(), count, -1, 1, tags.data());
    if (result != 0 && result != 4) return false;
    size_t at = 0;
    for (int32_t i = 0; i < count && ends[i] > 0; ++i) {
      const size_t e = static_cast<size_t>(ends[i]);
      if (e <= at || e > piece.size()) return false;
      words->push_back({start + at, start + e, tags[i]});
      at = e;
    }
    if (at < piece.size()) words->push_back({start + at, start + piece.size(), 0});
    start = end;
  }
  return true;
}

// The essay's words with byte spans in the text as it was sent (UTF-8 or
// GB2312 bytes) and character spans.
json Essay_Items(const std::string &gbtext, const std::vector<Essay_Word> &words, Charset charset) {
  json items = json::array();
  size_t gb_at = 0, out_bytes = 0, chars = 0;
  auto advance_to = [&](size_t target) {
    while (gb_at < target) {
      const size_t len = gb::Char_Length(gbtext.data() + gb_at, gbtext.size() - gb_at);
      size_t out_len = len;
      if (charset == Charset::kUtf8 && len == 2) {
        const uint32_t cp = gb::To_Unicode(static_cast<unsigned char>(gbtext[gb_at]),
                                           static_cast<unsigned char>(gbtext[gb_at + 1]));
        out_len = cp == 0 ? 3 : cp < 0x800 ? 2 : 3;
      } else if (charset == Charset::kUtf8 && static_cast<unsigned char>(gbtext[gb_at]) >= 0x80) {
        out_len = 3;  // U+FFFD
      }
      gb_at += len;
      out_bytes += out_len;
      ++chars;
    }
  };
  for (const Essay_Word &w : words) {
    advance_to(w.start);
    const size_t byte_start = out_bytes, char_start = chars;
    advance_to(w.end);
    items.push_back({{"text", To_Utf8(gbtext.substr(w.start, w.end - w.start))},
                     {"tag", w.tag},
                     {"tag_name", cli::Tag_Name(w.tag)},
                     {"start", byte_start},
                     {"end", out_bytes},
                     {"char_start", char_start},
                     {"char_end", chars}});
  }
  return items;
}

// ---------------------------------------------------------------- trace rotation

// as.txt is renamed aside at its size limit, keeping `keep` old files
// (as.txt.1 the newest). The library opens the file per word, so a search in
// flight finishes its line in the renamed file and the next word starts a new
// as.txt. A lock file keeps two workers (during a reload) from rotating at
// once.
class Trace_Rotation {
 public:
  Trace_Rotation(uint64_t max_bytes, int keep) : max_bytes_(max_bytes), keep_(keep) {}
  void Check() {
    struct stat st;
    if (stat("as.txt", &st) != 0 || static_cast<uint64_t>(st.st_size) < max_bytes_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    const int fd = open("as.txt.lock", O_CREAT | O_RDWR | O_CLOEXEC, 0644);
    if (fd < 0) return;
    if (flock(fd, LOCK_EX) == 0 && stat("as.txt", &st) == 0 && static_cast<uint64_t>(st.st_size) >= max_bytes_) {
      if (keep_ <= 0) {
        unlink("as.txt");
      } else {
        for (int i = keep_ - 1; i >= 1; --i)
          rename(("as.txt." + std::to_string(i)).c_str(), ("as.txt." + std::to_string(i + 1)).c_str());
        rename("as.txt", "as.txt.1");
      }
    }
    close(fd);
  }

 private:
  uint64_t max_bytes_;
  int keep_;
  std::mutex mutex_;
};

// ---------------------------------------------------------------- the server

thread_local Clock::time_point t_request_start;

class Worker : public httplib::Server {
 public:
  Worker(const Settings &settings, int generation)
      : settings_(settings), generation_(generation), gate_(settings.threads),
        rotation_(settings.trace_max_bytes, settings.trace_keep) {
    set_payload_max_length(settings.max_body);
    set_keep_alive_max_count(static_cast<size_t>(settings.keep_alive_requests));
    set_keep_alive_timeout(std::max<time_t>(1, settings.keep_alive_ms / 1000));
    Routes();
  }

  // Accepts on `listen_fd` until SIGTERM arrives on `signal_fd`, then drains.
  int Serve(int listen_fd, int signal_fd) {
    std::thread rejecter([this] { Reject_Loop(); });
    for (;;) {
      pollfd p[2] = {{listen_fd, POLLIN, 0}, {signal_fd, POLLIN, 0}};
      if (poll(p, 2, -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (p[1].revents & POLLIN) {
        signalfd_siginfo info;
        if (::read(signal_fd, &info, sizeof info) == sizeof info &&
            (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT))
          break;
      }
      if (p[0].revents & POLLIN) Accept(listen_fd);
    }
    close(listen_fd);
    stopping_.store(true);
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
    return 0;
  }

 private:
  void Accept(int listen_fd) {
    for (int i = 0; i < 64; ++i) {
      const int fd = accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) return;  // EAGAIN: the other worker took it, or none left
      const int one = 1;
      setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      std::unique_lock<std::mutex> lock(mutex_);
      if (open_connections_ >= settings_.max_connections) {
        if (rejects_.size() < 256) {
          rejects_.push_back(fd);
          reject_cv_.notify_one();
        } else {
          close(fd);
        }
        rejected_.fetch_add(1);
        continue;
      }
      ++open_connections_;
      pending_.push_back(fd);
      // A woken thread counts as idle until it has taken its connection, so
      // a thread is started unless enough idle ones remain for every
      // connection waiting (else one could wait for a busy connection to
      // end).
      if (static_cast<size_t>(idle_threads_) < pending_.size()) {
        threads_.emplace_back([this] { Connection_Loop(); });
      } else {
        cv_.notify_one();
      }
    }
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

  void Serve_Connection(int fd) {
    Socket_Stream stream(fd, settings_.timeout_ms);
    for (int served = 0;; ++served) {
      // The first request may take the time limit to start, a later one the
      // keep-alive time; SIGTERM ends the wait.
      // The next request is awaited even while draining, and answered with
      // Connection: close: closing an idle keep-alive connection at once
      // would lose a request the client may be sending at that moment. So a
      // drain lasts at most the keep-alive time beyond the requests in
      // flight. That holds too for a connection whose answer went out
      // without Connection: close because the drain began while it was being
      // served: its client is already sending the next request.
      const auto idle = std::chrono::milliseconds(served == 0 ? settings_.timeout_ms : settings_.keep_alive_ms);
      if (!stream.Buffered() && !Wait_Fd(fd, POLLIN, Clock::now() + idle, nullptr)) break;
      stream.Begin_Request();
      t_request_start = Clock::now();
      const bool close_after = stopping_.load() || served + 1 >= settings_.keep_alive_requests;
      bool closed = false;
      in_flight_.fetch_add(1);
      const bool ok = process_request(stream, close_after, closed, nullptr);
      in_flight_.fetch_sub(1);
      if (!ok || closed || close_after || stream.Dead()) break;
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
    while (Wait_Fd(fd, POLLIN, until, nullptr)) {
      const ssize_t n = recv(fd, sink, sizeof sink, 0);
      if (n <= 0 && !(n < 0 && (errno == EAGAIN || errno == EINTR))) break;
    }
    close(fd);
  }

  // Connections beyond the limit get a 503 with Retry-After on a thread of
  // their own, never a connection thread.
  void Reject_Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      reject_cv_.wait(lock, [&] { return !rejects_.empty() || quit_; });
      if (rejects_.empty()) return;
      const int fd = rejects_.front();
      rejects_.pop_front();
      lock.unlock();
      Send_All(fd, kBusy_Answer.data(), kBusy_Answer.size(), Clock::now() + std::chrono::milliseconds(100));
      shutdown(fd, SHUT_WR);
      Drain_And_Close(fd);
      lock.lock();
    }
  }

  void Answer_Error(httplib::Response &res, const Request_Error &e) {
    res.status = e.status;
    res.set_content(Error_Body(e), "application/json");
    metrics_.Error(e.code);
  }

  void Answer_Json(httplib::Response &res, const json &body) {
    res.status = 200;
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
  }

  static std::string Endpoint_Of(const std::string &path) {
    static const std::set<std::string> known = {"/v1/word", "/v1/search", "/v1/essay", "/v1/batch",
                                                "/healthz", "/metrics",   "/v1/empty"};
    return known.count(path) ? path : "other";
  }

  void Routes() {
    // Known paths with a method they do not take are 405 with Allow;
    // unknown paths 404; both with a JSON error.
    set_pre_routing_handler([this](const httplib::Request &req, httplib::Response &res) {
      static const std::map<std::string, std::string> allow = {
          {"/v1/word", "GET, POST"}, {"/v1/search", "GET, POST"}, {"/v1/essay", "GET, POST"},
          {"/v1/batch", "POST"},     {"/healthz", "GET"},         {"/metrics", "GET"}};
      auto it = allow.find(req.path);
      if (req.path == "/v1/empty" && settings_.empty_handler) return HandlerResponse::Unhandled;
      if (it == allow.end()) {
        Answer_Error(res, {404, "not_found", "no such endpoint '" + req.path + "'", "", -1});
        return HandlerResponse::Handled;
      }
      if (it->second.find(req.method) == std::string::npos || req.method == "HEAD") {
        Answer_Error(res, {405, "method_not_allowed", req.method + " is not allowed on " + req.path, "", -1});
        res.set_header("Allow", it->second);
        return HandlerResponse::Handled;
      }
      return HandlerResponse::Unhandled;
    });
    set_error_handler(HandlerWithResponse([this](const httplib::Request &, httplib::Response &res) {
      if (!res.body.empty()) return HandlerResponse::Unhandled;
      Request_Error e{res.status, "bad_request", "the request is malformed", "", -1};
      if (res.status == 413) e = {413, "body_too_large", "the body is over " + std::to_string(settings_.max_body) + " bytes", "", -1};
      if (res.status == 414) e = {414, "uri_too_long", "the request line is too long", "", -1};
      if (res.status == 404) e = {404, "not_found", "no such endpoint", "", -1};
      Answer_Error(res, e);
      return HandlerResponse::Handled;
    }));
    set_exception_handler([this](const httplib::Request &, httplib::Response &res, std::exception_ptr) {
      Answer_Error(res, {500, "internal", "the request could not be answered", "", -1});
    });
    // A request that was in flight when SIGTERM came is the connection's last.
    set_post_routing_handler([this](const httplib::Request &, httplib::Response &res) {
      if (stopping_.load()) res.set_header("Connection", "close");
    });
    set_logger([this](const httplib::Request &req, const httplib::Response &res) { Log(req, res); });

    auto word = [this](const httplib::Request &req, httplib::Response &res) { Word(req, res); };
    auto search = [this](const httplib::Request &req, httplib::Response &res) { Search(req, res); };
    auto essay = [this](const httplib::Request &req, httplib::Response &res) { Essay(req, res); };
    Get("/v1/word", word);
    Post("/v1/word", word);
    Get("/v1/search", search);
    Post("/v1/search", search);
    Get("/v1/essay", essay);
    Post("/v1/essay", essay);
    Post("/v1/batch", [this](const httplib::Request &req, httplib::Response &res) { Batch(req, res); });
    Get("/healthz", [this](const httplib::Request &, httplib::Response &res) {
      Answer_Json(res, {{"status", "ready"}, {"generation", generation_}});
    });
    Get("/metrics", [this](const httplib::Request &, httplib::Response &res) {
      res.set_content(metrics_.Text(generation_, in_flight_.load(), Open_Connections(), rejected_.load(),
                                    Socket_Stream::timed_out_count.load()),
                      "text/plain; version=0.0.4");
    });
    if (settings_.empty_handler) {
      Get("/v1/empty", [](const httplib::Request &, httplib::Response &res) { res.set_content("{}", "application/json"); });
    }
  }

  int64_t Open_Connections() {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_connections_;
  }

  void Log(const httplib::Request &req, const httplib::Response &res) {
    const double seconds = std::chrono::duration<double>(Clock::now() - t_request_start).count();
    const std::string endpoint = Endpoint_Of(req.path);
    metrics_.Observe(endpoint, res.status, seconds);
    if (!settings_.log) return;
    json line = {{"ts", static_cast<long long>(std::time(nullptr))},
                 {"worker", generation_},
                 {"remote", req.remote_addr},
                 {"method", req.method},
                 {"path", req.path},
                 {"status", res.status},
                 {"ms", seconds * 1000.0},
                 {"in", req.body.size()},
                 {"out", res.body.size()}};
    const std::string text = line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    std::lock_guard<std::mutex> lock(log_mutex_);
    std::fwrite(text.data(), 1, text.size(), stderr);
  }

  void Word(const httplib::Request &req, httplib::Response &res) {
    Input in;
    Request_Error error;
    std::string gbword;
    if (!Read_Input(req, {"word", "charset"}, "word", &in, &error) || !Required(in, "word", &gbword, &error))
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

  void Search(const httplib::Request &req, httplib::Response &res) {
    Input in;
    Request_Error error;
    std::string gbquery;
    if (!Read_Input(req, {"q", "format", "charset"}, "q", &in, &error) || !Required(in, "q", &gbquery, &error))
      return Answer_Error(res, error);
    const std::string format = in.values.count("format") ? in.values.at("format") : "xml";
    if (format != "xml" && format != "json")
      return Answer_Error(res, {400, "bad_value", "unknown format '" + format + "' (xml or json)", "format", -1});
    std::string document;
    int32_t result;
    {
      Gate_Pass pass(gate_);
      result = Search_Document(gbquery, &document);
    }
    if (settings_.trace) rotation_.Check();
    if (result != 0)
      return Answer_Error(res, {500, "library", "a word could not be classified (result " + std::to_string(result) + ")", "", -1});
    if (format == "json") return Answer_Json(res, {{"query", To_Utf8(gbquery)}, {"items", Document_Items(gbquery, document)}});
    res.status = 200;
    res.set_content(Output_Text(document, in.charset),
                    in.charset == Charset::kGb2312 ? "application/xml; charset=gb2312" : "application/xml; charset=utf-8");
  }

  void Essay(const httplib::Request &req, httplib::Response &res) {
    Input in;
    Request_Error error;
    std::string gbtext;
    if (!Read_Input(req, {"text", "charset"}, "text", &in, &error) || !Required(in, "text", &gbtext, &error))
      return Answer_Error(res, error);
    std::vector<Essay_Word> words;
    bool ok;
    {
      Gate_Pass pass(gate_);
      ok = Segment_Essay(gbtext, &words);
    }
    if (!ok) return Answer_Error(res, {500, "library", "segmentation failed", "", -1});
    Answer_Json(res, {{"words", Essay_Items(gbtext, words, in.charset)}});
  }

  // {"words": [...]} or {"queries": [...], "format": "xml"|"json"}: one
  // answer per item, in order, as the single endpoints give them; an item
  // that cannot be given to the library gets its error in its place.
  void Batch(const httplib::Request &req, httplib::Response &res) {
    Input in;
    Request_Error error;
    if (!Read_Input(req, {"words", "queries", "format"}, nullptr, &in, &error)) return Answer_Error(res, error);
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
          results.push_back({{"query", To_Utf8(gbtext)}, {"items", Document_Items(gbtext, document)}});
        else
          results.push_back({{"query", To_Utf8(gbtext)}, {"xml", To_Utf8(document)}});
      }
    }
    if (queries && settings_.trace) rotation_.Check();
    Answer_Json(res, {{"results", results}});
  }

  const Settings &settings_;
  const int generation_;
  Gate gate_;
  Trace_Rotation rotation_;
  Metrics metrics_;
  std::mutex log_mutex_;

  std::mutex mutex_;
  std::condition_variable cv_, drained_, reject_cv_;
  std::deque<int> pending_, rejects_;
  std::vector<std::thread> threads_;
  int idle_threads_ = 0;
  int open_connections_ = 0;
  bool quit_ = false;
  std::atomic<bool> stopping_{false};
  std::atomic<int64_t> in_flight_{0};
  std::atomic<uint64_t> rejected_{0};
};

}  // namespace

int Run_Worker(const Settings &settings, int listen_fd, int ready_fd, int generation) {
  // SIGTERM and SIGINT arrive on a descriptor that the accept loop polls.
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &mask, nullptr);
  const int signal_fd = signalfd(-1, &mask, SFD_CLOEXEC);
  signal(SIGPIPE, SIG_IGN);

  if (chdir(settings.trace_dir.c_str()) != 0) {
    std::fprintf(stderr, "tesq serve: cannot enter the trace directory '%s': %s\n", settings.trace_dir.c_str(),
                 std::strerror(errno));
    const int32_t code = -100;
    (void)!::write(ready_fd, &code, sizeof code);
    return 1;
  }
  const int32_t code = Tesquin_Init(0);
  if (::write(ready_fd, &code, sizeof code) != sizeof code || code != 0) {
    close(ready_fd);
    return 1;
  }
  close(ready_fd);
  int status;
  {
    Worker worker(settings, generation);
    status = worker.Serve(listen_fd, signal_fd);
  }
  Tesquin_UnInit();
  return status;
}

}  // namespace serve
