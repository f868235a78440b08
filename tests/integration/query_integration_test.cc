// Tesquin_Search and Tesquin_Search_Singleword through the real libtesqsrch,
// libvornel and the built dictionaries (TESQ_DATA_DIR, else the build
// tree's data; skipped without them), in a scratch working directory that
// receives the trace.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "gb2312.h"
#include "gb_text.h"
#include "tesqsrch/tesqsrch.h"

namespace {

using tesq_test::Gb;

class Query_Integration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    previous_ = std::filesystem::current_path();
    scratch_ = std::filesystem::temp_directory_path() / ("tesq-query-" + std::to_string(std::rand()));
    std::filesystem::create_directories(scratch_);
    std::filesystem::current_path(scratch_);
    init_result_ = Tesquin_Init(0);
  }
  static void TearDownTestSuite() {
    Tesquin_UnInit();
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
  }
  void SetUp() override {
    if (init_result_ != 0 && !TESQ_HAVE_BUILT_DATA && std::getenv("TESQ_DATA_DIR") == nullptr)
      GTEST_SKIP() << "no dictionaries: this build makes no data and TESQ_DATA_DIR is not set";
    ASSERT_EQ(init_result_, 0) << "Tesquin_Init failed";
  }

  // The document of `query`, or "" with the result in *result.
  static std::string Search(const std::string &query, int32_t *result) {
    std::vector<char> out(1 << 16, '#');
    uint32_t size = static_cast<uint32_t>(out.size());
    *result = Tesquin_Search(query.c_str(), out.data(), &size);
    return *result == 0 ? std::string(out.data()) : "";
  }
  static int32_t Single(const std::string &word, std::string *label) {
    char out[256] = "";
    uint32_t size = sizeof out;
    const int32_t result = Tesquin_Search_Singleword(word.c_str(), out, &size);
    *label = result == 0 ? out : "";
    return result;
  }

  static int32_t init_result_;
  static std::filesystem::path previous_, scratch_;
};
int32_t Query_Integration::init_result_ = -100;
std::filesystem::path Query_Integration::previous_, Query_Integration::scratch_;

std::string Element(const std::string &label, const std::string &word) {
  return "\t<Word p=\"" + label + "\">" + word + "</Word>\n";
}

TEST_F(Query_Integration, MalformedAndGbkOnlyWordsStillGiveTheirDocument) {
  // Malformed bytes, a lead byte with a bad trail, and GBK characters
  // outside GB2312 (丂 81 40, 镕 E9 46), alone and beside Chinese text: the
  // query still has its document, the word is 全文, and nothing is printed.
  const std::string full_text = Gb("全文"), person = Gb("人名");
  const std::vector<std::string> words = {"\xB0",      "\xFF",      "\xA1",        "\xB0'",
                                          "\x81\x40",  "\xE9\x46",  Gb("的") + "\xE9\x46", "\xB0\xB0\xB0",
                                          "\x81\x40\x81\x40\x81\x40" + Gb("北京")};
  for (const std::string &word : words) {
    testing::internal::CaptureStdout();
    int32_t result = -1;
    const std::string document = Search(word + " " + Gb("王小明"), &result);
    std::string label;
    const int32_t single = Single(word, &label);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << word;
    ASSERT_EQ(result, 0) << word;
    EXPECT_NE(document.find(Element(full_text, word) + Element(person, Gb("王小明"))), std::string::npos)
        << document;
    EXPECT_EQ(single, 3) << word;
  }
}

TEST_F(Query_Integration, ALongRunOfOneCharacterIsNotAPersonName) {
  const std::string wang = Gb("王");
  std::string run;
  for (int i = 0; i < 5000; ++i) run += wang;
  std::string label;
  for (size_t n : {3u, 4u, 10u, 5000u}) EXPECT_EQ(Single(run.substr(0, 2 * n), &label), 3) << n;
  int32_t result = -1;
  EXPECT_NE(Search(run, &result).find(Element(Gb("全文"), run)), std::string::npos);
  EXPECT_EQ(result, 0);
  // Real names stay names.
  for (const char *name : {"王小明", "张晓峰", "李晓燕"}) {
    EXPECT_EQ(Single(Gb(name), &label), 0) << name;
    EXPECT_EQ(label, Gb("人名")) << name;
  }
}

// Common two-character names reach the person recogniser as a surname
// word and a given-name word; the lexicon's own two-character person
// entries must not keep them whole. A name or two may fall to a given-name
// character that stands alone as a common word (超 in 马超).
TEST_F(Query_Integration, CommonTwoCharacterNamesArePersonNames) {
  const char *const names[] = {"王丽", "李明", "张伟", "王芳", "刘洋", "陈静", "杨帆", "赵磊", "黄勇", "周杰",
                               "吴刚", "徐静", "孙丽", "马超", "朱军", "胡斌", "郭亮", "林峰", "何平", "高翔"};
  int persons = 0;
  std::string missed;
  for (const char *name : names) {
    std::string label;
    const bool person = Single(Gb(name), &label) == 0 && label == Gb("人名");
    persons += person;
    if (!person) missed += std::string(" ") + name;
  }
  EXPECT_GE(persons, 18) << "not 人名:" << missed;
}

}  // namespace
