#include "gb2312.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

namespace gb {
namespace {

const uint16_t kToUnicode[94 * 94] = {
#include "gb2312_table.inc"
};

// The GB2312 form (lead << 8 | trail) of every code point of the Basic
// Multilingual Plane, 0 for none: every GB2312 character lies there, and a
// conversion asks for each character of a text, so this is an index rather
// than a search. Built once on first use and immutable afterwards. Never
// destroyed: a thread still converting while the process exits (the term
// table's copy being read) never meets a freed table.
constexpr uint32_t kPlane_Size = 0x10000;
const uint16_t *Gb_Of_Code_Point() {
  static const uint16_t *const table = [] {
    uint16_t *forms = new uint16_t[kPlane_Size]();
    for (int i = 0; i < 94 * 94; ++i) {
      const uint32_t cp = kToUnicode[i];
      if (cp != 0 && cp < kPlane_Size && forms[cp] == 0)
        forms[cp] = static_cast<uint16_t>(((0xA1 + i / 94) << 8) | (0xA1 + i % 94));
    }
    // Aliases other GB2312 converters produce for the middle dot and the dash.
    if (forms[0x30FB] == 0) forms[0x30FB] = 0xA1A4;
    if (forms[0x2015] == 0) forms[0x2015] = 0xA1AA;
    return forms;
  }();
  return table;
}

std::string Describe_Code_Point(uint32_t cp, std::string_view original) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(cp));
  std::string text = buf;
  if (!original.empty()) text += " '" + std::string(original) + "'";
  return text;
}

void Encode_Utf8(uint32_t cp, std::string *out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

}  // namespace

size_t Decode_Utf8(std::string_view s, size_t i, uint32_t *cp) {
  const unsigned char c = static_cast<unsigned char>(s[i]);
  size_t len;
  uint32_t value;
  if (c < 0x80) { *cp = c; return 1; }
  if (c >= 0xC2 && c <= 0xDF) { len = 2; value = c & 0x1F; }
  else if (c >= 0xE0 && c <= 0xEF) { len = 3; value = c & 0x0F; }
  else if (c >= 0xF0 && c <= 0xF4) { len = 4; value = c & 0x07; }
  else return 0;
  if (i + len > s.size()) return 0;
  for (size_t k = 1; k < len; ++k) {
    const unsigned char t = static_cast<unsigned char>(s[i + k]);
    if ((t & 0xC0) != 0x80) return 0;
    value = (value << 6) | (t & 0x3F);
  }
  if ((len == 3 && value < 0x800) || (len == 4 && (value < 0x10000 || value > 0x10FFFF)) ||
      (value >= 0xD800 && value <= 0xDFFF))
    return 0;
  *cp = value;
  return len;
}


bool Char_In_List(const char *p, const char *const *list, size_t count) {
  for (size_t i = 0; i < count; ++i)
    if (Char_Equals(p, list[i])) return true;
  return false;
}

uint32_t To_Unicode(unsigned char lead, unsigned char trail) {
  const int index = Char_Index(lead, trail);
  return index < 0 ? 0 : kToUnicode[index];
}

bool From_Unicode(uint32_t cp, unsigned char out[2]) {
  if (cp >= kPlane_Size) return false;
  const uint16_t gb = Gb_Of_Code_Point()[cp];
  if (gb == 0) return false;
  out[0] = static_cast<unsigned char>(gb >> 8);
  out[1] = static_cast<unsigned char>(gb & 0xFF);
  return true;
}

namespace {

// The conversion itself: `base` is added to the byte offsets it reports.
bool Convert_Utf8(std::string_view utf8, std::string *out, std::string *error, size_t base, Utf8_Fault *fault,
                  size_t *at) {
  *fault = Utf8_Fault::kNone;
  *at = 0;
  std::string result;
  result.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size();) {
    uint32_t cp = 0;
    const size_t len = Decode_Utf8(utf8, i, &cp);
    if (len == 0) {
      *fault = Utf8_Fault::kMalformed;
      *at = i;
      if (error) {
        char buf[96];
        std::snprintf(buf, sizeof buf, "invalid UTF-8 byte 0x%02X at byte %zu",
                      static_cast<unsigned>(static_cast<unsigned char>(utf8[i])), base + i);
        *error = buf;
      }
      return false;
    }
    if (cp < 0x80) {
      result.push_back(static_cast<char>(cp));
    } else {
      unsigned char two[2];
      if (!From_Unicode(cp, two)) {
        *fault = Utf8_Fault::kNo_Gb2312_Form;
        *at = i;
        if (error)
          *error = "character " + Describe_Code_Point(cp, utf8.substr(i, len)) + " at byte " +
                   std::to_string(base + i) + " has no GB2312 form";
        return false;
      }
      result.push_back(static_cast<char>(two[0]));
      result.push_back(static_cast<char>(two[1]));
    }
    i += len;
  }
  *out = std::move(result);
  return true;
}

}  // namespace

bool Utf8_To_Gb(std::string_view utf8, std::string *out, std::string *error, size_t offset) {
  Utf8_Fault fault;
  size_t at;
  return Convert_Utf8(utf8, out, error, offset, &fault, &at);
}

bool Utf8_To_Gb(std::string_view utf8, std::string *out, std::string *error, Utf8_Fault *fault,
                size_t *offset) {
  return Convert_Utf8(utf8, out, error, 0, fault, offset);
}

bool Gb_To_Utf8(std::string_view gbtext, std::string *out, std::string *error, bool lenient) {
  std::string result;
  result.reserve(gbtext.size() * 3 / 2);
  for (size_t i = 0; i < gbtext.size();) {
    const unsigned char c = static_cast<unsigned char>(gbtext[i]);
    if (c < 0x80) {
      result.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    const size_t len = Char_Length(gbtext.data() + i, gbtext.size() - i);
    const uint32_t cp = len == 2 ? To_Unicode(c, static_cast<unsigned char>(gbtext[i + 1])) : 0;
    if (cp == 0) {
      if (!lenient) {
        if (error) {
          char buf[96];
          std::snprintf(buf, sizeof buf, "byte 0x%02X at byte %zu is not GB2312", static_cast<unsigned>(c), i);
          *error = buf;
        }
        return false;
      }
      Encode_Utf8(0xFFFD, &result);
    } else {
      Encode_Utf8(cp, &result);
    }
    i += len;
  }
  *out = std::move(result);
  return true;
}

}  // namespace gb
