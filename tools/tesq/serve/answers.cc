#include "answers.h"

#include <algorithm>
#include <cstring>

#include "cli_options.h"
#include "gb2312.h"

namespace serve {
namespace {

using json = nlohmann::json;

std::string To_Utf8(const std::string &gbtext) { return cli::From_Gb(gbtext, cli::Encoding::kUtf8); }

}  // namespace

bool Document_Items(const std::string &gbquery, const std::string &document, json *items) {
  *items = json::array();
  std::vector<cli::Query_Item> found;
  if (!cli::Document_Items(gbquery, document, &found)) return false;
  for (const cli::Query_Item &item : found)
    items->push_back({{"word", To_Utf8(item.word)}, {"label", To_Utf8(item.label)}, {"word_index", item.word_index}});
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
