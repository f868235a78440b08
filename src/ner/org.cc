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
#include <string>

#include "gb2312.h"
#include "ner/ner.h"
#include "ner/word_walk.h"

namespace {

constexpr int32_t kFirstWordLimit = 128;
constexpr int32_t kFollowingWordLimit = 128;
constexpr int16_t kOrganisationTag = 23;
constexpr int16_t kLetThroughTag = 18;
constexpr double kLetThroughValue = 1.0;
constexpr double kBeginThreshold = 0.1;
constexpr double kAverageThreshold = 0.4;

const char kOrdinal[] = "\xB5\xDA";  // 第
const char *const kStopChars[] = {
    "\xD3\xEB", "\xBA\xCD", "\xB5\xC4", "\xB5\xD8", "\xB5\xC8", "\xCA\xC7", "\xA1\xA2",  // 与 和 的 地 等 是 、
};

bool Excluded_Tag(int16_t tag) { return tag >= 37 && tag <= 40; }

// The statistical test. True with the end of the name in *name_end.
bool Org_Statistics(const Word_View &view, int32_t end0, int32_t *name_end) {
  std::string copy = ner::Word_Copy(view, 0, end0);
  double begin_value = 0.0;
  const bool found = Org_Get_Prob(copy.c_str(), 1, &begin_value) == 1;
  const bool long_enough = end0 > 2 || (end0 == 2 && copy == kOrdinal);
  if (!(found && begin_value > kBeginThreshold && long_enough && !Excluded_Tag(view.Tag(0)))) return false;

  double counted = 0.0;
  double total = 0.0;
  int32_t i = 1;
  int32_t before_previous = 0;  // start of word i - 1
  int32_t previous = end0;      // end of word i - 1
  for (;;) {
    const int32_t word_end = ner::Word_End(view, i, previous);
    if (word_end == 0) break;  // no word left
    const int32_t length = word_end - previous;
    if (length > kFollowingWordLimit) return false;
    copy = ner::Word_Copy(view, previous, word_end);
    double inner = 0.0;
    double closing = 0.0;
    Org_Get_Prob(copy.c_str(), 2, &inner);
    Org_Get_Prob(copy.c_str(), 3, &closing);
    bool closes = false;
    if (inner > closing) {
      if (length == 2 && gb::Char_In_List(copy.c_str(), kStopChars)) return false;
      counted += 1.0;
      total += inner;
    } else if (view.Tag(i) == kLetThroughTag) {
      if (i != 1 && !ner::Word_Equals(view, before_previous, previous, kOrdinal)) return false;
      counted += 1.0;
      total += kLetThroughValue;
    } else if (inner == 0.0 && closing == 0.0) {
      return false;
    } else {
      counted += 1.0;
      total += closing;
      closes = true;
    }
    ++i;
    before_previous = previous;
    previous = word_end;
    if (closes) break;
  }

  const double average = counted > 0.0 ? total / counted : 0.0;
  if (!(average > kAverageThreshold)) return false;
  *name_end = previous;
  return true;
}

}  // namespace

bool Org_Recognize(const Word_View &view, int32_t *end) {
  const int32_t end0 = ner::Word_End(view, 0, 0);
  if (end0 <= 0 || end0 >= kFirstWordLimit) return false;
  const bool segmenter_says = view.Tag(0) == kOrganisationTag && end0 > 2;
  int32_t name_end = 0;
  if (Org_Statistics(view, end0, &name_end)) {
    *end = name_end;
    return true;
  }
  *end = end0;
  return segmenter_says;
}
