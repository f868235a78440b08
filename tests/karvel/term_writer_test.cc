// The term writer gives back its status and its messages and prints
// nothing itself: the tool decides what to show.
#include "term_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

struct Case {
  const char *name;
  const char *terms;  // the import's source
  karvel::Terms_Status status;
  const char *first_message;  // what the first message holds
};

TEST(Term_Writer, ImportGivesBackItsStatusAndMessagesAndPrintsNothing) {
  const std::string dir = testing::TempDir() + "term-writer-" + std::to_string(getpid());
  ASSERT_EQ(system(("mkdir -p '" + dir + "'").c_str()), 0);
  const Case cases[] = {
      {"good", "人工智能\t主题词\n", karvel::Terms_Status::kDone, "1 terms from"},
      {"no tab", "人工智能\t主题词\n没有制表符\n", karvel::Terms_Status::kFailed, ":2: missing tab"},
      {"bad label", "词\t<\n", karvel::Terms_Status::kFailed, ":1: "},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string source = dir + "/" + c.name + ".tsv", database = dir + "/" + c.name + ".db";
    std::ofstream(source) << c.terms;
    testing::internal::CaptureStderr();
    const karvel::Terms_Result result = karvel::Terms_Import(source, database, true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(result.status, c.status);
    ASSERT_FALSE(result.messages.empty());
    EXPECT_NE(result.messages.front().find(c.first_message), std::string::npos) << result.messages.front();
    if (c.status == karvel::Terms_Status::kFailed) {
      EXPECT_NE(result.messages.back().find("nothing imported"), std::string::npos) << result.messages.back();
    }
    for (const std::string &line : result.messages) {
      EXPECT_EQ(line.find('\n'), std::string::npos) << "one line each";
      EXPECT_EQ(line.find("tesq terms"), std::string::npos) << "the tool names itself: " << line;
    }
  }
  const karvel::Terms_Result missing = karvel::Terms_Export(dir + "/none.db", "-");
  EXPECT_EQ(missing.status, karvel::Terms_Status::kFailed);
  ASSERT_EQ(missing.messages.size(), 1u);
  EXPECT_NE(missing.messages[0].find("no such file"), std::string::npos) << missing.messages[0];
  const karvel::Terms_Result init = karvel::Terms_Init(dir + "/new.db");
  EXPECT_EQ(init.status, karvel::Terms_Status::kDone);
  ASSERT_EQ(init.messages.size(), 1u);
  EXPECT_NE(init.messages[0].find("has the table 420_DIC"), std::string::npos);
  ASSERT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}

}  // namespace
