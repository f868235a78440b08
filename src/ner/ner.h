// Named-entity recognisers: decide whether a segmented GB2312 text begins
// with a fund, organisation, person (Chinese or transliterated) or place name,
// and where that name ends. Their statistics come from the dictionaries
// "fund_dic", "org_dic", "name_dic", "foreign_dic" and "place".
#ifndef TESQ_NER_NER_H
#define TESQ_NER_NER_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/label.h"

// The last run of one-character words that Foreign_Recognize walked in one
// text, kept by a caller that asks the recogniser at many words of the same
// text (the essay front end). A walk that starts at any word inside a run
// ends where the run ends, and each word's hit does not depend on where the
// walk started, so a later call inside the run reads its counts from here
// instead of walking the rest of the run again. Indices and offsets are in
// the caller's numbering.
struct Foreign_Run_Memo {
  int32_t first = -1;          // index of the run's first walked word; -1: empty
  int32_t end_index = -1;      // index just past the run's last word
  int32_t end_offset = 0;      // byte offset just past the run's last word
  std::vector<int32_t> hits_from;  // hits_from[k]: hits among words first + k .. end_index - 1
};

// The last run of following words that Org_Recognize walked from the third
// word of a name on, kept by a caller that asks the recogniser at many words
// of the same text (the essay front end). From its third word on, what a
// following word does to the walk does not depend on where the name began:
// it is an inner word or a word let through after "第" (it adds its value and
// the walk goes on), or it stops the walk by failing the test, closing the
// name or being missing. So a walk from any word of a recorded run stops
// where the recorded one stopped, and a later call reads the values from
// here instead of looking the rest of the run up again. Indices and offsets
// are in the caller's numbering.
struct Org_Walk_Memo {
  enum class Stop : int8_t { kFails, kCloses, kRunsOut };
  int32_t first = -1;          // index of the run's first word; -1: empty
  int32_t stop = -1;           // index of the word that stopped the walk
  Stop how = Stop::kFails;     // what that word did
  double closing_value = 0.0;  // its end value, when it closed the name
  int32_t end_offset = 0;      // just past the closing word, or past the last word when the text ran out
  bool exact_only = false;     // a value unfit for the summed bound: always sum word by word
  std::vector<double> values;  // values[n]: what word first + n adds
  // sums[n]: values[0 .. n) added in long double, for the bound on a walk's
  // average; the decision itself is always the word-by-word double sum's.
  std::vector<long double> sums;
};

// A segmented text seen from one of its words on, without copying.
//
// `ends` and `tags` point at the caller's entries for the first word of the
// view; the ends are counted in the caller's numbering, where the first word
// of the view starts at `base`. End(n) gives entry n recounted from the
// view's start, as if the array had been copied and rebased; it reads 0 for
// the terminating entry, for anything past it and for any entry at or beyond
// `entries`, so a recogniser walking a view can never read past the caller's
// array.
struct Word_View {
  const char *text;      // the first word's first byte; NUL-terminated
  size_t text_length;    // bytes from `text` to its NUL, measured once
  const int32_t *ends;   // word-end entries from the first word on
  const int16_t *tags;   // tags from the first word on
  int32_t base;          // start of the first word in the caller's numbering
  int32_t entries;       // entries readable at ends/tags
  // Optional, for callers that examine many words of one text: the index of
  // the view's first word in the caller's numbering, and the memos of foreign
  // name runs and organisation walks.
  int32_t first_word = 0;
  Foreign_Run_Memo *foreign_memo = nullptr;
  Org_Walk_Memo *org_memo = nullptr;  // organisation walks (nullptr: none)

  int32_t End(int32_t n) const {
    if (n < 0 || n >= entries) return 0;
    const int32_t e = ends[n];
    return e > base ? e - base : 0;
  }
  int16_t Tag(int32_t n) const { return n >= 0 && n < entries ? tags[n] : int16_t{-1}; }
};

// --- dictionary features ------------------------------------------------------
// Each reads the number stored under the key of `type` in the word's
// information string. Returns 1 with *value set when the key was found;
// 0 otherwise, with *value = 0.0.
//   fund_dic / org_dic: 1 "b:", 2 "i:", 3 "e:"
//   name_dic:           1 "x", 2 "dm", 3 "ss", 4 "sw", 5 "fx"
int32_t Fund_Get_Prob(const char *word, int32_t type, double *value);
int32_t Org_Get_Prob(const char *word, int32_t type, double *value);
int32_t Name_Get_Prob(const char *word, int32_t type, double *value);

// --- recognisers -----------------------------------------------------------------
// Each tells whether the view's text begins with a name: its label (基金,
// 机构名, 人名; a transliterated foreign name is a 人名 too) and the byte
// offset, from the view's start, just past it; no label when none begins.
Found_Name Fund_Recognize(const Word_View &view);
Found_Name Org_Recognize(const Word_View &view);
Found_Name Person_Recognize(const Word_View &view);
Found_Name Foreign_Recognize(const Word_View &view);

// The longest prefix of 4 to 40 bytes of `text` held by the "place"
// dictionary, labelled 地名, with its length as the end.
Found_Name Place_Recognize(const char *text);

#endif
