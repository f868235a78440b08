// Fund_Recognize: first-part test, the walk over the following words, the
// thresholds at their exact values, opening marks and malformed arrays.
#include <string>
#include <utility>
#include <vector>

#include "ner/ner.h"
#include "ner_test_support.h"
#include "test_support.h"

namespace {

using Fund_Recognizer = Unit_Test;

using Fund_Case = Recogniser_Case;

void Fund_Cases_Run(const std::vector<Fund_Case> &cases) {
  Recogniser_Cases_Run({Fund_Recognize, kLabel_Fund, "fund_dic"}, cases);
}

TEST_F(Fund_Recognizer, FirstPartTest) {
  const std::string guojia = Gb("国家"), jijin = Gb("基金"), zhang = Gb("张");
  const std::string w127 = Repeat(Gb("国"), 63) + "a";
  const std::string w128 = Repeat(Gb("国"), 64);
  const Entries closing = {{jijin, "e:0.5;"}};
  auto with = [&](Entries extra) {
    extra.insert(extra.end(), closing.begin(), closing.end());
    return extra;
  };
  Fund_Cases_Run({
      {"first word of 128 bytes: no lookup", {{w128, 0}, {jijin, 0}}, with({{w128, "b:0.9;"}}), false, 0, 0},
      {"first word of 127 bytes is tested", {{w127, 0}, {jijin, 0}}, with({{w127, "b:0.9;"}}), true, 131, 3},
      {"one character fails even when likely", {{zhang, 0}, {jijin, 0}}, with({{zhang, "b:0.9;"}}), false, 0, 1},
      {"b exactly 0.1 fails", {{guojia, 0}, {jijin, 0}}, with({{guojia, "b:0.1;"}}), false, 0, 1},
      {"b just above 0.1 passes", {{guojia, 0}, {jijin, 0}}, with({{guojia, "b:0.1000001;"}}), true, 8, 3},
      {"found without b", {{guojia, 0}, {jijin, 0}}, with({{guojia, "i:0.9;e:0.9;"}}), false, 0, 1},
      {"absent first word", {{guojia, 0}, {jijin, 0}}, closing, false, 0, 1},
      {"tag 36 passes", {{guojia, 36}, {jijin, 0}}, with({{guojia, "b:0.5;"}}), true, 8, 3},
      {"tag 37 fails", {{guojia, 37}, {jijin, 0}}, with({{guojia, "b:0.5;"}}), false, 0, 1},
      {"tag 38 fails", {{guojia, 38}, {jijin, 0}}, with({{guojia, "b:0.5;"}}), false, 0, 1},
      {"tag 39 fails", {{guojia, 39}, {jijin, 0}}, with({{guojia, "b:0.5;"}}), false, 0, 1},
      {"tag 40 fails", {{guojia, 40}, {jijin, 0}}, with({{guojia, "b:0.5;"}}), false, 0, 1},
      {"tag 41 passes", {{guojia, 41}, {jijin, 0}}, with({{guojia, "b:0.5;"}}), true, 8, 3},
      {"十五 with no entry", {{Gb("十五"), 0}, {jijin, 0}}, closing, true, 8, 3},
      {"十一 with no entry, tag 37", {{Gb("十一"), 37}, {jijin, 0}}, closing, true, 8, 3},
      {"十五 with tag 40", {{Gb("十五"), 40}, {jijin, 0}}, closing, true, 8, 3},
      {"十五 alone", {{Gb("十五"), 0}}, {}, false, 0, 1},
      {"first part alone", {{guojia, 0}}, {{guojia, "b:0.9;"}}, false, 0, 1},
  });
}

TEST_F(Fund_Recognizer, OpeningMarks) {
  const std::string guojia = Gb("国家"), jijin = Gb("基金");
  const Entries dic = {{guojia, "b:0.5;"}, {jijin, "e:0.5;"}};
  const std::string w127 = Repeat(Gb("国"), 63) + "a";
  const std::string w128 = Repeat(Gb("国"), 64);
  Fund_Cases_Run({
      {"quotation mark", {{"\"", 0}, {guojia, 0}, {jijin, 0}}, dic, true, 9, 3},
      {"left parenthesis", {{"(", 0}, {guojia, 0}, {jijin, 0}}, dic, true, 9, 3},
      {"“", {{Gb("“"), 0}, {guojia, 0}, {jijin, 0}}, dic, true, 10, 3},
      {"《", {{Gb("《"), 37}, {guojia, 0}, {jijin, 0}}, dic, true, 10, 3},
      {"（", {{Gb("（"), 0}, {guojia, 0}, {jijin, 0}}, dic, true, 10, 3},
      {"the second word's own tag", {{Gb("《"), 0}, {guojia, 38}, {jijin, 0}}, dic, false, 0, 1},
      {"other marks are first words", {{Gb("【"), 0}, {guojia, 0}, {jijin, 0}}, dic, false, 0, 1},
      {"two-byte ASCII is no mark", {{"((", 0}, {guojia, 0}, {jijin, 0}}, dic, false, 0, 1},
      {"mark alone", {{Gb("《"), 0}}, dic, false, 0, 0},
      {"one-byte mark alone", {{"\"", 0}}, dic, false, 0, 0},
      {"mark before a word of 128 bytes", {{Gb("《"), 0}, {w128, 0}, {jijin, 0}},
       {{w128, "b:0.9;"}, {jijin, "e:0.5;"}}, false, 0, 0},
      {"mark before a word of 127 bytes", {{Gb("《"), 0}, {w127, 0}, {jijin, 0}},
       {{w127, "b:0.9;"}, {jijin, "e:0.5;"}}, true, 133, 3},
      {"十五 after a mark", {{"(", 0}, {Gb("十五"), 0}, {jijin, 0}}, dic, true, 9, 3},
  });
}

TEST_F(Fund_Recognizer, WalkOverTheFollowingWords) {
  const std::string guojia = Gb("国家"), ziran = Gb("自然"), kexue = Gb("科学"), jijin = Gb("基金");
  const std::string wei = Gb("委员会"), he = Gb("和"), de = Gb("的"), xiangmu = Gb("项目"), none = Gb("无值");
  const std::string w128 = Repeat(Gb("研"), 64), w129 = Repeat(Gb("研"), 64) + "a";
  const Entries base = {{guojia, "b:0.5;"}, {ziran, "i:0.6;e:0.1;"}, {kexue, "i:0.5;"},
                        {jijin, "i:0.1;e:0.7;"}, {wei, "i:0.9;e:0.1;"}};
  auto with = [&](Entries extra) {
    extra.insert(extra.end(), base.begin(), base.end());
    return extra;
  };
  // The first part and three inner words, then `tail`.
  auto inner3 = [&](std::vector<Tagged_Word> tail) {
    std::vector<Tagged_Word> words = {{guojia, 0}, {ziran, 0}, {kexue, 0}, {ziran, 0}};
    words.insert(words.end(), tail.begin(), tail.end());
    return words;
  };
  Fund_Cases_Run({
      {"inner words then a closing word; nothing after it is looked at",
       {{guojia, 0}, {ziran, 0}, {kexue, 0}, {jijin, 0}, {wei, 0}, {xiangmu, 0}}, base, true, 16, 7},
      {"closing word first", {{guojia, 0}, {jijin, 0}, {ziran, 0}}, base, true, 8, 3},
      {"equal inner and end values close", {{guojia, 0}, {xiangmu, 0}, {ziran, 0}},
       with({{xiangmu, "i:0.5;e:0.5;"}}), true, 8, 3},
      {"stop character as an inner word", {{guojia, 0}, {ziran, 0}, {he, 0}, {jijin, 0}},
       with({{he, "i:0.9;e:0.1;"}}), false, 0, 5},
      {"的 as an inner word", {{guojia, 0}, {de, 0}, {jijin, 0}}, with({{de, "i:0.9;"}}), false, 0, 3},
      {"stop character that closes", {{guojia, 0}, {ziran, 0}, {he, 0}, {jijin, 0}},
       with({{he, "i:0.1;e:0.9;"}}), true, 10, 5},
      {"stop character inside a longer word is no stop", {{guojia, 0}, {Gb("和平"), 0}, {jijin, 0}},
       with({{Gb("和平"), "i:0.9;"}}), true, 12, 5},
      {"no statistics as first following word", {{guojia, 0}, {none, 0}}, base, false, 0, 3},
      {"no statistics as second following word", {{guojia, 0}, {ziran, 0}, {none, 0}}, base, false, 0, 5},
      {"no statistics as third following word", {{guojia, 0}, {ziran, 0}, {kexue, 0}, {none, 0}}, base, false,
       0, 7},
      {"no statistics as fourth following word", inner3({{none, 0}}), base, false, 0, 9},
      // After four inner words of 0.5 the ratio 4/5 is not below 0.8: the word
      // joins the name and the average is over the four alone (2.0 / 4; over
      // five words it would be exactly 0.4 and fail).
      {"no statistics as fifth following word", inner3({{ziran, 0}, {none, 0}, {jijin, 0}}),
       {{guojia, "b:0.5;"}, {ziran, "i:0.5;"}, {kexue, "i:0.5;"}, {jijin, "e:0.9;"}}, true, 24, 11},
      {"average exactly 0.4 fails", {{guojia, 0}, {jijin, 0}}, {{guojia, "b:0.5;"}, {jijin, "e:0.4;"}},
       false, 0, 3},
      {"average just above 0.4", {{guojia, 0}, {jijin, 0}}, {{guojia, "b:0.5;"}, {jijin, "e:0.41;"}}, true, 8,
       3},
      {"inner words to the end, strong", {{guojia, 0}, {ziran, 0}, {kexue, 0}}, base, true, 12, 5},
      {"inner words to the end, weak", {{guojia, 0}, {ziran, 0}, {kexue, 0}},
       {{guojia, "b:0.5;"}, {ziran, "i:0.4;"}, {kexue, "i:0.4;"}}, false, 0, 5},
      {"following word of 128 bytes is looked up", {{guojia, 0}, {w128, 0}}, with({{w128, "e:0.9;"}}), true,
       132, 3},
      {"following word of 129 bytes", {{guojia, 0}, {ziran, 0}, {w129, 0}}, with({{w129, "e:0.9;"}}), false, 0,
       3},
      {"tags are not looked at in the walk", {{guojia, 0}, {ziran, 38}, {jijin, 40}}, base, true, 12, 5},
  });
}

TEST_F(Fund_Recognizer, LookupOrderIsBeginThenInnerAndEndPerWord) {
  const std::string guojia = Gb("国家"), ziran = Gb("自然"), jijin = Gb("基金");
  fake::Dictionary_Add("fund_dic", guojia, "b:0.5;");
  fake::Dictionary_Add("fund_dic", ziran, "i:0.6;");
  fake::Dictionary_Add("fund_dic", jijin, "e:0.7;");
  const Segmented s = Segmented_Text({{guojia, 0}, {ziran, 0}, {jijin, 0}});
  int32_t end = 0;
  ASSERT_TRUE(Found_As(Fund_Recognize(s.View()), kLabel_Fund, &end));
  EXPECT_EQ(end, 12);
  using L = std::pair<std::string, std::string>;
  EXPECT_EQ(fake::Vornel().lookups, (std::vector<L>{{"fund_dic", guojia}, {"fund_dic", ziran}, {"fund_dic", ziran},
                                                    {"fund_dic", jijin}, {"fund_dic", jijin}}));
}

struct Raw_Case {
  std::string why;
  std::vector<int32_t> ends;  // exactly as given: no 0 is added
  bool result;
  int32_t end;
};

TEST_F(Fund_Recognizer, MalformedWordEndsEndTheWalk) {
  const std::string text = Gb("国家自然科学基金");  // 16 bytes
  fake::Dictionary_Add("fund_dic", Gb("国家"), "b:0.5;");
  fake::Dictionary_Add("fund_dic", Gb("自然"), "i:0.6;");
  fake::Dictionary_Add("fund_dic", Gb("科学"), "i:0.6;");
  fake::Dictionary_Add("fund_dic", Gb("基金"), "e:0.7;");
  const std::vector<Raw_Case> cases = {
      {"well formed", {4, 8, 12, 16, 0}, true, 16},
      {"no terminator: the array's size bounds the walk", {4, 8, 12}, true, 12},
      {"entries after the terminator are not read", {4, 8, 0, 12, 16, 0}, true, 8},
      {"a word of length 0 ends the walk", {4, 8, 8, 16, 0}, true, 8},
      {"a falling entry ends the walk", {4, 8, 6, 16, 0}, true, 8},
      {"an entry past the text ends the walk", {4, 8, 400, 0}, true, 8},
      {"negative entry", {4, -8, 0}, false, 0},
      {"empty first word", {0, 4, 0}, false, 0},
      {"negative first word", {-4, 4, 0}, false, 0},
      {"first word past the text", {40, 0}, false, 0},
      {"no entries at all", {}, false, 0},
  };
  for (const Raw_Case &c : cases) {
    fake::Vornel().lookups.clear();
    std::vector<int16_t> tags(c.ends.size(), 0);
    const Word_View view{text.c_str(), text.size(), c.ends.data(), tags.data(), 0,
                         static_cast<int32_t>(c.ends.size())};
    int32_t end = -7;
    EXPECT_EQ(Found_As(Fund_Recognize(view), kLabel_Fund, &end), c.result) << c.why;
    if (c.result) {
      EXPECT_EQ(end, c.end) << c.why;
    }
  }
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
}

TEST_F(Fund_Recognizer, ReadsAViewFromAWordInsideALongerSegmentation) {
  // The caller's numbering starts 6 bytes earlier; the view rebases it.
  const std::string before = Gb("关于");
  const std::string text = "ab" + before + Gb("国家基金") + Gb("的");
  fake::Dictionary_Add("fund_dic", Gb("国家"), "b:0.5;");
  fake::Dictionary_Add("fund_dic", Gb("基金"), "e:0.7;");
  const std::vector<int32_t> ends = {2, 6, 10, 14, 16, 0};
  const std::vector<int16_t> tags = {0, 0, 0, 0, 0, 0};
  const Word_View view{text.c_str() + 6, text.size() - 6, ends.data() + 2, tags.data() + 2, 6, 4};
  int32_t end = 0;
  ASSERT_TRUE(Found_As(Fund_Recognize(view), kLabel_Fund, &end));
  EXPECT_EQ(end, 8);
}

}  // namespace
