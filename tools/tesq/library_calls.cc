#include "library_calls.h"

#include <cstring>
#include <string_view>
#include <vector>

#include "query_document.h"
#include "tesqsrch/tesqsrch.h"

namespace cli {
namespace {

using namespace tesq::query_document;

// An upper bound of the XML document's size for a GB2312 query: the fixed
// pieces, the query twice, and per word (at most one more than the spaces)
// the element pieces, a split word's second element and the longest label.
size_t Document_Bound(const std::string &query) {
  // A split word's second element is labelled 全文 (four bytes).
  constexpr size_t kFixed = kFrame_Bytes + 1, kPerWord = kWord_Markup_Bytes + (kWord_Markup_Bytes + 4) + 255;
  return kFixed + 2 * query.size() + (query.size() + 1) * kPerWord;
}

bool Take(const std::string &document, size_t *at, std::string_view expected) {
  if (document.compare(*at, expected.size(), expected) != 0) return false;
  *at += expected.size();
  return true;
}

// One Word element whose text is `text` or, when `prefix_allowed`, a part
// of it that the element closes; the label is what stands before the text.
// Labels hold no '"' (the term table refuses them), so a label ends at the
// first '">'.
bool Take_Item(const std::string &document, size_t *at, std::string_view text, bool prefix_allowed,
               std::string *label, size_t *text_length) {
  if (!Take(document, at, kWord_Open)) return false;
  const size_t label_end = document.find(kLabel_Close, *at);
  if (label_end == std::string::npos) return false;
  *label = document.substr(*at, label_end - *at);
  size_t p = label_end + std::strlen(kLabel_Close);
  // The whole text first: a split is taken only when the element does not
  // hold the whole word.
  if (document.compare(p, text.size(), text) == 0 && document.compare(p + text.size(), std::strlen(kWord_Close), kWord_Close) == 0) {
    *text_length = text.size();
    *at = p + text.size() + std::strlen(kWord_Close);
    return true;
  }
  if (!prefix_allowed) return false;
  for (size_t n = 1; n < text.size(); ++n) {
    if (p + n > document.size() || document[p + n - 1] != text[n - 1]) return false;
    if (document.compare(p + n, std::strlen(kWord_Close), kWord_Close) == 0) {
      *text_length = n;
      *at = p + n + std::strlen(kWord_Close);
      return true;
    }
  }
  return false;
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
  // Kept per thread between pieces: a host that hands over many short texts
  // (a table's rows) would otherwise pay two allocations a text.
  thread_local std::vector<int32_t> ends;
  thread_local std::vector<int16_t> tags;
  ends.assign(static_cast<size_t>(count), 0);
  tags.assign(static_cast<size_t>(count), 0);
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

bool Document_Items(const std::string &gbquery, const std::string &document, std::vector<Query_Item> *items) {
  items->clear();
  size_t at = 0;
  if (!Take(document, &at, kHead) || !Take(document, &at, gbquery) || !Take(document, &at, kSentence_End)) return false;
  // The query's words, cut at every single space; the empty query has none.
  std::vector<std::string_view> words;
  std::string_view rest = gbquery;
  while (!gbquery.empty()) {
    const size_t space = rest.find(' ');
    words.push_back(rest.substr(0, space));
    if (space == std::string_view::npos) break;
    rest.remove_prefix(space + 1);
  }
  std::vector<Query_Item> out;
  for (size_t i = 0; i < words.size(); ++i) {
    std::string label;
    size_t length = 0;
    if (!Take_Item(document, &at, words[i], true, &label, &length)) return false;
    out.push_back({std::string(words[i].substr(0, length)), label, i});
    if (length < words[i].size()) {
      const std::string_view tail = words[i].substr(length);
      size_t tail_length = 0;
      if (!Take_Item(document, &at, tail, false, &label, &tail_length)) return false;
      out.push_back({std::string(tail), label, i});
    }
  }
  if (document.compare(at, std::string::npos, kTail) != 0) return false;
  *items = std::move(out);
  return true;
}

}  // namespace cli
