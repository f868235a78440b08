// The standard-number validators: ISBN-10, ISBN-13, ISSN, China serial
// numbers of periodicals (CN) and seven-digit patent numbers.
//
// Every validator is a pure predicate over a NUL-terminated byte string. It
// reads the string from the front, stops at the first byte that decides the
// answer and never reads past the terminator; nothing is allocated. Bytes are
// tested as ASCII, so a byte of 0x80 or above is never a digit, a check letter
// or a separator.
//
// Accepted layouts:
//   ISBN-10    9 digits + check (digit, X or x), plain (10 characters) or
//              G1-G2-G3-K (13 characters; groups of 1-5, 2-5 and 1-6 digits).
//              Weights 10..1 from the first digit; the sum must be a positive
//              multiple of 11 (X counts 10).
//   ISBN-13    978 or 979 + 9 digits + check digit, plain (13 characters) or
//              P-G1-G2-G3-K (17 characters; groups of 1-5, 2-7 and 1-6
//              digits). Weights 1, 3, 1, 3, ...; the sum must be a multiple
//              of 10.
//   ISSN       7 digits + check (digit, X or x), plain (8 characters) or with
//              one hyphen after the fourth digit (9 characters). Weights
//              8..2 and 1 for the check; the sum must be a multiple of 11 (a
//              sum of 0 included).
//   CN         RR[-]NNNN[/C | /TC]: a valid region code RR (Region_Table),
//              a serial 0001-5999, an optional class of the Chinese Library
//              Classification (class T always with its sub-class letter).
//   Patent     exactly seven digits.
#include "classify/classify.h"
#include "core/library_state.h"

namespace {

constexpr bool Is_Digit(char c) { return c >= '0' && c <= '9'; }
constexpr int Digit_Value(char c) { return c - '0'; }
constexpr bool Is_X(char c) { return c == 'X' || c == 'x'; }

// Longest string any ISBN layout allows; the length count stops just past it.
constexpr int kIsbnLongest = 17;

// The ISBN-10 rules over a string of 10 characters, or of 13 with a hyphen.
bool Isbn10_Rules(const char *text) {
  int hyphens = 0;
  int last_hyphen = -1;
  int digits = 0;
  int sum = 0;
  for (int p = 0; text[p] != '\0'; ++p) {
    const char c = text[p];
    if (c == '-') {
      const int between = p - last_hyphen - 1;  // characters since the previous hyphen
      switch (++hyphens) {
        case 1:
          if (p < 1 || p > 5) return false;
          break;
        case 2:
          if (between < 2 || between > 5) return false;
          break;
        case 3:
          if (between < 1 || between > 6 || p != 11) return false;
          break;
        default:
          return false;
      }
      last_hyphen = p;
    } else if (Is_Digit(c) || Is_X(c)) {
      if (++digits > 10) return false;
      int value;
      if (Is_X(c)) {
        if (digits != 10) return false;  // X only as the check character
        value = 10;
      } else {
        value = Digit_Value(c);
      }
      sum += (11 - digits) * value;
    } else {
      return false;
    }
  }
  return digits == 10 && sum > 0 && sum % 11 == 0;
}

// The ISBN-13 rules over a string of 17 characters, or of 13 without hyphen.
bool Isbn13_Rules(const char *text) {
  int hyphens = 0;
  int last_hyphen = -1;
  int digits = 0;
  int sum = 0;
  for (int p = 0; text[p] != '\0'; ++p) {
    const char c = text[p];
    if (c == '-') {
      const int between = p - last_hyphen - 1;
      switch (++hyphens) {
        case 1:
          if (p != 3) return false;
          break;
        case 2:
          if (between < 1 || between > 5) return false;
          break;
        case 3:
          if (between < 2 || between > 7) return false;
          break;
        case 4:
          if (between < 1 || between > 6 || p != 15) return false;
          break;
        default:
          return false;
      }
      last_hyphen = p;
    } else if (Is_Digit(c)) {
      if (++digits > 13) return false;
      const int value = Digit_Value(c);
      // The prefix is 978 or 979.
      if ((digits == 1 && value != 9) || (digits == 2 && value != 7) ||
          (digits == 3 && value != 8 && value != 9))
        return false;
      sum += (digits % 2 == 1) ? value : 3 * value;
    } else {
      return false;  // X or x included: an ISBN-13 has no check letter
    }
  }
  return digits == 13 && sum > 0 && sum % 10 == 0;
}

// A class letter of the Chinese Library Classification: A to Z except L, M,
// T, W and Y.
bool Cn_Class_Letter(char c) {
  return c >= 'A' && c <= 'Z' && c != 'L' && c != 'M' && c != 'T' && c != 'W' && c != 'Y';
}

// A sub-class letter of class T: B to V except C, I, O, R and T.
bool Cn_Subclass_Letter(char c) {
  return c >= 'B' && c <= 'V' && c != 'C' && c != 'I' && c != 'O' && c != 'R' && c != 'T';
}

}  // namespace

bool Isbn_Char_Check(char c) { return Is_Digit(c) || Is_X(c); }

bool Isbn_Check(const char *text) {
  if (!Isbn_Char_Check(text[0])) return false;  // the empty string included
  // Length (counted no further than one past the longest layout) and whether
  // the string holds a hyphen choose the family of rules.
  int length = 0;
  bool hyphen = false;
  while (length <= kIsbnLongest && text[length] != '\0') {
    if (text[length] == '-') hyphen = true;
    ++length;
  }
  if (length == 10 || (length == 13 && hyphen)) return Isbn10_Rules(text);
  if (length == 17 || (length == 13 && !hyphen)) return Isbn13_Rules(text);
  return false;
}

bool Issn_Check(const char *text) {
  int p = 0;
  int sum = 0;
  for (int position = 0; position < 8; ++position) {  // the eight digit positions
    if (p == 4 && text[p] == '-') ++p;                 // the one hyphen allowed
    const char c = text[p];
    if (position < 7) {
      if (!Is_Digit(c)) return false;
      sum += (8 - position) * Digit_Value(c);
    } else if (Is_Digit(c)) {
      sum += Digit_Value(c);
    } else if (Is_X(c)) {
      sum += 10;
    } else {
      return false;
    }
    ++p;
  }
  return text[p] == '\0' && sum % 11 == 0;
}

bool Cn_Check(const char *text) {
  // Region: two digits naming a valid province-level code.
  if (!Is_Digit(text[0]) || !Is_Digit(text[1])) return false;
  const int region = 10 * Digit_Value(text[0]) + Digit_Value(text[1]);
  if (region > 65 || Region_Table[region] == 0) return false;

  // Optional hyphen, then a four-digit serial 0001 to 5999.
  int p;
  if (text[2] == '-') p = 3;
  else if (Is_Digit(text[2])) p = 2;
  else return false;
  int serial = 0;
  for (int i = 0; i < 4; ++i, ++p) {
    if (!Is_Digit(text[p])) return false;
    serial = 10 * serial + Digit_Value(text[p]);
  }
  if (serial <= 0 || serial >= 6000) return false;

  // Optional classification: /C or /TC, and then the end.
  if (text[p] == '\0') return true;
  if (text[p] != '/') return false;
  const char c1 = text[p + 1];
  if (Cn_Class_Letter(c1)) return text[p + 2] == '\0';
  if (c1 != 'T') return false;
  const char c2 = text[p + 2];
  return Cn_Subclass_Letter(c2) && text[p + 3] == '\0';
}

bool Patent_Check(const char *text) {
  for (int p = 0; p < 7; ++p)
    if (!Is_Digit(text[p])) return false;
  return text[7] == '\0';
}
