// Tesquin_Search on arbitrary queries and output sizes, on the real service
// libraries and the built data.
//
// Input: two bytes of output size, then the query (up to its first NUL).
// Properties: the result is 0, 1 or 2; on 0 the document is NUL-terminated
// inside the buffer and begins with the head and the query; on 1 the size
// written back exceeds the size given, and a buffer of exactly that size
// takes the document; on 2 the size is left alone.
#include <cstring>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "tesqsrch/tesqsrch.h"

namespace {
const char kHead[] = "<?xml version=\"1.0\" encoding=\"gb2312\" standalone=\"yes\" ?>\n<IR>\n<Sentence>";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::Enter_Scratch_Directory();
  fuzz::Start_Library();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input in(data, size);
  const uint32_t given = in.U16();
  const std::string query = in.Rest_As_Text();

  std::unique_ptr<char[]> output(new char[given]);  // exactly `given` bytes
  uint32_t io_size = given;
  const int32_t rc = Tesquin_Search(query.c_str(), output.get(), &io_size);
  FUZZ_CHECK(rc == 0 || rc == 1 || rc == 2);
  if (rc == 0) {
    FUZZ_CHECK(io_size == given);
    const size_t length = strnlen(output.get(), given);
    FUZZ_CHECK(length < given);
    const std::string document(output.get(), length);
    FUZZ_CHECK(document.compare(0, sizeof kHead - 1, kHead) == 0);
    FUZZ_CHECK(document.compare(sizeof kHead - 1, query.size(), query) == 0);
  } else if (rc == 1) {
    FUZZ_CHECK(io_size > given);
    const uint32_t needed = io_size;
    std::unique_ptr<char[]> exact(new char[needed]);
    uint32_t exact_size = needed;
    FUZZ_CHECK(Tesquin_Search(query.c_str(), exact.get(), &exact_size) == 0);
    FUZZ_CHECK(strnlen(exact.get(), needed) + 1 == needed);
  } else {
    FUZZ_CHECK(io_size == given);
  }
  fuzz::Trim_Trace(512);
  return 0;
}
