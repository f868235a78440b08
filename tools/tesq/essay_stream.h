// tesq essay's work: the text is read, converted, segmented and printed
// piece by piece, so that memory stays bounded whatever the input's size.
//
// The text is cut into the pieces Split_Pieces gives for the whole text
// (after a line feed in the second half of `piece_bytes`, else after white
// space or punctuation, else at a character boundary), each segmented by one
// Tesquin_Search_Essay call; a piece is cut as soon as more than
// `piece_bytes` of converted text are at hand, which gives the same pieces as
// cutting the whole text at once. The byte spans of the JSON output are
// counted from the start of the whole GB2312 text.
//
// These are the pieces the tool always cut, so its output is what it was
// when it read the whole text first. Against a single call on the whole
// text, a cut after a line feed changes a word only where white space goes
// on after the line feed (the segmenter makes one word of a run of white
// space, line feeds included, and the cut splits it), or where the line
// feed ends a two-byte white space word ("\r\n", " \n") inside a run of
// one-character words that the foreign-name test would take for one name.
// A segmenter word holds no line feed otherwise, and no other name is
// merged across one.
#ifndef TESQ_TOOLS_ESSAY_STREAM_H
#define TESQ_TOOLS_ESSAY_STREAM_H

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

#include "cli_options.h"

namespace cli {

// Essays are segmented in pieces of about this many bytes.
constexpr size_t kEssay_Piece_Bytes = 64 * 1024;

enum class Essay_Format { kInline, kJson };

struct Essay_Options {
  Essay_Format format = Essay_Format::kInline;
  Encoding encoding = Encoding::kUtf8;
  size_t piece_bytes = kEssay_Piece_Bytes;
  // Bytes of input expected in all (0: unknown), for the progress bar.
  size_t input_size = 0;
  bool progress = false;
  // Called once before the first piece is segmented (or after the whole
  // input was read, when it has none): starts the library. False stops the
  // work with status 1; it prints its own message.
  std::function<bool()> start_library;
};

// Reads the whole of `in` (named `name` in messages), segments it with
// names merged, and writes the words to `out` as they come. Returns the exit
// status: 0 done; 1 the library, reading or writing failed; 2 the input
// cannot be given to the library (an error of the text at some byte; the
// words of the pieces before it have been written by then). Messages go to
// standard error, prefixed "tesq essay: ".
int Essay_Stream(FILE *in, const std::string &name, FILE *out, const Essay_Options &options);

}  // namespace cli

#endif
