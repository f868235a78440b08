// One HTTP/1.1 request read from a connection's bytes, framed strictly so
// that no byte of one request can be taken as part of another: the request
// line, the header fields and the body (Content-Length or chunked) are read
// whole before any answer, every framing doubt is an error, and each part
// has a limit checked as its bytes arrive, so one connection's memory stays
// bounded whatever it sends. An error always ends the connection: after it
// the place where the next request would begin is unknown.
//
// Also here: the query string and form syntax, and the escaping of request
// bytes quoted in a message.
#ifndef TESQ_TOOLS_SERVE_HTTP_REQUEST_H
#define TESQ_TOOLS_SERVE_HTTP_REQUEST_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace serve {

// What one request may hold; past a limit the request is refused with the
// status named and the connection closed.
struct Request_Limits {
  size_t request_line = 8192;   // bytes of the request line: 414
  size_t header_count = 100;    // header and trailer fields: 431
  size_t header_bytes = 32768;  // all header and trailer lines together: 431
  size_t body = 1 << 20;        // the body's bytes, chunked ones counted without their framing: 413
  size_t chunk_line = 1024;     // a chunk-size line with its extensions: 400
};

struct Http_Request {
  std::string method;
  std::string target;  // as sent
  std::string path;    // the target before '?', percent-decoded
  std::string query;   // the target after '?', as sent
  int minor_version = 1;
  std::vector<std::pair<std::string, std::string>> headers;  // names in lower case, values trimmed
  std::string body;
  bool keep_alive = true;       // no "Connection: close" (HTTP/1.1), "Connection: keep-alive" (HTTP/1.0)
  bool expect_continue = false; // "Expect: 100-continue"

  // The value of the first field of that name (lower case), or null.
  const std::string *Header(std::string_view name) const;
};

struct Http_Error {
  int status = 400;
  std::string code;     // the error answer's code
  std::string message;  // request bytes in it are escaped
};

// Reads requests one after another from the bytes of one connection.
class Request_Parser {
 public:
  enum class State { kIncomplete, kDone, kFailed };

  explicit Request_Parser(const Request_Limits &limits) : limits_(limits) {}

  // Takes bytes of `data` into the request and sets *used to how many it
  // took: after kDone the rest belong to the next request. kIncomplete
  // wants more bytes; after kFailed see Error().
  State Feed(const char *data, size_t size, size_t *used);

  // Starts the next request (keeping nothing of this one).
  void Reset();

  // A byte of this request has arrived (blank lines before it included).
  bool Started() const { return started_; }
  // The head is read and a body is still to come (the moment for
  // "100 Continue").
  bool Awaiting_Body() const;

  Http_Request &Request() { return request_; }
  const Http_Error &Error() const { return error_; }

 private:
  enum class Phase { kRequest_Line, kHeaders, kBody, kChunk_Size, kChunk_Data, kChunk_End, kTrailers, kDone, kFailed };

  State Fail(int status, const char *code, std::string message);
  // Gathers one line into line_ up to `limit` bytes; true once it is whole
  // (its CR LF or LF taken off). Past the limit, *over is set.
  bool Take_Line(const char *data, size_t size, size_t *at, size_t limit, bool *over);
  State Blank_Line(size_t bytes);
  State Request_Line();
  State Header_Line(bool trailer);
  State Head_Done();
  State Chunk_Size_Line();

  Request_Limits limits_;
  Http_Request request_;
  Http_Error error_;
  Phase phase_ = Phase::kRequest_Line;
  std::string line_;
  size_t blank_bytes_ = 0;
  size_t header_bytes_ = 0;
  size_t header_count_ = 0;
  uint64_t remaining_ = 0;  // of the body or the chunk
  bool started_ = false;
};

// The name=value pairs of a query string or form body, split at '&' and at
// the first '=' of each pair, '+' read as a space and %HH decoded; any other
// '%' stays as it is. Empty pairs are skipped.
std::vector<std::pair<std::string, std::string>> Parse_Form(std::string_view text);

// %HH decoded (and '+' as a space when `plus_is_space`); any other '%'
// stays as it is.
std::string Percent_Decode(std::string_view text, bool plus_is_space);

// ASCII letters in lower case; field names, tokens and media types compare
// so.
std::string Lower_Case(std::string_view s);

// Without leading and trailing blanks (space and tab), as field values and
// their parameters are read.
std::string_view Trim_Blanks(std::string_view s);

// The bytes for a message: valid UTF-8 as it is, every other byte and every
// control character as \xHH, at most `limit` bytes of input (then "...").
std::string Printable(std::string_view bytes, size_t limit = 200);

}  // namespace serve

#endif
