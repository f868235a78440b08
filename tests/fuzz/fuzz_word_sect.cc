// KV_Word_Sect of libvornel on arbitrary bytes and lengths, on the built
// segmenter lexicon.
//
// Input: a mode byte, two bytes of length, two bytes for a and b, then the
// text. The text buffer holds no NUL when `length` fits in the input (the
// segmenter must read no more than `length` bytes), else the input and one
// NUL. The arrays hold exactly `length` entries.
//
// Properties: on 1 the word ends rise strictly to the length of the text
// (up to its NUL or `length` bytes), are followed by a 0 entry inside the
// arrays, with tag 0; on 0 the arrays hold a lone terminator. Other values of
// a and b of the same mode (query segmentation for -1 and 1, text
// segmentation for any others) and of p7..p10 give the same segmentation;
// the other mode cuts the same text, its words rising strictly to its end.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "vornel/vornel.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (Dict_Init_New(0, 100, 200, 0x80000, 4) == 0) {
    std::fprintf(stderr, "Dict_Init_New failed: set TESQ_DATA_DIR to a built data directory\n");
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input in(data, size);
  const uint8_t mode = in.Byte();
  const uint16_t length_bits = in.U16();
  const int32_t a = static_cast<int8_t>(in.Byte());
  const int32_t b = static_cast<int8_t>(in.Byte());
  const size_t rest = in.Size();

  int32_t length = 0;
  switch (mode % 4) {
    case 0: length = static_cast<int32_t>(rest); break;
    case 1: length = static_cast<int32_t>(rest) + 1; break;
    case 2: length = static_cast<int32_t>(length_bits % (rest + 8)); break;
    default: length = static_cast<int32_t>(length_bits % 4) - 1; break;
  }
  std::vector<char> storage;
  if (length >= 0 && static_cast<size_t>(length) <= rest) {
    storage.assign(in.Data(), in.Data() + length);  // no NUL: exactly `length` bytes
  } else {
    storage.assign(in.Data(), in.Data() + rest);
    storage.push_back('\0');
  }
  std::unique_ptr<char[]> text(new char[storage.size()]);
  if (!storage.empty()) std::memcpy(text.get(), storage.data(), storage.size());
  const size_t entries = length > 0 ? static_cast<size_t>(length) : 0;
  std::unique_ptr<int32_t[]> ends(new int32_t[entries]);
  std::unique_ptr<int16_t[]> tags(new int16_t[entries]);

  const int32_t rc = KV_Word_Sect(text.get(), ends.get(), length, a, b, tags.get(), 2048, 0, 0, 0);
  FUZZ_CHECK(rc == 0 || rc == 1);
  if (length <= 0) {
    FUZZ_CHECK(rc == 0);
    return 0;
  }
  if (rc == 0) {
    FUZZ_CHECK(ends[0] == 0);
    return 0;
  }
  const int32_t text_length = static_cast<int32_t>(strnlen(text.get(), static_cast<size_t>(length)));
  int32_t previous = 0, i = 0;
  for (; i < length && ends[i] != 0; ++i) {
    FUZZ_CHECK(ends[i] > previous);
    previous = ends[i];
  }
  FUZZ_CHECK(i < length);
  FUZZ_CHECK(tags[i] == 0);
  FUZZ_CHECK(previous == text_length);

  const bool query = a == VORNEL_QUERY_MODE_A && b == VORNEL_QUERY_MODE_B;
  int32_t other_a = b ^ 0x55, other_b = a - 3;  // another pair of the same mode
  if (query) {
    other_a = VORNEL_QUERY_MODE_A;
    other_b = VORNEL_QUERY_MODE_B;
  } else if (other_a == VORNEL_QUERY_MODE_A && other_b == VORNEL_QUERY_MODE_B) {
    other_a = VORNEL_TEXT_MODE_A;
    other_b = VORNEL_TEXT_MODE_B;
  }
  std::unique_ptr<int32_t[]> again(new int32_t[entries]);
  std::unique_ptr<int16_t[]> again_tags(new int16_t[entries]);
  FUZZ_CHECK(KV_Word_Sect(text.get(), again.get(), length, other_a, other_b, again_tags.get(), 0, 1, 2, 3) == 1);
  FUZZ_CHECK(std::memcmp(again.get(), ends.get(), (i + 1) * sizeof(int32_t)) == 0);
  FUZZ_CHECK(std::memcmp(again_tags.get(), tags.get(), (i + 1) * sizeof(int16_t)) == 0);

  const int32_t mode_a = query ? VORNEL_TEXT_MODE_A : VORNEL_QUERY_MODE_A;
  const int32_t mode_b = query ? VORNEL_TEXT_MODE_B : VORNEL_QUERY_MODE_B;
  FUZZ_CHECK(KV_Word_Sect(text.get(), again.get(), length, mode_a, mode_b, again_tags.get(), 2048, 0, 0, 0) == 1);
  int32_t words = 0, last = 0;
  for (; words < length && again[words] != 0; ++words) {
    FUZZ_CHECK(again[words] > last);
    last = again[words];
  }
  FUZZ_CHECK(words < length);
  FUZZ_CHECK(last == text_length);
  return 0;
}
