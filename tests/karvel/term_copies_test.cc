// The live copy of the term table, driven by a scripted source: not ready
// until the first read, answering from the copy after it, replaced by a
// fresh read when the stamp changes (the old copy answering meanwhile, or
// withdrawn at once for a file), kept when the source cannot be asked or a
// new read fails, withdrawn while the table cannot be followed, started
// afresh for another location and after a stop, and never keeping a lookup
// waiting for a read. Its state as a caller that waits for it sees it:
// reading, ready exactly when lookups answer from it, failed, off.
#include "term_copies.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;
using karvel::Copy_Answer;
using karvel::Copy_State;

using karvel::Source_Answer;

// A source whose table, stamp and failures the test sets. A read can be
// held (as a long scan of a server would be) until the test lets it go.
struct Script {
  std::mutex mutex;
  std::condition_variable changed;
  Rows rows;
  std::string stamp = "1";
  Source_Answer stamp_answer = Source_Answer::kAnswered;
  bool read_fails = false;
  bool keeps_old_copy = true;
  bool hold_reads = false;
  bool read_held = false;  // a read is waiting for hold_reads to end
  std::atomic<int> reads{0};
  sigset_t read_mask;  // the signal mask of the thread of the last read
};

class Scripted_Source : public karvel::Copy_Source {
 public:
  explicit Scripted_Source(Script *script) : script_(script) {}
  Source_Answer Stamp(std::string *stamp) override {
    std::lock_guard<std::mutex> hold(script_->mutex);
    *stamp = script_->stamp;
    return script_->stamp_answer;
  }
  // Deaf to `stopping`, as a read that never looks would be.
  Source_Answer Read(karvel::Term_Index::Builder *builder, std::string *stamp, const std::atomic<bool> &) override {
    std::unique_lock<std::mutex> hold(script_->mutex);
    pthread_sigmask(SIG_BLOCK, nullptr, &script_->read_mask);
    script_->reads += 1;
    script_->read_held = script_->hold_reads;
    script_->changed.notify_all();
    script_->changed.wait_for(hold, std::chrono::seconds(10), [&] { return !script_->hold_reads; });
    script_->read_held = false;
    if (script_->read_fails) return Source_Answer::kUnavailable;
    for (const auto &row : script_->rows) builder->Add(row.first, row.second);
    *stamp = script_->stamp;
    return Source_Answer::kAnswered;
  }
  bool Keeps_Old_Copy() const override { return script_->keeps_old_copy; }

 private:
  Script *script_;
};

class Term_Copies : public testing::Test {
 protected:
  void TearDown() override {
    Release_Reads();
    karvel::Copies_Stop();
  }

  Copy_Answer Find(const std::string &location, const std::string &word, std::string *value) {
    return karvel::Copy_Find(location, word, false, value,
                             [&] { return std::unique_ptr<karvel::Copy_Source>(new Scripted_Source(&script_)); });
  }
  // Asks until the answer is `wanted` or two seconds have passed.
  bool Eventually(const std::string &location, const std::string &word, Copy_Answer wanted, std::string *value) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < until) {
      if (Find(location, word, value) == wanted) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  Copy_State Status(const std::string &location) {
    return karvel::Copy_Status(location, [&] { return std::unique_ptr<karvel::Copy_Source>(new Scripted_Source(&script_)); });
  }
  // Asks until the state is `wanted` or two seconds have passed.
  bool Eventually_Status(const std::string &location, Copy_State wanted) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < until) {
      if (Status(location) == wanted) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  // Holds the reads from now on.
  void Hold_Reads() {
    std::lock_guard<std::mutex> hold(script_.mutex);
    script_.hold_reads = true;
  }
  // Waits until a read is held (false after 2 s).
  bool Read_Held() {
    std::unique_lock<std::mutex> hold(script_.mutex);
    return script_.changed.wait_for(hold, std::chrono::seconds(2), [&] { return script_.read_held; });
  }
  void Release_Reads() {
    {
      std::lock_guard<std::mutex> hold(script_.mutex);
      script_.hold_reads = false;
    }
    script_.changed.notify_all();
  }
  void Set(const Rows &rows, const std::string &stamp) {
    std::lock_guard<std::mutex> hold(script_.mutex);
    script_.rows = rows;
    script_.stamp = stamp;
  }

  Script script_;
};

TEST_F(Term_Copies, NotReadyUntilReadThenAnswersFromTheCopy) {
  Set({{"a", "A"}}, "1");
  std::string value;
  EXPECT_EQ(Find("db", "a", &value), Copy_Answer::kNotReady) << "the first lookup starts the copy";
  ASSERT_TRUE(Eventually("db", "a", Copy_Answer::kFound, &value));
  EXPECT_EQ(value, "A");
  EXPECT_EQ(Find("db", "b", &value), Copy_Answer::kMissing);
  EXPECT_EQ(karvel::Copy_Find("db", "a", true, &value, nullptr), Copy_Answer::kFound);
  EXPECT_EQ(value, "a") << "the word column";
  size_t rows = 0, bytes = 0;
  karvel::Copy_Figures(&rows, &bytes);
  EXPECT_EQ(rows, 1u);
  EXPECT_GT(bytes, 0u);
}

// A host that takes its signals on one thread (a database backend, a
// server's master) must not have them delivered to the copy's thread; and
// the host thread's own mask is left as it was.
TEST_F(Term_Copies, TheCopysThreadTakesNoSignalAndTheCallersMaskIsKept) {
  sigset_t none, before, after;
  sigemptyset(&none);
  ASSERT_EQ(pthread_sigmask(SIG_SETMASK, &none, &before), 0);
  Set({{"a", "A"}}, "1");
  std::string value;
  ASSERT_TRUE(Eventually("db", "a", Copy_Answer::kFound, &value));
  ASSERT_EQ(pthread_sigmask(SIG_SETMASK, &before, &after), 0);
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGPIPE, SIGCHLD, SIGXFSZ};
  for (int signal : signals) {
    SCOPED_TRACE(strsignal(signal));
    std::lock_guard<std::mutex> hold(script_.mutex);
    EXPECT_EQ(sigismember(&script_.read_mask, signal), 1) << "the copy's thread takes it";
    EXPECT_EQ(sigismember(&after, signal), 0) << "the caller's thread now blocks it";
  }
}

TEST_F(Term_Copies, AChangeKeepsTheOldCopyAnsweringUntilTheNewOneIsRead) {
  Set({{"a", "old"}}, "1");
  std::string value;
  ASSERT_TRUE(Eventually("db", "a", Copy_Answer::kFound, &value));
  Hold_Reads();
  Set({{"a", "new"}, {"b", "B"}}, "2");
  ASSERT_TRUE(Read_Held()) << "the change starts a read";
  EXPECT_EQ(Find("db", "a", &value), Copy_Answer::kFound) << "the old copy answers during the read";
  EXPECT_EQ(value, "old");
  EXPECT_EQ(Find("db", "b", &value), Copy_Answer::kMissing);
  Release_Reads();
  ASSERT_TRUE(Eventually("db", "b", Copy_Answer::kFound, &value));
  EXPECT_EQ(Find("db", "a", &value), Copy_Answer::kFound);
  EXPECT_EQ(value, "new");
}

TEST_F(Term_Copies, AChangedFileIsNotAnsweredFromItsOldCopy) {
  script_.keeps_old_copy = false;
  Set({{"a", "old"}}, "1");
  std::string value;
  ASSERT_TRUE(Eventually("db", "a", Copy_Answer::kFound, &value));
  Hold_Reads();
  Set({{"a", "new"}}, "2");
  ASSERT_TRUE(Read_Held());
  EXPECT_EQ(Find("db", "a", &value), Copy_Answer::kNotReady) << "the file answers itself during the read";
  Release_Reads();
  ASSERT_TRUE(Eventually("db", "a", Copy_Answer::kFound, &value));
  EXPECT_EQ(value, "new");
}

TEST_F(Term_Copies, ATableThatCannotBeFollowedHasItsCopyWithdrawnUntilItCanBe) {
  Set({{"a", "A"}}, "1");
  std::string value;
  ASSERT_TRUE(Eventually("db", "a", Copy_Answer::kFound, &value));
  {
    std::lock_guard<std::mutex> hold(script_.mutex);
    script_.stamp_answer = Source_Answer::kBroken;
  }
  EXPECT_TRUE(Eventually("db", "a", Copy_Answer::kNotReady, &value)) << "lookups go to the table";
  {
    std::lock_guard<std::mutex> hold(script_.mutex);
    script_.stamp_answer = Source_Answer::kAnswered;
  }
  EXPECT_TRUE(Eventually("db", "a", Copy_Answer::kFound, &value)) << "read again once it can be followed";
}

// A watcher replaced while its read runs is left to finish on its own
// thread: the lookup that replaced it does not wait for the read.
TEST_F(Term_Copies, ALookupOfAnotherLocationDoesNotWaitForTheOldRead) {
  Set({{"a", "A"}}, "1");
  Hold_Reads();
  std::string value;
  EXPECT_EQ(Find("one", "a", &value), Copy_Answer::kNotReady);
  ASSERT_TRUE(Read_Held()) << "the first read runs";
  auto other = std::async(std::launch::async, [&] {
    std::string v;
    return Find("two", "a", &v);
  });
  const bool returned = other.wait_for(std::chrono::seconds(3)) == std::future_status::ready;
  Release_Reads();
  EXPECT_TRUE(returned) << "the lookup waited for the old watcher's read";
  EXPECT_EQ(other.get(), Copy_Answer::kNotReady);
  EXPECT_TRUE(Eventually("two", "a", Copy_Answer::kFound, &value));
  karvel::Copies_Stop();
  EXPECT_EQ(karvel::Copy_Watchers(), 0u) << "every watcher thread is joined by a stop";
}

TEST_F(Term_Copies, AStoreThatCannotBeAskedKeepsTheCopyInHand) {
  Set({{"a", "A"}}, "1");
  std::string value;
  ASSERT_TRUE(Eventually("db", "a", Copy_Answer::kFound, &value));
  {
    std::lock_guard<std::mutex> hold(script_.mutex);
    script_.stamp_answer = Source_Answer::kUnavailable;
    script_.stamp = "2";
  }
  std::this_thread::sleep_for(karvel::kWatchInterval * 3);
  EXPECT_EQ(Find("db", "a", &value), Copy_Answer::kFound) << "the copy goes on answering";
  EXPECT_EQ(value, "A");
}

TEST_F(Term_Copies, AFailedReadKeepsTheOldCopy) {
  Set({{"a", "A"}}, "1");
  std::string value;
  ASSERT_TRUE(Eventually("db", "a", Copy_Answer::kFound, &value));
  {
    std::lock_guard<std::mutex> hold(script_.mutex);
    script_.read_fails = true;
    script_.stamp = "2";
  }
  const int reads_before = script_.reads;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (script_.reads < reads_before + 2 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_GE(script_.reads, reads_before + 2) << "the read is tried again";
  EXPECT_EQ(Find("db", "a", &value), Copy_Answer::kFound) << "the old copy answers";
  EXPECT_EQ(value, "A");
}

TEST_F(Term_Copies, AnotherLocationAndAStopStartAfresh) {
  Set({{"a", "A"}}, "1");
  std::string value;
  ASSERT_TRUE(Eventually("one", "a", Copy_Answer::kFound, &value));
  EXPECT_EQ(Find("two", "a", &value), Copy_Answer::kNotReady);
  ASSERT_TRUE(Eventually("two", "a", Copy_Answer::kFound, &value));
  karvel::Copies_Stop();
  size_t rows = 1, bytes = 1;
  karvel::Copy_Figures(&rows, &bytes);
  EXPECT_EQ(rows, 0u) << "the copy is dropped";
  EXPECT_EQ(Find("two", "a", &value), Copy_Answer::kNotReady);
  EXPECT_TRUE(Eventually("two", "a", Copy_Answer::kFound, &value));
}

// The state alone starts the read (no lookup needed), is reading while it
// runs, and turns ready only when a lookup made then is answered from the
// copy; asking again and again starts no second watcher.
TEST_F(Term_Copies, StatusStartsTheReadAndIsReadyOnlyOnceLookupsAnswerFromTheCopy) {
  Set({{"a", "A"}}, "1");
  Hold_Reads();
  EXPECT_EQ(Status("db"), Copy_State::kReading);
  ASSERT_TRUE(Read_Held()) << "the state started the read";
  std::string value;
  for (int i = 0; i < 20; ++i) EXPECT_EQ(Status("db"), Copy_State::kReading);
  EXPECT_EQ(Find("db", "a", &value), Copy_Answer::kNotReady) << "lookups go to the store while it is read";
  EXPECT_EQ(karvel::Copy_Watchers(), 1u) << "one watcher however often it is asked";
  Release_Reads();
  ASSERT_TRUE(Eventually_Status("db", Copy_State::kReady));
  EXPECT_EQ(Find("db", "a", &value), Copy_Answer::kFound) << "ready: the next lookup is the copy's";
  EXPECT_EQ(value, "A");
  EXPECT_EQ(script_.reads, 1) << "the lookup went on with the copy the state started";
}

// The first read goes to the table at once: a store whose quick stamp does
// not answer (a server too loaded to answer within a lookup's time) still
// gets its first copy read.
TEST_F(Term_Copies, TheFirstReadDoesNotWaitForAStamp) {
  Set({{"a", "A"}}, "1");
  {
    std::lock_guard<std::mutex> hold(script_.mutex);
    script_.stamp_answer = Source_Answer::kUnavailable;
  }
  EXPECT_TRUE(Eventually_Status("db", Copy_State::kReady));
}

TEST_F(Term_Copies, StatusIsFailedWhenTheReadGivesNoCopyAndReadyOnceARetryDoes) {
  Set({{"a", "A"}}, "1");
  {
    std::lock_guard<std::mutex> hold(script_.mutex);
    script_.read_fails = true;
  }
  ASSERT_TRUE(Eventually_Status("db", Copy_State::kFailed));
  std::string value;
  EXPECT_EQ(Find("db", "a", &value), Copy_Answer::kNotReady) << "failed: lookups go to the store";
  {
    std::lock_guard<std::mutex> hold(script_.mutex);
    script_.read_fails = false;
    script_.stamp = "2";
  }
  EXPECT_TRUE(Eventually_Status("db", Copy_State::kReady)) << "the read is tried again";
}

TEST_F(Term_Copies, StatusIsFailedWhileTheTableCannotBeFollowed) {
  Set({{"a", "A"}}, "1");
  ASSERT_TRUE(Eventually_Status("db", Copy_State::kReady));
  {
    std::lock_guard<std::mutex> hold(script_.mutex);
    script_.stamp_answer = Source_Answer::kBroken;
  }
  EXPECT_TRUE(Eventually_Status("db", Copy_State::kFailed));
}

// A store that keeps its old copy while it cannot be read again stays ready.
TEST_F(Term_Copies, StatusStaysReadyWhileAFailedReadLeavesTheOldCopyAnswering) {
  Set({{"a", "A"}}, "1");
  ASSERT_TRUE(Eventually_Status("db", Copy_State::kReady));
  {
    std::lock_guard<std::mutex> hold(script_.mutex);
    script_.read_fails = true;
    script_.stamp = "2";
  }
  const int reads_before = script_.reads;
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (script_.reads < reads_before + 1 && std::chrono::steady_clock::now() < until)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_GE(script_.reads, reads_before + 1);
  EXPECT_EQ(Status("db"), Copy_State::kReady);
}

TEST_F(Term_Copies, StatusIsOffWhenThereIsNothingToCopy) {
  const auto nothing = [] { return std::unique_ptr<karvel::Copy_Source>(); };
  EXPECT_EQ(karvel::Copy_Status("db", nothing), Copy_State::kOff);
  EXPECT_EQ(karvel::Copy_Status("db", nothing), Copy_State::kOff) << "asked again";
  std::string value;
  EXPECT_EQ(karvel::Copy_Find("db", "a", false, &value, nothing), Copy_Answer::kNotReady);
}

// The state is the copy's of the location asked about: another location
// starts its own read, and a stop starts afresh.
TEST_F(Term_Copies, StatusOfAnotherLocationOrAfterAStopStartsAfresh) {
  Set({{"a", "A"}}, "1");
  ASSERT_TRUE(Eventually_Status("one", Copy_State::kReady));
  Hold_Reads();
  EXPECT_EQ(Status("two"), Copy_State::kReading);
  ASSERT_TRUE(Read_Held());
  Release_Reads();
  ASSERT_TRUE(Eventually_Status("two", Copy_State::kReady));
  karvel::Copies_Stop();
  Hold_Reads();
  EXPECT_EQ(Status("two"), Copy_State::kReading) << "the copy was dropped";
  Release_Reads();
  EXPECT_TRUE(Eventually_Status("two", Copy_State::kReady));
}

}  // namespace
