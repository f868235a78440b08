// The compiled lexicon: Han codes, trie walks, weights, and rejection of
// damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "lexicon.h"
#include "tags.h"
#include "test_support.h"

namespace {

using vornel::Lexicon;
using vornel_test::Gb;

int Code(const std::string &utf8) {
  const std::string g = Gb(utf8);
  return vornel::Han_Code(static_cast<unsigned char>(g[0]), static_cast<unsigned char>(g[1]));
}

TEST(Lexicon, HanCodes) {
  EXPECT_EQ(vornel::Han_Code(0xB0, 0xA1), 0);       // 啊, the first Han character
  EXPECT_EQ(vornel::Han_Code(0xF7, 0xFE), 72 * 94 - 1);  // 齄, the last
  EXPECT_EQ(vornel::Han_Code(0xD7, 0xFA), -1);      // unassigned cell of row 55
  EXPECT_EQ(vornel::Han_Code(0xA1, 0xA3), -1);      // 。 is not Han
  EXPECT_EQ(vornel::Han_Code(0xF8, 0xA1), -1);      // beyond the Han rows
  EXPECT_EQ(vornel::Han_Code(0xB0, 0x41), -1);      // bad trail byte
}

TEST(Lexicon, WalksWordsAndWeights) {
  const uint64_t total = 1000;
  std::string error;
  auto lex = Lexicon::From_Blob(vornel_test::Make_Lexicon({{"北京", 100, "ns"},
                                                           {"北京大学", 10, "nt"},
                                                           {"北", 50, "f"},
                                                           {"京剧", 0, "n"},
                                                           {"北京", 200, "ns"}},
                                                          total),
                                &error);
  ASSERT_NE(lex, nullptr) << error;
  EXPECT_EQ(lex->Word_Count(), 3u);  // 北京 twice counts once; 京剧 has frequency 0
  EXPECT_DOUBLE_EQ(lex->Unknown_Weight(), -std::log(1000.0));
  const uint32_t bei = lex->Root(Code("北"));
  ASSERT_NE(bei, 0u);
  EXPECT_TRUE(lex->Is_Word(bei));
  EXPECT_EQ(lex->Weight(bei), std::log(50.0) - std::log(1000.0));
  const uint32_t beijing = lex->Child(bei, Code("京"));
  ASSERT_NE(beijing, 0u);
  EXPECT_EQ(lex->Weight(beijing), std::log(200.0) - std::log(1000.0));  // the last line wins
  EXPECT_EQ(lex->Tag(beijing), VORNEL_TAG_PLACE);
  const uint32_t bjd = lex->Child(beijing, Code("大"));
  ASSERT_NE(bjd, 0u);
  EXPECT_FALSE(lex->Is_Word(bjd));
  const uint32_t bjdx = lex->Child(bjd, Code("学"));
  ASSERT_NE(bjdx, 0u);
  EXPECT_EQ(lex->Tag(bjdx), VORNEL_TAG_ORGANISATION);
  EXPECT_EQ(lex->Child(bjdx, Code("北")), 0u);
  const uint32_t jing = lex->Root(Code("京"));
  ASSERT_NE(jing, 0u);
  EXPECT_FALSE(lex->Is_Word(jing));  // only the prefix of 京剧
  EXPECT_EQ(lex->Root(Code("上")), 0u);
}

TEST(Lexicon, CompileRejectsBadWords) {
  std::string error;
  vornel::Blob blob;
  EXPECT_FALSE(vornel::Compile_Lexicon({{{}, 5, 2}}, 10, &blob, &error));
  EXPECT_FALSE(vornel::Compile_Lexicon({{{1, 2}, 5, 0}}, 10, &blob, &error));
  EXPECT_FALSE(vornel::Compile_Lexicon({{{1, 72 * 94}, 5, 2}}, 10, &blob, &error));
  EXPECT_FALSE(vornel::Compile_Lexicon({{{1, 2}, 5, 2}}, 0, &blob, &error));
}

void Refresh_Checksum(std::string &bytes) {
  vornel::File_Header h;
  std::memcpy(&h, bytes.data(), sizeof h);
  h.checksum = vornel::Checksum(reinterpret_cast<const uint8_t *>(bytes.data()) + vornel::kHeader_Size,
                                bytes.size() - vornel::kHeader_Size);
  std::memcpy(&bytes[0], &h, sizeof h);
}

TEST(Lexicon, RejectsDamagedFiles) {
  const vornel::Blob good = vornel_test::Make_Lexicon({{"北京", 100, "ns"}, {"北京大学", 10, "nt"}}, 1000);
  const std::string bytes(reinterpret_cast<const char *>(good.Data()), good.Size());
  vornel::File_Header h;
  std::memcpy(&h, bytes.data(), sizeof h);
  const size_t n = h.aux1;
  const size_t first_child = 64 + n * 8 + 72 * 94 * 4;
  const size_t tags = first_child + n * 4 + n * 4;
  struct Case {
    const char *what;
    std::function<void(std::string &)> apply;
  };
  const Case cases[] = {
      {"truncated", [](std::string &b) { b.resize(b.size() / 2); }},
      {"stale version", [](std::string &b) { b[8] = 0; }},
      {"dictionary magic", [](std::string &b) { std::memcpy(&b[0], "VRNLDICT", 8); }},
      {"flipped byte", [](std::string &b) { b[100] ^= 4; }},
      {"child pointing backwards",
       [&](std::string &b) {
         const uint32_t zero = 0;
         std::memcpy(&b[first_child + 4], &zero, 4);  // node 1 -> node 0
         Refresh_Checksum(b);
       }},
      {"tag out of range",
       [&](std::string &b) {
         const uint16_t bad = 500;
         std::memcpy(&b[tags + 2 * 2], &bad, 2);
         Refresh_Checksum(b);
       }},
      {"word count off",
       [](std::string &b) {
         b[12] ^= 1;
       }},
  };
  for (const Case &c : cases) {
    std::string b = bytes;
    c.apply(b);
    vornel::Blob blob(b.size());
    std::memcpy(blob.Data(), b.data(), b.size());
    std::string error;
    EXPECT_EQ(Lexicon::From_Blob(std::move(blob), &error), nullptr) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

}  // namespace
