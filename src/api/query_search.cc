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
// concurrent callers interleave whole records.
//
// The trace is only ever appended to a regular file named as.txt: a symbolic
// link of that name is not followed (the queries would land in whatever file
// it names, or create its target), and a FIFO, device or directory is not
// written (a FIFO without a reader would block the search). Then the search
// goes on without its trace, and the first such refusal in the process is
// reported on standard error. A word holds no space but may hold CR or LF,
// which would start a forged record: each is written as a space, the one
// byte no traced word can contain, and so is any CR or LF of a label.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "api/exports.h"
#include "classify/classify.h"
#include "core/label.h"
#include "core/sized_write.h"
#include "platform.h"
#include "query_document.h"

namespace {

using namespace tesq::query_document;
const char kTraceFile[] = "as.txt";

// The label buffer's capacity as both front ends pass it.
constexpr int32_t kLabelCapacity = 255;

// A trace line: the text with every CR and LF written as a space.
void Append_Trace_Line(std::string *lines, const char *text, size_t length) {
  const size_t first = lines->size();
  lines->append(text, length);
  for (size_t i = first; i < lines->size(); ++i)
    if ((*lines)[i] == '\n' || (*lines)[i] == '\r') (*lines)[i] = ' ';
  *lines += tesq::kText_Line_End;
}

void Report_Trace_Refused(tesq::Append_Result why, int error) {
  static std::atomic<bool> reported{false};
  if (reported.exchange(true)) return;
  const char *reason = why == tesq::Append_Result::kSymbolic_Link ? "is a symbolic link"
                       : why == tesq::Append_Result::kNot_Regular ? "is not a regular file"
                                                                  : std::strerror(error);
  std::fprintf(stderr, "tesqsrch: the trace file %s is not written: %s\n", kTraceFile, reason);
  std::fflush(stderr);
}

// The three lines go out in one write on a file opened for appending, so
// that a concurrent caller's lines never land inside them (writing a long
// word and its line feed one by one would let them).
void Trace_Word(const std::string &word, const char *label, int32_t result) {
  std::string lines;
  lines.reserve(word.size() + 32);
  Append_Trace_Line(&lines, word.data(), word.size());
  Append_Trace_Line(&lines, label, std::strlen(label));
  lines += std::to_string(result);
  lines += tesq::kText_Line_End;
  int error = 0;
  const tesq::Append_Result written = tesq::Append_To_Regular_File(kTraceFile, lines.data(), lines.size(), &error);
  // The trace is best effort; the document is produced anyway.
  if (written != tesq::Append_Result::kWritten) Report_Trace_Refused(written, error);
}

}  // namespace

int32_t Query_Search(const char *query, char *output, uint32_t *size) {
  if (query == nullptr || size == nullptr) return 2;
  const size_t query_length = std::strlen(query);

  std::string document;
  document.reserve(2048 + 2 * query_length);
  document += kHead;
  document.append(query, query_length);
  document += kSentence_End;

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
    const std::string_view category = result == kClassifyNoCategory ? kLabel_Full_Text.text : label;

    document += kWord_Open;
    document += category;
    document += kLabel_Close;
    if (prefix_length == 0 || prefix_length >= word.size()) {
      document += word;
      document += kWord_Close;
    } else {
      document.append(word, 0, prefix_length);
      document += kWord_Close;
      document += kWord_Open;
      document += kLabel_Full_Text.text;
      document += kLabel_Close;
      document.append(word, prefix_length, std::string::npos);
      document += kWord_Close;
    }
  }
  document += kTail;

  // A needed size beyond 32 bits cannot be expressed: the largest is reported.
  return Sized_Write(document, output, size) ? 0 : 1;
}
