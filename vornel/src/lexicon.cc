#include "lexicon.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "gb2312.h"
#include "tags.h"

namespace vornel {

const char kLexicon_Magic[8] = {'V', 'R', 'N', 'L', 'L', 'E', 'X', 'I'};

namespace {

struct Han_Table {
  bool assigned[kHan_Codes];
  Han_Table() {
    for (int c = 0; c < kHan_Codes; ++c) {
      const uint32_t u = gb::To_Unicode(static_cast<unsigned char>(gb::kFirst_Hanzi_Lead + c / gb::kRow_Cells),
                                        static_cast<unsigned char>(gb::kFirst_Gb_Byte + c % gb::kRow_Cells));
      assigned[c] = u >= 0x4E00 && u <= 0x9FD5;
    }
  }
};

const Han_Table &Han() {
  static const Han_Table table;
  return table;
}

}  // namespace

int Han_Code(unsigned char lead, unsigned char trail) {
  if (!gb::Is_Hanzi_Lead(lead) || !gb::Is_Gb_Byte(trail)) return -1;
  const int c = gb::Char_Index(lead, trail) - gb::Char_Index(gb::kFirst_Hanzi_Lead, gb::kFirst_Gb_Byte);
  return Han().assigned[c] ? c : -1;
}

std::unique_ptr<Lexicon> Lexicon::Load(const std::string &path, std::string *error) {
  Blob blob;
  if (!Read_File(path, size_t{1} << 31, &blob, error)) return nullptr;
  std::unique_ptr<Lexicon> l = From_Blob(std::move(blob), error);
  if (l == nullptr) *error = path + ": " + *error;
  return l;
}

std::unique_ptr<Lexicon> Lexicon::From_Blob(Blob blob, std::string *error) {
  File_Header h;
  if (!Check_Header(blob, kLexicon_Magic, &h, error)) return nullptr;
  const uint64_t n = h.aux1;
  if (n == 0 || n > (uint64_t{1} << 28)) {
    *error = "bad node count";
    return nullptr;
  }
  if (h.payload_size != n * 8 + uint64_t{kHan_Codes} * 4 + n * 4 + n * 2 * 3) {
    *error = "section sizes do not add up to the payload size";
    return nullptr;
  }
  if (!std::isfinite(h.value)) {
    *error = "bad unknown-character weight";
    return nullptr;
  }
  std::unique_ptr<Lexicon> l(new Lexicon());
  const uint8_t *p = blob.Data() + kHeader_Size;
  l->weight_ = reinterpret_cast<const double *>(p);
  p += n * 8;
  l->root_ = reinterpret_cast<const uint32_t *>(p);
  p += uint64_t{kHan_Codes} * 4;
  l->first_child_ = reinterpret_cast<const uint32_t *>(p);
  p += n * 4;
  l->child_count_ = reinterpret_cast<const uint16_t *>(p);
  p += n * 2;
  l->ch_ = reinterpret_cast<const uint16_t *>(p);
  p += n * 2;
  l->tag_ = reinterpret_cast<const uint16_t *>(p);
  l->nodes_ = n;
  l->unknown_weight_ = h.value;
  // Structure: children after their parent and inside the node table, sorted
  // strictly by character; root entries point at nodes of their character;
  // word nodes have a finite weight and a known tag.
  for (int c = 0; c < kHan_Codes; ++c) {
    const uint32_t r = l->root_[c];
    if (r >= n || (r != 0 && (l->ch_[r] != c || !Han().assigned[c]))) {
      *error = "bad root entry";
      return nullptr;
    }
  }
  uint64_t words = 0;
  for (uint64_t i = 0; i < n; ++i) {
    const uint64_t first = l->first_child_[i], kids = l->child_count_[i];
    if (kids != 0 && (first <= i || first + kids > n)) {
      *error = "node " + std::to_string(i) + " has children outside the node table";
      return nullptr;
    }
    for (uint64_t k = first; k < first + kids; ++k) {
      if (l->ch_[k] >= kHan_Codes || !Han().assigned[l->ch_[k]] || (k > first && l->ch_[k] <= l->ch_[k - 1])) {
        *error = "node " + std::to_string(i) + " has unsorted or invalid children";
        return nullptr;
      }
    }
    if (l->tag_[i] != kNo_Word) {
      const uint16_t tag = l->tag_[i] & ~kApart_Flag;
      if (i == 0 || tag == 0 || tag > static_cast<uint16_t>(kTag_Max) ||
          !std::isfinite(l->weight_[i])) {
        *error = "node " + std::to_string(i) + " has a bad word";
        return nullptr;
      }
      ++words;
    }
  }
  if (words != h.count) {
    *error = "word count does not match the header";
    return nullptr;
  }
  l->words_ = words;
  l->blob_ = std::move(blob);
  return l;
}

bool Compile_Lexicon(const std::vector<Lexicon_Word> &words, uint64_t total, Blob *out, std::string *error) {
  if (total == 0) {
    *error = "total frequency must be at least 1";
    return false;
  }
  const double log_total = std::log(static_cast<double>(total));
  // Insertion trie with one hash map of edges (parent, character) -> child.
  struct Tmp {
    double weight = 0;
    uint16_t tag = kNo_Word;
    uint16_t ch = 0;
  };
  std::vector<Tmp> tmp(1);
  std::unordered_map<uint64_t, uint32_t> edges;
  edges.reserve(words.size() * 2);
  for (size_t w = 0; w < words.size(); ++w) {
    const Lexicon_Word &word = words[w];
    if (word.codes.empty() || word.tag <= 0 || word.tag > kTag_Max) {
      *error = "word " + std::to_string(w + 1) + ": empty word or bad tag";
      return false;
    }
    uint32_t node = 0;
    for (uint16_t c : word.codes) {
      if (c >= kHan_Codes || !Han().assigned[c]) {
        *error = "word " + std::to_string(w + 1) + ": not a GB2312 Han character";
        return false;
      }
      const uint64_t key = (uint64_t{node} << 16) | c;
      auto it = edges.find(key);
      if (it == edges.end()) {
        it = edges.emplace(key, static_cast<uint32_t>(tmp.size())).first;
        tmp.push_back(Tmp{});
        tmp.back().ch = c;
      }
      node = it->second;
    }
    if (word.frequency == 0) {
      tmp[node].tag = kNo_Word;
    } else {
      tmp[node].tag = static_cast<uint16_t>(static_cast<uint16_t>(word.tag) | (word.apart ? kApart_Flag : 0));
      tmp[node].weight = std::log(static_cast<double>(word.frequency)) - log_total;
    }
  }
  if (tmp.size() >= (size_t{1} << 28)) {
    *error = "lexicon too large";
    return false;
  }
  // Children lists, sorted by character, then breadth-first renumbering.
  std::vector<std::pair<uint64_t, uint32_t>> sorted(edges.begin(), edges.end());
  std::sort(sorted.begin(), sorted.end());
  const size_t n = tmp.size();
  std::vector<uint32_t> kid_begin(n + 1, 0);
  for (const auto &e : sorted) ++kid_begin[(e.first >> 16) + 1];
  for (size_t i = 0; i < n; ++i) kid_begin[i + 1] += kid_begin[i];
  std::vector<uint32_t> order;  // new id -> old id
  order.reserve(n);
  order.push_back(0);
  std::vector<uint32_t> new_id(n, 0), first(n, 0);
  std::vector<uint16_t> count(n, 0);
  for (size_t k = 0; k < order.size(); ++k) {
    const uint32_t old = order[k];
    first[k] = static_cast<uint32_t>(order.size());
    const uint32_t kids = kid_begin[old + 1] - kid_begin[old];
    if (kids > 0xFFFF) {
      *error = "a prefix has too many continuations";
      return false;
    }
    count[k] = static_cast<uint16_t>(kids);
    for (uint32_t e = kid_begin[old]; e < kid_begin[old + 1]; ++e) {
      new_id[sorted[e].second] = static_cast<uint32_t>(order.size());
      order.push_back(sorted[e].second);
    }
  }
  const size_t payload = n * 8 + size_t{kHan_Codes} * 4 + n * 4 + n * 6;
  Blob blob(kHeader_Size + payload);
  uint8_t *p = blob.Data() + kHeader_Size;
  double *weight = reinterpret_cast<double *>(p);
  uint32_t *root = reinterpret_cast<uint32_t *>(p + n * 8);
  uint32_t *first_child = root + kHan_Codes;
  uint16_t *child_count = reinterpret_cast<uint16_t *>(first_child + n);
  uint16_t *ch = child_count + n;
  uint16_t *tag = ch + n;
  uint32_t word_count = 0;
  for (size_t k = 0; k < n; ++k) {
    const Tmp &t = tmp[order[k]];
    weight[k] = t.tag == kNo_Word ? 0.0 : t.weight;
    first_child[k] = count[k] == 0 ? 0 : first[k];
    child_count[k] = count[k];
    ch[k] = k == 0 ? 0 : t.ch;
    tag[k] = t.tag;
    word_count += t.tag != kNo_Word;
  }
  for (uint32_t e = kid_begin[0]; e < kid_begin[1]; ++e) root[sorted[e].first & 0xFFFF] = new_id[sorted[e].second];
  const File_Header h = Make_Header(kLexicon_Magic, word_count, static_cast<uint32_t>(n), 0, -log_total, p, payload);
  std::memcpy(blob.Data(), &h, sizeof h);
  *out = std::move(blob);
  return true;
}

}  // namespace vornel
