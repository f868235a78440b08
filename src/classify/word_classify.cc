// Word_Classify: stage 1 (the term table 420_DIC) and the choice between the
// standard-number stage and the Chinese-word stage.
#include <cstring>
#include <string>

#include "classify/classify.h"
#include "core/sized_write.h"
#include "services/services.h"

namespace {

// select 附加信息 from 420_DIC where 词= '<space>
const char kStatementHead[] =
    "select \xB8\xBD\xBC\xD3\xD0\xC5\xCF\xA2 from 420_DIC where \xB4\xCA= ' ";
constexpr size_t kStatementHeadLength = sizeof kStatementHead - 1;
static_assert(kStatementHeadLength == 41, "the statement head is 41 bytes");

// The statement buffer fits a word of 85 bytes; longer words (or words whose
// apostrophes are doubled past that) get a buffer of their own size.
constexpr size_t kStatementBufferSize = 128;
constexpr int32_t kColumnBufferSize = 128;

// The capacity rule of every label the classifier gives.
int32_t Label_Out(std::string_view text, char *label, int32_t *capacity) {
  return Sized_Write(text, label, capacity) ? kClassifyLabelled : kClassifyLabelTooSmall;
}

}  // namespace

size_t Term_Statement_Build(const char *word, char *statement, size_t statement_size) {
  size_t needed = kStatementHeadLength + 1;  // head and closing apostrophe
  for (const char *p = word; *p != '\0'; ++p) needed += (*p == '\'') ? 2 : 1;
  if (needed >= statement_size) return needed;
  char *out = statement;
  std::memcpy(out, kStatementHead, kStatementHeadLength);
  out += kStatementHeadLength;
  for (const char *p = word; *p != '\0'; ++p) {
    *out++ = *p;
    if (*p == '\'') *out++ = '\'';
  }
  *out++ = '\'';
  *out = '\0';
  return needed;
}

int32_t Word_Classify(const char *word, char *label, int32_t *capacity, uint32_t *prefix_length) {
  *prefix_length = 0;

  char statement_buffer[kStatementBufferSize];
  std::string long_statement;
  const char *statement = statement_buffer;
  const size_t needed = Term_Statement_Build(word, statement_buffer, sizeof statement_buffer);
  if (needed >= sizeof statement_buffer) {
    long_statement.resize(needed + 1);
    Term_Statement_Build(word, &long_statement[0], long_statement.size());
    statement = long_statement.c_str();
  }

  char column[kColumnBufferSize];
  if (services::Term_Lookup(statement, column, kColumnBufferSize) >= 0) return Label_Out(column, label, capacity);

  const Category category = static_cast<unsigned char>(word[0]) <= 128 ? Standard_Number_Classify(word)
                                                                        : Chinese_Word_Classify(word);
  if (category.result != kClassifyLabelled) return category.result;
  *prefix_length = category.prefix_length;
  return Label_Out(category.label->text, label, capacity);
}
