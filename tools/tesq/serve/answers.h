// The JSON answers built from the library's results: the items of a query
// document and the spans of an essay's words. Pure functions of their
// inputs, so that they are tested on their own.
#ifndef TESQ_TOOLS_SERVE_ANSWERS_H
#define TESQ_TOOLS_SERVE_ANSWERS_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "library_calls.h"

namespace serve {

enum class Charset { kUtf8, kGb2312 };

// The Word elements of the document Tesquin_Search wrote for `gbquery`,
// each with the number of the query word it comes from (a word split into
// a named prefix and its rest gives two items of the same word). The
// document is read against the query it was made of: its head, each word
// with its label, and its tail must be where the library puts them, so
// markup inside the query cannot forge or hide an item. False, with no
// items, when the document does not fit the query.
bool Document_Items(const std::string &gbquery, const std::string &document, nlohmann::json *items);

// A word of an essay, its span in bytes of the GB2312 text.
using Essay_Word = cli::Essay_Word;

// The /v1/essay answer, {"words":[...]}: the essay's words with byte spans
// in the text as it was sent (`sent`, the UTF-8 or GB2312 bytes the GB2312
// text `gbtext` was made of) and character spans; the word's text is the
// one sent. In UTF-8 each character of `gbtext` is one character of `sent`.
// Each word's fields are in name order and the text is escaped as the JSON
// library writes it (UTF-8 kept, invalid bytes as U+FFFD), written
// directly: a megabyte of text is a quarter of a million words.
std::string Essay_Json(std::string_view sent, const std::string &gbtext, const std::vector<Essay_Word> &words,
                       Charset charset);

}  // namespace serve

#endif
