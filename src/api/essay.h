// Essay segmentation with entity merging: the pieces of Tesquin_Search_Essay.
//
// The essay is segmented once; a walk over its words asks, at each word,
// whether an organisation, person or place name begins there and records the
// span of every name found; the merge then rewrites the caller's word-end
// and tag arrays so that each span is one word tagged 21 (person), 22 (place)
// or 23 (organisation).
//
// The whole call is linear in the length of the essay (beyond what the
// recognisers themselves read): the recognisers see the essay through a
// Word_View instead of a rebased copy of the remaining word ends, the text
// is measured once, and the merge rewrites the words in one forward pass
// instead of shifting the tail of the arrays for every name.
#ifndef TESQ_API_ESSAY_H
#define TESQ_API_ESSAY_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/label.h"
#include "ner/ner.h"

// A segmented essay as the walk reads it.
struct Essay_Text {
  const char *text;          // the whole essay, NUL-terminated
  size_t length;             // bytes before its NUL
  const int32_t *word_ends;  // the segmenter's word ends, 0-terminated
  const int16_t *tags;       // the segmenter's tags
  int32_t words;             // words before the terminating 0 entry
  int32_t count;             // entries each array holds
  Foreign_Run_Memo *foreign_memo = nullptr;  // runs of one-character words already walked
  Org_Walk_Memo *org_memo = nullptr;         // organisation walks already walked
};

// Checks the segmenter's word-end array: within its `count` entries it must
// hold word ends that rise strictly, each above 0 and none beyond the text,
// followed by a 0 entry. Returns the number of words before that entry, or
// -1 when the array is not such a segmentation (no terminator within `count`
// entries, count <= 0, a word of length 0 or less, a word ending past the
// text).
int32_t Essay_Word_Count(const int32_t *word_ends, int32_t count, size_t text_length);

// Decides whether a name begins at word i (0 <= i < essay.words): asks
// Org_Recognize, then Person_Recognize, then Place_Recognize, on the essay
// from the word's first byte. Gives the name's label (机构名, 人名 or 地名)
// and, as its end, its length in bytes; no label when no name begins there.
// A recogniser's answer of length 0, or of a name running past the end of
// the text, counts as no answer and the next recogniser is asked.
Found_Name Essay_Classify_Span(const Essay_Text &essay, int32_t i);

// A recognised name: byte offsets [start, end) in the essay, and its label,
// whose tag the merged word gets.
struct Essay_Span {
  int32_t start;
  int32_t end;
  const Label *label;
};

// The walk: examines the words in order, records each name found in `spans`
// and resumes at the first word that begins at or after the name's end. A
// place name of odd length is ignored and the walk goes on at the next word.
// Returns 0 when the walk is over; 4 when another span was to be recorded
// while `spans` already held `span_capacity` spans.
int32_t Essay_Collect_Spans(const Essay_Text &essay, size_t span_capacity, std::vector<Essay_Span> *spans);

// The segmentation while the merge rewrites it, in one forward pass. The
// words in use are the settled words [0, settled) followed by the pending
// words [next, ends.size()); the entries between them are free. Word indices
// below count the words in use in that order, as if the array had been
// shifted down at every merge.
struct Essay_Words {
  std::vector<int32_t> ends;
  std::vector<int16_t> tags;
  size_t settled = 0;
  size_t next = 0;
};

// No word ends at or after the offset.
constexpr int32_t kNoWord = -2;

// The index of the word that ends at `offset`, making `offset` a word end
// if it is none: the first word ending at or after `offset` is cut there,
// and its bytes after `offset` become the beginning of the following word,
// which keeps its own tag. When the word cut is the last one, those bytes
// form a new last word with the tag of the word they came from, so the
// segmentation keeps covering the same bytes. Returns -1 for offset 0 (the
// boundary before word 0) and kNoWord when every word ends before `offset`.
// Offsets must be asked in non-decreasing order and never below the end of
// the last settled word; the search resumes where the last one stopped.
int32_t Essay_Find_Word(Essay_Words &words, int32_t offset);

// Words a + 1 to b become one word that ends where word b ends and carries
// `tag`; words a + 1 and b must exist and a must be -1 or a word not before
// the last settled one. Words up to the merged one become settled.
void Essay_Join_Words(Essay_Words &words, int32_t a, int32_t b, int16_t tag);

// Merges every span, in order, into the segmentation held by the caller's
// arrays (`words` words, 0-terminated, room for `count` entries). Each span
// becomes one word with the tag of its label; a span whose label has no tag
// is left out. A span that ends past the last word
// end takes the place of the words it covers, and the segmentation then ends
// where the span ends. Returns false, leaving the arrays untouched, when the
// rewritten segmentation and its terminator would not fit `count` entries.
bool Essay_Merge(const std::vector<Essay_Span> &spans, int32_t *word_ends, int16_t *tags, int32_t words,
                 int32_t count);

#endif
