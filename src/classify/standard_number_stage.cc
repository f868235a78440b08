// The standard-number stage: the category of an ASCII word (first byte 0x80
// or below) that the term table does not know.
//
// The word's beginning chooses the validators; the first matching condition
// decides, and when its validators all answer false the word has no category
// (later conditions are not tried):
//   CN...     Cn_Check, then Patent_Check, on the rest      "CN", "专利号"
//   ISBN...   Isbn_Check on the rest                        "ISBN"
//   ISSN...   Issn_Check on the rest                        "ISSN"
//   digit...  Cn_Check, Patent_Check, Isbn_Check, Issn_Check on the whole word
//   other     no category
// Prefix letters match in either case, each letter on its own. Every prefix
// test stops at the first byte that differs, so a short word is never read
// past its terminator.
#include "classify/classify.h"

namespace {

const char kLabelCn[] = "CN";
const char kLabelPatent[] = "\xD7\xA8\xC0\xFB\xBA\xC5";  // 专利号
const char kLabelIsbn[] = "ISBN";
const char kLabelIssn[] = "ISSN";

// True when `word` begins with `prefix` (upper-case ASCII letters), letters
// compared without regard to case.
bool Prefix_Matches(const char *word, const char *prefix) {
  for (; *prefix != '\0'; ++word, ++prefix)
    if (*word != *prefix && *word != *prefix + ('a' - 'A')) return false;
  return true;
}

template <size_t N>
int32_t Label(const char (&text)[N], char *label, int32_t *capacity) {
  return Label_Write(text, N - 1, label, capacity);
}

}  // namespace

int32_t Standard_Number_Classify(const char *word, char *label, int32_t *capacity, uint32_t *) {
  if (Prefix_Matches(word, "CN")) {
    const char *rest = word + 2;
    if (Cn_Check(rest)) return Label(kLabelCn, label, capacity);
    if (Patent_Check(rest)) return Label(kLabelPatent, label, capacity);
    return kClassifyNoCategory;
  }
  if (Prefix_Matches(word, "ISBN")) {
    if (Isbn_Check(word + 4)) return Label(kLabelIsbn, label, capacity);
    return kClassifyNoCategory;
  }
  if (Prefix_Matches(word, "ISSN")) {
    if (Issn_Check(word + 4)) return Label(kLabelIssn, label, capacity);
    return kClassifyNoCategory;
  }
  if (word[0] >= '0' && word[0] <= '9') {
    if (Cn_Check(word)) return Label(kLabelCn, label, capacity);
    if (Patent_Check(word)) return Label(kLabelPatent, label, capacity);
    if (Isbn_Check(word)) return Label(kLabelIsbn, label, capacity);
    if (Issn_Check(word)) return Label(kLabelIssn, label, capacity);
  }
  return kClassifyNoCategory;
}
