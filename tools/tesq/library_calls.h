// The library's word and query front ends with their buffers sized once,
// shared by the tool's commands and its HTTP server so that both answer
// alike.
#ifndef TESQ_TOOLS_TESQ_LIBRARY_CALLS_H
#define TESQ_TOOLS_TESQ_LIBRARY_CALLS_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace cli {

// Tesquin_Search_Singleword on a GB2312 word, with room for any label the
// term table may hold: the library's result, and on 0 the label (GB2312).
int32_t Word_Label(const std::string &gbword, std::string *label);

// Tesquin_Search into a buffer large enough for any document of this query,
// so that its words are classified (and traced) once: the library's result,
// on 0 the document, on 1 the size the library asked for in *needed.
int32_t Query_Document(const std::string &gbquery, std::string *document, uint32_t *needed);

// An item of a query document: a Word element's text and label (GB2312)
// and the number of the query word it comes from (from 0).
struct Query_Item {
  std::string word, label;
  size_t word_index;
};

// The Word elements of the document Tesquin_Search wrote for `gbquery`; a
// word split into a named prefix and its rest gives two items of the same
// word. The document is read against the query it was made of: its head,
// each word with its label, and its tail must be where the library puts
// them, so markup inside the query cannot forge or hide an item. False,
// with no items, when the document does not fit the query.
bool Document_Items(const std::string &gbquery, const std::string &document, std::vector<Query_Item> *items);

// A word of an essay piece: its bytes in the piece and its tag.
struct Essay_Word {
  size_t start, end;
  int tag;
};

// How Segment_Piece went, for the caller to report.
struct Piece_Segmentation {
  // The library's result: 0, or 4 when names stood too close together to be
  // merged (that part is given unmerged); any other is a failure.
  int32_t result = 0;
  // The library gave a word that ends at or before the one before it, or
  // past the piece: a failure, at these bytes of the piece.
  bool bad_end = false;
  size_t bad_start = 0, bad_end_at = 0;
  // The words stopped at this byte before the piece's end (the piece's size
  // when they did not); the rest is given as one word of tag 0, so no byte
  // vanishes.
  size_t covered = 0;
};

// Tesquin_Search_Essay on one piece of GB2312 text (no NUL byte, at most
// INT32_MAX - 1 bytes), names merged: true with its words, false when the
// library failed or gave an inconsistent segmentation (see *how).
bool Segment_Piece(const std::string &piece, std::vector<Essay_Word> *words, Piece_Segmentation *how);

}  // namespace cli

#endif
