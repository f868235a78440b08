#include "statement.h"


namespace karvel {
namespace {

enum class Token_Kind { kWord, kQuotedIdentifier, kString, kEquals, kSemicolon };

// One token as a view into the statement: for quoted tokens the text between
// the quotes, still with its doubled quotes.
struct Token {
  Token_Kind kind;
  std::string_view text;
  char quote;  // the doubled quote character inside `text`, or 0
};

// A lookup statement has eight tokens and an optional ";".
constexpr size_t kMaxTokens = 9;

bool Is_Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }

bool Ends_Word(char c) {
  return Is_Blank(c) || c == '=' || c == ';' || c == '\'' || c == '"' || c == '[' || c == '`' || c == '\0';
}

// Finds the end of a quoted run that starts at sql[*i] (just after the
// opening quote); a doubled `close` stands for one, except for brackets.
// Leaves *i just past the closing quote. Returns false when it is missing.
bool Skip_Quoted(std::string_view sql, size_t *i, char close, bool doubling) {
  while (*i < sql.size()) {
    const char c = sql[(*i)++];
    if (c != close) continue;
    if (doubling && *i < sql.size() && sql[*i] == close) {
      ++*i;
      continue;
    }
    return true;
  }
  return false;
}

// Splits `sql` into at most kMaxTokens tokens; false on a malformed or
// longer statement.
bool Tokenize(std::string_view sql, Token *tokens, size_t *count) {
  *count = 0;
  size_t i = 0;
  while (i < sql.size()) {
    const char c = sql[i];
    if (Is_Blank(c)) {
      ++i;
      continue;
    }
    if (c == '\0' || *count == kMaxTokens) return false;
    Token &token = tokens[(*count)++];
    token.quote = 0;
    if (c == '=' || c == ';') {
      token.kind = c == '=' ? Token_Kind::kEquals : Token_Kind::kSemicolon;
      token.text = sql.substr(i, 1);
      ++i;
    } else if (c == '\'' || c == '"' || c == '`' || c == '[') {
      token.kind = c == '\'' ? Token_Kind::kString : Token_Kind::kQuotedIdentifier;
      const char close = c == '[' ? ']' : c;
      const size_t start = ++i;
      if (!Skip_Quoted(sql, &i, close, c != '[')) return false;
      token.text = sql.substr(start, i - 1 - start);
      if (c != '[') token.quote = close;
    } else {
      token.kind = Token_Kind::kWord;
      const size_t start = i;
      while (i < sql.size() && !Ends_Word(sql[i])) ++i;
      token.text = sql.substr(start, i - start);
    }
  }
  return true;
}

// The token's text with doubled quotes undone.
void Token_Text(const Token &token, std::string *out) {
  out->clear();
  if (token.quote == 0) {
    out->assign(token.text);
    return;
  }
  for (size_t i = 0; i < token.text.size(); ++i) {
    out->push_back(token.text[i]);
    if (token.text[i] == token.quote) ++i;  // the second quote of a pair
  }
}

bool Is_Keyword(const Token &token, const char *keyword) {
  if (token.kind != Token_Kind::kWord) return false;
  size_t k = 0;
  for (const char c : token.text) {
    if (keyword[k] == '\0') return false;
    const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (lower != keyword[k++]) return false;
  }
  return keyword[k] == '\0';
}

bool Is_Identifier(const Token &token) {
  if (token.kind == Token_Kind::kQuotedIdentifier) return !token.text.empty();
  return token.kind == Token_Kind::kWord;
}

}  // namespace

bool Statement_Parse(std::string_view sql, Lookup_Statement *out) {
  Token tokens[kMaxTokens];
  size_t count = 0;
  if (!Tokenize(sql, tokens, &count)) return false;
  if (count == kMaxTokens && tokens[count - 1].kind == Token_Kind::kSemicolon) --count;
  if (count != 8) return false;
  if (!Is_Keyword(tokens[0], "select") || !Is_Identifier(tokens[1]) || !Is_Keyword(tokens[2], "from") ||
      !Is_Identifier(tokens[3]) || !Is_Keyword(tokens[4], "where") || !Is_Identifier(tokens[5]) ||
      tokens[6].kind != Token_Kind::kEquals || tokens[7].kind != Token_Kind::kString)
    return false;
  Token_Text(tokens[1], &out->column);
  Token_Text(tokens[3], &out->table);
  Token_Text(tokens[5], &out->key_column);
  Token_Text(tokens[7], &out->value);
  return true;
}

std::string_view Statement_Word(std::string_view value) {
  if (!value.empty() && value[0] == ' ') value.remove_prefix(1);
  return value;
}

}  // namespace karvel
