// What a known term's word and label may hold: one rule for the import that
// stores them and for the lookups that read them back (rows written by an
// older import or by other tools are checked again on the way out).
//
// A label goes into the query document as the attribute value p="LABEL",
// unescaped, and is printed as one line by the tool; so it must be non-empty
// and hold no control character and none of '"', '<', '>' and '&'. A word
// must hold no control character (the export writes one term per line).
// The word in the document is always the caller's own text, never the
// table's, so the characters of markup are allowed in words ("AT&T").
//
// The checks look at ASCII bytes only, which are themselves in UTF-8 and in
// GB2312 alike (every byte of a two-byte GB2312 character is above 0x80), so
// either form may be passed.
#ifndef TESQ_COMMON_TERM_TEXT_H
#define TESQ_COMMON_TERM_TEXT_H

#include <string>
#include <string_view>

#include <cstddef>

namespace tesq {

// The longest label a lookup can give back, in GB2312 bytes: the word
// classifier reads the label column into 128 bytes, terminator included.
constexpr size_t kMax_Label_Bytes = 127;

// Why `label` cannot be a term's label ("empty label", "the label holds
// ..."), or the empty string when it can.
std::string Label_Fault(std::string_view label);

// Why `word` cannot be a term's word, or the empty string when it can.
std::string Word_Fault(std::string_view word);

}  // namespace tesq

#endif
