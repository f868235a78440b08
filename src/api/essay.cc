// Tesquin_Search_Essay: segments a text, finds the person, place and
// organisation names that begin at its words, and merges each into one word
// of the caller's segmentation, tagged 21, 22 or 23.
//
// Results: 0 done (also when no name was found); 1 the segmenter failed (or
// gave back something that is not a segmentation of the text), or a label
// did not fit its buffer; 2 a null argument; 4 too many names for the span
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
#include "ner/ner.h"
#include "services/services.h"

namespace {

const char kOrganisationLabel[] = "\xBB\xFA\xB9\xB9\xC3\xFB";  // 机构名
const char kPersonLabel[] = "\xC8\xCB\xC3\xFB";                // 人名
const char kPlaceLabel[] = "\xB5\xD8\xC3\xFB";                 // 地名
constexpr int32_t kLabelBufferSize = 127;

// Hands a found name to the caller of Essay_Classify_Span.
int32_t Give_Label(const char *name_label, int32_t name_length, char *label, int32_t *capacity, int32_t *length) {
  *length = name_length;
  const int32_t needed = static_cast<int32_t>(std::strlen(name_label)) + 1;
  if (*capacity < needed) {
    *capacity = needed;
    return 1;
  }
  std::memcpy(label, name_label, static_cast<size_t>(needed));
  return 0;
}

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

int32_t Essay_Classify_Span(const Essay_Text &essay, int32_t i, char *label, int32_t *capacity, int32_t *length) {
  *length = 0;
  if (i < 0 || i > essay.words || i >= essay.count) return 3;
  const int32_t start = i == 0 ? 0 : essay.word_ends[i - 1];
  const size_t remaining = essay.length - static_cast<size_t>(start);
  const Word_View view{essay.text + start, remaining,       essay.word_ends + i, essay.tags + i,
                       start,              essay.count - i, i,                   essay.foreign_memo,
                       essay.org_memo};

  int32_t end = 0;
  if (Org_Recognize(view, &end) && Sound_Length(end, remaining))
    return Give_Label(kOrganisationLabel, end, label, capacity, length);
  if (Person_Recognize(view, &end) && Sound_Length(end, remaining))
    return Give_Label(kPersonLabel, end, label, capacity, length);
  if (Place_Recognize(view.text, &end) && Sound_Length(end, remaining))
    return Give_Label(kPlaceLabel, end, label, capacity, length);
  return 3;
}

int32_t Essay_Collect_Spans(const Essay_Text &essay, size_t span_capacity, std::vector<Essay_Span> *spans,
                            std::string *labels) {
  const int32_t *ends = essay.word_ends;
  int32_t i = 0;
  // Only the segmentation's own words are examined. The position of the
  // terminator is no word: a name found there (in bytes the segmenter left
  // uncovered) would start where the skip below cannot move past, and be
  // recorded again and again.
  while (i < essay.words) {
    if (i > 0 && (ends[i - 1] <= 0 || ends[i - 1] >= essay.count)) break;
    char label[kLabelBufferSize + 1];
    int32_t capacity = kLabelBufferSize;
    int32_t length = 0;
    const int32_t found = Essay_Classify_Span(essay, i, label, &capacity, &length);
    if (found == 1) return 1;
    if (found != 0) {
      ++i;
      continue;
    }
    // A place name of odd length would end inside a two-byte character.
    if (length % 2 != 0 && std::strcmp(label, kPlaceLabel) == 0) {
      ++i;
      continue;
    }
    labels->append("@@").append(label);
    if (spans->size() >= span_capacity) return 4;
    const int32_t start = i == 0 ? 0 : ends[i - 1];
    const int32_t end = start + length;
    spans->push_back(Essay_Span{start, end});
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
  std::string labels;
  const int32_t walked = Essay_Collect_Spans(essay, static_cast<size_t>(count), &spans, &labels);
  if (walked != 0) return walked;
  if (!Essay_Merge(spans, labels, word_ends, tags, words, count)) return 4;
  return 0;
}
