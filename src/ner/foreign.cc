// Foreign_Recognize: does a segmented text begin with a transliterated
// foreign name?
//
// Such a name is a run of one-character words at the start of the text. The
// run is walked up to the first word that is not exactly one character; each
// walked word counts, and it is a hit when "foreign_dic" holds it and its tag
// is none of 1, 8, 18, 27, 29, 37..40 (a tag 41 word is a hit only when it is
// "·" or "—"). The run is a name when it has at least three words, more than
// 80% of them hits, the whole text (not just the run) does not end with a
// character that rules a name out (的 了 ... and place suffixes), and the run
// does not start with 在, 和 or 之. The name ends with the last walked word.
//
// One "foreign_dic" handle serves the whole walk. A caller that examines many
// words of one text passes a Foreign_Run_Memo, so that every run is walked
// once however many of its words are examined.
#include <vector>

#include "gb2312.h"
#include "ner/ner.h"
#include "ner/word_walk.h"
#include "services/services.h"

namespace {

constexpr int32_t kMinimumWords = 3;
constexpr double kHitRatio = 0.8;

const char *const kLastCharVeto[] = {
    "\xB5\xC4", "\xC1\xCB", "\xB5\xC8", "\xBA\xCD", "\xD4\xDA", "\xCA\xC7", "\xD3\xEB",  // 的 了 等 和 在 是 与
    "\xB6\xD4", "\xCB\xB5", "\xCF\xD8", "\xCF\xE7", "\xCA\xD0", "\xCA\xA1", "\xD5\xF2",  // 对 说 县 乡 市 省 镇
    "\xD7\xAF", "\xB4\xE5", "\xC9\xE7", "\xB0\xD3", "\xB5\xEA", "\xD5\xAF", "\xD6\xDD",  // 庄 村 社 坝 店 寨 州
    "\xC7\xF8", "\xBA\xD3", "\xBD\xAD", "\xBA\xFE", "\xB9\xB5",                          // 区 河 江 湖 沟
};
const char *const kFirstCharVeto[] = {"\xD4\xDA", "\xBA\xCD", "\xD6\xAE"};  // 在 和 之
const char *const kNamePunctuation[] = {"\xA1\xA4", "\xA1\xAA"};           // · —

bool Tag_Excluded(int16_t tag) {
  return tag == VORNEL_TAG_ADJECTIVE || tag == VORNEL_TAG_ADVERB || tag == VORNEL_TAG_NUMERAL ||
         tag == VORNEL_TAG_PREPOSITION || tag == VORNEL_TAG_PRONOUN || ner::Function_Word_Tag(tag);
}

}  // namespace

namespace {

// Walks the run of one-character words at the view's start. Returns the
// number of words walked, with their hits in *hits and the end of the last
// one in *previous; records the run in the view's memo when it has one.
int32_t Walk_Run(const Word_View &view, int32_t *hits, int32_t *previous) {
  services::Dict_Lease foreign("foreign_dic");
  std::vector<char> hit_of_word;
  int32_t walked = 0;
  *hits = 0;
  *previous = 0;
  for (int32_t i = 0;; ++i) {
    const int32_t word_end = ner::Word_End(view, i, *previous);
    if (word_end == 0 || word_end - *previous != static_cast<int32_t>(gb::kWide_Char_Bytes)) break;
    ++walked;
    const gb::Wide_Char word = gb::Wide_Char_At(view.text + *previous);
    const int16_t tag = view.Tag(i);
    bool hit = false;
    if (foreign.Contains(word.text) && !Tag_Excluded(tag))
      hit = tag != VORNEL_TAG_PUNCTUATION || gb::Char_In_List(word.text, kNamePunctuation);
    *hits += hit;
    if (view.foreign_memo != nullptr) hit_of_word.push_back(hit);
    *previous = word_end;
  }
  if (view.foreign_memo != nullptr && walked > 0) {
    Foreign_Run_Memo &memo = *view.foreign_memo;
    memo.first = view.first_word;
    memo.end_index = view.first_word + walked;
    memo.end_offset = view.base + *previous;
    memo.hits_from.assign(static_cast<size_t>(walked) + 1, 0);
    for (int32_t k = walked - 1; k >= 0; --k) memo.hits_from[k] = memo.hits_from[k + 1] + hit_of_word[k];
  }
  return walked;
}

}  // namespace

Found_Name Foreign_Recognize(const Word_View &view) {
  int32_t walked = 0;
  int32_t hits = 0;
  int32_t previous = 0;  // end of the last word walked
  const Foreign_Run_Memo *memo = view.foreign_memo;
  if (memo != nullptr && memo->first >= 0 && view.first_word >= memo->first && view.first_word < memo->end_index) {
    // Inside a run already walked: the walk would end where that one ended.
    walked = memo->end_index - view.first_word;
    hits = memo->hits_from[view.first_word - memo->first];
    previous = memo->end_offset - view.base;
  } else {
    walked = Walk_Run(view, &hits, &previous);
  }

  if (walked == 0) return {};
  const double ratio = static_cast<double>(hits) / walked;
  if (!(ratio > kHitRatio) || walked < kMinimumWords) return {};
  if (view.text_length >= 2 && gb::Char_In_List(view.text + view.text_length - 2, kLastCharVeto)) return {};
  if (gb::Char_In_List(view.text, kFirstCharVeto)) return {};
  return {&kLabel_Person, previous};
}
