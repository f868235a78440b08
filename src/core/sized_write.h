// The one rule of every output buffer of the library, sized by an in/out
// count of bytes that includes the terminator: the text and its NUL are
// written when the buffer is larger than the text; otherwise the size needed
// (the length plus 1, or the largest count the size type holds when that is
// more) is written back and nothing is copied. A null buffer or a negative
// size never fits.
#ifndef TESQ_CORE_SIZED_WRITE_H
#define TESQ_CORE_SIZED_WRITE_H

#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>

// True when `text` was written to `out`; false with *size set to the size
// needed.
template <typename Size>
bool Sized_Write(std::string_view text, char *out, Size *size) {
  const size_t needed = text.size() + 1;
  bool fits = out != nullptr;
  if constexpr (std::is_signed<Size>::value) fits = fits && *size >= 0;
  if (!fits || static_cast<size_t>(*size) < needed) {
    constexpr size_t kLargest = static_cast<size_t>(std::numeric_limits<Size>::max());
    *size = static_cast<Size>(needed > kLargest ? kLargest : needed);
    return false;
  }
  std::memcpy(out, text.data(), text.size());
  out[text.size()] = '\0';
  return true;
}

#endif
