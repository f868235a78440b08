// The library's lookups on a PostgreSQL store whose server fails under
// them (started for this test by scripts/with_postgres.sh): down at the
// start, killed and started again, stalled (SIGSTOP), refusing the
// password. Every call ends within the time limit, each outage and its
// recovery are reported once on stderr, a library that holds a copy of the
// table goes on answering from it, one without finds no value (and the
// classifier goes on with its other stages), and everything recovers by
// itself. Runs with the copy (default) and without it (TESQ_DB_COPY=0).
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "pg_support.h"
#include "tesqsrch/tesqsrch.h"
#include "test_support.h"

namespace karvel_test {
namespace {

using Clock = std::chrono::steady_clock;

double Ms_Since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A lookup with the time it took (ms) kept in *longest.
std::optional<std::string> Timed_Lookup(const std::string &word, double *longest) {
  const Clock::time_point start = Clock::now();
  std::optional<std::string> value = Lookup(word);
  *longest = std::max(*longest, Ms_Since(start));
  return value;
}

int Count(const std::string &text, const std::string &what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Calls may take the limit (200 ms) and some more on a loaded machine.
constexpr double kBoundMs = 1000;

// A fault of the server while lookups run: `break_it` makes it, `mend_it`
// undoes it.
struct Outage {
  const char *name;
  std::function<void()> break_it, mend_it;
};

class Pg_Faults : public testing::Test {
 protected:
  void SetUp() override {
    uri_ = Pg_Test_Uri(Test_Tag());
    if (uri_.empty()) GTEST_SKIP() << "TESQ_TEST_PG_URI is unset: run under scripts/with_postgres.sh";
    Write_Pg_Table(uri_, {{"人工智能", std::string("主题词")}});
    Set_Env("TESQ_DB", uri_);
  }
  void TearDown() override {
    Set_Env("TESQ_DB", "");
    if (paused_) Pg_Signal_Server(SIGCONT);
    if (down_) Pg_Ctl("start");  // for the next test, however this one ended
  }

  // Waits until lookups answer from the copy in memory: a row added
  // without raising the change counter is seen by the store, not by a copy
  // read before it. False when the copy is off or not ready in 10 s.
  bool Copy_Ready() {
    if (!Copies_On()) return false;
    for (int probe = 0; probe < 100; ++probe) {
      const std::string word = "探针" + std::to_string(probe);
      Pg_Sql(Env("TESQ_TEST_PG_URI"), "ALTER TABLE \"420_DIC\" DISABLE TRIGGER \"420_DIC_changed\"; "
                                      "INSERT INTO \"420_DIC\" VALUES ('" + word + "', '探针'); "
                                      "ALTER TABLE \"420_DIC\" ENABLE TRIGGER \"420_DIC_changed\"");
      if (Lookup(word) == std::nullopt) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  // Asks for the word until it is found (at most `seconds`); the time it
  // took, or -1.
  double Found_Again(const std::string &word, const std::string &label, double seconds = 15) {
    const Clock::time_point start = Clock::now();
    while (Ms_Since(start) < seconds * 1000) {
      if (Lookup(word) == label) return Ms_Since(start);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
  }

  // Lookups through `outage`: see Run's definition.
  void Run(const Outage &outage);

  std::string uri_;
  bool paused_ = false;
  bool down_ = false;
};

TEST_F(Pg_Faults, DownAtStartFindsNoValueWithinTheLimitThenRecoversByItself) {
  Pg_Ctl("stop -m fast");
  down_ = true;
  testing::internal::CaptureStderr();
  double longest = 0;
  for (int n = 0; n < 15; ++n) {
    EXPECT_EQ(Timed_Lookup("人工智能", &longest), std::nullopt);
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
  }
  // The classifier goes on with its other stages.
  char label[256];
  uint32_t size = 255;
  EXPECT_EQ(Tesquin_Search_Singleword("9787111123453", label, &size), 0);
  EXPECT_STREQ(label, "ISBN");
  Pg_Ctl("start");
  down_ = false;
  const double back = Found_Again("人工智能", "主题词");
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_LT(longest, kBoundMs);
  EXPECT_GE(back, 0) << "found again once the server is up";
  EXPECT_EQ(Count(said, "unavailable"), 1) << said;
  EXPECT_EQ(Count(said, "answers again"), 1) << said;
  std::printf("down at start: longest call %.0f ms, found %.0f ms after the start\n", longest, back);
}

void Pg_Faults::Run(const Outage &outage) {
  ASSERT_EQ(Lookup_Until("人工智能", "主题词", 10), "主题词");
  const bool copy = Copy_Ready();
  testing::internal::CaptureStderr();
  outage.break_it();
  double longest = 0;
  int answered = 0;
  for (int n = 0; n < 15; ++n) {
    const std::optional<std::string> value = Timed_Lookup("人工智能", &longest);
    if (value) {
      EXPECT_EQ(value, "主题词");
      ++answered;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
  }
  // A word the copy does not hold goes to the server: no value, within the
  // limit.
  EXPECT_EQ(Timed_Lookup("不在表中", &longest), std::nullopt);
  outage.mend_it();
  // A change made afterwards reaches the lookups: the watcher and the pool
  // came back by themselves.
  Pg_Sql(uri_, "INSERT INTO \"420_DIC\" VALUES ('之后', '新')");
  const double back = Found_Again("之后", "新");
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_LT(longest, kBoundMs);
  if (copy) {
    EXPECT_EQ(answered, 15) << "the copy goes on answering";
  } else {
    EXPECT_EQ(answered, 0);
  }
  EXPECT_GE(back, 0);
  EXPECT_EQ(Count(said, "unavailable"), 1) << said;
  EXPECT_EQ(Count(said, "answers again"), 1) << said;
  std::printf("%s: longest call %.0f ms, %d of 15 answered (copy %s), change seen %.0f ms after the mend\n",
              outage.name, longest, answered, copy ? "ready" : "off", back);
}

TEST_F(Pg_Faults, KilledMidRunThenRestartedRecoversByItself) {
  Run({"killed",
       [this] {
         down_ = true;
         const pid_t server = Pg_Server_Pid();
         Pg_Signal_Server(SIGKILL);
         // Gone once the signals have landed (its backends with it).
         for (int n = 0; n < 200 && kill(server, 0) == 0; ++n)
           std::this_thread::sleep_for(std::chrono::milliseconds(10));
       },
       [this] {
         Pg_Ctl("start");
         down_ = false;
       }});
}

TEST_F(Pg_Faults, StalledServerCallsReturnWithinTheLimit) {
  Run({"stalled",
       [this] {
         Pg_Signal_Server(SIGSTOP);
         paused_ = true;
       },
       [this] {
         Pg_Signal_Server(SIGCONT);
         paused_ = false;
       }});
}

TEST_F(Pg_Faults, ARefusedPasswordFindsNoValueAndIsReportedOnceWithoutIt) {
  const std::string bad = Env("TESQ_TEST_PG_BAD_URI");
  Set_Env("TESQ_DB", bad);
  testing::internal::CaptureStderr();
  double longest = 0;
  for (int n = 0; n < 10; ++n) {
    EXPECT_EQ(Timed_Lookup("人工智能", &longest), std::nullopt);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const std::string said = testing::internal::GetCapturedStderr();
  EXPECT_LT(longest, kBoundMs);
  EXPECT_NE(said.find("password authentication failed"), std::string::npos) << said;
  const size_t from = bad.find(":wrong-") + 1;
  EXPECT_EQ(said.find(bad.substr(from, bad.find('@') - from)), std::string::npos) << said;
  EXPECT_EQ(Count(said, "unavailable"), 1) << said;
}

// The counter's row deleted, or doubled: the copy can no longer tell a
// change, so it is reported and withdrawn, and lookups see the table's
// edits; once the row is back the copy follows the table again.
TEST_F(Pg_Faults, ACounterRowDeletedOrDoubledIsReportedAndLookupsSeeTheTable) {
  if (!Copies_On()) GTEST_SKIP() << "without a copy every lookup goes to the table anyway";
  struct Fault {
    const char *name, *break_sql, *mend_sql, *said;
  };
  const Fault faults[] = {
      {"deleted", "DELETE FROM \"420_DIC_VERSION\"", "INSERT INTO \"420_DIC_VERSION\" VALUES (100)", "holds no row"},
      {"doubled", "INSERT INTO \"420_DIC_VERSION\" VALUES (5)", "DELETE FROM \"420_DIC_VERSION\"; INSERT INTO \"420_DIC_VERSION\" VALUES (1000)",
       "holds 2 rows"},
  };
  ASSERT_EQ(Lookup_Until("人工智能", "主题词", 10), "主题词");
  // As Copy_Ready, with words of their own for each call.
  auto copy_answers = [&](const std::string &tag) {
    for (int probe = 0; probe < 100; ++probe) {
      const std::string word = "核对" + tag + std::to_string(probe);
      Pg_Sql(uri_, "ALTER TABLE \"420_DIC\" DISABLE TRIGGER \"420_DIC_changed\"; INSERT INTO \"420_DIC\" VALUES ('" +
                       word + "', '核对'); ALTER TABLE \"420_DIC\" ENABLE TRIGGER \"420_DIC_changed\"");
      if (Lookup(word) == std::nullopt) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  };
  for (const Fault &fault : faults) {
    SCOPED_TRACE(fault.name);
    ASSERT_TRUE(copy_answers(std::string(fault.name) + "前"));
    testing::internal::CaptureStderr();
    Pg_Sql(uri_, fault.break_sql);
    Pg_Sql(uri_, std::string("UPDATE \"420_DIC\" SET \"附加信息\" = '改后' WHERE \"词\" = '人工智能'"));
    EXPECT_EQ(Lookup_Until("人工智能", "改后", 5), "改后") << "the edit is seen";
    Pg_Sql(uri_, fault.mend_sql);
    Pg_Sql(uri_, "UPDATE \"420_DIC\" SET \"附加信息\" = '主题词' WHERE \"词\" = '人工智能'");
    EXPECT_EQ(Lookup_Until("人工智能", "主题词", 5), "主题词");
    EXPECT_TRUE(copy_answers(std::string(fault.name) + "后")) << "the copy follows the table again";
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(Count(said, fault.said), 1) << said;
    EXPECT_EQ(Count(said, "unavailable"), 0) << said;
  }
}

}  // namespace
}  // namespace karvel_test
