// Tesquin_Search_Singleword: the label of one word, or none. A label for only
// a leading part of the word counts as none here.
#include <cstring>

#include "api/exports.h"
#include "classify/classify.h"

int32_t Single_Word_Search(const char *word, char *output, uint32_t *size) {
  if (word == nullptr || size == nullptr) return 1;
  char label[256];
  int32_t capacity = 255;
  uint32_t prefix_length = 0;
  const int32_t result = Word_Classify(word, label, &capacity, &prefix_length);
  if (result == kClassifyLabelTooSmall || result == kClassifySegmentFailed) return 1;
  if (result == kClassifyNoCategory || prefix_length != 0) return 3;
  const size_t length = std::strlen(label);
  if (output == nullptr || *size < length + 1) {
    *size = static_cast<uint32_t>(length + 1);
    return 2;
  }
  std::memcpy(output, label, length + 1);
  return 0;
}
