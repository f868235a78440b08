// The property every successful essay must have, shared by the essay fuzz
// targets: the merged word ends rise strictly, end in a 0 entry inside the
// caller's `count` entries, and reach exactly as far as the plain
// segmentation of the same text (merging neither loses nor invents text).
#ifndef TESQ_TESTS_FUZZ_ESSAY_PROPERTIES_H
#define TESQ_TESTS_FUZZ_ESSAY_PROPERTIES_H

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "vornel/vornel.h"

namespace fuzz {

inline void Check_Merged_Segmentation(const std::string &text, const int32_t *ends, int32_t count, int32_t a,
                                      int32_t b) {
  FUZZ_CHECK(count > 0);
  std::vector<int32_t> plain_ends(static_cast<size_t>(count));
  std::vector<int16_t> plain_tags(static_cast<size_t>(count));
  FUZZ_CHECK(KV_Word_Sect(text.c_str(), plain_ends.data(), count, a, b, plain_tags.data(), 2048, 0, 0, 0) == 1);
  int32_t plain_last = 0;
  for (int32_t i = 0; i < count && plain_ends[i] != 0; ++i) plain_last = plain_ends[i];

  int32_t previous = 0, i = 0;
  for (; i < count && ends[i] != 0; ++i) {
    FUZZ_CHECK(ends[i] > previous);
    previous = ends[i];
  }
  FUZZ_CHECK(i < count);  // the terminator is inside the arrays
  FUZZ_CHECK(previous == plain_last);
  FUZZ_CHECK(previous <= static_cast<int32_t>(text.size()));
}

}  // namespace fuzz

#endif
