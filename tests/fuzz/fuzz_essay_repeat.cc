// The essay on repetitive text: a short unit repeated many times, the input
// that once made the essay quadratic. On the real service libraries and the
// built data, against the library's own core.
//
// Input: two bytes for the size of the text, then the unit (up to 64 bytes,
// up to its first NUL). The text is the unit repeated to at most 16 KB.
//
// Properties:
//   - Tesquin_Search_Essay answers 0, 1 or 4, and on 0 the word ends rise
//     strictly and reach as far as the plain segmentation;
//   - on the first 1 KB of the text, the walk with the per-essay memos of
//     foreign-name runs and organisation walks finds exactly the names and
//     labels that the walk without them finds.
#include <cstring>
#include <string>
#include <vector>

#include "api/essay.h"
#include "essay_properties.h"
#include "fuzz_support.h"
#include "tesqsrch/tesqsrch.h"
#include "vornel/vornel.h"

namespace {

constexpr size_t kMaxUnit = 64;
constexpr size_t kMaxText = 16 * 1024;
constexpr size_t kComparedText = 1024;

// The walk over `text` with or without the memos; false when the text does
// not segment into a sound word-end array.
bool Walk(const std::string &text, bool memoised, std::vector<Essay_Span> *spans, int32_t *result) {
  const int32_t count = static_cast<int32_t>(text.size()) + 1;
  std::vector<int32_t> ends(static_cast<size_t>(count));
  std::vector<int16_t> tags(static_cast<size_t>(count));
  if (KV_Word_Sect(text.c_str(), ends.data(), count, -1, 1, tags.data(), 2048, 0, 0, 0) != 1) return false;
  const int32_t words = Essay_Word_Count(ends.data(), count, text.size());
  if (words < 0) return false;
  Foreign_Run_Memo foreign_runs;
  Org_Walk_Memo org_walks;
  Essay_Text essay{text.c_str(), text.size(), ends.data(), tags.data(), words, count};
  if (memoised) {
    essay.foreign_memo = &foreign_runs;
    essay.org_memo = &org_walks;
  }
  *result = Essay_Collect_Spans(essay, static_cast<size_t>(count), spans);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (Tesquin_Init(0) != 0) {
    std::fprintf(stderr, "Tesquin_Init failed: set TESQ_DATA_DIR to a built data directory\n");
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::Input in(data, size);
  const size_t wanted = in.U16() + 1u;
  std::string unit = in.Rest_As_Text();
  if (unit.empty()) return 0;
  if (unit.size() > kMaxUnit) unit.resize(kMaxUnit);
  std::string text;
  while (text.size() + unit.size() <= std::min(wanted * unit.size(), kMaxText)) text += unit;
  if (text.empty()) text = unit;

  const int32_t count = static_cast<int32_t>(text.size());
  std::vector<int32_t> ends(text.size());
  std::vector<int16_t> tags(text.size());
  const int32_t rc = Tesquin_Search_Essay(text.c_str(), ends.data(), count, -1, 1, tags.data());
  FUZZ_CHECK(rc == 0 || rc == 1 || rc == 4);
  if (rc == 0) fuzz::Check_Merged_Segmentation(text, ends.data(), count, -1, 1);

  // The walk without memos is quadratic on such text: compare on a prefix.
  const std::string head = text.substr(0, std::min(text.size(), kComparedText));
  std::vector<Essay_Span> memo_spans, plain_spans;
  int32_t memo_result = 0, plain_result = 0;
  const bool memo_walked = Walk(head, true, &memo_spans, &memo_result);
  const bool plain_walked = Walk(head, false, &plain_spans, &plain_result);
  FUZZ_CHECK(memo_walked == plain_walked);
  if (!memo_walked) return 0;
  FUZZ_CHECK(memo_result == plain_result);
  FUZZ_CHECK(memo_spans.size() == plain_spans.size());
  for (size_t n = 0; n < memo_spans.size(); ++n) {
    FUZZ_CHECK(memo_spans[n].start == plain_spans[n].start);
    FUZZ_CHECK(memo_spans[n].end == plain_spans[n].end);
    FUZZ_CHECK(memo_spans[n].label == plain_spans[n].label);
  }
  return 0;
}
