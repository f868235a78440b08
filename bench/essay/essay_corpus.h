// A synthetic GB2312 essay for the essay benchmarks: ordinary two-character
// words, one-character function words and punctuation, and now and then a
// person name (surname and given name as two one-character words), a place
// name and an organisation name tagged 23 by the segmenter.
#ifndef TESQ_BENCH_ESSAY_CORPUS_H
#define TESQ_BENCH_ESSAY_CORPUS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bench_essay {

struct Corpus {
  std::string text;            // GB2312
  std::vector<int32_t> ends;   // the segmentation, without the terminator
  std::vector<int16_t> tags;
};

enum class Cut {
  kWords,       // as a dictionary segmenter would cut it
  kCharacters,  // every character a word of its own, tag 0
};

// An essay of at least `bytes` bytes (whole words), the same text for the
// same size whatever the cut.
Corpus Make_Corpus(size_t bytes, Cut cut);

struct Dictionary_Word {
  const char *dictionary;
  std::string word;  // GB2312
  const char *info;
};

// The dictionary entries that make the essay's names recognisable.
std::vector<Dictionary_Word> Corpus_Dictionary();

}  // namespace bench_essay

#endif
