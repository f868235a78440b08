// The category labels the library gives, each once: its GB2312 text and,
// for the three names the essay merges into one word, the segmenter tag that
// word gets. A label stored in the term table 420_DIC is text only and never
// one of these.
#ifndef TESQ_CORE_LABEL_H
#define TESQ_CORE_LABEL_H

#include <cstdint>
#include <string_view>

#include "vornel/vornel.h"

struct Label {
  std::string_view text;  // GB2312
  int16_t tag;            // VORNEL_TAG_PERSON, _PLACE or _ORGANISATION; 0 for the others
};

inline constexpr Label kLabel_Person{"\xC8\xCB\xC3\xFB", VORNEL_TAG_PERSON};                 // 人名
inline constexpr Label kLabel_Place{"\xB5\xD8\xC3\xFB", VORNEL_TAG_PLACE};                   // 地名
inline constexpr Label kLabel_Organisation{"\xBB\xFA\xB9\xB9\xC3\xFB", VORNEL_TAG_ORGANISATION};  // 机构名
inline constexpr Label kLabel_Fund{"\xBB\xF9\xBD\xF0", 0};                                   // 基金
inline constexpr Label kLabel_Cn{"CN", 0};
inline constexpr Label kLabel_Patent{"\xD7\xA8\xC0\xFB\xBA\xC5", 0};  // 专利号
inline constexpr Label kLabel_Isbn{"ISBN", 0};
inline constexpr Label kLabel_Issn{"ISSN", 0};
inline constexpr Label kLabel_Full_Text{"\xC8\xAB\xCE\xC4", 0};  // 全文

// A name that a recogniser found at the start of a text: its label and the
// byte offset, from the start of the text, just past it. `label` is nullptr
// when no name begins there (and `end` then means nothing).
struct Found_Name {
  const Label *label = nullptr;
  int32_t end = 0;
  explicit operator bool() const { return label != nullptr; }
};

#endif
