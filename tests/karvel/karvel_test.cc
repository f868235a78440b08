// The three Karvel calls against real database files: values, statements,
// handles, and databases that are missing, corrupt or locked.
//
// The same program runs against each store: a database file with lookups
// answered from the copy in memory (by default), the file alone
// (TESQ_DB_COPY=0), and a PostgreSQL table (KARVEL_TEST_STORE=postgresql,
// under scripts/with_postgres.sh; skipped without TESQ_TEST_PG_URI). Tests
// about files of their own run on files only.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "karvel/karvel.h"
#include "test_support.h"
#ifdef TESQ_TEST_HAS_PG
#include "pg_support.h"
#endif

namespace karvel_test {
namespace {

const char kLabelColumn[] = "\xB8\xBD\xBC\xD3\xD0\xC5\xCF\xA2";  // 附加信息

std::string Repeat(const std::string &s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// 63 Chinese characters and one letter: 127 bytes in GB2312; 64 characters:
// 128 bytes, one more than the classifier's buffer holds with its terminator.
const std::string kLabel127 = Repeat("题", 63) + "a";
const std::string kLabel128 = Repeat("题", 64);

std::vector<Row> Sample_Rows() {
  return {
      {"人工智能", "主题词"},
      {"abc", "ABC label"},
      {"空标签", ""},
      {"长标签", kLabel127},
      {"太长", kLabel128},
      {"外文", "한국어"},               // no GB2312 form
      {"O'Reilly", "出版单位"},
      {"1234", "数字"},
      {"x", "字母"},
      {"无值", std::nullopt},          // NULL label
      {"带零", std::string("a\0b", 3)},  // a NUL byte inside
      {" 前空", "前有空格"},
      // Labels that an older import stored and the query document cannot
      // carry.
      {"回车", "刊名\r"},
      {"换行", "刊\n名"},
      {"尖括号", "a<b>"},
      {"和号", "A&B"},
      {"引号", "say \"x\""},
  };
}

class Karvel_Test : public testing::Test {
 protected:
  void SetUp() override {
    if (On_Postgres()) {
#ifdef TESQ_TEST_HAS_PG
      db_ = Pg_Test_Uri(Test_Tag());
      if (db_.empty()) GTEST_SKIP() << "TESQ_TEST_PG_URI is unset: run under scripts/with_postgres.sh";
      std::vector<std::pair<std::string, std::optional<std::string>>> rows;
      for (const Row &row : Sample_Rows()) rows.emplace_back(row.word, row.label);
      Write_Pg_Table(db_, rows);
      // How the store is named in messages: without its password.
      shown_ = db_.substr(0, db_.find(':', 13) + 1) + "***" + db_.substr(db_.find('@'));
#else
      GTEST_SKIP() << "built without the PostgreSQL store";
#endif
    } else {
      db_ = dir_.Path("terms.db");
      Write_Database(db_, Sample_Rows());
      shown_ = db_;
    }
    Set_Env("TESQ_DB", db_);
  }
  void TearDown() override { Set_Env("TESQ_DB", ""); }

  // Adds a row to the store through a connection of its own.
  void Insert(const std::string &word, const std::string &label) {
#ifdef TESQ_TEST_HAS_PG
    if (On_Postgres()) {
      Pg_Sql(db_, "INSERT INTO \"420_DIC\" VALUES ('" + word + "', '" + label + "')");
      return;
    }
#endif
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(db_.c_str(), &db), SQLITE_OK);
    sqlite3_busy_timeout(db, 5000);  // the copy's reads hold a read lock for moments
    const std::string sql = "INSERT INTO \"420_DIC\" VALUES ('" + word + "', '" + label + "')";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
  }

  Temp_Dir dir_;
  std::string db_;
  std::string shown_;
};

struct Word_Case {
  const char *name;
  std::string word;  // UTF-8
  std::optional<std::string> label;
};

void PrintTo(const Word_Case &c, std::ostream *os) { *os << c.name; }

class Karvel_Words : public Karvel_Test, public testing::WithParamInterface<Word_Case> {};

TEST_P(Karvel_Words, LooksUpTheWord) {
  const Word_Case &c = GetParam();
  EXPECT_EQ(Lookup(c.word), c.label);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Karvel_Words,
    testing::Values(Word_Case{"found", "人工智能", "主题词"}, Word_Case{"found_ascii", "abc", "ABC label"},
                    Word_Case{"digits", "1234", "数字"}, Word_Case{"not_found", "人工", std::nullopt},
                    Word_Case{"case_matters", "ABC", std::nullopt}, Word_Case{"prefix_only", "ab", std::nullopt},
                    Word_Case{"empty_label_is_no_value", "空标签", std::nullopt},
                    Word_Case{"label_with_cr_is_no_value", "回车", std::nullopt},
                    Word_Case{"label_with_lf_is_no_value", "换行", std::nullopt},
                    Word_Case{"label_with_angle_brackets_is_no_value", "尖括号", std::nullopt},
                    Word_Case{"label_with_ampersand_is_no_value", "和号", std::nullopt},
                    Word_Case{"label_with_quotes_is_no_value", "引号", std::nullopt},
                    Word_Case{"label_of_127_bytes", "长标签", kLabel127},
                    Word_Case{"label_of_128_bytes", "太长", std::nullopt},
                    Word_Case{"label_outside_gb2312", "外文", std::nullopt},
                    Word_Case{"null_label", "无值", std::nullopt}, Word_Case{"label_with_nul", "带零", std::nullopt},
                    Word_Case{"apostrophe", "O'Reilly", "出版单位"},
                    Word_Case{"injection", "x' or '1'='1", std::nullopt},
                    Word_Case{"injection_comment", "x' --", std::nullopt},
                    Word_Case{"injection_union", "x' union select 'y", std::nullopt},
                    Word_Case{"empty_word", "", std::nullopt},
                    Word_Case{"stored_with_leading_blank", " 前空", "前有空格"}),
    [](const testing::TestParamInfo<Word_Case> &info) { return std::string(info.param.name); });

TEST_F(Karvel_Test, ResultIsTheLabelLength) {
  std::string value;
  EXPECT_LT(Lookup_Statement(Classifier_Statement(Gb("空标签")), &value), 0);
  EXPECT_EQ(Lookup_Statement(Classifier_Statement(Gb("长标签")), &value), 127);
  EXPECT_EQ(value.size(), 127u);
  EXPECT_EQ(Lookup_Statement(Classifier_Statement(Gb("人工智能")), &value), 6);
}

TEST_F(Karvel_Test, InjectionLeavesTheTableAlone) {
  std::string value;
  EXPECT_LT(Lookup_Statement(Classifier_Statement("x'; drop table \"420_DIC\"; --"), &value), 0);
  EXPECT_LT(Lookup_Statement(Classifier_Statement("x' or '1'='1"), &value), 0);
  EXPECT_EQ(Lookup("人工智能"), "主题词");
}

TEST_F(Karvel_Test, WordWithBytesThatAreNotGb2312FindsNothing) {
  std::string value;
  EXPECT_LT(Lookup_Statement(Classifier_Statement("\x80\x81"), &value), 0);
  EXPECT_LT(Lookup_Statement(Classifier_Statement("\xC8"), &value), 0);  // lead byte at the end
}

struct Statement_Case {
  const char *name;
  std::string sql;  // GB2312
  int expected;     // the result of Karvel_GetColDataByName, or -1 for any negative
};

void PrintTo(const Statement_Case &c, std::ostream *os) { *os << c.name; }

class Karvel_Statements : public Karvel_Test, public testing::WithParamInterface<Statement_Case> {};

TEST_P(Karvel_Statements, RunsOnlyTermLookups) {
  std::string value;
  const int result = Lookup_Statement(GetParam().sql, &value);
  if (GetParam().expected < 0)
    EXPECT_LT(result, 0);
  else
    EXPECT_EQ(result, GetParam().expected);
}

const std::string kW = "\xB4\xCA";  // 词
const std::string kL = kLabelColumn;

INSTANTIATE_TEST_SUITE_P(
    Statements, Karvel_Statements,
    testing::Values(
        Statement_Case{"classifier", "select " + kL + " from 420_DIC where " + kW + "= ' abc'", 9},
        Statement_Case{"value_without_blank", "select " + kL + " from 420_DIC where " + kW + "= 'abc'", 9},
        Statement_Case{"value_with_two_blanks", "select " + kL + " from 420_DIC where " + kW + "= '  abc'", -1},
        Statement_Case{"keywords_upper_case", "SELECT " + kL + " FROM 420_dic WHERE " + kW + " = ' abc' ;", 9},
        Statement_Case{"quoted_table", "select \"" + kL + "\" from \"420_DIC\" where [" + kW + "]=' abc'", 9},
        Statement_Case{"other_table", "select " + kL + " from sqlite_schema where " + kW + "= ' abc'", -1},
        Statement_Case{"key_is_the_label", "select " + kL + " from 420_DIC where " + kL + "= ' ABC label'", -1},
        Statement_Case{"unknown_column", "select name from 420_DIC where " + kW + "= ' abc'", -1},
        Statement_Case{"star", "select * from 420_DIC where " + kW + "= ' abc'", -1},
        Statement_Case{"selects_the_word_not_asked_for", "select " + kW + " from 420_DIC where " + kW + "= ' abc'",
                       -1},
        Statement_Case{"second_statement", "select " + kL + " from 420_DIC where " + kW + "= ' abc'; delete from x",
                       -1},
        Statement_Case{"unterminated", "select " + kL + " from 420_DIC where " + kW + "= ' abc", -1},
        Statement_Case{"empty", "", -1}, Statement_Case{"garbage", "\xFF\xFF\xFF", -1},
        Statement_Case{"table_name_not_gb2312", "select " + kL + " from \x80\x80 where " + kW + "= ' abc'", -1}),
    [](const testing::TestParamInfo<Statement_Case> &info) { return std::string(info.param.name); });

TEST_F(Karvel_Test, SelectingTheWordColumnGivesTheWord) {
  const Karvel_Query q = Karvel_ExecSql(("select " + kW + " from 420_DIC where " + kW + "= ' abc'").c_str());
  char buf[16];
  EXPECT_EQ(Karvel_GetColDataByName(q, kW.c_str(), 0, buf, sizeof buf), 3);
  EXPECT_STREQ(buf, "abc");
  EXPECT_LT(Karvel_GetColDataByName(q, kLabelColumn, 0, buf, sizeof buf), 0);
  EXPECT_EQ(Karvel_CloseQuery(q), 0);
}

TEST_F(Karvel_Test, NullStatementGivesNoRow) {
  const Karvel_Query q = Karvel_ExecSql(nullptr);
  char buf[8] = "x";
  EXPECT_LT(Karvel_GetColDataByName(q, kLabelColumn, 0, buf, sizeof buf), 0);
  Karvel_CloseQuery(q);
}

TEST_F(Karvel_Test, VeryLongWordFindsNothingAndDoesNotCrash) {
  std::string value;
  EXPECT_LT(Lookup_Statement(Classifier_Statement(std::string(100000, 'a')), &value), 0);
  EXPECT_LT(Lookup_Statement(Classifier_Statement(std::string(3u << 20, 'a')), &value), 0);
}

// --- the buffer --------------------------------------------------------------

TEST_F(Karvel_Test, ValueMustFitTheBufferWithItsTerminator) {
  const std::string sql = Classifier_Statement(Gb("人工智能"));  // label: 6 bytes
  struct Buffer_Case {
    int32_t size;
    int32_t expected;
  };
  for (const Buffer_Case &c : {Buffer_Case{7, 6}, Buffer_Case{6, -1}, Buffer_Case{1, -1}, Buffer_Case{0, -1},
                               Buffer_Case{-5, -1}, Buffer_Case{128, 6}}) {
    SCOPED_TRACE(c.size);
    char buf[128];
    std::memset(buf, 'z', sizeof buf);
    const Karvel_Query q = Karvel_ExecSql(sql.c_str());
    const int32_t result = Karvel_GetColDataByName(q, kLabelColumn, 0, buf, c.size);
    Karvel_CloseQuery(q);
    if (c.expected >= 0) {
      EXPECT_EQ(result, c.expected);
      EXPECT_EQ(std::string(buf), Gb("主题词"));
    } else {
      EXPECT_LT(result, 0);
      if (c.size > 0) {
        EXPECT_EQ(buf[0], '\0');  // never a truncated label
      }
      for (int i = std::max(c.size, 1); i < 128; ++i) ASSERT_EQ(buf[i], 'z') << "written past the size at " << i;
    }
  }
}

TEST_F(Karvel_Test, NullBufferOrColumnIsNoValue) {
  const Karvel_Query q = Karvel_ExecSql(Classifier_Statement(Gb("人工智能")).c_str());
  char buf[16];
  EXPECT_LT(Karvel_GetColDataByName(q, kLabelColumn, 0, nullptr, 16), 0);
  EXPECT_LT(Karvel_GetColDataByName(q, nullptr, 0, buf, sizeof buf), 0);
  EXPECT_LT(Karvel_GetColDataByName(q, "", 0, buf, sizeof buf), 0);
  // The query is still readable afterwards, as often as asked.
  EXPECT_EQ(Karvel_GetColDataByName(q, kLabelColumn, 0, buf, sizeof buf), 6);
  EXPECT_EQ(Karvel_GetColDataByName(q, kLabelColumn, 0, buf, sizeof buf), 6);
  EXPECT_EQ(Karvel_CloseQuery(q), 0);
}

// --- handles -----------------------------------------------------------------

TEST_F(Karvel_Test, ClosedHandleIsStaleEvenAfterItsSlotIsReused) {
  const Karvel_Query first = Karvel_ExecSql(Classifier_Statement(Gb("人工智能")).c_str());
  EXPECT_EQ(Karvel_CloseQuery(first), 0);
  EXPECT_LT(Karvel_CloseQuery(first), 0);  // twice closed: ignored
  const Karvel_Query second = Karvel_ExecSql(Classifier_Statement("abc").c_str());
  char buf[32];
  EXPECT_LT(Karvel_GetColDataByName(first, kLabelColumn, 0, buf, sizeof buf), 0);
  EXPECT_LT(Karvel_CloseQuery(first), 0);  // must not close `second`
  EXPECT_EQ(Karvel_GetColDataByName(second, kLabelColumn, 0, buf, sizeof buf), 9);
  EXPECT_STREQ(buf, "ABC label");
  EXPECT_EQ(Karvel_CloseQuery(second), 0);
}

TEST_F(Karvel_Test, ForgedHandlesAreHarmless) {
  const Karvel_Query real = Karvel_ExecSql(Classifier_Statement(Gb("人工智能")).c_str());
  const Karvel_Query forged[] = {
      {{0, 0, 0}},
      {{1, 0, 0}},
      {{real.w[0], real.w[1], real.w[2] ^ 1}},
      {{real.w[0], real.w[1] + 1, real.w[2]}},
      {{real.w[0] + 1, real.w[1], real.w[2]}},
      {{-1, -1, -1}},
      {{INT32_MAX, 0, 0}},
      {{INT32_MIN, INT32_MIN, INT32_MIN}},
      {{65537, 7, 7}},
  };
  char buf[32];
  for (const Karvel_Query &q : forged) {
    SCOPED_TRACE(testing::Message() << q.w[0] << "," << q.w[1] << "," << q.w[2]);
    EXPECT_LT(Karvel_GetColDataByName(q, kLabelColumn, 0, buf, sizeof buf), 0);
    EXPECT_LT(Karvel_CloseQuery(q), 0);
  }
  EXPECT_EQ(Karvel_GetColDataByName(real, kLabelColumn, 0, buf, sizeof buf), 6);
  EXPECT_EQ(Karvel_CloseQuery(real), 0);
}

TEST_F(Karvel_Test, QueryReadOnAnotherThread) {
  const Karvel_Query q = Karvel_ExecSql(Classifier_Statement(Gb("人工智能")).c_str());
  int32_t result = -100;
  std::thread reader([&] {
    char buf[32];
    result = Karvel_GetColDataByName(q, kLabelColumn, 0, buf, sizeof buf);
    Karvel_CloseQuery(q);
  });
  reader.join();
  EXPECT_EQ(result, 6);
  char buf[32];
  EXPECT_LT(Karvel_GetColDataByName(q, kLabelColumn, 0, buf, sizeof buf), 0);
}

TEST_F(Karvel_Test, ManyOpenQueriesEachKeepTheirValue) {
  std::vector<Karvel_Query> queries;
  for (int i = 0; i < 500; ++i)
    queries.push_back(Karvel_ExecSql(Classifier_Statement(i % 2 ? "abc" : "1234").c_str()));
  for (int i = 0; i < 500; ++i) {
    char buf[32];
    ASSERT_GE(Karvel_GetColDataByName(queries[i], kLabelColumn, 0, buf, sizeof buf), 0) << i;
    EXPECT_EQ(std::string(buf), i % 2 ? "ABC label" : Gb("数字"));
  }
  for (const Karvel_Query &q : queries) EXPECT_EQ(Karvel_CloseQuery(q), 0);
}

TEST_F(Karvel_Test, QueryKeepsItsValueWhenTheDatabaseChanges) {
  const Karvel_Query q = Karvel_ExecSql(Classifier_Statement(Gb("人工智能")).c_str());
  Set_Env("TESQ_DB", dir_.Path("none.db"));
  char buf[32];
  EXPECT_EQ(Karvel_GetColDataByName(q, kLabelColumn, 0, buf, sizeof buf), 6);
  Karvel_CloseQuery(q);
}

// --- fork --------------------------------------------------------------------------

// This sanitizer's allocator (GCC 12's runtime has no fork interceptor) is
// not held still across a fork, so a child forked while another thread
// allocates (a lookup, or the watcher reading the table) may hang in it,
// whatever the library does. The normal build runs these tests.
#ifdef __SANITIZE_ADDRESS__
constexpr bool kAllocator_Forks_Unsafely = true;
#else
constexpr bool kAllocator_Forks_Unsafely = false;
#endif
constexpr const char *kAllocator_Forks_Unsafely_Reason =
    "the sanitizer's allocator is not fork-safe while other threads allocate";

// A host that forks after lookups have started (the watcher of the copy
// running, maybe in the middle of reading the table): the child answers at
// once, never hangs on a lock the watcher held, and sees a change made
// after the fork within a second, like its parent.
TEST_F(Karvel_Test, AForkedChildNeitherHangsNorKeepsAStaleCopy) {
  if (kAllocator_Forks_Unsafely) GTEST_SKIP() << kAllocator_Forks_Unsafely_Reason;
  if (!On_Postgres()) {
    // A table large enough that forks fall inside its reads too.
    std::vector<Row> rows = Sample_Rows();
    for (int i = 0; i < 50000; ++i) rows.push_back({"填充" + std::to_string(i), "填充"});
    Write_Database(db_, rows);
  }
  ASSERT_EQ(Lookup_Until("人工智能", "主题词"), "主题词");
  for (int round = 0; round < 6; ++round) {
    SCOPED_TRACE(round);
    const std::string before = "分叉前" + std::to_string(round), after = "分叉后" + std::to_string(round);
    Insert(before, "前");  // the watcher reads the table again about now
    std::this_thread::sleep_for(std::chrono::milliseconds(round * 60));
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(go[1]);
      int code = Lookup_Until(before, "前") == "前" ? 0 : 1;
      char byte;
      if (code == 0 && read(go[0], &byte, 1) != 1) code = 2;
      if (code == 0 && Lookup_Until(after, "后") != "后") code = 3;
      _exit(code);
    }
    close(go[0]);
    Insert(after, "后");
    ASSERT_EQ(write(go[1], "x", 1), 1);
    close(go[1]);
    int status = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      FAIL() << "the child hung";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the row added before the fork, 3: the one added after, not seen";
    EXPECT_EQ(Lookup_Until(after, "后"), "后") << "the parent";
  }
}

// Lookups on other threads at the moment of the fork: none of the locks
// they take, for the copy or inside the database's own library (the copy
// off, or not read yet), may be held for good in the child.
TEST_F(Karvel_Test, AChildForkedWhileOtherThreadsLookUpDoesNotHang) {
  if (kAllocator_Forks_Unsafely) GTEST_SKIP() << kAllocator_Forks_Unsafely_Reason;
  ASSERT_EQ(Lookup_Until("人工智能", "主题词"), "主题词");
  std::atomic<bool> stop{false};
  std::vector<std::thread> lookups;
  for (int t = 0; t < 3; ++t)
    lookups.emplace_back([&] {
      while (!stop) Lookup("人工智能");
    });
  int hung = 0, wrong = 0;
  for (int round = 0; round < 60 && hung == 0; ++round) {
    const pid_t pid = fork();
    if (pid == 0) _exit(Lookup("人工智能") == std::optional<std::string>("主题词") ? 0 : 1);
    if (pid < 0) break;
    int status = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (done == 0) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ++hung;
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      ++wrong;
    }
  }
  stop = true;
  for (std::thread &t : lookups) t.join();
  EXPECT_EQ(hung, 0) << "a child hung at its first lookup";
  EXPECT_EQ(wrong, 0) << "a child did not find the word";
}

// --- the library done with for now -------------------------------------------------

int Threads_Of_This_Process() {
  int n = 0;
  for (const auto &entry : std::filesystem::directory_iterator("/proc/self/task")) n += entry.exists();
  return n;
}

// The thread count once it is `expected`, or after 5 s: a joined thread
// can linger in /proc for a moment after its join returns.
int Threads_Once(int expected) {
  int n = Threads_Of_This_Process();
  for (int i = 0; i < 500 && n != expected; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    n = Threads_Of_This_Process();
  }
  return n;
}

TEST_F(Karvel_Test, CloseIdleStopsTheWatcherAndTheNextLookupStartsAfresh) {
  if (!Copies_On()) GTEST_SKIP() << "no copy, no watcher";
  ASSERT_EQ(Lookup_Until("人工智能", "主题词"), "主题词");
  const int with_watcher = Threads_Of_This_Process();
  EXPECT_EQ(Karvel_CloseIdle(), 0);
  EXPECT_EQ(Threads_Once(with_watcher - 1), with_watcher - 1) << "the watcher's thread has ended";
  Insert("之后", "新");
  EXPECT_EQ(Lookup_Until("之后", "新"), "新") << "the next lookups start afresh";
  EXPECT_EQ(Threads_Once(with_watcher), with_watcher);
}

// --- the copy's state -------------------------------------------------------------

// Karvel_CopyState, asked every 5 ms until it answers `wanted` or ten
// seconds have passed; the last answer. Off does not change by itself: it
// ends the asking.
int32_t Copy_State_Until(int32_t wanted) {
  int32_t state = Karvel_CopyState();
  for (int i = 0; i < 2000 && state != wanted && state != KARVEL_COPY_OFF; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    state = Karvel_CopyState();
  }
  return state;
}

TEST_F(Karvel_Test, CopyStateIsReadyOnceTheCopyAnswersAndOffWithoutOne) {
  if (!Copies_On()) {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Karvel_CopyState(), KARVEL_COPY_OFF) << i;
    EXPECT_EQ(Lookup("人工智能"), "主题词") << "the store answers itself";
    return;
  }
  const int before = Threads_Of_This_Process();
  ASSERT_EQ(Copy_State_Until(KARVEL_COPY_READY), KARVEL_COPY_READY) << "started without a statement";
  EXPECT_EQ(Karvel_CopyState(), KARVEL_COPY_READY) << "asked again";
  EXPECT_EQ(Lookup("人工智能"), "主题词");
  EXPECT_LE(Threads_Of_This_Process(), before + 1) << "one watcher however often it is asked";
}

TEST_F(Karvel_Test, CopyStateIsOffWhileTheCopyIsTurnedOff) {
  const char *run = std::getenv("TESQ_DB_COPY");
  const std::string saved = run != nullptr ? run : "";
  for (const char *off : {"0", "off"}) {
    Set_Env("TESQ_DB_COPY", off);
    EXPECT_EQ(Karvel_CopyState(), KARVEL_COPY_OFF) << off;
  }
  if (run != nullptr)
    Set_Env("TESQ_DB_COPY", saved);
  else
    unsetenv("TESQ_DB_COPY");
  EXPECT_EQ(Copy_State_Until(KARVEL_COPY_READY), Copies_On() ? KARVEL_COPY_READY : KARVEL_COPY_OFF);
}

// A database that cannot be read gives no copy: failed (reported once, as
// its lookups report it), and lookups go to it.
TEST_F(Karvel_Test, CopyStateOfADatabaseThatCannotBeReadIsFailed) {
  FILE_STORE_ONLY();
  Set_Env("TESQ_DB", dir_.Path("missing.db"));
  testing::internal::CaptureStderr();
  const int32_t state = Copy_State_Until(KARVEL_COPY_FAILED);
  const std::string err = testing::internal::GetCapturedStderr();
  if (!Copies_On()) {
    EXPECT_EQ(state, KARVEL_COPY_OFF);
    return;
  }
  EXPECT_EQ(state, KARVEL_COPY_FAILED);
  EXPECT_EQ(Count_Lines(err, "karvel: "), 1) << err;
  EXPECT_EQ(Lookup("人工智能"), std::nullopt);
  Write_Database(dir_.Path("missing.db"), {{"人工智能", "基金"}});
  EXPECT_EQ(Copy_State_Until(KARVEL_COPY_READY), KARVEL_COPY_READY) << "the read is tried again";
  EXPECT_EQ(Lookup("人工智能"), "基金");
}

TEST_F(Karvel_Test, CopyStateAfterCloseIdleStartsAfresh) {
  if (!Copies_On()) GTEST_SKIP() << "no copy";
  ASSERT_EQ(Copy_State_Until(KARVEL_COPY_READY), KARVEL_COPY_READY);
  const int with_watcher = Threads_Of_This_Process();
  EXPECT_EQ(Karvel_CloseIdle(), 0);
  EXPECT_EQ(Threads_Once(with_watcher - 1), with_watcher - 1) << "the copy and its watcher are gone";
  Insert("之后", "新");
  EXPECT_EQ(Copy_State_Until(KARVEL_COPY_READY), KARVEL_COPY_READY);
  EXPECT_EQ(Lookup("之后"), "新") << "the copy read afresh";
}

// --- where the database is -----------------------------------------------------

TEST_F(Karvel_Test, FollowsAChangedPath) {
  FILE_STORE_ONLY();
  const std::string other = dir_.Path("other.db");
  Write_Database(other, {{"人工智能", "刊名"}});
  EXPECT_EQ(Lookup("人工智能"), "主题词");
  Set_Env("TESQ_DB", other);
  EXPECT_EQ(Lookup("人工智能"), "刊名");
  EXPECT_EQ(Lookup("abc"), std::nullopt);
  Set_Env("TESQ_DB", db_);
  EXPECT_EQ(Lookup("人工智能"), "主题词");
}

TEST_F(Karvel_Test, SeesAFileReplacedUnderTheSameName) {
  FILE_STORE_ONLY();
  EXPECT_EQ(Lookup("人工智能"), "主题词");
  const std::string fresh = dir_.Path("fresh.db");
  Write_Database(fresh, {{"人工智能", "作者单位"}});
  ASSERT_EQ(std::rename(fresh.c_str(), db_.c_str()), 0);
  EXPECT_EQ(Lookup_Until("人工智能", "作者单位"), "作者单位");
}

TEST_F(Karvel_Test, SeesRowsWrittenByAnotherConnection) {
  EXPECT_EQ(Lookup("新词"), std::nullopt);
  Insert("新词", "主题词");
  EXPECT_EQ(Lookup_Until("新词", "主题词"), "主题词");
}

TEST_F(Karvel_Test, DataDirectoryWhenTesqDbIsUnset) {
  FILE_STORE_ONLY();
  Temp_Dir data;
  Write_Database(data.Path("terms.db"), {{"人工智能", "基金"}});
  // The dictionaries' directory is restored afterwards: the later tests of
  // this program initialise the library from it.
  const char *old = std::getenv("TESQ_DATA_DIR");
  const std::string saved = old != nullptr ? old : "";
  Set_Env("TESQ_DB", "");
  Set_Env("TESQ_DATA_DIR", data.dir());
  EXPECT_EQ(Lookup("人工智能"), "基金");
  Set_Env("TESQ_DATA_DIR", saved);
}

// --- databases Karvel cannot use --------------------------------------------------

// Runs `lookups` lookups of a stored word against `path` and returns what
// they printed on stderr; every one must find nothing.
// `change`, when given, is made once stderr is captured: the copy's reader
// may meet (and report) the changed file before any lookup does.
std::string Failing_Lookups(const std::string &path, int lookups, const std::function<void()> &change = nullptr) {
  Set_Env("TESQ_DB", path);
  testing::internal::CaptureStderr();
  if (change) change();
  // A copy of the file read before it went wrong is withdrawn within a
  // second. A copy read while the change was under way may answer for one
  // more interval of the watcher, until it sees the file change again.
  EXPECT_EQ(Lookup_Until("人工智能", std::nullopt), std::nullopt);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(Lookup_Until("人工智能", std::nullopt), std::nullopt);
  for (int i = 0; i < lookups; ++i) EXPECT_EQ(Lookup("人工智能"), std::nullopt) << i;
  return testing::internal::GetCapturedStderr();
}

TEST_F(Karvel_Test, MissingDatabaseIsReportedOnceAndNotCreated) {
  FILE_STORE_ONLY();
  const std::string path = dir_.Path("missing.db");
  const std::string err = Failing_Lookups(path, 5);
  EXPECT_EQ(Count_Lines(err, "karvel: "), 1) << err;
  EXPECT_NE(err.find(path), std::string::npos) << err;
  EXPECT_FALSE(File_Exists(path));
  // Once it exists it is used.
  Write_Database(path, {{"人工智能", "主题词"}});
  EXPECT_EQ(Lookup("人工智能"), "主题词");
}

TEST_F(Karvel_Test, CorruptDatabaseIsReportedOnce) {
  FILE_STORE_ONLY();
  const std::string path = dir_.Path("corrupt.db");
  Write_File(path, std::string(4096, '\x5A'));
  const std::string err = Failing_Lookups(path, 5);
  EXPECT_EQ(Count_Lines(err, "karvel: "), 1) << err;
  EXPECT_NE(err.find(path), std::string::npos) << err;
}

TEST_F(Karvel_Test, DatabaseWithADamagedPageIsNoValue) {
  FILE_STORE_ONLY();
  // A real database whose table page is overwritten with garbage.
  std::string bytes = Read_File(db_);
  ASSERT_GE(bytes.size(), 8192u);
  for (size_t i = 4096; i < 8192; ++i) bytes[i] = static_cast<char>(0xA5);
  const std::string path = dir_.Path("damaged.db");
  Write_File(path, bytes);
  const std::string err = Failing_Lookups(path, 3);
  EXPECT_EQ(Count_Lines(err, "karvel: "), 1) << err;
}

TEST_F(Karvel_Test, DatabaseWithoutTheTableIsReportedOnce) {
  FILE_STORE_ONLY();
  const std::string path = dir_.Path("empty.db");
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE other (a)", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
  const std::string err = Failing_Lookups(path, 5);
  EXPECT_EQ(Count_Lines(err, "karvel: "), 1) << err;
  EXPECT_NE(err.find("420_DIC"), std::string::npos) << err;
}

TEST_F(Karvel_Test, TableWithoutAnIndexStillAnswersAndIsReportedOnce) {
  FILE_STORE_ONLY();
  // Made by hand without a key: every lookup would scan the table.
  const std::string path = dir_.Path("noindex.db");
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(db,
                         "CREATE TABLE \"420_DIC\" (\"词\" TEXT, \"附加信息\" TEXT);"
                         "INSERT INTO \"420_DIC\" VALUES ('人工智能', '主题词')",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  Set_Env("TESQ_DB", path);
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Lookup("人工智能"), "主题词");
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Count_Lines(err, "karvel: "), 1) << err;
  EXPECT_NE(err.find("no index"), std::string::npos) << err;
}

TEST_F(Karvel_Test, EmptyFileAndDirectoryAreNoValue) {
  FILE_STORE_ONLY();
  const std::string empty = dir_.Path("zero.db");
  Write_File(empty, "");
  EXPECT_EQ(Count_Lines(Failing_Lookups(empty, 3), "karvel: "), 1);
  EXPECT_EQ(Count_Lines(Failing_Lookups(dir_.dir(), 3), "karvel: "), 1);
}

// A database locked by a writer: the file is not read while the lock is
// held. The copy read before goes on answering (the table has not
// changed); without one, lookups find nothing and say why, once.
TEST_F(Karvel_Test, LockedDatabaseIsReportedOnceAndUsedAgainWhenFree) {
  FILE_STORE_ONLY();
  const std::string path = dir_.Path("locked.db");
  Write_Database(path, {{"人工智能", "主题词"}});
  Set_Env("TESQ_DB", path);
  EXPECT_EQ(Lookup("人工智能"), "主题词");  // the statement is prepared before the lock

  sqlite3 *holder = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &holder), SQLITE_OK);
  sqlite3_busy_timeout(holder, 5000);  // the copy's first read may still hold a read lock
  ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE; INSERT INTO \"420_DIC\" VALUES ('x1', 'y')", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  testing::internal::CaptureStderr();
  std::vector<std::optional<std::string>> answers;
  for (int i = 0; i < 4; ++i) answers.push_back(Lookup("人工智能"));
  // A fresh thread (a fresh connection) is refused too.
  std::thread([&] { answers.push_back(Lookup("人工智能")); }).join();
  const std::string err = testing::internal::GetCapturedStderr();
  const int from_store = static_cast<int>(std::count(answers.begin(), answers.end(), std::nullopt));
  if (!Copies_On()) {
    EXPECT_EQ(from_store, 5);
  }
  for (const auto &answer : answers) {
    if (answer) {
      EXPECT_EQ(answer, "主题词") << "only the copy answers";
    }
  }
  if (from_store > 0) {
    EXPECT_EQ(Count_Lines(err, "karvel: "), 1) << err;
    EXPECT_NE(err.find("locked"), std::string::npos) << err;
  } else {
    EXPECT_EQ(Count_Lines(err, "karvel: "), 0) << err;
  }

  ASSERT_EQ(sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(holder);
  EXPECT_EQ(Lookup("人工智能"), "主题词");
}

TEST_F(Karvel_Test, StoredLabelsTheDocumentCannotCarryAreReportedOnce) {
  testing::internal::CaptureStderr();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Lookup("尖括号"), std::nullopt);
    EXPECT_EQ(Lookup("和号"), std::nullopt);
  }
  EXPECT_EQ(Lookup("人工智能"), "主题词");  // the other words still answer
  const std::string err = testing::internal::GetCapturedStderr();
  // One line per kind of fault ('<' and '&'), naming the database.
  EXPECT_EQ(Count_Lines(err, "karvel: "), 2) << err;
  EXPECT_NE(err.find(shown_), std::string::npos) << err;
  EXPECT_NE(err.find("tesq terms import"), std::string::npos) << err;
}

TEST_F(Karvel_Test, FifoAsDatabaseAnswersAtOnceWithoutBlocking) {
  FILE_STORE_ONLY();
  const std::string fifo = dir_.Path("terms.fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  Set_Env("TESQ_DB", fifo);
  testing::internal::CaptureStderr();
  auto lookup = std::async(std::launch::async, [] { return Lookup("人工智能"); });
  const bool answered = lookup.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
  if (!answered) {
    // Unblocks a lookup stuck opening the FIFO, so that the test ends.
    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
  }
  const std::optional<std::string> value = lookup.get();
  const std::string err = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(answered) << "a lookup on a FIFO blocked";
  EXPECT_EQ(value, std::nullopt);
  EXPECT_EQ(Count_Lines(err, "karvel: "), 1) << err;
  EXPECT_NE(err.find("not a regular file"), std::string::npos) << err;
}

bool Exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

int Count_Lines_Containing(const std::string &text, const std::string &what) {
  int n = 0;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) n += line.find(what) != std::string::npos;
  return n;
}

void Exec(const std::string &path, const char *sql) {
  sqlite3 *db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 5000);  // the copy's reads hold a read lock for moments
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST_F(Karvel_Test, WalDatabaseIsReportedAndTheReaderCreatesNoFiles) {
  FILE_STORE_ONLY();
  const std::string path = dir_.Path("wal.db");
  Write_Database(path, {{"人工智能", "主题词"}});
  Exec(path, "PRAGMA journal_mode=WAL");
  // The last connection's close removed -wal and -shm; the header says WAL.
  ASSERT_FALSE(Exists(path + "-wal"));
  ASSERT_FALSE(Exists(path + "-shm"));
  ASSERT_EQ(Read_File(path).substr(18, 2), std::string("\2\2"));
  const std::string err = Failing_Lookups(path, 3);
  EXPECT_EQ(Count_Lines(err, "karvel: "), 1) << err;
  EXPECT_NE(err.find("WAL"), std::string::npos) << err;
  EXPECT_NE(err.find("journal_mode=DELETE"), std::string::npos) << err;
  EXPECT_FALSE(Exists(path + "-wal"));
  EXPECT_FALSE(Exists(path + "-shm"));
  // Back in rollback-journal mode, it answers again.
  Exec(path, "PRAGMA journal_mode=DELETE");
  EXPECT_EQ(Lookup("人工智能"), "主题词");
  EXPECT_FALSE(Exists(path + "-wal"));
  EXPECT_FALSE(Exists(path + "-shm"));
}

TEST_F(Karvel_Test, DatabaseTurnedToWalInPlaceIsNoLongerRead) {
  FILE_STORE_ONLY();
  const std::string path = dir_.Path("later-wal.db");
  Write_Database(path, {{"人工智能", "主题词"}});
  Set_Env("TESQ_DB", path);
  EXPECT_EQ(Lookup("人工智能"), "主题词");  // an idle connection is kept open
  // The copy's first read is over before the switch: a read across it
  // would go on in WAL mode and leave the files behind.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  const std::string err = Failing_Lookups(path, 2, [&] {
    Exec(path, "PRAGMA journal_mode=WAL");
    // When the copy was reading just then, the writer could not remove its
    // -wal and -shm on closing; a writer that closes later does.
    for (int i = 0; i < 100 && (Exists(path + "-wal") || Exists(path + "-shm")); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      Exec(path, "SELECT 1");
    }
  });
  EXPECT_NE(err.find("WAL"), std::string::npos) << err;
  EXPECT_FALSE(Exists(path + "-wal"));
  EXPECT_FALSE(Exists(path + "-shm"));
}

// A writer killed inside a transaction: its journal is left beside the
// database, hot. The child writes enough rows through a tiny page cache to
// spill changed pages into the database file.
void Leave_Hot_Journal(const std::string &path) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    sqlite3 *db = nullptr;
    if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) _exit(2);
    sqlite3_exec(db, "PRAGMA cache_size=2; BEGIN", nullptr, nullptr, nullptr);
    for (int i = 0; i < 2000; ++i) {
      const std::string sql = "INSERT INTO \"420_DIC\" VALUES ('w" + std::to_string(i) + "', '" +
                              std::string(100, 'x') + "')";
      if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK) _exit(3);
    }
    _exit(0);  // no commit, no rollback, no close
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_TRUE(Exists(path + "-journal"));
}

TEST_F(Karvel_Test, HotJournalIsReportedAndLookupsRecoverOnceRolledBack) {
  FILE_STORE_ONLY();
  const std::string path = dir_.Path("hot.db");
  Write_Database(path, {{"人工智能", "主题词"}});
  Set_Env("TESQ_DB", path);
  EXPECT_EQ(Lookup("人工智能"), "主题词");  // an idle connection is kept open
  const std::string err = Failing_Lookups(path, 3, [&] { Leave_Hot_Journal(path); });
  // (The copy's reader may also have found the file locked while it was
  // being written.)
  EXPECT_EQ(Count_Lines(err, "karvel: ") - Count_Lines_Containing(err, "locked"), 1) << err;
  EXPECT_NE(err.find("hot journal"), std::string::npos) << err;
  EXPECT_TRUE(Exists(path + "-journal"));  // a reader rolls nothing back
  // A writer rolls it back: the next lookup answers.
  Exec(path, "PRAGMA quick_check");
  ASSERT_FALSE(Exists(path + "-journal"));
  EXPECT_EQ(Lookup("人工智能"), "主题词");
  EXPECT_EQ(Lookup("w1"), std::nullopt);  // the killed writer's rows are gone
}

TEST_F(Karvel_Test, CloseIdleLeavesNoFileOfTheDatabaseOpen) {
  FILE_STORE_ONLY();
  const std::filesystem::path real = std::filesystem::canonical(db_);
  auto open_descriptors = [&] {
    int n = 0;
    for (const auto &entry : std::filesystem::directory_iterator("/proc/self/fd")) {
      std::error_code error;
      const std::filesystem::path target = std::filesystem::read_symlink(entry.path(), error);
      if (!error && target == real) ++n;
    }
    return n;
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back([] { EXPECT_EQ(Lookup("人工智能"), "主题词"); });
  for (std::thread &thread : threads) thread.join();
  ASSERT_GT(open_descriptors(), 0);
  EXPECT_EQ(Karvel_CloseIdle(), 0);
  // The copy may be reading the table in the background just now: that
  // statement keeps its connection and closes it when done.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (open_descriptors() > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(open_descriptors(), 0);
  EXPECT_EQ(Lookup("人工智能"), "主题词");  // and lookups open it again
}

}  // namespace
}  // namespace karvel_test
