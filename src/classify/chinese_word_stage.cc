// The Chinese-word stage: a word whose first byte is above 0x80 is segmented
// once, and the fund-name, organisation-name and person-name recognisers are
// asked in that order; the first that accepts gives the label. A recogniser
// that accepts only a leading part of the word sets the prefix length to that
// part's length, which makes the query document split the word.
#include <cstring>
#include <vector>

#include "classify/classify.h"
#include "core/library_state.h"
#include "ner/ner.h"
#include "services/services.h"

namespace {

Found_Name (*const kRecognisers[])(const Word_View &) = {Fund_Recognize, Org_Recognize, Person_Recognize};

}  // namespace

Category Chinese_Word_Classify(const char *word) {
  const size_t length = std::strlen(word);
  const int32_t n = static_cast<int32_t>(length);
  // The count given to the segmenter is both the text's length limit and
  // the entries of each array. A text of n bytes has up to n words (n
  // malformed bytes, or n ASCII punctuation marks) and then the closing 0
  // entry, so the arrays hold one entry per byte plus one, and the count
  // says so; the segmenter still stops at the word's terminator. Declared
  // tags first so that the word ends are released first.
  std::vector<int16_t> tags(length + 1, int16_t{-1});
  std::vector<int32_t> word_ends(length + 1, 0);
  if (!services::Word_Sect(word, word_ends.data(), n + 1, -1, 1, tags.data())) {
    Report_Segmentation_Failure();
    return Category{kClassifySegmentFailed, nullptr, 0};
  }

  const Word_View view{word, length, word_ends.data(), tags.data(), 0, n};
  for (const auto recognise : kRecognisers) {
    const Found_Name name = recognise(view);
    if (!name) continue;
    const uint32_t end = static_cast<uint32_t>(name.end);
    return Category{kClassifyLabelled, name.label, end < static_cast<uint32_t>(n) ? end : 0};
  }
  return {};
}
