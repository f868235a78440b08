// Tesquin_Search (the query document and its trace) and
// Tesquin_Search_Singleword, through the fake services.
#include <filesystem>
#include <fstream>

#include <cstdio>
#include <cstring>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "tesqsrch/tesqsrch.h"
#include "test_support.h"

namespace {

using Query_Search = Unit_Test;
using Single_Word = Unit_Test;

const std::string kHead = "<?xml version=\"1.0\" encoding=\"gb2312\" standalone=\"yes\" ?>\n<IR>\n<Sentence>";
const std::string kSentenceEnd = "</Sentence>\n<Items>\n";
const std::string kTail = "</Items>\n</IR>";

std::string Element(const std::string &label, const std::string &word) {
  return "\t<Word p=\"" + label + "\">" + word + "</Word>\n";
}

std::string Document(const std::string &query, const std::string &elements) {
  return kHead + query + kSentenceEnd + elements + kTail;
}

// Runs Tesquin_Search once with a buffer large enough for any test query.
int32_t Search(const std::string &query, std::string *document) {
  std::vector<char> buffer(1 << 20, '#');
  uint32_t size = static_cast<uint32_t>(buffer.size());
  const int32_t result = Tesquin_Search(query.c_str(), buffer.data(), &size);
  if (result == 0) *document = buffer.data();
  return result;
}

TEST_F(Query_Search, AbcIsTheSevenLineDocumentOf137Bytes) {
  Init_Library();
  const std::string expected =
      "<?xml version=\"1.0\" encoding=\"gb2312\" standalone=\"yes\" ?>\n"
      "<IR>\n"
      "<Sentence>abc</Sentence>\n"
      "<Items>\n"
      "\t<Word p=\"\xC8\xAB\xCE\xC4\">abc</Word>\n"
      "</Items>\n"
      "</IR>";
  ASSERT_EQ(expected.size(), 137u);

  char small[137];
  std::memset(small, '#', sizeof small);
  uint32_t size = 137;
  EXPECT_EQ(Tesquin_Search("abc", small, &size), 1);
  EXPECT_EQ(size, 138u);
  EXPECT_EQ(small[0], '#') << "nothing copied when too small";

  char exact[138];
  size = 138;
  EXPECT_EQ(Tesquin_Search("abc", exact, &size), 0);
  EXPECT_EQ(size, 138u);
  EXPECT_EQ(std::string(exact), expected);
}

TEST_F(Query_Search, EmptyQueryHasNoElementsAndNoTrace) {
  Init_Library();
  std::string document;
  ASSERT_EQ(Search("", &document), 0);
  EXPECT_EQ(document.size(), 107u);
  EXPECT_EQ(document, Document("", ""));
  EXPECT_TRUE(Trace_Lines().empty());
  uint32_t size = 0;
  EXPECT_EQ(Tesquin_Search("", nullptr, &size), 1);
  EXPECT_EQ(size, 108u);
}

struct Split_Case {
  std::string query;
  std::vector<std::string> words;
};

TEST_F(Query_Search, EverySpaceEndsAWord) {
  Init_Library();
  const std::vector<Split_Case> cases = {
      {"a  b", {"a", "", "b"}},
      {"a ", {"a", ""}},
      {" a", {"", "a"}},
      {" ", {"", ""}},
      {"x y z", {"x", "y", "z"}},
  };
  for (const Split_Case &c : cases) {
    std::remove("as.txt");
    std::string document;
    ASSERT_EQ(Search(c.query, &document), 0) << c.query;
    std::string elements;
    std::vector<std::string> trace;
    for (const std::string &w : c.words) {
      elements += Element(Gb("全文"), w);
      trace.insert(trace.end(), {w, "", "3"});
    }
    EXPECT_EQ(document, Document(c.query, elements)) << "[" << c.query << "]";
    EXPECT_EQ(Trace_Lines(), trace) << "[" << c.query << "]";
  }
}

TEST_F(Query_Search, KnownTermsCarryTheirLabelsAndTheTraceShowsThem) {
  Init_Library();
  fake::Karvel().terms["abc"] = Gb("主题词");
  fake::Karvel().terms["a<b&\""] = "x\"y";  // nothing is escaped
  std::string document;
  ASSERT_EQ(Search("abc zzz a<b&\"", &document), 0);
  EXPECT_EQ(document, Document("abc zzz a<b&\"", Element(Gb("主题词"), "abc") + Element(Gb("全文"), "zzz") +
                                                     Element("x\"y", "a<b&\"")));
  EXPECT_EQ(Trace_Lines(), (std::vector<std::string>{"abc", Gb("主题词"), "0", "zzz", "", "3", "a<b&\"", "x\"y",
                                                     "0"}));
}

TEST_F(Query_Search, LongWordsAndLongDocumentsAreComplete) {
  Init_Library();
  // A word beyond the 255-byte word buffer, a statement beyond 128 bytes and a
  // document beyond 2,048 bytes all come out whole.
  const std::string long_word(300, 'q');
  fake::Karvel().terms[long_word] = "LONG";
  std::string query = long_word;
  std::string elements = Element("LONG", long_word);
  for (int i = 0; i < 200; ++i) {
    query += " w" + std::to_string(i);
    elements += Element(Gb("全文"), "w" + std::to_string(i));
  }
  std::string document;
  ASSERT_EQ(Search(query, &document), 0);
  EXPECT_GT(document.size(), 2048u);
  EXPECT_EQ(document, Document(query, elements));
}

TEST_F(Query_Search, NullArgumentsAreRefused) {
  Init_Library();
  uint32_t size = 100;
  char out[100];
  EXPECT_EQ(Tesquin_Search(nullptr, out, &size), 2);
  EXPECT_EQ(Tesquin_Search("abc", out, nullptr), 2);
  size = 500;
  EXPECT_EQ(Tesquin_Search("abc", nullptr, &size), 1);
  EXPECT_EQ(size, 138u);
}

// The kinds of as.txt the trace must not write through. Each is made in the
// scratch directory; `make` returns false where the system cannot make it.
struct Trace_Target_Case {
  const char *what;
  bool (*make)();
  const char *untouched;  // a file that must keep "kept\n", or that must not exist
  bool exists;
};

bool Make_Link_To_File() {
  std::ofstream("victim.txt") << "kept\n";
  std::error_code error;
  std::filesystem::create_symlink("victim.txt", "as.txt", error);
  return !error;
}

bool Make_Dangling_Link() {
  std::error_code error;
  std::filesystem::create_symlink("created.txt", "as.txt", error);
  return !error;
}

bool Make_Directory() { return std::filesystem::create_directory("as.txt"); }

bool Make_Fifo() {
#if defined(_WIN32)
  return false;
#else
  return ::mkfifo("as.txt", 0600) == 0;  // no reader: an open for writing would wait
#endif
}

TEST_F(Query_Search, TraceNeverFollowsALinkNorWritesANonRegularFile) {
  Init_Library();
  const Trace_Target_Case cases[] = {
      {"a link to a file", Make_Link_To_File, "victim.txt", true},
      {"a dangling link", Make_Dangling_Link, "created.txt", false},
      {"a directory", Make_Directory, nullptr, false},
      {"a FIFO", Make_Fifo, nullptr, false},
  };
  for (const Trace_Target_Case &c : cases) {
    if (!c.make()) {
      std::printf("skipped: %s cannot be made here\n", c.what);
      continue;
    }
    std::string document;
    EXPECT_EQ(Search("abc def", &document), 0) << c.what;
    EXPECT_EQ(document, Document("abc def", Element(Gb("全文"), "abc") + Element(Gb("全文"), "def"))) << c.what;
    if (c.untouched != nullptr) {
      if (c.exists) {
        EXPECT_EQ(Read_File(c.untouched), "kept\n") << c.what;
      } else {
        EXPECT_FALSE(std::filesystem::exists(c.untouched)) << c.what;
      }
    }
    const std::filesystem::file_status status = std::filesystem::symlink_status("as.txt");
    EXPECT_NE(status.type(), std::filesystem::file_type::regular) << c.what << ": as.txt was replaced";
    std::filesystem::remove("as.txt");
    if (c.untouched != nullptr) std::filesystem::remove(c.untouched);
  }
  // A regular as.txt is appended to again.
  std::string document;
  EXPECT_EQ(Search("abc", &document), 0);
  EXPECT_EQ(Trace_Lines(), (std::vector<std::string>{"abc", "", "3"}));
}

TEST_F(Query_Search, LineBreaksInAWordCannotForgeTraceRecords) {
  Init_Library();
  // Words are cut at spaces only, so a word may hold CR and LF; each is
  // traced as a space, and every word stays one record of three lines.
  const std::string forged = "abc\n" + Gb("刊名") + "\n0\nfake";
  fake::Karvel().terms["x\ry"] = "A\nB";  // and a label's line break too
  std::string document;
  ASSERT_EQ(Search(forged + " x\ry q\r\n", &document), 0);
  EXPECT_EQ(document, Document(forged + " x\ry q\r\n", Element(Gb("全文"), forged) + Element("A\nB", "x\ry") +
                                                              Element(Gb("全文"), "q\r\n")))
      << "the document keeps the words as they are";
  EXPECT_EQ(Trace_Lines(), (std::vector<std::string>{"abc " + Gb("刊名") + " 0 fake", "", "3", "x y", "A B", "0",
                                                     "q  ", "", "3"}));
}

struct Single_Case {
  const char *word;
  std::string stored;  // label in the table; empty: not in the table
  uint32_t size;
  int32_t result;
  uint32_t size_after;
};

TEST_F(Single_Word, ResultCodesAndTheSizeProtocol) {
  Init_Library();
  const std::vector<Single_Case> cases = {
      {"four", "ABCD", 4, 2, 5}, {"four", "ABCD", 5, 0, 5}, {"four", "ABCD", 0, 2, 5},
      {"none", "", 100, 3, 100}, {"", "", 100, 3, 100},
  };
  for (const Single_Case &c : cases) {
    fake::Karvel().terms.clear();
    if (!c.stored.empty()) fake::Karvel().terms[c.word] = c.stored;
    char out[256];
    std::memset(out, '#', sizeof out);
    uint32_t size = c.size;
    EXPECT_EQ(Tesquin_Search_Singleword(c.word, out, &size), c.result) << c.word << "/" << c.size;
    EXPECT_EQ(size, c.size_after);
    if (c.result == 0) EXPECT_EQ(std::string(out), c.stored);
    else EXPECT_EQ(out[0], '#') << "nothing written, not even a full-text label";
  }
  EXPECT_TRUE(Trace_Lines().empty()) << "the single-word front end writes no trace";
}

TEST_F(Single_Word, NullArguments) {
  Init_Library();
  uint32_t size = 10;
  char out[10];
  EXPECT_EQ(Tesquin_Search_Singleword(nullptr, out, &size), 1);
  EXPECT_EQ(Tesquin_Search_Singleword("x", out, nullptr), 1);
  fake::Karvel().terms["x"] = "LBL";
  EXPECT_EQ(Tesquin_Search_Singleword("x", nullptr, &size), 2);
  EXPECT_EQ(size, 4u);
}

}  // namespace
