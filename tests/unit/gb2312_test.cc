// common/gb2312 on malformed input: how a walk splits any byte string into
// characters, which positions are characters of the table, and what the
// conversions make of bytes that are not GB2312 (truncated and stray lead
// bytes, bad trail bytes, 0x80 and 0xFF, GBK-only pairs, NUL).
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gb2312.h"

namespace {

// The character lengths of a walk over `bytes` by Char_Length.
std::vector<size_t> Walk(const std::string &bytes) {
  std::vector<size_t> lengths;
  for (size_t i = 0; i < bytes.size();) {
    const size_t length = gb::Char_Length(bytes.data() + i, bytes.size() - i);
    lengths.push_back(length);
    i += length;
  }
  return lengths;
}

struct Malformed_Case {
  std::string name;
  std::string bytes;
  std::vector<size_t> walk;  // character lengths
  bool strict;               // Gb_To_Utf8 accepts it
  std::string lenient;       // Gb_To_Utf8 in lenient mode (UTF-8)
};

TEST(Gb2312, MalformedInputWalksAndConverts) {
  const std::string fffd = "\xEF\xBF\xBD";  // U+FFFD
  const std::vector<Malformed_Case> cases = {
      {"empty", "", {}, true, ""},
      {"ASCII", "ab", {1, 1}, true, "ab"},
      {"NUL is an ASCII byte like any other", std::string("\0a", 2), {1, 1}, true, std::string("\0a", 2)},
      {"one character", "\xB0\xA1", {2}, true, "啊"},
      {"a lead byte at the end", "a\xB0", {1, 1}, false, "a" + fffd},
      {"a lead byte alone", "\xB0", {1}, false, fffd},
      {"a lead byte before ASCII", "\xB0" "a", {1, 1}, false, fffd + "a"},
      {"a trail byte below A1", "\xB0\x40", {1, 1}, false, fffd + "@"},
      {"a trail byte of FF", "\xB0\xFF", {1, 1}, false, fffd + fffd},
      {"0x80", "\x80", {1}, false, fffd},
      {"0xFF", "\xFF", {1}, false, fffd},
      {"a GBK pair: lead 81, trail 40", "\x81\x40", {1, 1}, false, fffd + "@"},
      {"a GBK pair: GB2312 lead, trail 46", "\xE9\x46", {1, 1}, false, fffd + "F"},
      {"an unassigned position is one character", "\xAA\xA1", {2}, false, fffd},
      {"two leads and a trail: a character, then a stray lead", "\xB0\xB0\xB0", {2, 1}, false, "鞍" + fffd},
      {"a character, NUL, a character", std::string("\xB0\xA1\0\xB0\xB0", 5), {2, 1, 2}, true,
       std::string("啊\0鞍", 7)},
  };
  for (const Malformed_Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Walk(c.bytes), c.walk);
    std::string strict = "untouched";
    std::string error;
    EXPECT_EQ(gb::Gb_To_Utf8(c.bytes, &strict, &error), c.strict);
    if (c.strict) {
      EXPECT_EQ(strict, c.lenient);
    } else {
      EXPECT_EQ(strict, "untouched");
      EXPECT_NE(error.find("is not GB2312"), std::string::npos) << error;
    }
    std::string lenient;
    EXPECT_TRUE(gb::Gb_To_Utf8(c.bytes, &lenient, nullptr, true));
    EXPECT_EQ(lenient, c.lenient);
  }
}

struct Pair_Case {
  unsigned char lead;
  unsigned char trail;
  int index;       // Char_Index
  bool gbk;        // Is_Gbk_Pair
  bool assigned;   // To_Unicode gives a code point
};

TEST(Gb2312, PairsOfBytes) {
  const std::vector<Pair_Case> cases = {
      {0xA1, 0xA1, 0, true, true},             // the ideographic space, first of the table
      {0xFE, 0xFE, 94 * 94 - 1, true, false},  // last position, unassigned
      {0xB0, 0xA1, 15 * 94, true, true},       // 啊, the first Hanzi
      {0xAA, 0xA1, 9 * 94, true, false},       // an empty row
      {0xA0, 0xA1, -1, true, false},           // lead below A1
      {0xFF, 0xA1, -1, false, false},          // lead FF
      {0xB0, 0xFF, -1, false, false},          // trail FF
      {0xB0, 0x7F, -1, false, false},          // 7F is never a trail
      {0x81, 0x40, -1, true, false},           // GBK only
      {0x80, 0x40, -1, false, false},          // 80 is never a lead
      {0x41, 0x42, -1, false, false},          // ASCII
      {0x00, 0xA1, -1, false, false},          // NUL
  };
  for (const Pair_Case &c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << int{c.lead} << " " << int{c.trail});
    EXPECT_EQ(gb::Char_Index(c.lead, c.trail), c.index);
    EXPECT_EQ(gb::Is_Gbk_Pair(c.lead, c.trail), c.gbk);
    EXPECT_EQ(gb::To_Unicode(c.lead, c.trail) != 0, c.assigned);
  }
  EXPECT_FALSE(gb::Is_Hanzi_Lead(0xAF));
  EXPECT_TRUE(gb::Is_Hanzi_Lead(0xB0));
  EXPECT_TRUE(gb::Is_Hanzi_Lead(0xF7));
  EXPECT_FALSE(gb::Is_Hanzi_Lead(0xF8));
  EXPECT_EQ(std::string(gb::Wide_Char_At("\xB0\xA1xyz").text), "\xB0\xA1");
}

TEST(Gb2312, Utf8WithoutAGb2312Form) {
  struct Case {
    std::string name;
    std::string utf8;
    gb::Utf8_Fault fault;
    size_t offset;
  };
  const std::vector<Case> cases = {
      {"a character outside GB2312 (the euro sign)", "ab\xE2\x82\xAC", gb::Utf8_Fault::kNo_Gb2312_Form, 2},
      {"a truncated sequence", "a\xE5\x95", gb::Utf8_Fault::kMalformed, 1},
      {"a stray continuation byte", "\x80", gb::Utf8_Fault::kMalformed, 0},
      {"an overlong NUL", "\xC0\x80", gb::Utf8_Fault::kMalformed, 0},
      {"a surrogate", "\xED\xA0\x80", gb::Utf8_Fault::kMalformed, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = "untouched";
    std::string error;
    gb::Utf8_Fault fault = gb::Utf8_Fault::kNone;
    size_t offset = 99;
    EXPECT_FALSE(gb::Utf8_To_Gb(c.utf8, &out, &error, &fault, &offset));
    EXPECT_EQ(fault, c.fault);
    EXPECT_EQ(offset, c.offset);
    EXPECT_EQ(out, "untouched");
    EXPECT_FALSE(error.empty());
  }
  std::string out;
  ASSERT_TRUE(gb::Utf8_To_Gb(std::string("\0啊", 4), &out));
  EXPECT_EQ(out, std::string("\0\xB0\xA1", 3)) << "NUL passes through";
  std::string dot, alias;
  ASSERT_TRUE(gb::Utf8_To_Gb("\xC2\xB7", &dot));       // U+00B7 middle dot
  ASSERT_TRUE(gb::Utf8_To_Gb("\xE3\x83\xBB", &alias));  // U+30FB, another converter's form of it
  EXPECT_EQ(dot, "\xA1\xA4");
  EXPECT_EQ(alias, "\xA1\xA4");
}

// Every character of the table converts back to its own two bytes, and code
// points without a form, inside the plane of the table and past it, have none.
TEST(Gb2312, EveryCharacterConvertsBackAndOthersHaveNoForm) {
  size_t characters = 0;
  for (unsigned lead = 0xA1; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0xA1; trail <= 0xFE; ++trail) {
      const uint32_t cp = gb::To_Unicode(static_cast<unsigned char>(lead), static_cast<unsigned char>(trail));
      if (cp == 0) continue;
      ++characters;
      unsigned char two[2] = {0, 0};
      ASSERT_TRUE(gb::From_Unicode(cp, two)) << std::hex << lead << trail;
      EXPECT_EQ(two[0], lead);
      EXPECT_EQ(two[1], trail);
    }
  }
  EXPECT_EQ(characters, 7445u);
  struct Case {
    const char *name;
    uint32_t cp;
  };
  const Case none[] = {
      {"NUL", 0},
      {"a Latin-1 capital (the table has the small letters of pinyin only)", 0xC0},
      {"a Han character outside GB2312", 0x4E02},
      {"the last code point of the plane", 0xFFFF},
      {"the first code point past the plane", 0x10000},
      {"a code point whose low 16 bits are a GB2312 character's (U+554A)", 0x1554A},
      {"the last code point", 0x10FFFF},
      {"past the last code point", 0xFFFFFFFF},
  };
  for (const Case &c : none) {
    SCOPED_TRACE(c.name);
    unsigned char two[2] = {0x11, 0x22};
    EXPECT_FALSE(gb::From_Unicode(c.cp, two));
  }
}

}  // namespace
