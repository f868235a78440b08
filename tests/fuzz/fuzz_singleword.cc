// Tesquin_Search_Singleword on arbitrary words and output sizes, on the real
// service libraries and the built data.
//
// Input: one byte of output size, then the word (up to its first NUL).
// Properties: the result is 0 to 3; on 0 the label is NUL-terminated inside
// the buffer and not empty; on 2 the size written back exceeds the size
// given, and a buffer of exactly that size takes the label; on 1 and 3 the
// buffer and the size are untouched. A word without spaces that has a label
// gets the same label from Tesquin_Search.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "tesqsrch/tesqsrch.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::Enter_Scratch_Directory();
  fuzz::Start_Library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input in(data, size);
  const uint32_t given = in.Byte();
  const std::string word = in.Rest_As_Text();

  std::unique_ptr<char[]> output(new char[given + 1]);
  std::memset(output.get(), 'x', given + 1);
  uint32_t io_size = given;
  const int32_t rc = Tesquin_Search_Singleword(word.c_str(), output.get(), &io_size);
  FUZZ_CHECK(rc >= 0 && rc <= 3);
  std::string label;
  if (rc == 0) {
    const size_t length = strnlen(output.get(), given);
    FUZZ_CHECK(length < given);
    FUZZ_CHECK(length > 0);
    label.assign(output.get(), length);
  } else if (rc == 2) {
    FUZZ_CHECK(io_size > given);
    std::unique_ptr<char[]> exact(new char[io_size]);
    uint32_t exact_size = io_size;
    FUZZ_CHECK(Tesquin_Search_Singleword(word.c_str(), exact.get(), &exact_size) == 0);
    FUZZ_CHECK(strnlen(exact.get(), io_size) + 1 == io_size);
    label.assign(exact.get(), io_size - 1);
  } else {
    FUZZ_CHECK(io_size == given);
    FUZZ_CHECK(output[0] == 'x');
  }

  if (!label.empty() && word.find(' ') == std::string::npos && !word.empty()) {
    uint32_t doc_size = 0;
    char none[1];
    FUZZ_CHECK(Tesquin_Search(word.c_str(), none, &doc_size) == 1);
    std::unique_ptr<char[]> doc(new char[doc_size]);
    FUZZ_CHECK(Tesquin_Search(word.c_str(), doc.get(), &doc_size) == 0);
    const std::string element = "\t<Word p=\"" + label + "\">" + word + "</Word>\n";
    FUZZ_CHECK(std::strstr(doc.get(), element.c_str()) != nullptr);
    fuzz::Trim_Trace(64);
  }
  return 0;
}
