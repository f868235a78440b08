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

// True when `word` begins with `prefix` (upper-case ASCII letters), letters
// compared without regard to case.
bool Prefix_Matches(const char *word, const char *prefix) {
  for (; *prefix != '\0'; ++word, ++prefix)
    if (*word != *prefix && *word != *prefix + ('a' - 'A')) return false;
  return true;
}

Category Labelled(const Label &label) { return Category{kClassifyLabelled, &label, 0}; }

}  // namespace

Category Standard_Number_Classify(const char *word) {
  if (Prefix_Matches(word, "CN")) {
    const char *rest = word + 2;
    if (Cn_Check(rest)) return Labelled(kLabel_Cn);
    if (Patent_Check(rest)) return Labelled(kLabel_Patent);
    return {};
  }
  if (Prefix_Matches(word, "ISBN")) {
    if (Isbn_Check(word + 4)) return Labelled(kLabel_Isbn);
    return {};
  }
  if (Prefix_Matches(word, "ISSN")) {
    if (Issn_Check(word + 4)) return Labelled(kLabel_Issn);
    return {};
  }
  if (word[0] >= '0' && word[0] <= '9') {
    if (Cn_Check(word)) return Labelled(kLabel_Cn);
    if (Patent_Check(word)) return Labelled(kLabel_Patent);
    if (Isbn_Check(word)) return Labelled(kLabel_Isbn);
    if (Issn_Check(word)) return Labelled(kLabel_Issn);
  }
  return {};
}
