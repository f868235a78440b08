#include "answers.h"

#include <algorithm>
#include <cstring>

#include "cli_options.h"
#include "gb2312.h"

namespace serve {
namespace {

using json = nlohmann::json;

std::string To_Utf8(const std::string &gbtext) { return cli::From_Gb(gbtext, cli::Encoding::kUtf8); }

// The document's fixed parts, as the library writes them.
const char kHead[] = "<?xml version=\"1.0\" encoding=\"gb2312\" standalone=\"yes\" ?>\n<IR>\n<Sentence>";
const char kSentence_End[] = "</Sentence>\n<Items>\n";
const char kWord_Open[] = "\t<Word p=\"";
const char kLabel_Close[] = "\">";
const char kWord_Close[] = "</Word>\n";
const char kTail[] = "</Items>\n</IR>";

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

bool Document_Items(const std::string &gbquery, const std::string &document, json *items) {
  *items = json::array();
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
  json out = json::array();
  for (size_t i = 0; i < words.size(); ++i) {
    std::string label;
    size_t length = 0;
    if (!Take_Item(document, &at, words[i], true, &label, &length)) return false;
    out.push_back({{"word", To_Utf8(std::string(words[i].substr(0, length)))}, {"label", To_Utf8(label)}, {"word_index", i}});
    if (length < words[i].size()) {
      const std::string_view tail = words[i].substr(length);
      size_t tail_length = 0;
      if (!Take_Item(document, &at, tail, false, &label, &tail_length)) return false;
      out.push_back({{"word", To_Utf8(std::string(tail))}, {"label", To_Utf8(label)}, {"word_index", i}});
    }
  }
  if (document.compare(at, std::string::npos, kTail) != 0) return false;
  *items = std::move(out);
  return true;
}

json Essay_Items(std::string_view sent, const std::string &gbtext, const std::vector<Essay_Word> &words,
                 Charset charset) {
  json items = json::array();
  size_t gb_at = 0, sent_at = 0, chars = 0;
  // Walks both texts a character at a time up to `target` in gbtext.
  auto advance_to = [&](size_t target) {
    while (gb_at < target) {
      gb_at += gb::Char_Length(gbtext.data() + gb_at, gbtext.size() - gb_at);
      if (charset == Charset::kUtf8) {
        uint32_t cp = 0;
        const size_t len = sent_at < sent.size() ? gb::Decode_Utf8(sent, sent_at, &cp) : 0;
        sent_at += len == 0 ? 1 : len;
      } else {
        sent_at = gb_at;
      }
      ++chars;
    }
  };
  for (const Essay_Word &w : words) {
    advance_to(w.start);
    const size_t byte_start = std::min(sent_at, sent.size()), char_start = chars;
    advance_to(w.end);
    const size_t byte_end = std::min(sent_at, sent.size());
    const std::string text = charset == Charset::kUtf8 ? std::string(sent.substr(byte_start, byte_end - byte_start))
                                                       : To_Utf8(gbtext.substr(w.start, w.end - w.start));
    items.push_back({{"text", text},
                     {"tag", w.tag},
                     {"tag_name", cli::Tag_Name(w.tag)},
                     {"start", byte_start},
                     {"end", byte_end},
                     {"char_start", char_start},
                     {"char_end", chars}});
  }
  return items;
}

}  // namespace serve
