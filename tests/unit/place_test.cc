// Place_Recognize: the longest prefix of 4 to 40 bytes held by "place".
#include <string>
#include <vector>

#include "ner/ner.h"
#include "ner_test_support.h"
#include "test_support.h"

namespace {

class Place : public Unit_Test {
 protected:
  void SetUp() override {
    Unit_Test::SetUp();
    fake::Vornel().loaded.insert("place");
  }
};

struct Place_Case {
  std::string name;
  std::string text;
  std::vector<std::string> dictionary;
  bool expected;
  int32_t expected_length;
  int expected_lookups;
};

TEST_F(Place, LongestPrefixOfFourToFortyBytes) {
  const std::string long_text = Gb("中华人民共和国中华人民共和国中华人民共和国中华人民共和国");  // 56 bytes
  const std::vector<Place_Case> cases = {
      {"empty text", "", {}, false, 0, 0},
      {"shorter than 4 bytes", Gb("北") + "x", {Gb("北") + "x"}, false, 0, 0},
      {"exactly 4 bytes", Gb("北京"), {Gb("北京")}, true, 4, 1},
      {"the longest of two prefixes", Gb("北京市长"), {Gb("北京"), Gb("北京市")}, true, 6, 3},
      {"an odd length is answered as it is", Gb("北京") + "x" + Gb("长"), {Gb("北京"), Gb("北京") + "x"}, true, 5, 3},
      {"no match: every length from 40 down to 4", long_text, {}, false, 0, 37},
      {"no match on a short text: its length down to 4", Gb("北京市"), {}, false, 0, 3},
      {"nothing past 40 bytes is read", long_text, {long_text.substr(0, 40), long_text.substr(0, 42)}, true, 40, 1},
      {"prefixes run across words and end anywhere", long_text, {long_text.substr(0, 11)}, true, 11, 30},
  };
  for (const Place_Case &c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    fake::Vornel().loaded.insert("place");
    for (const std::string &word : c.dictionary) fake::Dictionary_Add("place", word, "");
    int32_t length = -1;
    EXPECT_EQ(Found_As(Place_Recognize(c.text.c_str()), kLabel_Place, &length), c.expected);
    if (c.expected) {
      EXPECT_EQ(length, c.expected_length);
    }
    EXPECT_EQ(fake::Lookup_Count("place"), c.expected_lookups);
    EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
    EXPECT_EQ(fake::Vornel().bad_releases, 0);
  }
}

TEST_F(Place, PlaceDictionaryNotLoadedIsNoMatch) {
  fake::Vornel().loaded.clear();
  int32_t length = -1;
  EXPECT_FALSE(Found_As(Place_Recognize(Gb("北京市").c_str()), kLabel_Place, &length));
  EXPECT_EQ(length, -1);
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
}

}  // namespace
