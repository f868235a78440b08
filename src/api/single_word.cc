// Tesquin_Search_Singleword: the label of one word, or none. A label for only
// a leading part of the word counts as none here.
#include "api/exports.h"
#include "classify/classify.h"
#include "core/sized_write.h"

int32_t Single_Word_Search(const char *word, char *output, uint32_t *size) {
  if (word == nullptr || size == nullptr) return 1;
  char label[256];
  int32_t capacity = 255;
  uint32_t prefix_length = 0;
  const int32_t result = Word_Classify(word, label, &capacity, &prefix_length);
  if (result == kClassifyLabelTooSmall || result == kClassifySegmentFailed) return 1;
  if (result == kClassifyNoCategory || prefix_length != 0) return 3;
  return Sized_Write(label, output, size) ? 0 : 2;
}
