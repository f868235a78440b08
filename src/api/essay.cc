// Tesquin_Search_Essay: segments a text, finds the person, place and
// organisation names that begin at its words, and merges each into one word
// of the caller's segmentation, tagged 21, 22 or 23.
//
// Results: 0 done (also when no name was found); 1 the segmenter failed (or
// gave back something that is not a segmentation of the text); 2 a null
// argument; 4 too many names for the span
// list. On 1 and 4 the arrays hold what the segmenter wrote; on 2 nothing is
// touched.
//
// The recognisers read the essay through a Word_View from the examined word
// on: no per-word copy of the remaining word ends and no per-word measuring
// of the text, and the foreign-name runs and organisation walks are memoised
// per essay, so the walk costs time in proportion to the words it examines
// however repetitive the text.
#include <cstring>
#include <string>
#include <vector>

#include "api/essay.h"
#include "api/exports.h"
#include "core/library_state.h"
#include "gb2312.h"
#include "ner/ner.h"
#include "services/services.h"

namespace {

// A recogniser's length is a name only when it covers at least one byte and
// stays within the text from the word's start.
bool Sound_Length(int32_t length, size_t remaining) {
  return length > 0 && static_cast<size_t>(length) <= remaining;
}

}  // namespace

int32_t Essay_Word_Count(const int32_t *word_ends, int32_t count, size_t text_length) {
  int32_t previous = 0;
  for (int32_t n = 0; n < count; ++n) {
    const int32_t end = word_ends[n];
    if (end == 0) return n;
    if (end <= previous || static_cast<size_t>(end) > text_length) return -1;
    previous = end;
  }
  return -1;
}

Found_Name Essay_Classify_Span(const Essay_Text &essay, int32_t i) {
  if (i < 0 || i > essay.words || i >= essay.count) return {};
  const int32_t start = i == 0 ? 0 : essay.word_ends[i - 1];
  const size_t remaining = essay.length - static_cast<size_t>(start);
  const Word_View view{essay.text + start, remaining,       essay.word_ends + i, essay.tags + i,
                       start,              essay.count - i, i,                   essay.foreign_memo,
                       essay.org_memo};

  Found_Name name = Org_Recognize(view);
  if (name && Sound_Length(name.end, remaining)) return name;
  name = Person_Recognize(view);
  if (name && Sound_Length(name.end, remaining)) return name;
  name = Place_Recognize(view.text);
  if (name && Sound_Length(name.end, remaining)) return name;
  return {};
}

int32_t Essay_Collect_Spans(const Essay_Text &essay, size_t span_capacity, std::vector<Essay_Span> *spans) {
  const int32_t *ends = essay.word_ends;
  int32_t i = 0;
  // Only the segmentation's own words are examined. The position of the
  // terminator is no word: a name found there (in bytes the segmenter left
  // uncovered) would start where the skip below cannot move past, and be
  // recorded again and again.
  while (i < essay.words) {
    if (i > 0 && (ends[i - 1] <= 0 || ends[i - 1] >= essay.count)) break;
    const Found_Name name = Essay_Classify_Span(essay, i);
    // A place name of odd length would end inside a two-byte character.
    if (!name || (name.label == &kLabel_Place && name.end % static_cast<int32_t>(gb::kWide_Char_Bytes) != 0)) {
      ++i;
      continue;
    }
    if (spans->size() >= span_capacity) return 4;
    const int32_t start = i == 0 ? 0 : ends[i - 1];
    const int32_t end = start + name.end;
    spans->push_back(Essay_Span{start, end, name.label});
    // Resume at the first word that begins at or after the name's end.
    if (i == 0) i = 1;
    while (i < essay.words && ends[i - 1] < end) ++i;
  }
  return 0;
}

int32_t Essay_Search(const char *text, int32_t *word_ends, int32_t count, int32_t a, int32_t b, int16_t *tags) {
  if (text == nullptr || word_ends == nullptr || tags == nullptr) return 2;
  // The essay is the text as the segmenter reads it: at most `count` bytes,
  // up to its NUL. When the NUL lies within `count` bytes that is the text
  // itself; otherwise names are looked for in a NUL-terminated copy of the
  // first `count` bytes, so that none runs past the words the segmenter made
  // of them (a caller's `count` may be shorter than the string, and nothing
  // past `count` is read to find out).
  const size_t length = strnlen(text, count > 0 ? static_cast<size_t>(count) : 0);
  std::string cut_text;
  if (count > 0 && length == static_cast<size_t>(count)) {
    cut_text.assign(text, length);
    text = cut_text.c_str();
  }
  if (!services::Word_Sect(text, word_ends, count, a, b, tags)) {
    Report_Segmentation_Failure();
    return 1;
  }
  const int32_t words = Essay_Word_Count(word_ends, count, length);
  if (words < 0) {
    Report_Segmentation_Failure();
    return 1;
  }

  Foreign_Run_Memo foreign_runs;
  Org_Walk_Memo org_walks;
  const Essay_Text essay{text, length, word_ends, tags, words, count, &foreign_runs, &org_walks};
  std::vector<Essay_Span> spans;
  const int32_t walked = Essay_Collect_Spans(essay, static_cast<size_t>(count), &spans);
  if (walked != 0) return walked;
  if (!Essay_Merge(spans, word_ends, tags, words, count)) return 4;
  return 0;
}
