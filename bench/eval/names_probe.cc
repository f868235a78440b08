// Asks the library about a list of texts, for names_eval.py: one request per
// input line, one answer line per request, in the same order.
//
//   names_probe REQUESTS ANSWERS
//
// REQUESTS holds "MODE<TAB>TEXT" lines, TEXT in UTF-8 with a GB2312 form:
//   word   Tesquin_Search_Singleword; the answer is the label, or "-" when
//          the word has no category (any other result: "!N")
//   essay  Tesquin_Search_Essay in text segmentation (a = b = 0); the answer
//          is the enriched segmentation
//   seg    KV_Word_Sect alone (a = -1, b = 1); the plain segmentation
// A segmentation is written as its words, each "WORD<US>TAG", separated by
// <RS> (the ASCII unit and record separators: a word may hold a space).
// The data is the library's usual (TESQ_DATA_DIR, TESQ_DB).
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "gb2312.h"
#include "tesqsrch/tesqsrch.h"
#include "vornel/vornel.h"

namespace {

std::string Segmentation(const std::string &gbtext, const std::vector<int32_t> &ends,
                         const std::vector<int16_t> &tags) {
  std::string out;
  for (size_t i = 0, start = 0; i < ends.size() && ends[i] > 0; start = static_cast<size_t>(ends[i++])) {
    std::string utf8;
    gb::Gb_To_Utf8(gbtext.substr(start, static_cast<size_t>(ends[i]) - start), &utf8);
    if (i > 0) out += '\x1e';
    out += utf8 + '\x1f' + std::to_string(tags[i]);
  }
  return out;
}

std::string Answer(const std::string &mode, const std::string &gbtext) {
  if (mode == "word") {
    char label[256];
    uint32_t size = sizeof label;
    const int32_t r = Tesquin_Search_Singleword(gbtext.c_str(), label, &size);
    if (r == 3) return "-";
    if (r != 0) return "!" + std::to_string(r);
    std::string utf8;
    gb::Gb_To_Utf8(label, &utf8);
    return utf8;
  }
  const int32_t count = static_cast<int32_t>(gbtext.size()) + 1;
  std::vector<int32_t> ends(static_cast<size_t>(count), 0);
  std::vector<int16_t> tags(static_cast<size_t>(count), 0);
  if (mode == "essay") {
    const int32_t r = Tesquin_Search_Essay(gbtext.c_str(), ends.data(), count, 0, 0, tags.data());  // text mode
    if (r != 0) return "!" + std::to_string(r);
  } else {
    if (KV_Word_Sect(gbtext.c_str(), ends.data(), count - 1, -1, 1, tags.data(), 2048, 0, 0, 0) == 0) return "!1";
  }
  return Segmentation(gbtext, ends, tags);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: names_probe REQUESTS ANSWERS\n");
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::fprintf(stderr, "names_probe: cannot open %s\n", argv[1]);
    return 1;
  }
  std::ofstream out(argv[2]);
  if (!out) {
    std::fprintf(stderr, "names_probe: cannot write %s\n", argv[2]);
    return 1;
  }
  if (Tesquin_Init(0) != 0) {
    std::fprintf(stderr, "names_probe: the library does not start (TESQ_DATA_DIR, TESQ_DB)\n");
    return 1;
  }
  int status = 0;
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    const size_t tab = line.find('\t');
    std::string gbtext;
    if (tab == std::string::npos || !gb::Utf8_To_Gb(line.substr(tab + 1), &gbtext)) {
      std::fprintf(stderr, "names_probe: %s:%zu: expected MODE<TAB>TEXT with a GB2312 form\n", argv[1], number);
      status = 1;
      break;
    }
    out << Answer(line.substr(0, tab), gbtext) << '\n';
  }
  Tesquin_UnInit();
  out.close();
  if (!out) {
    std::fprintf(stderr, "names_probe: writing %s failed\n", argv[2]);
    return 1;
  }
  return status;
}
