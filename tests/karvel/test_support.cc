#include "test_support.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <chrono>

#include "gb2312.h"
#include "karvel/karvel.h"

namespace karvel_test {

Temp_Dir::Temp_Dir() {
  const char *base = std::getenv("TMPDIR");
  std::string pattern = std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/karvel-test-XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) std::abort();
  dir_ = buf.data();
}

Temp_Dir::~Temp_Dir() {
  std::error_code ignored;
  std::filesystem::remove_all(dir_, ignored);
}

namespace {

void Check(int rc, sqlite3 *db, const char *what) {
  if (rc == SQLITE_OK || rc == SQLITE_DONE) return;
  std::fprintf(stderr, "test database: %s: %s\n", what, sqlite3_errmsg(db));
  std::abort();
}

}  // namespace

void Write_Database(const std::string &path, const std::vector<Row> &rows) {
  std::remove(path.c_str());
  sqlite3 *db = nullptr;
  Check(sqlite3_open(path.c_str(), &db), db, "open");
  Check(sqlite3_exec(db,
                     "CREATE TABLE \"420_DIC\" (\"词\" TEXT NOT NULL PRIMARY KEY, \"附加信息\" TEXT) WITHOUT ROWID;"
                     "BEGIN",
                     nullptr, nullptr, nullptr),
        db, "schema");
  sqlite3_stmt *insert = nullptr;
  Check(sqlite3_prepare_v2(db, "INSERT INTO \"420_DIC\" VALUES (?1, ?2)", -1, &insert, nullptr), db, "prepare");
  for (const Row &row : rows) {
    sqlite3_bind_text(insert, 1, row.word.data(), static_cast<int>(row.word.size()), SQLITE_TRANSIENT);
    if (row.label)
      sqlite3_bind_text(insert, 2, row.label->data(), static_cast<int>(row.label->size()), SQLITE_TRANSIENT);
    else
      sqlite3_bind_null(insert, 2);
    Check(sqlite3_step(insert), db, "insert");
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db, "commit");
  sqlite3_close(db);
}

void Write_File(const std::string &path, const std::string &content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

std::string Read_File(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool File_Exists(const std::string &path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0;
}

std::string Classifier_Statement(const std::string &word_gb) {
  std::string statement = "select \xB8\xBD\xBC\xD3\xD0\xC5\xCF\xA2 from 420_DIC where \xB4\xCA= ' ";
  for (const char c : word_gb) {
    statement.push_back(c);
    if (c == '\'') statement.push_back('\'');
  }
  statement.push_back('\'');
  return statement;
}

int Lookup_Statement(const std::string &statement, std::string *value) {
  char column[128];
  const Karvel_Query query = Karvel_ExecSql(statement.c_str());
  std::memset(column, 0, sizeof column);
  const int32_t result = Karvel_GetColDataByName(query, "\xB8\xBD\xBC\xD3\xD0\xC5\xCF\xA2", 0, column, 128);
  Karvel_CloseQuery(query);
  if (result >= 0) {
    if (std::memchr(column, '\0', sizeof column) == nullptr) std::abort();  // never unterminated
    value->assign(column);
  }
  return result;
}

std::optional<std::string> Lookup(const std::string &word_utf8) {
  std::string value;
  if (Lookup_Statement(Classifier_Statement(Gb(word_utf8)), &value) < 0) return std::nullopt;
  std::string utf8;
  if (!gb::Gb_To_Utf8(value, &utf8)) return "<not GB2312>";
  return utf8;
}

std::optional<std::string> Lookup_Until(const std::string &word_utf8, const std::optional<std::string> &expected,
                                        double seconds) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  std::optional<std::string> value = Lookup(word_utf8);
  while (value != expected && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    value = Lookup(word_utf8);
  }
  return value;
}

bool Copies_On() {
  const char *setting = std::getenv("TESQ_DB_COPY");
  return setting == nullptr || (std::strcmp(setting, "0") != 0 && std::strcmp(setting, "off") != 0);
}

bool On_Postgres() {
  const char *store = std::getenv("KARVEL_TEST_STORE");
  return store != nullptr && std::strcmp(store, "postgresql") == 0;
}

std::string Test_Tag() {
  const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
  std::string tag = std::string(test->test_suite_name()) + "_" + test->name();
  for (char &c : tag)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return tag;
}

void Set_Env(const char *name, const std::string &value) {
  if (value.empty())
    unsetenv(name);
  else
    setenv(name, value.c_str(), 1);
}

int Count_Lines(const std::string &text, const std::string &prefix) {
  int count = 0;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    if (line.compare(0, prefix.size(), prefix) == 0) ++count;
  return count;
}

}  // namespace karvel_test
