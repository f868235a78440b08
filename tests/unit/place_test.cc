// Place_Recognize: the longest prefix of 4 to 40 bytes held by "place".
#include <map>
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

// The handle calls as text, each handle named by the Dict_Get_Handle that
// returned it ("h1" for the first), so that a search or release through a
// handle taken for another lookup shows.
std::vector<std::string> Handle_Calls_Made() {
  std::map<int32_t, std::string> names;
  std::vector<std::string> made;
  for (const fake::Handle_Call &c : fake::Vornel().handle_calls) {
    if (c.call == "Dict_Get_Handle" && c.handle != -1) names[c.handle] = "h" + std::to_string(names.size() + 1);
    const auto name = names.find(c.handle);
    const std::string handle = name != names.end() ? name->second : "#" + std::to_string(c.handle);
    if (c.call == "Dict_Get_Handle") made.push_back(c.call + "(" + c.argument + ") -> " + handle);
    else if (c.call == "Dict_Delete_Handle") made.push_back(c.call + "(" + handle + ")");
    else made.push_back(c.call + "(" + c.argument + ", " + handle + ")");
  }
  return made;
}

// For each prefix from `longest` bytes down to `shortest`: a fresh "place"
// handle, the lookup through it, and its release.
std::vector<std::string> One_Handle_Per_Lookup(const std::string &text, size_t longest, size_t shortest) {
  std::vector<std::string> expected;
  int handle = 0;
  for (size_t size = longest; size >= shortest && size > 0; --size) {
    const std::string h = "h" + std::to_string(++handle);
    expected.push_back("Dict_Get_Handle(place,) -> " + h);
    expected.push_back("Dict_Search_Word(" + text.substr(0, size) + ", " + h + ")");
    expected.push_back("Dict_Delete_Handle(" + h + ")");
  }
  return expected;
}

struct Handle_Case {
  std::string name;
  std::string text;  // may hold a NUL: the function sees it up to the first
  std::vector<std::string> dictionary;
  size_t first_lookup;  // length of the first prefix looked up
  size_t last_lookup;   // length of the last one (the match, or 4)
};

// Every lookup takes its own handle with Dict_Get_Handle("place", ""), asks
// Dict_Search_Word through it and releases it with Dict_Delete_Handle,
// whatever the answer; no handle serves two lookups.
TEST_F(Place, EachLookupTakesAndReleasesItsOwnHandle) {
  const std::string long_text = Gb("中华人民共和国中华人民共和国中华人民共和国中华人民共和国");  // 56 bytes
  const std::string with_nul = Gb("北京市") + std::string(1, '\0') + Gb("海淀区");
  const std::vector<Handle_Case> cases = {
      {"the longest match, at 40 bytes", long_text, {long_text.substr(0, 40), long_text.substr(0, 8)}, 40, 40},
      {"a match at 4 bytes", long_text, {long_text.substr(0, 4)}, 40, 4},
      {"no match: 40 down to 4", long_text, {}, 40, 4},
      {"an odd length, inside a character", long_text, {long_text.substr(0, 13)}, 40, 13},
      {"an odd-length text", Gb("北京市") + "x", {}, 7, 4},
      {"a NUL early ends the text", with_nul, {Gb("北京市") + std::string(1, '\0') + Gb("海")}, 6, 4},
      {"exactly 4 bytes", Gb("北京"), {Gb("北京")}, 4, 4},
  };
  for (const Handle_Case &c : cases) {
    SCOPED_TRACE(c.name);
    fake::Reset();
    fake::Vornel().loaded.insert("place");
    for (const std::string &word : c.dictionary) fake::Dictionary_Add("place", word, "");
    Place_Recognize(c.text.c_str());
    EXPECT_EQ(Handle_Calls_Made(), One_Handle_Per_Lookup(c.text, c.first_lookup, c.last_lookup));
    EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
    EXPECT_EQ(fake::Vornel().bad_releases, 0);
  }
}

// Too short a text is no place name, and no handle is taken for it.
TEST_F(Place, NoHandleForATextShorterThanFourBytes) {
  for (const std::string &text : {std::string(), Gb("北"), Gb("北") + "x"}) {
    SCOPED_TRACE(text.size());
    fake::Vornel().handle_calls.clear();
    Place_Recognize(text.c_str());
    EXPECT_TRUE(fake::Vornel().handle_calls.empty());
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
