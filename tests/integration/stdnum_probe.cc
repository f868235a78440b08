// Answers words through the real libtesqsrch for the standard-number
// cross-check. Reads one request per line from standard input:
//   INIT            calls Tesquin_Init(0) and prints "INIT <code>"
//   <hex bytes>     the word, hex-encoded (so that any byte but NUL can be
//                   sent); calls Tesquin_Search_Singleword and prints
//                   "<result> <label as hex>" ("-" for no label)
// Calls Tesquin_UnInit at the end of the input.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "tesqsrch/tesqsrch.h"

namespace {

int Hex_Value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Hex_Decode(const std::string &hex, std::string *out) {
  if (hex.size() % 2 != 0) return false;
  out->clear();
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = Hex_Value(hex[i]);
    const int low = Hex_Value(hex[i + 1]);
    if (high < 0 || low < 0 || (high == 0 && low == 0)) return false;
    out->push_back(static_cast<char>(high * 16 + low));
  }
  return true;
}

std::string Hex_Encode(const char *text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const unsigned char *p = reinterpret_cast<const unsigned char *>(text); *p != 0; ++p) {
    out.push_back(kDigits[*p >> 4]);
    out.push_back(kDigits[*p & 15]);
  }
  return out;
}

}  // namespace

int main() {
  std::ios::sync_with_stdio(false);
  std::string line;
  std::string word;
  while (std::getline(std::cin, line)) {
    if (line == "INIT") {
      std::cout << "INIT " << Tesquin_Init(0) << '\n';
      continue;
    }
    if (!Hex_Decode(line, &word)) {
      std::cerr << "stdnum_probe: bad request line: " << line << '\n';
      return 2;
    }
    char label[64];
    std::memset(label, 0, sizeof label);
    uint32_t size = sizeof label - 1;
    const int32_t result = Tesquin_Search_Singleword(word.c_str(), label, &size);
    const std::string hex = result == 0 ? Hex_Encode(label) : std::string();
    std::cout << result << ' ' << (hex.empty() ? "-" : hex) << '\n';
  }
  Tesquin_UnInit();
  std::cout.flush();
  return std::cout ? 0 : 1;
}
