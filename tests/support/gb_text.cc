#include "gb_text.h"

#include <cstdio>
#include <cstdlib>

#include "gb2312.h"

namespace tesq_test {

std::string Gb(std::string_view utf8) {
  std::string out;
  std::string error;
  if (!gb::Utf8_To_Gb(utf8, &out, &error)) {
    std::fprintf(stderr, "test text has no GB2312 form: %s\n", error.c_str());
    std::abort();
  }
  return out;
}

}  // namespace tesq_test
