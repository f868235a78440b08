#include "term_text.h"

#include <cstdio>

namespace tesq {

namespace {

bool Is_Control(unsigned char c) { return c < 0x20 || c == 0x7F; }

std::string Control_Fault(std::string_view text, const char *what) {
  for (const char ch : text) {
    const unsigned char c = static_cast<unsigned char>(ch);
    if (!Is_Control(c)) continue;
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", c);
    return std::string("the ") + what + " holds a control character (" + code + ")";
  }
  return std::string();
}

}  // namespace

std::string Label_Fault(std::string_view label) {
  if (label.empty()) return "empty label";
  std::string fault = Control_Fault(label, "label");
  if (!fault.empty()) return fault;
  const size_t markup = label.find_first_of("\"<>&");
  if (markup != std::string_view::npos)
    return std::string("the label holds '") + label[markup] + "', which the query document cannot carry";
  return std::string();
}

std::string Word_Fault(std::string_view word) {
  if (word.empty()) return "empty word";
  return Control_Fault(word, "word");
}

}  // namespace tesq
