// The plain-text sources of the segmenter lexicon and the dictionaries: how
// they are read (UTF-8 on disk, GB2312 in memory) and written. The formats
// are described in data/README.md.
#ifndef TESQ_TOOLS_DICT_SOURCES_H
#define TESQ_TOOLS_DICT_SOURCES_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tesq_tools {

// One lexicon word: GB2312 text, frequency and tag name.
struct Lexicon_Entry {
  std::string word;
  uint64_t frequency;
  std::string tag;
  // Kept apart in query segmentation: a person name the person recogniser
  // reads from its surname and given name ("apart" after the tag in the text).
  bool apart = false;
};

struct Lexicon_Source {
  // The frequency total the weights are relative to: the "#total" line when
  // present, else the sum of the frequencies of every line read (including
  // the words that were dropped).
  uint64_t total = 0;
  std::vector<Lexicon_Entry> entries;  // one per word; a repeated word keeps its last line
  size_t dropped = 0;                  // words that are not GB2312 Han characters only
};

// Reads a lexicon text: "word frequency tag [apart]" lines (jieba's dict.txt is one),
// "#total N", comments starting with '#', blank lines. Words with characters
// outside the GB2312 Han set are dropped and counted. Errors name the line.
bool Read_Lexicon_Text(const std::string &path, Lexicon_Source *out, std::string *error);
bool Write_Lexicon_Text(const std::string &path, const Lexicon_Source &lexicon, std::string *error);

// (word, information string), both GB2312.
using Dict_Entries = std::vector<std::pair<std::string, std::string>>;

// True when `info` is a run of "key:number;" entries (key of ASCII letters,
// number a decimal) and at most `max_size` bytes long.
bool Info_String_Ok(const std::string &info, size_t max_size);

// Reads a dictionary text: "word<TAB>information string" lines, comments
// starting with '#', blank lines. Every information string must pass
// Info_String_Ok with `max_info`; a word may occur once.
bool Read_Dict_Text(const std::string &path, size_t max_info, Dict_Entries *out, std::string *error);
// Word lists of names (friso-dict's UTF-8 dictionary directory): the
// surnames (lex-lname.lex), the characters of given names (lex-sname.lex,
// lex-dname-1.lex, lex-dname-2.lex) and the names of places (lex-cn-place.lex,
// lex-nation.lex), all GB2312. Lines are "word" or "word/synonyms"; '#'
// starts a comment line; a word without a GB2312 form is skipped. The
// surname list puts the commonest first: `surname_rank` is a surname's place
// in it (0 for the first).
//
// Beside them, `senses`: what a general dictionary says a word is (Sense
// bits), which tells a real person from an ordinary word the lexicon tags
// as a name (韩愈 against 许可证) and a real place from a word tagged ns.
enum Sense : unsigned {
  kSense_Person = 1,  // a proper noun defined as a person
  kSense_Place = 2,   // a proper noun defined as a place
  kSense_Proper = 4,  // another proper noun
  kSense_Common = 8,  // an ordinary word
  kSense_Surname = 16,  // a character that is a surname
};

struct Name_Lists {
  std::unordered_set<std::string> surnames, given, places;
  // Given-name characters by the place the lists give them in a
  // two-character given name (lex-dname-1, lex-dname-2); each is in `given`
  // too.
  std::unordered_set<std::string> given_first, given_second;
  std::unordered_map<std::string, int> surname_rank;
  std::unordered_map<std::string, unsigned> senses;  // GB2312 word -> Sense bits
  bool Empty() const { return surnames.empty() && given.empty() && places.empty(); }
  unsigned Senses_Of(const std::string &word) const {
    const auto it = senses.find(word);
    return it == senses.end() ? 0u : it->second;
  }
};

bool Read_Name_Lists(const std::string &dir, Name_Lists *out, std::string *error);

// Reads a senses file into lists->senses: "word<TAB>kinds" lines (UTF-8),
// kinds a comma-separated list of person, place, proper and common (the
// output of tools/dicts/word_senses.py); '#' starts a comment line. A word
// without a GB2312 form is skipped; an unknown kind is an error naming the
// line. A surname of one or two characters (kind surname) that the surname
// list lacks joins it, after the list's own (the list puts the commonest
// first).
bool Read_Word_Senses(const std::string &path, Name_Lists *lists, std::string *error);

bool Write_Dict_Text(const std::string &path, const std::string &title, const Dict_Entries &entries,
                     std::string *error);

}  // namespace tesq_tools

#endif
