#include "dict_trainer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "gb2312.h"

namespace tesq_tools {

namespace {

// Compound surnames (UTF-8).
const char *const kCompound_Surnames[] = {"欧阳", "司马", "诸葛", "上官", "东方", "皇甫", "尉迟", "公孙", "慕容",
                                          "长孙", "宇文", "司徒", "夏侯", "轩辕", "令狐", "端木", "独孤", "南宫",
                                          "西门", "呼延", "万俟", "闻人", "澹台", "公冶", "申屠", "太史", "钟离"};

std::string Number(const char *key, double value) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%s:%.4f;", key, value);
  return buf;
}

std::string Gb(const char *utf8) {
  std::string out;
  gb::Utf8_To_Gb(utf8, &out);
  return out;
}

bool Is_Person_Tag(const std::string &tag) { return tag == "nr" || tag == "nrt" || tag == "nrfg"; }

std::string Char_At(const std::string &w, size_t k) { return w.substr(2 * k, 2); }

double Share(double count, double other, double weight, double prior) {
  const double d = count + weight * other + prior;
  return d > 0 ? count / d : 0.0;
}

struct Roles {
  double begin = 0, inner = 0, end = 0, other = 0;
};

using Role_Table = std::map<std::string, Roles>;

// Counts the roles of the parts of `names`.
void Count_Roles(const std::vector<std::vector<std::string>> &names, Role_Table *roles) {
  for (const auto &parts : names) {
    if (parts.size() < 2) continue;
    (*roles)[parts.front()].begin += 1;
    for (size_t k = 1; k + 1 < parts.size(); ++k) (*roles)[parts[k]].inner += 1;
    (*roles)[parts.back()].end += 1;
  }
}

// A person entry that reads as a Chinese name by the lists: a surname (one
// character, or two), then one or two characters of given names.
bool Is_Clean_Name(const Name_Lists &lists, const std::string &w) {
  const size_t chars = w.size() / 2;
  const size_t surname = chars >= 3 && lists.surnames.count(w.substr(0, 4)) > 0 ? 2 : 1;
  if (chars < 2 || lists.surnames.count(w.substr(0, 2 * surname)) == 0) return false;
  if (chars - surname < 1 || chars - surname > 2) return false;
  for (size_t k = surname; k < chars; ++k)
    if (lists.given.count(Char_At(w, k)) == 0) return false;
  return true;
}

bool All_Chars_Of(const std::string &w, const std::string &set) {
  for (size_t k = 0; k < w.size() / 2; ++k) {
    bool found = false;
    for (size_t i = 0; i + 1 < set.size() && !found; i += 2) found = set.compare(i, 2, Char_At(w, k)) == 0;
    if (!found) return false;
  }
  return true;
}

// Directions and positions (东南, 西北, 中上): tagged f, not places.
bool Is_Direction_Word(const std::string &w) {
  static const std::string directions = Gb("东南西北中上下内外前后左右");
  return All_Chars_Of(w, directions);
}

// Words for a kind of place (县, 山, 湖), and those a person entry may
// also end in when it names a place or a building (石家庄, 江夏郡, 武英殿).
const char kPlace_Words[] = "省市县区镇乡村州岛山河湖江海洋洲国城门峡关港湾峰岭寺庙宫园街路桥坝川原陵台";
const char kPlace_Words_Of_Persons[] = "庄郡殿堂府";

bool Last_Char_In(const std::string &w, const std::string &set) {
  return w.size() >= 4 && All_Chars_Of(Char_At(w, w.size() / 2 - 1), set);
}

bool Ends_In_Place_Word(const std::string &w) {
  static const std::string words = Gb(kPlace_Words);
  return Last_Char_In(w, words);
}

// Words for an administrative division, of any period (郡, 州, 县).
const std::string &Division_Words() {
  static const std::string words = Gb("省市县区镇乡村州郡");
  return words;
}

bool Is_Division_Word(const std::string &c) { return c.size() == 2 && All_Chars_Of(c, Division_Words()); }

bool Ends_In_Division_Word(const std::string &w) { return Last_Char_In(w, Division_Words()); }

bool Names_A_Place(const std::string &w) {
  static const std::string words = Gb((std::string(kPlace_Words) + kPlace_Words_Of_Persons).c_str());
  return Last_Char_In(w, words);
}

// Every character a mark of transliterations (see Marks).
bool All_Marks(const std::unordered_set<std::string> &marks, const std::string &w) {
  for (size_t k = 0; k < w.size() / 2; ++k)
    if (marks.count(Char_At(w, k)) == 0) return false;
  return true;
}

// A place entry of the lexicon that is a place name: one of the lists, a
// name of three characters or more that ends in a word for a kind of place,
// a two-character name ending in 州, or a transliteration (every character
// a mark of transliterations well above chance: 罗马, not 太多).
bool Is_Clean_Place(const Name_Lists &lists, const std::unordered_set<std::string> &marks, const std::string &w) {
  static const std::string zhou = Gb("州");
  const size_t chars = w.size() / 2;
  if (lists.places.count(w) > 0) return true;
  if (chars >= 3 && Ends_In_Place_Word(w)) return true;
  if (chars == 2 && Char_At(w, 1) == zhou) return true;
  return chars >= 2 && All_Marks(marks, w);
}

std::unordered_set<std::string> Marks(const Dict_Entries &foreign, double min_share) {
  std::unordered_set<std::string> marks;
  for (const auto &f : foreign)
    if (f.second.compare(0, 2, "t:") == 0 && std::atof(f.second.c_str() + 2) > min_share) marks.insert(f.first);
  return marks;
}

// A surname past the commonest of the list opens fewer names than its
// entries in the lexicon suggest: the lexicon's names come from many
// sources, and a rare surname (公, 双, 山) mostly starts ordinary words
// that the lexicon happens to lack. One whose entries are nearly all names
// (韦, 褚, 裴: `person_starts` of the lexicon's `all_starts`) is no less a
// surname for being rare today.
double Rarity_Factor(const Name_Lists &lists, const Train_Parameters &p, const std::string &surname,
                     double person_starts, double all_starts) {
  if (p.surname_common <= 0 || lists.surname_rank.empty()) return 1.0;  // lists without an order
  if (person_starts >= p.surname_rare_name_share * all_starts) return 1.0;
  const auto rank = lists.surname_rank.find(surname);
  return rank != lists.surname_rank.end() && rank->second < p.surname_common ? 1.0 : p.surname_rare_factor;
}

// A three-character person entry made of a common ordinary word and one
// character: a surname and a title or a word (王夫人, 陈医生), or a place or
// a word and 人 (杭州人, 申请人), not a name.
bool Title_Tail(const std::unordered_map<std::string, const Lexicon_Entry *> &by_word, const Train_Parameters &p,
                const std::string &w) {
  for (const std::string &part : {w.substr(2), w.substr(0, 4)}) {
    const auto word = by_word.find(part);
    if (word != by_word.end() && !Is_Person_Tag(word->second->tag) && word->second->frequency >= p.title_frequency)
      return true;
  }
  return false;
}

bool Only_A_Place(unsigned senses) {
  return (senses & kSense_Place) != 0 && (senses & (kSense_Common | kSense_Person)) == 0;
}

// What the word senses settle about a name or place entry of the lexicon.
enum class Settled {
  kNot,       // nothing: the lists decide
  kSplit,     // a real person of two characters: left to the person recogniser
  kOrdinary,  // an ordinary word: a word of the segmenter with no name tag
  kTagged,    // a real name: its tag set to the kind of name
};

// A person or place entry that a general dictionary knows: an ordinary word
// the lexicon tags as a name (许可证, 哈希, 豪杰) stays a word of the
// segmenter tagged n; a real person of two characters with a listed
// surname is left to the person recogniser as surname + given name (韩愈);
// other real persons (白居易, 老舍) are tagged nr, places ns (洛阳, 眉山)
// and other proper nouns nz (滕王阁). A word that is both an ordinary word
// and a name (新建) is left to the lists.
Settled Settled_By_Senses(const Name_Lists &lists, Lexicon_Entry *e) {
  const bool name_tag = Is_Person_Tag(e->tag) || e->tag == "ns";
  unsigned senses = e->word.size() >= 4 ? lists.Senses_Of(e->word) : 0u;
  // An entry of another tag is settled only when it is a name and nothing
  // else (周恩来, tagged t).
  if (!name_tag && senses != kSense_Person && senses != kSense_Place) senses = 0;
  if (senses == 0) return Settled::kNot;
  const bool common = (senses & kSense_Common) != 0;
  if ((senses & kSense_Person) != 0 && !common) {
    if (e->word.size() == 4 && lists.surnames.count(Char_At(e->word, 0)) > 0) return Settled::kSplit;
    e->tag = "nr";
  } else if ((senses & kSense_Place) != 0 && !common) {
    e->tag = "ns";
  } else if (senses == kSense_Proper) {
    e->tag = "nz";
  } else if (senses == kSense_Common) {
    e->tag = Is_Direction_Word(e->word) ? "f" : "n";
    return Settled::kOrdinary;
  } else {
    return Settled::kNot;
  }
  return Settled::kTagged;
}

// A place name by the word senses when they know the word (a place that is
// no ordinary word), else by the lists (Is_Clean_Place).
bool Is_Place_Name(const Name_Lists &lists, const std::unordered_set<std::string> &marks, const std::string &w) {
  const unsigned senses = lists.Senses_Of(w);
  if ((senses & kSense_Place) != 0 && (senses & kSense_Common) == 0) return true;
  if (senses != 0 && lists.places.count(w) == 0) return false;
  return Is_Clean_Place(lists, marks, w);
}

// A lexicon entry of the place dictionary: a place entry that is a place
// name, or an entry of any tag that the word senses know as a place and
// neither as an ordinary word nor as a person.
bool Is_Place_Entry(const Name_Lists &lists, const std::unordered_set<std::string> &marks, const Lexicon_Entry &e) {
  return Only_A_Place(lists.Senses_Of(e.word)) || (e.tag == "ns" && Is_Place_Name(lists, marks, e.word));
}

}  // namespace

bool Set_Train_Parameter(Train_Parameters *p, const std::string &assignment) {
  const size_t eq = assignment.find('=');
  if (eq == std::string::npos) return false;
  const std::string name = assignment.substr(0, eq);
  const char *text = assignment.c_str() + eq + 1;
  char *end = nullptr;
  const double v = std::strtod(text, &end);
  if (end == text || *end != '\0') return false;
  struct Field {
    const char *name;
    double *d;
    int *i;
  };
  int title_frequency = static_cast<int>(p->title_frequency);
  const Field fields[] = {{"surname_other", &p->surname_other, nullptr},
                          {"surname_prior", &p->surname_prior, nullptr},
                          {"surname_min", nullptr, &p->surname_min},
                          {"title_penalty", &p->title_penalty, nullptr},
                          {"title_frequency", nullptr, &title_frequency},
                          {"foreign_person_max_chars", nullptr, &p->foreign_person_max_chars},
                          {"given1_other", &p->given1_other, nullptr},
                          {"given1_prior", &p->given1_prior, nullptr},
                          {"given2_other", &p->given2_other, nullptr},
                          {"given2_prior", &p->given2_prior, nullptr},
                          {"suffix_weight", &p->suffix_weight, nullptr},
                          {"glued_other", &p->glued_other, nullptr},
                          {"glued_prior", &p->glued_prior, nullptr},
                          {"glued_given", &p->glued_given, nullptr},
                          {"org_other", &p->org_other, nullptr},
                          {"org_prior", &p->org_prior, nullptr},
                          {"foreign_other", &p->foreign_other, nullptr},
                          {"foreign_prior", &p->foreign_prior, nullptr},
                          {"foreign_min_share", &p->foreign_min_share, nullptr},
                          {"foreign_min_uses", nullptr, &p->foreign_min_uses},
                          {"foreign_min_chars", nullptr, &p->foreign_min_chars},
                          {"fragment_min_share", &p->fragment_min_share, nullptr},
                          {"fragment_max_chars", nullptr, &p->fragment_max_chars},
                          {"fragment_max_frequency", &p->fragment_max_frequency, nullptr},
                          {"proper_fragment_max_chars", nullptr, &p->proper_fragment_max_chars},
                          {"proper_fragment_max_frequency", &p->proper_fragment_max_frequency, nullptr},
                          {"fragment_max_org_uses", nullptr, &p->fragment_max_org_uses},
                          {"name_split_max_frequency", &p->name_split_max_frequency, nullptr},
                          {"surname_alone", &p->surname_alone, nullptr},
                          {"given1_alone", &p->given1_alone, nullptr},
                          {"given2_alone", &p->given2_alone, nullptr},
                          {"given2_closing_alone", &p->given2_closing_alone, nullptr},
                          {"alone_prior", &p->alone_prior, nullptr},
                          {"surname_common", nullptr, &p->surname_common},
                          {"surname_rare_factor", &p->surname_rare_factor, nullptr},
                          {"surname_rare_name_share", &p->surname_rare_name_share, nullptr},
                          {"place_mark_min_share", &p->place_mark_min_share, nullptr},
                          {"whole_name_split_min", &p->whole_name_split_min, nullptr},
                          {"whole_name_tag_min", &p->whole_name_tag_min, nullptr},
                          {"given1_type_floor", &p->given1_type_floor, nullptr},
                          {"given1_from_ss", &p->given1_from_ss, nullptr},
                          {"rare_frequency", &p->rare_frequency, nullptr},
                          {"given1_rare", &p->given1_rare, nullptr},
                          {"given2_rare", &p->given2_rare, nullptr},
                          {"given2_opening_only", &p->given2_opening_only, nullptr},
                          {"given2_opening_unattested", &p->given2_opening_unattested, nullptr},
                          {"known_name_min_frequency", &p->known_name_min_frequency, nullptr},
                          {"compound_surname_listed", &p->compound_surname_listed, nullptr},
                          {"place_end_weight", &p->place_end_weight, nullptr},
                          {"rare_type_weight", &p->rare_type_weight, nullptr},
                          {"surname_type_power", &p->surname_type_power, nullptr},
                          {"known_person_min_surname", &p->known_person_min_surname, nullptr},
                          {"known_person_margin", &p->known_person_margin, nullptr}};
  for (const Field &f : fields) {
    if (name != f.name) continue;
    if (f.d != nullptr) *f.d = v;
    if (f.i != nullptr) *f.i = static_cast<int>(v);
    p->title_frequency = static_cast<uint64_t>(title_frequency);
    return true;
  }
  return false;
}

bool Is_Fund_Word(const std::string &gbword) {
  static const std::string fund = Gb("基金");
  if (gbword.size() < 6) return false;
  for (size_t at = gbword.find(fund); at != std::string::npos; at = gbword.find(fund, at + 1))
    if (at % 2 == 0) return true;
  return false;
}

Dict_Entries Train_Foreign(const std::vector<Lexicon_Entry> &lexicon, const Train_Parameters &p) {
  struct Uses {
    double foreign = 0, plain = 0;
  };
  std::map<std::string, Uses> uses;
  for (const Lexicon_Entry &e : lexicon) {
    const size_t chars = e.word.size() / 2;
    if (chars < 2) continue;
    if (e.tag == "nrt") {
      if (static_cast<int>(chars) < p.foreign_min_chars) continue;
      for (size_t k = 0; k < chars; ++k) uses[Char_At(e.word, k)].foreign += 1;
    } else if (!Is_Person_Tag(e.tag) && e.tag != "ns" && e.tag != "nz" && e.tag != "nt") {
      for (size_t k = 0; k < chars; ++k) uses[Char_At(e.word, k)].plain += 1;
    }
  }
  Dict_Entries out;
  for (const auto &u : uses) {
    if (u.second.foreign < p.foreign_min_uses) continue;
    const double t = Share(u.second.foreign, u.second.plain, p.foreign_other, p.foreign_prior);
    if (t > p.foreign_min_share) out.emplace_back(u.first, Number("t", t));
  }
  out.emplace_back(Gb("·"), Number("t", 1.0));
  return out;
}

std::vector<Lexicon_Entry> Segmenter_Entries(const std::vector<Lexicon_Entry> &lexicon, const Dict_Entries &foreign,
                                             const Train_Parameters &p, const Name_Lists &lists) {
  const std::unordered_set<std::string> marks = Marks(foreign, p.fragment_min_share);
  const std::unordered_set<std::string> place_marks = Marks(foreign, p.place_mark_min_share);
  // The words of 2 and 3 characters inside organisation names: the number
  // of names each stands in.
  const size_t longest = static_cast<size_t>(std::max({0, p.fragment_max_chars, p.proper_fragment_max_chars})) * 2;
  std::unordered_map<std::string, int> in_orgs;
  for (const Lexicon_Entry &e : lexicon) {
    if (e.tag != "nt") continue;
    std::unordered_set<std::string> seen;
    for (size_t at = 0; at + 4 <= e.word.size(); at += 2)
      for (size_t len = 4; len <= longest && at + len <= e.word.size(); len += 2) {
        if (len == e.word.size()) continue;
        std::string part = e.word.substr(at, len);
        if (seen.insert(part).second) ++in_orgs[std::move(part)];
      }
  }
  // Ordinary two-character words: a three-character person entry that holds
  // one (许可证; 全唐诗, with 唐诗 a proper noun) is no name. A word the
  // lexicon tags as a person counts when the word senses know it as
  // something else.
  std::unordered_set<std::string> ordinary_pairs;
  if (!lists.Empty())
    for (const Lexicon_Entry &e : lexicon) {
      const unsigned senses = lists.Senses_Of(e.word);
      if (e.word.size() == 4 && (!Is_Person_Tag(e.tag) || (senses != 0 && (senses & kSense_Person) == 0)))
        ordinary_pairs.insert(e.word);
    }
  std::vector<Lexicon_Entry> out;
  out.reserve(lexicon.size());
  for (const Lexicon_Entry &lexicon_entry : lexicon) {
    Lexicon_Entry e = lexicon_entry;
    const size_t chars = e.word.size() / 2;
    const auto orgs = in_orgs.find(e.word);
    const bool in_org_names = orgs != in_orgs.end() && orgs->second > p.fragment_max_org_uses;
    const Settled settled = Settled_By_Senses(lists, &e);
    if (settled == Settled::kSplit) {
      e.tag = "nr";
      e.apart = true;
      out.push_back(e);
      continue;
    }
    if (settled == Settled::kOrdinary) {
      out.push_back(e);
      continue;
    }
    // One character is no name of any kind: a transliteration syllable (昭,
    // 琳) or an organisation's fragment (圳) would stand in prose as a
    // person or an organisation of its own.
    if (!lists.Empty() && chars == 1 && (Is_Person_Tag(e.tag) || e.tag == "ns" || e.tag == "nt")) e.tag = "n";
    // A short entry tagged as a transliteration but not made of
    // transliteration characters is a Chinese word: one of two characters
    // (崇文, 宪宗, 二人) is read as the person entries are, one of three that
    // holds an ordinary word is none (家里人, 济南人).
    if (settled == Settled::kNot && !lists.Empty() && e.tag == "nrt" && (chars == 2 || chars == 3) &&
        !All_Marks(marks, e.word)) {
      if (chars == 2)
        e.tag = "nr";
      else if (ordinary_pairs.count(e.word.substr(0, 4)) > 0 || ordinary_pairs.count(e.word.substr(2, 4)) > 0)
        e.tag = "n";
    }
    if (settled == Settled::kNot && !lists.Empty() && e.tag != "nrt") {
      // Tags that mean what they say: a name tag only on a name of that
      // kind. A person name of two characters is left to the recognisers
      // as surname + given name in query segmentation. One of three that
      // starts with a surname and holds no ordinary two-character word is
      // a name whatever the lists make of its given name (王昌龄, 皮日休:
      // given names older than the lists). Other entries of one to three
      // characters that the lists do not read as names are tagged n (陈旧,
      // 许可证).
      if (Is_Person_Tag(e.tag)) {
        const bool clean = Is_Clean_Name(lists, e.word);
        if (!in_org_names && chars == 2 && clean && static_cast<double>(e.frequency) <= p.name_split_max_frequency) {
          e.tag = "nr";
          e.apart = true;
          out.push_back(e);
          continue;
        }
        // A two-character surname and a given character (上官仪, 宇文融) is
        // a name too.
        const bool old_name = chars == 3 && ((lists.surnames.count(Char_At(e.word, 0)) > 0 &&
                                              ordinary_pairs.count(e.word.substr(0, 4)) == 0 &&
                                              ordinary_pairs.count(e.word.substr(2, 4)) == 0) ||
                                             lists.surnames.count(e.word.substr(0, 4)) > 0);
        if (chars <= 2 || (chars == 3 && !clean && !old_name)) e.tag = "n";
      } else if (e.tag == "ns" && !Is_Place_Name(lists, place_marks, e.word)) {
        e.tag = Is_Direction_Word(e.word) ? "f" : "n";
      }
    }
    if (in_org_names) {
      out.push_back(e);
      continue;
    }
    const double frequency = static_cast<double>(e.frequency);
    bool fragment = chars >= 2 && ((Is_Person_Tag(e.tag) && static_cast<int>(chars) <= p.fragment_max_chars &&
                                    frequency <= p.fragment_max_frequency) ||
                                   ((e.tag == "ns" || e.tag == "nz") &&
                                    static_cast<int>(chars) <= p.proper_fragment_max_chars &&
                                    frequency <= p.proper_fragment_max_frequency));
    // A three-character name with a listed surname that the lexicon knows
    // well is a name whatever its characters also transliterate (皮日休,
    // 梅兰芳): a known name stays whole, only the rare pieces go.
    if (chars == 3 && e.tag == "nr" && frequency >= p.known_name_min_frequency &&
        lists.surnames.count(Char_At(e.word, 0)) > 0)
      fragment = false;
    for (size_t k = 0; k < chars && fragment; ++k) fragment = marks.count(Char_At(e.word, k)) > 0;
    if (!fragment) out.push_back(e);
  }
  return out;
}

Trained_Dictionaries Train_Dictionaries(const std::vector<Lexicon_Entry> &lexicon, const Word_Splitter &split,
                                        const Train_Parameters &p, const Name_Lists &lists) {
  Trained_Dictionaries d;

  std::unordered_map<std::string, const Lexicon_Entry *> by_word;
  by_word.reserve(lexicon.size() * 2);
  for (const Lexicon_Entry &e : lexicon) by_word[e.word] = &e;

  // Uses of each character in ordinary (not person) words of 2 characters or
  // more: as first character, anywhere, and anywhere outside proper names.
  struct Char_Uses {
    double first = 0, any = 0, plain = 0, last = 0;
    double place_last = 0;                    // place entries it ends (州, 郡, 阳)
    double starts = 0;                        // person entries it starts
    double surname = 0, given1 = 0, ss = 0, sw = 0;  // weighted roles
  };
  std::unordered_map<std::string, Char_Uses> uses;
  for (const Lexicon_Entry &e : lexicon) {
    const size_t chars = e.word.size() / 2;
    if (chars < 2 || Is_Person_Tag(e.tag)) continue;
    const bool proper = e.tag == "ns" || e.tag == "nz" || e.tag == "nt";
    uses[Char_At(e.word, 0)].first += 1;
    if (chars >= 3 && !proper) uses[Char_At(e.word, chars - 1)].last += 1;
    if (e.tag == "ns") uses[Char_At(e.word, chars - 1)].place_last += 1;
    for (size_t k = 0; k < chars; ++k) {
      Char_Uses &u = uses[Char_At(e.word, k)];
      u.any += 1;
      if (!proper) u.plain += 1;
    }
  }

  // Person entries of 2 and 3 characters, weighted by how name-like they are.
  // The short transliterated names count too: the segmenter gives 丽妮 as two
  // one-character words, which only the surname + given-name test can read
  // (the foreign-name walk wants three).
  std::vector<const Lexicon_Entry *> persons;
  for (const Lexicon_Entry &e : lexicon) {
    const size_t chars = e.word.size() / 2;
    const bool name = e.tag == "nr" || (e.tag == "nrt" && static_cast<int>(chars) <= p.foreign_person_max_chars);
    if (!name || (chars != 2 && chars != 3)) continue;
    // With name lists, only the entries that begin with a surname of the
    // lists train the person weights: the lexicon tags many ordinary words
    // nr (和尚, 仰天), and a character that is no surname (和) must not
    // open a name.
    if (!lists.Empty() && e.tag == "nr" && lists.surnames.count(Char_At(e.word, 0)) == 0) continue;
    // The lexicon tags many places of three characters nr (东海郡, 云中郡):
    // one that ends in a word for an administrative division names a place
    // and trains no person weight.
    if (!lists.Empty() && chars == 3 && Ends_In_Division_Word(e.word)) continue;
    // Nor does one with such a word in the middle (宋州北, 益州牧: a place
    // and a character, from classical novels): 州 would open given names.
    if (!lists.Empty() && chars == 3 && Is_Division_Word(Char_At(e.word, 1))) continue;
    persons.push_back(&e);
    uses[Char_At(e.word, 0)].starts += 1;
  }
  std::map<std::string, double> glued;  // two-character first parts of names
  for (const Lexicon_Entry *e : persons) {
    const std::string first = Char_At(e->word, 0);
    const Char_Uses &f = uses[first];
    double weight = f.starts / (f.starts + f.first + 1.0);
    if (e->word.size() == 6) {
      const std::vector<std::string> parts = split(e->word);
      if (parts.size() == 2 && parts[0].size() == 4) {
        glued[parts[0]] += weight;
        uses[parts[1]].given1 += p.glued_given * weight;
      }
    }
    if (e->word.size() == 6) {
      if (Title_Tail(by_word, p, e->word)) weight *= p.title_penalty;
      uses[Char_At(e->word, 1)].ss += weight;
      uses[Char_At(e->word, 2)].sw += weight;
    } else {
      uses[Char_At(e->word, 1)].given1 += weight;
    }
  }

  // Compound surnames: the share of the entries of 3 and 4 characters they
  // start that are person names.
  std::unordered_map<std::string, std::pair<double, double>> compounds;  // names, all
  for (const char *c : kCompound_Surnames) compounds[Gb(c)] = {0, 0};
  for (const std::string &surname : lists.surnames)
    if (surname.size() == 4) compounds.emplace(surname, std::make_pair(0.0, 0.0));
  for (const Lexicon_Entry &e : lexicon) {
    const size_t chars = e.word.size() / 2;
    if (chars < 3 || chars > 4) continue;
    const auto it = compounds.find(e.word.substr(0, 4));
    if (it == compounds.end()) continue;
    it->second.second += 1;
    if (Is_Person_Tag(e.tag)) it->second.first += 1;
  }

  // With name lists, the weights are read as the recognisers meet the
  // characters: as one-character words of the segmentation, since a name
  // of two characters is cut into surname + given name. The evidence is
  // then the frequency of the person entries that hold the character in
  // the role, against the frequency of the character standing alone as a
  // word (由 and 于 stand alone far more often than they open a name; 丽 and
  // 杰 are mostly names). A one-character given name is read from the last
  // characters of the names of three characters too: the lexicon holds few
  // names of two.
  struct Tokens {
    double surname = 0, given1 = 0, ss = 0, sw = 0;
  };
  std::unordered_map<std::string, Tokens> tokens;
  std::unordered_map<std::string, double> alone;
  if (!lists.Empty()) {
    for (const Lexicon_Entry &e : lexicon)
      if (e.word.size() == 2) alone[e.word] = static_cast<double>(e.frequency);
    for (const Lexicon_Entry *e : persons) {
      if (e->tag != "nr" || lists.surnames.count(Char_At(e->word, 0)) == 0) continue;
      const double f = static_cast<double>(e->frequency);
      tokens[Char_At(e->word, 0)].surname += f;
      if (e->word.size() == 4) {
        tokens[Char_At(e->word, 1)].given1 += f;
      } else if (!Title_Tail(by_word, p, e->word)) {
        // A surname and a title (王夫人) trains no given name.
        tokens[Char_At(e->word, 1)].ss += f;
        tokens[Char_At(e->word, 2)].sw += f;
        tokens[Char_At(e->word, 2)].given1 += f;
      }
    }
  }
  auto token_share = [&](const std::string &c, double count, double weight, double prior) {
    const auto a = alone.find(c);
    return count / (count + weight * (a == alone.end() ? 0.0 : a->second) + prior);
  };
  // With name lists every character of the lexicon gets the weights of a
  // given name, those that occur only as words of their own too.
  for (const auto &a : alone) uses[a.first];
  auto rarity = [&](const std::string &c, const Char_Uses &u) {
    const auto a = alone.find(c);
    return p.rare_frequency /
           (p.rare_frequency + (a == alone.end() ? 0.0 : a->second) + p.rare_type_weight * u.any);
  };
  std::vector<std::string> chars;
  for (const auto &u : uses) chars.push_back(u.first);
  std::sort(chars.begin(), chars.end());
  auto listed_surname_weight = [&](const std::string &c) {
    const Char_Uses &u = uses[c];
    const Tokens &t = tokens[c];
    if (u.starts < p.surname_min || lists.surnames.count(c) == 0 || t.surname <= 0) return 0.0;
    // A surname that also starts many ordinary words (石, 方, 公) opens
    // fewer names than its standing alone suggests.
    const double starts = std::pow(Share(u.starts, u.first, p.surname_other, p.surname_prior), p.surname_type_power);
    return token_share(c, t.surname, p.surname_alone, p.alone_prior) *
           Rarity_Factor(lists, p, c, u.starts, u.starts + u.first) * starts;
  };
  // What the lexicon knows stays known: a real person of two characters
  // (word senses) is recognised as surname + given name, so its given
  // name gets a weight that its surname's passes the threshold with
  // (known_person_margin above it).
  std::unordered_map<std::string, double> known_given;
  for (const Lexicon_Entry &e : lexicon) {
    if (e.word.size() != 4 || lists.Senses_Of(e.word) != kSense_Person) continue;
    const double x = listed_surname_weight(Char_At(e.word, 0));
    if (x < p.known_person_min_surname) continue;
    double &floor = known_given[Char_At(e.word, 1)];
    floor = std::max(floor, std::min(1.0, p.known_person_margin * kPerson_Given1_Threshold / x));
  }
  // The characters that close the three-character names of real people the
  // word senses know: a character the lists put first in given names only,
  // and that closes no such name either, is taken to close names hardly
  // ever (诗: after a name it is mostly the word "poem", as in "NAME's
  // poems").
  std::unordered_set<std::string> closing_real;
  for (const auto &sense : lists.senses)
    if ((sense.second & kSense_Person) != 0 && sense.first.size() == 6) closing_real.insert(Char_At(sense.first, 2));
  for (const std::string &c : chars) {
    const Char_Uses &u = uses[c];
    std::string info;
    if (lists.Empty()) {
      if (u.starts >= p.surname_min)
        info += Number("x", Share(u.starts, u.first, p.surname_other, p.surname_prior));
      if (u.given1 > 0) info += Number("dm", Share(u.given1, u.any, p.given1_other, p.given1_prior));
      if (u.ss > 0) info += Number("ss", Share(u.ss, u.any, p.given2_other, p.given2_prior));
      if (u.sw > 0)
        info += Number("sw", Share(u.sw, u.any + p.suffix_weight * u.last, p.given2_other, p.given2_prior));
    } else {
      const Tokens &t = tokens[c];
      const double x = listed_surname_weight(c);
      if (x > 0) info += Number("x", x);
      double dm = t.given1 > 0 ? token_share(c, t.given1, p.given1_alone, p.alone_prior) : 0.0;
      if (u.given1 > 0 && p.given1_type_floor > 0)
        dm = std::max(dm, p.given1_type_floor * Share(u.given1, u.any, p.given1_other, p.given1_prior));
      const double rare = rarity(c, u);
      // A character that ends place names (州, 郡) does not open a given
      // name after a surname: 魏州 + 曲 is a place, not 魏 + 州曲.
      const double ss = std::max(u.ss > 0 ? Share(u.ss, u.any + p.place_end_weight * u.place_last, p.given2_other,
                                                  p.given2_prior) *
                                                token_share(c, t.ss, p.given2_alone, 1.0)
                                          : 0.0,
                                 p.given2_rare * rare);
      const double sw = std::max(u.sw > 0 ? Share(u.sw, u.any + p.suffix_weight * u.last +
                                                            p.place_end_weight * u.place_last,
                                                  p.given2_other, p.given2_prior) *
                                                token_share(c, t.sw, p.given2_closing_alone, 1.0)
                                          : 0.0,
                                 p.given2_rare * rare);
      // The lists know the characters that open two-character given names
      // and those that close them: one that opens them but never closes
      // one (诗 of 诗涵) ends few names, whatever the entries ending in it
      // (poems and genres the lexicon tags as persons) make of it.
      const bool opens_only = lists.given_first.count(c) > 0 && lists.given_second.count(c) == 0;
      const double closes = !opens_only                   ? 1.0
                            : closing_real.count(c) > 0 ? p.given2_opening_only
                                                         : p.given2_opening_unattested;
      const double sw_closing = sw * closes;
      const auto known = known_given.find(c);
      dm = std::max({dm, p.given1_from_ss * ss, p.given1_rare * rare, known == known_given.end() ? 0.0 : known->second});
      // A word for an administrative division after a surname names a
      // place (赵郡, 魏州), never a given name.
      if (!Is_Division_Word(c)) {
        if (dm > 0) info += Number("dm", dm);
        if (ss > 0) info += Number("ss", ss);
        if (sw_closing > 0) info += Number("sw", sw_closing);
      }
    }
    if (!info.empty()) d.name_dic.emplace_back(c, info);
  }
  // Glued first parts: against the ordinary entries they start.
  std::map<std::string, double> glued_starts;
  for (const Lexicon_Entry &e : lexicon)
    if (e.word.size() >= 4 && !Is_Person_Tag(e.tag)) {
      const auto it = glued.find(e.word.substr(0, 4));
      if (it != glued.end()) glued_starts[it->first] += 1;
    }
  std::vector<std::string> pairs;
  for (const auto &c : compounds)
    if (c.second.first > 0 || (p.compound_surname_listed > 0 && lists.surnames.count(c.first) > 0))
      pairs.push_back(c.first);
  for (const auto &g : glued) {
    if (compounds.count(g.first) > 0) continue;
    const double fx = Share(g.second, glued_starts[g.first], p.glued_other, p.glued_prior);
    if (fx > 0.01) d.name_dic.emplace_back(g.first, Number("fx", fx));
  }
  std::sort(pairs.begin(), pairs.end());
  for (const std::string &pair : pairs) {
    const auto &c = compounds[pair];
    // A surname the lists know (长孙, 令狐) stays one whatever the entries of
    // novels and titles that it starts (令狐冲举, 司空见惯).
    const double listed = lists.surnames.count(pair) > 0 ? p.compound_surname_listed : 0.0;
    d.name_dic.emplace_back(pair, Number("fx", std::max(listed, c.first / (c.second + 0.1))));
  }
  std::sort(d.name_dic.begin(), d.name_dic.end());
  d.foreign_dic = Train_Foreign(lexicon, p);
  const std::unordered_set<std::string> place_marks = Marks(d.foreign_dic, p.place_mark_min_share);

  // Organisation and fund names, split into words; and the uses of their
  // words as parts of ordinary entries.
  std::vector<std::vector<std::string>> orgs, funds;
  for (const Lexicon_Entry &e : lexicon) {
    const size_t chars = e.word.size() / 2;
    if (Is_Fund_Word(e.word))
      funds.push_back(split(e.word));
    else if (e.tag == "nt" && chars >= 2)
      orgs.push_back(split(e.word));
    if (chars >= 2 && (lists.Empty() ? e.tag == "ns" : Is_Place_Entry(lists, place_marks, e)))
      d.place.emplace_back(e.word, "f:" + std::to_string(e.frequency) + ";");
  }
  // The places of the lists and of the word senses that the lexicon lacks.
  {
    std::unordered_set<std::string> have;
    for (const auto &pl : d.place) have.insert(pl.first);
    std::vector<std::string> extra;
    for (const std::string &pl : lists.places)
      if (pl.size() >= 4 && have.insert(pl).second) extra.push_back(pl);
    for (const auto &sense : lists.senses)
      if (Only_A_Place(sense.second) && have.insert(sense.first).second) extra.push_back(sense.first);
    std::sort(extra.begin(), extra.end());
    for (const std::string &pl : extra) d.place.emplace_back(pl, "f:1;");
  }
  Role_Table org_roles, fund_roles;
  Count_Roles(orgs, &org_roles);
  Count_Roles(funds, &fund_roles);
  for (const Lexicon_Entry &e : lexicon) {
    if (e.word.size() < 4 || e.tag == "nt" || Is_Fund_Word(e.word)) continue;
    // Only entries that hold a known part need splitting.
    bool relevant = false;
    for (const auto *roles : {&org_roles, &fund_roles})
      for (size_t len = 2; len < e.word.size() && !relevant; len += 2)
        for (size_t at = 0; at + len <= e.word.size() && !relevant; at += 2)
          relevant = roles->count(e.word.substr(at, len)) > 0;
    if (!relevant) continue;
    for (const std::string &part : split(e.word)) {
      auto o = org_roles.find(part);
      if (o != org_roles.end()) o->second.other += 1;
      auto f = fund_roles.find(part);
      if (f != fund_roles.end()) f->second.other += 1;
    }
  }
  auto emit = [&p](const Role_Table &roles, const Role_Table *begin_extra, Dict_Entries *out) {
    for (const auto &r : roles) {
      const Roles &x = r.second;
      const double all = x.begin + x.inner + x.end;
      auto share = [&](double count) { return Share(count, x.other, p.org_other, p.org_prior + (all - count)); };
      double b = x.begin > 0 ? share(x.begin) : 0.0;
      if (begin_extra != nullptr) {
        const auto o = begin_extra->find(r.first);
        if (o != begin_extra->end() && o->second.begin > 0) {
          const Roles &y = o->second;
          b = std::max(b, Share(y.begin, y.other, p.org_other, p.org_prior + y.inner + y.end));
        }
      }
      std::string info;
      if (b > 0) info += Number("b", b);
      if (x.inner > 0) info += Number("i", share(x.inner));
      if (x.end > 0) info += Number("e", share(x.end));
      out->emplace_back(r.first, info);
    }
  };
  emit(org_roles, nullptr, &d.org_dic);
  // Fund names may begin with any word that begins organisation names.
  Role_Table fund_all = fund_roles;
  for (const auto &o : org_roles)
    if (o.second.begin > 0 && fund_all.count(o.first) == 0) {
      Roles r;
      r.other = o.second.other;
      fund_all[o.first] = r;
    }
  emit(fund_all, &org_roles, &d.fund_dic);
  d.fund_dic.erase(std::remove_if(d.fund_dic.begin(), d.fund_dic.end(),
                                  [](const std::pair<std::string, std::string> &e) { return e.second.empty(); }),
                   d.fund_dic.end());
  return d;
}

bool Reread_Person_Entries(const std::vector<Lexicon_Entry> &lexicon, const Trained_Dictionaries &trained,
                           const Train_Parameters &p, const Name_Lists &lists,
                           std::vector<Lexicon_Entry> *segmenter) {
  if (lists.Empty() || (p.whole_name_split_min <= 0 && p.whole_name_tag_min <= 0)) return false;
  std::unordered_map<std::string, std::string> info;
  for (const auto &e : trained.name_dic) info[e.first] = e.second;
  // Transliterations of three characters (马德里) are read by the
  // foreign-name walk; two characters are too few for it.
  const std::unordered_set<std::string> marks = Marks(trained.foreign_dic, p.place_mark_min_share);
  auto feature = [&info](const std::string &c, const char *key) {
    const auto it = info.find(c);
    if (it == info.end()) return 0.0;
    const std::string k = std::string(key) + ":";
    for (size_t at = it->second.find(k); at != std::string::npos; at = it->second.find(k, at + 1))
      if (at == 0 || it->second[at - 1] == ';') return std::atof(it->second.c_str() + at + k.size());
    return 0.0;
  };
  // An entry that stands inside ordinary words of the lexicon (高峰 in
  // 高峰期, 胡子 in 胡子拉碴) is a word, whatever its tag; a name is not
  // built into ordinary words.
  std::unordered_set<std::string> persons, inside_words;
  for (const Lexicon_Entry &e : lexicon)
    if ((e.tag == "nr" || e.tag == "nrfg") && lists.surnames.count(Char_At(e.word, 0)) > 0 &&
        (e.word.size() == 4 || e.word.size() == 6) && lists.places.count(e.word) == 0)
      persons.insert(e.word);
  for (const Lexicon_Entry &e : lexicon) {
    if (e.word.size() < 6 || Is_Person_Tag(e.tag) || e.tag == "ns" || e.tag == "nt" || e.tag == "nz") continue;
    for (size_t len = 4; len <= 6 && len < e.word.size(); len += 2)
      for (size_t at = 0; at + len <= e.word.size(); at += 2) {
        std::string part = e.word.substr(at, len);
        if (persons.count(part) > 0) inside_words.insert(std::move(part));
      }
  }
  bool changed = false;
  std::vector<Lexicon_Entry> out;
  out.reserve(segmenter->size());
  for (Lexicon_Entry &e : *segmenter) {
    if (e.apart || Is_Person_Tag(e.tag) || persons.count(e.word) == 0 || inside_words.count(e.word) > 0 ||
        lists.Senses_Of(e.word) != 0 ||
        Names_A_Place(e.word) || (e.word.size() == 6 && All_Marks(marks, e.word))) {
      out.push_back(std::move(e));
      continue;
    }
    const double surname = feature(Char_At(e.word, 0), "x");
    if (e.word.size() == 4 && p.whole_name_split_min > 0 &&
        surname * feature(Char_At(e.word, 1), "dm") > p.whole_name_split_min) {
      e.apart = true;
      changed = true;
    }
    if (e.word.size() == 6 && p.whole_name_tag_min > 0 &&
        surname * std::sqrt(feature(Char_At(e.word, 1), "ss") * feature(Char_At(e.word, 2), "sw")) >
            p.whole_name_tag_min) {
      e.tag = "nr";
      changed = true;
    }
    out.push_back(std::move(e));
  }
  *segmenter = std::move(out);
  return changed;
}

}  // namespace tesq_tools
