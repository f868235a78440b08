// The request parser of tesq serve over raw connection bytes. Whatever the
// bytes and however they are cut into reads, the requests read and the
// error that ends them are the same; each request takes bytes of its own
// (none is read twice, none overlaps the next); every part stays within
// its limit; every refusal is one of the documented statuses; and a request
// read, written out again with a Content-Length, reads back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "http_request.h"

namespace {

using serve::Http_Request;
using serve::Request_Limits;
using serve::Request_Parser;
using State = Request_Parser::State;

Request_Limits Fuzz_Limits() {
  Request_Limits limits;
  limits.request_line = 256;
  limits.header_count = 8;
  limits.header_bytes = 512;
  limits.body = 64;
  limits.chunk_line = 32;
  return limits;
}

struct Outcome {
  std::vector<std::string> requests;  // each request in a canonical form
  std::vector<size_t> ends;           // where each request's bytes end
  int error = 0;                      // the status that ended the bytes, 0 when none
  bool operator==(const Outcome &o) const { return requests == o.requests && ends == o.ends && error == o.error; }
};

void Check(bool ok) {
  if (!ok) std::abort();
}

std::string Canonical(const Http_Request &r) {
  std::string out = r.method + " " + r.target + " HTTP/1." + std::to_string(r.minor_version) + "\r\n";
  for (const auto &[name, value] : r.headers)
    if (name != "content-length" && name != "transfer-encoding") out += name + ": " + value + "\r\n";
  out += "content-length: " + std::to_string(r.body.size()) + "\r\n\r\n" + r.body;
  return out;
}

// Reads requests one after another, the bytes given in reads of the sizes
// `cuts` cycles through.
Outcome Read_All(const std::string &bytes, const std::vector<size_t> &cuts, const Request_Limits &limits) {
  static const std::set<int> kStatuses = {400, 413, 414, 415, 417, 431, 501, 505};
  Request_Parser parser(limits);
  Outcome out;
  size_t at = 0, cut = 0, request_start = 0;
  while (at < bytes.size()) {
    const size_t piece = std::min(bytes.size() - at, cuts.empty() ? bytes.size() : cuts[cut++ % cuts.size()]);
    size_t used = 0;
    const State state = parser.Feed(bytes.data() + at, piece, &used);
    Check(used <= piece);
    at += used;
    if (state == State::kIncomplete) {
      Check(used == piece);  // a request that wants more has taken all it was given
      continue;
    }
    if (state == State::kFailed) {
      out.error = parser.Error().status;
      Check(kStatuses.count(out.error) == 1 && !parser.Error().code.empty());
      return out;
    }
    const Http_Request &r = parser.Request();
    Check(at > request_start);  // a request takes bytes of its own
    Check(r.body.size() <= limits.body && r.headers.size() <= limits.header_count);
    Check(r.target.size() <= limits.request_line && !r.method.empty());
    out.requests.push_back(Canonical(r));
    out.ends.push_back(at);
    request_start = at;
    parser.Reset();
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  // The first byte sets the read sizes; the rest are the connection's bytes.
  const unsigned seed = data[0];
  const std::string bytes(reinterpret_cast<const char *>(data) + 1, size - 1);
  const Request_Limits limits = Fuzz_Limits();
  const Outcome whole = Read_All(bytes, {}, limits);
  const Outcome cut = Read_All(bytes, {1 + seed % 7, 1 + seed / 7 % 13, 1}, limits);
  Check(whole == cut);
  // A request read and written out again reads back the same (with room
  // for the Content-Length field written).
  Request_Limits written = limits;
  written.header_count += 1;
  written.header_bytes += 64;
  for (const std::string &request : whole.requests) {
    const Outcome again = Read_All(request, {}, written);
    Check(again.error == 0 && again.requests.size() == 1 && again.requests[0] == request);
  }
  return 0;
}
