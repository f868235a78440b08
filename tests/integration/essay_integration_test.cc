// Tesquin_Search_Essay through the real libtesqsrch, libvornel and the
// dictionaries built from the Debian lexicon (TESQ_DATA_DIR, else the build
// tree's data directory). A build without data of its own and no
// TESQ_DATA_DIR skips these tests.
//
// The inputs are ones any sensibly trained dictionary keeps recognising:
// common names, big universities, big cities. Each case is checked against
// the segmenter's own answer for the same text (KV_Word_Sect, called
// directly): every word of the essay is either one of the names expected,
// merged into one word with its tag, or exactly a word the segmenter gave,
// with the segmenter's tag.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "gb2312.h"
#include "gb_text.h"
#include "tesqsrch/tesqsrch.h"
#include "vornel/vornel.h"

namespace {

using tesq_test::Gb;

struct Word {
  std::string text;  // GB2312
  int32_t start;
  int32_t end;
  int16_t tag;
  bool operator==(const Word &o) const { return start == o.start && end == o.end && tag == o.tag; }
};

std::string Utf8(const std::string &gbtext) {
  std::string out;
  if (!gb::Gb_To_Utf8(gbtext, &out)) return "<not GB2312>";
  return out;
}

std::string Show(const std::vector<Word> &words) {
  std::string out;
  for (const Word &w : words) out += (out.empty() ? "" : " ") + Utf8(w.text) + "/" + std::to_string(w.tag);
  return out;
}

// Reads the word-end and tag arrays back into words, checking that they
// are a segmentation of the whole text: rising ends within `count` entries,
// a 0 terminator, the last word ending at the text's end.
std::vector<Word> Words_Of(const std::string &text, const std::vector<int32_t> &ends,
                           const std::vector<int16_t> &tags) {
  std::vector<Word> words;
  int32_t start = 0;
  size_t n = 0;
  for (; n < ends.size() && ends[n] != 0; ++n) {
    const int32_t end = ends[n];
    EXPECT_GT(end, start) << "word " << n << " of " << Utf8(text) << " is empty or goes back";
    EXPECT_LE(end, static_cast<int32_t>(text.size())) << "word " << n << " ends past the text";
    if (end <= start || end > static_cast<int32_t>(text.size())) return words;
    words.push_back(Word{text.substr(static_cast<size_t>(start), static_cast<size_t>(end - start)), start, end,
                         tags[n]});
    start = end;
  }
  EXPECT_LT(n, ends.size()) << "no terminating 0 entry";
  EXPECT_EQ(start, static_cast<int32_t>(text.size())) << "the words do not cover " << Utf8(text);
  return words;
}

// The segmenter's answer for the text, with the essay front end's arguments.
std::vector<Word> Segment(const std::string &text) {
  const int32_t count = static_cast<int32_t>(text.size()) + 1;
  std::vector<int32_t> ends(static_cast<size_t>(count), -7);
  std::vector<int16_t> tags(static_cast<size_t>(count), -7);
  EXPECT_EQ(KV_Word_Sect(text.c_str(), ends.data(), count, -1, 1, tags.data(), 2048, 0, 0, 0), 1);
  return Words_Of(text, ends, tags);
}

struct Essay_Outcome {
  int32_t result;
  std::vector<int32_t> ends;
  std::vector<int16_t> tags;
  std::vector<Word> words;
};

Essay_Outcome Essay(const std::string &text) {
  const int32_t count = static_cast<int32_t>(text.size()) + 1;
  Essay_Outcome out;
  out.ends.assign(static_cast<size_t>(count), -7);
  out.tags.assign(static_cast<size_t>(count), -7);
  out.result = Tesquin_Search_Essay(text.c_str(), out.ends.data(), count, -1, 1, out.tags.data());
  if (out.result == 0) out.words = Words_Of(text, out.ends, out.tags);
  return out;
}

class Essay_Integration : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { init_result_ = Tesquin_Init(0); }
  static void TearDownTestSuite() { Tesquin_UnInit(); }
  void SetUp() override {
    if (init_result_ != 0 && !TESQ_HAVE_BUILT_DATA && std::getenv("TESQ_DATA_DIR") == nullptr)
      GTEST_SKIP() << "no dictionaries: this build makes no data and TESQ_DATA_DIR is not set";
    ASSERT_EQ(init_result_, 0) << "Tesquin_Init failed: are the dictionaries built into TESQ_DATA_DIR ("
                               << (std::getenv("TESQ_DATA_DIR") ? std::getenv("TESQ_DATA_DIR") : "unset") << ")?";
  }
  static int32_t init_result_;
};
int32_t Essay_Integration::init_result_ = -100;

struct Name {
  const char *utf8;
  int16_t tag;  // 21 person, 22 place, 23 organisation
};

struct Names_Case {
  const char *utf8;
  std::vector<Name> names;
};

const Names_Case kNamesCases[] = {
    {"王小明在北京大学图书馆工作。", {{"王小明", 21}, {"北京大学图书馆", 23}}},
    {"记者张晓峰在上海报道了南京大学出版社的新书。", {{"张晓峰", 21}, {"上海", 22}, {"南京大学出版社", 23}}},
    {"李晓燕在广州的中山大学出版社工作。", {{"李晓燕", 21}, {"广州", 22}, {"中山大学出版社", 23}}},
    // Two-character names inside a sentence, each merged from surname +
    // given name, with nothing glued on (和李明).
    {"清华大学计算机系的王丽教授和李明博士发表了论文。", {{"清华大学", 23}, {"王丽", 21}, {"李明", 21}}},
    // 太极 is no place: 太极拳 stays the segmenter's word, and its 拳 is
    // not cut off onto the full stop.
    {"张三丰在武当山修炼太极拳。", {{"张三丰", 21}, {"武当山", 22}}},
    // 新建 is no place either.
    {"华东师范大学将新建校区。", {{"华东师范大学", 23}}},
};

TEST_F(Essay_Integration, NamesAreMergedIntoOneTaggedWordEach) {
  // Names the segmenter alone cut into several words: the merge must have
  // joined them (a table of names the segmenter already gives whole would
  // not test it).
  int joined = 0;
  for (const Names_Case &c : kNamesCases) {
    SCOPED_TRACE(c.utf8);
    const std::string text = Gb(c.utf8);
    const std::vector<Word> plain = Segment(text);
    const Essay_Outcome essay = Essay(text);
    ASSERT_EQ(essay.result, 0);
    SCOPED_TRACE("segmenter: " + Show(plain) + "\nessay: " + Show(essay.words));

    std::vector<bool> found(c.names.size(), false);
    for (const Word &w : essay.words) {
      bool is_name = false;
      for (size_t k = 0; k < c.names.size(); ++k) {
        if (w.text == Gb(c.names[k].utf8) && w.tag == c.names[k].tag) {
          EXPECT_FALSE(found[k]) << c.names[k].utf8 << " comes back twice";
          found[k] = true;
          is_name = true;
        }
      }
      if (is_name) {
        int pieces = 0;
        for (const Word &p : plain) pieces += p.start >= w.start && p.end <= w.end;
        joined += pieces > 1;
        continue;
      }
      bool segmenter_word = false;
      for (const Word &p : plain) segmenter_word = segmenter_word || p == w;
      EXPECT_TRUE(segmenter_word) << "the essay's word " << Utf8(w.text) << "/" << w.tag
                                  << " is neither an expected name nor the segmenter's word";
    }
    for (size_t k = 0; k < c.names.size(); ++k)
      EXPECT_TRUE(found[k]) << c.names[k].utf8 << "/" << c.names[k].tag << " is not one word";
  }
  EXPECT_GE(joined, 2);
}

// With no name in the text, the essay is the segmenter's answer byte for
// byte: the same word ends, the same tags, the same terminator.
const char *const kTextsWithoutNames[] = {
    "今天的天气很好，我们去公园散步吧。",
    "这个问题的研究方法很重要。",
    "我们应该认真学习，努力工作。",
    "计算机科学是一门重要的学科。",
    "hello, world 123 ok.",
};

TEST_F(Essay_Integration, TextWithoutNamesIsTheSegmentersAnswer) {
  for (const char *utf8 : kTextsWithoutNames) {
    SCOPED_TRACE(utf8);
    const std::string text = Gb(utf8);
    const int32_t count = static_cast<int32_t>(text.size()) + 1;
    std::vector<int32_t> ends(static_cast<size_t>(count), -7);
    std::vector<int16_t> tags(static_cast<size_t>(count), -7);
    ASSERT_EQ(KV_Word_Sect(text.c_str(), ends.data(), count, -1, 1, tags.data(), 2048, 0, 0, 0), 1);
    const Essay_Outcome essay = Essay(text);
    ASSERT_EQ(essay.result, 0);
    const std::vector<Word> words = Words_Of(text, ends, tags);
    ASSERT_GT(words.size(), 1u);
    EXPECT_EQ(Show(essay.words), Show(words));
    // The whole arrays, also past the terminator: the essay wrote nothing
    // the segmenter did not.
    EXPECT_EQ(essay.ends, ends);
    EXPECT_EQ(essay.tags, tags);
  }
}

}  // namespace
