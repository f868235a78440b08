// Size limits: very long inputs and the smallest output sizes, each run in a
// child process of its own so that its peak resident memory (reported by
// wait4) belongs to it alone. For each large input a half-size run is timed
// too: the full size must not take more than 3.5 times as long (linear cost
// gives 2; quadratic 4).
//
//   tesq_limits      prints one line per case; exit status 1 when a result
//                    is wrong or a cost is not linear.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "stress_inputs.h"
#include "tesqsrch/tesqsrch.h"

namespace {

struct Measure {
  bool ok = false;
  double seconds = 0;
  long peak_kb = 0;
};

// Runs `body` in a child; the child reports success through its exit status
// and its time through a pipe.
Measure In_Child(const std::function<bool()> &body) {
  int fds[2];
  std::fflush(stdout);  // a child must not print the parent's buffered lines again
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const auto begin = std::chrono::steady_clock::now();
    const bool ok = body();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (write(fds[1], &seconds, sizeof seconds) != sizeof seconds) _exit(3);
    _exit(ok ? 0 : 1);
  }
  close(fds[1]);
  Measure m;
  if (read(fds[0], &m.seconds, sizeof m.seconds) != sizeof m.seconds) m.seconds = -1;
  close(fds[0]);
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) return {};
  m.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  m.peak_kb = usage.ru_maxrss;
  return m;
}

size_t Count(const std::string &text, const char *needle) {
  size_t n = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// Tesquin_Search on `query`, sized by a first call; the document, or "" on
// failure.
bool Search(const std::string &query, std::string *document) {
  char none[1];
  uint32_t size = 0;
  if (Tesquin_Search(query.c_str(), none, &size) != 1) return false;
  std::unique_ptr<char[]> out(new char[size]);
  const uint32_t needed = size;
  if (Tesquin_Search(query.c_str(), out.get(), &size) != 0 || std::strlen(out.get()) + 1 != needed) return false;
  document->assign(out.get());
  return true;
}

std::string Query_Of_Words(size_t bytes) {
  const std::vector<std::string> words = stress::Words();
  std::string q;
  for (size_t i = 0; q.size() < bytes; ++i) {
    const std::string &w = words[i % words.size()];
    if (w.empty()) continue;
    if (!q.empty()) q += ' ';
    q += w;
  }
  return q;
}

std::string One_Byte_Words(size_t n) {
  std::string q;
  for (size_t i = 0; i < n; ++i) {
    if (i) q += ' ';
    q += static_cast<char>('a' + i % 26);
  }
  return q;
}

std::string Essay_Text(size_t bytes) {
  const std::vector<std::string> essays = stress::Essays();
  std::string t;
  for (size_t i = 0; t.size() < bytes; ++i) t += essays[i % essays.size()];
  return t;
}

// One Han word of `bytes` bytes, no spaces.
std::string Long_Word(size_t bytes) {
  const std::string sentence = stress::Gb("中国科学院计算技术研究所李明华研究员王小波先生北京大学张三教授");
  std::string w;
  while (w.size() + sentence.size() <= bytes) w += sentence;
  return w;
}

bool Query_Words_Case(size_t bytes) {
  const std::string q = Query_Of_Words(bytes);
  std::string doc;
  if (!Search(q, &doc)) return false;
  size_t words = 1;
  for (char c : q) words += c == ' ';
  std::remove("as.txt");
  return Count(doc, "\t<Word p=\"") >= words && doc.find(q) != std::string::npos;
}

bool One_Byte_Words_Case(size_t n) {
  std::string doc;
  if (!Search(One_Byte_Words(n), &doc)) return false;
  std::remove("as.txt");
  return Count(doc, "\t<Word p=\"") == n;
}

bool Long_Word_Case(size_t bytes) {
  const std::string w = Long_Word(bytes);
  std::string doc;
  if (!Search(w, &doc)) return false;
  std::remove("as.txt");
  const size_t elements = Count(doc, "\t<Word p=\"");
  return elements == 1 || elements == 2;
}

bool Essay_Case(size_t bytes) {
  const std::string t = Essay_Text(bytes);
  const int32_t count = static_cast<int32_t>(t.size());
  std::vector<int32_t> ends(t.size());
  std::vector<int16_t> tags(t.size());
  if (Tesquin_Search_Essay(t.c_str(), ends.data(), count, -1, 1, tags.data()) != 0) return false;
  int32_t previous = 0;
  size_t i = 0, names = 0;
  for (; i < ends.size() && ends[i] != 0; ++i) {
    if (ends[i] <= previous) return false;
    previous = ends[i];
    names += tags[i] == 21 || tags[i] == 22 || tags[i] == 23;
  }
  return i < ends.size() && previous == count && names > 0;
}

// The smallest sizes: 0 and 1 give the documented "too small" results with
// the size needed, and the smallest essay arrays.
bool Small_Sizes_Case() {
  bool ok = true;
  const std::string query = stress::Gb("北京大学 9787111123453");
  char buffer[2] = {'x', 'x'};
  uint32_t needed = 0;
  for (uint32_t given : {0u, 1u}) {
    uint32_t size = given;
    ok = ok && Tesquin_Search(query.c_str(), buffer, &size) == 1 && size > 100 && buffer[0] == 'x';
    if (given == 0) needed = size;
    ok = ok && size == needed;
    size = given;
    ok = ok && Tesquin_Search_Singleword(query.c_str() + query.find(' ') + 1, buffer, &size) == 2 &&
         size == 5 && buffer[0] == 'x';  // "ISBN" and its terminator
  }
  // The empty query is a document without words, which fits no 1-byte buffer.
  uint32_t size = 1;
  ok = ok && Tesquin_Search("", buffer, &size) == 1 && size > 1;
  int32_t ends[1] = {7};
  int16_t tags[1] = {7};
  ok = ok && Tesquin_Search_Essay("", ends, 1, -1, 1, tags) == 0 && ends[0] == 0;   // no words
  ok = ok && Tesquin_Search_Essay("a", ends, 1, -1, 1, tags) == 1 && ends[0] == 0;  // no room
  ok = ok && Tesquin_Search_Essay("a", ends, 0, -1, 1, tags) == 1;
  std::remove("as.txt");
  return ok;
}

struct Case {
  const char *name;
  size_t input_bytes;
  std::function<bool(size_t)> run;
  size_t size;  // the argument of run; a half-size run is timed when > 0
};

}  // namespace

int main() {
  stress::Start("tesq_limits");
  bool all_ok = true;

  const Measure base = In_Child([] { return true; });
  std::printf("limits: baseline (library started) peak RSS %.1f MB\n", base.peak_kb / 1024.0);

  const Measure small = In_Child(Small_Sizes_Case);
  std::printf("limits: sizes 0 and 1                              %s\n", small.ok ? "ok" : "WRONG");
  all_ok = all_ok && small.ok;

  const std::vector<Case> cases = {
      {"1 MB query of words", 1 << 20, Query_Words_Case, 1 << 20},
      {"1 MB query of one word", 1 << 20, Long_Word_Case, 1 << 20},
      {"100,000 one-byte words", 2 * 100000 - 1, One_Byte_Words_Case, 100000},
      {"10 MB essay", 10 << 20, Essay_Case, 10 << 20},
  };
  for (const Case &c : cases) {
    const Measure full = In_Child([&] { return c.run(c.size); });
    const Measure half = In_Child([&] { return c.run(c.size / 2); });
    const double ratio = half.seconds > 0 ? full.seconds / half.seconds : 0;
    const bool linear = ratio < 3.5 || full.seconds < 0.2;
    const double extra_mb = (full.peak_kb - base.peak_kb) / 1024.0;
    std::printf("limits: %-24s %s  %.2f s (half size %.2f s, x%.2f)  peak RSS %.1f MB, +%.1f MB over baseline "
                "(%.1f x input)\n",
                c.name, full.ok && half.ok ? "ok   " : "WRONG", full.seconds, half.seconds, ratio,
                full.peak_kb / 1024.0, extra_mb, extra_mb * 1048576.0 / c.input_bytes);
    if (!linear) std::printf("limits: %s: cost grows faster than the input\n", c.name);
    all_ok = all_ok && full.ok && half.ok && linear;
  }
  Tesquin_UnInit();
  std::printf("limits: %s\n", all_ok ? "all ok" : "FAILED");
  return all_ok ? 0 : 1;
}
