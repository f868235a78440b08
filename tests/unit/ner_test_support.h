// Segmented texts for the recogniser tests: words with their tags, joined
// into a text with its word-end and tag arrays, seen through a Word_View.
#ifndef TESQ_TESTS_UNIT_NER_TEST_SUPPORT_H
#define TESQ_TESTS_UNIT_NER_TEST_SUPPORT_H

#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ner/ner.h"

struct Tagged_Word {
  std::string text;  // GB2312
  int16_t tag;
};

// A segmented text. The arrays are sized exactly (words and the 0 entry), so
// that a read past the terminator shows under AddressSanitizer.
struct Segmented {
  std::string text;
  std::vector<int32_t> ends;
  std::vector<int16_t> tags;

  Word_View View() const {
    return Word_View{text.c_str(), text.size(), ends.data(), tags.data(), 0, static_cast<int32_t>(ends.size())};
  }
};

inline Segmented Segmented_Text(const std::vector<Tagged_Word> &words) {
  Segmented s;
  for (const Tagged_Word &w : words) {
    s.text += w.text;
    s.ends.push_back(static_cast<int32_t>(s.text.size()));
    s.tags.push_back(w.tag);
  }
  s.ends.push_back(0);
  s.tags.push_back(0);
  return s;
}

// The text of `s` seen from word i on, as a caller that examines every word
// of one text passes it (first_word = i; no memo).
inline Word_View View_At(const Segmented &s, int32_t i) {
  const int32_t words = static_cast<int32_t>(s.ends.size()) - 1;
  const int32_t base = i == 0 ? 0 : s.ends[i - 1];
  Word_View view{s.text.c_str() + base, s.text.size() - base, s.ends.data() + i, s.tags.data() + i, base,
                 words + 1 - i};
  view.first_word = i;
  return view;
}

// A recogniser's answer as the case tables read it: true, with *end set,
// when a name was found, which must then carry `label`; *end is untouched
// otherwise.
inline bool Found_As(const Found_Name &name, const Label &label, int32_t *end) {
  if (!name) return false;
  EXPECT_EQ(name.label, &label) << "the label " << name.label->text;
  *end = name.end;
  return true;
}

// `n` copies of `unit`.
inline std::string Repeat(const std::string &unit, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += unit;
  return out;
}

#endif
