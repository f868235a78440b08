// Org_Recognize: does a segmented text begin with the name of an
// organisation?
//
// Two reasons for a yes:
//   segmenter    a first word longer than one character tagged 23 is an
//                organisation name by itself (the name is that word);
//   statistics   over "org_dic" (code 1 "b:" begin, 2 "i:" inside, 3 "e:"
//                end): the first word must be a likely beginning (a "b:"
//                value above 0.1, longer than one character unless it is
//                "第", a tag outside 37..40); each following word with
//                i > e is an inner word and is counted (a lone stop
//                character 与 和 的 地 等 是 、 there fails the test); a word
//                tagged 18 with e >= i is let through with the value 1.0
//                right after "第" or as the first following word, and fails
//                the test elsewhere; a word with neither value fails the
//                test; any other word closes the name and is counted. The
//                average of the counted values must be above 0.4.
// When the statistical test fails, the answer is the segmenter's, with the
// end of the first word as the end offset.
//
// A caller that asks at many words of one text passes an Org_Walk_Memo: a
// walk that joins a run already walked reads that run's values and where it
// stopped instead of looking each word up again, and decides its average
// from long-double sums of the run, falling back to the word-by-word double
// sum when those sums lie too close to the threshold to tell. Either way the
// answer is the plain walk's, and every run of words is looked up once.
#include <cmath>
#include <limits>
#include <string>

#include "gb2312.h"
#include "ner/ner.h"
#include "ner/word_walk.h"

namespace {

constexpr int32_t kFirstWordLimit = 128;
constexpr int32_t kFollowingWordLimit = 128;
constexpr double kLetThroughValue = 1.0;
constexpr double kBeginThreshold = 0.1;
constexpr double kAverageThreshold = 0.4;

const char kOrdinal[] = "\xB5\xDA";  // 第
const char *const kStopChars[] = {
    "\xD3\xEB", "\xBA\xCD", "\xB5\xC4", "\xB5\xD8", "\xB5\xC8", "\xCA\xC7", "\xA1\xA2",  // 与 和 的 地 等 是 、
};

// What following word i does to the walk, given that word i - 1 spans
// [before_previous, previous). On kGoesOn and kCloses, *value is what the
// word adds to the total; *word_end is its end whenever it exists.
enum class Step { kGoesOn, kFails, kCloses, kRunsOut };

Step Following_Word(const Word_View &view, int32_t i, int32_t before_previous, int32_t previous, double *value,
                    int32_t *word_end) {
  *word_end = ner::Word_End(view, i, previous);
  if (*word_end == 0) return Step::kRunsOut;  // no word left
  const int32_t length = *word_end - previous;
  if (length > kFollowingWordLimit) return Step::kFails;
  const std::string copy = ner::Word_Copy(view, previous, *word_end);
  double inner = 0.0;
  double closing = 0.0;
  Org_Get_Prob(copy.c_str(), 2, &inner);
  Org_Get_Prob(copy.c_str(), 3, &closing);
  if (inner > closing) {
    if (length == 2 && gb::Char_In_List(copy.c_str(), kStopChars)) return Step::kFails;
    *value = inner;
    return Step::kGoesOn;
  }
  if (view.Tag(i) == VORNEL_TAG_NUMERAL) {
    if (i != 1 && !ner::Word_Equals(view, before_previous, previous, kOrdinal)) return Step::kFails;
    *value = kLetThroughValue;
    return Step::kGoesOn;
  }
  if (inner == 0.0 && closing == 0.0) return Step::kFails;
  *value = closing;
  return Step::kCloses;
}

bool Average_Passes(double counted, double total) {
  const double average = counted > 0.0 ? total / counted : 0.0;
  return average > kAverageThreshold;
}

bool Summable(double value) { return std::isfinite(value) && value >= 0.0; }

// Walks from word 2 of the view, whose word 1 spans [before_previous,
// previous), to the word that stops the walk, and records the run in `memo`.
void Record_Walk(const Word_View &view, int32_t before_previous, int32_t previous, Org_Walk_Memo *memo) {
  memo->first = view.first_word + 2;
  memo->exact_only = false;
  memo->values.clear();
  memo->sums.assign(1, 0.0L);
  for (int32_t i = 2;; ++i) {
    double value = 0.0;
    int32_t word_end = 0;
    const Step step = Following_Word(view, i, before_previous, previous, &value, &word_end);
    if (step != Step::kGoesOn) {
      memo->stop = view.first_word + i;
      memo->closing_value = step == Step::kCloses ? value : 0.0;
      memo->how = step == Step::kCloses   ? Org_Walk_Memo::Stop::kCloses
                  : step == Step::kFails ? Org_Walk_Memo::Stop::kFails
                                         : Org_Walk_Memo::Stop::kRunsOut;
      memo->end_offset = view.base + (step == Step::kCloses ? word_end : previous);
      memo->exact_only = memo->exact_only || !Summable(memo->closing_value);
      return;
    }
    memo->exact_only = memo->exact_only || !Summable(value);
    memo->values.push_back(value);
    memo->sums.push_back(memo->sums.back() + value);
    before_previous = previous;
    previous = word_end;
  }
}

// Tells from the long-double sums whether the word-by-word double average of
// a walk (`counted_before` words adding up to `total_before`, then values
// [from, to) of the memo, then its closing word if any) passes the
// threshold, when the sums lie far enough from it for the rounding of either
// sum not to matter: 1 it passes, 0 it does not, -1 too close to tell.
//
// Bounds, for n non-negative terms: a recursive sum in a precision of
// epsilon e is within n·e of the exact sum (relative), so the difference of
// two prefix sums is within n·e of the sizes of both, and the walk's double
// sum of `words` terms within words·e of the exact one; the division adds
// one rounding. Each bound is doubled for slack.
int Summed_Average_Passes(const Org_Walk_Memo &memo, size_t from, size_t to, double counted_before,
                          double total_before) {
  using Wide = long double;
  if (memo.exact_only || !Summable(total_before)) return -1;
  const bool closes = memo.how == Org_Walk_Memo::Stop::kCloses;
  const Wide words = static_cast<Wide>(counted_before) + static_cast<Wide>(to - from) + (closes ? 1 : 0);
  const Wide wide_epsilon = std::numeric_limits<Wide>::epsilon();
  const Wide double_epsilon = std::numeric_limits<double>::epsilon();
  const Wide estimate = static_cast<Wide>(total_before) + (memo.sums[to] - memo.sums[from]) +
                        static_cast<Wide>(closes ? memo.closing_value : 0.0);
  const Wide prefix_error =
      (static_cast<Wide>(to) + 1) * wide_epsilon * (memo.sums[to] + memo.sums[from]) + 4 * wide_epsilon * estimate;
  const Wide walk_error = (words + 2) * double_epsilon * (estimate + prefix_error);
  const Wide error = 2 * (prefix_error + walk_error);
  const Wide threshold_total = static_cast<Wide>(kAverageThreshold) * words;
  const Wide slack = 4 * double_epsilon * threshold_total;
  if (estimate - error > threshold_total + slack) return 1;
  if (estimate + error < threshold_total - slack) return 0;
  return -1;
}

// The walk from word 2 of the view on, answered from the memo (recorded
// first when it holds no run that this walk joins). Word 1 is already
// counted in `counted` and `total` and spans [before_previous, previous).
bool Walk_With_Memo(const Word_View &view, double counted, double total, int32_t before_previous, int32_t previous,
                    int32_t *name_end) {
  Org_Walk_Memo &memo = *view.org_memo;
  const int32_t from_word = view.first_word + 2;
  if (memo.first < 0 || from_word < memo.first || from_word > memo.stop)
    Record_Walk(view, before_previous, previous, &memo);
  if (memo.how == Org_Walk_Memo::Stop::kFails) return false;
  const size_t from = static_cast<size_t>(from_word - memo.first);
  const size_t to = static_cast<size_t>(memo.stop - memo.first);
  int passes = Summed_Average_Passes(memo, from, to, counted, total);
  if (passes < 0) {
    // Too close to the threshold: the sum exactly as the plain walk adds it.
    for (size_t n = from; n < to; ++n) {
      counted += 1.0;
      total += memo.values[n];
    }
    if (memo.how == Org_Walk_Memo::Stop::kCloses) {
      counted += 1.0;
      total += memo.closing_value;
    }
    passes = Average_Passes(counted, total);
  }
  if (passes == 0) return false;
  *name_end = memo.end_offset - view.base;
  return true;
}

// The statistical test. True with the end of the name in *name_end.
bool Org_Statistics(const Word_View &view, int32_t end0, int32_t *name_end) {
  const std::string first = ner::Word_Copy(view, 0, end0);
  double begin_value = 0.0;
  const bool found = Org_Get_Prob(first.c_str(), 1, &begin_value) == 1;
  const bool long_enough = end0 > 2 || (end0 == 2 && first == kOrdinal);
  if (!(found && begin_value > kBeginThreshold && long_enough && !ner::Function_Word_Tag(view.Tag(0)))) return false;

  double counted = 0.0;
  double total = 0.0;
  int32_t i = 1;
  int32_t before_previous = 0;  // start of word i - 1
  int32_t previous = end0;      // end of word i - 1
  for (;;) {
    if (i == 2 && view.org_memo != nullptr)
      return Walk_With_Memo(view, counted, total, before_previous, previous, name_end);
    double value = 0.0;
    int32_t word_end = 0;
    const Step step = Following_Word(view, i, before_previous, previous, &value, &word_end);
    if (step == Step::kRunsOut) break;
    if (step == Step::kFails) return false;
    counted += 1.0;
    total += value;
    ++i;
    before_previous = previous;
    previous = word_end;
    if (step == Step::kCloses) break;
  }
  if (!Average_Passes(counted, total)) return false;
  *name_end = previous;
  return true;
}

}  // namespace

Found_Name Org_Recognize(const Word_View &view) {
  const int32_t end0 = ner::Word_End(view, 0, 0);
  if (end0 <= 0 || end0 >= kFirstWordLimit) return {};
  int32_t name_end = 0;
  if (Org_Statistics(view, end0, &name_end)) return {&kLabel_Organisation, name_end};
  if (view.Tag(0) == VORNEL_TAG_ORGANISATION && end0 > 2) return {&kLabel_Organisation, end0};
  return {};
}
