// Tesquin_Search_Essay on essays of N and 10N bytes over the stand-in
// service: the time per call should grow tenfold, not a hundredfold.
//   words       the essay cut into dictionary words (short runs of
//               one-character words);
//   characters  every character a word of its own, as the placeholder
//               segmenter cuts: one long run of one-character words, which
//               the foreign-name test walks to its end from every word.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench_vornel.h"
#include "essay_corpus.h"
#include "tesqsrch/tesqsrch.h"

namespace {

void Essay(benchmark::State &state, bench_essay::Cut cut) {
  const bench_essay::Corpus corpus = bench_essay::Make_Corpus(static_cast<size_t>(state.range(0)), cut);
  bench_vornel::Script(corpus.ends, corpus.tags);
  for (const auto &entry : bench_essay::Corpus_Dictionary()) bench_vornel::Add(entry.dictionary, entry.word, entry.info);
  if (Tesquin_Init(0) != 0) state.SkipWithError("Tesquin_Init failed");

  const int32_t count = static_cast<int32_t>(corpus.text.size());
  std::vector<int32_t> ends(corpus.text.size());
  std::vector<int16_t> tags(corpus.text.size());
  int32_t words_after = 0;
  for (auto _ : state) {
    const int32_t result = Tesquin_Search_Essay(corpus.text.c_str(), ends.data(), count, 0, 0, tags.data());  // text segmentation
    if (result != 0) state.SkipWithError("essay failed");
    benchmark::DoNotOptimize(ends.data());
  }
  while (words_after < count && ends[static_cast<size_t>(words_after)] != 0) ++words_after;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * count);
  state.counters["words"] = static_cast<double>(corpus.ends.size());
  state.counters["merged_words"] = static_cast<double>(words_after);
  Tesquin_UnInit();
}

}  // namespace

BENCHMARK_CAPTURE(Essay, words, bench_essay::Cut::kWords)
    ->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Essay, characters, bench_essay::Cut::kCharacters)
    ->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
