// Concurrency stress: THREADS threads make CALLS mixed calls each (queries,
// single words, essays, chosen pseudo-randomly from a fixed pool) at once,
// and every result must equal the single-threaded result for the same input.
// Afterwards every line of the trace file "as.txt" must be whole: one of the
// lines the single-threaded run wrote, and as many lines as the calls made
// wrote when run alone (three per word).
//
//   tesq_stress [THREADS [CALLS]]      (defaults 8 and 100000; the
//                                       environment variable
//                                       TESQ_STRESS_CALLS overrides CALLS)
//
// Exit status 0 when everything matched, 1 on any mismatch, 2 when the
// library could not start.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "stress_inputs.h"
#include "tesqsrch/tesqsrch.h"

namespace {

enum Kind { kQuery, kWord, kEssay };

struct Call {
  Kind kind;
  std::string text;
  int32_t count_extra;  // essays: array entries beyond the text length
  int32_t a, b;
};

struct Outcome {
  int32_t rc = 0;
  std::string data;  // the document, the label, or the essay's arrays
  bool operator==(const Outcome &o) const { return rc == o.rc && data == o.data; }
};

Outcome Run(const Call &call) {
  Outcome out;
  switch (call.kind) {
    case kQuery: {
      char none[1];
      uint32_t size = 0;
      out.rc = Tesquin_Search(call.text.c_str(), none, &size);
      if (out.rc != 1) break;
      std::unique_ptr<char[]> doc(new char[size]);
      out.rc = Tesquin_Search(call.text.c_str(), doc.get(), &size);
      if (out.rc == 0) out.data = doc.get();
      break;
    }
    case kWord: {
      char label[256];
      uint32_t size = sizeof label;
      out.rc = Tesquin_Search_Singleword(call.text.c_str(), label, &size);
      if (out.rc == 0) out.data = label;
      break;
    }
    case kEssay: {
      const int32_t count = static_cast<int32_t>(call.text.size()) + call.count_extra;
      std::vector<int32_t> ends(static_cast<size_t>(count));
      std::vector<int16_t> tags(static_cast<size_t>(count));
      out.rc = Tesquin_Search_Essay(call.text.c_str(), ends.data(), count, call.a, call.b, tags.data());
      out.data.assign(reinterpret_cast<const char *>(ends.data()), ends.size() * sizeof(int32_t));
      out.data.append(reinterpret_cast<const char *>(tags.data()), tags.size() * sizeof(int16_t));
      break;
    }
  }
  return out;
}

std::vector<Call> Pool() {
  std::vector<Call> pool;
  for (const std::string &q : stress::Queries()) pool.push_back({kQuery, q, 0, 0, 0});
  const std::vector<std::string> words = stress::Words();
  for (const std::string &w : words) pool.push_back({kWord, w, 0, 0, 0});
  for (size_t i = 0; i + 2 < words.size(); i += 3)
    pool.push_back({kQuery, words[i] + " " + words[i + 1] + " " + words[i + 2], 0, 0, 0});
  for (const std::string &e : stress::Essays()) {
    pool.push_back({kEssay, e, 0, -1, 1});
    pool.push_back({kEssay, e, 1, 0, 0});
    pool.push_back({kEssay, e, 64, 3, -2});
    pool.push_back({kEssay, e + e + e, 0, -1, 1});
  }
  return pool;
}

uint64_t Next(uint64_t *state) {  // xorshift64*
  *state ^= *state >> 12;
  *state ^= *state << 25;
  *state ^= *state >> 27;
  return *state * 0x2545F4914F6CDD1DULL;
}

}  // namespace

int main(int argc, char **argv) {
  const int threads = argc > 1 ? std::atoi(argv[1]) : 8;
  long calls = argc > 2 ? std::atol(argv[2]) : 100000;
  if (const char *env = std::getenv("TESQ_STRESS_CALLS")) calls = std::atol(env);
  if (threads <= 0 || calls <= 0) {
    std::fprintf(stderr, "usage: tesq_stress [THREADS [CALLS]]\n");
    return 2;
  }
  const std::string dir = stress::Start("tesq_stress");

  // The reference: every input once, on this thread alone.
  const std::vector<Call> pool = Pool();
  // The reference: every input once, on this thread alone, with the trace
  // lines each call writes.
  std::vector<Outcome> expected;
  std::vector<size_t> expected_lines;
  std::set<std::string> valid_lines;
  for (const Call &call : pool) {
    std::remove("as.txt");
    expected.push_back(Run(call));
    const std::string trace = stress::Read_File("as.txt");
    size_t start = 0, lines = 0;
    for (size_t nl; (nl = trace.find('\n', start)) != std::string::npos; start = nl + 1, ++lines)
      valid_lines.insert(trace.substr(start, nl - start));
    expected_lines.push_back(lines);
  }
  std::remove("as.txt");

  std::atomic<long> mismatches{0};
  std::atomic<size_t> expected_trace{0};
  std::atomic<long> done{0};
  const auto begin = std::chrono::steady_clock::now();
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      uint64_t state = 0x9E3779B97F4A7C15ULL * static_cast<uint64_t>(t + 1);
      size_t lines = 0;
      for (long k = 0; k < calls; ++k) {
        const size_t i = Next(&state) % pool.size();
        const Outcome got = Run(pool[i]);
        lines += expected_lines[i];
        if (!(got == expected[i]) && mismatches.fetch_add(1) < 10)
          std::fprintf(stderr, "thread %d call %ld: input %zu gave %d, single-threaded %d\n", t, k, i, got.rc,
                       expected[i].rc);
      }
      expected_trace += lines;
      done += calls;
    });
  }
  for (std::thread &w : workers) w.join();
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();

  // Every trace line whole, three per traced word.
  const std::string trace = stress::Read_File("as.txt");
  size_t lines = 0, torn = 0, start = 0;
  for (size_t nl; (nl = trace.find('\n', start)) != std::string::npos; start = nl + 1) {
    ++lines;
    if (valid_lines.count(trace.substr(start, nl - start)) == 0 && torn++ < 5)
      std::fprintf(stderr, "torn trace line %zu: '%.60s'\n", lines, trace.substr(start, nl - start).c_str());
  }
  const bool trailing = start != trace.size();
  std::remove("as.txt");
  std::remove(dir.c_str());
  Tesquin_UnInit();

  std::printf("stress: %d threads x %ld calls = %ld calls in %.1f s (%.0f calls/s), %ld mismatches\n", threads,
              calls, done.load(), seconds, done.load() / seconds, mismatches.load());
  std::printf("stress: trace as.txt %zu lines (%zu expected), %zu not whole%s\n", lines, expected_trace.load(), torn,
              trailing ? ", unterminated tail" : "");
  const bool ok = mismatches == 0 && torn == 0 && !trailing && lines == expected_trace;
  if (!ok) std::printf("stress: FAILED\n");
  return ok ? 0 : 1;
}
