// GB2312 text helpers shared by libtesqsrch, libvornel, libkarvel and the
// tools: character boundaries, character comparison against fixed lists, and
// conversion to and from UTF-8 at the edges of the system.
//
// Text inside the system is GB2312 in its usual byte form (EUC-CN): a byte
// of 0x80 or below is one ASCII character; a lead byte A1..FE followed by a
// trail byte A1..FE is one two-byte character. Any other byte above 0x80 is
// malformed and is treated as a one-byte character of its own, so a walk over
// any byte string always advances and never reads past its end.
#ifndef TESQ_COMMON_GB2312_H
#define TESQ_COMMON_GB2312_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace gb {

// The bytes of a two-byte character, and the cells of a row of the table
// (94 rows of 94, lead and trail bytes A1..FE).
constexpr size_t kWide_Char_Bytes = 2;
constexpr int kRow_Cells = 94;
constexpr unsigned char kFirst_Gb_Byte = 0xA1;
constexpr unsigned char kLast_Gb_Byte = 0xFE;

// True when c may be the lead or the trail byte of a two-byte character.
inline bool Is_Gb_Byte(unsigned char c) { return c >= kFirst_Gb_Byte && c <= kLast_Gb_Byte; }

// The position, row * 94 + cell, of the two-byte character (lead, trail) in
// the 94 x 94 table; -1 when either byte lies outside A1..FE.
inline int Char_Index(unsigned char lead, unsigned char trail) {
  if (!Is_Gb_Byte(lead) || !Is_Gb_Byte(trail)) return -1;
  return (lead - kFirst_Gb_Byte) * kRow_Cells + (trail - kFirst_Gb_Byte);
}

// The rows of the Hanzi, levels 1 and 2: lead bytes B0..F7.
constexpr unsigned char kFirst_Hanzi_Lead = 0xB0;
constexpr unsigned char kLast_Hanzi_Lead = 0xF7;
inline bool Is_Hanzi_Lead(unsigned char lead) { return lead >= kFirst_Hanzi_Lead && lead <= kLast_Hanzi_Lead; }

// True when (lead, trail) is a two-byte character of GBK, the code page of
// the hosts that load the library: GBK extends GB2312 with lead bytes 81..FE
// and trail bytes 40..FE other than 7F. Every GB2312 character is one.
inline bool Is_Gbk_Pair(unsigned char lead, unsigned char trail) {
  return lead >= 0x81 && lead <= 0xFE && trail >= 0x40 && trail <= 0xFE && trail != 0x7F;
}

// Length in bytes (1 or 2) of the character at p, where at most `available`
// bytes may be read (available >= 1).
inline size_t Char_Length(const char *p, size_t available) {
  const unsigned char lead = static_cast<unsigned char>(p[0]);
  if (available >= 2 && Is_Gb_Byte(lead) && Is_Gb_Byte(static_cast<unsigned char>(p[1]))) return 2;
  return 1;
}

// The two bytes at p as a NUL-terminated string of their own, for a lookup
// of one character by string. p must hold two readable bytes.
struct Wide_Char {
  char text[kWide_Char_Bytes + 1];
};
inline Wide_Char Wide_Char_At(const char *p) { return Wide_Char{{p[0], p[1], '\0'}}; }

// True when the two bytes at p are the character `ch` (given as its two bytes
// in storage order, e.g. "\xB5\xC4" for 的). p must hold two readable bytes.
inline bool Char_Equals(const char *p, const char *ch) { return p[0] == ch[0] && p[1] == ch[1]; }

// True when the two bytes at p equal one of the `count` two-byte characters of
// `list`.
bool Char_In_List(const char *p, const char *const *list, size_t count);

template <size_t N>
bool Char_In_List(const char *p, const char *const (&list)[N]) {
  return Char_In_List(p, list, N);
}

// The Unicode code point of the two-byte character (lead, trail), or 0 when
// the position is not an assigned GB2312 character.
uint32_t To_Unicode(unsigned char lead, unsigned char trail);

// The two GB2312 bytes of code point `cp` written to out[0..1]; false when
// the character has no GB2312 form. ASCII is not handled here.
bool From_Unicode(uint32_t cp, unsigned char out[2]);

// Decodes the UTF-8 sequence at s[i] into *cp: its length, or 0 when it is
// malformed (overlong, a surrogate, beyond U+10FFFF, cut short).
size_t Decode_Utf8(std::string_view s, size_t i, uint32_t *cp);

// Converts UTF-8 to GB2312. On failure returns false and, when `error` is
// given, describes the first offending character and its byte offset
// (e.g. "character U+00E9 'é' at byte 3 has no GB2312 form"); the offset is
// counted from `offset`, the position of `utf8` in a longer text read in
// parts.
bool Utf8_To_Gb(std::string_view utf8, std::string *out, std::string *error = nullptr, size_t offset = 0);

// What stops a UTF-8 text from becoming GB2312, for callers that report it
// in a structured form (a service's error answer).
enum class Utf8_Fault { kNone, kMalformed, kNo_Gb2312_Form };

// Utf8_To_Gb that also tells which fault it met and at which byte of `utf8`.
bool Utf8_To_Gb(std::string_view utf8, std::string *out, std::string *error, Utf8_Fault *fault,
                size_t *offset);

// Converts GB2312 to UTF-8. Malformed or unassigned bytes make it fail (with
// a description in `error`) unless `lenient`, when each becomes U+FFFD.
bool Gb_To_Utf8(std::string_view gbtext, std::string *out, std::string *error = nullptr,
                bool lenient = false);

}  // namespace gb

#endif
