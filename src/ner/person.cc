// Person_Recognize: does a segmented text begin with a personal name?
//
// Only the first three words are looked at. Shortcuts first: a one-character
// first word not tagged 41 is offered to Foreign_Recognize (a transliterated
// name), and a first word of any length other than one or two characters is
// a whole name when the segmenter tagged it 21.
//
// Otherwise a Chinese name is a surname (word 0: feature "x" of one
// character, "fx" of two, weight S) followed by a given name, scored from
// "name_dic" in one of three patterns:
//
//   state 1  one given character (word 1), D = "dm"     S * D > 0.05
//   state 2  two one-character words (word 1, word 2),
//            G = sqrt("ss" of word 1 * "sw" of word 2),
//            chosen over state 1 only when G > D       S * G > 0.18
//   state 3  one two-character word 1,
//            G = sqrt("ss" of its first * "sw" of its
//            second character)                         S > 0.8 and G > 0.3
//
// A given character on the function-word or place-suffix list gets no "dm"
// weight; a place suffix as word 2 refuses the name (it reads as a place); a
// function word or tag 41 as word 2 leaves the one-character test alone; a
// title word (先生, 主任, ...) as a two-character word 1 refuses the name.
//
// A text that begins with one character three times over (王王王...) is a
// run of that character, not a name, unless the segmenter took the run for
// one word tagged 21. Without this test such a run of one-character words
// reads as a transliterated name of any length (every character is a hit of
// "foreign_dic" when the character is one), or its first characters as a
// surname with a given name.
#include <cmath>
#include <string>

#include "gb2312.h"
#include "ner/ner.h"
#include "ner/word_walk.h"

namespace {

constexpr int32_t kFirstWordLimit = 128;
constexpr double kSurnameThreshold = 0.8;
constexpr double kOneCharThreshold = 0.05;
constexpr double kTwoWordThreshold = 0.18;
constexpr double kTwoCharThreshold = 0.3;

// Name feature codes of "name_dic".
enum : int32_t { kSurnameOne = 1, kGivenOne = 2, kGivenFirst = 3, kGivenSecond = 4, kSurnameTwo = 5 };

enum Pattern { kNoPattern = 0, kOneChar = 1, kTwoWords = 2, kTwoChar = 3 };

const char *const kFunctionChars[] = {
    "\xB5\xC4", "\xC1\xCB", "\xB5\xC8", "\xCA\xC7", "\xD3\xEB", "\xB6\xD4", "\xCB\xB5",  // 的 了 等 是 与 对 说
};
const char *const kPlaceSuffixChars[] = {
    "\xCF\xD8", "\xCF\xE7", "\xCA\xD0", "\xCA\xA1", "\xD5\xF2", "\xD7\xAF",  // 县 乡 市 省 镇 庄
    "\xB4\xE5", "\xC9\xE7", "\xB0\xD3", "\xB5\xEA", "\xD5\xAF", "\xD6\xDD",  // 村 社 坝 店 寨 州
    "\xC7\xF8", "\xBA\xD3", "\xBD\xAD", "\xBA\xFE", "\xB9\xB5",              // 区 河 江 湖 沟
};
const char *const kTitleWords[] = {
    "\xCA\xE9\xBC\xC7", "\xD7\xDC\xC0\xED", "\xD6\xF7\xCF\xAF",  // 书记 总理 主席
    "\xB2\xBF\xB3\xA4", "\xD6\xF7\xC8\xCE", "\xB3\xA7\xB3\xA4",  // 部长 主任 厂长
    "\xBF\xC6\xB3\xA4", "\xCD\xAC\xD6\xBE", "\xCB\xBE\xC1\xEE",  // 科长 同志 司令
    "\xC1\xAC\xB3\xA4", "\xCD\xC5\xB3\xA4", "\xCF\xC8\xC9\xFA",  // 连长 团长 先生
    "\xC5\xAE\xCA\xBF", "\xBD\xCC\xCA\xDA", "\xCF\xD8\xB9\xD9",  // 女士 教授 县官
};

bool Title_Word(const Word_View &view, int32_t begin, int32_t end) {
  for (const char *title : kTitleWords)
    if (ner::Word_Equals(view, begin, end, title)) return true;
  return false;
}

// Looks up `code` of the bytes [begin, end); true when found.
bool Name_Feature(const Word_View &view, int32_t begin, int32_t end, int32_t code, double *value) {
  const std::string word = ner::Word_Copy(view, begin, end);
  return Name_Get_Prob(word.c_str(), code, value) == 1;
}

constexpr size_t kRunLength = 3;

// True when the text begins with the same two-byte character kRunLength
// times over.
bool Begins_With_A_Run(const Word_View &view) {
  if (view.text_length < 2 * kRunLength || gb::Char_Length(view.text, view.text_length) != 2) return false;
  for (size_t k = 1; k < kRunLength; ++k)
    if (!gb::Char_Equals(view.text + 2 * k, view.text)) return false;
  return true;
}

}  // namespace

Found_Name Person_Recognize(const Word_View &view) {
  const int32_t e0 = ner::Word_End(view, 0, 0);
  if (e0 <= 0 || e0 >= kFirstWordLimit) return {};
  const int16_t t0 = view.Tag(0);

  double surname = 0.0;
  bool surname_found = false;
  if (e0 == 2 && t0 != VORNEL_TAG_PUNCTUATION) {
    if (Begins_With_A_Run(view)) return {};
    surname_found = Name_Feature(view, 0, 2, kSurnameOne, &surname);
    if (const Found_Name foreign = Foreign_Recognize(view)) return foreign;
  } else if (e0 == 4) {
    if (Begins_With_A_Run(view)) return {};
    surname_found = Name_Feature(view, 0, 4, kSurnameTwo, &surname);
  } else {
    if (t0 != VORNEL_TAG_PERSON) return {};
    return {&kLabel_Person, e0};
  }

  const int32_t e1 = ner::Word_End(view, 1, e0);
  if (e1 == 0 || !surname_found) return {};

  Pattern state = kNoPattern;
  double score = 0.0;
  if (e1 - e0 == 2) {
    const char *given = view.text + e0;
    double given_one = 0.0;
    if (!gb::Char_In_List(given, kFunctionChars) && !gb::Char_In_List(given, kPlaceSuffixChars) &&
        Name_Feature(view, e0, e1, kGivenOne, &given_one)) {
      state = kOneChar;
      score = given_one;
    }
    const int32_t e2 = ner::Word_End(view, 2, e1);
    if (e2 != 0 && e2 - e1 == 2) {
      const char *third = view.text + e1;
      if (gb::Char_In_List(third, kPlaceSuffixChars)) return {};
      if (!gb::Char_In_List(third, kFunctionChars) && view.Tag(2) != VORNEL_TAG_PUNCTUATION) {
        double first = 0.0;
        double second = 0.0;
        const bool first_found = Name_Feature(view, e0, e1, kGivenFirst, &first);
        const bool second_found = Name_Feature(view, e1, e2, kGivenSecond, &second);
        const double mean = first_found && second_found ? std::sqrt(first * second) : 0.0;
        if (mean > given_one) {
          state = kTwoWords;
          score = mean;
        }
      }
    }
  } else if (e1 - e0 == 4) {
    if (!(surname > kSurnameThreshold) || Title_Word(view, e0, e1)) return {};
    double first = 0.0;
    double second = 0.0;
    const bool first_found = Name_Feature(view, e0, e0 + 2, kGivenFirst, &first);
    const bool second_found = Name_Feature(view, e0 + 2, e1, kGivenSecond, &second);
    state = kTwoChar;
    score = first_found && second_found ? std::sqrt(first * second) : 0.0;
  } else {
    return {};
  }

  switch (state) {
    case kTwoWords:
      if (!(surname * score > kTwoWordThreshold)) return {};
      return {&kLabel_Person, e0 + 4};
    case kOneChar:
      if (!(surname * score > kOneCharThreshold)) return {};
      return {&kLabel_Person, e0 + 2};
    case kTwoChar:
      if (!(score > kTwoCharThreshold)) return {};
      return {&kLabel_Person, e0 + 4};
    case kNoPattern:
      break;
  }
  return {};
}
