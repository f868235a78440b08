// A compiled dictionary: GB2312 words, each with its information string,
// held in one immutable block and searched by hash.
//
// Payload layout (after the 64-byte header of format.h; count = entries,
// aux1 = bucket count, a power of two above count, aux2 = string-pool bytes):
//
//   u32 buckets[aux1]     entry index + 1, 0 for an empty bucket; linear
//                         probing from hash & (aux1 - 1)
//   Entry entries[count]  {u32 hash, u32 word offset, u32 info offset,
//                          u16 word length, u16 info length}
//   char pool[aux2]       words and information strings, each followed by
//                         a NUL
//
// Besides the table, a loaded dictionary keeps filters computed from its
// words: a mask of the word lengths present, a bit set over the first two
// bytes of the words, and for each GB2312 character the mask of the lengths
// of the words that begin with it. A word whose length or first two bytes no
// entry has, or that begins with a GB2312 character no entry of its length
// begins with, is answered without hashing, which makes probing a text with
// every prefix length cheap.
#ifndef VORNEL_DICTIONARY_H
#define VORNEL_DICTIONARY_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "format.h"
#include "gb2312.h"

namespace vornel {

extern const char kDictionary_Magic[8];

// Longest word and information string a dictionary holds, in bytes.
constexpr size_t kMax_Word_Bytes = 1024;
constexpr size_t kMax_Info_Bytes = 4096;
// Size of a dictionary's first-four-bytes filter.
constexpr unsigned kFirst_Four_Shift = 20;
constexpr size_t kFirst_Four_Bits = size_t{1} << kFirst_Four_Shift;
// Longest word Prefix_Lengths answers for: every shorter length has a bit of
// its own in a 64-bit mask.
constexpr size_t kMax_Prefix_Walk = 62;

class Dictionary {
 public:
  // Checks and adopts a compiled dictionary. Null with a message in `error`
  // when the block is not a sound dictionary of this format version.
  static std::unique_ptr<Dictionary> From_Blob(Blob blob, std::string *error);
  // Reads and checks a compiled dictionary file.
  static std::unique_ptr<Dictionary> Load(const std::string &path, std::string *error);

  // The information string of `word` (its `size` bytes), or null when the
  // word is absent. `info_size` receives its length.
  const char *Find(const char *word, size_t size, size_t *info_size) const;
  // As Find, for a NUL-terminated word. A word beginning with a GB2312
  // character is read no further than the longest entry beginning with that
  // character (plus its NUL): callers probing many prefixes of one text, most
  // of them longer than any entry, are answered without measuring each.
  const char *Find_Terminated(const char *word, size_t *info_size) const;
  // The lengths L, 1 <= L <= size (size at most kMax_Prefix_Walk), for which
  // the first L bytes of `word` are an entry, as the bit mask sum of 1 << L.
  // One pass over the word: the hash of every prefix is the hash of the one
  // before it extended by a byte, so a longest-match search that asks for
  // every prefix of a text costs about one lookup.
  uint64_t Prefix_Lengths(const char *word, size_t size) const;
  // True when no entry can be `word` (NUL-terminated), told from its first
  // four bytes alone (the filters), without measuring it.
  bool Rejects_Start(const char *word) const;

  size_t Entry_Count() const { return count_; }

 private:
  struct Entry {
    uint32_t hash;
    uint32_t word_offset;
    uint32_t info_offset;
    uint16_t word_size;
    uint16_t info_size;
  };
  Dictionary() = default;
  // The hash-table search for a word that passed the length and first
  // character filters.
  const char *Probe(const char *word, size_t size, size_t *info_size) const;
  // Probe with the word's hash already known.
  const char *Probe_Hashed(const char *word, size_t size, uint32_t hash, size_t *info_size) const;

  Blob blob_;
  const uint32_t *buckets_ = nullptr;
  const Entry *entries_ = nullptr;
  const char *pool_ = nullptr;
  uint32_t bucket_mask_ = 0;
  size_t count_ = 0;
  uint64_t length_mask_ = 0;
  uint64_t first_two_[65536 / 64] = {};
  // Length masks (as length_mask_) of the words beginning with each GB2312
  // character (both bytes 0xA1..0xFE), by the character's index.
  uint64_t gb_lengths_[gb::kRow_Cells * gb::kRow_Cells] = {};
  // A bit for the first four bytes (hashed) of every word of four bytes or
  // more: a longest-match search probes many prefixes that share their first
  // two characters, and most such pairs begin no entry at all; the filter is
  // large enough (2^20 bits) that few such pairs pass it.
  uint64_t first_four_[kFirst_Four_Bits / 64] = {};

  friend bool Compile_Dictionary(const std::vector<std::pair<std::string, std::string>> &, Blob *,
                                 std::string *);
};

// Word lookups run for every prefix a recogniser probes, so the filters in
// front of the hash table are inline.
inline unsigned Length_Bit(size_t size) { return size >= 63 ? 63u : static_cast<unsigned>(size); }

// Bit `bit` of a filter held as 64-bit words, tested and set.
inline bool Filter_Has(const uint64_t *filter, unsigned bit) { return (filter[bit >> 6] >> (bit & 63)) & 1u; }
inline void Filter_Add(uint64_t *filter, unsigned bit) { filter[bit >> 6] |= uint64_t{1} << (bit & 63); }

// The bit of a word's first two bytes in the first-two filter. The first
// byte is the low one, as the two bytes lie in memory: the filter is built at
// load time, and this order costs one 16-bit load on every lookup.
inline unsigned First_Two(const char *word, size_t size) {
  const unsigned a = static_cast<unsigned char>(word[0]);
  const unsigned b = size >= 2 ? static_cast<unsigned char>(word[1]) : 0u;
  return a | (b << 8);
}

// The bit of a word's first four bytes in a dictionary's first-four filter.
inline unsigned First_Four(const char *word) {
  uint32_t v = 0;
  std::memcpy(&v, word, 4);
  return (v * 2654435761u) >> (32 - kFirst_Four_Shift);
}

// The index of the GB2312 character a word begins with, or -1 when its
// first two bytes are no such character.
inline int Gb_Index(const char *word, size_t size) {
  if (size < gb::kWide_Char_Bytes) return -1;
  return gb::Char_Index(static_cast<unsigned char>(word[0]), static_cast<unsigned char>(word[1]));
}

inline bool Dictionary::Rejects_Start(const char *word) const {
  if (word[0] == '\0') return true;
  // word[1] exists: word[0] is not the terminator. For a one-byte word it is
  // the NUL, which is what First_Two takes for a missing second byte.
  if (!Filter_Has(first_two_, First_Two(word, 2))) return true;
  const int g = Gb_Index(word, 2);
  if (g < 0) return false;
  if (gb_lengths_[g] == 0) return true;
  // word[2] exists (word[1] is no NUL), and word[3] when word[2] is no NUL.
  return word[2] != '\0' && word[3] != '\0' && !Filter_Has(first_four_, First_Four(word));
}

inline const char *Dictionary::Find_Terminated(const char *word, size_t *info_size) const {
  if (Rejects_Start(word)) return nullptr;
  const int g = Gb_Index(word, 2);
  // Bit 63 stands for every length from 63 up: such words are measured.
  if (g < 0 || (gb_lengths_[g] >> 63) != 0) return Find(word, strnlen(word, kMax_Word_Bytes + 1), info_size);
  const uint64_t lengths = gb_lengths_[g];
  const size_t longest = 63 - static_cast<size_t>(__builtin_clzll(lengths));
  size_t size = 2;
  while (size <= longest && word[size] != '\0') ++size;
  if (size > longest || (lengths & (uint64_t{1} << size)) == 0) return nullptr;
  return Probe(word, size, info_size);
}

// The hash of a word, as stored in the entries: FNV-1a, extended one byte at
// a time, so the hash of a word is its prefix's hash extended.
constexpr uint32_t kWord_Hash_Start = 2166136261u;
inline uint32_t Word_Hash_Extend(uint32_t hash, unsigned char byte) { return (hash ^ byte) * 16777619u; }
uint32_t Word_Hash(const char *word, size_t size);

// Compiles (word, information string) pairs, both GB2312, into a dictionary
// file image. Fails on an empty word, a word or string too long, a NUL
// inside either, or a word given twice.
bool Compile_Dictionary(const std::vector<std::pair<std::string, std::string>> &entries, Blob *out,
                        std::string *error);

}  // namespace vornel

#endif
