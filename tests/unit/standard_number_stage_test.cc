// The standard-number stage: which validators a word's beginning selects, the
// labels and the capacity rule, through Word_Classify and both front ends.
#include <cstring>
#include <string>
#include <vector>

#include "classify/classify.h"
#include "core/library_state.h"
#include "guarded_text.h"
#include "tesqsrch/tesqsrch.h"
#include "test_support.h"

namespace {

using Standard_Number_Stage = Unit_Test;

const std::string kCn = "CN";
const std::string kIsbn = "ISBN";
const std::string kIssn = "ISSN";
std::string Patent() { return Gb("专利号"); }

struct Stage_Case {
  std::string word;
  std::string label;  // empty: no category (result 3)
};

// The words of the stage's table; none of them is in the term table.
std::vector<Stage_Case> Stage_Cases() {
  return {
      // CN prefix: CN serial, then patent, on the rest; nothing else.
      {"CN11-1234/G", kCn},
      {"cn11-1234/G", kCn},
      {"Cn111234", kCn},
      {"cN37-0001/TP", kCn},
      {"CN1234567", Patent()},
      {"cn1234567", Patent()},
      {"cN0000000", Patent()},
      {"CN", ""},
      {"cn", ""},
      {"C", ""},
      {"c", ""},
      {"CN11-0000", ""},
      {"CN12345678", ""},
      {"CN9787111123453", ""},  // an ISBN after CN is not tried as one
      {"CN7-111-12346-8", ""},
      {"CN1234-5679", ""},      // nor an ISSN
      {"CN11-1234/g", ""},
      {"CN 11-1234", ""},
      {"CNCN11-1234", ""},
      {"CX1234567", ""},
      // ISBN prefix: only Isbn_Check on the rest.
      {"ISBN7-111-12346-8", kIsbn},
      {"isbn9787111123453", kIsbn},
      {"IsBn711112345x", kIsbn},
      {"iSBN978-7-111-12345-3", kIsbn},
      {"ISBN", ""},
      {"ISB", ""},
      {"ISBN7-111-12346-9", ""},
      {"ISBN1234-5679", ""},   // a valid ISSN after ISBN is not tried as one
      {"ISBN11-1234", ""},     // nor a CN serial
      {"ISBN1234567", ""},     // nor a patent
      {"ISBN 7111123468", ""},
      {"ISBNISBN7111123468", ""},
      {"ISBN91-1-811692-2", ""},
      // ISSN prefix: only Issn_Check on the rest.
      {"ISSN1234-5679", kIssn},
      {"issn1234513x", kIssn},
      {"IsSn0000-0000", kIssn},
      {"ISSN", ""},
      {"ISS", ""},
      {"IS", ""},
      {"I", ""},
      {"i", ""},
      {"ISSN1234-5678", ""},
      {"ISSN7111123468", ""},  // a valid ISBN after ISSN is not tried as one
      {"ISSN11-1234", ""},
      {"ISSN1234567", ""},
      {"ISBX1234-5679", ""},
      // A leading digit: CN, patent, ISBN, ISSN on the whole word.
      {"11-1234/G", kCn},
      {"111234", kCn},
      {"123456", kCn},
      {"65-5999/Z", kCn},
      {"1234567", Patent()},
      {"1112345", Patent()},  // seven digits: not a CN serial, a patent
      {"7-111-12346-8", kIsbn},
      {"7111123468", kIsbn},
      {"71-11-12346-8", kIsbn},
      {"7-111-12345-X", kIsbn},
      {"978-7-111-12345-3", kIsbn},
      {"9787111123453", kIsbn},
      {"979-7-111-12345-2", kIsbn},
      {"1234-5679", kIssn},
      {"12345679", kIssn},
      {"1234-513X", kIssn},
      {"0000-0000", kIssn},
      {"00000000", kIssn},
      {"0000000000", ""},
      {"0-000-00000-0", ""},
      {"7-111-12346-9", ""},
      {"9777111123453", ""},
      {"978-711112345", ""},
      {"91-1-811692-2", ""},  // one-digit second group: outside the layouts
      {"711112346", ""},
      {"1234-5678", ""},
      {"12345-679", ""},
      {"11-6000", ""},
      {"10-1234", ""},
      {"123456a", ""},
      {"1", ""},
      {"0", ""},
      // Anything else: no validator.
      {"", ""},
      {"X111123468", ""},
      {"x", ""},
      {"a", ""},
      {"-7111123468", ""},
      {" 7111123468", ""},
      {"N1234567", ""},
      {"B7111123468", ""},
      {"\x80" "7111123468", ""},
      {"\x80", ""},
  };
}

TEST_F(Standard_Number_Stage, WordClassifyLabelsEachWordByItsBeginning) {
  Init_Library();
  for (const Stage_Case &c : Stage_Cases()) {
    Guarded_Text word(c.word);  // the stage must not read past the terminator
    char label[256];
    std::memset(label, '#', sizeof label);
    int32_t capacity = 255;
    uint32_t prefix = 99;
    const int32_t result = Word_Classify(word.c_str(), label, &capacity, &prefix);
    EXPECT_EQ(result, c.label.empty() ? 3 : 0) << c.word;
    EXPECT_EQ(capacity, 255) << c.word;
    EXPECT_EQ(prefix, 0u) << c.word;
    if (c.label.empty()) EXPECT_EQ(label[0], '#') << c.word << ": label untouched";
    else EXPECT_EQ(std::string(label), c.label) << c.word;
  }
  EXPECT_EQ(fake::Vornel().segment_calls, 0) << "ASCII words never reach the segmenter";
}

TEST_F(Standard_Number_Stage, StageOnItsOwnAtTheEdgeOfMemory) {
  Init_Library();
  // The one- to four-byte beginnings of every prefix, each ending at a guard
  // page: a word "C" must not make the stage read its second byte's successor.
  for (const char *prefix : {"CN", "cn", "ISBN", "isbn", "ISSN", "issn", "7", "1"}) {
    const std::string whole = prefix;
    for (size_t length = 0; length <= whole.size(); ++length) {
      Guarded_Text word(whole.substr(0, length));
      EXPECT_EQ(Standard_Number_Classify(word.c_str()).result, kClassifyNoCategory) << whole.substr(0, length);
    }
  }
}

struct Capacity_Case {
  std::string word;
  int32_t capacity;
  int32_t result;
  int32_t capacity_after;
  std::string label;  // on result 0
};

TEST_F(Standard_Number_Stage, CapacityRule) {
  Init_Library();
  const std::vector<Capacity_Case> cases = {
      {"CN11-1234", 0, 1, 3, ""},      {"CN11-1234", 2, 1, 3, ""},      {"CN11-1234", 3, 0, 3, kCn},
      {"11-1234/G", 2, 1, 3, ""},      {"11-1234/G", 255, 0, 255, kCn}, {"1234567", 6, 1, 7, ""},
      {"1234567", 7, 0, 7, Patent()},  {"cn1234567", 1, 1, 7, ""},      {"9787111123453", 4, 1, 5, ""},
      {"9787111123453", 5, 0, 5, kIsbn}, {"ISBN7111123468", 4, 1, 5, ""}, {"1234-5679", 4, 1, 5, ""},
      {"1234-5679", 5, 0, 5, kIssn},   {"issn1234-5679", 0, 1, 5, ""},  {"abc", 0, 3, 0, ""},
      {"ISBN1234-5679", 1, 3, 1, ""},  {"12345678", 2, 3, 2, ""},
  };
  for (const Capacity_Case &c : cases) {
    char label[256];
    std::memset(label, '#', sizeof label);
    int32_t capacity = c.capacity;
    uint32_t prefix = 42;
    EXPECT_EQ(Word_Classify(c.word.c_str(), label, &capacity, &prefix), c.result) << c.word << "/" << c.capacity;
    EXPECT_EQ(capacity, c.capacity_after) << c.word << "/" << c.capacity;
    EXPECT_EQ(prefix, 0u);
    if (c.result == 0) EXPECT_EQ(std::string(label), c.label) << c.word;
    else EXPECT_EQ(label[0], '#') << c.word << ": label untouched";
  }
}

TEST_F(Standard_Number_Stage, BeforeTheRegionTableIsFilledNoWordIsACnSerial) {
  int32_t saved[66];
  std::memcpy(saved, Region_Table, sizeof saved);
  std::memset(Region_Table, 0, sizeof Region_Table);  // as at load, before Tesquin_Init
  const std::vector<Stage_Case> cases = {
      {"11-1234/G", ""}, {"111234", ""},         {"CN11-1234", ""},    {"cn65-5999/Z", ""},
      {"1234567", Patent()}, {"CN1234567", Patent()}, {"7111123468", kIsbn}, {"1234-5679", kIssn},
  };
  for (const Stage_Case &c : cases) {
    char label[256] = "";
    int32_t capacity = 255;
    uint32_t prefix = 0;
    const int32_t result = Word_Classify(c.word.c_str(), label, &capacity, &prefix);
    EXPECT_EQ(result, c.label.empty() ? 3 : 0) << c.word;
    if (result == 0) {
      EXPECT_EQ(std::string(label), c.label) << c.word;
    }
  }
  std::memcpy(Region_Table, saved, sizeof saved);
}

TEST_F(Standard_Number_Stage, TermTableLabelWinsOverTheValidators) {
  Init_Library();
  fake::Karvel().terms["CN11-1234"] = Gb("刊名");
  fake::Karvel().terms["1234-5679"] = "";
  char label[256];
  int32_t capacity = 255;
  uint32_t prefix = 0;
  EXPECT_EQ(Word_Classify("CN11-1234", label, &capacity, &prefix), 0);
  EXPECT_EQ(std::string(label), Gb("刊名"));
  EXPECT_EQ(Word_Classify("1234-5679", label, &capacity, &prefix), 0);
  EXPECT_EQ(std::string(label), "");
}

struct Single_Case {
  std::string word;
  uint32_t size;
  int32_t result;
  uint32_t size_after;
  std::string label;
};

TEST_F(Standard_Number_Stage, SinglewordFrontEnd) {
  Init_Library();
  // Every case of the stage's table with a roomy buffer...
  for (const Stage_Case &c : Stage_Cases()) {
    char out[64];
    std::memset(out, '#', sizeof out);
    uint32_t size = sizeof out;
    const int32_t result = Tesquin_Search_Singleword(c.word.c_str(), out, &size);
    EXPECT_EQ(result, c.label.empty() ? 3 : 0) << c.word;
    EXPECT_EQ(size, sizeof out) << c.word;
    if (c.label.empty()) EXPECT_EQ(out[0], '#') << c.word;
    else EXPECT_EQ(std::string(out), c.label) << c.word;
  }
  // ...and the size protocol for each label.
  const std::vector<Single_Case> cases = {
      {"CN11-1234/G", 2, 2, 3, ""},      {"CN11-1234/G", 3, 0, 3, kCn},     {"1234567", 6, 2, 7, ""},
      {"1234567", 7, 0, 7, Patent()},    {"ISBN7111123468", 4, 2, 5, ""},  {"7111123468", 5, 0, 5, kIsbn},
      {"ISSN1234-5679", 0, 2, 5, ""},    {"12345679", 5, 0, 5, kIssn},     {"12345678", 0, 3, 0, ""},
  };
  for (const Single_Case &c : cases) {
    char out[64];
    std::memset(out, '#', sizeof out);
    uint32_t size = c.size;
    EXPECT_EQ(Tesquin_Search_Singleword(c.word.c_str(), out, &size), c.result) << c.word << "/" << c.size;
    EXPECT_EQ(size, c.size_after) << c.word << "/" << c.size;
    if (c.result == 0) EXPECT_EQ(std::string(out), c.label) << c.word;
    else EXPECT_EQ(out[0], '#') << c.word;
  }
}

TEST_F(Standard_Number_Stage, QueryDocumentFrontEnd) {
  Init_Library();
  // All words of the stage's table in one query, except the empty word (two
  // spaces would make it) whose element is checked elsewhere.
  std::string query;
  std::string elements;
  std::vector<std::string> trace;
  for (const Stage_Case &c : Stage_Cases()) {
    if (c.word.empty() || c.word.find(' ') != std::string::npos) continue;
    if (!query.empty()) query += ' ';
    query += c.word;
    const std::string label = c.label.empty() ? Gb("全文") : c.label;
    elements += "\t<Word p=\"" + label + "\">" + c.word + "</Word>\n";
    trace.insert(trace.end(), {c.word, c.label, c.label.empty() ? "3" : "0"});
  }
  std::vector<char> buffer(1 << 16);
  uint32_t size = static_cast<uint32_t>(buffer.size());
  ASSERT_EQ(Tesquin_Search(query.c_str(), buffer.data(), &size), 0);
  const std::string expected = "<?xml version=\"1.0\" encoding=\"gb2312\" standalone=\"yes\" ?>\n<IR>\n<Sentence>" +
                               query + "</Sentence>\n<Items>\n" + elements + "</Items>\n</IR>";
  EXPECT_EQ(std::string(buffer.data()), expected);
  EXPECT_EQ(Trace_Lines(), trace);
}

}  // namespace
