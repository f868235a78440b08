// Dictionary features: one number read out of the information string that a
// dictionary keeps with a word.
//
// An information string is a run of entries "key:number;" with nothing
// between them, e.g. "b:0.5;i:0.25;e:0.125;". A lookup
//   1. takes a handle of the dictionary by name (one per lookup, released on
//      every path) and asks the service for the word's information string;
//   2. finds the first occurrence of the key as a plain substring, whatever
//      stands around it (so in "name_dic" the key "x" also matches the end of
//      an "fx" entry that comes first);
//   3. reads the number between the first colon after the key's first byte
//      and the next semicolon (or the end of the string); when no colon
//      follows, the number at the very start of the string is read;
//   4. converts it as atof does: leading white space skipped, the longest
//      decimal prefix converted, 0.0 when there is none. The conversion does
//      not depend on the process's locale: the host may have set one whose
//      decimal separator is not a point.
#include <cctype>
#include <charconv>
#include <cstring>

#include "ner/ner.h"
#include "services/services.h"

namespace {

// Information-string buffer sizes, terminator included.
constexpr int32_t kOrgFundInfoSize = 300;
constexpr int32_t kNameInfoSize = 100;

const char *const kFundOrgKeys[] = {"b:", "i:", "e:"};
const char *const kNameKeys[] = {"x", "dm", "ss", "sw", "fx"};

// The key of feature `type` (1-based) from `keys`, or nullptr for a code
// outside the table.
template <size_t N>
const char *Key_Of(const char *const (&keys)[N], int32_t type) {
  return type >= 1 && static_cast<size_t>(type) <= N ? keys[type - 1] : nullptr;
}

// atof over [begin, end): white space skipped, an optional sign, the longest
// decimal floating-point prefix; 0.0 when there is none.
double Number_Read(const char *begin, const char *end) {
  while (begin < end && std::isspace(static_cast<unsigned char>(*begin))) ++begin;
  bool negative = false;
  if (begin < end && (*begin == '+' || *begin == '-')) {
    negative = *begin == '-';
    ++begin;
  }
  // from_chars takes no sign of its own before the digits; a second sign is
  // not a number.
  if (begin == end || *begin == '+' || *begin == '-') return 0.0;
  double value = 0.0;
  const std::from_chars_result r = std::from_chars(begin, end, value, std::chars_format::general);
  if (r.ec == std::errc::invalid_argument) return 0.0;
  // Out of range: from_chars leaves value alone; atof gives the overflowed or
  // underflowed value, which for these weights never occurs in practice.
  return negative ? -value : value;
}

// Reads the number of `key` out of the information string `info`.
// Returns 1 with *value set when the key occurs, 0 otherwise.
int32_t Info_Number(const char *info, const char *key, double *value) {
  const char *found = std::strstr(info, key);
  if (found == nullptr) return 0;
  const char *info_end = info + std::strlen(info);
  const char *colon = std::strchr(found + 1, ':');
  const char *begin;
  const char *end;
  if (colon != nullptr) {
    begin = colon + 1;
    const char *semicolon = std::strchr(begin, ';');
    end = semicolon != nullptr ? semicolon : info_end;
  } else {
    begin = info;
    const char *semicolon = std::strchr(info, ';');
    end = semicolon != nullptr ? semicolon : info_end;
  }
  *value = Number_Read(begin, end);
  return 1;
}

// One complete lookup in `dictionary` with an information buffer of `size`
// bytes held in `buffer`.
int32_t Dict_Get_Prob(const char *dictionary, const char *key, const char *word, char *buffer, int32_t size,
                      double *value) {
  services::Dict_Lease lease(dictionary);
  *value = 0.0;
  buffer[0] = '\0';
  if (lease.Get_Info(word, buffer, size) != 1) return 0;
  // The service writes a terminated string; whatever it wrote, the string
  // read here ends inside the buffer.
  buffer[size - 1] = '\0';
  if (key == nullptr) return 0;
  return Info_Number(buffer, key, value);
}

}  // namespace

// The buffers live on the stack: these lookups run for nearly every word of
// an essay, and only the terminator written first needs clearing.
int32_t Fund_Get_Prob(const char *word, int32_t type, double *value) {
  char info[kOrgFundInfoSize];
  return Dict_Get_Prob("fund_dic", Key_Of(kFundOrgKeys, type), word, info, kOrgFundInfoSize, value);
}

int32_t Org_Get_Prob(const char *word, int32_t type, double *value) {
  char info[kOrgFundInfoSize];
  return Dict_Get_Prob("org_dic", Key_Of(kFundOrgKeys, type), word, info, kOrgFundInfoSize, value);
}

int32_t Name_Get_Prob(const char *word, int32_t type, double *value) {
  char info[kNameInfoSize];
  return Dict_Get_Prob("name_dic", Key_Of(kNameKeys, type), word, info, kNameInfoSize, value);
}
