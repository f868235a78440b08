// Dictionary features: reading one keyed number out of an information string,
// one handle per lookup.
#include <string>
#include <vector>

#include "ner/ner.h"
#include "test_support.h"

namespace {

using Dict_Prob = Unit_Test;

using Lookup = int32_t (*)(const char *, int32_t, double *);

struct Prob_Case {
  const char *why;
  const char *dictionary;
  Lookup lookup;
  std::string info;  // "" with present = false: the word is absent
  bool present;
  int32_t type;
  int32_t result;
  double value;
};

TEST_F(Dict_Prob, ReadsTheNumberOfTheKey) {
  const std::vector<Prob_Case> cases = {
      {"fund b", "fund_dic", Fund_Get_Prob, "b:0.5;i:0.25;e:0.125;", true, 1, 1, 0.5},
      {"fund i", "fund_dic", Fund_Get_Prob, "b:0.5;i:0.25;e:0.125;", true, 2, 1, 0.25},
      {"fund e", "fund_dic", Fund_Get_Prob, "b:0.5;i:0.25;e:0.125;", true, 3, 1, 0.125},
      {"org b", "org_dic", Org_Get_Prob, "b:0.5;i:0.25;e:0.125;", true, 1, 1, 0.5},
      {"org i", "org_dic", Org_Get_Prob, "b:0.5;i:0.25;e:0.125;", true, 2, 1, 0.25},
      {"org e", "org_dic", Org_Get_Prob, "b:0.5;i:0.25;e:0.125;", true, 3, 1, 0.125},
      {"key missing", "fund_dic", Fund_Get_Prob, "b:0.5;e:0.125;", true, 2, 0, 0.0},
      {"word absent", "fund_dic", Fund_Get_Prob, "", false, 1, 0, 0.0},
      {"empty string", "org_dic", Org_Get_Prob, "", true, 1, 0, 0.0},
      {"last entry unterminated", "org_dic", Org_Get_Prob, "b:0.5;e:0.75", true, 3, 1, 0.75},
      {"trailing text", "fund_dic", Fund_Get_Prob, "b:0.5abc;", true, 1, 1, 0.5},
      {"not numeric", "fund_dic", Fund_Get_Prob, "b:abc;", true, 1, 1, 0.0},
      {"empty number", "fund_dic", Fund_Get_Prob, "b:;i:0.3;", true, 1, 1, 0.0},
      {"leading space", "fund_dic", Fund_Get_Prob, "b: 0.5;", true, 1, 1, 0.5},
      {"negative", "org_dic", Org_Get_Prob, "e:-0.25;", true, 3, 1, -0.25},
      {"exponent", "org_dic", Org_Get_Prob, "i:5e-1;", true, 2, 1, 0.5},
      // A plain substring search: "i:" first occurs inside "bi:".
      {"substring", "fund_dic", Fund_Get_Prob, "bi:0.9;i:0.2;", true, 2, 1, 0.9},
      // The first colon after the key's first byte starts the number.
      {"colon of the next entry", "name_dic", Name_Get_Prob, "dmz;q:0.4;", true, 2, 1, 0.4},
      {"no number at the start", "name_dic", Name_Get_Prob, "dm0.4;", true, 2, 1, 0.0},
      // With no colon after the key, the string's start is read.
      {"no colon after key", "name_dic", Name_Get_Prob, "0.7;x", true, 1, 1, 0.7},
      {"no colon no semicolon", "name_dic", Name_Get_Prob, "0.7x", true, 1, 1, 0.7},
      // "x" is also the last letter of "fx".
      {"fx first: x", "name_dic", Name_Get_Prob, "fx:0.3;x:0.6;", true, 1, 1, 0.3},
      {"fx first: fx", "name_dic", Name_Get_Prob, "fx:0.3;x:0.6;", true, 5, 1, 0.3},
      {"x first: x", "name_dic", Name_Get_Prob, "x:0.6;fx:0.3;", true, 1, 1, 0.6},
      {"x first: fx", "name_dic", Name_Get_Prob, "x:0.6;fx:0.3;", true, 5, 1, 0.3},
      {"dm", "name_dic", Name_Get_Prob, "x:0.6;dm:0.2;ss:0.3;sw:0.4;", true, 2, 1, 0.2},
      {"ss", "name_dic", Name_Get_Prob, "x:0.6;dm:0.2;ss:0.3;sw:0.4;", true, 3, 1, 0.3},
      {"sw", "name_dic", Name_Get_Prob, "x:0.6;dm:0.2;ss:0.3;sw:0.4;", true, 4, 1, 0.4},
      {"name key missing", "name_dic", Name_Get_Prob, "x:0.6;", true, 2, 0, 0.0},
      // The information buffers: 300 bytes for fund_dic and org_dic, 100 for
      // name_dic, terminator included.
      {"fund 299 bytes", "fund_dic", Fund_Get_Prob, "b:0.5;" + std::string(293, 'z'), true, 1, 1, 0.5},
      {"fund 300 bytes", "fund_dic", Fund_Get_Prob, "b:0.5;" + std::string(294, 'z'), true, 1, 0, 0.0},
      {"org 299 bytes", "org_dic", Org_Get_Prob, "b:0.5;" + std::string(293, 'z'), true, 1, 1, 0.5},
      {"name 99 bytes", "name_dic", Name_Get_Prob, "x:0.5;" + std::string(93, 'z'), true, 1, 1, 0.5},
      {"name 100 bytes", "name_dic", Name_Get_Prob, "x:0.5;" + std::string(94, 'z'), true, 1, 0, 0.0},
  };
  const std::string word = Gb("基金");
  for (const Prob_Case &c : cases) {
    fake::Reset();
    if (c.present) fake::Dictionary_Add(c.dictionary, word, c.info);
    else fake::Dictionary_Add(c.dictionary, Gb("别的"), "b:0.9;x:0.9;");
    double value = 42.0;
    EXPECT_EQ(c.lookup(word.c_str(), c.type, &value), c.result) << c.why;
    EXPECT_EQ(value, c.value) << c.why;
    EXPECT_EQ(fake::Vornel().lookups,
              (std::vector<std::pair<std::string, std::string>>{{c.dictionary, word}}))
        << c.why;
    EXPECT_EQ(fake::Vornel().outstanding_handles, 0) << c.why;
    EXPECT_EQ(fake::Vornel().bad_releases, 0) << c.why;
  }
}

TEST_F(Dict_Prob, EachLookupIsCompleteAndReadsTheCurrentContents) {
  const std::string word = Gb("研究所");
  fake::Dictionary_Add("org_dic", word, "i:0.3;");
  double value = 0.0;
  EXPECT_EQ(Org_Get_Prob(word.c_str(), 2, &value), 1);
  EXPECT_EQ(value, 0.3);
  fake::Dictionary_Add("org_dic", word, "i:0.7;");
  EXPECT_EQ(Org_Get_Prob(word.c_str(), 2, &value), 1);
  EXPECT_EQ(value, 0.7) << "nothing is cached";
  EXPECT_EQ(fake::Lookup_Count("org_dic"), 2);
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
}

TEST_F(Dict_Prob, ADictionaryThatIsNotLoadedFindsNothing) {
  // Dict_Get_Handle answers -1; the handle is passed on untested and the
  // service answers "not present".
  const std::string word = Gb("张");
  for (Lookup lookup : {Fund_Get_Prob, Org_Get_Prob, Name_Get_Prob}) {
    fake::Reset();
    double value = 42.0;
    EXPECT_EQ(lookup(word.c_str(), 1, &value), 0);
    EXPECT_EQ(value, 0.0);
    EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
  }
}

TEST_F(Dict_Prob, CodesOutsideTheTableFindNothing) {
  const std::string word = Gb("张");
  fake::Dictionary_Add("fund_dic", word, "b:0.5;i:0.5;e:0.5;");
  fake::Dictionary_Add("name_dic", word, "x:0.5;dm:0.5;ss:0.5;sw:0.5;fx:0.5;");
  for (int32_t type : {0, 4, 6, -1}) {
    double value = 42.0;
    EXPECT_EQ(Fund_Get_Prob(word.c_str(), type, &value), 0) << type;
    EXPECT_EQ(value, 0.0);
  }
  for (int32_t type : {0, 6}) {
    double value = 42.0;
    EXPECT_EQ(Name_Get_Prob(word.c_str(), type, &value), 0) << type;
    EXPECT_EQ(value, 0.0);
  }
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
  EXPECT_EQ(fake::Vornel().bad_releases, 0);
}

}  // namespace
