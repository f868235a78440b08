// Person_Recognize: the shortcuts (tag 21, the foreign-name test), the three
// patterns of a Chinese name with their thresholds at the exact values, the
// character lists, the title words and the lookup order.
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "ner/ner.h"
#include "ner_test_support.h"
#include "test_support.h"

namespace {

using Person_Recognizer = Unit_Test;

constexpr int32_t kUntouched = -7;

using Person_Case = Recogniser_Case;

// Runs a table with "foreign_dic" loaded beside "name_dic", holding `foreign`.
void Person_Cases_Run(const std::vector<Person_Case> &cases, const std::vector<std::string> &foreign = {}) {
  Recogniser_Cases_Run({Person_Recognize, kLabel_Person, "name_dic"}, cases, "foreign_dic", foreign);
}

// The next double above `value`, written so that the information string
// reads back exactly that double.
std::string Just_Above(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", std::nextafter(value, 1.0));
  return text;
}

// Each threshold lies between two adjacent doubles: the recogniser refuses
// the exact product and accepts the next one up, so the "exactly" cases of
// the tables below sit on the threshold itself, not on a rounding of it.
TEST_F(Person_Recognizer, EachThresholdLiesBetweenTwoAdjacentValues) {
  const std::string zhang = Gb("张"), san = Gb("三"), feng = Gb("丰"), jianguo = Gb("建国"), jian = Gb("建"),
                    guo = Gb("国");
  const std::string d = Just_Above(0.1), g2 = Just_Above(0.36), g3 = Just_Above(0.3);
  Person_Cases_Run({
      {"state 1: 0.5 x 0.1 is refused", {{zhang, 0}, {san, 0}}, {{zhang, "x:0.5;"}, {san, "dm:0.1;"}}, false, 0, 2},
      {"state 1: 0.5 x " + d + " is accepted", {{zhang, 0}, {san, 0}}, {{zhang, "x:0.5;"}, {san, "dm:" + d + ";"}},
       true, 4, 2},
      {"state 2: 0.5 x sqrt(0.36 x 0.36) is refused", {{zhang, 0}, {san, 0}, {feng, 0}},
       {{zhang, "x:0.5;"}, {san, "ss:0.36;"}, {feng, "sw:0.36;"}}, false, 0, 4},
      {"state 2: 0.5 x sqrt(" + g2 + " squared) is accepted", {{zhang, 0}, {san, 0}, {feng, 0}},
       {{zhang, "x:0.5;"}, {san, "ss:" + g2 + ";"}, {feng, "sw:" + g2 + ";"}}, true, 6, 4},
      {"state 3: sqrt(0.3 x 0.3) is refused", {{zhang, 0}, {jianguo, 0}},
       {{zhang, "x:0.9;"}, {jian, "ss:0.3;"}, {guo, "sw:0.3;"}}, false, 0, 3},
      {"state 3: sqrt(" + g3 + " squared) is accepted", {{zhang, 0}, {jianguo, 0}},
       {{zhang, "x:0.9;"}, {jian, "ss:" + g3 + ";"}, {guo, "sw:" + g3 + ";"}}, true, 6, 3},
  });
}

TEST_F(Person_Recognizer, Shortcuts) {
  const std::string zhang = Gb("张"), san = Gb("三"), ouyang = Gb("欧阳");
  const std::string w128 = Repeat(Gb("张"), 64), w126 = Repeat(Gb("张"), 63);
  Person_Cases_Run({
      {"128 bytes tagged 21", {{w128, 21}}, {}, false, 0, 0},
      {"126 bytes tagged 21", {{w126, 21}}, {}, true, 126, 0},
      {"6 bytes tagged 21", {{Gb("张三丰"), 21}, {Gb("说"), 0}}, {}, true, 6, 0},
      {"6 bytes tagged 0", {{Gb("张三丰"), 0}, {Gb("说"), 0}}, {}, false, 0, 0},
      {"1 byte tagged 21", {{"Z", 21}}, {}, true, 1, 0},
      {"3 bytes tagged 22", {{"abc", 22}}, {}, false, 0, 0},
      {"2 bytes tagged 41: no lookup", {{zhang, 41}, {san, 0}}, {{zhang, "x:0.9;"}, {san, "dm:0.9;"}}, false, 0,
       0},
      {"2 bytes tagged 21 gets the full test", {{zhang, 21}, {san, 0}}, {{zhang, "x:0.9;"}, {san, "dm:0.5;"}},
       true, 4, 2},
      {"2 bytes tagged 21 without a surname weight", {{zhang, 21}, {san, 0}}, {{san, "dm:0.5;"}}, false, 0, 1},
      {"4 bytes tagged 21 without fx", {{ouyang, 21}, {san, 0}}, {{ouyang, "x:0.9;"}, {san, "dm:0.9;"}}, false,
       0, 1},
      {"a single word", {{zhang, 0}}, {{zhang, "x:0.9;"}}, false, 0, 1},
      {"surname not found", {{zhang, 0}, {san, 0}}, {{san, "dm:0.9;"}}, false, 0, 1},
  });
  const std::vector<std::string> foreign = {Gb("克"), Gb("林"), Gb("顿")};
  Person_Cases_Run(
      {
          {"foreign name first, whatever name_dic holds", {{Gb("克"), 0}, {Gb("林"), 0}, {Gb("顿"), 0}, {Gb("访华"), 0}},
           {{Gb("克"), "x:0.9;"}, {Gb("林"), "dm:0.9;"}}, true, 6, 1},
          {"foreign name with a first word tagged 21", {{Gb("克"), 21}, {Gb("林"), 0}, {Gb("顿"), 0}}, {}, true, 6,
           1},
          {"no foreign test after a first word tagged 41", {{Gb("克"), 41}, {Gb("林"), 0}, {Gb("顿"), 0}}, {}, false,
           0, 0},
          {"no foreign test for a two-character first word", {{Gb("克林"), 0}, {Gb("顿"), 0}, {Gb("克"), 0}}, {},
           false, 0, 1},
      },
      foreign);
}

TEST_F(Person_Recognizer, ALongRunOfOneCharacterIsNotAPersonName) {
  // 王 is a surname, a given character and a transliteration character: a
  // run of it is still no name, neither foreign nor Chinese, however long,
  // while two of it and real names around it stay names.
  const std::string wang = Gb("王"), xiao = Gb("小"), ming = Gb("明");
  const Entries name_dic = {{wang, "x:0.9;dm:0.9;ss:0.9;sw:0.9;"}, {xiao, "ss:0.9;dm:0.9;"}, {ming, "sw:0.9;"},
                            {Repeat(Gb("王"), 2), "fx:0.9;"}};
  const auto run = [&](int n) { return std::vector<Tagged_Word>(static_cast<size_t>(n), Tagged_Word{wang, 21}); };
  Person_Cases_Run(
      {
          {"three of 王", run(3), name_dic, false, 0, 0},
          {"five thousand of 王", run(5000), name_dic, false, 0, 0},
          {"three of 王 and a given name", [&] {
             std::vector<Tagged_Word> w = run(3);
             w.push_back({xiao, 0});
             return w;
           }(), name_dic, false, 0, 0},
          {"a two-character first word in a run", {{Repeat(wang, 2), 0}, {wang, 0}}, name_dic, false, 0, 0},
          {"two of 王 is a surname and a given name", run(2), name_dic, true, 4, 2},
          {"王小明", {{wang, 21}, {xiao, 0}, {ming, 0}}, name_dic, true, 6, -1},
          {"王王明: the run is two", {{wang, 21}, {wang, 0}, {ming, 0}}, name_dic, true, 6, -1},
          {"three of 王 the segmenter took for one name", {{Repeat(wang, 3), 21}}, name_dic, true, 6, 0},
      },
      {wang, xiao, ming});
}

TEST_F(Person_Recognizer, OneCharacterGivenName) {
  const std::string zhang = Gb("张"), san = Gb("三"), xian = Gb("县"), de = Gb("的"), feng = Gb("丰");
  Person_Cases_Run({
      {"place suffix after the given name", {{zhang, 0}, {san, 0}, {xian, 0}},
       {{zhang, "x:0.9;"}, {san, "dm:0.9;"}}, false, 0, 2},
      {"function word after: 0.6 x 0.1", {{zhang, 0}, {san, 0}, {de, 0}}, {{zhang, "x:0.6;"}, {san, "dm:0.1;"}},
       true, 4, 2},
      {"function word after: 0.5 x 0.1 is exactly 0.05", {{zhang, 0}, {san, 0}, {de, 0}},
       {{zhang, "x:0.5;"}, {san, "dm:0.1;"}}, false, 0, 2},
      {"function word after, dm not found", {{zhang, 0}, {san, 0}, {de, 0}},
       {{zhang, "x:0.9;"}, {san, "ss:0.9;"}, {de, "sw:0.9;"}}, false, 0, 2},
      {"product exactly 0.05, no third word", {{zhang, 0}, {san, 0}}, {{zhang, "x:0.5;"}, {san, "dm:0.1;"}},
       false, 0, 2},
      {"product above 0.05, no third word", {{zhang, 0}, {san, 0}}, {{zhang, "x:0.5;"}, {san, "dm:0.1000001;"}},
       true, 4, 2},
      {"third word of 4 bytes leaves step one alone", {{zhang, 0}, {san, 0}, {Gb("丰收"), 0}},
       {{zhang, "x:0.9;"}, {san, "dm:0.1;ss:0.9;"}, {Gb("丰收"), "sw:0.9;"}}, true, 4, 2},
      {"third word tagged 41: no two-character test", {{zhang, 0}, {san, 0}, {feng, 41}},
       {{zhang, "x:0.9;"}, {san, "dm:0.1;ss:0.9;"}, {feng, "sw:0.9;"}}, true, 4, 2},
      {"given character on the function list has no dm", {{zhang, 0}, {Gb("了"), 0}},
       {{zhang, "x:0.9;"}, {Gb("了"), "dm:0.9;"}}, false, 0, 1},
      {"given character on the place list has no dm", {{zhang, 0}, {Gb("江"), 0}},
       {{zhang, "x:0.9;"}, {Gb("江"), "dm:0.9;"}}, false, 0, 1},
      // The substring search: "x" first occurs in the "fx" entry, 0.9.
      {"x read from fx", {{zhang, 0}, {san, 0}}, {{zhang, "fx:0.9;x:0.1;"}, {san, "dm:0.1;"}}, true, 4, 2},
  });
}

TEST_F(Person_Recognizer, TwoOneCharacterWords) {
  const std::string zhang = Gb("张"), san = Gb("三"), feng = Gb("丰"), le = Gb("了");
  Person_Cases_Run({
      {"G equal to D keeps state 1", {{zhang, 0}, {san, 0}, {feng, 0}},
       {{zhang, "x:0.5;"}, {san, "dm:0.3;ss:0.3;"}, {feng, "sw:0.3;"}}, true, 4, 4},
      {"G above D gives state 2", {{zhang, 0}, {san, 0}, {feng, 0}},
       {{zhang, "x:0.5;"}, {san, "dm:0.3;ss:0.4;"}, {feng, "sw:0.4;"}}, true, 6, 4},
      {"G = D = 0", {{zhang, 0}, {san, 0}, {feng, 0}}, {{zhang, "x:0.9;"}}, false, 0, 4},
      {"only ss found", {{zhang, 0}, {san, 0}, {feng, 0}}, {{zhang, "x:0.9;"}, {san, "ss:0.9;"}}, false, 0, 4},
      {"product exactly 0.18", {{zhang, 0}, {san, 0}, {feng, 0}},
       {{zhang, "x:0.5;"}, {san, "ss:0.36;"}, {feng, "sw:0.36;"}}, false, 0, 4},
      {"product above 0.18", {{zhang, 0}, {san, 0}, {feng, 0}},
       {{zhang, "x:0.5;"}, {san, "ss:0.36;"}, {feng, "sw:0.37;"}}, true, 6, 4},
      {"a listed first given character still opens a two-character name", {{zhang, 0}, {le, 0}, {feng, 0}},
       {{zhang, "x:0.9;"}, {le, "dm:0.9;ss:0.5;"}, {feng, "sw:0.5;"}}, true, 6, 3},
      {"place suffix third even after a good given name", {{zhang, 0}, {san, 0}, {Gb("村"), 0}},
       {{zhang, "x:0.9;"}, {san, "dm:0.9;ss:0.9;"}, {Gb("村"), "sw:0.9;"}}, false, 0, 2},
  });
}

TEST_F(Person_Recognizer, TwoCharacterGivenName) {
  const std::string zhang = Gb("张"), jianguo = Gb("建国"), jian = Gb("建"), guo = Gb("国");
  Person_Cases_Run({
      {"title word", {{zhang, 0}, {Gb("先生"), 0}}, {{zhang, "x:0.9;"}, {jian, "ss:0.9;"}}, false, 0, 1},
      {"title word 县官", {{zhang, 0}, {Gb("县官"), 0}}, {{zhang, "x:0.9;"}}, false, 0, 1},
      {"S exactly 0.8", {{zhang, 0}, {jianguo, 0}}, {{zhang, "x:0.8;"}, {jian, "ss:0.9;"}, {guo, "sw:0.9;"}},
       false, 0, 1},
      {"G exactly 0.3", {{zhang, 0}, {jianguo, 0}}, {{zhang, "x:0.9;"}, {jian, "ss:0.3;"}, {guo, "sw:0.3;"}},
       false, 0, 3},
      {"G 0.31", {{zhang, 0}, {jianguo, 0}}, {{zhang, "x:0.9;"}, {jian, "ss:0.31;"}, {guo, "sw:0.31;"}}, true, 6,
       3},
      {"second character not found", {{zhang, 0}, {jianguo, 0}}, {{zhang, "x:0.9;"}, {jian, "ss:0.9;"}}, false,
       0, 3},
      {"word 1 of 6 bytes", {{zhang, 0}, {Gb("建国门"), 0}}, {{zhang, "x:0.9;"}}, false, 0, 1},
      {"word 1 of 1 byte", {{zhang, 0}, {"a", 0}}, {{zhang, "x:0.9;"}}, false, 0, 1},
  });
  const std::string ouyang = Gb("欧阳");
  Person_Cases_Run({
      {"two-character surname, state 3", {{ouyang, 0}, {jianguo, 0}},
       {{ouyang, "fx:0.9;"}, {jian, "ss:0.9;"}, {guo, "sw:0.9;"}}, true, 8, 3},
      {"two-character surname, state 2", {{ouyang, 0}, {jian, 0}, {guo, 0}},
       {{ouyang, "fx:0.9;"}, {jian, "ss:0.9;"}, {guo, "sw:0.9;"}}, true, 8, 4},
      {"two-character surname, state 1", {{ouyang, 0}, {jian, 0}}, {{ouyang, "fx:0.9;"}, {jian, "dm:0.9;"}},
       true, 6, 2},
      {"two-character surname read by fx, not x", {{ouyang, 0}, {jian, 0}},
       {{ouyang, "x:0.9;"}, {jian, "dm:0.9;"}}, false, 0, 1},
      {"two-character surname tagged 41", {{ouyang, 41}, {jian, 0}}, {{ouyang, "fx:0.9;"}, {jian, "dm:0.9;"}},
       true, 6, 2},
  });
}

TEST_F(Person_Recognizer, LookupOrder) {
  const std::string zhang = Gb("张"), san = Gb("三"), feng = Gb("丰");
  fake::Dictionary_Add("name_dic", zhang, "x:0.9;");
  fake::Dictionary_Add("name_dic", san, "dm:0.1;ss:0.5;");
  fake::Dictionary_Add("name_dic", feng, "sw:0.5;");
  fake::Vornel().loaded.insert("foreign_dic");
  const Segmented s = Segmented_Text({{zhang, 0}, {san, 0}, {feng, 0}, {Gb("文集"), 0}});
  int32_t end = 0;
  ASSERT_TRUE(Found_As(Person_Recognize(s.View()), kLabel_Person, &end));
  EXPECT_EQ(end, 6);
  using L = std::pair<std::string, std::string>;
  EXPECT_EQ(fake::Vornel().lookups,
            (std::vector<L>{{"name_dic", zhang}, {"foreign_dic", zhang}, {"foreign_dic", san},
                            {"foreign_dic", feng}, {"name_dic", san}, {"name_dic", san}, {"name_dic", feng}}));
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
  EXPECT_EQ(fake::Vornel().bad_releases, 0);
}

TEST_F(Person_Recognizer, MalformedWordEnds) {
  const std::string text = Gb("张三丰");
  fake::Dictionary_Add("name_dic", Gb("张"), "x:0.9;");
  fake::Dictionary_Add("name_dic", Gb("三"), "dm:0.1;");
  fake::Vornel().loaded.insert("foreign_dic");
  struct Raw_Case {
    std::string why;
    std::vector<int32_t> ends;  // as given: no 0 is added
    std::vector<int16_t> tags;
    bool result;
    int32_t end;
  };
  const std::vector<Raw_Case> cases = {
      {"well formed", {2, 4, 6, 0}, {0, 0, 0, 0}, true, 4},
      {"no terminator", {2, 4}, {0, 0}, true, 4},
      {"entries after the terminator are not read", {2, 0, 4, 6, 0}, {0, 0, 0, 0, 0}, false, 0},
      {"word 1 of length 0", {2, 2, 6, 0}, {0, 0, 0, 0}, false, 0},
      {"word 1 falling", {2, 1, 0}, {0, 0, 0}, false, 0},
      {"word 2 past the text", {2, 4, 60, 0}, {0, 0, 0, 0}, true, 4},
      {"only the first entry", {2}, {0}, false, 0},
      {"empty first word tagged 21", {0, 2, 0}, {21, 0, 0}, false, 0},
      {"negative first word tagged 21", {-3, 2, 0}, {21, 0, 0}, false, 0},
      {"first word past the text tagged 21", {9, 0}, {21, 0}, false, 0},
      {"no entries at all", {}, {}, false, 0},
  };
  for (const Raw_Case &c : cases) {
    const Word_View view{text.c_str(), text.size(), c.ends.data(), c.tags.data(), 0,
                         static_cast<int32_t>(c.ends.size())};
    int32_t end = kUntouched;
    EXPECT_EQ(Found_As(Person_Recognize(view), kLabel_Person, &end), c.result) << c.why;
    if (c.result) {
      EXPECT_EQ(end, c.end) << c.why;
    }
  }
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
  EXPECT_EQ(fake::Vornel().bad_releases, 0);
}

}  // namespace
