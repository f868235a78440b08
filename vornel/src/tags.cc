#include "tags.h"

namespace vornel {

namespace {

struct Tag_Entry {
  const char *name;
  int16_t number;
};

// The tag table. Keep it equal to the table in data/README.md.
const Tag_Entry kTags[] = {
    {"a", 1},    {"ad", 1},   {"an", 1},   {"ag", 1},                  // adjective
    {"n", 2},    {"v", 3},    {"vn", 4},   {"nz", 5},    {"ng", 6},    //
    {"i", 7},                                                          // idiom
    {"d", 8},    {"dg", 8},   {"df", 8},                               // adverb
    {"l", 9},    {"j", 10},   {"t", 11},   {"tg", 12},   {"s", 13},    //
    {"f", 14},   {"b", 15},   {"z", 16},   {"zg", 17},                 //
    {"m", 18},   {"mq", 18},  {"mg", 18},                              // numeral
    {"q", 19},   {"vq", 20},                                           //
    {"nr", 21},  {"nrt", 21}, {"nrfg", 21},                            // person name
    {"ns", 22},                                                        // place name
    {"nt", 23},                                                        // organisation name
    {"vg", 24},  {"vd", 25},  {"vi", 26},                              //
    {"p", 27},                                                         // preposition
    {"k", 28},                                                         //
    {"r", 29},   {"rr", 29},  {"rz", 29},  {"rg", 29},                 // pronoun
    {"h", 30},   {"g", 31},   {"x", 32},                               //
    {"c", 37},                                                         // conjunction
    {"u", 38},   {"uz", 38},  {"uv", 38},  {"ul", 38},   {"uj", 38},   // auxiliary
    {"ug", 38},  {"ud", 38},                                           //
    {"y", 39},                                                         // modal particle
    {"e", 40},   {"o", 40},                                            // interjection
    {"w", VORNEL_TAG_PUNCTUATION},                                     //
    {"eng", VORNEL_TAG_LETTERS},                                       //
    {"unk", VORNEL_TAG_UNKNOWN},                                       //
};

}  // namespace

int16_t Tag_Number(std::string_view name) {
  for (const Tag_Entry &t : kTags)
    if (name == t.name) return t.number;
  return -1;
}

}  // namespace vornel
