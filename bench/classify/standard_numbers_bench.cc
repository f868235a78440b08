// Nanoseconds per check of each standard-number validator, on an accepted
// number and on a rejected one, and of the standard-number stage on a
// prefixed word. The validators only read their string: no allocation, no
// service call.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "classify/classify.h"
#include "core/library_state.h"

namespace {

void Run_Check(benchmark::State &state, bool (*check)(const char *), const char *text) {
  for (auto _ : state) {
    const char *input = text;
    benchmark::DoNotOptimize(input);
    bool valid = check(input);
    benchmark::DoNotOptimize(valid);
  }
  state.SetItemsProcessed(state.iterations());
}

void Bm_Isbn_Check(benchmark::State &state, const char *text) { Run_Check(state, Isbn_Check, text); }
void Bm_Issn_Check(benchmark::State &state, const char *text) { Run_Check(state, Issn_Check, text); }
void Bm_Cn_Check(benchmark::State &state, const char *text) { Run_Check(state, Cn_Check, text); }
void Bm_Patent_Check(benchmark::State &state, const char *text) { Run_Check(state, Patent_Check, text); }

void Bm_Isbn_Char_Check(benchmark::State &state) {
  const char characters[] = "0123456789Xx-a/ ";
  size_t i = 0;
  for (auto _ : state) {
    char c = characters[i++ & 15];
    benchmark::DoNotOptimize(c);
    bool valid = Isbn_Char_Check(c);
    benchmark::DoNotOptimize(valid);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(Bm_Isbn_Char_Check);

BENCHMARK_CAPTURE(Bm_Isbn_Check, isbn10_plain, "7111123468");
BENCHMARK_CAPTURE(Bm_Isbn_Check, isbn10_hyphenated, "7-111-12346-8");
BENCHMARK_CAPTURE(Bm_Isbn_Check, isbn13_plain, "9787111123453");
BENCHMARK_CAPTURE(Bm_Isbn_Check, isbn13_hyphenated, "978-7-111-12345-3");
BENCHMARK_CAPTURE(Bm_Isbn_Check, rejected_layout, "91-1-811692-2");
BENCHMARK_CAPTURE(Bm_Issn_Check, hyphenated, "1234-5679");
BENCHMARK_CAPTURE(Bm_Issn_Check, plain_x, "1234513X");
BENCHMARK_CAPTURE(Bm_Issn_Check, rejected, "12345-679");
BENCHMARK_CAPTURE(Bm_Cn_Check, with_subclass, "37-0001/TP");
BENCHMARK_CAPTURE(Bm_Cn_Check, plain, "111234");
BENCHMARK_CAPTURE(Bm_Cn_Check, rejected_region, "97-1234");
BENCHMARK_CAPTURE(Bm_Patent_Check, accepted, "1234567");
BENCHMARK_CAPTURE(Bm_Patent_Check, rejected, "12345678");

// The stage on its own (the term table is not asked): prefix tests, then the
// validator the prefix selects; a digit word that only the last validator
// accepts.
void Bm_Stage(benchmark::State &state, const char *word) {
  for (auto _ : state) {
    const char *input = word;
    benchmark::DoNotOptimize(input);
    Category category = Standard_Number_Classify(input);
    benchmark::DoNotOptimize(category);
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK_CAPTURE(Bm_Stage, isbn_prefixed, "isbn978-7-111-12345-3");
BENCHMARK_CAPTURE(Bm_Stage, issn_after_three_validators, "1234-5679");
BENCHMARK_CAPTURE(Bm_Stage, cn_prefixed, "CN11-1234/G");

}  // namespace

int main(int argc, char **argv) {
  Region_Table_Fill();  // what Tesquin_Init does for the CN region codes
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
