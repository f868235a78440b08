// The GB2312 word segmenter.
//
// The text is cut into runs first:
//   - a run of Han characters is segmented by maximum probability: every
//     lexicon word that starts at each character forms a graph of candidate
//     words, and the path with the greatest sum of word weights (log
//     frequencies) wins, found right to left; on equal sums the longer word at
//     a position wins. A character that starts no word is a one-character
//     word with the lexicon's unknown weight (and the unknown tag when it is
//     not a word itself);
//   - a run of ASCII letters, digits and + # & . _ % - is one word;
//   - a run of ASCII white space is one word;
//   - every other character (punctuation, symbols, letters of the other
//     GB2312 rows) is a word of its own;
//   - a two-byte GBK character outside GB2312 (丂 81 40, 镕 E9 46) is a word
//     of its own, tagged unknown: the hosts type in GBK, and such a
//     character must not be cut into two bytes;
//   - every byte that begins no character (a lead byte at the end of the
//     text, a lead byte with an invalid trail byte, a stray byte above 0x7F)
//     is a word of its own, tagged unknown.
//
// So a text of n bytes has at most n words.
#ifndef VORNEL_SEGMENTER_H
#define VORNEL_SEGMENTER_H

#include <cstddef>
#include <cstdint>

#include "lexicon.h"

namespace vornel {

// Segments the `size` bytes of `text`. Writes the end offset of word n to
// ends[n] and its tag to tags[n] for at most `capacity` words (`size` is
// always enough). Returns the
// number of words, or -1 when there are more than `capacity` (the arrays then
// hold the first `capacity` words). When `whole_word` is false, a Han run
// that is the entire text is never taken as one lexicon word (the builder
// uses this to split a lexicon entry into its parts). When `names_apart` is
// true (query segmentation), the words the lexicon keeps apart are no words
// (the text is cut as if the lexicon lacked them).
long Segment(const Lexicon &lexicon, const char *text, size_t size, int32_t *ends, int16_t *tags,
             size_t capacity, bool whole_word = true, bool names_apart = false);

}  // namespace vornel

#endif
