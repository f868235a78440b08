// The extension's walk over a text: pieces that cover the text exactly, runs
// of characters without a GB2312 form, word kinds and the store of kept
// kinds with its bound, the tag names' buffer, and the faults of words and
// queries that cannot be given to the library.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gb2312.h"
#include "tesq_pg_core.h"

namespace {

class Pg_Core_Test : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { start_ = tesqpg::Start(std::getenv("TESQ_DATA_DIR"), nullptr, true); }
  void SetUp() override {
    ASSERT_EQ(start_, 0) << tesqpg::Start_Failure(start_);
    tesqpg::Forget_Kinds();
  }
  static int32_t start_;
};
int32_t Pg_Core_Test::start_ = 1;

// Every token of a walk in pieces of `piece` bytes, checking that the pieces
// cover the text with no gap or overlap, in bytes and in characters.
std::vector<tesqpg::Token> Walk(const std::string &text, size_t piece, bool classify, std::string *words) {
  tesqpg::Essay_Reader reader(text.data(), text.size(), piece);
  std::vector<tesqpg::Token> all;
  size_t byte = 0, chars = 0;
  for (int result; (result = reader.Next()) != 1;) {
    EXPECT_EQ(result, 0);
    if (result != 0) break;
    for (tesqpg::Token t : reader.Tokens()) {
      EXPECT_EQ(t.byte_start, byte);
      EXPECT_EQ(t.char_start, chars);
      EXPECT_LT(t.byte_start, t.byte_end);
      byte = t.byte_end;
      chars = t.char_end;
      if (classify) t.kind = reader.Classified_Kind(t);
      if (words != nullptr && t.kind != tesqpg::kBlank)
        *words += std::string(text, t.byte_start, t.byte_end - t.byte_start) + "/" + tesqpg::Kind_Alias(t.kind) + " ";
      all.push_back(t);
    }
  }
  EXPECT_EQ(byte, text.size());
  return all;
}

size_t Characters(const std::string &text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

TEST_F(Pg_Core_Test, PiecesCoverTheTextExactly) {
  const std::string unit = "鲁迅写了《狂人日记》，ISBN 9787111123453。丂😀 abc\n";
  struct Row {
    std::string text;
    size_t piece;
  } rows[] = {
      {"", 64},          {" ", 64},          {"鲁迅", 2},        {unit, 2},      {unit, 7},
      {unit, 64},        {unit + unit, 16},  {std::string(5000, 'a'), 100},   {"😀😀丂", 64},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text.substr(0, 40) + " in pieces of " + std::to_string(row.piece));
    const std::vector<tesqpg::Token> tokens = Walk(row.text, row.piece, false, nullptr);
    EXPECT_EQ(tokens.empty() ? 0 : tokens.back().char_end, Characters(row.text));
  }
}

TEST_F(Pg_Core_Test, RunsWithoutAGb2312FormAreTokensOfAtMost1024Characters) {
  std::string text;
  for (int i = 0; i < 2500; ++i) text += "丂";
  const std::vector<tesqpg::Token> tokens = Walk("鲁迅" + text + "鲁迅", tesqpg::kPiece_Bytes, false, nullptr);
  std::vector<size_t> runs;
  for (const tesqpg::Token &t : tokens)
    if (t.kind == tesqpg::kNo_Gb2312) {
      EXPECT_EQ(t.tag, tesqpg::kNo_Gb2312_Tag);
      runs.push_back(t.char_end - t.char_start);
    }
  EXPECT_EQ(runs, (std::vector<size_t>{1024, 1024, 452}));
}

TEST_F(Pg_Core_Test, ClassifiedWordsTakeTheKindOfTheirCategory) {
  std::string words;
  Walk("鲁迅 9787111123453 1234-5679 计算机科学，abc", tesqpg::kPiece_Bytes, true, &words);
  EXPECT_EQ(words, "鲁迅/person 9787111123453/isbn 1234-5679/issn 计算机科学/term abc/latin ");
  // Unclassified, the tags alone give the kinds.
  words.clear();
  Walk("鲁迅 9787111123453", tesqpg::kPiece_Bytes, false, &words);
  EXPECT_EQ(words, "鲁迅/person 9787111123453/numeral ");
}

TEST_F(Pg_Core_Test, KeptKindsAreBoundedAndForgotten) {
  std::string text;
  const size_t distinct = tesqpg::kMost_Kept_Words + 100;
  for (size_t i = 0; i < distinct; ++i) text += "w" + std::to_string(i) + " ";
  // A word longer than kept words may be is classified, never kept.
  text += std::string(tesqpg::kMost_Kept_Bytes + 1, 'x');
  size_t most = 0, latin = 0;
  tesqpg::Essay_Reader reader(text.data(), text.size());
  while (reader.Next() == 0)
    for (const tesqpg::Token &t : reader.Tokens()) {
      latin += reader.Classified_Kind(t) == tesqpg::kLatin;
      if (tesqpg::Kept_Kinds() > most) most = tesqpg::Kept_Kinds();
    }
  EXPECT_EQ(latin, distinct + 1);
  EXPECT_EQ(most, tesqpg::kMost_Kept_Words);
  EXPECT_LE(tesqpg::Kept_Kinds(), tesqpg::kMost_Kept_Words);
  tesqpg::Forget_Kinds();
  EXPECT_EQ(tesqpg::Kept_Kinds(), 0u);
}

TEST_F(Pg_Core_Test, AWordMetAgainIsKeptOnce) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "鲁迅 abc 的 7 ";
  std::string words;
  Walk(text, tesqpg::kPiece_Bytes, true, &words);
  EXPECT_EQ(tesqpg::Kept_Kinds(), 4u);  // single characters count as words
  const std::string first_words = "鲁迅/person abc/latin 的/word 7/numeral ";
  EXPECT_EQ(words.substr(0, first_words.size()), first_words);
  tesqpg::Forget_Kinds();
  EXPECT_EQ(tesqpg::Kept_Kinds(), 0u);
  // Forgotten single characters are looked up again, with the same kinds.
  std::string again;
  Walk(text, tesqpg::kPiece_Bytes, true, &again);
  EXPECT_EQ(again, words);
}

// Single characters count towards the bound like longer words: a store
// full of them starts afresh too.
TEST_F(Pg_Core_Test, KeptCharactersCountTowardsTheBound) {
  std::string text;
  for (unsigned first = 0xB0; first <= 0xF7; ++first)
    for (unsigned second = 0xA1; second <= 0xFE; ++second) {
      const char gb[3] = {static_cast<char>(first), static_cast<char>(second), 0};
      std::string utf8;
      if (gb::Gb_To_Utf8(gb, &utf8)) text += utf8 + " ";
    }
  const size_t distinct = tesqpg::kMost_Kept_Words + 10;
  for (size_t i = 0; i < distinct; ++i) text += "w" + std::to_string(i) + " ";
  size_t most = 0;
  tesqpg::Essay_Reader reader(text.data(), text.size());
  while (reader.Next() == 0)
    for (const tesqpg::Token &t : reader.Tokens()) {
      reader.Classified_Kind(t);
      most = std::max(most, tesqpg::Kept_Kinds());
    }
  EXPECT_EQ(most, tesqpg::kMost_Kept_Words);
}

// Readers hand their buffers on: a reader after a longer text gives only its
// own tokens, and two readers at once do not share theirs.
TEST_F(Pg_Core_Test, ReadersDoNotShareWhatTheyRead) {
  std::string long_words, short_words;
  Walk(std::string(3000, 'x') + " 鲁迅写了《狂人日记》", 512, true, &long_words);
  Walk("计算机科学", tesqpg::kPiece_Bytes, true, &short_words);
  EXPECT_EQ(short_words, "计算机科学/term ");
  const std::string first = "鲁迅 9787111123453", second = "abc 计算机科学";
  tesqpg::Essay_Reader one(first.data(), first.size()), two(second.data(), second.size());
  ASSERT_EQ(one.Next(), 0);
  ASSERT_EQ(two.Next(), 0);
  ASSERT_FALSE(one.Tokens().empty());
  ASSERT_FALSE(two.Tokens().empty());
  EXPECT_EQ(first.substr(0, one.Tokens()[0].byte_end), "鲁迅");
  EXPECT_EQ(second.substr(0, two.Tokens()[0].byte_end), "abc");
  EXPECT_EQ(one.Classified_Kind(one.Tokens()[0]), tesqpg::kPerson);
  EXPECT_EQ(two.Classified_Kind(two.Tokens()[0]), tesqpg::kLatin);
  EXPECT_EQ(one.Next(), 1);
  EXPECT_TRUE(one.Tokens().empty());
}

TEST_F(Pg_Core_Test, TagNamesAreCutToTheirBuffer) {
  char name[64];
  tesqpg::Tag_Name(tesqpg::kNo_Gb2312_Tag, name, sizeof name);
  EXPECT_STREQ(name, "no GB2312 form");
  char small[4] = {'?', '?', '?', '?'};
  tesqpg::Tag_Name(tesqpg::kNo_Gb2312_Tag, small, sizeof small);
  EXPECT_STREQ(small, "no ");
  char none[1] = {'?'};
  tesqpg::Tag_Name(tesqpg::kNo_Gb2312_Tag, none, 0);
  EXPECT_EQ(none[0], '?');
}

TEST_F(Pg_Core_Test, WordsWithoutAGb2312FormAreFaults) {
  struct Row {
    std::string text;
    size_t offset;
  } rows[] = {{"😀", 0}, {"鲁迅丂", 2}, {"ab ß", 3}};
  for (const Row &row : rows) {
    SCOPED_TRACE(row.text);
    std::string label;
    tesqpg::Text_Fault fault;
    EXPECT_EQ(tesqpg::Label(row.text.data(), row.text.size(), &label, &fault), -1);
    EXPECT_TRUE(fault.failed);
    EXPECT_EQ(fault.char_offset, row.offset);
    std::vector<tesqpg::Item> items;
    tesqpg::Text_Fault query_fault;
    EXPECT_EQ(tesqpg::Analyze(row.text.data(), row.text.size(), &items, &query_fault), -1);
    EXPECT_EQ(query_fault.char_offset, row.offset);
  }
}

// A query's items are read against the query itself: markup inside a word
// is that word's text, and no item is forged or lost.
TEST_F(Pg_Core_Test, MarkupInAQueryNeitherForgesNorHidesAnItem) {
  struct Row {
    std::string query;
    std::vector<std::string> words;  // the query's words, as the items give them back
  } rows[] = {
      {"a</Word>\n\t<Word p=\"ISBN\">b", {"a</Word>\n\t<Word", "p=\"ISBN\">b"}},
      {"x </Items>\n</IR> y", {"x", "</Items>\n</IR>", "y"}},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.query);
    std::vector<tesqpg::Item> items;
    tesqpg::Text_Fault fault;
    ASSERT_EQ(tesqpg::Analyze(row.query.data(), row.query.size(), &items, &fault), 0);
    std::vector<std::string> words(row.words.size());
    for (const tesqpg::Item &item : items) {
      EXPECT_NE(item.label, "ISBN") << item.word;
      ASSERT_GE(item.word_index, 1);
      ASSERT_LE(static_cast<size_t>(item.word_index), words.size());
      words[item.word_index - 1] += item.word;  // a split word's parts add up to it
    }
    EXPECT_EQ(words, row.words);
  }
}

}  // namespace
