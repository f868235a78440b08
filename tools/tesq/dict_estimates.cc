#include "dict_estimates.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <unordered_map>

#include "gb2312.h"

namespace tesq_tools {

namespace {

constexpr int kMin_Surname_Uses = 3;
constexpr int kMin_Foreign_Uses = 3;

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

bool Is_Name_Tag(const std::string &tag) { return tag == "nr" || tag == "nrt" || tag == "nrfg"; }

std::string Char_At(const std::string &w, size_t k) { return w.substr(2 * k, 2); }

// Role shares of the parts of the given names (org_dic, fund_dic).
Dict_Entries Role_Shares(const std::vector<std::string> &names, const Word_Splitter &split) {
  struct Roles {
    double begin = 0, inner = 0, end = 0;
  };
  std::map<std::string, Roles> roles;
  for (const std::string &name : names) {
    const std::vector<std::string> parts = split(name);
    if (parts.size() < 2) continue;
    roles[parts.front()].begin += 1;
    for (size_t k = 1; k + 1 < parts.size(); ++k) roles[parts[k]].inner += 1;
    roles[parts.back()].end += 1;
  }
  Dict_Entries out;
  for (const auto &r : roles) {
    const double n = r.second.begin + r.second.inner + r.second.end;
    std::string info;
    if (r.second.begin > 0) info += Number("b", r.second.begin / n);
    if (r.second.inner > 0) info += Number("i", r.second.inner / n);
    if (r.second.end > 0) info += Number("e", r.second.end / n);
    out.emplace_back(r.first, info);
  }
  return out;
}

}  // namespace

Estimated_Dictionaries Estimate_Dictionaries(const std::vector<Lexicon_Entry> &lexicon,
                                             const Word_Splitter &split) {
  Estimated_Dictionaries d;

  // Character uses by role.
  struct Uses {
    int surname = 0, given1 = 0, given_first = 0, given_second = 0, other = 0, foreign = 0;
  };
  std::unordered_map<std::string, Uses> uses;
  std::unordered_map<std::string, int> pair_starts;  // lexicon words starting with a compound surname
  std::unordered_map<std::string, int> pair_names;
  std::vector<std::string> compounds;
  for (const char *c : kCompound_Surnames) compounds.push_back(Gb(c));

  std::vector<std::string> orgs, funds;
  const std::string fund = Gb("基金");
  for (const Lexicon_Entry &e : lexicon) {
    const size_t chars = e.word.size() / 2;
    if (e.tag == "nr" && (chars == 2 || chars == 3)) {
      uses[Char_At(e.word, 0)].surname++;
      if (chars == 2) uses[Char_At(e.word, 1)].given1++;
      if (chars == 3) {
        uses[Char_At(e.word, 1)].given_first++;
        uses[Char_At(e.word, 2)].given_second++;
      }
    } else if (!Is_Name_Tag(e.tag)) {
      for (size_t k = 0; k < chars; ++k) uses[Char_At(e.word, k)].other++;
    }
    if (e.tag == "nrt")
      for (size_t k = 0; k < chars; ++k) uses[Char_At(e.word, k)].foreign++;
    if (chars >= 3) {
      const std::string head = e.word.substr(0, 4);
      if (std::find(compounds.begin(), compounds.end(), head) != compounds.end()) {
        pair_starts[head]++;
        if (Is_Name_Tag(e.tag)) pair_names[head]++;
      }
    }
    if (e.tag == "ns" && chars >= 2) d.place.emplace_back(e.word, "f:" + std::to_string(e.frequency) + ";");
    if (e.tag == "nt" && chars >= 2) orgs.push_back(e.word);
    if (chars >= 3 && e.word.find(fund) != std::string::npos && e.word.find(fund) % 2 == 0) funds.push_back(e.word);
  }

  std::vector<std::string> chars;
  for (const auto &u : uses) chars.push_back(u.first);
  std::sort(chars.begin(), chars.end());
  for (const std::string &c : chars) {
    const Uses &u = uses[c];
    std::string info;
    if (u.surname >= kMin_Surname_Uses) info += Number("x", double(u.surname) / (u.surname + u.given1 + u.other + 1));
    if (u.given1 > 0) info += Number("dm", double(u.given1) / (u.given1 + u.other + 1));
    if (u.given_first > 0) info += Number("ss", double(u.given_first) / (u.given_first + u.other + 1));
    if (u.given_second > 0) info += Number("sw", double(u.given_second) / (u.given_second + u.other + 1));
    if (!info.empty()) d.name_dic.emplace_back(c, info);
    if (u.foreign >= kMin_Foreign_Uses)
      d.foreign_dic.emplace_back(c, Number("t", double(u.foreign) / (u.foreign + u.other + 1)));
  }
  for (const std::string &pair : compounds) {
    const auto it = pair_names.find(pair);
    if (it == pair_names.end()) continue;
    d.name_dic.emplace_back(pair, Number("fx", double(it->second) / pair_starts[pair]));
  }
  d.foreign_dic.emplace_back(Gb("·"), Number("t", 1.0));

  d.org_dic = Role_Shares(orgs, split);
  d.fund_dic = Role_Shares(funds, split);
  return d;
}

}  // namespace tesq_tools
