// Option parsing and terminal text handling shared by the tesq subcommands.
//
// Options: "--name VALUE" and "--name=VALUE" for options that take a value,
// "--name" for flags, "-h" for "--help"; "--" ends the options; a lone "-"
// is a positional argument (standard input). Every subcommand describes its
// options in a table from which its help text is made, so the help and the
// parser never disagree.
//
// Terminal text: UTF-8 by default, converted to GB2312 on the way in (a
// character without a GB2312 form is an error that names it) and back to
// UTF-8 on the way out; with "--encoding gb2312" the bytes pass unchanged.
#ifndef TESQ_TOOLS_CLI_OPTIONS_H
#define TESQ_TOOLS_CLI_OPTIONS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace cli {

// Process exit statuses shared by the subcommands.
constexpr int kExit_Ok = 0;
constexpr int kExit_Failed = 1;  // the work failed (library, file, data)
constexpr int kExit_Usage = 2;   // bad command line or unusable input text

struct Option {
  const char *name;        // "--format"
  const char *value_name;  // "FORMAT", or nullptr for a flag
  const char *help;        // one line
};

struct Parsed_Args {
  std::map<std::string, std::string> values;  // option name -> value ("" for a flag)
  std::vector<std::string> positional;
  bool Has(const std::string &name) const { return values.count(name) != 0; }
  std::string Get(const std::string &name, const std::string &fallback = "") const {
    auto it = values.find(name);
    return it == values.end() ? fallback : it->second;
  }
};

// Parses argv[first..argc) against `options` ("--help" is always known).
// A repeated option keeps its last value. Returns false with a message in
// *error for an unknown option or a missing value.
bool Parse_Args(int argc, char **argv, int first, const std::vector<Option> &options, Parsed_Args *out,
                std::string *error);

// The option lines of a help text, aligned.
std::string Options_Help(const std::vector<Option> &options);

// The options the query commands share: --encoding, --data-dir, --db.
const std::vector<Option> &Service_Options();

enum class Encoding { kUtf8, kGb2312 };

// "utf-8"/"utf8" or "gb2312"; false for anything else.
bool Parse_Encoding(const std::string &name, Encoding *encoding);

// Terminal text to GB2312. Fails, with a message naming the character and
// its byte offset, for a character without a GB2312 form or malformed UTF-8,
// and, in both encodings, for a NUL byte (the library takes NUL-terminated
// text). For a text converted in parts, `text_offset` and `gb_offset` are
// where this part begins in the whole terminal text and in the whole GB2312
// text, so that the offset named is the whole text's.
bool To_Gb(const std::string &text, Encoding encoding, std::string *gb, std::string *error,
           size_t text_offset = 0, size_t gb_offset = 0);

// GB2312 text for the terminal; bytes that are not GB2312 become U+FFFD in
// UTF-8 output.
std::string From_Gb(const std::string &gb, Encoding encoding);

// Applies --data-dir and --db by setting TESQ_DATA_DIR and TESQ_DB, which the
// service libraries read. Fails when the directory or the database file does
// not exist, or the directory is not one, naming it.
bool Apply_Service_Options(const Parsed_Args &args, std::string *error);

// Writes all of `bytes` to standard output and flushes; false on a write
// error.
bool Write_Stdout(const std::string &bytes);

// The text of a JSON string literal, quotes included. `utf8` must be UTF-8;
// control characters, quote and backslash are escaped.
std::string Json_String(const std::string &utf8);

// The name of a segmenter tag number: "person", "place", "punctuation", ...
// for the numbers the library fixes, "tag<N>" for the others.
std::string Tag_Name(int tag);

// Splits `size` bytes of GB2312 text into consecutive pieces of at most
// `limit` bytes (limit >= 2) for separate segmentation. A piece ends after a
// line feed when one lies in its second half, else after white space or
// punctuation, else at a character boundary, so that a character is never
// cut. Returns the end offset of each piece; empty for empty text.
std::vector<size_t> Split_Pieces(const std::string &gb, size_t limit);

// The end of the first of those pieces of the `size` bytes at `gb`: `size`
// when size <= limit. It depends on the first limit + 1 bytes alone, so a
// text read in parts is cut exactly as the whole text would be once more
// than `limit` bytes of it are at hand (or all of it).
size_t Next_Piece_End(const char *gb, size_t size, size_t limit);

}  // namespace cli

#endif
