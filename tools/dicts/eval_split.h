// The deterministic split of a lexicon into training and held-out words.
#ifndef TESQ_TOOLS_EVAL_SPLIT_H
#define TESQ_TOOLS_EVAL_SPLIT_H

#include <cstdint>
#include <string>

namespace tesq_tools {

// FNV-1a (64 bits) of the word's bytes.
inline uint64_t Word_Hash(const std::string &word) {
  uint64_t h = 14695981039346656037ULL;
  for (unsigned char c : word) {
    h ^= c;
    h *= 1099511628211ULL;
  }
  return h;
}

// True when the word belongs to fold `fold` (0-9): one word in ten.
inline bool Held_Out(const std::string &word, int fold) { return static_cast<int>(Word_Hash(word) % 10) == fold; }

}  // namespace tesq_tools

#endif
