// The part-of-speech tags of the segmenter: one number per lexicon tag, and
// the tags of the words that do not come from the lexicon. The numbers of
// adjectives, adverbs, numerals, names, prepositions, pronouns, conjunctions,
// auxiliaries, modal particles, interjections and punctuation are fixed by
// the name recognisers that test them; the others are only distinct.
#ifndef VORNEL_TAGS_H
#define VORNEL_TAGS_H

#include <cstdint>
#include <string_view>

namespace vornel {

constexpr int16_t kTag_Adjective = 1;
constexpr int16_t kTag_Adverb = 8;
constexpr int16_t kTag_Numeral = 18;
constexpr int16_t kTag_Person = 21;
constexpr int16_t kTag_Place = 22;
constexpr int16_t kTag_Organisation = 23;
constexpr int16_t kTag_Preposition = 27;
constexpr int16_t kTag_Pronoun = 29;
constexpr int16_t kTag_Conjunction = 37;
constexpr int16_t kTag_Auxiliary = 38;
constexpr int16_t kTag_Modal = 39;
constexpr int16_t kTag_Interjection = 40;
// Punctuation marks and runs of white space.
constexpr int16_t kTag_Punctuation = 41;
// Runs of ASCII letters (with digits and +#&._%-), and full-width, Greek,
// Cyrillic, kana and pinyin letters.
constexpr int16_t kTag_Letters = 42;
// Characters the lexicon does not know, unassigned positions, malformed bytes
// and control characters.
constexpr int16_t kTag_Unknown = 43;
// Highest tag number in use.
constexpr int16_t kTag_Max = 43;

// The number of a lexicon tag name ("nr", "ns", ...); -1 when unknown.
int16_t Tag_Number(std::string_view name);

// A tag name for a number (the first lexicon name that maps to it, or "w",
// "eng", "unk" for the three tags of their own); "" when unused.
const char *Tag_Name(int16_t number);

}  // namespace vornel

#endif
