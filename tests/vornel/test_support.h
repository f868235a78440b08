// Helpers for the libvornel tests: GB2312 literals, small lexicons and
// dictionaries, temporary data directories.
#ifndef VORNEL_TEST_SUPPORT_H
#define VORNEL_TEST_SUPPORT_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "format.h"
#include "gb_text.h"

namespace vornel_test {

// GB2312 bytes of a UTF-8 literal.
using tesq_test::Gb;

struct Word_Spec {
  const char *word;  // UTF-8, Han characters only
  uint64_t frequency;
  const char *tag;
  bool apart = false;  // kept apart in query segmentation
};

// A compiled lexicon of the given words.
vornel::Blob Make_Lexicon(const std::vector<Word_Spec> &words, uint64_t total);
// A compiled dictionary of (UTF-8 word, information string) pairs.
vornel::Blob Make_Dictionary(const std::vector<std::pair<std::string, std::string>> &entries);

void Write_Blob(const std::string &path, const vornel::Blob &blob);
std::string Read_Bytes(const std::string &path);
void Write_Bytes(const std::string &path, const std::string &bytes);

// A fresh empty directory under the system's temporary directory.
std::string Temp_Dir(const std::string &tag);

// The segmentation of `gbtext` as (word, tag) pairs, through the C call with
// arrays of exactly `length` entries (text length + 1 by default).
struct Cut {
  int32_t ok = 0;
  std::vector<std::string> words;
  std::vector<int16_t> tags;
};
// KV_Word_Sect in query segmentation (a = -1, b = 1) unless a and b are given.
Cut Segment_C(const std::string &gbtext, int32_t length = -1, int32_t a = -1, int32_t b = 1);

}  // namespace vornel_test

#endif
