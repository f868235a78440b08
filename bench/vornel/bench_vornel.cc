// libvornel benchmarks.
//
//   BM_Load              Dict_Init_New (segmenter lexicon) + the five
//                        dictionaries, then Free_All_Space
//   BM_Place_Probe       the essay front end's place match: every prefix
//                        length 40..4 of a text, each with its own handle
//   BM_Segment/1, /10    KV_Word_Sect over the corpus text once and ten times
//                        concatenated (one call), single thread
//
// The corpus is the GB2312 file named by VORNEL_BENCH_CORPUS; the data
// directory is the usual one (TESQ_DATA_DIR or the build tree's). The
// resident memory after loading is reported as the counter rss_mb.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "vornel/vornel.h"

namespace {

const char *const kNames[] = {"foreign_dic", "name_dic", "org_dic", "fund_dic", "place"};

bool Load_All() {
  if (!Dict_Init_New(0, 100, 200, 0x80000, 4)) return false;
  for (const char *name : kNames)
    if (Dict_Load_New(name, "") < 0) return false;
  return true;
}

double Rss_Mb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmRSS:") == 0) return std::atof(line.c_str() + 6) / 1024.0;
  return 0;
}

const std::string &Corpus() {
  static const std::string text = [] {
    const char *path = std::getenv("VORNEL_BENCH_CORPUS");
    if (path == nullptr) return std::string();
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    std::string t = s.str();
    t.erase(std::remove(t.begin(), t.end(), '\0'), t.end());
    return t;
  }();
  return text;
}

void BM_Load(benchmark::State &state) {
  Free_All_Space();
  double rss = 0;
  for (auto _ : state) {
    if (!Load_All()) {
      state.SkipWithError("cannot load the lexicon and dictionaries");
      return;
    }
    state.PauseTiming();
    rss = Rss_Mb();
    Free_All_Space();
    state.ResumeTiming();
  }
  state.counters["rss_mb"] = rss;
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

void BM_Place_Probe(benchmark::State &state) {
  if (!Load_All()) {
    state.SkipWithError("cannot load the dictionaries");
    return;
  }
  // A text of 40 bytes of Chinese that begins with no place name.
  const std::string text = "\xCE\xD2\xC3\xC7\xD4\xDA\xD5\xE2\xC0\xEF\xD1\xD0\xBE\xBF\xB5\xC4\xCE\xCA\xCC\xE2"
                           "\xCA\xC7\xD2\xBB\xB8\xF6\xD6\xD8\xD2\xAA\xB5\xC4\xCE\xCA\xCC\xE2\xA3\xAC\xCB\xFB";
  char copy[41];
  int64_t found = 0;
  for (auto _ : state) {
    std::memcpy(copy, text.data(), 40);
    copy[40] = '\0';
    for (int len = 40; len >= 4; --len) {
      copy[len] = '\0';
      const int32_t h = Dict_Get_Handle("place", "");
      found += Dict_Search_Word(copy, h);
      Dict_Delete_Handle(h);
    }
  }
  benchmark::DoNotOptimize(found);
  state.SetItemsProcessed(state.iterations() * 37);
}
BENCHMARK(BM_Place_Probe);

void BM_Segment(benchmark::State &state) {
  if (Corpus().empty()) {
    state.SkipWithError("set VORNEL_BENCH_CORPUS to a GB2312 text");
    return;
  }
  if (!Load_All()) {
    state.SkipWithError("cannot load the lexicon");
    return;
  }
  std::string text;
  for (int64_t k = 0; k < state.range(0); ++k) text += Corpus();
  const int32_t length = static_cast<int32_t>(text.size()) + 1;
  std::vector<int32_t> ends(length);
  std::vector<int16_t> tags(length);
  int64_t words = 0;
  for (auto _ : state) {
    if (!KV_Word_Sect(text.c_str(), ends.data(), length, -1, 1, tags.data(), 2048, 0, 0, 0)) {
      state.SkipWithError("KV_Word_Sect failed");
      return;
    }
    words = 0;
    while (ends[words] != 0) ++words;
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
  state.counters["words"] = static_cast<double>(words);
  state.counters["rss_mb"] = Rss_Mb();
}
BENCHMARK(BM_Segment)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
