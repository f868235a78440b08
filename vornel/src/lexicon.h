// The segmenter lexicon: a trie of GB2312 Han words, each node that ends a
// word carrying the word's weight (the natural log of its frequency less the
// log of the lexicon's total frequency) and its tag.
//
// Characters are Han codes: the 6768 positions of the GB2312 Han rows B0..F7
// numbered (lead - 0xB0) * 94 + (trail - 0xA1). Only positions that are
// assigned Han characters occur in words.
//
// Payload layout (after the 64-byte header of format.h; count = words,
// aux1 = node count N, value = the weight of a character that is not a word):
//
//   f64 weight[N]        weight of the word a node ends (unused otherwise)
//   u32 root[6768]       node of the one-character prefix, 0 for none
//   u32 first_child[N]   children of a node are the nodes
//   u16 child_count[N]     first_child .. first_child + child_count - 1,
//   u16 ch[N]              sorted by their character ch
//   u16 tag[N]           tag of the word a node ends, kNo_Word for a prefix;
//                        with kApart_Flag when the word is kept apart
//
// Node 0 is the root, which has no character. Children always come after
// their parent (breadth-first order), so every walk moves forward.
#ifndef VORNEL_LEXICON_H
#define VORNEL_LEXICON_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "format.h"

namespace vornel {

extern const char kLexicon_Magic[8];

constexpr int kHan_Codes = 72 * 94;
constexpr uint16_t kNo_Word = 0xFFFF;
// On a word's tag: the word is not a word of query segmentation (a person
// name of the lexicon, which the person recogniser reads from surname and
// given name); the other segmentations keep it whole.
constexpr uint16_t kApart_Flag = 0x4000;

// The Han code of the two-byte character (lead, trail), or -1 when it is not
// an assigned GB2312 Han character.
int Han_Code(unsigned char lead, unsigned char trail);

class Lexicon {
 public:
  static std::unique_ptr<Lexicon> From_Blob(Blob blob, std::string *error);
  static std::unique_ptr<Lexicon> Load(const std::string &path, std::string *error);

  // The node for the one-character prefix `code`, 0 for none.
  uint32_t Root(int code) const { return root_[code]; }
  // The child of `node` for character `code`, 0 for none.
  uint32_t Child(uint32_t node, int code) const {
    uint32_t lo = first_child_[node], hi = lo + child_count_[node];
    while (lo < hi) {
      const uint32_t mid = (lo + hi) / 2;
      if (ch_[mid] < code)
        lo = mid + 1;
      else
        hi = mid;
    }
    return lo < first_child_[node] + child_count_[node] && ch_[lo] == code ? lo : 0;
  }
  bool Is_Word(uint32_t node) const { return tag_[node] != kNo_Word; }
  // A word (Is_Word) that query segmentation keeps apart.
  bool Is_Apart(uint32_t node) const { return (tag_[node] & kApart_Flag) != 0; }
  double Weight(uint32_t node) const { return weight_[node]; }
  int16_t Tag(uint32_t node) const { return static_cast<int16_t>(tag_[node] & ~kApart_Flag); }
  double Unknown_Weight() const { return unknown_weight_; }
  size_t Word_Count() const { return words_; }
  size_t Node_Count() const { return nodes_; }

 private:
  Lexicon() = default;
  Blob blob_;
  const double *weight_ = nullptr;
  const uint32_t *root_ = nullptr;
  const uint32_t *first_child_ = nullptr;
  const uint16_t *child_count_ = nullptr;
  const uint16_t *ch_ = nullptr;
  const uint16_t *tag_ = nullptr;
  double unknown_weight_ = 0;
  size_t words_ = 0;
  size_t nodes_ = 0;
};

// One word of a lexicon under construction: its Han codes, frequency and tag.
struct Lexicon_Word {
  std::vector<uint16_t> codes;
  uint64_t frequency;
  int16_t tag;
  bool apart = false;  // kept apart in query segmentation (kApart_Flag)
};

// Compiles words into a lexicon file image. `total` is the frequency total
// that weights are relative to (at least 1). A word given twice keeps its
// last frequency and tag; a word of frequency 0 is only a prefix.
bool Compile_Lexicon(const std::vector<Lexicon_Word> &words, uint64_t total, Blob *out, std::string *error);

}  // namespace vornel

#endif
