#include "dict_sources.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

#include "data_dir.h"
#include "format.h"
#include "gb2312.h"
#include "lexicon.h"
#include "platform.h"
#include "tags.h"

namespace tesq_tools {

namespace {

bool All_Han(const std::string &gbword) {
  if (gbword.empty() || gbword.size() % 2 != 0) return false;
  for (size_t i = 0; i < gbword.size(); i += 2)
    if (vornel::Han_Code(static_cast<unsigned char>(gbword[i]), static_cast<unsigned char>(gbword[i + 1])) < 0)
      return false;
  return true;
}

// Opens a text source for reading, or says why not: a directory opens on
// some systems and then reads as an empty file, which must not pass for
// one.
bool Open_Source(const std::string &path, std::ifstream *in, std::string *error) {
  const tesq::File_Identity id = tesq::Identify_File(path.c_str());
  if (id.known && id.directory) {
    *error = path + " is a directory, not a text file";
    return false;
  }
  in->open(path, std::ios::binary);
  if (!*in) {
    *error = "cannot open " + path + ": " + std::strerror(id.known ? errno : id.error);
    return false;
  }
  return true;
}

// After the last line: a read error is not the end of the file.
bool Read_To_End(const std::ifstream &in, const std::string &path, std::string *error) {
  if (!in.bad()) return true;
  *error = "cannot read " + path;
  return false;
}

std::string Where(const std::string &path, size_t line) { return path + ":" + std::to_string(line) + ": "; }

bool Write_Text(const std::string &path, const std::string &text, std::string *error) {
  return vornel::Write_File_Atomic(path, text.data(), text.size(), error);
}

}  // namespace

bool Read_Lexicon_Text(const std::string &path, Lexicon_Source *out, std::string *error) {
  std::ifstream in;
  if (!Open_Source(path, &in, error)) return false;
  Lexicon_Source lex;
  std::unordered_map<std::string, size_t> index;
  uint64_t sum = 0;
  bool have_total = false;
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (line[0] == '#') {
      if (line.compare(0, 7, "#total ") == 0) {
        char *end = nullptr;
        errno = 0;
        const unsigned long long t = std::strtoull(line.c_str() + 7, &end, 10);
        if (errno != 0 || *end != '\0' || t == 0) {
          *error = Where(path, number) + "bad #total line";
          return false;
        }
        lex.total = t;
        have_total = true;
      }
      continue;
    }
    std::istringstream fields(line);
    std::string word, freq, tag, mark, extra;
    fields >> word >> freq >> tag >> mark >> extra;
    if (word.empty() || freq.empty() || !extra.empty() || (!mark.empty() && mark != "apart")) {
      *error = Where(path, number) + "expected 'word frequency tag [apart]'";
      return false;
    }
    char *end = nullptr;
    errno = 0;
    const unsigned long long f = std::strtoull(freq.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || freq[0] == '-') {
      *error = Where(path, number) + "bad frequency '" + freq + "'";
      return false;
    }
    if (tag.empty()) tag = "x";
    if (vornel::Tag_Number(tag) < 0) {
      *error = Where(path, number) + "unknown tag '" + tag + "'";
      return false;
    }
    sum += f;
    std::string gbword;
    if (!gb::Utf8_To_Gb(word, &gbword) || !All_Han(gbword)) {
      ++lex.dropped;
      continue;
    }
    auto it = index.find(gbword);
    if (it != index.end()) {
      lex.entries[it->second].frequency = f;
      lex.entries[it->second].tag = tag;
      lex.entries[it->second].apart = !mark.empty();
    } else {
      index.emplace(gbword, lex.entries.size());
      lex.entries.push_back(Lexicon_Entry{gbword, f, tag, !mark.empty()});
    }
  }
  if (!Read_To_End(in, path, error)) return false;
  if (!have_total) lex.total = sum;
  if (lex.total == 0) {
    *error = path + ": no word with a frequency";
    return false;
  }
  *out = std::move(lex);
  return true;
}

bool Write_Lexicon_Text(const std::string &path, const Lexicon_Source &lex, std::string *error) {
  std::string text =
      "# Segmenter lexicon: word frequency tag [apart] (UTF-8). The weights are relative to\n"
      "# the total below, the frequency total of the lexicon this one was taken from.\n"
      "# apart: a person name that query segmentation leaves to the person recogniser.\n"
      "#total " + std::to_string(lex.total) + "\n";
  for (const Lexicon_Entry &e : lex.entries) {
    std::string utf8;
    if (!gb::Gb_To_Utf8(e.word, &utf8, error)) return false;
    text += utf8 + " " + std::to_string(e.frequency) + " " + e.tag + (e.apart ? " apart\n" : "\n");
  }
  return Write_Text(path, text, error);
}

bool Info_String_Ok(const std::string &info, size_t max_size) {
  if (info.size() > max_size) return false;
  size_t i = 0;
  while (i < info.size()) {
    const size_t key = i;
    while (i < info.size() && ((info[i] >= 'a' && info[i] <= 'z') || (info[i] >= 'A' && info[i] <= 'Z'))) ++i;
    if (i == key || i >= info.size() || info[i] != ':') return false;
    const size_t number = ++i;
    while (i < info.size() && info[i] != ';') ++i;
    if (i >= info.size() || i == number) return false;
    const std::string text = info.substr(number, i - number);
    char *end = nullptr;
    std::strtod(text.c_str(), &end);
    if (*end != '\0') return false;
    ++i;
  }
  return true;
}

bool Read_Dict_Text(const std::string &path, size_t max_info, Dict_Entries *out, std::string *error) {
  std::ifstream in;
  if (!Open_Source(path, &in, error)) return false;
  Dict_Entries entries;
  std::unordered_set<std::string> seen;
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    if (tab == std::string::npos || tab == 0 || line.find('\t', tab + 1) != std::string::npos) {
      *error = Where(path, number) + "expected 'word<TAB>information string'";
      return false;
    }
    std::string word, info, why;
    if (!gb::Utf8_To_Gb(line.substr(0, tab), &word, &why) || !gb::Utf8_To_Gb(line.substr(tab + 1), &info, &why)) {
      *error = Where(path, number) + why;
      return false;
    }
    if (!Info_String_Ok(info, max_info)) {
      *error = Where(path, number) + "information string is not 'key:number;' entries of at most " +
               std::to_string(max_info) + " bytes";
      return false;
    }
    if (!seen.insert(word).second) {
      *error = Where(path, number) + "word given twice";
      return false;
    }
    entries.emplace_back(std::move(word), std::move(info));
  }
  if (!Read_To_End(in, path, error)) return false;
  *out = std::move(entries);
  return true;
}

bool Read_Name_Lists(const std::string &dir, Name_Lists *out, std::string *error) {
  const struct {
    const char *file;
    std::unordered_set<std::string> Name_Lists::*set;
    std::unordered_set<std::string> Name_Lists::*position;
  } kFiles[] = {{"lex-lname.lex", &Name_Lists::surnames, nullptr},
                {"lex-sname.lex", &Name_Lists::given, nullptr},
                {"lex-dname-1.lex", &Name_Lists::given, &Name_Lists::given_first},
                {"lex-dname-2.lex", &Name_Lists::given, &Name_Lists::given_second},
                {"lex-cn-place.lex", &Name_Lists::places, nullptr},
                {"lex-nation.lex", &Name_Lists::places, nullptr}};
  Name_Lists lists;
  for (const auto &f : kFiles) {
    const std::string path = tesq::Join_Path(dir, f.file);
    std::ifstream in;
    if (!Open_Source(path, &in, error)) return false;
    std::string line;
    while (std::getline(in, line)) {
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      if (line.empty() || line[0] == '#') continue;
      std::string word;
      if (!gb::Utf8_To_Gb(line.substr(0, line.find('/')), &word) || !All_Han(word)) continue;
      if (f.set == &Name_Lists::surnames && lists.surname_rank.count(word) == 0) {
        const int rank = static_cast<int>(lists.surname_rank.size());
        lists.surname_rank.emplace(word, rank);
      }
      if (f.position != nullptr) (lists.*f.position).insert(word);
      (lists.*f.set).insert(std::move(word));
    }
    if (!Read_To_End(in, path, error)) return false;
  }
  *out = std::move(lists);
  return true;
}

bool Read_Word_Senses(const std::string &path, Name_Lists *lists, std::string *error) {
  std::ifstream in;
  if (!Open_Source(path, &in, error)) return false;
  std::unordered_map<std::string, unsigned> senses;
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    std::string word;
    if (tab == std::string::npos) {
      *error = path + ":" + std::to_string(number) + ": expected word<TAB>kinds";
      return false;
    }
    unsigned bits = 0;
    for (size_t at = tab + 1; at <= line.size();) {
      const size_t comma = std::min(line.find(',', at), line.size());
      const std::string kind = line.substr(at, comma - at);
      const unsigned bit = kind == "person" ? kSense_Person
                           : kind == "place" ? kSense_Place
                           : kind == "proper" ? kSense_Proper
                           : kind == "common" ? kSense_Common
                           : kind == "surname" ? kSense_Surname
                                               : 0u;
      if (bit == 0) {
        *error = path + ":" + std::to_string(number) + ": unknown kind '" + kind + "'";
        return false;
      }
      bits |= bit;
      at = comma + 1;
    }
    if (!gb::Utf8_To_Gb(line.substr(0, tab), &word) || !All_Han(word)) continue;
    senses[word] |= bits;
  }
  if (!Read_To_End(in, path, error)) return false;
  std::vector<std::string> surnames;
  for (const auto &s : senses)
    if ((s.second & kSense_Surname) != 0 && (s.first.size() == 2 || s.first.size() == 4) &&
        lists->surnames.count(s.first) == 0)
      surnames.push_back(s.first);
  std::sort(surnames.begin(), surnames.end());
  for (std::string &surname : surnames) {
    lists->surname_rank.emplace(surname, static_cast<int>(lists->surname_rank.size()));
    lists->surnames.insert(std::move(surname));
  }
  lists->senses = std::move(senses);
  return true;
}

bool Write_Dict_Text(const std::string &path, const std::string &title, const Dict_Entries &entries,
                     std::string *error) {
  std::string text = "# " + title + "\n# word<TAB>information string (UTF-8)\n";
  for (const auto &e : entries) {
    std::string word, info;
    if (!gb::Gb_To_Utf8(e.first, &word, error) || !gb::Gb_To_Utf8(e.second, &info, error)) return false;
    text += word + "\t" + info + "\n";
  }
  return Write_Text(path, text, error);
}

}  // namespace tesq_tools
