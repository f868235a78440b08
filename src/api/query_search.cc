// Tesquin_Search: the query analysis document.
//
// The document is assembled in full before anything reaches the caller:
//
//   <?xml version="1.0" encoding="gb2312" standalone="yes" ?>\n<IR>\n<Sentence>
//   QUERY</Sentence>\n<Items>\n
//   \t<Word p="LABEL">WORD</Word>\n          one per word, or two for a word
//   \t<Word p="全文">REST</Word>\n           whose leading part alone is named
//   </Items>\n</IR>
//
// Words are cut at every single space, so n spaces give n + 1 words, empty
// ones included; the empty query gives none. Each word's classification is
// traced into "as.txt" in the current directory as three lines: the word,
// the label the classifier wrote (empty when it wrote none), the result code.
// The trace file is opened for appending per word and closed again, so
// concurrent callers interleave whole lines.
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "api/exports.h"
#include "classify/classify.h"

namespace {

const char kHead[] = "<?xml version=\"1.0\" encoding=\"gb2312\" standalone=\"yes\" ?>\n<IR>\n<Sentence>";
const char kSentenceEnd[] = "</Sentence>\n<Items>\n";
const char kWordOpen[] = "\t<Word p=\"";
const char kLabelClose[] = "\">";
const char kWordClose[] = "</Word>\n";
const char kFullTextOpen[] = "\t<Word p=\"\xC8\xAB\xCE\xC4\">";  // 全文
const char kFullText[] = "\xC8\xAB\xCE\xC4";                       // 全文
const char kTail[] = "</Items>\n</IR>";
const char kTraceFile[] = "as.txt";

// The label buffer's capacity as both front ends pass it.
constexpr int32_t kLabelCapacity = 255;

// The three lines go out in one write on a file opened for appending, so
// that a concurrent caller's lines never land inside them (writing a long
// word and its line feed one by one would let them).
void Trace_Word(const std::string &word, const char *label, int32_t result) {
  std::ofstream trace(kTraceFile, std::ios::out | std::ios::app);
  if (!trace) return;  // the trace is best effort; the document is produced anyway
  std::string lines = word;
  lines += '\n';
  lines += label;
  lines += '\n';
  lines += std::to_string(result);
  lines += '\n';
  trace.write(lines.data(), static_cast<std::streamsize>(lines.size()));
  trace.flush();
}

}  // namespace

std::ostream &Log_Line(std::ostream &out) {
  out.put('\n');
  out.flush();
  return out;
}

void Report_Segmentation_Failure() { std::cout << "KV_Word_Sect Failed!" << Log_Line; }

int32_t Query_Search(const char *query, char *output, uint32_t *size) {
  if (query == nullptr || size == nullptr) return 2;
  const size_t query_length = std::strlen(query);

  std::string document;
  document.reserve(2048 + 2 * query_length);
  document += kHead;
  document.append(query, query_length);
  document += kSentenceEnd;

  char label[kLabelCapacity + 1];
  std::string word;
  size_t position = 0;
  bool first = true;
  while (query[position] != '\0') {
    if (!first) ++position;  // the space that ended the previous word
    first = false;
    const size_t word_end = position + std::strcspn(query + position, " ");
    word.assign(query + position, word_end - position);
    position = word_end;

    label[0] = '\0';
    int32_t capacity = kLabelCapacity;
    uint32_t prefix_length = 0;
    const int32_t result = Word_Classify(word.c_str(), label, &capacity, &prefix_length);
    Trace_Word(word, label, result);
    if (result == kClassifyLabelTooSmall || result == kClassifySegmentFailed) return 2;
    if (result == kClassifyNoCategory) std::memcpy(label, kFullText, sizeof kFullText);

    document += kWordOpen;
    document += label;
    document += kLabelClose;
    if (prefix_length == 0 || prefix_length >= word.size()) {
      document += word;
      document += kWordClose;
    } else {
      document.append(word, 0, prefix_length);
      document += kWordClose;
      document += kFullTextOpen;
      document.append(word, prefix_length, std::string::npos);
      document += kWordClose;
    }
  }
  document += kTail;

  if (output == nullptr || *size < document.size() + 1) {
    // A needed size beyond 32 bits cannot be expressed; report the largest.
    *size = document.size() + 1 > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(document.size() + 1);
    return 1;
  }
  std::memcpy(output, document.c_str(), document.size() + 1);
  return 0;
}
