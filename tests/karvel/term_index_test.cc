// The in-memory copy of the term table: rows found with their labels,
// words absent, rows without a usable label, a word added twice, words
// that collide in the table, and a large table checked against a map.
#include "term_index.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using karvel::Term_Index;

TEST(Term_Index, FindsRowsAndTheirLabels) {
  Term_Index::Builder builder;
  builder.Add("\xBC\xC6\xCB\xE3\xBB\xFA", "\xD6\xF7\xCC\xE2\xB4\xCA");  // 计算机 主题词
  builder.Add("abc", "x");
  builder.Add("abc", "y");
  builder.Add_Without_Label("bad");
  builder.Add("", "empty word");
  builder.Add(std::string(256, 'a'), "too long");
  builder.Add(std::string(255, 'a'), "longest");
  const auto index = builder.Finish();
  struct Case {
    std::string word;
    bool found;
    const char *label;  // nullptr: the row has no label
  };
  const Case cases[] = {
      {"\xBC\xC6\xCB\xE3\xBB\xFA", true, "\xD6\xF7\xCC\xE2\xB4\xCA"},
      {"abc", true, "y"},
      {"bad", true, nullptr},
      {"ab", false, nullptr},
      {"abcd", false, nullptr},
      {"", false, nullptr},
      {std::string(256, 'a'), false, nullptr},
      {std::string(255, 'a'), true, "longest"},
  };
  for (const Case &c : cases) {
    const std::string *label = nullptr;
    ASSERT_EQ(index->Find(c.word, label), c.found) << c.word.size() << " bytes: " << c.word.substr(0, 8);
    if (!c.found) continue;
    if (c.label == nullptr) {
      EXPECT_EQ(label, nullptr) << c.word;
    } else {
      ASSERT_NE(label, nullptr) << c.word;
      EXPECT_EQ(*label, c.label) << c.word;
    }
  }
  EXPECT_EQ(index->Size(), 4u) << "abc once; the empty and the too-long word left out";
}

TEST(Term_Index, ALargeTableAnswersAsAMapDoes) {
  std::map<std::string, std::string> expected;
  Term_Index::Builder builder;
  for (int n = 0; n < 200000; ++n) {
    const std::string word = "w" + std::to_string(n * 7919 % 1000003);
    const std::string label = "label" + std::to_string(n % 13);
    builder.Add(word, label);
    expected[word] = label;
  }
  const auto index = builder.Finish();
  EXPECT_EQ(index->Size(), expected.size());
  for (const auto &row : expected) {
    const std::string *label = nullptr;
    ASSERT_TRUE(index->Find(row.first, label)) << row.first;
    ASSERT_EQ(*label, row.second);
  }
  for (int n = 0; n < 1000; ++n) {
    const std::string *label = nullptr;
    EXPECT_FALSE(index->Find("v" + std::to_string(n), label));
  }
  EXPECT_LT(index->Bytes(), expected.size() * 40) << "words, entries and slots only";
}

}  // namespace
