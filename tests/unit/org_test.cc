// Org_Recognize: the segmenter's tag 23, the statistical test with its
// let-through words, thresholds at their exact values, and where the end
// offset points on every path.
#include <numeric>
#include <string>
#include <utility>
#include <vector>

#include "ner/ner.h"
#include "ner_test_support.h"
#include "test_support.h"

namespace {

using Org_Recognizer = Unit_Test;

constexpr int32_t kUntouched = -7;

using Org_Case = Recogniser_Case;

void Org_Cases_Run(const std::vector<Org_Case> &cases) {
  Recogniser_Cases_Run({Org_Recognize, kLabel_Organisation, "org_dic"}, cases);
}

TEST_F(Org_Recognizer, SegmenterTagAndFirstWord) {
  const std::string beida = Gb("北京大学"), yanjiu = Gb("研究所"), di = Gb("第"), zhang = Gb("张");
  const std::string suo = Gb("所"), w128 = Repeat(Gb("院"), 64), w127 = Repeat(Gb("院"), 63) + "a";
  const Entries closing = {{yanjiu, "e:0.6;"}};
  auto with = [&](Entries extra) {
    extra.insert(extra.end(), closing.begin(), closing.end());
    return extra;
  };
  Org_Cases_Run({
      {"6 bytes tagged 23, no entry", {{Gb("中科院"), 23}}, {}, true, 6, 1},
      {"tagged 23 then a statistical name", {{beida, 23}, {Gb("物理"), 0}, {yanjiu, 0}},
       with({{beida, "b:0.5;"}, {Gb("物理"), "i:0.5;"}}), true, 18, 5},
      {"tagged 23, statistics fail", {{beida, 23}, {Gb("的"), 0}}, {{beida, "b:0.5;"}}, true, 8, 3},
      {"2 bytes tagged 23 sets no flag", {{suo, 23}, {yanjiu, 0}}, closing, false, 2, 1},
      {"128 bytes tagged 23", {{w128, 23}, {yanjiu, 0}}, with({{w128, "b:0.9;"}}), false, kUntouched, 0},
      {"127 bytes is tested", {{w127, 0}, {yanjiu, 0}}, with({{w127, "b:0.9;"}}), true, 133, 3},
      {"第 passes the first-word test", {{di, 0}, {yanjiu, 0}}, with({{di, "b:0.5;"}}), true, 8, 3},
      {"another character fails it", {{zhang, 0}, {yanjiu, 0}}, with({{zhang, "b:0.9;"}}), false, 2, 1},
      {"one byte", {{"a", 23}, {yanjiu, 0}}, with({{"a", "b:0.9;"}}), false, 1, 1},
      {"b exactly 0.1", {{beida, 0}, {yanjiu, 0}}, with({{beida, "b:0.1;"}}), false, 4 * 2, 1},
      {"b just above 0.1", {{beida, 0}, {yanjiu, 0}}, with({{beida, "b:0.1000001;"}}), true, 14, 3},
      {"first word without b", {{beida, 0}, {yanjiu, 0}}, with({{beida, "i:0.9;e:0.9;"}}), false, 8, 1},
      {"tag 36 passes", {{beida, 36}, {yanjiu, 0}}, with({{beida, "b:0.5;"}}), true, 14, 3},
      {"tag 37 fails", {{beida, 37}, {yanjiu, 0}}, with({{beida, "b:0.5;"}}), false, 8, 1},
      {"tag 38 fails", {{beida, 38}, {yanjiu, 0}}, with({{beida, "b:0.5;"}}), false, 8, 1},
      {"tag 39 fails", {{beida, 39}, {yanjiu, 0}}, with({{beida, "b:0.5;"}}), false, 8, 1},
      {"tag 40 fails", {{beida, 40}, {yanjiu, 0}}, with({{beida, "b:0.5;"}}), false, 8, 1},
      {"tag 41 passes", {{beida, 41}, {yanjiu, 0}}, with({{beida, "b:0.5;"}}), true, 14, 3},
      {"first word alone", {{beida, 0}}, {{beida, "b:0.9;"}}, false, 8, 1},
      {"first word alone, tagged 23", {{beida, 23}}, {{beida, "b:0.9;"}}, true, 8, 1},
  });
}

TEST_F(Org_Recognizer, WalkAndLetThroughWords) {
  const std::string beida = Gb("北京大学"), wuli = Gb("物理"), yanjiu = Gb("研究所"), di = Gb("第");
  const std::string yi = Gb("一"), er = Gb("二"), fen = Gb("分"), dun = Gb("、"), he = Gb("和");
  const std::string none = Gb("无值"), w128 = Repeat(Gb("院"), 64), w129 = Repeat(Gb("院"), 64) + "a";
  const Entries base = {{beida, "b:0.5;"}, {di, "b:0.5;"}, {wuli, "i:0.5;e:0.1;"}, {yanjiu, "e:0.6;"}};
  // The base entries, then `extra`, which may replace some of them.
  auto with = [&](const Entries &extra) {
    Entries all = base;
    all.insert(all.end(), extra.begin(), extra.end());
    return all;
  };
  Org_Cases_Run({
      {"inner words then a closing word; nothing after it is looked at",
       {{beida, 0}, {wuli, 0}, {yanjiu, 0}, {wuli, 0}}, base, true, 18, 5},
      // Let through with 1.0: (1.0 + 0.1) / 2 = 0.55. Were it worth nothing,
      // the average would be 0.05.
      {"tag 18 right after the first word", {{beida, 0}, {yi, 18}, {fen, 0}}, with({{fen, "e:0.1;"}}), true, 12,
       5},
      {"tag 18 after 第", {{beida, 0}, {wuli, 0}, {di, 0}, {er, 18}, {yanjiu, 0}},
       with({{di, "i:0.5;"}, {er, "e:0.1;"}}), true, 22, 9},
      {"tag 18 elsewhere fails", {{beida, 23}, {wuli, 0}, {er, 18}, {yanjiu, 0}}, base, true, 8, 5},
      {"tag 18 elsewhere fails, untagged", {{beida, 0}, {wuli, 0}, {er, 18}, {yanjiu, 0}}, base, false, 8, 5},
      {"tag 18 with a greater inner value is an inner word", {{beida, 0}, {wuli, 0}, {er, 18}, {yanjiu, 0}},
       with({{er, "i:0.9;e:0.1;"}}), true, 20, 7},
      {"第 as first word, then tag 18", {{di, 0}, {er, 18}, {yanjiu, 0}}, base, true, 10, 5},
      {"stop character 、 as an inner word", {{beida, 23}, {wuli, 0}, {dun, 0}, {yanjiu, 0}},
       with({{dun, "i:0.9;"}}), true, 8, 5},
      {"stop character 和, untagged", {{beida, 0}, {he, 0}, {yanjiu, 0}}, with({{he, "i:0.9;"}}), false, 8, 3},
      {"stop character that closes", {{beida, 0}, {he, 0}}, with({{he, "e:0.9;"}}), true, 10, 3},
      {"word without values fails", {{beida, 0}, {wuli, 0}, {none, 0}, {yanjiu, 0}}, base, false, 8, 5},
      {"word without values, tagged 23 first", {{beida, 23}, {none, 0}}, base, true, 8, 3},
      {"average exactly 0.4", {{beida, 0}, {yanjiu, 0}}, {{beida, "b:0.5;"}, {yanjiu, "e:0.4;"}}, false, 8, 3},
      {"average exactly 0.4, tagged 23", {{beida, 23}, {yanjiu, 0}}, {{beida, "b:0.5;"}, {yanjiu, "e:0.4;"}},
       true, 8, 3},
      {"average just above 0.4", {{beida, 0}, {yanjiu, 0}}, {{beida, "b:0.5;"}, {yanjiu, "e:0.41;"}}, true, 14,
       3},
      {"inner words to the end", {{beida, 0}, {wuli, 0}, {wuli, 0}}, base, true, 16, 5},
      {"following word of 128 bytes is looked up", {{beida, 0}, {w128, 0}}, with({{w128, "e:0.9;"}}), true, 136,
       3},
      {"following word of 129 bytes", {{beida, 0}, {wuli, 0}, {w129, 0}}, with({{w129, "e:0.9;"}}), false, 8,
       3},
  });
}

TEST_F(Org_Recognizer, LookupOrder) {
  const std::string beida = Gb("北京大学"), wuli = Gb("物理"), yanjiu = Gb("研究所");
  fake::Dictionary_Add("org_dic", beida, "b:0.5;");
  fake::Dictionary_Add("org_dic", wuli, "i:0.5;");
  fake::Dictionary_Add("org_dic", yanjiu, "e:0.6;");
  const Segmented s = Segmented_Text({{beida, 0}, {wuli, 0}, {yanjiu, 0}});
  int32_t end = 0;
  ASSERT_TRUE(Found_As(Org_Recognize(s.View()), kLabel_Organisation, &end));
  EXPECT_EQ(end, 18);
  using L = std::pair<std::string, std::string>;
  EXPECT_EQ(fake::Vornel().lookups, (std::vector<L>{{"org_dic", beida}, {"org_dic", wuli}, {"org_dic", wuli},
                                                    {"org_dic", yanjiu}, {"org_dic", yanjiu}}));
}

TEST_F(Org_Recognizer, MalformedWordEnds) {
  const std::string text = Gb("北京大学物理研究所");  // 18 bytes
  fake::Dictionary_Add("org_dic", Gb("北京大学"), "b:0.5;");
  fake::Dictionary_Add("org_dic", Gb("物理"), "i:0.5;");
  fake::Dictionary_Add("org_dic", Gb("研究所"), "e:0.6;");
  struct Raw_Case {
    std::string why;
    std::vector<int32_t> ends;  // as given: no 0 is added
    std::vector<int16_t> tags;
    bool result;
    int32_t end;
  };
  const std::vector<Raw_Case> cases = {
      {"well formed", {8, 12, 18, 0}, {0, 0, 0, 0}, true, 18},
      {"no terminator", {8, 12}, {0, 0}, true, 12},
      {"entries after the terminator are not read", {8, 12, 0, 18, 0}, {0, 0, 0, 0, 0}, true, 12},
      {"a word of length 0 ends the walk", {8, 12, 12, 18, 0}, {0, 0, 0, 0, 0}, true, 12},
      {"a falling entry ends the walk", {8, 12, 10, 0}, {0, 0, 0, 0}, true, 12},
      {"an entry past the text", {8, 12, 99, 0}, {0, 0, 0, 0}, true, 12},
      {"empty first word, tagged 23", {0, 8, 0}, {23, 0, 0}, false, kUntouched},
      {"first word past the text, tagged 23", {30, 0}, {23, 0}, false, kUntouched},
      {"no entries at all", {}, {}, false, kUntouched},
  };
  for (const Raw_Case &c : cases) {
    const Word_View view{text.c_str(), text.size(), c.ends.data(), c.tags.data(), 0,
                         static_cast<int32_t>(c.ends.size())};
    int32_t end = kUntouched;
    EXPECT_EQ(Found_As(Org_Recognize(view), kLabel_Organisation, &end), c.result) << c.why;
    if (c.result) {
      EXPECT_EQ(end, c.end) << c.why;
    }
  }
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
}


// Every word of `s` asked with and without one memo: the answers and ends
// must agree. Returns the org_dic lookups the memoised calls made.
size_t Ask_At_Every_Word(const Segmented &s) {
  Org_Walk_Memo memo;
  const std::vector<size_t> lookups =
      Memo_Lookups_At_Every_Word(s, Org_Recognize, [&memo](Word_View *view) { view->org_memo = &memo; });
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
  return std::accumulate(lookups.begin(), lookups.end(), size_t{0});
}

TEST_F(Org_Recognizer, TheWalkMemoGivesTheAnswersOfAPlainWalkAtEveryWord) {
  // A vocabulary with every kind of following word: inner words (averages
  // landing on, above and below 0.4), closing words, tag 18 words after 第
  // and elsewhere, stop characters, words without values, tag 23 words;
  // shuffled into a long text by a fixed generator.
  const std::vector<std::pair<Tagged_Word, std::string>> vocabulary = {
      {{Gb("北京大学"), 0}, "b:0.5;i:0.4;"},  {{Gb("中国"), 0}, "b:0.3;i:0.4;e:0.1;"},
      {{Gb("物理"), 0}, "i:0.5;e:0.1;"},     {{Gb("研究"), 0}, "i:0.3;"},
      {{Gb("研究所"), 0}, "e:0.6;"},         {{Gb("学院"), 0}, "i:0.2;e:0.4;"},
      {{Gb("第"), 0}, "b:0.5;i:0.4;"},       {{Gb("二"), 18}, ""},
      {{Gb("三"), 18}, "e:0.1;"},            {{Gb("和"), 0}, "i:0.9;"},
      {{Gb("无值"), 0}, ""},                 {{Gb("中科院"), 23}, "b:0.2;i:0.45;"},
      {{Gb("分院"), 0}, "i:0.4;e:0.4;"},     {{Gb("人民"), 0}, "b:0.2;i:0.7;"},
  };
  for (const auto &entry : vocabulary)
    if (!entry.second.empty()) fake::Dictionary_Add("org_dic", entry.first.text, entry.second);
  uint32_t state = 12345;
  for (const size_t words : {40, 400}) {
    std::vector<Tagged_Word> text;
    for (size_t n = 0; n < words; ++n) {
      state = state * 1103515245u + 12345u;
      // Mostly inner words, so that walks run long and overlap.
      const size_t pick = (state >> 16) % 4 == 0 ? (state >> 8) % vocabulary.size() : (state >> 8) % 2 == 0 ? 1 : 13;
      text.push_back(vocabulary[pick].first);
    }
    Ask_At_Every_Word(Segmented_Text(text));
  }
}

TEST_F(Org_Recognizer, AWalkTooCloseToTheThresholdIsSummedWordByWord) {
  // Inner words of exactly 0.4: every average lies within rounding of the
  // threshold, so each answer comes from the word-by-word sum, as the plain
  // walk's does; and a run of 0.1 + 0.7 pairs averages exactly 0.4 in exact
  // arithmetic.
  fake::Dictionary_Add("org_dic", Gb("北京"), "b:0.5;i:0.4;");
  fake::Dictionary_Add("org_dic", Gb("大学"), "i:0.1;");
  fake::Dictionary_Add("org_dic", Gb("人民"), "b:0.5;i:0.7;");
  fake::Dictionary_Add("org_dic", Gb("学院"), "e:0.4;");
  std::vector<Tagged_Word> fours(200, Tagged_Word{Gb("北京"), 0});
  fours.push_back({Gb("学院"), 0});
  Ask_At_Every_Word(Segmented_Text(fours));
  std::vector<Tagged_Word> pairs;
  for (int n = 0; n < 100; ++n) {
    pairs.push_back({Gb("大学"), 0});
    pairs.push_back({Gb("人民"), 0});
  }
  Ask_At_Every_Word(Segmented_Text(pairs));
}

TEST_F(Org_Recognizer, RepeatedInnerWordsAreLookedUpOncePerEssay) {
  // 中国 repeated: a likely beginning and an inner word, so the plain walk
  // from every word runs to the end of the text. With the memo each word is
  // looked up a bounded number of times, however long the text.
  fake::Dictionary_Add("org_dic", Gb("中国"), "b:0.3;i:0.35;e:0.1;");
  const size_t words = 1000;
  const size_t lookups = Ask_At_Every_Word(Segmented_Text(std::vector<Tagged_Word>(words, {Gb("中国"), 0})));
  EXPECT_LE(lookups, 7 * words);
}

}  // namespace
