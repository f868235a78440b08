// Tesquin_Search_Essay through the fake services: the walk, the merge of
// person (21), place (22) and organisation (23) names into the caller's
// arrays, the result codes, and the caller's arrays never written beyond
// their `count` entries.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "api/essay.h"
#include "vornel/vornel.h"
#include "tesqsrch/tesqsrch.h"
#include "test_support.h"

namespace {

// Every dictionary is loaded (some hold no words), so every handle taken is
// a real one and its release counts.
class Essay : public Unit_Test {
 protected:
  void SetUp() override {
    Unit_Test::SetUp();
    Load_Dictionaries();
  }
  static void Load_Dictionaries() {
    for (const char *name : {"foreign_dic", "name_dic", "org_dic", "fund_dic", "place"})
      fake::Vornel().loaded.insert(name);
  }
  static void Reset_Services() {
    fake::Reset();
    Load_Dictionaries();
  }
};

struct Word {
  std::string utf8;
  int16_t tag;
};

// Joins the words into a GB2312 text and scripts the fake segmenter to cut it
// into exactly those words.
std::string Script(const std::vector<Word> &words) {
  std::string text;
  std::vector<int32_t> ends;
  std::vector<int16_t> tags;
  for (const Word &w : words) {
    text += Gb(w.utf8);
    ends.push_back(static_cast<int32_t>(text.size()));
    tags.push_back(w.tag);
  }
  fake::Segment(text, ends, tags);
  return text;
}

constexpr int32_t kGuardEntries = 4;
constexpr int32_t kUnwrittenEnd = 0x5A5A5A5A;
constexpr int16_t kUnwrittenTag = 0x5A5A;

struct Outcome {
  int32_t result = -1;
  std::vector<int32_t> ends;  // the words' ends, terminator excluded (result 0)
  std::vector<int16_t> tags;  // their tags
  std::vector<int32_t> raw_ends;  // the first `count` entries as left
  std::vector<int16_t> raw_tags;
};

// Runs the export with arrays of `count` entries followed by guard entries,
// checks that the guards are intact and no handle is left outstanding, and
// reads the words back up to the terminator.
Outcome Run_Essay(const std::string &text, int32_t count) {
  const size_t room = static_cast<size_t>(std::max(count, 0)) + kGuardEntries;
  std::vector<int32_t> ends(room, kUnwrittenEnd);
  std::vector<int16_t> tags(room, kUnwrittenTag);
  Outcome out;
  out.result = Tesquin_Search_Essay(text.c_str(), ends.data(), count, -1, 1, tags.data());
  const size_t used = room - kGuardEntries;
  for (size_t k = used; k < room; ++k) {
    EXPECT_EQ(ends[k], kUnwrittenEnd) << "word-end entry " << k << " written beyond count";
    EXPECT_EQ(tags[k], kUnwrittenTag) << "tag entry " << k << " written beyond count";
  }
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
  EXPECT_EQ(fake::Vornel().bad_releases, 0);
  out.raw_ends.assign(ends.begin(), ends.begin() + static_cast<std::ptrdiff_t>(used));
  out.raw_tags.assign(tags.begin(), tags.begin() + static_cast<std::ptrdiff_t>(used));
  if (out.result == 0) {
    size_t n = 0;
    while (n < used && ends[n] != 0) {
      out.ends.push_back(ends[n]);
      out.tags.push_back(tags[n]);
      ++n;
    }
    EXPECT_LT(n, used) << "word-end array not terminated";
  }
  return out;
}

Outcome Run_Essay(const std::string &text) { return Run_Essay(text, static_cast<int32_t>(text.size())); }

// The arrays as the fake segmenter alone fills them for `text`.
std::pair<std::vector<int32_t>, std::vector<int16_t>> Plain(const std::string &text, int32_t count) {
  std::vector<int32_t> ends(static_cast<size_t>(count) + kGuardEntries, kUnwrittenEnd);
  std::vector<int16_t> tags(static_cast<size_t>(count) + kGuardEntries, kUnwrittenTag);
  EXPECT_NE(KV_Word_Sect(text.c_str(), ends.data(), count, -1, 1, tags.data(), 2048, 0, 0, 0), 0);
  ends.resize(static_cast<size_t>(count));
  tags.resize(static_cast<size_t>(count));
  return {ends, tags};
}

struct Dictionary_Entry {
  std::string dictionary;
  std::string word_utf8;
  std::string info;
};

struct Merge_Case {
  std::string name;
  std::vector<Word> words;
  std::vector<Dictionary_Entry> entries;
  std::vector<int32_t> expected_ends;
  std::vector<int16_t> expected_tags;
};

TEST_F(Essay, NamesBecomeOneWordWithTheirTag) {
  const std::vector<Merge_Case> cases = {
      {"person of two one-character words at word 1",
       {{"看", 5}, {"张", 6}, {"伟", 7}, {"今天", 8}},
       {{"name_dic", "张", "x:0.9;"}, {"name_dic", "伟", "dm:0.5;"}},
       {2, 6, 10},
       {5, 21, 8}},
      {"place ending inside the second word, whose rest goes to the third",
       {{"北", 5}, {"京市", 6}, {"长江", 7}},
       {{"place", "北京", ""}},
       {4, 10},
       {22, 7}},
      {"person at word 0 and an organisation of three words at word 3",
       {{"张", 2}, {"伟", 3}, {"好", 4}, {"第", 5}, {"一", 6}, {"中", 7}},
       {{"name_dic", "张", "x:0.9;"},
        {"name_dic", "伟", "dm:0.5;"},
        {"org_dic", "第", "b:0.5;"},
        {"org_dic", "一", "i:0.6;"},
        {"org_dic", "中", "e:0.7;"}},
       {4, 6, 12},
       {21, 4, 23}},
      {"organisation tagged by the segmenter and a place, both merged",
       {{"他", 1}, {"在", 2}, {"人民银行", 23}, {"上", 3}, {"海", 4}, {"工作", 9}},
       {{"place", "上海", ""}},
       {2, 4, 12, 16, 20},
       {1, 2, 23, 22, 9}},
      {"odd-length place match ignored; the walk goes on at the next word",
       // "北京x" (5 bytes) is the longest place prefix at word 0 and is
       // ignored; "北京" is never tried after it. At word 1, "京xy上" (6
       // bytes) ends inside the last word, whose rest stays a word of its
       // own with the last word's tag.
       {{"北", 5}, {"京", 6}, {"xy", 7}, {"上海", 8}},
       {{"place", "北京x", ""}, {"place", "北京", ""}, {"place", "京xy上", ""}},
       {2, 8, 10},
       {5, 22, 8}},
      {"the next name begins at the word whose first bytes the previous one took",
       // 北京 takes 2 bytes of 京市; 市 joins 长; 长江 then cuts that word
       // at its old start, and 水 joins 好.
       {{"北", 5}, {"京市", 6}, {"长", 7}, {"江水", 8}, {"好", 9}},
       {{"place", "北京", ""}, {"place", "长江", ""}},
       {4, 6, 10, 14},
       {22, 7, 22, 9}},
      {"a one-word name tagged 21 by the segmenter is retagged in place",
       {{"欧阳修", 21}, {"说", 3}},
       {},
       {6, 8},
       {21, 3}},
  };
  for (const Merge_Case &c : cases) {
    SCOPED_TRACE(c.name);
    Reset_Services();
    for (const Dictionary_Entry &e : c.entries) fake::Dictionary_Add(e.dictionary, Gb(e.word_utf8), e.info);
    const Outcome out = Run_Essay(Script(c.words));
    ASSERT_EQ(out.result, 0);
    EXPECT_EQ(out.ends, c.expected_ends);
    EXPECT_EQ(out.tags, c.expected_tags);
  }
}

TEST_F(Essay, OddPlaceMatchStopsTheSearchForShorterPrefixes) {
  fake::Dictionary_Add("place", Gb("北京x"), "");
  fake::Dictionary_Add("place", Gb("北京"), "");
  const std::string text = Script({{"北", 5}, {"京", 6}, {"xy", 7}, {"上海", 8}});
  const Outcome out = Run_Essay(text);
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.ends, (std::vector<int32_t>{2, 4, 6, 10}));
  EXPECT_EQ(out.tags, (std::vector<int16_t>{5, 6, 7, 8}));
  for (const auto &lookup : fake::Vornel().lookups)
    if (lookup.first == "place") {
      EXPECT_NE(lookup.second, Gb("北京")) << "shorter prefix tried after a match";
    }
}

TEST_F(Essay, TextWithoutNamesComesBackAsSegmented) {
  const std::vector<std::pair<std::string, int32_t>> texts = {
      {Script({{"今天", 3}, {"天气", 4}, {"很", 5}, {"好", 6}, {"。", 41}}), 14},
      {Gb("一二三四五六七八"), 16},  // unscripted: one word per character
      {"abc", 4},                   // three one-byte words need four entries
      {"", 1},
  };
  for (const auto &t : texts) {
    SCOPED_TRACE(t.first);
    const auto plain = Plain(t.first, t.second);
    const Outcome out = Run_Essay(t.first, t.second);
    ASSERT_EQ(out.result, 0);
    EXPECT_EQ(out.raw_ends, plain.first);
    EXPECT_EQ(out.raw_tags, plain.second);
  }
}

TEST_F(Essay, ArraysLargerThanTheTextAreFine) {
  fake::Dictionary_Add("place", Gb("上海"), "");
  const std::string text = Script({{"去", 1}, {"上", 2}, {"海", 3}});
  const Outcome out = Run_Essay(text, 64);
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.ends, (std::vector<int32_t>{2, 6}));
  EXPECT_EQ(out.tags, (std::vector<int16_t>{1, 22}));
}

TEST_F(Essay, NullArgumentsAreRefusedWithNothingWritten) {
  std::vector<int32_t> ends(8, kUnwrittenEnd);
  std::vector<int16_t> tags(8, kUnwrittenTag);
  EXPECT_EQ(Tesquin_Search_Essay(nullptr, ends.data(), 8, -1, 1, tags.data()), 2);
  EXPECT_EQ(Tesquin_Search_Essay("abcd", nullptr, 8, -1, 1, tags.data()), 2);
  EXPECT_EQ(Tesquin_Search_Essay("abcd", ends.data(), 8, -1, 1, nullptr), 2);
  EXPECT_EQ(ends, std::vector<int32_t>(8, kUnwrittenEnd));
  EXPECT_EQ(tags, std::vector<int16_t>(8, kUnwrittenTag));
  EXPECT_EQ(fake::Vornel().segment_calls, 0);
}

TEST_F(Essay, SegmenterArgumentsPassThrough) {
  std::vector<int32_t> ends(16);
  std::vector<int16_t> tags(16);
  ASSERT_EQ(Tesquin_Search_Essay("abcd", ends.data(), 16, 7, -3, tags.data()), 0);
  EXPECT_EQ(fake::Vornel().last_segment_args, (std::vector<int32_t>{16, 7, -3, 2048, 0, 0, 0}));
}

struct Failure_Case {
  std::string name;
  int32_t count;
  bool fails;
  bool unterminated;
  std::vector<int32_t> scripted_ends;  // empty: unscripted
};

TEST_F(Essay, SegmenterFailureGivesOneLineAndResult1) {
  const std::string text = Gb("甲乙丙丁");  // 8 bytes
  const std::vector<Failure_Case> cases = {
      {"segmenter fails", 8, true, false, {}},
      {"count 0", 0, false, false, {}},
      {"negative count", -5, false, false, {}},
      {"arrays too small for the words and the terminator", 1, false, false, {}},
      {"no terminator within count entries", 4, false, true, {2, 4, 6, 8}},
      {"word ends that do not rise", 8, false, false, {2, 6, 4, 8}},
      {"a word of length 0", 8, false, false, {2, 2, 8}},
      {"a word end beyond the text", 8, false, false, {2, 4, 12}},
  };
  for (const Failure_Case &c : cases) {
    SCOPED_TRACE(c.name);
    Reset_Services();
    fake::Vornel().segment_fails = c.fails;
    fake::Vornel().segment_unterminated = c.unterminated;
    if (!c.scripted_ends.empty()) fake::Segment(text, c.scripted_ends, std::vector<int16_t>(c.scripted_ends.size(), 4));
    fake::Dictionary_Add("place", Gb("甲乙"), "");
    testing::internal::CaptureStdout();
    const Outcome out = Run_Essay(text, c.count);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "KV_Word_Sect Failed!\n");
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(fake::Lookup_Count("place"), 0) << "no walk after a failed segmentation";
  }
}

TEST_F(Essay, NothingIsPrintedOnSuccess) {
  testing::internal::CaptureStdout();
  EXPECT_EQ(Run_Essay(Gb("甲乙")).result, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(Essay, NameRunningPastTheLastWordEndKeepsTheArrayTerminated) {
  // The segmenter covered only the first two characters of the text.
  const std::string text = Gb("北京上海");
  fake::Segment(text, {2, 4}, {5, 6});
  fake::Dictionary_Add("place", text, "");
  const Outcome out = Run_Essay(text);
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.ends, (std::vector<int32_t>{8}));
  EXPECT_EQ(out.tags, (std::vector<int16_t>{22}));
  EXPECT_EQ(out.raw_ends[1], 0);
}

TEST_F(Essay, BytesLeftUncoveredBySegmenterAreNotExamined) {
  // The segmenter covered only 北京; 上海 lies past its last word. The
  // position of the terminator is not a word: no name is looked for there,
  // and the call does not record the same span until the list is full.
  const std::string text = Gb("北京上海");
  fake::Segment(text, {4}, {5});
  fake::Dictionary_Add("place", Gb("上海"), "");
  const Outcome out = Run_Essay(text);
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.ends, (std::vector<int32_t>{4}));
  EXPECT_EQ(out.tags, (std::vector<int16_t>{5}));
}

TEST_F(Essay, ManyNamesInALongText) {
  // Every other word is a place name: each merge must leave the later words
  // and the later names intact.
  std::vector<Word> words;
  std::vector<int32_t> expected_ends;
  std::vector<int16_t> expected_tags;
  fake::Dictionary_Add("place", Gb("上海"), "");
  int32_t end = 0;
  for (int k = 0; k < 50; ++k) {
    words.push_back({"上", 1});
    words.push_back({"海", 2});
    words.push_back({"和", 3});
    end += 4;
    expected_ends.push_back(end);
    expected_tags.push_back(22);
    end += 2;
    expected_ends.push_back(end);
    expected_tags.push_back(3);
  }
  const Outcome out = Run_Essay(Script(words));
  ASSERT_EQ(out.result, 0);
  EXPECT_EQ(out.ends, expected_ends);
  EXPECT_EQ(out.tags, expected_tags);
}

// --- the pieces -----------------------------------------------------------------

// A segmentation held as the segmenter leaves it: arrays of one entry per
// byte of the text (at least the words and the terminator), count = that size.
struct Segmentation_For_Test {
  std::string text;
  std::vector<int32_t> ends;
  std::vector<int16_t> tags;
  int32_t words = 0;
  Essay_Text Essay() const {
    return Essay_Text{text.c_str(), text.size(), ends.data(), tags.data(), words, static_cast<int32_t>(ends.size())};
  }
};

Segmentation_For_Test Segmented(const std::vector<Word> &words) {
  Segmentation_For_Test s;
  for (const Word &w : words) {
    s.text += Gb(w.utf8);
    s.ends.push_back(static_cast<int32_t>(s.text.size()));
    s.tags.push_back(w.tag);
  }
  s.words = static_cast<int32_t>(words.size());
  s.ends.resize(std::max(s.text.size(), s.ends.size() + 1), 0);
  s.tags.resize(s.ends.size(), 0);
  return s;
}

TEST_F(Essay, ClassifySpanGivesTheLabelAndTheLength) {
  // Word 2 begins an organisation (tag 23, 3 characters); word 0 a place.
  fake::Dictionary_Add("place", Gb("江苏"), "");
  const Segmentation_For_Test s = Segmented({{"江", 1}, {"苏", 2}, {"人民银行", 23}});
  const Found_Name organisation = Essay_Classify_Span(s.Essay(), 2);
  EXPECT_EQ(organisation.label, &kLabel_Organisation);
  EXPECT_EQ(organisation.end, 8);
  const Found_Name place = Essay_Classify_Span(s.Essay(), 0);
  EXPECT_EQ(place.label, &kLabel_Place);
  EXPECT_EQ(place.end, 4);
  EXPECT_FALSE(Essay_Classify_Span(s.Essay(), 1));
}

TEST_F(Essay, ClassifySpanRecognisersAreAskedInOrder) {
  // A word that is an organisation by its tag and also begins a place: the
  // organisation wins; the place dictionary is not consulted.
  fake::Dictionary_Add("place", Gb("人民"), "");
  const Segmentation_For_Test s = Segmented({{"人民银行", 23}, {"好", 1}});
  EXPECT_EQ(Essay_Classify_Span(s.Essay(), 0).label, &kLabel_Organisation);
  EXPECT_EQ(fake::Lookup_Count("place"), 0);
}

TEST_F(Essay, SpanListFullGives4AndRecordsNoMore) {
  fake::Dictionary_Add("place", Gb("上海"), "");
  fake::Dictionary_Add("place", Gb("北京"), "");
  const Segmentation_For_Test s = Segmented({{"上海", 1}, {"和", 2}, {"北京", 3}});
  std::vector<Essay_Span> spans;
  EXPECT_EQ(Essay_Collect_Spans(s.Essay(), 1, &spans), 4);
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_EQ(spans[0].start, 0);
  EXPECT_EQ(spans[0].end, 4);

  spans.clear();
  EXPECT_EQ(Essay_Collect_Spans(s.Essay(), 2, &spans), 0);
  ASSERT_EQ(spans.size(), 2u);
  EXPECT_EQ(spans[1].start, 6);
  EXPECT_EQ(spans[1].end, 10);
  EXPECT_EQ(spans[0].label, &kLabel_Place);
  EXPECT_EQ(spans[1].label, &kLabel_Place);
}

TEST_F(Essay, TheWalkStopsAtAWordEndingAtCount) {
  // Word ends at or beyond count end the walk, as the terminator does.
  fake::Dictionary_Add("place", Gb("北京"), "");
  Segmentation_For_Test s = Segmented({{"上", 1}, {"北京", 2}});
  Essay_Text essay = s.Essay();
  essay.count = 2;  // the end of word 0 is count: word 1 is never examined
  std::vector<Essay_Span> spans;
  EXPECT_EQ(Essay_Collect_Spans(essay, 8, &spans), 0);
  EXPECT_TRUE(spans.empty());
}

struct Find_Step {
  int32_t offset;
  int32_t expected_index;
};

struct Find_Case {
  std::string name;
  std::vector<int32_t> ends;
  std::vector<Find_Step> steps;
  std::vector<int32_t> expected_ends;  // the words in use afterwards
  std::vector<int16_t> expected_tags;
};

TEST_F(Essay, FindWordCutsAtTheOffset) {
  const std::vector<Find_Case> cases = {
      {"offset 0 is the boundary before word 0", {2, 6, 10}, {{0, -1}}, {2, 6, 10}, {1, 2, 3}},
      {"existing ends change nothing", {2, 6, 10}, {{2, 0}, {6, 1}, {10, 2}}, {2, 6, 10}, {1, 2, 3}},
      {"an offset inside a word cuts it; the next word takes the rest", {2, 6, 10}, {{4, 1}}, {2, 4, 10},
       {1, 2, 3}},
      {"an offset inside the last word leaves the rest a word with its tag", {2, 6, 10}, {{8, 2}},
       {2, 6, 8, 10}, {1, 2, 3, 3}},
      {"an offset beyond the last end finds no word", {2, 6, 10}, {{12, kNoWord}}, {2, 6, 10}, {1, 2, 3}},
      {"offsets in order resume the search", {2, 4, 6, 8}, {{3, 1}, {5, 2}, {8, 3}}, {2, 3, 5, 8}, {1, 2, 3, 4}},
  };
  for (const Find_Case &c : cases) {
    SCOPED_TRACE(c.name);
    Essay_Words words;
    words.ends = c.ends;
    for (size_t k = 0; k < c.ends.size(); ++k) words.tags.push_back(static_cast<int16_t>(k + 1));
    for (const Find_Step &step : c.steps) EXPECT_EQ(Essay_Find_Word(words, step.offset), step.expected_index);
    EXPECT_EQ(words.ends, c.expected_ends);
    EXPECT_EQ(words.tags, c.expected_tags);
  }
}

TEST_F(Essay, FindWordAfterAJoinCountsTheMergedWords) {
  Essay_Words words;
  words.ends = {2, 4, 6, 8, 10, 12};
  words.tags = {1, 2, 3, 4, 5, 6};
  Essay_Join_Words(words, -1, Essay_Find_Word(words, 4), 21);  // words 0, 1
  EXPECT_EQ(Essay_Find_Word(words, 4), 0) << "the merged word ends at 4";
  const int32_t a = Essay_Find_Word(words, 6);
  EXPECT_EQ(a, 1);
  const int32_t b = Essay_Find_Word(words, 12);
  EXPECT_EQ(b, 4) << "words in use: 4 (merged), 6, 8, 10, 12";
  Essay_Join_Words(words, a, b, 23);
  words.ends.erase(words.ends.begin() + static_cast<std::ptrdiff_t>(words.settled),
                   words.ends.begin() + static_cast<std::ptrdiff_t>(words.next));
  EXPECT_EQ(words.ends, (std::vector<int32_t>{4, 6, 12}));
}

TEST_F(Essay, MergeLeavesTheArraysWhenTheResultWouldNotFit) {
  // A one-byte name cutting a two-byte last word needs a third entry.
  std::vector<int32_t> ends = {2, 0};
  std::vector<int16_t> tags = {7, 9};
  EXPECT_FALSE(Essay_Merge({{0, 1, &kLabel_Person}}, ends.data(), tags.data(), 1, 2));
  EXPECT_EQ(ends, (std::vector<int32_t>{2, 0}));
  EXPECT_EQ(tags, (std::vector<int16_t>{7, 9}));

  ends = {2, 0, 77};
  tags = {7, 9, 77};
  EXPECT_TRUE(Essay_Merge({{0, 1, &kLabel_Person}}, ends.data(), tags.data(), 1, 3));
  EXPECT_EQ(ends, (std::vector<int32_t>{1, 2, 0}));
  EXPECT_EQ(tags, (std::vector<int16_t>{21, 7, 9}));
}

TEST_F(Essay, MergeIgnoresEmptySpansAndLabelsWithoutATag) {
  std::vector<int32_t> ends = {2, 4, 6, 0};
  std::vector<int16_t> tags = {1, 2, 3, 0};
  EXPECT_TRUE(Essay_Merge({{2, 2, &kLabel_Person}, {2, 4, &kLabel_Full_Text}, {4, 6, &kLabel_Place}}, ends.data(),
                          tags.data(), 3, 4));
  EXPECT_EQ(ends, (std::vector<int32_t>{2, 4, 6, 0}));
  EXPECT_EQ(tags, (std::vector<int16_t>{1, 2, 22, 0}));
}

TEST_F(Essay, MergedNamesAreTaggedByTheirLabel) {
  std::vector<int32_t> ends = {2, 4, 6, 8, 10, 0};
  std::vector<int16_t> tags = {1, 2, 3, 4, 5, 0};
  EXPECT_TRUE(Essay_Merge({{0, 2, &kLabel_Person}, {2, 4, &kLabel_Place}, {4, 6, &kLabel_Organisation},
                           {6, 8, &kLabel_Fund}},
                          ends.data(), tags.data(), 5, 6));
  EXPECT_EQ(ends, (std::vector<int32_t>{2, 4, 6, 8, 10, 0}));
  EXPECT_EQ(tags, (std::vector<int16_t>{21, 22, 23, 4, 5, 0}));
}

TEST_F(Essay, WordCountChecksTheSegmentation) {
  const std::vector<int32_t> good = {2, 4, 0, 9};
  EXPECT_EQ(Essay_Word_Count(good.data(), 4, 4), 2);
  EXPECT_EQ(Essay_Word_Count(good.data(), 3, 4), 2);
  EXPECT_EQ(Essay_Word_Count(good.data(), 2, 4), -1) << "terminator beyond count";
  EXPECT_EQ(Essay_Word_Count(good.data(), 4, 3), -1) << "word beyond the text";
  EXPECT_EQ(Essay_Word_Count(good.data(), 0, 4), -1);
  const std::vector<int32_t> empty = {0};
  EXPECT_EQ(Essay_Word_Count(empty.data(), 1, 0), 0);
  const std::vector<int32_t> negative = {2, -1, 0};
  EXPECT_EQ(Essay_Word_Count(negative.data(), 3, 4), -1);
}

}  // namespace
