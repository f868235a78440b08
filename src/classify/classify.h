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

// Classifier results.
enum : int32_t {
  kClassifyLabelled = 0,
  kClassifyLabelTooSmall = 1,
  kClassifySegmentFailed = 2,
  kClassifyNoCategory = 3,
};

// Valid two-digit region codes of China serial numbers, indexed 0..65; filled
// by Tesquin_Init and read-only afterwards.
extern int32_t Region_Table[66];

// Sets the 31 province-level codes of Region_Table to 1, every other to 0.
void Region_Table_Fill();

// Classifies `word` (NUL-terminated GB2312, never modified).
// `label`/`capacity`: the label buffer and its size in bytes (terminator
// included); on result 1 `capacity` receives the size needed.
// `prefix_length`: 0 when the label covers the whole word, otherwise the
// number of leading bytes it covers.
// Returns kClassifyLabelled, kClassifyLabelTooSmall, kClassifySegmentFailed
// or kClassifyNoCategory.
int32_t Word_Classify(const char *word, char *label, int32_t *capacity, uint32_t *prefix_length);

// Stage 2: the standard-number stage for a word whose first byte is 0x80 or
// below. Same arguments and results as Word_Classify (never 2).
int32_t Standard_Number_Classify(const char *word, char *label, int32_t *capacity, uint32_t *prefix_length);

// Stage 3: the Chinese-word stage for a word whose first byte is above 0x80.
int32_t Chinese_Word_Classify(const char *word, char *label, int32_t *capacity, uint32_t *prefix_length);

// The capacity rule shared by every stage: writes `text` (length `length`)
// and its terminator into `label` when *capacity > length and returns 0;
// otherwise sets *capacity to length + 1 and returns 1, leaving `label`
// untouched.
int32_t Label_Write(const char *text, size_t length, char *label, int32_t *capacity);

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
