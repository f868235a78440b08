// The whole essay pipeline of libtesqsrch (Tesquin_Search_Essay: the
// segmenter, the organisation, person and place recognisers and the merge)
// on a real text, timed the way run_peers.sh times the peer segmenters.
//
//   essay_peers CORPUS [REPEAT]
//
// CORPUS is a UTF-8 text whose every character has a GB2312 form. It is
// converted to GB2312 once (timed on its own), then the essay export is
// timed, best of REPEAT runs (default 3, wall and CPU time each), on:
//   whole   the whole text in one call
//   lines   every line of the text in a call of its own
//   x10     the text ten times over in one call (the linearity check)
// The dictionaries are the usual ones (TESQ_DATA_DIR or the build tree's).
// Prints one JSON object.
#include <time.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "gb2312.h"
#include "tesqsrch/tesqsrch.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds_Since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// CPU time of the process: on a machine shared with other work the wall
// time of a run says less than the CPU time it took.
double Cpu_Seconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Timing {
  double wall = -1;
  double cpu = -1;
};

struct Tally {
  int64_t words = 0;
  int64_t persons = 0;
  int64_t places = 0;
  int64_t organisations = 0;
};

// The caller's arrays of one essay call, sized for the longest text given.
struct Arrays {
  std::vector<int32_t> ends;
  std::vector<int16_t> tags;
};

// One essay call over `length` bytes of `text` (NUL-terminated there),
// with count = length + 1 so that every word and the terminator fit.
bool Essay(const char *text, size_t length, Arrays *a) {
  const size_t count = length + 1;
  if (a->ends.size() < count) {
    a->ends.resize(count);
    a->tags.resize(count);
  }
  const int32_t result =
      Tesquin_Search_Essay(text, a->ends.data(), static_cast<int32_t>(count), 0, 0, a->tags.data());
  if (result != 0) {
    std::fprintf(stderr, "essay_peers: Tesquin_Search_Essay returned %d\n", static_cast<int>(result));
    return false;
  }
  return true;
}

// Adds up the words and merged-name tags of the last call's answer.
void Count(const Arrays &a, Tally *tally) {
  for (size_t n = 0; n < a.ends.size() && a.ends[n] != 0; ++n) {
    ++tally->words;
    tally->persons += a.tags[n] == 21;
    tally->places += a.tags[n] == 22;
    tally->organisations += a.tags[n] == 23;
  }
}

// Best wall and best CPU time of `repeat` runs of `run`, which returns
// false on failure.
template <typename Run>
bool Best_Of(int repeat, Run run, Timing *best) {
  for (int r = 0; r < repeat; ++r) {
    const Clock::time_point t0 = Clock::now();
    const double c0 = Cpu_Seconds();
    if (!run()) return false;
    const double cpu = Cpu_Seconds() - c0;
    const double wall = Seconds_Since(t0);
    if (best->wall < 0 || wall < best->wall) best->wall = wall;
    if (best->cpu < 0 || cpu < best->cpu) best->cpu = cpu;
  }
  return true;
}

void Print_Tally(const char *name, const Tally &t) {
  std::printf("\"%s\": {\"words\": %lld, \"persons\": %lld, \"places\": %lld, \"organisations\": %lld}", name,
              static_cast<long long>(t.words), static_cast<long long>(t.persons), static_cast<long long>(t.places),
              static_cast<long long>(t.organisations));
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: essay_peers CORPUS [REPEAT]\n");
    return 2;
  }
  const int repeat = argc == 3 ? std::atoi(argv[2]) : 3;
  if (repeat < 1) {
    std::fprintf(stderr, "essay_peers: REPEAT must be at least 1\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "essay_peers: cannot read %s\n", argv[1]);
    return 1;
  }
  std::ostringstream s;
  s << in.rdbuf();
  const std::string utf8 = s.str();

  std::string text;
  std::string error;
  Clock::time_point t0 = Clock::now();
  if (!gb::Utf8_To_Gb(utf8, &text, &error)) {
    std::fprintf(stderr, "essay_peers: %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  const double convert_s = Seconds_Since(t0);
  if (text.find('\0') != std::string::npos) {
    std::fprintf(stderr, "essay_peers: %s holds a NUL byte\n", argv[1]);
    return 1;
  }

  t0 = Clock::now();
  if (Tesquin_Init(0) != 0) {
    std::fprintf(stderr, "essay_peers: Tesquin_Init failed (no dictionaries in the data directory?)\n");
    return 1;
  }
  const double load_s = Seconds_Since(t0);

  Arrays arrays;
  Tally whole_tally, lines_tally, x10_tally;
  Timing whole_s, lines_s, x10_s;

  const bool whole_ok = Best_Of(repeat, [&] { return Essay(text.c_str(), text.size(), &arrays); }, &whole_s);
  if (whole_ok) Count(arrays, &whole_tally);

  // Lines are cut into a scratch copy, so that each call sees its line
  // NUL-terminated, as a host passing one paragraph at a time would. The
  // words are counted in a pass of their own, not timed.
  std::string line;
  auto each_line = [&](bool count) {
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      if (end > start) {
        line.assign(text, start, end - start);
        if (!Essay(line.c_str(), line.size(), &arrays)) return false;
        if (count) Count(arrays, &lines_tally);
      }
      start = end + 1;
    }
    return true;
  };
  const bool lines_ok = whole_ok && Best_Of(repeat, [&] { return each_line(false); }, &lines_s) && each_line(true);

  std::string ten;
  ten.reserve(text.size() * 10);
  for (int k = 0; k < 10; ++k) ten += text;
  const bool x10_ok = lines_ok && Best_Of(repeat, [&] { return Essay(ten.c_str(), ten.size(), &arrays); }, &x10_s);
  if (x10_ok) Count(arrays, &x10_tally);
  Tesquin_UnInit();
  if (!x10_ok) return 1;

  std::printf("{\"bytes_utf8\": %zu, \"bytes_gb2312\": %zu, \"convert_s\": %.6f, \"load_s\": %.6f, "
              "\"whole_s\": %.6f, \"whole_cpu_s\": %.6f, \"lines_s\": %.6f, \"lines_cpu_s\": %.6f, "
              "\"x10_s\": %.6f, \"x10_cpu_s\": %.6f, ",
              utf8.size(), text.size(), convert_s, load_s, whole_s.wall, whole_s.cpu, lines_s.wall, lines_s.cpu,
              x10_s.wall, x10_s.cpu);
  Print_Tally("whole", whole_tally);
  std::printf(", ");
  Print_Tally("lines", lines_tally);
  std::printf(", ");
  Print_Tally("x10", x10_tally);
  std::printf("}\n");
  return 0;
}
