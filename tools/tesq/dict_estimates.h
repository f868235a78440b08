// First estimates of the five dictionaries from a tagged lexicon.
//
// The name recognisers read keyed numbers from "name_dic", "org_dic" and
// "fund_dic" and test characters against "foreign_dic"; the essay front end
// matches place names in "place". Until statistics trained on annotated text
// are available, these estimates fill the dictionaries from the lexicon's own
// tags:
//
//   name_dic     nr words of 2 and 3 characters: "x" (surname) of a first
//                character, "dm" (one-character given name) of the second of
//                a two-character name, "ss"/"sw" (first/second character of
//                a two-character given name) of three-character names, each
//                the share of the character's uses in that role among its
//                uses in the role and in non-name words; "fx" of compound
//                surnames from a fixed list, the share of lexicon words
//                starting with the pair that are person names.
//   foreign_dic  the characters of nrt (transliterated name) words used in at
//                least kMin_Foreign_Uses of them, "t:" their share of such
//                uses; and the name separator "·".
//   place        every ns word of two characters or more, "f:" its frequency.
//   org_dic      nt words split into lexicon words: "b:", "i:", "e:" of a
//                part are the shares of its uses as first, inner and last
//                part of a name.
//   fund_dic     the same over the lexicon words that contain 基金.
//
// A trainer replaces this file; its interface is Estimate_Dictionaries.
#ifndef TESQ_TOOLS_DICT_ESTIMATES_H
#define TESQ_TOOLS_DICT_ESTIMATES_H

#include <functional>
#include <string>
#include <vector>

#include "dict_sources.h"

namespace tesq_tools {

struct Estimated_Dictionaries {
  Dict_Entries foreign_dic, name_dic, org_dic, fund_dic, place;
};

// Splits a GB2312 word of the lexicon into its parts, never returning the
// word itself as a single part (a word with no smaller parts comes back as
// one-character parts).
using Word_Splitter = std::function<std::vector<std::string>(const std::string &)>;

// Longest information strings the recognisers read: 299 bytes from
// "org_dic" and "fund_dic", 99 from "name_dic".
constexpr size_t kMax_Info_Org = 299;
constexpr size_t kMax_Info_Name = 99;

Estimated_Dictionaries Estimate_Dictionaries(const std::vector<Lexicon_Entry> &lexicon,
                                             const Word_Splitter &split);

}  // namespace tesq_tools

#endif
