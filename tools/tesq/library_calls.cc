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

}  // namespace cli
