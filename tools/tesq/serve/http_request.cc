#include "http_request.h"

#include <algorithm>
#include <cstring>

#include "gb2312.h"

namespace serve {
namespace {

bool Is_Tchar(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         std::strchr("!#$%&'*+-.^_`|~", c) != nullptr;
}

bool Is_Token(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c != '\0' && Is_Tchar(static_cast<unsigned char>(c)); });
}

// The elements of a comma-separated field value, trimmed and in lower case;
// empty elements are dropped, as the list syntax allows.
std::vector<std::string> List_Elements(std::string_view value) {
  std::vector<std::string> out;
  for (;;) {
    const size_t comma = value.find(',');
    const std::string_view element = Trim_Blanks(value.substr(0, comma));
    if (!element.empty()) out.push_back(Lower_Case(element));
    if (comma == std::string_view::npos) return out;
    value.remove_prefix(comma + 1);
  }
}

int Hex_Value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Content-Length is 1*DIGIT; a length of more digits than any limit is
// reported as too large, not wrapped.
constexpr size_t kMax_Length_Digits = 18;

}  // namespace

std::string Lower_Case(std::string_view s) {
  std::string out(s);
  for (char &c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string_view Trim_Blanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

const std::string *Http_Request::Header(std::string_view name) const {
  for (const auto &[n, v] : headers)
    if (n == name) return &v;
  return nullptr;
}

void Request_Parser::Reset() {
  request_ = Http_Request();
  error_ = Http_Error();
  phase_ = Phase::kRequest_Line;
  line_.clear();
  blank_bytes_ = header_bytes_ = header_count_ = 0;
  remaining_ = 0;
  started_ = false;
}

bool Request_Parser::Awaiting_Body() const {
  return phase_ == Phase::kBody || ((phase_ == Phase::kChunk_Size) && request_.body.empty() && line_.empty());
}

Request_Parser::State Request_Parser::Fail(int status, const char *code, std::string message) {
  error_ = {status, code, std::move(message)};
  phase_ = Phase::kFailed;
  return State::kFailed;
}

bool Request_Parser::Take_Line(const char *data, size_t size, size_t *at, size_t limit, bool *over) {
  const char *start = data + *at;
  const size_t available = size - *at;
  const void *lf = std::memchr(start, '\n', available);
  const size_t take = lf ? static_cast<size_t>(static_cast<const char *>(lf) - start) : available;
  // The line is kept only up to its limit (and its CR), so its buffer is
  // bounded whatever the client sends.
  if (line_.size() + take > limit + 1) {
    *over = true;
    return false;
  }
  line_.append(start, take);
  *at += take;
  if (!lf) return false;
  ++*at;  // the LF
  if (!line_.empty() && line_.back() == '\r') line_.pop_back();
  if (line_.size() > limit) {
    *over = true;
    return false;
  }
  return true;
}

Request_Parser::State Request_Parser::Feed(const char *data, size_t size, size_t *used) {
  size_t at = 0;
  State state = State::kIncomplete;
  if (size > 0) started_ = true;
  while (state == State::kIncomplete && at < size) {
    bool over = false;
    switch (phase_) {
      case Phase::kRequest_Line:
        // Blank lines before a request are skipped, as far as a request
        // line's length.
        if (line_.empty() && (data[at] == '\n' || (data[at] == '\r' && at + 1 < size && data[at + 1] == '\n'))) {
          const size_t n = data[at] == '\n' ? 1 : 2;
          at += n;
          state = Blank_Line(n);
          break;
        }
        if (!Take_Line(data, size, &at, limits_.request_line, &over)) {
          if (over)
            state = Fail(414, "uri_too_long", "the request line is over " + std::to_string(limits_.request_line) + " bytes");
          break;
        }
        state = Request_Line();
        break;
      case Phase::kHeaders:
      case Phase::kTrailers: {
        const size_t before = at;
        const bool whole = Take_Line(data, size, &at, limits_.header_bytes, &over);
        header_bytes_ += at - before;
        if (over || header_bytes_ > limits_.header_bytes) {
          state = Fail(431, "headers_too_large", "the header fields are over " + std::to_string(limits_.header_bytes) + " bytes");
          break;
        }
        if (whole) state = Header_Line(phase_ == Phase::kTrailers);
        break;
      }
      case Phase::kBody:
      case Phase::kChunk_Data: {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(remaining_, size - at));
        request_.body.append(data + at, n);
        at += n;
        remaining_ -= n;
        if (remaining_ == 0) {
          if (phase_ == Phase::kBody) {
            phase_ = Phase::kDone;
            state = State::kDone;
          } else {
            phase_ = Phase::kChunk_End;
          }
        }
        break;
      }
      case Phase::kChunk_Size:
        if (!Take_Line(data, size, &at, limits_.chunk_line, &over)) {
          if (over) state = Fail(400, "bad_request", "a chunk-size line is over " + std::to_string(limits_.chunk_line) + " bytes");
          break;
        }
        state = Chunk_Size_Line();
        break;
      case Phase::kChunk_End:
        // The chunk's data must end exactly where its size says.
        if (!Take_Line(data, size, &at, 0, &over)) {
          if (over) state = Fail(400, "bad_request", "a chunk's data is longer than its size");
          break;
        }
        phase_ = Phase::kChunk_Size;
        break;
      case Phase::kDone:
        state = State::kDone;
        break;
      case Phase::kFailed:
        state = State::kFailed;
        break;
    }
  }
  if (state == State::kIncomplete && phase_ == Phase::kDone) state = State::kDone;
  *used = at;
  return state;
}

// Blank lines before a request count against the request line's limit,
// however the reads cut them.
Request_Parser::State Request_Parser::Blank_Line(size_t bytes) {
  blank_bytes_ += bytes;
  if (blank_bytes_ > limits_.request_line) return Fail(400, "bad_request", "only blank lines were sent");
  return State::kIncomplete;
}

Request_Parser::State Request_Parser::Request_Line() {
  if (line_.empty()) return Blank_Line(2);  // a blank line's CR and LF came apart
  const std::string_view line = line_;
  const size_t first = line.find(' ');
  const size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  if (second == std::string_view::npos || line.find(' ', second + 1) != std::string_view::npos)
    return Fail(400, "bad_request", "the request line is not METHOD TARGET HTTP/1.x");
  const std::string_view method = line.substr(0, first), target = line.substr(first + 1, second - first - 1),
                         version = line.substr(second + 1);
  if (!Is_Token(method)) return Fail(400, "bad_request", "the method is not a token");
  if (target.empty() || std::any_of(target.begin(), target.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u <= 0x20 || u == 0x7F;
      }))
    return Fail(400, "bad_request", "the request target is empty or holds a control character or space");
  if (version == "HTTP/1.1") {
    request_.minor_version = 1;
  } else if (version == "HTTP/1.0") {
    request_.minor_version = 0;
  } else if (version.size() == 8 && version.substr(0, 5) == "HTTP/" && std::isdigit(static_cast<unsigned char>(version[5])) &&
             version[6] == '.' && std::isdigit(static_cast<unsigned char>(version[7]))) {
    return Fail(505, "http_version", "only HTTP/1.0 and HTTP/1.1 are served");
  } else {
    return Fail(400, "bad_request", "the request line does not end in HTTP/1.x");
  }
  if (target.front() != '/' && !(target == "*" && method == "OPTIONS"))
    return Fail(400, "bad_request", "the request target must be a path beginning with '/'");
  request_.method = std::string(method);
  request_.target = std::string(target);
  const size_t question = target.find('?');
  request_.path = Percent_Decode(target.substr(0, question), false);
  if (question != std::string_view::npos) request_.query = std::string(target.substr(question + 1));
  line_.clear();
  phase_ = Phase::kHeaders;
  return State::kIncomplete;
}

Request_Parser::State Request_Parser::Header_Line(bool trailer) {
  if (line_.empty()) {
    if (trailer) {
      phase_ = Phase::kDone;
      return State::kDone;
    }
    return Head_Done();
  }
  if (++header_count_ > limits_.header_count)
    return Fail(431, "headers_too_large", "more than " + std::to_string(limits_.header_count) + " header fields");
  const std::string_view line = line_;
  if (line.front() == ' ' || line.front() == '\t') return Fail(400, "bad_request", "a folded header line");
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos || !Is_Token(line.substr(0, colon)))
    return Fail(400, "bad_request", "a header line is not NAME: VALUE");
  const std::string_view value = Trim_Blanks(line.substr(colon + 1));
  if (std::any_of(value.begin(), value.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && u != '\t') || u == 0x7F;
      }))
    return Fail(400, "bad_request", "a header value holds a control character");
  // Trailer fields are read for their framing only: nothing here takes
  // its meaning from them.
  if (!trailer) request_.headers.emplace_back(Lower_Case(line.substr(0, colon)), std::string(value));
  line_.clear();
  return State::kIncomplete;
}

Request_Parser::State Request_Parser::Head_Done() {
  line_.clear();
  size_t hosts = 0, lengths = 0;
  std::string length, codings;
  bool has_coding = false;
  for (const auto &[name, value] : request_.headers) {
    if (name == "host") {
      ++hosts;
    } else if (name == "content-length") {
      ++lengths;
      length = value;
    } else if (name == "transfer-encoding") {
      has_coding = true;
      codings += "," + value;
    } else if (name == "expect") {
      if (Lower_Case(value) != "100-continue") return Fail(417, "expectation_failed", "only Expect: 100-continue is met");
      request_.expect_continue = request_.minor_version == 1;
    } else if (name == "content-encoding") {
      for (const std::string &coding : List_Elements(value))
        if (coding != "identity")
          return Fail(415, "unsupported_encoding", "a body is taken as sent, without Content-Encoding");
    }
  }
  // HTTP/1.1 keeps the connection unless told to close, HTTP/1.0 closes it
  // unless told to keep it.
  bool close = false, keep = false;
  for (const auto &[name, value] : request_.headers)
    if (name == "connection")
      for (const std::string &option : List_Elements(value)) {
        close = close || option == "close";
        keep = keep || option == "keep-alive";
      }
  request_.keep_alive = !close && (request_.minor_version == 1 || keep);
  if (hosts > 1 || (hosts == 0 && request_.minor_version == 1))
    return Fail(400, "bad_request", "an HTTP/1.1 request has exactly one Host field");
  if (has_coding) {
    if (lengths > 0) return Fail(400, "bad_request", "Transfer-Encoding and Content-Length together");
    if (request_.minor_version == 0) return Fail(400, "bad_request", "Transfer-Encoding in an HTTP/1.0 request");
    const std::vector<std::string> list = List_Elements(codings);
    if (list.empty() || list.back() != "chunked")
      return Fail(400, "bad_request", "the last transfer coding of a request must be chunked");
    if (list.size() > 1) return Fail(501, "not_implemented", "no transfer coding but chunked is taken");
    phase_ = Phase::kChunk_Size;
    return State::kIncomplete;
  }
  if (lengths > 1) return Fail(400, "bad_request", "more than one Content-Length field");
  if (lengths == 1) {
    if (length.empty() || !std::all_of(length.begin(), length.end(), [](char c) { return c >= '0' && c <= '9'; }))
      return Fail(400, "bad_request", "Content-Length is not a number");
    const std::string digits = length.substr(std::min(length.find_first_not_of('0'), length.size()));
    if (digits.size() > kMax_Length_Digits || std::stoull("0" + digits) > limits_.body)
      return Fail(413, "body_too_large", "the body is over " + std::to_string(limits_.body) + " bytes");
    remaining_ = std::stoull("0" + digits);
  }
  if (remaining_ == 0) {
    phase_ = Phase::kDone;
    return State::kDone;
  }
  request_.body.reserve(static_cast<size_t>(remaining_));
  phase_ = Phase::kBody;
  return State::kIncomplete;
}

Request_Parser::State Request_Parser::Chunk_Size_Line() {
  const std::string_view line = line_;
  size_t digits = 0;
  uint64_t size = 0;
  while (digits < line.size() && Hex_Value(line[digits]) >= 0) {
    if (digits >= 15) return Fail(413, "body_too_large", "the body is over " + std::to_string(limits_.body) + " bytes");
    size = size * 16 + static_cast<uint64_t>(Hex_Value(line[digits]));
    ++digits;
  }
  // After the digits only chunk extensions may follow: ";name[=value]",
  // with optional blanks before the ';'.
  const std::string_view rest = Trim_Blanks(line.substr(digits));
  const bool control = std::any_of(line.begin(), line.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return (u < 0x20 && u != '\t') || u == 0x7F;
  });
  if (digits == 0 || control || (digits < line.size() && rest.empty()) || (!rest.empty() && rest.front() != ';'))
    return Fail(400, "bad_request", "a chunk size is not hexadecimal digits");
  line_.clear();
  if (size == 0) {
    phase_ = Phase::kTrailers;
    return State::kIncomplete;
  }
  if (size > limits_.body - std::min(limits_.body, request_.body.size()))
    return Fail(413, "body_too_large", "the body is over " + std::to_string(limits_.body) + " bytes");
  remaining_ = size;
  phase_ = Phase::kChunk_Data;
  return State::kIncomplete;
}

std::string Percent_Decode(std::string_view text, bool plus_is_space) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && Hex_Value(text[i + 1]) >= 0 && Hex_Value(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(Hex_Value(text[i + 1]) * 16 + Hex_Value(text[i + 2])));
      i += 2;
    } else if (text[i] == '+' && plus_is_space) {
      out.push_back(' ');
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> Parse_Form(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  for (;;) {
    const size_t amp = text.find('&');
    const std::string_view pair = text.substr(0, amp);
    if (!pair.empty()) {
      const size_t eq = pair.find('=');
      out.emplace_back(Percent_Decode(pair.substr(0, eq), true),
                       eq == std::string_view::npos ? std::string() : Percent_Decode(pair.substr(eq + 1), true));
    }
    if (amp == std::string_view::npos) return out;
    text.remove_prefix(amp + 1);
  }
}

std::string Printable(std::string_view bytes, size_t limit) {
  std::string out;
  const std::string_view shown = bytes.substr(0, limit);
  for (size_t i = 0; i < shown.size();) {
    uint32_t cp = 0;
    const size_t len = gb::Decode_Utf8(shown, i, &cp);
    if (len == 0 || cp < 0x20 || cp == 0x7F || cp == '\\') {
      static const char kHex[] = "0123456789ABCDEF";
      const auto c = static_cast<unsigned char>(shown[i]);
      if (c == '\\') {
        out += "\\\\";
      } else {
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
      }
      ++i;
    } else {
      out.append(shown, i, len);
      i += len;
    }
  }
  if (bytes.size() > limit) out += "...";
  return out;
}

}  // namespace serve
