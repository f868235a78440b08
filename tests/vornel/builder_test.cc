// The text sources of the lexicon and the dictionaries: the information
// string rule, parse errors with line numbers, and the GB2312 filter.
#include <gtest/gtest.h>

#include "dict_sources.h"
#include "test_support.h"

namespace {

using tesq_tools::Info_String_Ok;

TEST(Sources, InformationStringRule) {
  const struct {
    const char *info;
    size_t max;
    bool ok;
  } cases[] = {
      {"", 99, true},
      {"b:0.5;i:0.25;e:0.125;", 299, true},
      {"x:0.6;fx:0.3;", 99, true},
      {"x:0.6;fx:0.3;", 12, false},  // longer than the buffer allows
      {"x:0.6", 99, false},          // no closing semicolon
      {"x0.6;", 99, false},
      {":0.6;", 99, false},
      {"x:;", 99, false},
      {"x:abc;", 99, false},
      {"x:1e-3;dm:-2;", 99, true},
      {"x:0.6;;", 99, false},
  };
  for (const auto &c : cases) EXPECT_EQ(Info_String_Ok(c.info, c.max), c.ok) << c.info;
}

TEST(Sources, LexiconTextKeepsGbHanWordsAndTheTotal) {
  const std::string dir = vornel_test::Temp_Dir("sources");
  vornel_test::Write_Bytes(dir + "/lex.txt",
                           "# comment\n北京 100 ns\nT恤 5 n\n龘 3 n\n北京 200 ns\n大学 50 n\r\n\n");
  tesq_tools::Lexicon_Source lex;
  std::string error;
  ASSERT_TRUE(tesq_tools::Read_Lexicon_Text(dir + "/lex.txt", &lex, &error)) << error;
  EXPECT_EQ(lex.total, 358u);  // every line counts towards the total
  EXPECT_EQ(lex.dropped, 2u);  // T恤 (ASCII), 龘 (no GB2312 form)
  ASSERT_EQ(lex.entries.size(), 2u);
  EXPECT_EQ(lex.entries[0].word, vornel_test::Gb("北京"));
  EXPECT_EQ(lex.entries[0].frequency, 200u);
  // Written back and read again: the same words and the same total.
  ASSERT_TRUE(tesq_tools::Write_Lexicon_Text(dir + "/out.txt", lex, &error)) << error;
  tesq_tools::Lexicon_Source again;
  ASSERT_TRUE(tesq_tools::Read_Lexicon_Text(dir + "/out.txt", &again, &error)) << error;
  EXPECT_EQ(again.total, 358u);
  EXPECT_EQ(again.entries.size(), 2u);
}

TEST(Sources, ErrorsNameTheLine) {
  const std::string dir = vornel_test::Temp_Dir("sources");
  const struct {
    const char *text;
    bool lexicon;
    const char *where;
  } cases[] = {
      {"北京 100 ns\n大学 x n\n", true, ":2:"},
      {"北京 100 ns\n大学 5 zzz\n", true, ":2:"},
      {"北京 100 ns extra\n", true, ":1:"},
      {"#total 0\n", true, ":1:"},
      {"北京\tf:1;\n上海 f:2;\n", false, ":2:"},
      {"北京\tf:1;\n北京\tf:2;\n", false, ":2:"},
      {"# c\n北京\tf:1\n", false, ":2:"},
      {"北京\tf:1;\n\xE9\xBE\x98\tf:1;\n", false, ":2:"},
  };
  for (const auto &c : cases) {
    vornel_test::Write_Bytes(dir + "/src.txt", c.text);
    std::string error;
    bool ok;
    if (c.lexicon) {
      tesq_tools::Lexicon_Source lex;
      ok = tesq_tools::Read_Lexicon_Text(dir + "/src.txt", &lex, &error);
    } else {
      tesq_tools::Dict_Entries entries;
      ok = tesq_tools::Read_Dict_Text(dir + "/src.txt", 99, &entries, &error);
    }
    EXPECT_FALSE(ok) << c.text;
    EXPECT_NE(error.find(c.where), std::string::npos) << c.text << " -> " << error;
  }
}

}  // namespace
