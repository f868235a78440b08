// The fixed markup of the query document: Tesquin_Search writes it, and the
// tool, the service and the extension read their items back out of it, so
// both sides take it from here.
//
//   HEAD QUERY SENTENCE_END
//   WORD_OPEN LABEL LABEL_CLOSE WORD WORD_CLOSE     one per word, or two
//   ...                                             for a split word
//   TAIL
#ifndef TESQ_COMMON_QUERY_DOCUMENT_H
#define TESQ_COMMON_QUERY_DOCUMENT_H

#include <cstddef>

namespace tesq::query_document {

constexpr char kHead[] = "<?xml version=\"1.0\" encoding=\"gb2312\" standalone=\"yes\" ?>\n<IR>\n<Sentence>";
constexpr char kSentence_End[] = "</Sentence>\n<Items>\n";
constexpr char kWord_Open[] = "\t<Word p=\"";
constexpr char kLabel_Close[] = "\">";
constexpr char kWord_Close[] = "</Word>\n";
constexpr char kTail[] = "</Items>\n</IR>";

// The bytes of markup around the query, and around each word's label and text.
constexpr size_t kFrame_Bytes = sizeof kHead - 1 + sizeof kSentence_End - 1 + sizeof kTail - 1;
constexpr size_t kWord_Markup_Bytes = sizeof kWord_Open - 1 + sizeof kLabel_Close - 1 + sizeof kWord_Close - 1;

}  // namespace tesq::query_document

#endif
