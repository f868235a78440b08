// The library's word and query front ends with their buffers sized once,
// shared by the tool's commands and its HTTP server so that both answer
// alike.
#ifndef TESQ_TOOLS_TESQ_LIBRARY_CALLS_H
#define TESQ_TOOLS_TESQ_LIBRARY_CALLS_H

#include <cstdint>
#include <string>

namespace cli {

// Tesquin_Search_Singleword on a GB2312 word, with room for any label the
// term table may hold: the library's result, and on 0 the label (GB2312).
int32_t Word_Label(const std::string &gbword, std::string *label);

// Tesquin_Search into a buffer large enough for any document of this query,
// so that its words are classified (and traced) once: the library's result,
// on 0 the document, on 1 the size the library asked for in *needed.
int32_t Query_Document(const std::string &gbquery, std::string *document, uint32_t *needed);

}  // namespace cli

#endif
