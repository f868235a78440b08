// The pool of connections of the term store, driven directly: more lookups
// at once than connections kept idle, idle connections closed while other
// threads look up, and threads that end after one lookup each. Run under the
// sanitizers, a connection closed while in use or given back twice shows.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "gb2312.h"
#include "statement.h"
#include "term_store.h"
#include "test_support.h"

namespace karvel_test {
namespace {

class Term_Pool_Test : public testing::Test {
 protected:
  void SetUp() override {
    std::vector<Row> rows;
    for (int i = 0; i < 40; ++i) {
      const std::string word = "词" + std::to_string(i);
      rows.push_back({word, "标签" + std::to_string(i)});
      words_.push_back(Gb(word));
      labels_.push_back(Gb("标签" + std::to_string(i)));
    }
    db_ = dir_.Path("terms.db");
    Write_Database(db_, rows);
    Set_Env("TESQ_DB", db_);
  }
  void TearDown() override {
    karvel::Term_Store_Close_Idle();
    Set_Env("TESQ_DB", "");
  }

  // The stored label of words_[i] through Term_Find, or "none".
  std::string Find(size_t i) const {
    karvel::Lookup_Statement statement;
    if (!karvel::Statement_Parse(Classifier_Statement(words_[i]), &statement)) return "unparsed";
    std::string value;
    const char *column = nullptr;
    return karvel::Term_Find(statement, &value, &column) ? value : "none";
  }

  // Wrong answers in `rounds` passes over the words, starting at `offset`.
  int Wrong_Answers(size_t offset, int rounds) const {
    int wrong = 0;
    for (int round = 0; round < rounds; ++round)
      for (size_t k = 0; k < words_.size(); ++k) {
        const size_t i = (k + offset) % words_.size();
        if (Find(i) != labels_[i]) ++wrong;
      }
    return wrong;
  }

  Temp_Dir dir_;
  std::string db_;
  std::vector<std::string> words_, labels_;
};

TEST_F(Term_Pool_Test, MoreLookupsAtOnceThanIdleConnectionsKept) {
  // 48 threads, started together, each holding the pool busy for a while:
  // more connections in use at once than the 32 kept idle afterwards.
  constexpr int kThreads = 48;
  std::atomic<int> ready{0};
  std::vector<int> wrong(kThreads, -1);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      wrong[t] = Wrong_Answers(static_cast<size_t>(t), 3);
    });
  for (std::thread &thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
  EXPECT_EQ(Wrong_Answers(0, 1), 0);
}

TEST_F(Term_Pool_Test, IdleConnectionsClosedWhileOthersLookUp) {
  constexpr int kThreads = 4;
  std::atomic<bool> done{false};
  std::vector<int> wrong(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      while (!done.load()) wrong[t] += Wrong_Answers(static_cast<size_t>(t) * 7, 1);
    });
  for (int i = 0; i < 300; ++i) {
    karvel::Term_Store_Close_Idle();
    std::this_thread::yield();
  }
  done.store(true);
  for (std::thread &thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
  // Closing leaves nothing unusable: the next lookup opens a connection.
  karvel::Term_Store_Close_Idle();
  EXPECT_EQ(Wrong_Answers(3, 1), 0);
}

TEST_F(Term_Pool_Test, ThreadsEndingAfterOneLookupEach) {
  for (size_t i = 0; i < 200; ++i) {
    std::string got;
    std::thread([&] { got = Find(i % words_.size()); }).join();
    ASSERT_EQ(got, labels_[i % words_.size()]) << i;
  }
}

TEST_F(Term_Pool_Test, AConnectionFollowsTheDatabaseItWasTakenFor) {
  // An idle connection kept from one database answers for another once the
  // setting changes: each lookup checks its connection's file.
  EXPECT_EQ(Find(5), labels_[5]);
  const std::string other = dir_.Path("other.db");
  Write_Database(other, {{"词5", "别的标签"}});
  Set_Env("TESQ_DB", other);
  EXPECT_EQ(Find(5), Gb("别的标签"));
  EXPECT_EQ(Find(6), "none");
  Set_Env("TESQ_DB", db_);
  EXPECT_EQ(Find(6), labels_[6]);
}

}  // namespace
}  // namespace karvel_test
