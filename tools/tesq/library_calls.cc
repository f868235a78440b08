#include "library_calls.h"

#include <vector>

#include "tesqsrch/tesqsrch.h"

namespace cli {
namespace {

// An upper bound of the XML document's size for a GB2312 query: the fixed
// pieces, the query twice, and per word (at most one more than the spaces)
// the element pieces, a split word's second element and the longest label.
size_t Document_Bound(const std::string &query) {
  constexpr size_t kFixed = 108, kPerWord = 20 + 24 + 255;
  return kFixed + 2 * query.size() + (query.size() + 1) * kPerWord;
}

}  // namespace

int32_t Word_Label(const std::string &gbword, std::string *label) {
  std::vector<char> buffer(256);
  uint32_t size = static_cast<uint32_t>(buffer.size());
  int32_t result = Tesquin_Search_Singleword(gbword.c_str(), buffer.data(), &size);
  // A label longer than the buffer (a long label of the term table): once
  // more with the size the library asked for, which it bounds itself.
  if (result == 2 && size > buffer.size() && size <= 65536) {
    buffer.resize(size);
    result = Tesquin_Search_Singleword(gbword.c_str(), buffer.data(), &size);
  }
  if (result == 0) label->assign(buffer.data());
  return result;
}

int32_t Query_Document(const std::string &gbquery, std::string *document, uint32_t *needed) {
  std::vector<char> buffer(Document_Bound(gbquery));
  uint32_t size = static_cast<uint32_t>(buffer.size());
  const int32_t result = Tesquin_Search(gbquery.c_str(), buffer.data(), &size);
  if (result == 0) document->assign(buffer.data());
  if (result == 1) *needed = size;
  return result;
}

bool Segment_Piece(const std::string &piece, std::vector<Essay_Word> *words, Piece_Segmentation *how) {
  words->clear();
  *how = Piece_Segmentation();
  // The count is both the length given to the segmenter and the number of
  // entries of each array. The text's length plus one (its terminator) gives
  // every possible word (one per byte at most) and the closing 0 entry a
  // place; the segmenter stops at the terminator.
  const int32_t count = static_cast<int32_t>(piece.size()) + 1;
  std::vector<int32_t> ends(static_cast<size_t>(count), 0);
  std::vector<int16_t> tags(static_cast<size_t>(count), 0);
  // Text segmentation: the lexicon's words whole, its person names as words tagged 21.
  how->result = Tesquin_Search_Essay(piece.c_str(), ends.data(), count, 0, 0, tags.data());
  if (how->result != 0 && how->result != 4) return false;
  size_t start = 0;
  for (int32_t i = 0; i < count && ends[i] > 0; ++i) {
    const size_t end = static_cast<size_t>(ends[i]);
    if (end <= start || end > piece.size()) {
      how->bad_end = true;
      how->bad_start = start;
      how->bad_end_at = end;
      return false;
    }
    words->push_back({start, end, tags[i]});
    start = end;
  }
  how->covered = start;
  if (start < piece.size()) words->push_back({start, piece.size(), 0});
  return true;
}

}  // namespace cli
