// Place_Recognize: does a text begin with a place name held by the "place"
// dictionary?
//
// The answer is the longest prefix of 4 to 40 bytes that the dictionary
// holds. Word boundaries play no part: the prefix may run across several
// words or end inside one. The prefixes are tried from the longest down, one
// byte shorter each time, so odd lengths (which end inside a two-byte
// character) are looked up too; the first one found is the answer and no
// shorter prefix is tried after it. Callers that need whole characters check
// the length themselves.
//
// One "place" handle serves all the lookups of a call: a handle is a plain
// value naming the loaded dictionary, so taking it once gives the same answers
// as taking it around every lookup, without 37 round trips per word. Only the
// first 40 bytes of the text are ever read, so the cost of one call does not
// depend on how long the text runs on.
#include <cstring>

#include "ner/ner.h"
#include "services/services.h"

namespace {

constexpr size_t kLongestPlace = 40;
constexpr size_t kShortestPlace = 4;

}  // namespace

Found_Name Place_Recognize(const char *text) {
  char prefix[kLongestPlace + 1];
  size_t size = strnlen(text, kLongestPlace);
  if (size < kShortestPlace) return {};
  std::memcpy(prefix, text, size);
  const services::Dict_Lease place("place");
  for (; size >= kShortestPlace; --size) {
    prefix[size] = '\0';
    if (place.Contains(prefix)) return {&kLabel_Place, static_cast<int32_t>(size)};
  }
  return {};
}
