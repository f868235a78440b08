// The segmenter on small purpose-built lexicons: the maximum-probability path
// (checked against an enumeration of every path), ties, unknown characters,
// the non-Han rules, tags, and output bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "gb2312.h"
#include "lexicon.h"
#include "segmenter.h"
#include "tags.h"
#include "test_support.h"

namespace {

using vornel::Lexicon;
using vornel_test::Gb;

std::unique_ptr<Lexicon> Small_Lexicon() {
  std::string error;
  auto lex = Lexicon::From_Blob(vornel_test::Make_Lexicon({{"北京", 3000, "ns"},
                                                           {"北京大学", 100, "nt"},
                                                           {"大学", 2000, "n"},
                                                           {"大学生", 500, "n"},
                                                           {"学生", 3000, "n"},
                                                           {"生活", 2000, "vn"},
                                                           {"我", 5000, "r"},
                                                           {"的", 9000, "uj"},
                                                           {"和", 6000, "c"},
                                                           {"很", 3000, "d"},
                                                           {"美丽", 800, "a"},
                                                           {"王", 700, "nr"},
                                                           {"甲乙", 5, "n"},
                                                           {"乙丙", 5, "n"},
                                                           {"甲", 5, "n"},
                                                           {"丙", 5, "n"}},
                                                          100000),
                                &error);
  EXPECT_NE(lex, nullptr) << error;
  return lex;
}

struct Seg {
  std::vector<std::string> words;  // UTF-8 for readable failures
  std::vector<int16_t> tags;
};

Seg Cut(const Lexicon &lex, const std::string &gbtext, bool whole = true, bool names_apart = false) {
  std::vector<int32_t> ends(gbtext.size() + 1);
  std::vector<int16_t> tags(gbtext.size() + 1);
  const long n =
      vornel::Segment(lex, gbtext.data(), gbtext.size(), ends.data(), tags.data(), ends.size(), whole, names_apart);
  EXPECT_GE(n, 0);
  Seg s;
  for (long k = 0, start = 0; k < n; start = ends[k++]) {
    std::string utf8;
    gb::Gb_To_Utf8(gbtext.substr(start, ends[k] - start), &utf8, nullptr, true);
    s.words.push_back(utf8);
    s.tags.push_back(tags[k]);
  }
  return s;
}

std::string Join(const std::vector<std::string> &words) {
  std::string s;
  for (const std::string &w : words) s += (s.empty() ? "" : "/") + w;
  return s;
}

TEST(Segmenter, MaximumProbabilityCases) {
  auto lex = Small_Lexicon();
  ASSERT_NE(lex, nullptr);
  const struct {
    const char *text, *want;
  } cases[] = {
      {"北京大学", "北京大学"},
      {"北京大学生活", "北京大学/生活"},
      {"我的大学生活", "我/的/大学/生活"},
      {"我和王很美丽", "我/和/王/很/美丽"},
      {"甲乙丙", "甲乙/丙"},  // equal sums: the longer word at the first position
  };
  for (const auto &c : cases) {
    EXPECT_EQ(Join(Cut(*lex, Gb(c.text)).words), c.want) << c.text;
  }
}

TEST(Segmenter, UnknownCharactersAreOneCharacterWords) {
  auto lex = Small_Lexicon();
  const Seg s = Cut(*lex, Gb("张三北京李四"));
  EXPECT_EQ(Join(s.words), "张/三/北京/李/四");
  EXPECT_EQ(s.tags, (std::vector<int16_t>{VORNEL_TAG_UNKNOWN, VORNEL_TAG_UNKNOWN, VORNEL_TAG_PLACE,
                                          VORNEL_TAG_UNKNOWN, VORNEL_TAG_UNKNOWN}));
}

TEST(Segmenter, TagsOfKnownWords) {
  auto lex = Small_Lexicon();
  const Seg s = Cut(*lex, Gb("我和王很美丽的北京大学"));
  EXPECT_EQ(Join(s.words), "我/和/王/很/美丽/的/北京大学");
  EXPECT_EQ(s.tags, (std::vector<int16_t>{29, 37, 21, 8, 1, 38, 23}));
}

TEST(Segmenter, NonHanRules) {
  auto lex = Small_Lexicon();
  const struct {
    const char *text, *want;
    std::vector<int16_t> tags;
  } cases[] = {
      {"C++和c#", "C++/和/c#", {42, 37, 42}},
      {"版本3.14%北京", "版/本/3.14%/北京", {43, 43, 18, 22}},
      {"a-b_c.d&e", "a-b_c.d&e", {42}},
      {"...", "...", {41}},
      {"我，的。", "我/，/的/。", {29, 41, 38, 41}},
      {"(北京)!", "(/北京/)/!", {41, 22, 41, 41}},
      {"我  \t\n的", "我/  \t\n/的", {29, 41, 38}},
      {"１２ＡＢα", "１/２/Ａ/Ｂ/α", {18, 18, 42, 42, 42}},
      {"①北京", "①/北京", {18, 22}},
  };
  for (const auto &c : cases) {
    const Seg s = Cut(*lex, Gb(c.text));
    EXPECT_EQ(Join(s.words), c.want) << c.text;
    EXPECT_EQ(s.tags, c.tags) << c.text;
  }
}

TEST(Segmenter, MalformedBytesAreOneByteWords) {
  auto lex = Small_Lexicon();
  const std::string bj = Gb("北京");
  const struct {
    std::string text;
    std::vector<int32_t> ends;
  } cases[] = {
      {bj + "\xB1", {4, 5}},                    // lead byte at the end
      {"\xB1'" + bj, {1, 2, 6}},                // lead byte with a trail below 0x40
      {"\xB1\x7F", {1, 2}},                     // invalid trail byte
      {"\x80\x81\xFF", {1, 2, 3}},              // bytes that begin no character
      {"\xFF" "A" + bj, {1, 2, 6}},              // 0xFF is not a lead byte
      {"\xFF\xA1\xB1", {1, 3}},                 // the walk resynchronises on the next lead byte
      {"\xAA\xA1", {2}},                        // unassigned row: one unknown character
  };
  for (const auto &c : cases) {
    std::vector<int32_t> ends(c.text.size() + 1, -7);
    std::vector<int16_t> tags(c.text.size() + 1, -7);
    const long n = vornel::Segment(*lex, c.text.data(), c.text.size(), ends.data(), tags.data(), ends.size());
    ASSERT_EQ(n, static_cast<long>(c.ends.size()));
    EXPECT_EQ(std::vector<int32_t>(ends.begin(), ends.begin() + n), c.ends);
  }
}

TEST(Segmenter, GbkCharactersBeyondGb2312AreOneWordEach) {
  auto lex = Small_Lexicon();
  const std::string bj = Gb("北京");
  const struct {
    std::string text;
    std::vector<int32_t> ends;
    std::vector<int16_t> tags;
  } cases[] = {
      {"\x81\x40", {2}, {VORNEL_TAG_UNKNOWN}},                       // 丂, the first GBK character
      {"\xE9\x46", {2}, {VORNEL_TAG_UNKNOWN}},                       // 镕: a GB2312 lead, a GBK trail
      {"\xFE\xFE", {2}, {VORNEL_TAG_UNKNOWN}},                       // the last lead and trail
      {"\xB1" "A" + bj, {2, 6}, {VORNEL_TAG_UNKNOWN, 22}},           // GBK trail bytes include ASCII letters
      {bj + "\x81\x40" + bj, {4, 6, 10}, {22, VORNEL_TAG_UNKNOWN, 22}},  // it ends a Han run
      {"\x81\x3F", {1, 2}, {VORNEL_TAG_UNKNOWN, VORNEL_TAG_PUNCTUATION}},  // trail below 0x40
      {"\x81\x7F", {1, 2}, {VORNEL_TAG_UNKNOWN, VORNEL_TAG_UNKNOWN}},      // 0x7F is never a trail
      {"\x81\xFF", {1, 2}, {VORNEL_TAG_UNKNOWN, VORNEL_TAG_UNKNOWN}},      // nor is 0xFF
      {"\x80\x40", {1, 2}, {VORNEL_TAG_UNKNOWN, VORNEL_TAG_PUNCTUATION}},  // 0x80 is never a lead
      {bj + "\x81", {4, 5}, {22, VORNEL_TAG_UNKNOWN}},                // a lead byte at the end
  };
  for (const auto &c : cases) {
    std::vector<int32_t> ends(c.text.size() + 1, -7);
    std::vector<int16_t> tags(c.text.size() + 1, -7);
    const long n = vornel::Segment(*lex, c.text.data(), c.text.size(), ends.data(), tags.data(), ends.size());
    ASSERT_EQ(n, static_cast<long>(c.ends.size())) << c.text;
    EXPECT_EQ(std::vector<int32_t>(ends.begin(), ends.begin() + n), c.ends) << c.text;
    EXPECT_EQ(std::vector<int16_t>(tags.begin(), tags.begin() + n), c.tags) << c.text;
  }
}

TEST(Segmenter, ATextOfNBytesHasAtMostNWords) {
  // Callers size their arrays by the text: n entries for the words of n
  // bytes, whatever the bytes, and one more for the closing 0.
  auto lex = Small_Lexicon();
  std::mt19937 random(20261209);
  const std::string alphabet = Gb("北京大学的") + "\x81\x40\xB0\xFF\x7F\x80 ,a1\n";
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    const size_t size = 1 + random() % 12;
    for (size_t k = 0; k < size; ++k) text += alphabet[random() % alphabet.size()];
    std::vector<int32_t> ends(text.size(), -7);
    std::vector<int16_t> tags(text.size(), -7);
    const long n = vornel::Segment(*lex, text.data(), text.size(), ends.data(), tags.data(), text.size());
    ASSERT_GE(n, 1) << round;
    EXPECT_EQ(ends[static_cast<size_t>(n) - 1], static_cast<int32_t>(text.size())) << round;
  }
}

TEST(Segmenter, WholeWordExclusionSplitsALexiconEntry) {
  auto lex = Small_Lexicon();
  EXPECT_EQ(Join(Cut(*lex, Gb("北京大学"), false).words), "北京/大学");
  EXPECT_EQ(Join(Cut(*lex, Gb("北京"), false).words), "北/京");
  // Only the whole text is excluded, not the same word elsewhere.
  EXPECT_EQ(Join(Cut(*lex, Gb("北京大学和北京大学"), false).words), "北京大学/和/北京大学");
}

TEST(Segmenter, CapacityIsNeverExceeded) {
  auto lex = Small_Lexicon();
  const std::string text = Gb("我的北京,a b");  // 我/的/北京/,/a/ /b: 7 words
  for (size_t capacity = 0; capacity <= 8; ++capacity) {
    std::vector<int32_t> ends(capacity + 2, 99);
    std::vector<int16_t> tags(capacity + 2, 99);
    const long n = vornel::Segment(*lex, text.data(), text.size(), ends.data(), tags.data(), capacity);
    EXPECT_EQ(n, capacity >= 7 ? 7 : -1) << capacity;
    EXPECT_EQ(ends[capacity], 99) << capacity;
    EXPECT_EQ(tags[capacity], 99) << capacity;
  }
}

// Every segmentation of a run, scored right to left as the segmenter scores
// it; the best has the greatest score, then the greatest first end, and so on.
struct Path {
  double score;
  std::vector<size_t> ends;
};

void Enumerate(const Lexicon &lex, const std::vector<int> &codes, size_t from, std::vector<Path> *out) {
  if (from == codes.size()) {
    out->push_back({0.0, {}});
    return;
  }
  std::vector<std::pair<size_t, double>> steps;  // (end, weight)
  uint32_t node = lex.Root(codes[from]);
  for (size_t j = from; node != 0;) {
    if (lex.Is_Word(node)) steps.emplace_back(j + 1, lex.Weight(node));
    if (++j == codes.size()) break;
    node = lex.Child(node, codes[j]);
  }
  if (steps.empty()) steps.emplace_back(from + 1, lex.Unknown_Weight());
  for (const auto &step : steps) {
    std::vector<Path> rest;
    Enumerate(lex, codes, step.first, &rest);
    for (Path &p : rest) {
      p.score = step.second + p.score;
      p.ends.insert(p.ends.begin(), step.first);
      out->push_back(std::move(p));
    }
  }
}

TEST(Segmenter, AgreesWithEnumerationOfAllPaths) {
  const char *alphabet[] = {"甲", "乙", "丙", "丁", "戊"};
  std::mt19937 rng(20240601);
  for (int round = 0; round < 40; ++round) {
    std::vector<vornel_test::Word_Spec> specs;
    std::vector<std::string> storage;
    storage.reserve(64);
    for (int w = 0; w < 14; ++w) {
      std::string word;
      const int len = 1 + static_cast<int>(rng() % 3);
      for (int k = 0; k < len; ++k) word += alphabet[rng() % 5];
      storage.push_back(word);
      specs.push_back({storage.back().c_str(), 1 + rng() % 50, "n"});
    }
    std::string error;
    auto lex = Lexicon::From_Blob(vornel_test::Make_Lexicon(specs, 1000), &error);
    ASSERT_NE(lex, nullptr) << error;
    for (int t = 0; t < 20; ++t) {
      std::string utf8;
      std::vector<int> codes;
      const int len = 1 + static_cast<int>(rng() % 9);
      for (int k = 0; k < len; ++k) {
        const char *ch = alphabet[rng() % 5];
        utf8 += ch;
        const std::string g = Gb(ch);
        codes.push_back(vornel::Han_Code(static_cast<unsigned char>(g[0]), static_cast<unsigned char>(g[1])));
      }
      std::vector<Path> paths;
      Enumerate(*lex, codes, 0, &paths);
      const Path best = *std::max_element(paths.begin(), paths.end(), [](const Path &a, const Path &b) {
        return a.score != b.score ? a.score < b.score : a.ends < b.ends;
      });
      const std::string gbtext = Gb(utf8);
      std::vector<int32_t> ends(gbtext.size() + 1);
      std::vector<int16_t> tags(gbtext.size() + 1);
      const long n = vornel::Segment(*lex, gbtext.data(), gbtext.size(), ends.data(), tags.data(), ends.size());
      ASSERT_EQ(n, static_cast<long>(best.ends.size())) << utf8;
      for (long k = 0; k < n; ++k) EXPECT_EQ(static_cast<size_t>(ends[k]), 2 * best.ends[k]) << utf8;
    }
  }
}

TEST(Segmenter, WordsKeptApartAreNoWordsOfQuerySegmentationOnly) {
  std::string error;
  auto lex = Lexicon::From_Blob(vornel_test::Make_Lexicon({{"李白", 400, "nr", true},
                                                           {"李白菜", 1, "n"},
                                                           {"李", 900, "n"},
                                                           {"白", 900, "a"},
                                                           {"诗", 900, "n"},
                                                           {"诗人", 900, "n"}},
                                                          100000),
                                &error);
  ASSERT_NE(lex, nullptr) << error;
  const struct {
    const char *text;
    bool names_apart;
    std::vector<std::string> words;
    std::vector<int16_t> tags;
  } cases[] = {
      {"李白诗人", false, {"李白", "诗人"}, {21, 2}},  // text: the word whole, its tag without the mark
      {"李白诗人", true, {"李", "白", "诗人"}, {2, 1, 2}},  // query: as if the lexicon lacked it
      {"李白菜", true, {"李白菜"}, {2}},                  // still a prefix of longer words
      {"诗人", true, {"诗人"}, {2}},                      // other words untouched
  };
  for (const auto &c : cases) {
    const Seg s = Cut(*lex, Gb(c.text), true, c.names_apart);
    EXPECT_EQ(s.words, c.words) << c.text << " " << c.names_apart;
    EXPECT_EQ(s.tags, c.tags) << c.text << " " << c.names_apart;
  }
}

}  // namespace
