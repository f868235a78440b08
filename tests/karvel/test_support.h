// Shared by the libkarvel tests: temporary directories, term databases
// written directly with SQLite (so the tests can store what the import tool
// refuses), the classifier's statement and its three Karvel calls.
#ifndef TESQ_TESTS_KARVEL_TEST_SUPPORT_H
#define TESQ_TESTS_KARVEL_TEST_SUPPORT_H

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gb_text.h"

namespace karvel_test {

// GB2312 form of UTF-8 text; aborts the test program on text that has none.
using tesq_test::Gb;

// A fresh directory removed (with its files) at destruction.
class Temp_Dir {
 public:
  Temp_Dir();
  ~Temp_Dir();
  Temp_Dir(const Temp_Dir &) = delete;
  Temp_Dir &operator=(const Temp_Dir &) = delete;
  std::string Path(const std::string &name) const { return dir_ + "/" + name; }
  const std::string &dir() const { return dir_; }

 private:
  std::string dir_;
};

// One stored row: word and label as UTF-8; a label of nullopt is NULL.
struct Row {
  std::string word;
  std::optional<std::string> label;
};

// Writes a database with the table 420_DIC keyed on the word, as the import
// tool makes it, holding `rows` (stored as given, without any check).
void Write_Database(const std::string &path, const std::vector<Row> &rows);

// Writes `content` to `path`.
void Write_File(const std::string &path, const std::string &content);
std::string Read_File(const std::string &path);
bool File_Exists(const std::string &path);

// The statement the classifier builds for a GB2312 word: the head
// "select 附加信息 from 420_DIC where 词= ' ", the word with each apostrophe
// doubled, and a closing apostrophe.
std::string Classifier_Statement(const std::string &word_gb);

// The classifier's three calls for a raw statement: returns the result of
// Karvel_GetColDataByName and, when it is 0 or more, the value in *value.
int Lookup_Statement(const std::string &statement, std::string *value);

// Lookup_Statement for the classifier's statement for a UTF-8 word; the
// UTF-8 label, or nullopt for no value.
std::optional<std::string> Lookup(const std::string &word_utf8);

// Lookup, asked again until it gives `expected` or `seconds` have passed (a
// change reaches the copy of the table in memory within a second); the last
// answer.
std::optional<std::string> Lookup_Until(const std::string &word_utf8, const std::optional<std::string> &expected,
                                        double seconds = 2.0);

// Whether lookups answer from the copy in memory (TESQ_DB_COPY is not 0 or
// off).
bool Copies_On();

// Whether this run's store is PostgreSQL (KARVEL_TEST_STORE=postgresql)
// rather than database files.
bool On_Postgres();

// For a test about database files (paths, file faults): skipped on
// PostgreSQL.
#define FILE_STORE_ONLY() \
  if (::karvel_test::On_Postgres()) GTEST_SKIP() << "a test of database files"

// A name for the current test made of letters, digits and "_".
std::string Test_Tag();

// Sets or (for an empty value) unsets an environment variable.
void Set_Env(const char *name, const std::string &value);

// Counts the lines of `text` that begin with `prefix`.
int Count_Lines(const std::string &text, const std::string &prefix);

}  // namespace karvel_test

#endif
