// The compiled dictionary format: lookups, the length and first-bytes
// filters, and rejection of damaged files.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <string>

#include "dictionary.h"
#include "test_support.h"

namespace {

using vornel::Blob;
using vornel::Dictionary;
using vornel_test::Gb;

const std::vector<std::pair<std::string, std::string>> kEntries = {
    {"北京", "f:34488;"}, {"北京市", "f:100;"}, {"上海", "f:20000;"}, {"a", "x:1;"}, {"南京路", ""},
};

std::string Info(const Dictionary &d, const std::string &gbword) {
  size_t size = 0;
  const char *info = d.Find(gbword.data(), gbword.size(), &size);
  return info == nullptr ? "<absent>" : std::string(info, size);
}

// The same lookup through the NUL-terminated form the service uses.
std::string Info_Terminated(const Dictionary &d, const std::string &gbword) {
  size_t size = 0;
  const char *info = d.Find_Terminated(gbword.c_str(), &size);
  return info == nullptr ? "<absent>" : std::string(info, size);
}

TEST(Dictionary, FindsEveryWordAndNothingElse) {
  std::string error;
  auto d = Dictionary::From_Blob(vornel_test::Make_Dictionary(kEntries), &error);
  ASSERT_NE(d, nullptr) << error;
  EXPECT_EQ(d->Entry_Count(), kEntries.size());
  for (const auto &e : kEntries) EXPECT_EQ(Info(*d, Gb(e.first)), e.second) << e.first;
  const char *absent[] = {"北", "北京市区", "京", "上海市", "b", "南京", "东京"};
  for (const char *w : absent) EXPECT_EQ(Info(*d, Gb(w)), "<absent>") << w;
  // A prefix of a stored word, with the stored word's bytes after it.
  const std::string bj = Gb("北京市");
  size_t size;
  EXPECT_EQ(d->Find(bj.data(), 4, &size), d->Find(Gb("北京").data(), 4, &size));
  EXPECT_EQ(d->Find(bj.data(), 0, &size), nullptr);
}

// Probing every prefix of a text, as a longest-match search does: the
// length and first-character filters must never hide a stored word, also one
// of odd length beginning with a two-byte character.
// Both lookup forms are checked: the terminated one reads a word only as far
// as the longest entry that begins with its first character, and words of 63
// bytes or more (which share one length bit) are measured in full; both pass
// the first-four-bytes filter, for words beginning with ASCII too.
TEST(Dictionary, EveryPrefixProbeAgreesWithTheWordList) {
  const std::string long_name = "中华人民共和国全国人民代表大会常务委员会法制工作委员会办公室主任";  // 64 bytes
  const std::vector<std::pair<std::string, std::string>> entries = {
      {"上海", "1"}, {"上海市", "2"}, {"上海市浦东新区", "3"}, {"上海1", "4"}, {"北京", "5"},
      {"A股", "6"},  {"ab", "7"},     {"海", "8"},             {"海a", "9"},    {long_name, "10"},
      {"中华", "11"}, {"中华人民共和国全国人民代表大会常务委员会法制工作委员会", "12"},
      {"abcd", "13"}, {"A股上海", "14"},
  };
  std::string error;
  auto d = Dictionary::From_Blob(vornel_test::Make_Dictionary(entries), &error);
  ASSERT_NE(d, nullptr) << error;
  ASSERT_EQ(Gb(long_name).size(), 64u);
  const std::string texts[] = {"上海市浦东新区的北京路", "上海1号", "A股上海", "ab海a", "海南上海", "北京上海市",
                               long_name + "的中华", "上海市浦东新区浦东新区浦东新区",
                               "abcde上海abcd"};
  for (const std::string &utf8 : texts) {
    const std::string text = Gb(utf8);
    for (size_t start = 0; start < text.size(); ++start) {
      for (size_t n = 1; start + n <= text.size(); ++n) {
        const std::string probe = text.substr(start, n);
        std::string expected = "<absent>";
        for (const auto &e : entries)
          if (Gb(e.first) == probe) expected = e.second;
        EXPECT_EQ(Info(*d, probe), expected) << utf8 << " from byte " << start << ", " << n << " bytes";
        EXPECT_EQ(Info_Terminated(*d, probe), expected)
            << utf8 << " from byte " << start << ", " << n << " bytes, terminated";
      }
    }
  }
}

// Every prefix length of every suffix of the texts, up to the longest a
// walk answers, against the word list: the mask of one pass is what a
// lookup of each prefix alone would say.
TEST(Dictionary, PrefixLengthsAgreeWithTheWordList) {
  const std::vector<std::pair<std::string, std::string>> entries = {
      {"上海", "1"}, {"上海市", "2"}, {"上海市浦东新区", "3"}, {"上海1", "4"}, {"北京", "5"},
      {"A股", "6"},  {"ab", "7"},     {"海", "8"},             {"海a", "9"},    {"a", "10"},
      {"中华", "11"}, {"中华人民共和国全国人民代表大会常务委员会", "12"}, {"abcd", "13"}, {"A股上海", "14"},
  };
  std::string error;
  auto d = Dictionary::From_Blob(vornel_test::Make_Dictionary(entries), &error);
  ASSERT_NE(d, nullptr) << error;
  const std::string texts[] = {"上海市浦东新区的北京路", "上海1号", "A股上海", "ab海a", "海南上海", "北京上海市",
                               "中华人民共和国全国人民代表大会常务委员会法制工作委员会办公室主任",
                               "abcde上海abcd", "a", ""};
  for (const std::string &utf8 : texts) {
    const std::string text = Gb(utf8);
    for (size_t start = 0; start <= text.size(); ++start) {
      const size_t size = std::min(text.size() - start, vornel::kMax_Prefix_Walk);
      uint64_t expected = 0;
      for (size_t n = 1; n <= size; ++n)
        for (const auto &e : entries)
          if (Gb(e.first) == text.substr(start, n)) expected |= uint64_t{1} << n;
      EXPECT_EQ(d->Prefix_Lengths(text.c_str() + start, size), expected) << utf8 << " from byte " << start;
    }
  }
}

TEST(Dictionary, EmptyDictionaryFindsNothing) {
  std::string error;
  auto d = Dictionary::From_Blob(vornel_test::Make_Dictionary({}), &error);
  ASSERT_NE(d, nullptr) << error;
  size_t size;
  EXPECT_EQ(d->Find("ab", 2, &size), nullptr);
  EXPECT_EQ(d->Find_Terminated("ab", &size), nullptr);
  EXPECT_EQ(d->Find_Terminated("", &size), nullptr);
}

TEST(Dictionary, CompileRejectsBadEntries) {
  const std::vector<std::vector<std::pair<std::string, std::string>>> bad = {
      {{"", "x:1;"}},
      {{"ab", "x:1;"}, {"ab", "y:2;"}},
      {{std::string("a\0b", 3), "x:1;"}},
      {{std::string(vornel::kMax_Word_Bytes + 1, 'a'), ""}},
  };
  for (const auto &entries : bad) {
    Blob blob;
    std::string error;
    EXPECT_FALSE(vornel::Compile_Dictionary(entries, &blob, &error));
    EXPECT_FALSE(error.empty());
  }
}

// A damaged copy of a good dictionary image.
struct Damage {
  const char *what;
  void (*apply)(std::string &bytes);
};

void Refresh_Checksum(std::string &bytes) {
  vornel::File_Header h;
  std::memcpy(&h, bytes.data(), sizeof h);
  h.checksum = vornel::Checksum(reinterpret_cast<const uint8_t *>(bytes.data()) + vornel::kHeader_Size,
                                bytes.size() - vornel::kHeader_Size);
  std::memcpy(&bytes[0], &h, sizeof h);
}

const Damage kDamages[] = {
    {"empty file", [](std::string &b) { b.clear(); }},
    {"header only, cut", [](std::string &b) { b.resize(40); }},
    {"truncated payload", [](std::string &b) { b.resize(b.size() - 3); }},
    {"extended payload", [](std::string &b) { b += "xyz"; }},
    {"bad magic", [](std::string &b) { b[0] = 'X'; }},
    {"lexicon magic", [](std::string &b) { std::memcpy(&b[0], "VRNLLEXI", 8); }},
    {"stale version", [](std::string &b) { b[8] = 0; }},
    {"future version", [](std::string &b) { b[8] = 2; }},
    {"flipped payload byte", [](std::string &b) { b[b.size() - 2] ^= 0x10; }},
    {"flipped checksum", [](std::string &b) { b[33] ^= 1; }},
    {"bucket count not a power of two, checksum refreshed",
     [](std::string &b) {
       b[16] = 3;
       b[17] = b[18] = b[19] = 0;
       Refresh_Checksum(b);
     }},
    {"bucket pointing past the entries, checksum refreshed",
     [](std::string &b) {
       uint32_t big = 1000;
       // First non-empty bucket.
       for (size_t off = 64;; off += 4) {
         uint32_t v;
         std::memcpy(&v, &b[off], 4);
         if (v != 0) {
           std::memcpy(&b[off], &big, 4);
           break;
         }
       }
       Refresh_Checksum(b);
     }},
    {"entry offset outside the pool, checksum refreshed",
     [](std::string &b) {
       vornel::File_Header h;
       std::memcpy(&h, b.data(), sizeof h);
       const size_t entry0 = 64 + size_t{h.aux1} * 4;
       const uint32_t far = 1u << 30;
       std::memcpy(&b[entry0 + 4], &far, 4);
       Refresh_Checksum(b);
     }},
    {"entry hash wrong, checksum refreshed",
     [](std::string &b) {
       vornel::File_Header h;
       std::memcpy(&h, b.data(), sizeof h);
       b[64 + size_t{h.aux1} * 4] ^= 1;
       Refresh_Checksum(b);
     }},
    {"NUL after a word overwritten, checksum refreshed",
     [](std::string &b) {
       vornel::File_Header h;
       std::memcpy(&h, b.data(), sizeof h);
       const size_t pool = b.size() - h.aux2;
       b[pool + 4] = 'z';  // after the first word, 北京
       Refresh_Checksum(b);
     }},
};

TEST(Dictionary, RejectsDamagedFiles) {
  const Blob good = vornel_test::Make_Dictionary(kEntries);
  const std::string bytes(reinterpret_cast<const char *>(good.Data()), good.Size());
  for (const Damage &damage : kDamages) {
    std::string b = bytes;
    damage.apply(b);
    Blob blob(b.size());
    if (!b.empty()) std::memcpy(blob.Data(), b.data(), b.size());
    std::string error;
    EXPECT_EQ(Dictionary::From_Blob(std::move(blob), &error), nullptr) << damage.what;
    EXPECT_FALSE(error.empty()) << damage.what;
  }
}

TEST(Dictionary, LoadReportsMissingFile) {
  std::string error;
  EXPECT_EQ(Dictionary::Load("/nonexistent/dir/place.vdic", &error), nullptr);
  EXPECT_NE(error.find("/nonexistent/dir/place.vdic"), std::string::npos);
}

}  // namespace
