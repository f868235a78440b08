// The word classifier and the standard-number validators.
//
// Word_Classify gives one query word its category label in three stages:
// the term table 420_DIC first; then, for an ASCII word, the standard-number
// stage (CN serial, patent, ISBN, ISSN); for a Chinese word, the Chinese-word
// stage (fund, organisation and person names).
#ifndef TESQ_CLASSIFY_CLASSIFY_H
#define TESQ_CLASSIFY_CLASSIFY_H

#include <cstddef>
#include <cstdint>

#include "core/label.h"

// Classifier results.
enum : int32_t {
  kClassifyLabelled = 0,
  kClassifyLabelTooSmall = 1,
  kClassifySegmentFailed = 2,
  kClassifyNoCategory = 3,
};

// Classifies `word` (NUL-terminated GB2312, never modified).
// `label`/`capacity`: the label buffer and its size in bytes (terminator
// included); on result 1 `capacity` receives the size needed.
// `prefix_length`: 0 when the label covers the whole word, otherwise the
// number of leading bytes it covers.
// Returns kClassifyLabelled, kClassifyLabelTooSmall, kClassifySegmentFailed
// or kClassifyNoCategory.
int32_t Word_Classify(const char *word, char *label, int32_t *capacity, uint32_t *prefix_length);

// What stage 2 or 3 makes of a word: kClassifyLabelled with its label and
// the prefix length (as for Word_Classify), kClassifyNoCategory, or
// kClassifySegmentFailed (stage 3 only). Word_Classify writes the label.
struct Category {
  int32_t result = kClassifyNoCategory;
  const Label *label = nullptr;
  uint32_t prefix_length = 0;
};

// Stage 2: the standard-number stage for a word whose first byte is 0x80 or
// below.
Category Standard_Number_Classify(const char *word);

// Stage 3: the Chinese-word stage for a word whose first byte is above 0x80.
Category Chinese_Word_Classify(const char *word);

// Builds the term-table statement for `word` into `statement`, which holds
// `statement_size` bytes:
//   select 附加信息 from 420_DIC where 词= ' <word>'
// Apostrophes inside the word are doubled so that they cannot end the quoted
// value. Returns the statement's length, or the length it needs (terminator
// excluded) when that is statement_size or more, in which case nothing
// reliable is in the buffer.
size_t Term_Statement_Build(const char *word, char *statement, size_t statement_size);

// --- standard-number validators (pure; read the string up to its NUL) -------
bool Isbn_Char_Check(char c);
bool Isbn_Check(const char *text);
bool Issn_Check(const char *text);
bool Cn_Check(const char *text);
bool Patent_Check(const char *text);

#endif
