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

namespace {

// A JSON string of UTF-8 `text`, as nlohmann::json's dump writes it with the
// replacing error handler: quote, backslash and control characters escaped
// (\b \t \n \f \r short, the others \u00xx), all else as it is; a string
// that is not UTF-8 is left to the library.
void Append_Json_String(std::string_view text, std::string *out) {
  static const char kHex[] = "0123456789abcdef";
  const size_t mark = out->size();
  out->push_back('"');
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      uint32_t cp = 0;
      const size_t len = gb::Decode_Utf8(text, i, &cp);
      if (len == 0) {
        out->resize(mark);
        *out += json(std::string(text)).dump(-1, ' ', false, json::error_handler_t::replace);
        return;
      }
      out->append(text.data() + i, len);
      i += len;
      continue;
    }
    switch (c) {
      case '"': *out += "\\\""; break;
      case '\\': *out += "\\\\"; break;
      case '\b': *out += "\\b"; break;
      case '\t': *out += "\\t"; break;
      case '\n': *out += "\\n"; break;
      case '\f': *out += "\\f"; break;
      case '\r': *out += "\\r"; break;
      default:
        if (c < 0x20) {
          *out += "\\u00";
          out->push_back(kHex[c >> 4]);
          out->push_back(kHex[c & 15]);
        } else {
          out->push_back(static_cast<char>(c));
        }
    }
    ++i;
  }
  out->push_back('"');
}

}  // namespace

std::string Essay_Json(std::string_view sent, const std::string &gbtext, const std::vector<Essay_Word> &words,
                       Charset charset) {
  std::string out = "{\"words\":[";
  out.reserve(words.size() * 96 + 16);
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
  bool first = true;
  for (const Essay_Word &w : words) {
    advance_to(w.start);
    const size_t byte_start = std::min(sent_at, sent.size()), char_start = chars;
    advance_to(w.end);
    const size_t byte_end = std::min(sent_at, sent.size());
    if (!first) out.push_back(',');
    first = false;
    out += "{\"char_end\":" + std::to_string(chars) + ",\"char_start\":" + std::to_string(char_start) +
           ",\"end\":" + std::to_string(byte_end) + ",\"start\":" + std::to_string(byte_start) +
           ",\"tag\":" + std::to_string(w.tag) + ",\"tag_name\":";
    Append_Json_String(cli::Tag_Name(w.tag), &out);
    out += ",\"text\":";
    if (charset == Charset::kUtf8)
      Append_Json_String(sent.substr(byte_start, byte_end - byte_start), &out);
    else
      Append_Json_String(To_Utf8(gbtext.substr(w.start, w.end - w.start)), &out);
    out.push_back('}');
  }
  out += "]}";
  return out;
}

}  // namespace serve
