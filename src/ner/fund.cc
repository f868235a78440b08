// Fund_Recognize: does a segmented text begin with the name of a fund?
//
// Statistics come from "fund_dic": code 1 ("b:") says how likely a word is
// to begin a fund name, code 2 ("i:") to stand inside one, code 3 ("e:") to
// end one.
//
//   first part   word 0, or word 1 after an opening mark (" ( “ 《 （): it
//                must be longer than one character, have a "b:" value above
//                0.1 and a tag outside 37..40; "十五" and "十一" always pass.
//   walk         each following word with i > e is an inner word and is
//                counted (a lone stop character 和 的 及 等 是 暨 there
//                refuses the name); the first word with e >= i closes the
//                name and is counted; a word with neither value closes the
//                name only when at least 80% of the words walked were
//                counted, and adds nothing.
//   decision     the average of the counted values must be above 0.4; the
//                name ends with the last word walked.
//
// The opening mark stays inside the reported name: the end offset counts
// from the start of the text.
#include <string>

#include "gb2312.h"
#include "ner/ner.h"
#include "ner/word_walk.h"

namespace {

// A tested first part of this many bytes or more is never a fund name.
constexpr int32_t kFirstWordLimit = 128;
// A following word longer than this refuses the name.
constexpr int32_t kFollowingWordLimit = 128;
constexpr double kBeginThreshold = 0.1;
constexpr double kCoverageRatio = 0.8;
constexpr double kAverageThreshold = 0.4;

const char *const kOpeningMarks[] = {"\xA1\xB0", "\xA1\xB6", "\xA3\xA8"};  // “ 《 （
const char *const kStopChars[] = {
    "\xBA\xCD", "\xB5\xC4", "\xBC\xB0", "\xB5\xC8", "\xCA\xC7", "\xF4\xDF",  // 和 的 及 等 是 暨
};
const char kShiWu[] = "\xCA\xAE\xCE\xE5";  // 十五
const char kShiYi[] = "\xCA\xAE\xD2\xBB";  // 十一

bool Opening_Mark(const Word_View &view, int32_t length) {
  if (length == 1) return view.text[0] == '"' || view.text[0] == '(';
  return length == 2 && gb::Char_In_List(view.text, kOpeningMarks);
}

}  // namespace

Found_Name Fund_Recognize(const Word_View &view) {
  const int32_t end0 = ner::Word_End(view, 0, 0);
  if (end0 <= 0 || end0 >= kFirstWordLimit) return {};

  // The first part: word 0, or the word behind an opening mark. A mark with
  // no word behind it, or followed by a word too long for a first part, is
  // no fund name.
  int32_t k = 0;
  int32_t part_begin = 0;
  int32_t part_end = end0;
  if (Opening_Mark(view, end0)) {
    const int32_t end1 = ner::Word_End(view, 1, end0);
    if (end1 == 0 || end1 - end0 >= kFirstWordLimit) return {};
    k = 1;
    part_begin = end0;
    part_end = end1;
  }
  std::string copy = ner::Word_Copy(view, part_begin, part_end);

  double begin_value = 0.0;
  const bool found = Fund_Get_Prob(copy.c_str(), 1, &begin_value) == 1;
  const bool likely_beginning =
      found && begin_value > kBeginThreshold && copy.size() > 2 && !ner::Function_Word_Tag(view.Tag(k));
  if (!likely_beginning && copy != kShiWu && copy != kShiYi) return {};

  double examined = 0.0;
  double counted = 0.0;
  double total = 0.0;
  int32_t i = k + 1;
  int32_t previous = part_end;  // end of word i - 1
  for (;;) {
    const int32_t word_end = ner::Word_End(view, i, previous);
    if (word_end == 0) break;  // no word left
    examined += 1.0;
    const int32_t length = word_end - previous;
    if (length > kFollowingWordLimit) return {};
    copy = ner::Word_Copy(view, previous, word_end);
    double inner = 0.0;
    double closing = 0.0;
    Fund_Get_Prob(copy.c_str(), 2, &inner);
    Fund_Get_Prob(copy.c_str(), 3, &closing);
    if (inner > closing) {
      if (length == 2 && gb::Char_In_List(copy.c_str(), kStopChars)) return {};
      counted += 1.0;
      total += inner;
      ++i;
      previous = word_end;
      continue;
    }
    if (inner == 0.0 && closing == 0.0) {
      if (counted / examined < kCoverageRatio) return {};
      ++i;
      previous = word_end;
      break;
    }
    counted += 1.0;
    total += closing;
    ++i;
    previous = word_end;
    break;
  }

  const double average = counted > 0.0 ? total / counted : 0.0;
  if (!(average > kAverageThreshold)) return {};
  return {&kLabel_Fund, previous};  // the end of word i - 1, the last word of the name
}
