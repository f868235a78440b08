// Trains the five dictionaries from a tagged lexicon (jieba's dict.txt form).
//
// The recognisers compare the numbers of "name_dic", "org_dic" and
// "fund_dic" with fixed thresholds, and test characters for membership of
// "foreign_dic"; the essay front end matches the names of "place". Every
// number here is a smoothed share: the weight of a word's (or character's)
// uses in a role of a name, against those uses plus its uses in ordinary
// words of the lexicon, so that a common word that happens to occur in names
// stays low.
//
//   name_dic     From person (nr) entries of 2 and 3 characters and the
//                transliterated names (nrt) of 2, each weighted
//                by how name-like it is: the surname prior of its first
//                character (its share of starting person entries among the
//                words it starts) times a penalty when the given-name part is
//                itself a common ordinary word (titles, "surname + word").
//                "x" of a character is its weighted surname count against
//                its starts of ordinary words; "dm" its count as the given
//                name of a 2-character name, "ss"/"sw" as first/second
//                character of the given name of a 3-character name, each
//                against the ordinary words it occurs in; "sw" also against
//                the ordinary words of 3 characters or more it ends, so that
//                a suffix (性, 界, 会) does not close a name. "fx" of the
//                compound surnames: share of the entries they start that are
//                person names.
//   org_dic      Organisation (nt) entries split into words by the segmenter:
//                "b:", "i:", "e:" count the word as first, inner and last
//                part, each against all its uses as a part of an organisation
//                name plus its uses as a part of ordinary words. Hence "i:"
//                above "e:" exactly when the word continues names more often
//                than it ends them.
//   fund_dic     The same over the words with 基金 (fund names); the first
//                words of organisation names are admitted as first words of
//                fund names ("b:" the greater of the two).
//   foreign_dic  Characters of transliterated names (nrt), "t:" their share
//                against their uses in ordinary words; a character used in
//                two names is kept unless its share is negligible (membership
//                is all that the recogniser reads, and it wants every
//                character of a short name to be a member). And the name
//                separator "·".
//   place        Every place (ns) entry of two characters or more, "f:" its
//                frequency.
#ifndef TESQ_TOOLS_DICT_TRAINER_H
#define TESQ_TOOLS_DICT_TRAINER_H

#include <functional>
#include <string>
#include <vector>

#include "dict_sources.h"

namespace tesq_tools {

struct Trained_Dictionaries {
  Dict_Entries foreign_dic, name_dic, org_dic, fund_dic, place;
};

// Splits a GB2312 word of the lexicon into its parts, never returning the
// word itself as a single part (a word with no smaller parts comes back as
// one-character parts).
using Word_Splitter = std::function<std::vector<std::string>(const std::string &)>;

// The person recogniser's threshold on surname × one-character given name.
constexpr double kPerson_Given1_Threshold = 0.05;

// Longest information strings the recognisers read: 299 bytes from
// "org_dic" and "fund_dic", 99 from "name_dic".
constexpr size_t kMax_Info_Org = 299;
constexpr size_t kMax_Info_Name = 99;

// The smoothing constants. A share is count / (count + weight × other uses +
// prior); the defaults are calibrated on a held-out fold of the jieba
// lexicon (the lexicon fold of bench/eval/names_eval.py) for the recognisers' fixed
// thresholds; the token shares (with name lists) on the dev half of its sets.
struct Train_Parameters {
  double surname_other = 0.22;  // x: weight of a character's starts of ordinary words
  double surname_prior = 2.0;
  int surname_min = 3;           // x only for characters starting this many person entries
  double title_penalty = 0.25;   // weight of an entry whose given-name part is a common word
  uint64_t title_frequency = 50; // ... of at least this frequency
  int foreign_person_max_chars = 2;  // transliterated names (nrt) up to this many characters train name_dic too
  double given1_other = 1.5;    // dm
  double given1_prior = 1.0;
  double given2_other = 0.035;   // ss, sw
  double given2_prior = 1.0;
  double suffix_weight = 3.0;    // sw: extra weight of a character's ends of ordinary words of 3 characters or more
  double place_end_weight = 0;   // with name lists, ss and sw: extra weight of a character's ends of place entries
  double glued_other = 0.5;      // fx of a word the segmenter makes of surname + given character
  double glued_prior = 2.0;
  double glued_given = 2.0;      // weight of the character after such a word in dm
  double org_other = 0.12;        // b:, i:, e: of org_dic and fund_dic
  double org_prior = 0.2;
  double foreign_other = 0.6;    // foreign_dic share
  double foreign_prior = 1.0;
  double foreign_min_share = 0.01;
  int foreign_min_uses = 2;
  int foreign_min_chars = 2;     // nrt entries of at least this many characters count
  double fragment_min_share = 0.035;  // segmenter: characters of foreign_dic above this share make fragments
  int fragment_max_chars = 3;    // segmenter: person entries of 2 up to this many characters, all of
  double fragment_max_frequency = 1000;  // foreign_dic, and at most this frequency, are left out
  double known_name_min_frequency = 30;  // ... but a three-character nr entry with a listed surname and
                                         // at least this frequency stays (with name lists)
  int proper_fragment_max_chars = 2;        // place and other proper-noun entries (ns, nz) alike, of 2 up
  double proper_fragment_max_frequency = 100;  // to this many characters and at most this frequency
  int fragment_max_org_uses = 0;  // a word inside more organisation (nt) entries than this is no fragment
  double name_split_max_frequency = 100;  // segmenter, with name lists: a two-character name entry up to this
                                          // frequency is split into surname + given name
  // With name lists, the person weights are token shares: the frequency of
  // the person entries with the character in the role against this weight
  // times its frequency as a word of its own.
  double surname_alone = 0.1;   // x
  double given1_alone = 4.0;    // dm
  double given2_alone = 0.01;   // ss: a factor on the share above
  double given2_closing_alone = 0.001;  // sw: the same (classical given names close on common
                                        // characters: 李咸用, 张志和)
  int surname_common = 100;         // with name lists: x of a surname past the first this many of the
  double surname_rare_factor = 0.45;  // list (the commonest come first) is scaled by this factor,
  double surname_rare_name_share = 0.9;  // unless at least this share of the entries it starts are person
                                         // names (韦, 褚, 裴)
  double surname_type_power = 0;  // with name lists: x is also multiplied by its share of starting person
                                  // entries among the entries it starts, to this power
  double alone_prior = 30.0;    // added to the denominator of the token shares of x and dm (a frequency)
  double given1_from_ss = 0.15;  // with name lists: dm is at least this times ss (建, 继 open many given
                                 // names of two characters; alone they stand as words, but a name may be one)
  double given1_type_floor = 1;  // with name lists: dm is at least this times the share of the lexicon's
                                 // names among the words holding the character, as without name lists
  // With name lists, a character that is rare as a word of its own and in
  // words (鸾, 颀) is likely a name where it follows a surname: dm is at
  // least given1_rare × K / (K + its frequency as a word alone +
  // rare_type_weight × the lexicon words it is in), ss and sw at least
  // given2_rare × the same, K being rare_frequency. The lexicon's names are
  // modern and few; classical given names are mostly rare characters.
  double rare_frequency = 4000;
  double rare_type_weight = 60;
  double given1_rare = 0.4;
  double given2_rare = 0.5;
  double compound_surname_listed = 0.5;  // with name lists: fx of a two-character surname of the lists at least this
  double given2_opening_only = 0.45;  // with name lists: sw of a character the lists put first in given names only
  double given2_opening_unattested = 0.3;  // ... and that closes no three-character real person of the word senses
  double known_person_min_surname = 0.1;  // a real person of the word senses whose surname has at least this x
  double known_person_margin = 1.2;       // ... gets dm of its given name at least this times 0.05 / x
  double whole_name_split_min = 0.2;   // with name lists: a two-character person entry kept whole is split
                                      // when x of its surname times dm of its given name is above this (0: never)
  double whole_name_tag_min = 0.3;     // ... a three-character one tagged n gets its person tag back when x
                                      // times the mean of ss and sw is above this (0: never)
  double place_mark_min_share = 0.2;  // with name lists: a place entry made of characters of foreign_dic
                                      // above this share is a transliterated place name
};

// Sets one parameter by name ("surname_other=0.4"); false for an unknown
// name or a value that is not a number.
bool Set_Train_Parameter(Train_Parameters *parameters, const std::string &assignment);

// True for a fund word: 基金 at a character boundary and at least 3 characters.
bool Is_Fund_Word(const std::string &gbword);

// "foreign_dic": the transliteration characters and "·".
Dict_Entries Train_Foreign(const std::vector<Lexicon_Entry> &lexicon, const Train_Parameters &parameters = Train_Parameters());

// The segmenter's words: the lexicon without the transliteration fragments,
// the short person entries (nr, nrt, nrfg) and the rare two-character place
// and proper-noun entries (ns, nz) made only of characters of `foreign` of a
// share above `fragment_min_share` (威尔, 斯特, 尼亚), so that a
// transliterated name the lexicon does not know falls apart into the
// one-character words the recogniser walks. A word that stands inside the
// names of organisations (吉林, 哈佛 in 吉林大学, 哈佛大学) stays: those
// names are read by their words.
//
// With name lists (friso-dict's), the name tags are made to mean what they
// say: a one-character entry of any name tag (王, 丽, 京, 昭, 圳) is tagged n; a
// two-character person entry that the lists read as surname + given name,
// of at most `name_split_max_frequency`, is left out, so that the name
// reaches the person recogniser as surname + given-name words; other
// two-character person entries (陈旧, 丛林) are tagged n; a three-character
// person entry that starts with a surname but does not read as a name
// and holds no ordinary two-character word (胡斐摇) is left out, others
// (招财猫, 许可证) are tagged n; a
// place entry that is no place name (东南 f; 新建, 太极, 美丽 n) loses its
// place tag.
std::vector<Lexicon_Entry> Segmenter_Entries(const std::vector<Lexicon_Entry> &lexicon, const Dict_Entries &foreign,
                                             const Train_Parameters &parameters = Train_Parameters(),
                                             const Name_Lists &lists = Name_Lists());

// With name lists, "place" holds the place names only (the lexicon's place
// entries that are place names, and the places of the lists).
Trained_Dictionaries Train_Dictionaries(const std::vector<Lexicon_Entry> &lexicon, const Word_Splitter &split,
                                        const Train_Parameters &parameters = Train_Parameters(),
                                        const Name_Lists &lists = Name_Lists());

// With name lists, the person entries that the segmenter kept as words
// without a person tag (李白, 杜甫, 白居易: their given names are not on the
// lists) are read again with the trained "name_dic": a two-character one
// that the weights read as surname + given name is left out, as the
// listed names are, and a three-character one gets its person tag back.
// Entries inside ordinary words of the lexicon, places and
// transliterations stay as they are.
// Returns whether anything changed.
bool Reread_Person_Entries(const std::vector<Lexicon_Entry> &lexicon, const Trained_Dictionaries &trained,
                           const Train_Parameters &parameters, const Name_Lists &lists,
                           std::vector<Lexicon_Entry> *segmenter);

}  // namespace tesq_tools

#endif
