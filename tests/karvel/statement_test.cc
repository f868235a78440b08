// The lookup statement parser: what it splits, and what it refuses.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "statement.h"

namespace {

using karvel::Lookup_Statement;
using karvel::Statement_Parse;

const std::string kLabel = "\xB8\xBD\xBC\xD3\xD0\xC5\xCF\xA2";  // 附加信息
const std::string kWord = "\xB4\xCA";                           // 词
const std::string kHead = "select " + kLabel + " from 420_DIC where " + kWord + "= ' ";

struct Parse_Case {
  const char *name;
  std::string sql;
  std::string column, table, key, value;
};

void PrintTo(const Parse_Case &c, std::ostream *os) { *os << c.name; }

class Parse_Accepts : public testing::TestWithParam<Parse_Case> {};

TEST_P(Parse_Accepts, SplitsTheStatement) {
  const Parse_Case &c = GetParam();
  Lookup_Statement s;
  ASSERT_TRUE(Statement_Parse(c.sql, &s)) << c.sql;
  EXPECT_EQ(s.column, c.column);
  EXPECT_EQ(s.table, c.table);
  EXPECT_EQ(s.key_column, c.key);
  EXPECT_EQ(s.value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Statements, Parse_Accepts,
    testing::Values(
        Parse_Case{"classifier", kHead + "abc'", kLabel, "420_DIC", kWord, " abc"},
        Parse_Case{"classifier_chinese", kHead + "\xC8\xCB\xB9\xA4'", kLabel, "420_DIC", kWord, " \xC8\xCB\xB9\xA4"},
        Parse_Case{"empty_word", kHead + "'", kLabel, "420_DIC", kWord, " "},
        Parse_Case{"doubled_apostrophe", kHead + "O''Reilly'", kLabel, "420_DIC", kWord, " O'Reilly"},
        Parse_Case{"injection_stays_a_value", kHead + "x'' or ''1''=''1'", kLabel, "420_DIC", kWord,
                   " x' or '1'='1"},
        Parse_Case{"upper_case_keywords", "SELECT " + kLabel + " FROM 420_DIC WHERE " + kWord + " = 'a'", kLabel,
                   "420_DIC", kWord, "a"},
        Parse_Case{"quoted_identifiers", "select \"" + kLabel + "\" from [420_DIC] where `" + kWord + "`='a'",
                   kLabel, "420_DIC", kWord, "a"},
        Parse_Case{"doubled_quote_in_identifier", "select \"a\"\"b\" from t where k='v'", "a\"b", "t", "k", "v"},
        Parse_Case{"trailing_semicolon", kHead + "a' ;  ", kLabel, "420_DIC", kWord, " a"},
        Parse_Case{"blanks_everywhere", "\n\tselect\t" + kLabel + "\r\nfrom 420_DIC  where " + kWord + "\t=\t'a'",
                   kLabel, "420_DIC", kWord, "a"},
        Parse_Case{"gb2312_value_bytes", kHead + "\xA3\xA7\xA1\xAE'", kLabel, "420_DIC", kWord, " \xA3\xA7\xA1\xAE"}),
    [](const testing::TestParamInfo<Parse_Case> &info) { return std::string(info.param.name); });

struct Refuse_Case {
  const char *name;
  std::string sql;
};

void PrintTo(const Refuse_Case &c, std::ostream *os) { *os << c.name; }

class Parse_Refuses : public testing::TestWithParam<Refuse_Case> {};

TEST_P(Parse_Refuses, Malformed) {
  Lookup_Statement s;
  EXPECT_FALSE(Statement_Parse(GetParam().sql, &s)) << GetParam().sql;
}

INSTANTIATE_TEST_SUITE_P(
    Statements, Parse_Refuses,
    testing::Values(Refuse_Case{"empty", ""}, Refuse_Case{"blank", "   \n"}, Refuse_Case{"select_only", "select"},
                    Refuse_Case{"unterminated_value", kHead + "abc"},
                    Refuse_Case{"lone_apostrophe_in_word", kHead + "x' or '1'='1'"},
                    Refuse_Case{"second_statement", kHead + "a'; drop table x"},
                    Refuse_Case{"two_semicolons", kHead + "a';;"},
                    Refuse_Case{"comment_after", kHead + "a' --"},
                    Refuse_Case{"missing_equals", "select a from t where k 'v'"},
                    Refuse_Case{"number_not_string", "select a from t where k = 1"},
                    Refuse_Case{"and_clause", "select a from t where k = 'v' and 1"},
                    Refuse_Case{"insert", "insert into t values ('a', 'b')"},
                    Refuse_Case{"unterminated_identifier", "select \"a from t where k = 'v'"},
                    Refuse_Case{"unterminated_bracket", "select [a from t where k = 'v'"},
                    Refuse_Case{"empty_quoted_identifier", "select \"\" from t where k = 'v'"},
                    Refuse_Case{"keywords_misspelt", "selec a from t where k = 'v'"},
                    Refuse_Case{"nul_inside", std::string("select a from t\0 where k = 'v'", 30)},
                    Refuse_Case{"binary_garbage", std::string("\xFF\xFE\x00\x01'''", 7)}),
    [](const testing::TestParamInfo<Refuse_Case> &info) { return std::string(info.param.name); });

TEST(Statement_Word, DropsExactlyOneLeadingBlank) {
  EXPECT_EQ(karvel::Statement_Word(" abc"), "abc");
  EXPECT_EQ(karvel::Statement_Word("abc"), "abc");
  EXPECT_EQ(karvel::Statement_Word("  abc"), " abc");
  EXPECT_EQ(karvel::Statement_Word(" "), "");
  EXPECT_EQ(karvel::Statement_Word(""), "");
}

}  // namespace
