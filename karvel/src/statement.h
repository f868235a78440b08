// The statements libkarvel understands, and their parser.
//
// Karvel answers one kind of statement, a single-row lookup in the term table
// by the word:
//
//   select COLUMN from 420_DIC where 词 = 'VALUE'
//
// Keywords are matched without regard to ASCII case; tokens are separated by
// ASCII white space, which may also surround the "="; a trailing ";" is
// allowed. An identifier is a bare run of bytes (GB2312 characters included)
// or is quoted as "...", [...] or `...`. The value is a quoted string in which
// a doubled apostrophe stands for one apostrophe. Everything is parsed on the
// GB2312 bytes; a GB2312 character never contains an ASCII byte, so two-byte
// characters cannot be mistaken for quotes, spaces or "=".
//
// The parser only splits the statement into its parts. The engine then
// decides whether it can run it (the table and the columns it knows), and
// binds the value as a parameter of a prepared statement of its own: no byte
// of the caller's statement is ever handed to SQLite as SQL.
#ifndef KARVEL_SRC_STATEMENT_H
#define KARVEL_SRC_STATEMENT_H

#include <string>
#include <string_view>

namespace karvel {

struct Lookup_Statement {
  std::string column;      // the selected column, GB2312, unquoted
  std::string table;       // the table, GB2312, unquoted
  std::string key_column;  // the column of the where clause, GB2312, unquoted
  std::string value;       // the quoted value with doubled apostrophes undone, GB2312
};

// Splits `sql` into its parts. Returns false when the text is not a lookup
// statement of the form above (anything missing, unterminated or left over).
bool Statement_Parse(std::string_view sql, Lookup_Statement *out);

// The word a lookup value stands for. The term table's clients put one blank
// before the word inside the quotes (' word'), so exactly one leading blank is
// dropped; a value without one is the word itself.
std::string_view Statement_Word(std::string_view value);

}  // namespace karvel

#endif
