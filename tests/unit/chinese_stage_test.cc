// The Chinese-word stage: one segmentation, the recognisers in order, the
// prefix length, the capacity rule and the segmentation failure; and what the
// two query front ends make of it.
#include <cstring>
#include <string>
#include <vector>

#include "classify/classify.h"
#include "tesqsrch/tesqsrch.h"
#include "test_support.h"

namespace {

using Chinese_Stage = Unit_Test;
using Chinese_Front_Ends = Unit_Test;

const std::string kFund = Gb("基金"), kOrg = Gb("机构名"), kPerson = Gb("人名"), kFullText = Gb("全文");

// Scripts the dictionaries and segmentations used below.
void Script_Names() {
  // 国家基金: a fund name of two words.
  fake::Dictionary_Add("fund_dic", Gb("国家"), "b:0.5;");
  fake::Dictionary_Add("fund_dic", Gb("基金"), "e:0.7;");
  fake::Segment(Gb("国家基金"), {4, 8}, {0, 0});
  fake::Segment(Gb("国家基金委员"), {4, 8, 12}, {0, 0, 0});
  // 国a b 基金: a fund name of 4 bytes in a word of 8.
  fake::Dictionary_Add("fund_dic", Gb("国") + "a", "b:0.5;");
  fake::Dictionary_Add("fund_dic", "b", "e:0.7;");
  fake::Segment(Gb("国") + "ab" + Gb("基金"), {3, 4, 8}, {0, 0, 0});
  // 北京大学物理研究所: an organisation name of three words.
  fake::Dictionary_Add("org_dic", Gb("北京大学"), "b:0.5;");
  fake::Dictionary_Add("org_dic", Gb("物理"), "i:0.5;");
  fake::Dictionary_Add("org_dic", Gb("研究所"), "e:0.6;");
  fake::Segment(Gb("北京大学物理研究所"), {8, 12, 18}, {0, 0, 0});
  fake::Segment(Gb("北京大学研究所学报"), {8, 14, 18}, {0, 0, 0});
  // 张三文集: a person name of 4 bytes in a word of 8.
  fake::Dictionary_Add("name_dic", Gb("张"), "x:0.9;");
  fake::Dictionary_Add("name_dic", Gb("三"), "dm:0.5;");
  fake::Segment(Gb("张三文集"), {2, 4, 8}, {0, 0, 0});
  // 国家基金 is also likely as an organisation, 北京大学 also as a person.
  fake::Dictionary_Add("org_dic", Gb("国家"), "b:0.9;");
  fake::Dictionary_Add("org_dic", Gb("基金"), "e:0.9;");
  fake::Segment(Gb("北京大学"), {8}, {21});
}

struct Stage_Case {
  std::string word;
  int32_t capacity;
  int32_t result;
  std::string label;  // on result 0
  int32_t capacity_after;
  uint32_t prefix;
};

TEST_F(Chinese_Stage, RecognisersInOrderWithThePrefixLength) {
  Init_Library();
  Script_Names();
  const std::vector<Stage_Case> cases = {
      {Gb("国家基金"), 255, 0, kFund, 255, 0},
      {Gb("国家基金委员"), 255, 0, kFund, 255, 8},
      {Gb("国") + "ab" + Gb("基金"), 255, 0, kFund, 255, 4},
      {Gb("北京大学物理研究所"), 255, 0, kOrg, 255, 0},
      {Gb("北京大学研究所学报"), 255, 0, kOrg, 255, 14},
      {Gb("张三文集"), 255, 0, kPerson, 255, 4},
      {Gb("北京大学"), 255, 0, kPerson, 255, 0},  // tagged 21 by the segmenter
      {Gb("文集"), 255, 3, "", 255, 0},
      // The capacity rule: label length + 1 is needed; the prefix length is
      // set even when the label does not fit.
      {Gb("国家基金"), 4, 1, "", 5, 0},
      {Gb("国家基金"), 5, 0, kFund, 5, 0},
      {Gb("北京大学物理研究所"), 6, 1, "", 7, 0},
      {Gb("北京大学物理研究所"), 7, 0, kOrg, 7, 0},
      {Gb("张三文集"), 4, 1, "", 5, 4},
      {Gb("张三文集"), 5, 0, kPerson, 5, 4},
  };
  for (const Stage_Case &c : cases) {
    fake::Vornel().segment_calls = 0;
    char label[256];
    std::memset(label, '#', sizeof label);
    int32_t capacity = c.capacity;
    uint32_t prefix = 99;
    EXPECT_EQ(Word_Classify(c.word.c_str(), label, &capacity, &prefix), c.result) << c.capacity;
    EXPECT_EQ(capacity, c.capacity_after);
    EXPECT_EQ(prefix, c.prefix);
    if (c.result == 0) {
      EXPECT_EQ(std::string(label), c.label);
    } else {
      EXPECT_EQ(label[0], '#');
    }
    EXPECT_EQ(fake::Vornel().segment_calls, 1) << "one segmentation per word";
    EXPECT_EQ(fake::Vornel().last_segment_args,
              (std::vector<int32_t>{static_cast<int32_t>(c.word.size()) + 1, -1, 1, 2048, 0, 0, 0}));
    EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
    EXPECT_EQ(fake::Vornel().bad_releases, 0);
  }
}

TEST_F(Chinese_Stage, TheFirstRecogniserToAcceptDecides) {
  Init_Library();
  Script_Names();
  char label[256];
  int32_t capacity = 255;
  uint32_t prefix = 0;
  // A fund name that would also pass as an organisation: org_dic is never asked.
  ASSERT_EQ(Word_Classify(Gb("国家基金").c_str(), label, &capacity, &prefix), 0);
  EXPECT_EQ(std::string(label), kFund);
  EXPECT_EQ(fake::Lookup_Count("org_dic"), 0);
  EXPECT_EQ(fake::Lookup_Count("name_dic"), 0);
  // An organisation name: the person recogniser is not asked.
  fake::Vornel().lookups.clear();
  ASSERT_EQ(Word_Classify(Gb("北京大学物理研究所").c_str(), label, &capacity, &prefix), 0);
  EXPECT_EQ(std::string(label), kOrg);
  EXPECT_GT(fake::Lookup_Count("fund_dic"), 0);
  EXPECT_EQ(fake::Lookup_Count("name_dic"), 0);
  EXPECT_EQ(fake::Lookup_Count("foreign_dic"), 0);
}

TEST_F(Chinese_Stage, SegmentationFailureIsReportedOnce) {
  Init_Library();
  Script_Names();
  fake::Vornel().segment_fails = true;
  char label[256];
  std::memset(label, '#', sizeof label);
  int32_t capacity = 255;
  uint32_t prefix = 99;
  testing::internal::CaptureStdout();
  const int32_t result = Word_Classify(Gb("国家基金").c_str(), label, &capacity, &prefix);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "KV_Word_Sect Failed!\n");
  EXPECT_EQ(result, 2);
  EXPECT_EQ(capacity, 255);
  EXPECT_EQ(prefix, 0u);
  EXPECT_EQ(label[0], '#');
  EXPECT_TRUE(fake::Vornel().lookups.empty()) << "no recogniser is asked";
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
}

TEST_F(Chinese_Stage, FirstByteChoosesTheStage) {
  Init_Library();
  fake::Segment("\x81" "abc", {4}, {0});
  struct Route_Case {
    std::string word;
    int segment_calls;
    int32_t result;
  };
  const std::vector<Route_Case> cases = {
      {"\x80" "abc", 0, 3}, {"\x7F" "abc", 0, 3}, {"", 0, 3}, {"\x81" "abc", 1, 3}, {Gb("文集"), 1, 3},
      // One byte: its one word and the 0 entry fit the stage's arrays.
      {"\xFF", 1, 3},
  };
  for (const Route_Case &c : cases) {
    fake::Vornel().segment_calls = 0;
    char label[256];
    int32_t capacity = 255;
    uint32_t prefix = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(Word_Classify(c.word.c_str(), label, &capacity, &prefix), c.result) << c.word;
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(fake::Vornel().segment_calls, c.segment_calls) << c.word;
    EXPECT_EQ(printed, c.result == 2 ? "KV_Word_Sect Failed!\n" : "") << c.word;
  }
}

// --- through the front ends ---------------------------------------------------

const std::string kHead = "<?xml version=\"1.0\" encoding=\"gb2312\" standalone=\"yes\" ?>\n<IR>\n<Sentence>";
const std::string kSentenceEnd = "</Sentence>\n<Items>\n";
const std::string kTail = "</Items>\n</IR>";

std::string Element(const std::string &label, const std::string &word) {
  return "\t<Word p=\"" + label + "\">" + word + "</Word>\n";
}

TEST_F(Chinese_Front_Ends, ALeadingNameSplitsTheWordInTheDocument) {
  Init_Library();
  Script_Names();
  const std::string word = Gb("张三文集");
  const std::string query = "abc " + word;
  std::vector<char> out(4096, '#');
  uint32_t size = static_cast<uint32_t>(out.size());
  ASSERT_EQ(Tesquin_Search(query.c_str(), out.data(), &size), 0);
  const std::string expected = kHead + query + kSentenceEnd + Element(kFullText, "abc") +
                               Element(kPerson, Gb("张三")) + Element(kFullText, Gb("文集")) + kTail;
  EXPECT_EQ(std::string(out.data()), expected);
  // 107 + query, 20 + label + word per word, and 24 more for the split one.
  const size_t whole = 107 + query.size() + (20 + kFullText.size() + 3) + (20 + kPerson.size() + word.size());
  EXPECT_EQ(expected.size(), whole + 24);
  EXPECT_EQ(Trace_Lines(), (std::vector<std::string>{"abc", "", "3", word, kPerson, "0"}));
}

TEST_F(Chinese_Front_Ends, ALeadingNameThatLeavesOneCharacterStillSplitsTheWord) {
  // 张三 is a name and 文 is left: the split happens however short the rest.
  Init_Library();
  Script_Names();
  fake::Segment(Gb("张三文"), {2, 4, 6}, {0, 0, 0});
  std::vector<char> out(4096, '#');
  uint32_t size = static_cast<uint32_t>(out.size());
  ASSERT_EQ(Tesquin_Search(Gb("张三文").c_str(), out.data(), &size), 0);
  EXPECT_EQ(std::string(out.data()), kHead + Gb("张三文") + kSentenceEnd + Element(kPerson, Gb("张三")) +
                                         Element(kFullText, Gb("文")) + kTail);
  char label[256] = "#";
  uint32_t label_size = sizeof label;
  EXPECT_EQ(Tesquin_Search_Singleword(Gb("张三文").c_str(), label, &label_size), 3);
  EXPECT_EQ(label[0], '#');
}

TEST_F(Chinese_Front_Ends, SinglewordGivesNoLabelForALeadingNameOnly) {
  Init_Library();
  Script_Names();
  struct Single_Case {
    std::string word;
    uint32_t size;
    int32_t result;
    uint32_t size_after;
    std::string label;
  };
  const std::vector<Single_Case> cases = {
      {Gb("张三文集"), 255, 3, 255, ""},
      {Gb("国家基金委员"), 255, 3, 255, ""},
      {Gb("北京大学物理研究所"), 7, 0, 7, kOrg},
      {Gb("北京大学物理研究所"), 6, 2, 7, ""},
      {Gb("国家基金"), 5, 0, 5, kFund},
      {Gb("文集"), 255, 3, 255, ""},
  };
  for (const Single_Case &c : cases) {
    char out[256];
    std::memset(out, '#', sizeof out);
    uint32_t size = c.size;
    EXPECT_EQ(Tesquin_Search_Singleword(c.word.c_str(), out, &size), c.result) << c.size;
    EXPECT_EQ(size, c.size_after);
    if (c.result == 0) {
      EXPECT_EQ(std::string(out), c.label);
    } else {
      EXPECT_EQ(out[0], '#');
    }
  }
}

TEST_F(Chinese_Front_Ends, SegmentationFailureWritesOneLineAndFails) {
  Init_Library();
  fake::Vornel().segment_fails = true;
  const std::string word = Gb("张三文集");

  char out[4096];
  std::memset(out, '#', sizeof out);
  uint32_t size = sizeof out;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Tesquin_Search(word.c_str(), out, &size), 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "KV_Word_Sect Failed!\n");
  EXPECT_EQ(size, sizeof out);
  EXPECT_EQ(out[0], '#');

  size = sizeof out;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Tesquin_Search_Singleword(word.c_str(), out, &size), 1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "KV_Word_Sect Failed!\n");
  EXPECT_EQ(size, sizeof out);
  EXPECT_EQ(out[0], '#');
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
}

TEST_F(Chinese_Front_Ends, ASecondWordThatFailsLeavesSixTraceLines) {
  Init_Library();
  Script_Names();
  // The second word's scripted segmentation has more words than the word
  // has bytes, more than its arrays hold, so the segmenter refuses it.
  const std::string bad = Gb("坏词");
  fake::Segment(bad, {1, 2, 3, 4, 4}, {0, 0, 0, 0, 0});
  const std::string query = Gb("张三文集") + " " + bad + " abc";
  char out[4096];
  std::memset(out, '#', sizeof out);
  uint32_t size = sizeof out;
  testing::internal::CaptureStdout();
  EXPECT_EQ(Tesquin_Search(query.c_str(), out, &size), 2);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "KV_Word_Sect Failed!\n");
  EXPECT_EQ(size, sizeof out);
  EXPECT_EQ(out[0], '#');
  const std::vector<std::string> trace = Trace_Lines();
  ASSERT_EQ(trace.size(), 6u);
  EXPECT_EQ(trace[0], Gb("张三文集"));
  EXPECT_EQ(trace[1], kPerson);
  EXPECT_EQ(trace[2], "0");
  EXPECT_EQ(trace[3], bad);
  EXPECT_EQ(trace[5], "2");
  EXPECT_EQ(fake::Vornel().segment_calls, 2);
}

TEST_F(Chinese_Front_Ends, MalformedAndOneByteWordsStillGiveTheirDocument) {
  // Text cut into one-byte words needs one entry per byte and the closing 0:
  // each of these words is classified (全文), with no failure line, by
  // both front ends, alone and beside a word the stage labels.
  Init_Library();
  Script_Names();
  const std::vector<std::string> words = {"\xB0", "\xFF", "\xA1", "\xB0'", "\x81\x40", "\xE9\x46",
                                          "\xB0\xB0\xB0", Gb("文") + "\xB0"};
  for (const std::string &word : words) {
    const std::string query = word + " " + Gb("张三文集");
    std::vector<char> out(4096, '#');
    uint32_t size = static_cast<uint32_t>(out.size());
    testing::internal::CaptureStdout();
    const int32_t result = Tesquin_Search(query.c_str(), out.data(), &size);
    char label[256] = "#";
    uint32_t label_size = sizeof label;
    const int32_t single = Tesquin_Search_Singleword(word.c_str(), label, &label_size);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << word;
    ASSERT_EQ(result, 0) << word;
    EXPECT_EQ(std::string(out.data()), kHead + query + kSentenceEnd + Element(kFullText, word) +
                                           Element(kPerson, Gb("张三")) + Element(kFullText, Gb("文集")) + kTail)
        << word;
    EXPECT_EQ(single, 3) << word;
    EXPECT_EQ(label[0], '#') << word;
  }
  EXPECT_EQ(fake::Vornel().outstanding_handles, 0);
}

}  // namespace
