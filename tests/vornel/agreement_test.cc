// The segmenter with the lexicon built from the Debian jieba lexicon: the
// agreement with jieba's cut(HMM=False) on a fixed sample of sentences from
// the zh_CN manual pages (tools/vornel_corpus.py generates the sample), the
// tags of known words, and the five dictionaries loading.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "gb2312.h"
#include "platform.h"
#include "test_support.h"
#include "vornel/vornel.h"

namespace {

class Built_Data : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!VORNEL_HAVE_BUILT_DATA) GTEST_SKIP() << "configured with TESQ_BUILD_DATA=OFF";
    tesq::Set_Environment("TESQ_DATA_DIR", nullptr);  // the build tree's data, found without configuration
    ASSERT_NE(Dict_Init_New(0, 100, 200, 0x80000, 4), 0) << "no lexicon in " VORNEL_BUILT_DATA_DIR;
  }
  void TearDown() override { Free_All_Space(); }
};

std::vector<std::string> Split(const std::string &s, char sep) {
  std::vector<std::string> out;
  std::string item;
  std::istringstream in(s);
  while (std::getline(in, item, sep)) out.push_back(item);
  return out;
}

// The share of sample sentences (in thousandths) that KV_Word_Sect cuts in
// mode (a, b) as jieba does.
void Expect_Agreement(int32_t a, int32_t b, int per_mille) {
  std::ifstream in(VORNEL_SAMPLE_FILE);
  ASSERT_TRUE(in) << VORNEL_SAMPLE_FILE;
  std::string line;
  int sentences = 0, equal = 0;
  std::string first_difference;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    ++sentences;
    bool same = true;
    for (const std::string &run : Split(line, '\t')) {
      const std::vector<std::string> want = Split(run, ' ');
      std::string text;
      for (const std::string &w : want) text += w;
      const vornel_test::Cut cut = vornel_test::Segment_C(vornel_test::Gb(text), -1, a, b);
      ASSERT_EQ(cut.ok, 1) << text;
      std::vector<std::string> got;
      for (const std::string &w : cut.words) {
        std::string utf8;
        gb::Gb_To_Utf8(w, &utf8);
        got.push_back(utf8);
      }
      if (got != want) {
        same = false;
        if (first_difference.empty()) first_difference = run;
      }
    }
    equal += same;
  }
  ASSERT_GE(sentences, 300);
  ::testing::Test::RecordProperty("sentences", sentences);
  ::testing::Test::RecordProperty("equal", equal);
  EXPECT_GE(equal * 1000, sentences * per_mille) << equal << " of " << sentences << " sentences equal in mode " << a
                                                 << ", " << b << "; first difference: " << first_difference;
}

TEST_F(Built_Data, AgreesWithJiebaOnTheSample) {
  Expect_Agreement(VORNEL_TEXT_MODE_A, VORNEL_TEXT_MODE_B, 998);    // the lexicon's segmentation
  Expect_Agreement(VORNEL_QUERY_MODE_A, VORNEL_QUERY_MODE_B, 995);  // person names left to the recogniser
}

TEST_F(Built_Data, PersonNamesOfTheLexiconAreWholeInTextSegmentationOnly) {
  const struct {
    const char *text;
    int32_t a, b;
    size_t words;
    int16_t first_tag;
  } cases[] = {
      {"李白", VORNEL_TEXT_MODE_A, VORNEL_TEXT_MODE_B, 1, 21},
      {"李白", 3, 7, 1, 21},  // any values but the query mode's are text segmentation
      {"李白", VORNEL_QUERY_MODE_A, VORNEL_QUERY_MODE_B, 2, 2},
      {"许可证", VORNEL_QUERY_MODE_A, VORNEL_QUERY_MODE_B, 1, 2},  // an ordinary word the lexicon tags nr
      {"白居易", VORNEL_QUERY_MODE_A, VORNEL_QUERY_MODE_B, 1, 21},
  };
  for (const auto &c : cases) {
    const vornel_test::Cut cut = vornel_test::Segment_C(vornel_test::Gb(c.text), -1, c.a, c.b);
    ASSERT_EQ(cut.words.size(), c.words) << c.text << " " << c.a << "," << c.b;
    EXPECT_EQ(cut.tags[0], c.first_tag) << c.text << " " << c.a << "," << c.b;
  }
}

TEST_F(Built_Data, TagsOfKnownWords) {
  // Tags as the Debian lexicon gives them, where they are names of their kind.
  const struct {
    const char *text;
    std::vector<int16_t> tags;
  } cases[] = {
      {"北京", {22}},         {"清华大学", {23}}, {"毛泽东", {21}}, {"和", {37}}, {"的", {38}},
      {"非常", {8}},          {"我", {29}},       {"在", {27}},     {"吗", {39}}, {"哈哈", {40}},
      {"三", {18}},           {"，", {41}},       {"了", {38}},
      {"我在北京", {29, 27, 22}},
      // The lexicon tags these as names; the trainer makes the tags mean
      // what they say: a lone surname or given-name character, a direction
      // and common words are no names, and a two-character name reaches the
      // recogniser as surname + given name.
      {"美丽", {2}},          {"新建", {2}},      {"太极", {5}},    {"东南", {14}}, {"王", {2}},
      {"丽", {2}},            {"王丽", {2, 2}},
      {"太多", {8, 18}},  // a place entry of frequency 3: 太 + 多
  };
  for (const auto &c : cases) {
    const vornel_test::Cut cut = vornel_test::Segment_C(vornel_test::Gb(c.text));
    EXPECT_EQ(cut.tags, c.tags) << c.text;
  }
}

TEST_F(Built_Data, FiveDictionariesLoadAndAnswer) {
  for (const char *name : {"foreign_dic", "name_dic", "org_dic", "fund_dic", "place"})
    EXPECT_GE(Dict_Load_New(name, ""), 0) << name;
  EXPECT_EQ(Dict_Search_Word(vornel_test::Gb("北京").c_str(), Dict_Get_Handle("place", "")), 1);
  char info[100];
  ASSERT_EQ(Dict_Search_Get_Info(vornel_test::Gb("王").c_str(), Dict_Get_Handle("name_dic", ""), info, 100), 1);
  EXPECT_NE(std::string(info).find("x:"), std::string::npos) << info;
  char org[300];
  ASSERT_EQ(Dict_Search_Get_Info(vornel_test::Gb("大学").c_str(), Dict_Get_Handle("org_dic", ""), org, 300), 1);
  EXPECT_NE(std::string(org).find("e:"), std::string::npos) << org;
  ASSERT_EQ(Dict_Search_Get_Info(vornel_test::Gb("基金").c_str(), Dict_Get_Handle("fund_dic", ""), org, 300), 1);
  EXPECT_EQ(Dict_Search_Word(vornel_test::Gb("·").c_str(), Dict_Get_Handle("foreign_dic", "")), 1);
}

}  // namespace
