// Stage 1 of the word classifier: the statement sent to the term table, the
// stored label and the capacity rule, and the choice of the next stage.
#include <cstring>

#include "classify/classify.h"
#include "test_support.h"

namespace {

using Word_Classify_Test = Unit_Test;

const std::string kHead = "select " + Gb("附加信息") + " from 420_DIC where " + Gb("词") + "= ' ";

struct Statement_Case {
  std::string word;
  std::string quoted;  // what stands between the head and the closing apostrophe
  size_t length;       // of the statement: the 41 bytes of the head, the quoted word, the apostrophe
};

TEST_F(Word_Classify_Test, StatementIsTheHeadTheWordAndAnApostrophe) {
  const std::string long_word(200, 'a');
  const std::vector<Statement_Case> cases = {
      {"1234", "1234", 46},
      {"", "", 42},
      {Gb("计算机"), Gb("计算机"), 48},
      {"O'Brien", "O''Brien", 50},  // an apostrophe cannot end the value early
      {"x' or '1'='1", "x'' or ''1''=''1", 58},
      {"''", "''''", 46},
      {std::string(85, 'b'), std::string(85, 'b'), 127},  // exactly fills 128 bytes
      {long_word, long_word, 242},                        // beyond the fixed buffer
  };
  for (const Statement_Case &c : cases) {
    fake::Reset();
    char label[256];
    int32_t capacity = 255;
    uint32_t prefix = 99;
    Word_Classify(c.word.c_str(), label, &capacity, &prefix);
    ASSERT_EQ(fake::Karvel().statements.size(), 1u) << c.word;
    EXPECT_EQ(fake::Karvel().statements[0], kHead + c.quoted + "'") << c.word;
    EXPECT_EQ(fake::Karvel().statements[0].size(), c.length) << c.word;
    EXPECT_EQ(prefix, 0u);
  }
}

TEST_F(Word_Classify_Test, KarvelIsAskedExecGetCloseWithTheLabelColumn) {
  char label[256];
  int32_t capacity = 255;
  uint32_t prefix = 0;
  Word_Classify("abc", label, &capacity, &prefix);
  EXPECT_EQ(fake::Karvel().calls, (std::vector<std::string>{"ExecSql", "GetCol", "Close"}));
  EXPECT_EQ(fake::Karvel().columns, (std::vector<std::string>{Gb("附加信息")}));
  EXPECT_EQ(fake::Karvel().open_queries, 0);
}

struct Label_Case {
  std::string stored;
  int32_t capacity;
  int32_t result;
  int32_t capacity_after;
};

TEST_F(Word_Classify_Test, StoredLabelFollowsTheCapacityRule) {
  const std::string ten = "0123456789";
  const std::string longest(127, 'L');
  const std::vector<Label_Case> cases = {
      {ten, 10, 1, 11}, {ten, 11, 0, 11}, {ten, 255, 0, 255}, {"", 1, 0, 1},
      {"", 0, 1, 1},    {longest, 127, 1, 128}, {longest, 128, 0, 128},
  };
  for (const Label_Case &c : cases) {
    fake::Reset();
    fake::Karvel().terms["w"] = c.stored;
    char label[256];
    std::memset(label, '#', sizeof label);
    int32_t capacity = c.capacity;
    uint32_t prefix = 5;
    EXPECT_EQ(Word_Classify("w", label, &capacity, &prefix), c.result) << c.stored << "/" << c.capacity;
    EXPECT_EQ(capacity, c.capacity_after);
    EXPECT_EQ(prefix, 0u);
    if (c.result == 0) EXPECT_EQ(std::string(label), c.stored);
    else EXPECT_EQ(label[0], '#') << "the label buffer is untouched";
  }
}

TEST_F(Word_Classify_Test, KnownTermWinsOverEveryOtherStage) {
  Init_Library();
  const std::string word = Gb("张三丰");
  fake::Karvel().terms[word] = Gb("作者");
  fake::Karvel().terms["9787111123453"] = Gb("主题词");
  for (const std::string &w : {word, std::string("9787111123453")}) {
    char label[256];
    int32_t capacity = 255;
    uint32_t prefix = 0;
    EXPECT_EQ(Word_Classify(w.c_str(), label, &capacity, &prefix), 0);
    EXPECT_EQ(std::string(label), fake::Karvel().terms[w]);
    EXPECT_EQ(prefix, 0u);
  }
  EXPECT_EQ(fake::Vornel().segment_calls, 0) << "no stage after the table";
}

}  // namespace
