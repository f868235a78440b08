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
// Every lookup takes its own "place" handle and releases it whatever the
// answer, so each one reads the dictionary as it is loaded at that moment;
// the service makes taking and releasing a handle cheap. Only the first 40
// bytes of the text are ever read, so the cost of one call does not depend
// on how long the text runs on.
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
  for (; size >= kShortestPlace; --size) {
    prefix[size] = '\0';
    const services::Dict_Lease place("place");
    if (place.Contains(prefix)) return {&kLabel_Place, static_cast<int32_t>(size)};
  }
  return {};
}
