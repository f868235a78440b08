// tesq terms import / export / init on real database files: the checks with
// their line numbers, all-or-nothing imports, merging, and the round trip.
// With KARVEL_TEST_STORE=postgresql (under scripts/with_postgres.sh) the
// same tests run against a PostgreSQL database with no term table yet;
// those about files of their own are skipped.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"
#ifdef TESQ_TEST_HAS_PG
#include "pg_support.h"
#endif

namespace karvel_test {
namespace {

struct Run_Result {
  int status;
  std::string out, err;
};

class Terms_Tool : public testing::Test {
 protected:
  void SetUp() override {
    db_ = dir_.Path("terms.db");
    if (On_Postgres()) {
#ifdef TESQ_TEST_HAS_PG
      db_ = Pg_Empty_Database_Uri(Test_Tag());
#endif
      if (db_.empty()) GTEST_SKIP() << "TESQ_TEST_PG_URI is unset: run under scripts/with_postgres.sh";
    }
  }

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
  const Run_Result r = Import("人工智能\t主题词\n情报学报\t刊名\nAT&T <x>\t机构名\n");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Export(), "AT&T <x>\t机构名\n人工智能\t主题词\n情报学报\t刊名\n");
  // Karvel reads what the tool wrote. (Markup in a word is allowed: the
  // document carries the caller's word, never the table's.)
  Set_Env("TESQ_DB", db_);
  EXPECT_EQ(Lookup("情报学报"), "刊名");
  EXPECT_EQ(Lookup("AT&T <x>"), "机构名");
  Set_Env("TESQ_DB", "");
}

// init makes the table in a database that has none, and keeps the terms of
// one that has them.
TEST_F(Terms_Tool, InitCreatesTheTableAndKeepsTerms) {
  Run_Result r = Tesq("init --db '" + db_ + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("has the table 420_DIC"), std::string::npos) << r.err;
  EXPECT_EQ(Export(), "");
  ASSERT_EQ(Import("甲\t一\n").status, 0);
  r = Tesq("init --db '" + db_ + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Export(), "甲\t一\n");
  EXPECT_EQ(Tesq("init --db '" + db_ + "' extra").status, 2);
}

TEST_F(Terms_Tool, AServerThatRefusesThePasswordIsAnErrorThatDoesNotShowIt) {
  if (!On_Postgres()) GTEST_SKIP() << "a test of PostgreSQL";
  const char *bad = std::getenv("TESQ_TEST_PG_BAD_URI");
  ASSERT_NE(bad, nullptr);
  const std::string password = std::string(bad).substr(std::string(bad).find(":wrong-") + 1,
                                                       std::string(bad).find('@') - std::string(bad).find(":wrong-") - 1);
  db_ = bad;
  for (const std::string action : {"import", "export", "init"}) {
    SCOPED_TRACE(action);
    const Run_Result r = action == "import" ? Import("甲\t一\n") : Tesq(action + " --db '" + db_ + "'");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("password authentication failed"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(password), std::string::npos) << r.err;
  }
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
  if (On_Postgres()) return;
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
                    // One CR before the line feed ends the line; a second
                    // would be part of the label.
                    Bad_Case{"label_ending_in_two_crs", "甲\t一\r\n乙\t二\r\r\n", 2, "control character (0x0D)"},
                    Bad_Case{"label_with_cr_inside", "甲\t一\r二\n", 1, "control character (0x0D)"},
                    Bad_Case{"word_with_control_character", "甲\x01\t一\n", 1, "the word holds a control character (0x01)"},
                    Bad_Case{"label_with_escape", "甲\t\x1B[1m\n", 1, "control character (0x1B)"},
                    Bad_Case{"label_with_delete", "甲\t一\x7F\n", 1, "control character (0x7F)"},
                    Bad_Case{"empty_label", "甲\t一\n乙\t\n", 2, "empty label"},
                    Bad_Case{"empty_label_crlf", "乙\t\r\n", 1, "empty label"},
                    Bad_Case{"label_with_quote", "甲\t一\"二\n", 1, "holds '\"'"},
                    Bad_Case{"label_with_less_than", "甲\t<一>\n", 1, "holds '<'"},
                    Bad_Case{"label_with_greater_than", "甲\t一>\n", 1, "holds '>'"},
                    Bad_Case{"label_with_ampersand", "甲\tA&amp;B\n", 1, "holds '&'"},
                    // The bad line comes after many good ones: all of them are dropped.
                    Bad_Case{"late_bad_line", [] {
                      std::string s;
                      for (int i = 0; i < 5000; ++i) s += "词" + std::to_string(i) + "\t标签\n";
                      return s + "坏行\n";
                    }(), 5001, "missing tab"}),
    [](const testing::TestParamInfo<Bad_Case> &info) { return std::string(info.param.name); });

TEST_F(Terms_Tool, MissingSourceFileIsAnError) {
  FILE_STORE_ONLY();
  const Run_Result r = Tesq("import --db '" + db_ + "' '" + dir_.Path("nope.tsv") + "'");
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("nope.tsv"), std::string::npos) << r.err;
  EXPECT_FALSE(File_Exists(db_));
}

TEST_F(Terms_Tool, ExportRefusesRowsThatCannotBeReadBack) {
  FILE_STORE_ONLY();
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
  FILE_STORE_ONLY();
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
  FILE_STORE_ONLY();
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

// --- unreadable sources -------------------------------------------------------

std::string Many_Terms(int n, const std::string &tag) {
  std::string s;
  for (int i = 0; i < n; ++i) s += "词" + tag + std::to_string(i) + "\t标签" + tag + "\n";
  return s;
}

TEST_F(Terms_Tool, UnreadableSourceIsAnErrorAndChangesNothing) {
  ASSERT_EQ(Import(Many_Terms(38, "旧")).status, 0);
  const std::string before = Export();
  ASSERT_EQ(std::count(before.begin(), before.end(), '\n'), 38);
  struct Source {
    const char *name;
    std::string args;  // after "import --replace --db DB"
    std::string message;
  };
  const Source sources[] = {
      {"standard input closed", " - <&-", "cannot read standard input"},
      {"standard input a directory", " - <'" + dir_.dir() + "'", "standard input: it is a directory"},
      {"a directory named as the source", " '" + dir_.dir() + "'", "is a directory"},
  };
  for (const Source &source : sources) {
    SCOPED_TRACE(source.name);
    const Run_Result r = Tesq("import --replace --db '" + db_ + "'" + source.args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(source.message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("nothing imported"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("0 terms"), std::string::npos) << r.err;
    EXPECT_EQ(Export(), before);
  }
}

// --- where the database and the export go --------------------------------------

TEST_F(Terms_Tool, ImportThroughASymbolicLinkFillsTheLinkedDatabase) {
  FILE_STORE_ONLY();
  ASSERT_EQ(Import("甲\t一\n").status, 0);
  const std::string alias = dir_.Path("alias.db");
  ASSERT_EQ(symlink(db_.c_str(), alias.c_str()), 0);
  Write_File(dir_.Path("more.tsv"), "乙\t二\n");
  const Run_Result r = Tesq("import --db '" + alias + "' '" + dir_.Path("more.tsv") + "'");
  ASSERT_EQ(r.status, 0) << r.err;
  struct stat info;
  ASSERT_EQ(lstat(alias.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link was replaced";
  EXPECT_EQ(Export(), "乙\t二\n甲\t一\n");
}

TEST_F(Terms_Tool, ExportThroughASymbolicLinkWritesItsTarget) {
  FILE_STORE_ONLY();
  ASSERT_EQ(Import("甲\t一\n").status, 0);
  const std::string target = dir_.Path("target.tsv"), link = dir_.Path("link.tsv");
  Write_File(target, "old\n");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  ASSERT_EQ(Tesq("export --db '" + db_ + "' '" + link + "'").status, 0);
  struct stat info;
  ASSERT_EQ(lstat(link.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode)) << "the link was replaced";
  EXPECT_EQ(Read_File(target), "甲\t一\n");
}

// What may not be replaced: each is refused with exit 1, left as it was,
// and nothing blocks (a FIFO opened for writing would wait for a reader).
TEST_F(Terms_Tool, DestinationsThatAreNotRegularFilesAreRefused) {
  ASSERT_EQ(Import("甲\t一\n").status, 0);
  const std::string fifo = dir_.Path("fifo"), dir = dir_.Path("dir"), dangling = dir_.Path("dangling");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  // A dangling link is refused: following it would create a file wherever
  // it points.
  ASSERT_EQ(symlink(dir_.Path("nowhere/x").c_str(), dangling.c_str()), 0);
  const std::string dangling_to_dir = dir_.Path("dangling2");
  ASSERT_EQ(symlink(dir_.Path("absent.db").c_str(), dangling_to_dir.c_str()), 0);
  struct Case {
    std::string path, message;
  };
  std::vector<Case> cases = {
      {fifo, "not a regular file"},
      {dir, "is a directory"},
      {dangling, "symbolic link to a missing file"},
      {dangling_to_dir, "symbolic link to a missing file"},
  };
  // The device of /dev/full, made here (root only), so that a tool that
  // replaced it would only replace this test's own node, never /dev's.
  const std::string full = dir_.Path("full");
  if (mknod(full.c_str(), S_IFCHR | 0600, makedev(1, 7)) == 0) cases.push_back({full, "not a regular file"});
  Write_File(dir_.Path("in.tsv"), "乙\t二\n");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    struct stat before, after;
    ASSERT_EQ(lstat(c.path.c_str(), &before), 0);
    for (const std::string &command : {"timeout 20 '" TESQ_TOOL "' terms export --db '" + db_ + "' '" + c.path + "'",
                                      "timeout 20 '" TESQ_TOOL "' terms import --db '" + c.path + "' '" +
                                          dir_.Path("in.tsv") + "'"}) {
      SCOPED_TRACE(command);
      const std::string err_file = dir_.Path("err");
      const int raw = std::system((command + " 2>'" + err_file + "' </dev/null").c_str());
      ASSERT_TRUE(WIFEXITED(raw));
      EXPECT_EQ(WEXITSTATUS(raw), 1);
      const std::string err = Read_File(err_file);
      EXPECT_NE(err.find(c.message), std::string::npos) << err;
      ASSERT_EQ(lstat(c.path.c_str(), &after), 0);
      EXPECT_EQ(after.st_mode, before.st_mode);
      EXPECT_EQ(after.st_ino, before.st_ino);
    }
  }
  EXPECT_FALSE(File_Exists(dir_.Path("absent.db")));
  EXPECT_EQ(Export(), "甲\t一\n");
}

// `tesq word --db PATH` refuses what is not a term database at once, saying
// what it is.
TEST_F(Terms_Tool, DbOptionSaysWhatThePathIs) {
  FILE_STORE_ONLY();
  const std::string fifo = dir_.Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::string path, message;
  };
  const Case cases[] = {
      {dir_.dir(), "is a directory, not a term database"},
      {fifo, "is not a regular file"},
      {"/dev/full", "is not a regular file"},
      {dir_.Path("missing.db"), "does not exist"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path);
    const std::string err_file = dir_.Path("err");
    const int raw = std::system(("timeout 20 '" TESQ_TOOL "' word --db '" + c.path + "' abc 2>'" + err_file + "'"
                                 " >/dev/null </dev/null").c_str());
    ASSERT_TRUE(WIFEXITED(raw));
    EXPECT_EQ(WEXITSTATUS(raw), 1);
    EXPECT_NE(Read_File(err_file).find("term database '" + c.path + "' " + c.message), std::string::npos)
        << Read_File(err_file);
  }
}

// --- imports at the same time --------------------------------------------------

// Starts one `tesq terms import` per source at once and returns their exit
// statuses.
std::vector<int> Import_Concurrently(const std::string &db, const std::vector<std::string> &sources, bool replace) {
  std::vector<pid_t> pids;
  for (const std::string &source : sources) {
    const pid_t pid = fork();
    if (pid == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      if (replace)
        execl(TESQ_TOOL, TESQ_TOOL, "terms", "import", "--replace", "--db", db.c_str(), source.c_str(), (char *)nullptr);
      else
        execl(TESQ_TOOL, TESQ_TOOL, "terms", "import", "--db", db.c_str(), source.c_str(), (char *)nullptr);
      _exit(127);
    }
    pids.push_back(pid);
  }
  std::vector<int> statuses;
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  return statuses;
}

TEST_F(Terms_Tool, ConcurrentImportsTakeTurnsAndLoseNothing) {
  FILE_STORE_ONLY();
  constexpr int kImports = 6;
  std::vector<std::string> sources, exports;
  for (int i = 0; i < kImports; ++i) {
    const std::string text = Many_Terms(300, std::string(1, static_cast<char>('a' + i)));
    sources.push_back(dir_.Path("set" + std::to_string(i) + ".tsv"));
    Write_File(sources.back(), text);
    // The export of this set alone, for comparing.
    db_ = dir_.Path("alone" + std::to_string(i) + ".db");
    ASSERT_EQ(Tesq("import --db '" + db_ + "' '" + sources.back() + "'").status, 0);
    exports.push_back(Export());
  }
  for (const bool existing : {false, true}) {
    for (const bool replace : {false, true}) {
      SCOPED_TRACE(std::string(existing ? "existing database, " : "new database, ") + (replace ? "--replace" : "merge"));
      db_ = dir_.Path(std::string(existing ? "existing" : "new") + (replace ? "-replace" : "-merge") + ".db");
      if (existing) {
        ASSERT_EQ(Import("旧\t旧标签\n").status, 0);
      }
      for (const int status : Import_Concurrently(db_, sources, replace)) EXPECT_EQ(status, 0);
      const std::string now = Export();
      if (replace) {
        // Exactly one whole set, the last one to finish.
        EXPECT_EQ(std::count(exports.begin(), exports.end(), now), 1) << now.substr(0, 200);
      } else {
        // Every term of every set, and the one that was there.
        size_t lines = std::count(now.begin(), now.end(), '\n');
        EXPECT_EQ(lines, kImports * 300u + (existing ? 1 : 0));
        for (const std::string &one : exports) EXPECT_NE(now.find(one.substr(0, one.find('\n') + 1)), std::string::npos);
        if (existing) {
          EXPECT_NE(now.find("旧\t旧标签\n"), std::string::npos);
        }
      }
    }
  }
}

}  // namespace
}  // namespace karvel_test
