// The live copy of the term table, driven by a scripted source: not ready
// until the first read, answering from the copy after it, withdrawn at once
// when the stamp changes and replaced by a fresh read, kept when the source
// cannot be asked, put back when a new read fails, and started afresh for
// another location and after a stop.
#include "term_copies.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Rows = std::vector<std::pair<std::string, std::string>>;
using karvel::Copy_Answer;

// A source whose table, stamp and failures the test sets.
struct Script {
  std::mutex mutex;
  Rows rows;
  std::string stamp = "1";
  bool stamp_fails = false;
  bool read_fails = false;
  std::atomic<int> reads{0};
};

class Scripted_Source : public karvel::Copy_Source {
 public:
  explicit Scripted_Source(Script *script) : script_(script) {}
  bool Stamp(std::string *stamp) override {
    std::lock_guard<std::mutex> hold(script_->mutex);
    *stamp = script_->stamp;
    return !script_->stamp_fails;
  }
  bool Read(karvel::Term_Index::Builder *builder, std::string *stamp) override {
    std::lock_guard<std::mutex> hold(script_->mutex);
    script_->reads += 1;
    if (script_->read_fails) return false;
    for (const auto &row : script_->rows) builder->Add(row.first, row.second);
    *stamp = script_->stamp;
    return true;
  }

 private:
  Script *script_;
};

class Term_Copies : public testing::Test {
 protected:
  void TearDown() override { karvel::Copies_Stop(); }

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

TEST_F(Term_Copies, AChangeWithdrawsTheCopyAndANewOneReplacesIt) {
  Set({{"a", "old"}}, "1");
  std::string value;
  ASSERT_TRUE(Eventually("db", "a", Copy_Answer::kFound, &value));
  Set({{"a", "new"}, {"b", "B"}}, "2");
  // Within one watch interval and a read the copy is either withdrawn (the
  // store answers) or the new one; never the old one for long.
  ASSERT_TRUE(Eventually("db", "b", Copy_Answer::kFound, &value));
  EXPECT_EQ(Find("db", "a", &value), Copy_Answer::kFound);
  EXPECT_EQ(value, "new");
}

TEST_F(Term_Copies, AStoreThatCannotBeAskedKeepsTheCopyInHand) {
  Set({{"a", "A"}}, "1");
  std::string value;
  ASSERT_TRUE(Eventually("db", "a", Copy_Answer::kFound, &value));
  {
    std::lock_guard<std::mutex> hold(script_.mutex);
    script_.stamp_fails = true;
    script_.stamp = "2";
  }
  std::this_thread::sleep_for(karvel::kWatchInterval * 3);
  EXPECT_EQ(Find("db", "a", &value), Copy_Answer::kFound) << "the copy goes on answering";
  EXPECT_EQ(value, "A");
}

TEST_F(Term_Copies, AFailedReadPutsTheOldCopyBack) {
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
  EXPECT_TRUE(Eventually("db", "a", Copy_Answer::kFound, &value)) << "the old copy is back";
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

}  // namespace
