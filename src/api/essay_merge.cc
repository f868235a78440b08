// The merge of Tesquin_Search_Essay: each recognised name becomes one word.
//
// For every span (s, e), in the order the walk found them: a = the word
// ending at s and b = the word ending at e, each found by Essay_Find_Word,
// which cuts a word when the offset falls inside it; words a + 1 to b then
// become one word with the name's tag, and the words after b move down.
//
// Spans never overlap and come in increasing order, so the words are
// rewritten in one forward pass: a word is looked at when the search for the
// next offset passes it and is moved at most once, to its final place, when
// the merge settles it. Moving the whole tail down at every name, and
// searching every offset from word 0, would make an essay with many names
// cost time quadratic in its length.
#include <algorithm>
#include <cstddef>
#include <vector>

#include "api/essay.h"

namespace {

// Index, among the words in use, of the last one (-1 when there is none).
int32_t Last_Word(const Essay_Words &words) {
  return static_cast<int32_t>(words.settled + (words.ends.size() - words.next)) - 1;
}

}  // namespace

int32_t Essay_Find_Word(Essay_Words &words, int32_t offset) {
  if (offset == 0) return -1;
  if (words.settled > 0 && words.ends[words.settled - 1] >= offset)
    return words.ends[words.settled - 1] == offset ? static_cast<int32_t>(words.settled) - 1 : kNoWord;
  size_t p = words.next;
  while (p < words.ends.size() && words.ends[p] < offset) ++p;
  if (p == words.ends.size()) return kNoWord;
  if (words.ends[p] > offset) {
    if (p + 1 == words.ends.size()) {
      // The bytes after the cut have no following word to go to: they stay
      // a word of their own.
      words.ends.push_back(words.ends[p]);
      words.tags.push_back(words.tags[p]);
    }
    words.ends[p] = offset;
  }
  return static_cast<int32_t>(words.settled + (p - words.next));
}

void Essay_Join_Words(Essay_Words &words, int32_t a, int32_t b, int16_t tag) {
  // Settle the words up to a, moving each down to its final place.
  while (static_cast<int32_t>(words.settled) <= a) {
    words.ends[words.settled] = words.ends[words.next];
    words.tags[words.settled] = words.tags[words.next];
    ++words.settled;
    ++words.next;
  }
  // Words a + 1 .. b are the pending words next .. last; they become one.
  const size_t last = words.next + static_cast<size_t>(b - static_cast<int32_t>(words.settled));
  words.ends[words.settled] = words.ends[last];
  words.tags[words.settled] = tag;
  ++words.settled;
  words.next = last + 1;
}

bool Essay_Merge(const std::vector<Essay_Span> &spans, int32_t *word_ends, int16_t *tags, int32_t words,
                 int32_t count) {
  if (spans.empty()) return true;
  Essay_Words current;
  current.ends.assign(word_ends, word_ends + words);
  current.tags.assign(tags, tags + words);

  for (const Essay_Span &span : spans) {
    const int16_t tag = span.label->tag;
    if (tag == 0 || span.end <= span.start) continue;
    const int32_t a = Essay_Find_Word(current, span.start);
    if (a == kNoWord) continue;
    const int32_t last = Last_Word(current);
    if (last <= a) continue;  // no word begins at the span's start
    int32_t b = Essay_Find_Word(current, span.end);
    if (b == kNoWord) {
      // The name runs past the last word end: it takes the place of every
      // word from its start on, and the segmentation ends where it ends.
      current.ends.back() = span.end;
      b = last;
    }
    Essay_Join_Words(current, a, b, tag);
  }

  // Close the gap between the settled and the pending words.
  const auto gap_begin = static_cast<std::ptrdiff_t>(current.settled);
  const auto gap_end = static_cast<std::ptrdiff_t>(current.next);
  current.ends.erase(current.ends.begin() + gap_begin, current.ends.begin() + gap_end);
  current.tags.erase(current.tags.begin() + gap_begin, current.tags.begin() + gap_end);
  const size_t in_use = current.ends.size();
  if (in_use + 1 > static_cast<size_t>(count)) return false;

  // The terminating 0 moves with the words, and its tag with it.
  const int16_t terminator_tag = tags[words];
  std::copy(current.ends.begin(), current.ends.end(), word_ends);
  std::copy(current.tags.begin(), current.tags.end(), tags);
  word_ends[in_use] = 0;
  tags[in_use] = terminator_tag;
  return true;
}
