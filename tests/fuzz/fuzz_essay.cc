// Tesquin_Search_Essay on arbitrary texts with arbitrary array sizes and
// segmenter arguments, on the real service libraries and the built data.
//
// Input: a mode byte, two bytes for the array size, the bytes a and b, then
// the text (up to its first NUL). The mode picks the array size (`count`):
// the text's length (what hosts pass), one more, any value up to the length
// plus 64, a tiny value, or a negative one. The arrays hold exactly `count`
// entries, so a write past them is caught by AddressSanitizer.
//
// Properties: the result is 0, 1 or 4. On 0 the word ends rise strictly, end
// in a 0 entry inside the arrays, and reach exactly as far as the plain
// segmentation of the same text (merging neither loses nor invents text).
#include <cstring>
#include <memory>
#include <string>

#include "essay_properties.h"
#include "fuzz_support.h"
#include "tesqsrch/tesqsrch.h"
#include "vornel/vornel.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::Enter_Scratch_Directory();
  fuzz::Start_Library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t mode = in.Byte();
  const uint16_t count_bits = in.U16();
  const int32_t a = static_cast<int8_t>(in.Byte());
  const int32_t b = static_cast<int8_t>(in.Byte());
  const std::string text = in.Rest_As_Text();
  const int32_t length = static_cast<int32_t>(text.size());

  int32_t count = 0;
  switch (mode % 5) {
    case 0: count = length; break;
    case 1: count = length + 1; break;
    case 2: count = static_cast<int32_t>(count_bits % (length + 65)); break;
    case 3: count = count_bits % 4; break;
    default: count = -static_cast<int32_t>(count_bits % 3) - 1; break;
  }
  const size_t entries = count > 0 ? static_cast<size_t>(count) : 0;
  std::unique_ptr<int32_t[]> ends(new int32_t[entries]);
  std::unique_ptr<int16_t[]> tags(new int16_t[entries]);
  const int32_t rc = Tesquin_Search_Essay(text.c_str(), ends.get(), count, a, b, tags.get());
  FUZZ_CHECK(rc == 0 || rc == 1 || rc == 4);
  if (rc != 0) return 0;

  fuzz::Check_Merged_Segmentation(text, ends.get(), count, a, b);
  return 0;
}
