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
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "format.h"

namespace vornel {

extern const char kDictionary_Magic[8];

// Longest word and information string a dictionary holds, in bytes.
constexpr size_t kMax_Word_Bytes = 1024;
constexpr size_t kMax_Info_Bytes = 4096;

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
  uint64_t gb_lengths_[94 * 94] = {};

  friend bool Compile_Dictionary(const std::vector<std::pair<std::string, std::string>> &, Blob *,
                                 std::string *);
};

// The hash of a word, as stored in the entries.
uint32_t Word_Hash(const char *word, size_t size);

// Compiles (word, information string) pairs, both GB2312, into a dictionary
// file image. Fails on an empty word, a word or string too long, a NUL
// inside either, or a word given twice.
bool Compile_Dictionary(const std::vector<std::pair<std::string, std::string>> &entries, Blob *out,
                        std::string *error);

}  // namespace vornel

#endif
