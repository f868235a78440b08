// The library's work for the PostgreSQL extension, in plain C++ with no
// PostgreSQL header: UTF-8 text in, GB2312 to the library, tokens and labels
// back in UTF-8. Every function here is noexcept and reports failure by its
// result, so the glue that calls it can raise a PostgreSQL error after every
// C++ object is gone (an error there unwinds with longjmp, which runs no
// destructor).
#ifndef TESQ_PG_CORE_H
#define TESQ_PG_CORE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tesqpg {

// The token types of the text search parser, numbered as PostgreSQL sees
// them (1 upwards, in this order).
enum Kind : int {
  kPerson = 1, kPlace, kOrganisation, kFund, kIsbn, kIssn, kCn, kPatent, kTerm,
  kWord, kNumeral, kLatin, kBlank, kNo_Gb2312, kLast_Kind = kNo_Gb2312
};
// Alias and description of each kind, indexed by kind - 1.
const char *Kind_Alias(int kind);
const char *Kind_Description(int kind);

// A character without a GB2312 form, as the essay and the parser give it:
// a token of its own with this tag.
constexpr int kNo_Gb2312_Tag = -1;

// Starts the library once per process: sets the environment the library reads
// (an empty value leaves the library's default) and calls Tesquin_Init.
// With `term_copy`, lookups are answered from the library's copy of the term
// table once it is read (until then from the database), and a change of the
// table is seen within the copy's watch; the copy's thread takes no signal.
// Without it every lookup goes to the database, and no thread of the library
// runs in the process. Returns Tesquin_Init's result, or its remembered
// result on later calls: a failed start is not tried again in this process.
int32_t Start(const char *data_dir, const char *db, bool term_copy);
const char *Start_Failure(int32_t result);

// Why a text could not be given to the library.
struct Text_Fault {
  bool failed = false;
  std::string message;     // names the character and its place
  size_t char_offset = 0;  // in characters from the text's start
};

// The label of one word (UTF-8): 0 with *label set, 3 no category (NULL),
// 1 the library failed, -1 the word has no GB2312 form (*fault says why).
int Label(const char *text, size_t size, std::string *label, Text_Fault *fault) noexcept;

// One item of a query's analysis.
struct Item {
  int word_index;
  std::string word, label;  // UTF-8
};
// Tesquin_Search on a query (UTF-8): 0 with *items, 2 the library failed,
// -1 no GB2312 form (*fault), -2 the document could not be read back.
int Analyze(const char *text, size_t size, std::vector<Item> *items, Text_Fault *fault) noexcept;

// A token of an essay: its bytes and characters in the UTF-8 text, the
// segmenter's tag, the parser's kind as the tag gives it, and its bytes in
// the GB2312 piece it came from (none for a run without a GB2312 form).
struct Token {
  size_t byte_start, byte_end, char_start, char_end;
  int tag, kind;
  size_t gb_start, gb_end;
};

// Texts are segmented in pieces of at most this many GB2312 bytes: a
// token never exceeds a piece, and PostgreSQL keeps a token's length in 16
// bits.
constexpr size_t kPiece_Bytes = 32 * 1024;

struct Reader_Buffers;

// Walks a UTF-8 text piece by piece, so that the caller can take its
// interrupts between pieces and memory stays bounded by a piece. The text
// must outlive the reader. A backend walks every row of a table with a new
// reader, so the buffers of the last reader are kept for the next one: a
// row costs no allocation once the first rows have been read.
class Essay_Reader {
 public:
  Essay_Reader(const char *text, size_t size, size_t piece_bytes = kPiece_Bytes) noexcept;
  ~Essay_Reader();
  Essay_Reader(const Essay_Reader &) = delete;
  Essay_Reader &operator=(const Essay_Reader &) = delete;
  // Reads the next piece: 0 done (its tokens are Tokens()), 1 the text is at
  // its end (no tokens), -1 the library failed on the piece, -2 out of
  // memory.
  int Next() noexcept;
  // The tokens of the last piece read, in the order of the text.
  const std::vector<Token> &Tokens() const;
  // The kind of a token of the last piece once classified, so that standard
  // numbers, funds and known terms get their kinds: a lookup in the term
  // database for a word not met before, so the caller can take its
  // interrupts between tokens. -2 out of memory.
  int Classified_Kind(const Token &token) noexcept;
  const char *Text() const { return text_; }

 private:
  const char *text_;
  size_t size_, pos_ = 0, chars_ = 0, piece_bytes_;
  Reader_Buffers *buffers_ = nullptr;  // taken at the first piece
};

// A walk that classifies its words keeps each word's kind, so that a word met
// again costs no lookup in the term database (every lookup goes there in a
// backend, and costs far more than segmenting the word). What is kept holds
// until Forget_Kinds, which the glue calls at the end of every transaction so
// that a change of the term table is seen by the next one. At most
// kMost_Kept_Words words of at most kMost_Kept_Bytes bytes are kept; when
// full, the store starts afresh, so its memory stays bounded.
constexpr size_t kMost_Kept_Words = 65536;
constexpr size_t kMost_Kept_Bytes = 64;
void Forget_Kinds() noexcept;
// How many words are kept now.
size_t Kept_Kinds() noexcept;

// Renames the library's trace (as.txt in the current directory, the
// server's data directory) aside once it holds max_bytes or more, keeping
// `keep` old files: Tesquin_Search appends to it without a bound. False
// with *failure saying why when a rotation failed; a failure that goes on is
// told once, until a rotation succeeds again.
bool Rotate_Trace(uint64_t max_bytes, int keep, std::string *failure) noexcept;

// The name of a segmenter tag, as tesq essay prints it, into out (size bytes,
// NUL included, cut short if need be).
void Tag_Name(int tag, char *out, size_t size) noexcept;

}  // namespace tesqpg

#endif
