// Tesquin_Search_Essay through the shared library and the service libraries
// built in this tree, on essays of N and 10N bytes. Whatever segmentation
// and dictionaries the service holds, the time per call should grow about
// tenfold.
#include <benchmark/benchmark.h>

#include <vector>

#include "essay_corpus.h"
#include "tesqsrch/tesqsrch.h"

namespace {

void Essay_Real(benchmark::State &state) {
  const bench_essay::Corpus corpus =
      bench_essay::Make_Corpus(static_cast<size_t>(state.range(0)), bench_essay::Cut::kWords);
  if (Tesquin_Init(0) != 0) {
    state.SkipWithError("Tesquin_Init failed");
    return;
  }
  const int32_t count = static_cast<int32_t>(corpus.text.size());
  std::vector<int32_t> ends(corpus.text.size());
  std::vector<int16_t> tags(corpus.text.size());
  int32_t words = 0;
  for (auto _ : state) {
    const int32_t result = Tesquin_Search_Essay(corpus.text.c_str(), ends.data(), count, 0, 0, tags.data());  // text segmentation
    if (result != 0) state.SkipWithError("essay failed");
    benchmark::DoNotOptimize(ends.data());
  }
  while (words < count && ends[static_cast<size_t>(words)] != 0) ++words;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * count);
  state.counters["words"] = static_cast<double>(words);
  Tesquin_UnInit();
}

}  // namespace

BENCHMARK(Essay_Real)->Arg(4000)->Arg(40000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
