// Stage 1 of the classifier through libtesqsrch's front ends, against a real
// term database: a stored label wins, and a database Karvel cannot use leaves
// the other stages to classify.
#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>

#include "tesqsrch/tesqsrch.h"
#include "gb2312.h"
#include "test_support.h"

namespace karvel_test {
namespace {

class Classify_Test : public testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_EQ(Tesquin_Init(0), 0); }
  static void TearDownTestSuite() { Tesquin_UnInit(); }

  void SetUp() override {
    db_ = dir_.Path("terms.db");
    Write_Database(db_, {{"人工智能", "主题词"},
                         {"情报学报", "刊名"},
                         {"O'Reilly", "出版单位"},
                         {"空标签", ""},
                         {"长标签", std::string(127, 'L')},
                         {"9787111213826", "馆藏图书"},
                         // Stored by an older import, which did not refuse them.
                         {"坏标签", "a\"b<c>&d"},
                         {"回车词", "刊名\r"}});
    Set_Env("TESQ_DB", db_);
  }
  void TearDown() override { Set_Env("TESQ_DB", ""); }

  // Tesquin_Search_Singleword with a 255-byte output; the label as UTF-8.
  int Single(const std::string &word_utf8, std::string *label) {
    char output[256];
    uint32_t size = 255;
    const int result = Tesquin_Search_Singleword(Gb(word_utf8).c_str(), output, &size);
    if (result == 0) {
      std::string utf8;
      EXPECT_TRUE(gb::Gb_To_Utf8(output, &utf8));
      *label = utf8;
    }
    return result;
  }

  Temp_Dir dir_;
  std::string db_;
};

struct Single_Case {
  const char *name;
  std::string word;
  int result;
  std::string label;
};

void PrintTo(const Single_Case &c, std::ostream *os) { *os << c.name; }

class Single_Word : public Classify_Test, public testing::WithParamInterface<Single_Case> {};

TEST_P(Single_Word, StoredLabelWins) {
  std::string label;
  EXPECT_EQ(Single(GetParam().word, &label), GetParam().result);
  if (GetParam().result == 0) {
    EXPECT_EQ(label, GetParam().label);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Terms, Single_Word,
    testing::Values(Single_Case{"subject_term", "人工智能", 0, "主题词"}, Single_Case{"journal", "情报学报", 0, "刊名"},
                    Single_Case{"apostrophe", "O'Reilly", 0, "出版单位"},
                    // An empty stored label is no label: the other stages
                    // answer (no category for this word).
                    Single_Case{"empty_stored_label_is_no_label", "空标签", 3, ""},
                    Single_Case{"label_of_127_bytes", "长标签", 0, std::string(127, 'L')},
                    // Stored, although it would also be an ISBN.
                    Single_Case{"stored_beats_standard_number", "9787111213826", 0, "馆藏图书"},
                    Single_Case{"injection", "x' or '1'='1", 3, ""},
                    Single_Case{"injection_always_true", "' or ''='", 3, ""}),
    [](const testing::TestParamInfo<Single_Case> &info) { return std::string(info.param.name); });

TEST_F(Classify_Test, OutputTooSmallForAStoredLabel) {
  char output[8];
  uint32_t size = 6;  // "刊名" needs 5; "主题词" needs 7
  EXPECT_EQ(Tesquin_Search_Singleword(Gb("人工智能").c_str(), output, &size), 2);
  EXPECT_EQ(size, 7u);
}

TEST_F(Classify_Test, QueryDocumentCarriesStoredLabels) {
  char output[2048];
  uint32_t size = sizeof output;
  ASSERT_EQ(Tesquin_Search(Gb("人工智能 情报学报").c_str(), output, &size), 0);
  std::string document;
  ASSERT_TRUE(gb::Gb_To_Utf8(output, &document));
  EXPECT_NE(document.find("<Word p=\"主题词\">人工智能</Word>"), std::string::npos) << document;
  EXPECT_NE(document.find("<Word p=\"刊名\">情报学报</Word>"), std::string::npos) << document;
}

TEST_F(Classify_Test, StoredLabelsThatWouldBreakTheDocumentAreNotUsed) {
  char output[2048];
  uint32_t size = sizeof output;
  testing::internal::CaptureStderr();
  ASSERT_EQ(Tesquin_Search(Gb("坏标签 回车词 人工智能").c_str(), output, &size), 0);
  const std::string err = testing::internal::GetCapturedStderr();
  std::string document;
  ASSERT_TRUE(gb::Gb_To_Utf8(output, &document));
  EXPECT_EQ(document.find_first_of("&\r"), std::string::npos) << document;
  EXPECT_EQ(document.find("a\"b"), std::string::npos) << document;
  EXPECT_EQ(document.find("p=\"刊名"), std::string::npos) << document;
  EXPECT_NE(document.find("<Word p=\"主题词\">人工智能</Word>"), std::string::npos) << document;
  EXPECT_EQ(Count_Lines(err, "karvel: "), 2) << err;  // a control character; markup
}

// A label no lookup can give back (longer than 127 GB2312 bytes, or with no
// GB2312 form) answers no value and says so, once per fault, whichever
// way the table is read.
TEST_F(Classify_Test, StoredLabelsThatNoLookupCanGiveBackAreReported) {
  for (const char *copy : {"1", "0"}) {
    // A database of its own each time: a fault is reported once per database.
    const std::string db = dir_.Path(std::string("by-hand-") + copy + ".db");
    Write_Database(db, {{"人工智能", "主题词"},
                        // Inserted by hand, bypassing the import's checks.
                        {"超长标签", std::string(128, 'L')},
                        {"无编码标签", "刊名\xF0\x9F\x98\x80"}});
    Set_Env("TESQ_DB", db);
    Set_Env("TESQ_DB_COPY", copy);
    testing::internal::CaptureStderr();
    std::string label;
    for (int i = 0; i < 2; ++i) {
      EXPECT_NE(Single("超长标签", &label), 0) << copy;
      EXPECT_NE(Single("无编码标签", &label), 0) << copy;
    }
    EXPECT_EQ(Single("人工智能", &label), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("128 bytes in GB2312, at most 127 fit"), std::string::npos) << copy << ": " << err;
    EXPECT_NE(err.find("no GB2312 form"), std::string::npos) << copy << ": " << err;
  }
  Set_Env("TESQ_DB_COPY", "");
}

TEST_F(Classify_Test, WithoutADatabaseTheOtherStagesStillAnswer) {
  Set_Env("TESQ_DB", dir_.Path("absent.db"));
  testing::internal::CaptureStderr();
  std::string label;
  for (int i = 0; i < 3; ++i) EXPECT_NE(Single("人工智能", &label), 0);
  char output[2048];
  uint32_t size = sizeof output;
  EXPECT_EQ(Tesquin_Search(Gb("人工智能 情报学报").c_str(), output, &size), 0);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(Count_Lines(err, "karvel: "), 1) << err;
  std::string document;
  ASSERT_TRUE(gb::Gb_To_Utf8(output, &document));
  EXPECT_EQ(document.find("主题词"), std::string::npos) << document;
  EXPECT_NE(document.find("<Items>"), std::string::npos) << document;
}

}  // namespace
}  // namespace karvel_test
