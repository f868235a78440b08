// tesq terms import / export on real database files: the checks with their
// line numbers, all-or-nothing imports, merging, and the round trip.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <cstdlib>
#include <ostream>
#include <string>

#include "test_support.h"

namespace karvel_test {
namespace {

struct Run_Result {
  int status;
  std::string out, err;
};

class Terms_Tool : public testing::Test {
 protected:
  void SetUp() override { db_ = dir_.Path("terms.db"); }

  // Runs `tesq terms ARGS` (ARGS already quoted for the shell).
  Run_Result Tesq(const std::string &args) {
    const std::string out = dir_.Path("stdout"), err = dir_.Path("stderr");
    const std::string command = std::string("'") + TESQ_TOOL + "' terms " + args + " >'" + out + "' 2>'" + err + "'";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, Read_File(out), Read_File(err)};
  }
  Run_Result Import(const std::string &content, const std::string &options = "") {
    Write_File(dir_.Path("in.tsv"), content);
    return Tesq("import " + options + " --db '" + db_ + "' '" + dir_.Path("in.tsv") + "'");
  }
  std::string Export() {
    const Run_Result r = Tesq("export --db '" + db_ + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    return r.out;
  }

  Temp_Dir dir_;
  std::string db_;
};

TEST_F(Terms_Tool, ImportThenExport) {
  const Run_Result r = Import("人工智能\t主题词\n情报学报\t刊名\n空标签\t\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Export(), "人工智能\t主题词\n情报学报\t刊名\n空标签\t\n");
  // Karvel reads what the tool wrote.
  Set_Env("TESQ_DB", db_);
  EXPECT_EQ(Lookup("情报学报"), "刊名");
  EXPECT_EQ(Lookup("空标签"), "");
  Set_Env("TESQ_DB", "");
}

TEST_F(Terms_Tool, LaterLineForTheSameWordWins) {
  ASSERT_EQ(Import("词\t一\n词\t二\n").status, 0);
  EXPECT_EQ(Export(), "词\t二\n");
}

TEST_F(Terms_Tool, AcceptsCrLfByteOrderMarkAndBlankLines) {
  ASSERT_EQ(Import("\xEF\xBB\xBF甲\t一\r\n\r\n乙\t二\r\n\n").status, 0);
  EXPECT_EQ(Export(), "乙\t二\n甲\t一\n");
}

TEST_F(Terms_Tool, ExportImportRoundTrip) {
  ASSERT_EQ(Import("北京大学学报\t刊名\nO'Reilly\t出版单位\n127\t" + std::string(127, 'x') + "\n α\tβ\n").status, 0);
  const std::string first = Export();
  Write_File(dir_.Path("export.tsv"), first);
  db_ = dir_.Path("copy.db");
  ASSERT_EQ(Tesq("import --db '" + db_ + "' '" + dir_.Path("export.tsv") + "'").status, 0);
  EXPECT_EQ(Export(), first);
  // An export to a file holds the same text.
  ASSERT_EQ(Tesq("export --db '" + db_ + "' '" + dir_.Path("file.tsv") + "'").status, 0);
  EXPECT_EQ(Read_File(dir_.Path("file.tsv")), first);
}

TEST_F(Terms_Tool, MergeKeepsOtherRowsAndReplaceEmptiesTheTable) {
  ASSERT_EQ(Import("甲\t一\n乙\t二\n").status, 0);
  ASSERT_EQ(Import("乙\t三\n丙\t四\n").status, 0);
  EXPECT_EQ(Export(), "丙\t四\n乙\t三\n甲\t一\n");
  ASSERT_EQ(Import("丁\t五\n", "--replace").status, 0);
  EXPECT_EQ(Export(), "丁\t五\n");
}

struct Bad_Case {
  const char *name;
  std::string content;
  int line;
  std::string message;
};

void PrintTo(const Bad_Case &c, std::ostream *os) { *os << c.name; }

class Terms_Tool_Bad : public Terms_Tool, public testing::WithParamInterface<Bad_Case> {};

TEST_P(Terms_Tool_Bad, NamesFileAndLineAndChangesNothing) {
  const Bad_Case &c = GetParam();
  for (const std::string options : {"", "--replace"}) {
    SCOPED_TRACE("options: " + options);
    ASSERT_EQ(Import("旧词\t旧标签\n", "--replace").status, 0);
    const std::string before = Export();
    const Run_Result r = Import(c.content, options);
    EXPECT_EQ(r.status, 1);
    const std::string where = dir_.Path("in.tsv") + ":" + std::to_string(c.line) + ": ";
    EXPECT_NE(r.err.find(where), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(Export(), before);
  }
  // Into a new database: no file is left behind.
  db_ = dir_.Path("new.db");
  EXPECT_EQ(Import(c.content).status, 1);
  EXPECT_FALSE(File_Exists(db_));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Terms_Tool_Bad,
    testing::Values(Bad_Case{"missing_tab", "甲\t一\n乙 二\n", 2, "missing tab"},
                    Bad_Case{"empty_word", "甲\t一\n\t二\n", 2, "empty word"},
                    Bad_Case{"two_tabs", "甲\t一\t二\n", 1, "more than one tab"},
                    Bad_Case{"label_of_128_bytes", "甲\t一\n乙\t" + std::string(128, 'x') + "\n", 2,
                             "128 bytes in GB2312"},
                    Bad_Case{"label_of_64_chinese_characters", "乙\t" + [] {
                      std::string s;
                      for (int i = 0; i < 64; ++i) s += "题";
                      return s;
                    }() + "\n", 1, "128 bytes in GB2312"},
                    Bad_Case{"word_outside_gb2312", "甲\t一\n\n한국\t二\n", 3, "no GB2312 form"},
                    Bad_Case{"label_outside_gb2312", "甲\t\xE2\x82\xAC\n", 1, "no GB2312 form"},
                    Bad_Case{"invalid_utf8", "甲\t一\n乙\t\xC8\xCB\n", 2, "invalid UTF-8"},
                    Bad_Case{"nul_byte", std::string("甲\t一\n乙\0\t二\n", 17), 2, "NUL"},
                    // The bad line comes after many good ones: all of them are dropped.
                    Bad_Case{"late_bad_line", [] {
                      std::string s;
                      for (int i = 0; i < 5000; ++i) s += "词" + std::to_string(i) + "\t标签\n";
                      return s + "坏行\n";
                    }(), 5001, "missing tab"}),
    [](const testing::TestParamInfo<Bad_Case> &info) { return std::string(info.param.name); });

TEST_F(Terms_Tool, MissingSourceFileIsAnError) {
  const Run_Result r = Tesq("import --db '" + db_ + "' '" + dir_.Path("nope.tsv") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nope.tsv"), std::string::npos) << r.err;
  EXPECT_FALSE(File_Exists(db_));
}

TEST_F(Terms_Tool, ExportRefusesRowsThatCannotBeReadBack) {
  Write_Database(db_, {{"好", "一"}, {"坏\t词", "二"}});
  const Run_Result r = Tesq("export --db '" + db_ + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("tab"), std::string::npos) << r.err;
  Write_Database(db_, {{"好", std::nullopt}});
  EXPECT_EQ(Tesq("export --db '" + db_ + "'").status, 1);
  Write_Database(db_, {{"好", "한"}});
  EXPECT_EQ(Tesq("export --db '" + db_ + "'").status, 1);
}

TEST_F(Terms_Tool, ExportOfAMissingDatabaseIsAnErrorAndCreatesNothing) {
  const Run_Result r = Tesq("export --db '" + db_ + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_FALSE(File_Exists(db_));
}

TEST_F(Terms_Tool, UsageErrors) {
  EXPECT_EQ(Tesq("").status, 2);
  EXPECT_EQ(Tesq("frobnicate").status, 2);
  EXPECT_EQ(Tesq("import").status, 2);
  EXPECT_EQ(Tesq("import --db").status, 2);
  EXPECT_EQ(Tesq("import --bogus x").status, 2);
  EXPECT_EQ(Tesq("export --replace").status, 2);
  EXPECT_EQ(Tesq("--help").status, 0);
}

TEST_F(Terms_Tool, MergesIntoATableMadeByHand) {
  // A table someone made with the sqlite3 shell, keyed on the word.
  Write_Database(db_, {{"甲", "一"}});
  ASSERT_EQ(Import("乙\t二\n").status, 0);
  EXPECT_EQ(Export(), "乙\t二\n甲\t一\n");
}

TEST_F(Terms_Tool, StoresTheFormLookupsAskFor) {
  // U+30FB and U+00B7 are both GB2312 A1A4; the lookup turns A1A4 into U+00B7.
  ASSERT_EQ(Import("A\xE3\x83\xBB" "B\t标签\n").status, 0);
  EXPECT_EQ(Export(), "A\xC2\xB7" "B\t标签\n");
  Set_Env("TESQ_DB", db_);
  EXPECT_EQ(Lookup("A\xC2\xB7" "B"), "标签");
  Set_Env("TESQ_DB", "");
}

}  // namespace
}  // namespace karvel_test
