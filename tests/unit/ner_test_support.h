// Segmented texts for the recogniser tests: words with their tags, joined
// into a text with its word-end and tag arrays, seen through a Word_View.
#ifndef TESQ_TESTS_UNIT_NER_TEST_SUPPORT_H
#define TESQ_TESTS_UNIT_NER_TEST_SUPPORT_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fake_services.h"
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

using Entries = std::vector<std::pair<std::string, std::string>>;

// One row of a recogniser's table: the segmented text, the entries of the
// recogniser's dictionary, and the answer.
struct Recogniser_Case {
  std::string why;
  std::vector<Tagged_Word> words;
  Entries entries;
  bool result;
  int32_t end;  // checked on true
  int lookups;  // lookups made in the recogniser's dictionary; -1: not checked
};

// The recogniser a table runs: the label of its names and its dictionary.
struct Recogniser_Under_Test {
  Found_Name (*recognise)(const Word_View &);
  const Label &label;
  const char *dictionary;
};

// Runs every row on fresh fakes, with `beside` (when given) loaded too and
// holding `beside_words`. Each call releases every handle it takes.
inline void Recogniser_Cases_Run(const Recogniser_Under_Test &r, const std::vector<Recogniser_Case> &cases,
                                 const char *beside = nullptr, const std::vector<std::string> &beside_words = {}) {
  for (const Recogniser_Case &c : cases) {
    fake::Reset();
    for (const auto &entry : c.entries) fake::Dictionary_Add(r.dictionary, entry.first, entry.second);
    fake::Vornel().loaded.insert(r.dictionary);
    if (beside != nullptr) {
      for (const std::string &word : beside_words) fake::Dictionary_Add(beside, word, "");
      fake::Vornel().loaded.insert(beside);
    }
    const Segmented s = Segmented_Text(c.words);
    const Found_Name name = r.recognise(s.View());
    EXPECT_EQ(static_cast<bool>(name), c.result) << c.why;
    if (name) {
      EXPECT_EQ(name.label, &r.label) << c.why;
      EXPECT_EQ(name.end, c.end) << c.why;
    }
    if (c.lookups >= 0) {
      EXPECT_EQ(fake::Lookup_Count(r.dictionary), c.lookups) << c.why;
    }
    EXPECT_EQ(fake::Vornel().outstanding_handles, 0) << c.why;
    EXPECT_EQ(fake::Vornel().bad_releases, 0) << c.why;
  }
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

// Asks `recognise` at every word of `s`, on a plain view and then on one
// that `with_memo` gives a memo (the same memo throughout): the two answers
// must agree. Returns, word by word, the dictionary lookups the memoised
// call made.
template <typename With_Memo>
std::vector<size_t> Memo_Lookups_At_Every_Word(const Segmented &s, Found_Name (*recognise)(const Word_View &),
                                               With_Memo with_memo) {
  std::vector<size_t> lookups;
  const int32_t words = static_cast<int32_t>(s.ends.size()) - 1;
  for (int32_t i = 0; i < words; ++i) {
    const Word_View plain = View_At(s, i);
    Word_View memoised = plain;
    with_memo(&memoised);
    const Found_Name plain_answer = recognise(plain);
    const size_t before = fake::Vornel().lookups.size();
    const Found_Name memo_answer = recognise(memoised);
    lookups.push_back(fake::Vornel().lookups.size() - before);
    EXPECT_EQ(memo_answer.label, plain_answer.label) << "word " << i;
    EXPECT_EQ(memo_answer.end, plain_answer.end) << "word " << i;
  }
  return lookups;
}

// `n` copies of `unit`.
inline std::string Repeat(const std::string &unit, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += unit;
  return out;
}

#endif
