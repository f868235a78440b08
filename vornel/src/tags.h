// The part-of-speech tags of the segmenter: one number per lexicon tag, and
// the tags of the words that do not come from the lexicon. The numbers that
// callers test are fixed by the VORNEL_TAG_* enumeration of vornel.h; the
// others are only distinct.
#ifndef VORNEL_TAGS_H
#define VORNEL_TAGS_H

#include <cstdint>
#include <string_view>

#include "vornel/vornel.h"

namespace vornel {

// Highest tag number in use.
constexpr int16_t kTag_Max = VORNEL_TAG_UNKNOWN;

// The number of a lexicon tag name ("nr", "ns", ...); -1 when unknown.
int16_t Tag_Number(std::string_view name);

}  // namespace vornel

#endif
