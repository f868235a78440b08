// Foreign_Recognize: the run of one-character words, the hit ratio at its
// exact values, excluded tags, the two vetoes and the one handle per call.
#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "ner/ner.h"
#include "ner_test_support.h"
#include "test_support.h"

namespace {

using Foreign_Recognizer = Unit_Test;

constexpr int32_t kUntouched = -7;

struct Foreign_Case {
  std::string why;
  std::vector<Tagged_Word> words;
  std::set<std::string> foreign_dic;
  bool result;
  int32_t end;  // checked on true
  int lookups;  // words walked
};

void Foreign_Cases_Run(const std::vector<Foreign_Case> &cases) {
  for (const Foreign_Case &c : cases) {
    fake::Reset();
    for (const std::string &w : c.foreign_dic) fake::Dictionary_Add("foreign_dic", w, "");
    fake::Vornel().loaded.insert("foreign_dic");
    const Segmented s = Segmented_Text(c.words);
    int32_t end = kUntouched;
    EXPECT_EQ(Found_As(Foreign_Recognize(s.View()), kLabel_Person, &end), c.result) << c.why;
    EXPECT_EQ(end, c.result ? c.end : kUntouched) << c.why;
    EXPECT_EQ(fake::Lookup_Count("foreign_dic"), c.lookups) << c.why;
    EXPECT_EQ(fake::Vornel().outstanding_handles, 0) << c.why;
    EXPECT_EQ(fake::Vornel().bad_releases, 0) << c.why;
  }
}

// `hits` one-character words that foreign_dic holds, then `misses` that it
// does not, then a two-character word.
std::vector<Tagged_Word> Run_Of(int hits, int misses) {
  std::vector<Tagged_Word> words;
  for (int i = 0; i < hits; ++i) words.push_back({Gb("克"), 0});
  for (int i = 0; i < misses; ++i) words.push_back({Gb("甲"), 0});
  words.push_back({Gb("访华"), 0});
  return words;
}

TEST_F(Foreign_Recognizer, HitRatio) {
  const std::set<std::string> dic = {Gb("克"), Gb("林"), Gb("顿"), Gb("·"), Gb("—")};
  Foreign_Cases_Run({
      {"2 of 2: too few words", Run_Of(2, 0), dic, false, 0, 2},
      {"3 of 3", Run_Of(3, 0), dic, true, 6, 3},
      {"3 of 4", Run_Of(3, 1), dic, false, 0, 4},
      {"4 of 5 is exactly 0.8", Run_Of(4, 1), dic, false, 0, 5},
      {"5 of 6", Run_Of(5, 1), dic, true, 12, 6},
      {"8 of 10", Run_Of(8, 2), dic, false, 0, 10},
      {"9 of 10", Run_Of(9, 1), dic, true, 20, 10},
      {"first word of 4 bytes", {{Gb("克林"), 0}, {Gb("顿"), 0}, {Gb("克"), 0}, {Gb("林"), 0}}, dic, false, 0, 0},
      {"one-byte word ends the run", {{Gb("克"), 0}, {Gb("林"), 0}, {Gb("顿"), 0}, {"a", 0}, {Gb("克"), 0}}, dic,
       true, 6, 3},
      {"the run to the end of the text", {{Gb("克"), 0}, {Gb("林"), 0}, {Gb("顿"), 0}}, dic, true, 6, 3},
      {"two ASCII bytes are one walked word", {{Gb("克"), 0}, {Gb("林"), 0}, {Gb("顿"), 0}, {"ab", 0}}, dic, false,
       0, 4},
  });
}

TEST_F(Foreign_Recognizer, Tags) {
  const std::set<std::string> dic = {Gb("克"), Gb("林"), Gb("顿"), Gb("·"), Gb("—"), Gb("、")};
  const std::string ke = Gb("克"), lin = Gb("林"), dun = Gb("顿");
  std::vector<Foreign_Case> cases;
  // An excluded tag keeps a held word from counting, though it is walked.
  for (int16_t tag : {1, 8, 18, 27, 29, 37, 38, 39, 40}) {
    cases.push_back({"excluded tag " + std::to_string(tag), {{ke, 0}, {lin, tag}, {dun, 0}}, dic, false, 0, 3});
  }
  for (int16_t tag : {0, 2, 7, 9, 17, 19, 26, 28, 30, 36, 42}) {
    cases.push_back({"admitted tag " + std::to_string(tag), {{ke, 0}, {lin, tag}, {dun, 0}}, dic, true, 6, 3});
  }
  cases.push_back({"· tagged 41", {{ke, 0}, {Gb("·"), 41}, {dun, 0}}, dic, true, 6, 3});
  cases.push_back({"— tagged 41", {{ke, 0}, {Gb("—"), 41}, {dun, 0}}, dic, true, 6, 3});
  cases.push_back({"· tagged 41, not held", {{ke, 0}, {Gb("·"), 41}, {dun, 0}}, {ke, dun}, false, 0, 3});
  cases.push_back({"another word tagged 41", {{ke, 0}, {Gb("、"), 41}, {dun, 0}}, dic, false, 0, 3});
  cases.push_back({"a held word tagged 41", {{ke, 0}, {lin, 41}, {dun, 0}}, dic, false, 0, 3});
  Foreign_Cases_Run(cases);
}

TEST_F(Foreign_Recognizer, Vetoes) {
  const std::set<std::string> dic = {Gb("克"), Gb("林"), Gb("顿"), Gb("之"), Gb("在"), Gb("和"), Gb("的")};
  const std::string ke = Gb("克"), lin = Gb("林"), dun = Gb("顿");
  Foreign_Cases_Run({
      {"text ending in 的 after the run", {{ke, 0}, {lin, 0}, {dun, 0}, {Gb("访华"), 0}, {Gb("目的"), 0}}, dic,
       false, 0, 3},
      {"text ending in 县", {{ke, 0}, {lin, 0}, {dun, 0}, {Gb("州县"), 0}}, dic, false, 0, 3},
      {"the same text without the veto", {{ke, 0}, {lin, 0}, {dun, 0}, {Gb("州府"), 0}}, dic, true, 6, 3},
      {"text ending in 沟", {{ke, 0}, {lin, 0}, {dun, 0}, {Gb("山沟"), 0}}, dic, false, 0, 3},
      {"的 inside the text, not at its end", {{ke, 0}, {lin, 0}, {dun, 0}, {Gb("的书"), 0}}, dic, true, 6, 3},
      {"run starting with 之", {{Gb("之"), 0}, {lin, 0}, {dun, 0}, {Gb("访华"), 0}}, dic, false, 0, 3},
      {"run starting with 在", {{Gb("在"), 0}, {lin, 0}, {dun, 0}, {Gb("访华"), 0}}, dic, false, 0, 3},
      {"run starting with 和", {{Gb("和"), 0}, {lin, 0}, {dun, 0}, {Gb("访华"), 0}}, dic, false, 0, 3},
      {"之 later in the run", {{ke, 0}, {Gb("之"), 0}, {dun, 0}, {Gb("访华"), 0}}, dic, true, 6, 3},
  });
}

TEST_F(Foreign_Recognizer, TheLastCharacterIsTheWholeTextsEvenInsideALongerSegmentation) {
  // A view from the second word of an essay: the veto looks at the end of
  // the essay, not at the end of the run.
  fake::Dictionary_Add("foreign_dic", Gb("克"), "");
  fake::Dictionary_Add("foreign_dic", Gb("林"), "");
  fake::Dictionary_Add("foreign_dic", Gb("顿"), "");
  for (const std::string &last : {Gb("访华"), Gb("访华的")}) {
    const std::string text = Gb("总统") + Gb("克林顿") + last;
    std::vector<int32_t> ends = {4, 6, 8, 10, static_cast<int32_t>(text.size()), 0};
    std::vector<int16_t> tags(ends.size(), 0);
    const Word_View view{text.c_str() + 4, text.size() - 4, ends.data() + 1, tags.data() + 1, 4, 5};
    int32_t end = kUntouched;
    const bool vetoed = last == Gb("访华的");
    EXPECT_EQ(Found_As(Foreign_Recognize(view), kLabel_Person, &end), !vetoed) << (vetoed ? "vetoed" : "accepted");
    if (!vetoed) {
      EXPECT_EQ(end, 6);
    }
  }
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
}

TEST_F(Foreign_Recognizer, TheRunMemoGivesTheAnswersOfAFullWalkAtEveryWord) {
  // A text of runs of one-character words with hits, misses, excluded tags
  // and a vetoed first character, broken by two-character words: asked at
  // every word with one memo, the recogniser answers exactly as it does
  // without one, and walks each run once.
  for (const char *c : {"克", "林", "顿", "斯", "基", "之"}) fake::Dictionary_Add("foreign_dic", Gb(c), "");
  const Segmented s = Segmented_Text({{Gb("克"), 0},  {Gb("林"), 0},  {Gb("顿"), 0},  {Gb("访华"), 0}, {Gb("斯"), 0},
                                      {Gb("基"), 18}, {Gb("林"), 0},  {Gb("顿"), 0},  {Gb("克"), 0},   {Gb("之"), 0},
                                      {Gb("斯"), 0},  {Gb("基"), 0},  {Gb("林"), 0},  {Gb("人民"), 0}, {Gb("克"), 0}});
  Foreign_Run_Memo memo;
  const std::vector<size_t> lookups =
      Memo_Lookups_At_Every_Word(s, Foreign_Recognize, [&memo](Word_View *view) { view->foreign_memo = &memo; });
  const auto walks_with_memo = std::count_if(lookups.begin(), lookups.end(), [](size_t n) { return n > 0; });
  EXPECT_EQ(walks_with_memo, 3) << "one walk per run of one-character words";
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
}

TEST_F(Foreign_Recognizer, NoDictionaryNoName) {
  // foreign_dic not loaded: the handle -1 is passed on and finds nothing.
  const Segmented s = Segmented_Text(Run_Of(3, 0));
  int32_t end = kUntouched;
  EXPECT_FALSE(Found_As(Foreign_Recognize(s.View()), kLabel_Person, &end));
  EXPECT_EQ(fake::Lookup_Count("?"), 3);
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
}

TEST_F(Foreign_Recognizer, MalformedWordEnds) {
  const std::string text = Gb("克林顿");
  fake::Dictionary_Add("foreign_dic", Gb("克"), "");
  fake::Dictionary_Add("foreign_dic", Gb("林"), "");
  fake::Dictionary_Add("foreign_dic", Gb("顿"), "");
  struct Raw_Case {
    std::string why;
    std::vector<int32_t> ends;  // as given: no 0 is added
    bool result;
    int32_t end;
  };
  const std::vector<Raw_Case> cases = {
      {"well formed", {2, 4, 6, 0}, true, 6},
      {"no terminator", {2, 4, 6}, true, 6},
      {"entries after the terminator are not read", {2, 4, 0, 6, 0}, false, 0},
      {"a word of length 0 ends the run", {2, 2, 4, 6, 0}, false, 0},
      {"a falling entry ends the run", {2, 4, 2, 4, 6, 0}, false, 0},
      {"an entry past the text ends the run", {2, 4, 6, 8, 0}, true, 6},
      {"negative entries", {-2, 0}, false, 0},
      {"no entries at all", {}, false, 0},
  };
  for (const Raw_Case &c : cases) {
    std::vector<int16_t> tags(c.ends.size(), 0);
    const Word_View view{text.c_str(), text.size(), c.ends.data(), tags.data(), 0,
                         static_cast<int32_t>(c.ends.size())};
    int32_t end = kUntouched;
    EXPECT_EQ(Found_As(Foreign_Recognize(view), kLabel_Person, &end), c.result) << c.why;
    if (c.result) {
      EXPECT_EQ(end, c.end) << c.why;
    }
  }
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
  EXPECT_EQ(fake::Vornel().bad_releases, 0);
}

}  // namespace
