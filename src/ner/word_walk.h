// Reading the words of a Word_View safely: shared by the recognisers.
//
// A well-formed word-end array rises strictly and stays within the text, and
// ends with a 0 entry. The recognisers read it only through Word_End, which
// treats the first entry that breaks those rules (the 0 terminator, an entry
// at or before the previous end, an entry beyond the text's NUL) as the end
// of the segmentation, so no recogniser reads past the terminator, takes a
// word of non-positive length or reads text outside the caller's string.
#ifndef TESQ_NER_WORD_WALK_H
#define TESQ_NER_WORD_WALK_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "ner/ner.h"
#include "vornel/vornel.h"

namespace ner {

// The function-word tags (conjunction, auxiliary, modal particle,
// interjection): no name begins with such a word.
inline bool Function_Word_Tag(int16_t tag) {
  return tag >= VORNEL_TAG_CONJUNCTION && tag <= VORNEL_TAG_INTERJECTION;
}

// The end of word n, counted from the view's start, when word n exists and
// is well formed given that word n - 1 ends at `previous` (0 for n = 0);
// otherwise 0.
inline int32_t Word_End(const Word_View &view, int32_t n, int32_t previous) {
  const int32_t end = view.End(n);
  if (end <= previous || end < 0 || static_cast<size_t>(end) > view.text_length) return 0;
  return end;
}

// The bytes [begin, end) of the view's text as a NUL-terminated string.
inline std::string Word_Copy(const Word_View &view, int32_t begin, int32_t end) {
  return std::string(view.text + begin, static_cast<size_t>(end - begin));
}

// True when the bytes [begin, end) of the view's text are exactly `word`.
inline bool Word_Equals(const Word_View &view, int32_t begin, int32_t end, const char *word) {
  const size_t length = std::strlen(word);
  return static_cast<size_t>(end - begin) == length && std::memcmp(view.text + begin, word, length) == 0;
}

}  // namespace ner

#endif
