// Several threads classifying at once get exactly what one thread gets.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tesqsrch/tesqsrch.h"
#include "test_support.h"

namespace karvel_test {
namespace {

constexpr int kThreads = 8;
constexpr int kRounds = 40;

class Threads_Test : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(Tesquin_Init(0), 0);
    std::vector<Row> rows;
    const char *const kChars[] = {"人", "工", "智", "能", "情", "报", "学", "刊", "图", "书"};
    for (int i = 0; i < 300; ++i) {
      std::string word = std::string(kChars[i % 10]) + kChars[(i / 10) % 10] + kChars[(i / 100) % 10];
      rows.push_back({word, "标签" + std::to_string(i)});
      words_.push_back(Gb(word));
      words_.push_back(Gb(word + "外"));  // not stored
    }
    words_.push_back("O'Reilly");
    rows.push_back({"O'Reilly", "出版单位"});
    words_.push_back("x' or '1'='1");
    db_ = dir_.Path("terms.db");
    Write_Database(db_, rows);
    Set_Env("TESQ_DB", db_);
  }
  void TearDown() override {
    Set_Env("TESQ_DB", "");
    Tesquin_UnInit();
  }

  // One classification per word: the result code and the label.
  std::vector<std::string> Classify_All() const {
    std::vector<std::string> out;
    out.reserve(words_.size());
    for (const std::string &word : words_) {
      char label[256];
      uint32_t size = 255;
      const int result = Tesquin_Search_Singleword(word.c_str(), label, &size);
      out.push_back(std::to_string(result) + ":" + (result == 0 ? std::string(label) : std::string()));
    }
    return out;
  }

  Temp_Dir dir_;
  std::string db_;
  std::vector<std::string> words_;
};

TEST_F(Threads_Test, EightThreadsAgreeWithOne) {
  const std::vector<std::string> expected = Classify_All();
  int found = 0;
  // Every stored word gets its stored label; the words that are not stored
  // may still be recognised as names by the later stages.
  const std::string stored_prefix = "0:" + Gb("标签");
  const std::string stored_publisher = "0:" + Gb("出版单位");
  for (const std::string &r : expected)
    found += r.compare(0, stored_prefix.size(), stored_prefix) == 0 || r == stored_publisher;
  ASSERT_EQ(found, 301);

  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round)
        if (Classify_All() != expected) ++mismatches[t];
    });
  }
  for (std::thread &thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

TEST_F(Threads_Test, ThreadsComingAndGoingCloseTheirConnections) {
  // Each short-lived thread takes a connection of the pool and gives it
  // back; nothing is left behind when it ends. Run under the sanitizers this
  // also shows no leak and no use after free.
  const std::vector<std::string> expected = Classify_All();
  for (int i = 0; i < 50; ++i) {
    std::vector<std::string> got;
    std::thread([&] { got = Classify_All(); }).join();
    ASSERT_EQ(got, expected) << i;
  }
}

TEST_F(Threads_Test, ThreadsFollowAPathChange) {
  const std::string other = dir_.Path("other.db");
  Write_Database(other, {{"O'Reilly", "别的标签"}});
  std::vector<std::string> before(kThreads), after(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back([&, t] { before[t] = Lookup("O'Reilly").value_or("none"); });
  for (std::thread &thread : threads) thread.join();
  Set_Env("TESQ_DB", other);
  threads.clear();
  for (int t = 0; t < kThreads; ++t) threads.emplace_back([&, t] { after[t] = Lookup("O'Reilly").value_or("none"); });
  for (std::thread &thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(before[t], "出版单位");
    EXPECT_EQ(after[t], "别的标签");
  }
}

}  // namespace
}  // namespace karvel_test
