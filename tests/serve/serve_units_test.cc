// The pure parts of tesq serve: request framing and its limits, the form
// syntax, the escaping of quoted bytes, the JSON items of a query document,
// the essay spans, the request log's queue, route selection, the embedded
// playground page, and a new worker's wait for its copy of the term table
// (against a scripted state, not Karvel).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "answers.h"
#include "copy_wait.h"
#include "gb2312.h"
#include "http_request.h"
#include "http_worker.h"
#include "karvel/karvel.h"
#include "log_queue.h"
#include "playground_page.h"
#include "routes.h"

namespace serve {
namespace {

using State = Request_Parser::State;

Request_Limits Small_Limits() {
  Request_Limits limits;
  limits.body = 16;
  return limits;
}

struct Parsed {
  State state;
  size_t used;
  Http_Request request;
  Http_Error error;
};

Parsed Parse(const std::string &bytes, const Request_Limits &limits = Small_Limits()) {
  Request_Parser parser(limits);
  size_t used = 0;
  const State state = parser.Feed(bytes.data(), bytes.size(), &used);
  return {state, used, parser.Request(), parser.Error()};
}

// The same bytes fed one at a time give the same outcome.
Parsed Parse_Bytewise(const std::string &bytes, const Request_Limits &limits = Small_Limits()) {
  Request_Parser parser(limits);
  size_t total = 0;
  State state = State::kIncomplete;
  for (size_t i = 0; i < bytes.size() && state == State::kIncomplete; ++i) {
    size_t used = 0;
    state = parser.Feed(bytes.data() + i, 1, &used);
    total += used;
  }
  return {state, total, parser.Request(), parser.Error()};
}

struct Framing_Row {
  const char *name;
  std::string bytes;
  State state;
  int status;        // of the error, when kFailed
  std::string body;  // when kDone
};

TEST(Request_Framing, EachRowIsFramedOrRefusedAsTheRulesSay) {
  const std::string h = "Host: x\r\n";
  const std::vector<Framing_Row> rows = {
      {"plain GET", "GET /v1/word?word=a HTTP/1.1\r\n" + h + "\r\n", State::kDone, 0, ""},
      {"bare LF line ends", "GET / HTTP/1.1\n" + h.substr(0, 7) + "\n\n", State::kDone, 0, ""},
      {"blank lines before the request line", "\r\n\r\nGET / HTTP/1.1\r\n" + h + "\r\n", State::kDone, 0, ""},
      {"Content-Length body", "POST / HTTP/1.1\r\n" + h + "Content-Length: 3\r\n\r\nabc", State::kDone, 0, "abc"},
      {"Content-Length with leading zeros", "POST / HTTP/1.1\r\n" + h + "Content-Length: 003\r\n\r\nabc", State::kDone, 0, "abc"},
      {"POST without a length has no body", "POST / HTTP/1.1\r\n" + h + "\r\n", State::kDone, 0, ""},
      {"GET with a body", "GET / HTTP/1.1\r\n" + h + "Content-Length: 2\r\n\r\nab", State::kDone, 0, "ab"},
      {"chunked", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n", State::kDone, 0, "abcde"},
      {"chunked, upper-case coding", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: Chunked\r\n\r\n1\r\na\r\n0\r\n\r\n", State::kDone, 0, "a"},
      {"chunk extension", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked\r\n\r\n3;x=y\r\nabc\r\n0\r\n\r\n", State::kDone, 0, "abc"},
      {"chunked with a trailer", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked\r\n\r\n1\r\na\r\n0\r\nX-T: 1\r\n\r\n", State::kDone, 0, "a"},
      {"hexadecimal chunk size", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked\r\n\r\nA\r\n0123456789\r\n0\r\n\r\n", State::kDone, 0, "0123456789"},
      {"HTTP/1.0 without Host", "GET / HTTP/1.0\r\n\r\n", State::kDone, 0, ""},
      {"TE and CL together", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked\r\nContent-Length: 3\r\n\r\n", State::kFailed, 400, ""},
      {"CL and TE together", "POST / HTTP/1.1\r\n" + h + "Content-Length: 3\r\nTransfer-Encoding: chunked\r\n\r\n", State::kFailed, 400, ""},
      {"two different Content-Length", "POST / HTTP/1.1\r\n" + h + "Content-Length: 3\r\nContent-Length: 10\r\n\r\n", State::kFailed, 400, ""},
      {"two equal Content-Length", "POST / HTTP/1.1\r\n" + h + "Content-Length: 3\r\nContent-Length: 3\r\n\r\n", State::kFailed, 400, ""},
      {"Content-Length list", "POST / HTTP/1.1\r\n" + h + "Content-Length: 3, 3\r\n\r\n", State::kFailed, 400, ""},
      {"Content-Length 3abc", "POST / HTTP/1.1\r\n" + h + "Content-Length: 3abc\r\n\r\n", State::kFailed, 400, ""},
      {"Content-Length +3", "POST / HTTP/1.1\r\n" + h + "Content-Length: +3\r\n\r\n", State::kFailed, 400, ""},
      {"Content-Length -1", "POST / HTTP/1.1\r\n" + h + "Content-Length: -1\r\n\r\n", State::kFailed, 400, ""},
      {"Content-Length empty", "POST / HTTP/1.1\r\n" + h + "Content-Length: \r\n\r\n", State::kFailed, 400, ""},
      {"Content-Length over the limit", "POST / HTTP/1.1\r\n" + h + "Content-Length: 17\r\n\r\n", State::kFailed, 413, ""},
      {"Content-Length at the limit", "POST / HTTP/1.1\r\n" + h + "Content-Length: 16\r\n\r\n" + std::string(16, 'x'), State::kDone, 0, std::string(16, 'x')},
      {"Content-Length of 30 digits", "POST / HTTP/1.1\r\n" + h + "Content-Length: 999999999999999999999999999999\r\n\r\n", State::kFailed, 413, ""},
      {"chunk data longer than its size", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked\r\n\r\n3\r\nabcXYZ\r\n0\r\n\r\n", State::kFailed, 400, ""},
      {"chunk size 0x3", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked\r\n\r\n0x3\r\nabc\r\n0\r\n\r\n", State::kFailed, 400, ""},
      {"chunk size with a leading space", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked\r\n\r\n 3\r\nabc\r\n0\r\n\r\n", State::kFailed, 400, ""},
      {"chunk size with a trailing space", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked\r\n\r\n3 \r\nabc\r\n0\r\n\r\n", State::kFailed, 400, ""},
      {"chunk size -2", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked\r\n\r\n-2\r\nab\r\n0\r\n\r\n", State::kFailed, 400, ""},
      {"chunk size 2^64-2", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked\r\n\r\nfffffffffffffffe\r\n", State::kFailed, 413, ""},
      {"chunked total over the limit", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked\r\n\r\n9\r\n123456789\r\n8\r\n", State::kFailed, 413, ""},
      {"gzip, chunked", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: gzip, chunked\r\n\r\n", State::kFailed, 501, ""},
      {"chunked, chunked", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: chunked, chunked\r\n\r\n", State::kFailed, 501, ""},
      {"coding not ending in chunked", "POST / HTTP/1.1\r\n" + h + "Transfer-Encoding: gzip\r\n\r\n", State::kFailed, 400, ""},
      {"TE in HTTP/1.0", "POST / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n", State::kFailed, 400, ""},
      {"gzip body", "POST / HTTP/1.1\r\n" + h + "Content-Encoding: gzip\r\nContent-Length: 1\r\n\r\nx", State::kFailed, 415, ""},
      {"identity body", "POST / HTTP/1.1\r\n" + h + "Content-Encoding: identity\r\nContent-Length: 1\r\n\r\nx", State::kDone, 0, "x"},
      {"space in the target", "GET /a b HTTP/1.1\r\n" + h + "\r\n", State::kFailed, 400, ""},
      {"two spaces after the method", "GET  / HTTP/1.1\r\n" + h + "\r\n", State::kFailed, 400, ""},
      {"target not a path", "GET x HTTP/1.1\r\n" + h + "\r\n", State::kFailed, 400, ""},
      {"HTTP/2.0", "GET / HTTP/2.0\r\n" + h + "\r\n", State::kFailed, 505, ""},
      {"no version", "GET /\r\n" + h + "\r\n", State::kFailed, 400, ""},
      {"method not a token", "G(T / HTTP/1.1\r\n" + h + "\r\n", State::kFailed, 400, ""},
      {"HTTP/1.1 without Host", "GET / HTTP/1.1\r\n\r\n", State::kFailed, 400, ""},
      {"two Host fields", "GET / HTTP/1.1\r\n" + h + h + "\r\n", State::kFailed, 400, ""},
      {"folded header line", "GET / HTTP/1.1\r\n" + h + "X: a\r\n b\r\n\r\n", State::kFailed, 400, ""},
      {"space before the colon", "GET / HTTP/1.1\r\n" + h + "X : a\r\n\r\n", State::kFailed, 400, ""},
      {"header line without a colon", "GET / HTTP/1.1\r\n" + h + "X\r\n\r\n", State::kFailed, 400, ""},
      {"NUL in a header value", "GET / HTTP/1.1\r\n" + h + std::string("X: a\0b\r\n\r\n", 10), State::kFailed, 400, ""},
      {"bare CR in a header value", "GET / HTTP/1.1\r\n" + h + "X: a\rb\r\n\r\n", State::kFailed, 400, ""},
      {"Expect other than 100-continue", "POST / HTTP/1.1\r\n" + h + "Expect: 200-ok\r\n\r\n", State::kFailed, 417, ""},
  };
  for (const Framing_Row &row : rows) {
    for (const bool bytewise : {false, true}) {
      SCOPED_TRACE(std::string(row.name) + (bytewise ? " (byte by byte)" : ""));
      const Parsed p = bytewise ? Parse_Bytewise(row.bytes) : Parse(row.bytes);
      ASSERT_EQ(p.state, row.state) << p.error.message;
      if (row.state == State::kFailed) {
        EXPECT_EQ(p.error.status, row.status) << p.error.message;
      }
      if (row.state == State::kDone) {
        EXPECT_EQ(p.request.body, row.body);
        EXPECT_EQ(p.used, row.bytes.size());
      }
    }
  }
}

TEST(Request_Framing, PipelinedRequestsAreTakenOneAtATime) {
  const std::string first = "POST /a HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nGET";
  const std::string second = "GET /b?x=1 HTTP/1.1\r\nHost: x\r\n\r\n";
  const std::string bytes = first + second;
  Request_Parser parser(Small_Limits());
  size_t used = 0;
  ASSERT_EQ(parser.Feed(bytes.data(), bytes.size(), &used), State::kDone);
  EXPECT_EQ(used, first.size());
  EXPECT_EQ(parser.Request().body, "GET");
  parser.Reset();
  size_t used2 = 0;
  ASSERT_EQ(parser.Feed(bytes.data() + used, bytes.size() - used, &used2), State::kDone);
  EXPECT_EQ(used2, second.size());
  EXPECT_EQ(parser.Request().path, "/b");
  EXPECT_EQ(parser.Request().query, "x=1");
}

TEST(Request_Framing, ConnectionAndExpectFields) {
  EXPECT_TRUE(Parse("GET / HTTP/1.1\r\nHost: x\r\n\r\n").request.keep_alive);
  EXPECT_FALSE(Parse("GET / HTTP/1.1\r\nHost: x\r\nConnection: Close\r\n\r\n").request.keep_alive);
  EXPECT_FALSE(Parse("GET / HTTP/1.0\r\n\r\n").request.keep_alive);
  EXPECT_TRUE(Parse("GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n").request.keep_alive);
  EXPECT_FALSE(Parse("GET / HTTP/1.0\r\nConnection: keep-alive, close\r\n\r\n").request.keep_alive);
  Request_Parser parser(Small_Limits());
  const std::string head = "POST / HTTP/1.1\r\nHost: x\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\n";
  size_t used = 0;
  ASSERT_EQ(parser.Feed(head.data(), head.size(), &used), State::kIncomplete);
  EXPECT_TRUE(parser.Request().expect_continue);
  EXPECT_TRUE(parser.Awaiting_Body());
  ASSERT_EQ(parser.Feed("ab", 2, &used), State::kDone);
  EXPECT_FALSE(parser.Awaiting_Body());
}

TEST(Request_Framing, PathIsDecodedAndTheQueryKeptAsSent) {
  const Parsed p = Parse("GET /v1/w%6Frd?a=%41+b HTTP/1.1\r\nHost: x\r\n\r\n");
  ASSERT_EQ(p.state, State::kDone);
  EXPECT_EQ(p.request.method, "GET");
  EXPECT_EQ(p.request.path, "/v1/word");
  EXPECT_EQ(p.request.query, "a=%41+b");
  ASSERT_NE(p.request.Header("host"), nullptr);
  EXPECT_EQ(*p.request.Header("host"), "x");
}

// A part over its limit is refused as soon as the limit is passed, with
// at most the limit (and its line end) kept: a line never sent whole costs
// no more than that.
TEST(Request_Limits, EachLimitIsAnsweredWithItsStatusOnceItsBytesArePast) {
  Request_Limits limits;
  limits.request_line = 64;
  limits.header_count = 4;
  limits.header_bytes = 128;
  limits.body = 16;
  limits.chunk_line = 16;
  struct Row {
    const char *name;
    std::string head;   // sent first
    std::string flood;  // then repeated until the parser refuses
    int status;
  };
  const std::vector<Row> rows = {
      {"request line", "GET /", "a", 414},
      {"blank lines", "", "\r\n", 400},
      {"one header line", "GET / HTTP/1.1\r\nX: ", "a", 431},
      {"header count", "GET / HTTP/1.1\r\n", "A: 1\r\n", 431},
      {"header bytes", "GET / HTTP/1.1\r\n", "Abc: 123456789\r\n", 431},
      {"chunk-size line", "POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n1;", "a", 400},
      {"chunked body", "POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n", "1\r\na\r\n", 413},
      {"trailer fields", "POST / HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n", "T: 1\r\n", 431},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.name);
    Request_Parser parser(limits);
    size_t used = 0;
    ASSERT_EQ(parser.Feed(row.head.data(), row.head.size(), &used), State::kIncomplete);
    size_t sent = row.head.size();
    State state = State::kIncomplete;
    while (state == State::kIncomplete && sent < 100000) {
      state = parser.Feed(row.flood.data(), row.flood.size(), &used);
      sent += row.flood.size();
    }
    ASSERT_EQ(state, State::kFailed);
    EXPECT_EQ(parser.Error().status, row.status) << parser.Error().message;
    EXPECT_LE(sent, row.head.size() + 300) << "refused only after " << sent << " bytes";
  }
}

// Blank lines count against the limit however the reads cut them: with
// each CR and its LF in reads of their own, as with both in one.
TEST(Request_Limits, BlankLinesCutBetweenCrAndLfCountAsWhole) {
  Request_Limits limits;
  limits.request_line = 64;
  for (const bool apart : {false, true}) {
    SCOPED_TRACE(apart ? "CR and LF apart" : "CR LF together");
    Request_Parser parser(limits);
    size_t used = 0, sent = 0;
    State state = State::kIncomplete;
    while (state == State::kIncomplete && sent < 100000) {
      if (apart) {
        state = parser.Feed("\r", 1, &used);
        if (state == State::kIncomplete) state = parser.Feed("\n", 1, &used);
      } else {
        state = parser.Feed("\r\n", 2, &used);
      }
      sent += 2;
    }
    ASSERT_EQ(state, State::kFailed);
    EXPECT_EQ(parser.Error().status, 400) << parser.Error().message;
    EXPECT_LE(sent, limits.request_line + 2);
  }
}

TEST(Form_Syntax, PairsSplitAtTheFirstEqualsSign) {
  using Pairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(Parse_Form("q=E=mc2&format=json"), (Pairs{{"q", "E=mc2"}, {"format", "json"}}));
  EXPECT_EQ(Parse_Form("word=9787111123453=x"), (Pairs{{"word", "9787111123453=x"}}));
  EXPECT_EQ(Parse_Form("=x"), (Pairs{{"", "x"}}));
  EXPECT_EQ(Parse_Form("a&&b="), (Pairs{{"a", ""}, {"b", ""}}));
  EXPECT_EQ(Parse_Form("a+b=%41%42+c"), (Pairs{{"a b", "AB c"}}));
  EXPECT_EQ(Parse_Form("w=%"), (Pairs{{"w", "%"}}));
  EXPECT_EQ(Parse_Form("w=%G1%4"), (Pairs{{"w", "%G1%4"}}));
  EXPECT_EQ(Parse_Form("w=ab%uD800cd"), (Pairs{{"w", "ab%uD800cd"}}));
  EXPECT_EQ(Parse_Form("w=%00"), (Pairs{{"w", std::string(1, '\0')}}));
  EXPECT_EQ(Percent_Decode("/a+b%2F", false), "/a+b/");
}

TEST(Printable, RequestBytesAreEscapedAndCut) {
  EXPECT_EQ(Printable("word"), "word");
  EXPECT_EQ(Printable("w\xFFrd"), "w\\xFFrd");
  EXPECT_EQ(Printable("\xE8\xAE"), "\\xE8\\xAE");
  EXPECT_EQ(Printable("\xE8\xAE\xA1"), "\xE8\xAE\xA1");
  EXPECT_EQ(Printable("a\nb"), "a\\x0Ab");
  EXPECT_EQ(Printable("a\\b"), "a\\\\b");
  EXPECT_EQ(Printable("abcdef", 3), "abc...");
}

// ---------------------------------------------------------------- query documents

const std::string kHead = "<?xml version=\"1.0\" encoding=\"gb2312\" standalone=\"yes\" ?>\n<IR>\n<Sentence>";
const std::string kFull_Text = "\xC8\xAB\xCE\xC4";  // 全文

// A document as the library writes it: for each word its label, or a
// prefix with its label and the rest as full text.
struct Doc_Word {
  std::string text, label;
  size_t prefix = 0;
};

std::string Document(const std::string &query, const std::vector<Doc_Word> &words) {
  std::string doc = kHead + query + "</Sentence>\n<Items>\n";
  for (const Doc_Word &w : words) {
    if (w.prefix == 0) {
      doc += "\t<Word p=\"" + w.label + "\">" + w.text + "</Word>\n";
    } else {
      doc += "\t<Word p=\"" + w.label + "\">" + w.text.substr(0, w.prefix) + "</Word>\n";
      doc += "\t<Word p=\"" + kFull_Text + "\">" + w.text.substr(w.prefix) + "</Word>\n";
    }
  }
  return doc + "</Items>\n</IR>";
}

// The words of a query each as full text.
std::vector<Doc_Word> Full_Text_Words(const std::string &query) {
  std::vector<Doc_Word> words;
  size_t start = 0;
  for (;;) {
    const size_t space = query.find(' ', start);
    words.push_back({query.substr(start, space - start), kFull_Text, 0});
    if (space == std::string::npos) return words;
    start = space + 1;
  }
}

std::vector<std::string> Item_Words(const nlohmann::json &items) {
  std::vector<std::string> out;
  for (const auto &item : items) out.push_back(item["word"].get<std::string>() + "#" + std::to_string(item["word_index"].get<int>()));
  return out;
}

TEST(Document_Items, ItemsFollowTheQueryWords) {
  nlohmann::json items;
  ASSERT_TRUE(Document_Items("ab 12", Document("ab 12", {{"ab", "ISBN"}, {"12", "CN"}}), &items));
  EXPECT_EQ(Item_Words(items), (std::vector<std::string>{"ab#0", "12#1"}));
  EXPECT_EQ(items[1]["label"], "CN");
  ASSERT_TRUE(Document_Items("abcd", Document("abcd", {{"abcd", "X", 2}}), &items));
  EXPECT_EQ(Item_Words(items), (std::vector<std::string>{"ab#0", "cd#0"}));
  EXPECT_EQ(items[1]["label"], "全文");
  ASSERT_TRUE(Document_Items("", Document("", {}), &items));
  EXPECT_TRUE(items.empty());
  ASSERT_TRUE(Document_Items("a  b", Document("a  b", Full_Text_Words("a  b")), &items));
  EXPECT_EQ(Item_Words(items), (std::vector<std::string>{"a#0", "#1", "b#2"}));
}

TEST(Document_Items, MarkupInTheQueryNeitherForgesNorHidesAnItem) {
  for (const std::string &query : {std::string("</Sentence>\n<Items>\n\t<Word p=\"ISBN\">x</Word>\n"),
                                  std::string("a</Word>\n\t<Word p=\"ISBN\">b"),
                                  std::string("a</Word>\n\t<Word p=\"ISBN\">b c"), std::string("</Items>\n</IR>")}) {
    SCOPED_TRACE(query);
    const std::vector<Doc_Word> words = Full_Text_Words(query);
    nlohmann::json items;
    ASSERT_TRUE(Document_Items(query, Document(query, words), &items));
    ASSERT_EQ(items.size(), words.size());
    for (size_t i = 0; i < words.size(); ++i) {
      EXPECT_EQ(items[i]["word"], words[i].text);
      EXPECT_EQ(items[i]["label"], "全文");
    }
  }
}

TEST(Document_Items, ADocumentThatDoesNotFitItsQueryIsRefused) {
  nlohmann::json items;
  const std::string doc = Document("ab", {{"ab", "X"}});
  EXPECT_FALSE(Document_Items("ab", doc.substr(0, doc.size() - 1), &items));
  EXPECT_FALSE(Document_Items("ab", doc + "x", &items));
  EXPECT_FALSE(Document_Items("ac", doc, &items));
  EXPECT_FALSE(Document_Items("ab c", doc, &items));
  EXPECT_TRUE(items.empty());
}

// ---------------------------------------------------------------- essay spans

TEST(Essay_Json, SpansAreBytesOfTheTextAsSent) {
  // U+30FB maps to the GB2312 middle dot, which maps back to U+00B7: the
  // spans and the text still follow what was sent.
  const std::string sent = "a\xE3\x83\xBB" "b\xE2\x80\x95";  // a・b―
  std::string gb;
  ASSERT_TRUE(gb::Utf8_To_Gb(sent, &gb));
  ASSERT_EQ(gb.size(), 6u);
  const std::vector<Essay_Word> words = {{0, 1, 42}, {1, 3, 41}, {3, 4, 42}, {4, 6, 41}};
  const nlohmann::json items = nlohmann::json::parse(Essay_Json(sent, gb, words, Charset::kUtf8))["words"];
  ASSERT_EQ(items.size(), 4u);
  const size_t starts[] = {0, 1, 4, 5}, ends[] = {1, 4, 5, 8};
  for (size_t i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(items[i]["start"], starts[i]);
    EXPECT_EQ(items[i]["end"], ends[i]);
    EXPECT_EQ(items[i]["char_start"], i);
    EXPECT_EQ(items[i]["char_end"], i + 1);
    EXPECT_EQ(items[i]["text"], sent.substr(starts[i], ends[i] - starts[i]));
    EXPECT_EQ(items[i]["tag_name"], i % 2 ? "punctuation" : "tag42");
  }
  const nlohmann::json raw = nlohmann::json::parse(Essay_Json(gb, gb, words, Charset::kGb2312))["words"];
  EXPECT_EQ(raw[1]["start"], 1);
  EXPECT_EQ(raw[1]["end"], 3);
  EXPECT_EQ(raw[3]["end"], 6);
  EXPECT_EQ(raw[1]["text"], "\xC2\xB7");  // the GB2312 middle dot, given back as UTF-8
}

struct Json_Row {
  const char *name;
  std::string sent;
  Charset charset;
};

// The answer is written by hand for speed; it must be the bytes the JSON
// library writes for the same values (fields in name order, its escapes),
// which is what the service answered before and what its clients compare.
TEST(Essay_Json, IsTheJsonLibrarysOwnFormOfTheSameValues) {
  const std::vector<Json_Row> rows = {
      {"plain ASCII", "abc def", Charset::kUtf8},
      {"quote and backslash", "say \"a\\b\"", Charset::kUtf8},
      {"short escapes", "a\bb\tc\nd\fe\rf", Charset::kUtf8},
      {"other control characters", std::string("a\x01" "b\x1f" "c\x0b" "d", 7), Charset::kUtf8},
      {"DEL is not escaped", "a\x7f" "b", Charset::kUtf8},
      {"Chinese", "\xE7\x8E\x8B\xE5\xB0\x8F\xE6\x98\x8E\xE5\x9C\xA8\xE5\x8C\x97\xE4\xBA\xAC", Charset::kUtf8},
      {"GB2312 bytes sent", "\xCD\xF5\xD0\xA1\xC3\xF7\"\n", Charset::kGb2312},
      {"a GB2312 lead byte at the end", "ab\xCD", Charset::kGb2312},
      {"empty", "", Charset::kUtf8},
  };
  for (const Json_Row &row : rows) {
    SCOPED_TRACE(row.name);
    std::string gb = row.sent;
    if (row.charset == Charset::kUtf8) {
      ASSERT_TRUE(gb::Utf8_To_Gb(row.sent, &gb));
    }
    // Every character a word of its own, and the whole text as one word.
    std::vector<Essay_Word> each, whole;
    for (size_t at = 0; at < gb.size();) {
      const size_t next = at + gb::Char_Length(gb.data() + at, gb.size() - at);
      each.push_back({at, next, static_cast<int16_t>(each.size() % 45)});
      at = next;
    }
    if (!gb.empty()) whole.push_back({0, gb.size(), 23});
    for (const auto *words : {&each, &whole}) {
      const std::string out = Essay_Json(row.sent, gb, *words, row.charset);
      const nlohmann::json parsed = nlohmann::json::parse(out);
      EXPECT_EQ(parsed.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), out);
      EXPECT_EQ(parsed["words"].size(), words->size());
    }
  }
}

// ---------------------------------------------------------------- the request log

TEST(Log_Queue, AReaderThatNeverReadsCostsDroppedLinesNotAWait) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  {
    Log_Queue log(fds[1], 8);
    // Far more than the pipe and the queue hold together.
    for (int i = 0; i < 20000; ++i) log.Push(std::string(1000, 'x') + "\n");
    EXPECT_GT(log.Dropped(), 0u);
    log.Stop(0);
    EXPECT_GE(log.Dropped() + 70, 20000u);  // a 64 KiB pipe takes at most 65 lines
  }
  close(fds[0]);
  close(fds[1]);
}

TEST(Log_Queue, LinesArriveWholeAndInOrderAndFailedWritesAreCounted) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  {
    Log_Queue log(fds[1], 64);
    for (int i = 0; i < 10; ++i) log.Push(std::to_string(i) + "\n");
    log.Push(std::string(2 * Log_Queue::kMax_Line, 'y') + "\n");
    log.Stop(5000);
    EXPECT_EQ(log.Dropped(), 0u);
    EXPECT_EQ(log.Write_Errors(), 0u);
  }
  close(fds[1]);
  std::string got;
  char buf[8192];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) got.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  EXPECT_EQ(got, "0\n1\n2\n3\n4\n5\n6\n7\n8\n9\n" + std::string(Log_Queue::kMax_Line - 1, 'y') + "\n");

  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);  // the reader went away
  signal(SIGPIPE, SIG_IGN);
  {
    Log_Queue log(fds[1], 64);
    log.Push("lost\n");
    log.Stop(5000);
    EXPECT_EQ(log.Write_Errors(), 1u);
  }
  close(fds[1]);
}

// --- a new worker's wait for its copy --------------------------------------------

// Answers the states in turn, the last one for good, and counts the calls.
struct Scripted_State {
  std::vector<int32_t> states;
  int calls = 0;
  int32_t operator()() {
    const size_t at = std::min(static_cast<size_t>(calls), states.size() - 1);
    ++calls;
    return states[at];
  }
};

struct Wait_Row {
  const char *name;
  std::vector<int32_t> states;
  int wait_ms;
  Copy_Outcome outcome;
  int calls;  // exactly, or at least when negative
};

TEST(Copy_Wait, EachStateEndsTheWaitAsItSays) {
  const int32_t kUnknown = 7;
  const Wait_Row rows[] = {
      {"ready at once", {KARVEL_COPY_READY}, 1000, Copy_Outcome::kReady, 1},
      {"read, then ready", {KARVEL_COPY_READING, KARVEL_COPY_READING, KARVEL_COPY_READY}, 10000, Copy_Outcome::kReady, 3},
      {"off", {KARVEL_COPY_OFF}, 1000, Copy_Outcome::kOff, 1},
      {"read, then failed", {KARVEL_COPY_READING, KARVEL_COPY_FAILED}, 10000, Copy_Outcome::kFailed, 2},
      {"a state not known is waited through", {kUnknown, KARVEL_COPY_READY}, 10000, Copy_Outcome::kReady, 2},
      {"still read past the wait", {KARVEL_COPY_READING}, 60, Copy_Outcome::kNotReady, -2},
      {"no wait: asked once, to start the read", {KARVEL_COPY_READING}, 0, Copy_Outcome::kNotAwaited, 1},
      {"no wait, ready already", {KARVEL_COPY_READY}, 0, Copy_Outcome::kReady, 1},
      {"no wait, failed already", {KARVEL_COPY_FAILED}, 0, Copy_Outcome::kFailed, 1},
      {"a negative wait is no wait", {KARVEL_COPY_READING}, -5, Copy_Outcome::kNotAwaited, 1},
  };
  for (const Wait_Row &row : rows) {
    Scripted_State script{row.states};
    const Copy_Outcome outcome = Wait_For_Copy(std::ref(script), row.wait_ms, -1);
    EXPECT_EQ(outcome, row.outcome) << row.name;
    if (row.calls >= 0)
      EXPECT_EQ(script.calls, row.calls) << row.name;
    else
      EXPECT_GE(script.calls, -row.calls) << row.name << ": asked again while it waits";
  }
}

// The deadline passes while the state is being asked (a slow call): the
// wait ends there, rather than pausing for a time computed below zero.
TEST(Copy_Wait, ADeadlinePassedDuringAQuestionEndsTheWait) {
  int calls = 0;
  const auto slow_state = [&] {
    ++calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    return KARVEL_COPY_READING;
  };
  EXPECT_EQ(Wait_For_Copy(slow_state, 1, -1), Copy_Outcome::kNotReady);
  EXPECT_EQ(calls, 1);
}

// Writes what a signalfd would give for `signo` to the pipe `fd`.
void Send_Signal_Info(int fd, int signo) {
  signalfd_siginfo info{};
  info.ssi_signo = static_cast<uint32_t>(signo);
  ASSERT_EQ(::write(fd, &info, sizeof info), static_cast<ssize_t>(sizeof info));
}

TEST(Copy_Wait, StopSignalsEndTheWaitAndOthersAreIgnored) {
  struct Signal_Row {
    const char *name;
    int signo;
    Copy_Outcome outcome;
  };
  const Signal_Row rows[] = {
      {"SIGTERM", SIGTERM, Copy_Outcome::kStopped},
      {"SIGINT", SIGINT, Copy_Outcome::kStopped},
      {"SIGHUP is no stop", SIGHUP, Copy_Outcome::kNotReady},
  };
  for (const Signal_Row &row : rows) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    Send_Signal_Info(fds[1], row.signo);
    Scripted_State script{{KARVEL_COPY_READING}};
    EXPECT_EQ(Wait_For_Copy(std::ref(script), 200, fds[0]), row.outcome) << row.name;
    close(fds[0]);
    close(fds[1]);
  }
}

TEST(Copy_Wait, OnlyAReloadsWorkerWhoseCopyIsNotReadyStandsDown) {
  struct Serve_Row {
    Worker_Role role;
    Worker_Report report;
    bool serves;
  };
  const auto r = [](int32_t init, Copy_Outcome copy) { return Worker_Report{init, static_cast<int32_t>(copy)}; };
  const Worker_Role kRoles[] = {Worker_Role::kFirst, Worker_Role::kReload, Worker_Role::kReplacement};
  std::vector<Serve_Row> rows;
  for (const Worker_Role role : kRoles) {
    const bool reload = role == Worker_Role::kReload;
    rows.push_back({role, r(0, Copy_Outcome::kReady), true});
    rows.push_back({role, r(0, Copy_Outcome::kOff), true});
    rows.push_back({role, r(0, Copy_Outcome::kFailed), !reload});
    rows.push_back({role, r(0, Copy_Outcome::kNotAwaited), true});
    rows.push_back({role, r(0, Copy_Outcome::kNotReady), !reload});
    rows.push_back({role, r(0, Copy_Outcome::kStopped), false});
    rows.push_back({role, r(-3, Copy_Outcome::kReady), false});
    rows.push_back({role, r(kNo_Trace_Directory, Copy_Outcome::kNotAwaited), false});
  }
  for (const Serve_Row &row : rows)
    EXPECT_EQ(Worker_Serves(row.role, row.report), row.serves)
        << "role " << static_cast<int>(row.role) << ", init " << row.report.init << ", copy " << row.report.copy;
}

struct Route_Row {
  const char *name;
  std::string path;
  bool playground, empty_handler;
  bool found;
  Route route;
};

TEST(Routes, EachPathFindsItsEndpointOnlyWhenSwitchedOn) {
  const std::vector<Route_Row> rows = {
      {"the page at /", "/", true, false, true, Route::kPlayground},
      {"the page at /playground", "/playground", true, false, true, Route::kPlayground},
      {"/ with the page off", "/", false, false, false, Route::kWord},
      {"/playground with the page off", "/playground", false, false, false, Route::kWord},
      {"the library's endpoints with the page off", "/v1/word", false, false, true, Route::kWord},
      {"search with the page off", "/v1/search", false, false, true, Route::kSearch},
      {"essay with the page on", "/v1/essay", true, false, true, Route::kEssay},
      {"batch", "/v1/batch", true, false, true, Route::kBatch},
      {"health", "/healthz", true, false, true, Route::kHealthz},
      {"metrics", "/metrics", true, false, true, Route::kMetrics},
      {"the empty handler off", "/v1/empty", true, false, false, Route::kWord},
      {"the empty handler on", "/v1/empty", false, true, true, Route::kEmpty},
      {"a trailing slash is another path", "/playground/", true, false, false, Route::kWord},
      {"two slashes", "//", true, false, false, Route::kWord},
      {"an index file", "/index.html", true, false, false, Route::kWord},
      {"the empty path", "", true, false, false, Route::kWord},
      {"paths are matched in their case", "/Playground", true, false, false, Route::kWord},
      {"an endpoint with a trailing slash", "/v1/word/", true, false, false, Route::kWord},
      {"a prefix of an endpoint", "/v1/wor", true, false, false, Route::kWord},
  };
  for (const Route_Row &row : rows) {
    Settings settings;
    settings.playground = row.playground;
    settings.empty_handler = row.empty_handler;
    const Endpoint *e = Find_Endpoint(row.path, settings);
    EXPECT_EQ(e != nullptr, row.found) << row.name;
    if (e != nullptr && row.found) {
      EXPECT_EQ(e->route, row.route) << row.name;
      EXPECT_EQ(e->path, row.path) << row.name;
    }
  }
}

TEST(Routes, ThePageIsOnByDefaultAndTakesGetAlone) {
  const Settings defaults;
  const Endpoint *e = Find_Endpoint("/", defaults);
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->allow, "GET");
  ASSERT_NE(Find_Endpoint("/v1/essay", defaults), nullptr);
  EXPECT_STREQ(Find_Endpoint("/v1/essay", defaults)->allow, "GET, POST");
}

TEST(Playground_Page, IsTheSourceFileByteForByte) {
  std::ifstream in(TESQ_PLAYGROUND_SOURCE, std::ios::binary);
  ASSERT_TRUE(in) << TESQ_PLAYGROUND_SOURCE;
  const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(source.size(), 1000u);
  EXPECT_EQ(Playground_Page().size(), source.size());
  EXPECT_TRUE(Playground_Page() == source);
}

TEST(Playground_Page, IsOneDocumentThatNamesNoOtherHost) {
  const std::string_view page = Playground_Page();
  EXPECT_EQ(page.substr(0, 15), "<!DOCTYPE html>");
  EXPECT_NE(page.find("<meta charset=\"utf-8\">"), std::string_view::npos);
  for (const char *outside : {"http://", "https://", " src=", "<link", "@import", " url(", ":url("})
    EXPECT_EQ(page.find(outside), std::string_view::npos) << outside;
}

}  // namespace
}  // namespace serve
