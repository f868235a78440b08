// The standard-number validators on their own: layouts, check sums, the CN
// grammar and its region table, and that no validator reads past the
// terminator (every string is checked in a copy that ends at a guard page).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "classify/classify.h"
#include "core/library_state.h"
#include "guarded_text.h"
#include "test_support.h"

namespace {

struct Case {
  std::string text;
  bool valid;
};

// Runs `check` on a guarded copy of every case.
template <typename Check>
void Expect_All(const std::vector<Case> &cases, Check check, const char *name) {
  for (const Case &c : cases) {
    Guarded_Text text(c.text);
    EXPECT_EQ(check(text.c_str()), c.valid) << name << "(\"" << c.text << "\")";
  }
}

// Restores the region table after a test that changes it.
class Region_Table_Saver {
 public:
  Region_Table_Saver() { std::memcpy(saved_, Region_Table, sizeof saved_); }
  ~Region_Table_Saver() { std::memcpy(Region_Table, saved_, sizeof saved_); }

 private:
  int32_t saved_[66];
};

// Inserts hyphens after the given group sizes: Hyphenate("123456789X", {1, 3, 5})
// is "1-234-56789-X".
std::string Hyphenate(const std::string &digits, const std::vector<int> &groups) {
  std::string out;
  size_t at = 0;
  for (int g : groups) {
    out += digits.substr(at, static_cast<size_t>(g)) + "-";
    at += static_cast<size_t>(g);
  }
  return out + digits.substr(at);
}

using Standard_Numbers = Unit_Test;

TEST_F(Standard_Numbers, IsbnCharacterIsADigitOrX) {
  for (int b = 0; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const bool expected = (c >= '0' && c <= '9') || c == 'X' || c == 'x';
    EXPECT_EQ(Isbn_Char_Check(c), expected) << "byte " << b;
  }
}

TEST_F(Standard_Numbers, IsbnLayoutsAndCheckSums) {
  Expect_All(
      {
          // ISBN-10, plain and hyphenated.
          {"7-111-12346-8", true},
          {"7111123468", true},
          {"71-11-12346-8", true},
          {"7-111-12345-X", true},
          {"7-111-12345-x", true},
          {"711112345X", true},
          {"711112345x", true},
          {"0201616220", false},  // check character should be X
          {"020161622X", true},
          {"7-111-12346-9", false},
          {"7111123469", false},
          // ISBN-13, plain and hyphenated.
          {"978-7-111-12345-3", true},
          {"9787111123453", true},
          {"979-7-111-12345-2", true},
          {"9797111123452", true},
          {"978-7-111-12345-4", false},
          {"9787111123454", false},
          {"9777111123453", false},  // 977 is not an ISBN prefix, whatever the check digit
          {"977-7-111-12345-3", false},
          {"9687111123453", false},
          {"9887111123453", false},
          {"978-7-111-12345-X", false},  // no check letter in an ISBN-13
          {"978711112345X", false},
          {"978711112345x", false},
          // A 13-character string with a hyphen is judged as an ISBN-10 only.
          {"978-711112345", false},
          {"9787111-23453", false},
          // Weighted sum 0.
          {"0-000-00000-0", false},
          {"0000000000", false},
          // X or x out of the check position.
          {"X111123468", false},
          {"71111234X8", false},
          {"7-111-1234X-8", false},
          {"x-111-12346-8", false},
          // Hyphen placement.
          {"7--11112346-8", false},  // second hyphen directly behind the first
          {"7-111-123468-", false},  // hyphen as the last character
          {"-7111123468", false},
          {"7111123468-", false},
          {"7-111-12346-8-", false},
          {"711112-346-8", false},    // twelve characters
          {"7-1111234-6-8", false},   // second group of six digits
          {"91-1-811692-2", false},   // second group of one digit
          {"978-7-111-12345-3-", false},
          {"978-7-1-1112345-3", false},  // second group of one digit
          {"97-87-111-12345-3", false},  // prefix not closed at position 3
          {"978--711112345-3", false},
          {"978-7111-12345--3", false},
          {"978-71111234-5-3", false},   // first group of eight digits
          {"978-7-111-123453-", false},
          // Lengths and characters.
          {"", false},
          {"7", false},
          {"711112346", false},  // nine characters
          {"71111234680", false},
          {"97871111234530", false},
          {"978-7-111-12345-30", false},
          {"7 111 12346 8", false},
          {"7.111.12346.8", false},
          {"7-111-12346-8 ", false},
          {"711112346\xB8", false},
          {"\xB7" "111123468", false},
          {"978711112345\xB3", false},
      },
      Isbn_Check, "Isbn_Check");
}

TEST_F(Standard_Numbers, IsbnTenGroupSizes) {
  // Every split of nine digits into three groups: G1 1-5, G2 2-5, G3 1-6.
  for (const std::string digits : {"123456789X", "7111123468"}) {
    for (int g1 = 1; g1 <= 7; ++g1)
      for (int g2 = 1; g1 + g2 <= 8; ++g2) {
        const int g3 = 9 - g1 - g2;
        const bool valid = g1 <= 5 && g2 >= 2 && g2 <= 5 && g3 >= 1 && g3 <= 6;
        const std::string text = Hyphenate(digits, {g1, g2, g3});
        Guarded_Text guarded(text);
        EXPECT_EQ(Isbn_Check(guarded.c_str()), valid) << text;
      }
  }
}

TEST_F(Standard_Numbers, IsbnThirteenGroupSizes) {
  // 978 or 979, then nine digits in groups G1 1-5, G2 2-7, G3 1-6.
  for (const std::string digits : {"9787123456785", "9791234567896"}) {
    for (int g1 = 1; g1 <= 7; ++g1)
      for (int g2 = 1; g1 + g2 <= 8; ++g2) {
        const int g3 = 9 - g1 - g2;
        const bool valid = g1 <= 5 && g2 >= 2 && g2 <= 7 && g3 >= 1 && g3 <= 6;
        const std::string text = Hyphenate(digits, {3, g1, g2, g3});
        Guarded_Text guarded(text);
        EXPECT_EQ(Isbn_Check(guarded.c_str()), valid) << text;
      }
  }
}

// Of the eleven possible check characters exactly one completes a body, both
// for ISBN-10 (weights 10..1) and ISSN (weights 8..2, then 1).
TEST_F(Standard_Numbers, ExactlyOneCheckCharacterFitsEachBody) {
  const std::string checks = "0123456789X";
  uint32_t seed = 12345;
  for (int round = 0; round < 300; ++round) {
    std::string body;
    for (int i = 0; i < 9; ++i) {
      seed = seed * 1103515245u + 12345u;
      body += static_cast<char>('0' + (seed >> 16) % 10);
    }
    int isbn_sum = 0;
    for (int i = 0; i < 9; ++i) isbn_sum += (10 - i) * (body[static_cast<size_t>(i)] - '0');
    int issn_sum = 0;
    for (int i = 0; i < 7; ++i) issn_sum += (8 - i) * (body[static_cast<size_t>(i)] - '0');
    for (int k = 0; k <= 10; ++k) {
      const std::string isbn = body + checks[static_cast<size_t>(k)];
      const bool isbn_valid = (isbn_sum + k) % 11 == 0 && isbn_sum + k > 0;
      EXPECT_EQ(Isbn_Check(isbn.c_str()), isbn_valid) << isbn;
      const std::string issn = body.substr(0, 7) + checks[static_cast<size_t>(k)];
      EXPECT_EQ(Issn_Check(issn.c_str()), (issn_sum + k) % 11 == 0) << issn;
      EXPECT_EQ(Issn_Check((issn.substr(0, 4) + "-" + issn.substr(4)).c_str()), (issn_sum + k) % 11 == 0);
    }
  }
}

TEST_F(Standard_Numbers, IssnLayoutsAndCheckSums) {
  Expect_All(
      {
          {"1234-5679", true},
          {"12345679", true},
          {"1234-513X", true},
          {"1234513X", true},
          {"1234-513x", true},
          {"1234513x", true},
          {"0000-0000", true},  // a sum of 0 is accepted
          {"00000000", true},
          {"0317-8471", true},
          {"1234-5678", false},
          {"12345678", false},
          {"12345-679", false},   // hyphen at position 5
          {"123-45679", false},   // hyphen at position 3
          {"1234--5679", false},
          {"-12345679", false},
          {"1234-56790", false},  // one character too many
          {"123456790", false},
          {"1234-567", false},
          {"1234567", false},
          {"1234-", false},
          {"1234", false},
          {"", false},
          {"X234-5679", false},
          {"1234-X679", false},
          {"123X-5679", false},
          {"1234-5679X", false},
          {"1234 5679", false},
          {"1234-567\xB9", false},
          {"1234\xAD" "5679", false},
      },
      Issn_Check, "Issn_Check");
}

TEST_F(Standard_Numbers, CnGrammar) {
  Init_Library();
  Expect_All(
      {
          {"11-1234/G", true},
          {"111234/G", true},
          {"11-1234", true},
          {"111234", true},
          {"37-0001/TP", true},
          {"65-5999/Z", true},
          {"123456", true},
          {"46-0001/TB", true},
          {"54-5999/TV", true},
          {"11-0000", false},
          {"11-6000", false},
          {"11-9999", false},
          {"11-12345", false},
          {"11-123", false},
          {"11-", false},
          {"11", false},
          {"1", false},
          {"", false},
          {"1a-1234", false},
          {"a1-1234", false},
          {"-11-1234", false},
          {"11_1234", false},
          {"11 1234", false},
          {"11--1234", false},
          {"11-1234-G", false},
          {"11-1234G", false},
          {"11-1234/", false},
          {"11-1234//G", false},
          {"11-1234/L", false},
          {"11-1234/M", false},
          {"11-1234/W", false},
          {"11-1234/Y", false},
          {"11-1234/T", false},
          {"11-1234/g", false},
          {"11-1234/tp", false},
          {"11-1234/Tp", false},
          {"11-1234/TC", false},
          {"11-1234/TI", false},
          {"11-1234/TO", false},
          {"11-1234/TR", false},
          {"11-1234/TT", false},
          {"11-1234/TA", false},
          {"11-1234/TW", false},
          {"11-1234/GA", false},
          {"11-1234/TPX", false},
          {"11-1234/G ", false},
          {"11-1234 ", false},
          {"11-1234/\xC7", false},
          {"11-123\xB4", false},
      },
      Cn_Check, "Cn_Check");
}

TEST_F(Standard_Numbers, CnClassAndSubclassLetters) {
  Init_Library();
  const std::string classes = "ABCDEFGHIJKNOPQRSUVXZ";
  const std::string subclasses = "BDEFGHJKLMNPQSUV";
  for (int b = 1; b < 256; ++b) {
    const char c = static_cast<char>(b);
    const std::string one = std::string("11-1234/") + c;
    const std::string two = std::string("11-1234/T") + c;
    Guarded_Text text_one(one);
    Guarded_Text text_two(two);
    EXPECT_EQ(Cn_Check(text_one.c_str()), classes.find(c) != std::string::npos) << one;
    EXPECT_EQ(Cn_Check(text_two.c_str()), subclasses.find(c) != std::string::npos) << two;
  }
}

TEST_F(Standard_Numbers, CnRegionCodes) {
  Init_Library();
  const std::vector<int> valid = {11, 12, 13, 14, 15, 21, 22, 23, 31, 32, 33, 34, 35, 36, 37, 41,
                                  42, 43, 44, 45, 46, 50, 51, 52, 53, 54, 61, 62, 63, 64, 65};
  for (int region = 0; region <= 99; ++region) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d-1234/G", region);
    const bool expected = std::find(valid.begin(), valid.end(), region) != valid.end();
    EXPECT_EQ(Cn_Check(text), expected) << text;
    std::snprintf(text, sizeof text, "%02d1234", region);
    EXPECT_EQ(Cn_Check(text), expected) << text;
  }
}

TEST_F(Standard_Numbers, CnBeforeTheRegionTableIsFilledRejectsEverything) {
  Region_Table_Saver saver;
  std::memset(Region_Table, 0, sizeof Region_Table);  // the table as loaded
  for (int region = 0; region <= 99; ++region) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d-1234", region);
    EXPECT_FALSE(Cn_Check(text)) << text;
  }
  EXPECT_FALSE(Cn_Check("11-1234/G"));
  EXPECT_FALSE(Cn_Check("65-5999/Z"));
}

TEST_F(Standard_Numbers, PatentIsExactlySevenDigits) {
  Expect_All(
      {
          {"1234567", true},
          {"0000000", true},
          {"9999999", true},
          {"123456", false},
          {"12345678", false},
          {"123456a", false},
          {"a234567", false},
          {"123-4567", false},
          {"1234567 ", false},
          {"123456\xB7", false},
          {"", false},
          {"1", false},
      },
      Patent_Check, "Patent_Check");
}

// Every prefix of every accepted number, and each with one more byte, is
// checked at the edge of the readable memory: no validator looks further than
// the terminator.
TEST_F(Standard_Numbers, NoValidatorReadsPastTheTerminator) {
  Init_Library();
  const std::vector<std::string> numbers = {
      "7-111-12346-8", "711112345X",  "978-7-111-12345-3", "9787111123453", "1234-5679",
      "1234513X",      "11-1234/G",   "111234/TP",         "37-0001/TP",    "1234567",
  };
  size_t checked = 0;
  for (const std::string &number : numbers) {
    for (size_t length = 0; length <= number.size() + 1; ++length) {
      std::string text = number.substr(0, length);
      if (length > number.size()) text += '0';
      Guarded_Text guarded(text);
      const bool any = Isbn_Check(guarded.c_str()) | Issn_Check(guarded.c_str()) |
                       Cn_Check(guarded.c_str()) | Patent_Check(guarded.c_str());
      if (length == number.size()) {
        EXPECT_TRUE(any) << number;
      }
      ++checked;
    }
  }
  EXPECT_GT(checked, 100u);
}

}  // namespace
