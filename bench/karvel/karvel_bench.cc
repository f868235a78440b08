// Known-term lookup speed.
//
//   BM_Classify/N      Tesquin_Search_Singleword for words stored in a table
//                      of N rows (the whole classifier: statement, Karvel's
//                      three calls, the label copy)
//   BM_Karvel/N        Karvel's three calls alone, on the classifier's
//                      statements
//   BM_Bare_Sqlite/N   the same lookups as a bare SQLite prepared statement
//                      (bind, step, read the column, reset), no conversion
//
// The databases are built once per run in a temporary directory (the
// 1,000,000-row one takes a few seconds) with the table the import tool
// makes. Words are visited in a shuffled order over the whole table.
// Compare BM_Classify/1000 with BM_Classify/1000000 (the cost must not grow
// with the table) and BM_Karvel or BM_Classify with BM_Bare_Sqlite at the
// same size (Karvel's own overhead).
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "gb2312.h"
#include "karvel/karvel.h"
#include "tesqsrch/tesqsrch.h"

namespace {

constexpr int kSampleWords = 1 << 14;

// Word i: three GB2312 characters from the 3666 of lead bytes B0..D7, the
// base-3666 digits of i, so every word is distinct.
std::string Word_Gb(int i) {
  std::string word;
  for (int k = 0; k < 3; ++k) {
    const int c = i % 3666;
    i /= 3666;
    word.push_back(static_cast<char>(0xB0 + c / 94));
    word.push_back(static_cast<char>(0xA1 + c % 94));
  }
  return word;
}

std::string To_Utf8(const std::string &gbtext) {
  std::string out;
  gb::Gb_To_Utf8(gbtext, &out);
  return out;
}

struct Table {
  std::string path;
  std::vector<std::string> words_gb;    // a shuffled sample of stored words
  std::vector<std::string> words_utf8;  // the same, UTF-8
  std::vector<std::string> statements;  // the classifier's statements for them
};

class Fixture_Data {
 public:
  ~Fixture_Data() {
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }

  const Table &Get(int rows) {
    auto it = tables_.find(rows);
    if (it != tables_.end()) return it->second;
    if (dir_.empty()) {
      char pattern[] = "/tmp/karvel-bench-XXXXXX";
      if (mkdtemp(pattern) == nullptr) std::abort();
      dir_ = pattern;
    }
    Table table;
    table.path = dir_ + "/terms-" + std::to_string(rows) + ".db";
    Build(table.path, rows);
    std::mt19937 random(rows);
    for (int i = 0; i < kSampleWords; ++i) {
      const std::string word = Word_Gb(static_cast<int>(random() % rows));
      table.words_gb.push_back(word);
      table.words_utf8.push_back(To_Utf8(word));
      table.statements.push_back("select \xB8\xBD\xBC\xD3\xD0\xC5\xCF\xA2 from 420_DIC where \xB4\xCA= ' " + word +
                                 "'");
    }
    return tables_.emplace(rows, std::move(table)).first->second;
  }

 private:
  static void Build(const std::string &path, int rows) {
    sqlite3 *db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db,
                 "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA cache_size=-262144;"
                 "CREATE TABLE \"420_DIC\" (\"词\" TEXT NOT NULL PRIMARY KEY, \"附加信息\" TEXT NOT NULL) WITHOUT ROWID;"
                 "BEGIN",
                 nullptr, nullptr, nullptr);
    sqlite3_stmt *insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO \"420_DIC\" VALUES (?1, ?2)", -1, &insert, nullptr);
    // Inserted in key order (the fastest way to fill a B-tree); the lookups
    // are in random order.
    std::vector<std::string> words;
    words.reserve(rows);
    for (int i = 0; i < rows; ++i) words.push_back(To_Utf8(Word_Gb(i)));
    std::sort(words.begin(), words.end());
    for (int i = 0; i < rows; ++i) {
      const std::string label = "\xE6\xA0\x87\xE7\xAD\xBE" + std::to_string(i % 100);  // 标签N
      sqlite3_bind_text(insert, 1, words[i].data(), static_cast<int>(words[i].size()), SQLITE_STATIC);
      sqlite3_bind_text(insert, 2, label.data(), static_cast<int>(label.size()), SQLITE_TRANSIENT);
      if (sqlite3_step(insert) != SQLITE_DONE) std::abort();
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) std::abort();
    sqlite3_close(db);
  }

  std::string dir_;
  std::map<int, Table> tables_;
};

Fixture_Data &Data() {
  static Fixture_Data data;
  return data;
}

void BM_Classify(benchmark::State &state) {
  const Table &table = Data().Get(static_cast<int>(state.range(0)));
  setenv("TESQ_DB", table.path.c_str(), 1);
  if (Tesquin_Init(0) != 0) {
    state.SkipWithError("Tesquin_Init failed");
    return;
  }
  size_t i = 0;
  char label[256];
  for (auto _ : state) {
    uint32_t size = 255;
    const int32_t result = Tesquin_Search_Singleword(table.words_gb[i].c_str(), label, &size);
    if (result != 0) {
      state.SkipWithError("a stored word was not found");
      break;
    }
    benchmark::DoNotOptimize(label);
    i = (i + 1) % table.words_gb.size();
  }
  state.SetItemsProcessed(state.iterations());
  Tesquin_UnInit();
}

void BM_Karvel(benchmark::State &state) {
  const Table &table = Data().Get(static_cast<int>(state.range(0)));
  setenv("TESQ_DB", table.path.c_str(), 1);
  size_t i = 0;
  char column[128];
  for (auto _ : state) {
    const Karvel_Query query = Karvel_ExecSql(table.statements[i].c_str());
    std::memset(column, 0, sizeof column);
    const int32_t result = Karvel_GetColDataByName(query, "\xB8\xBD\xBC\xD3\xD0\xC5\xCF\xA2", 0, column, 128);
    Karvel_CloseQuery(query);
    if (result < 0) {
      state.SkipWithError("a stored word was not found");
      break;
    }
    i = (i + 1) % table.statements.size();
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_Bare_Sqlite(benchmark::State &state) {
  const Table &table = Data().Get(static_cast<int>(state.range(0)));
  sqlite3 *db = nullptr;
  sqlite3_stmt *stmt = nullptr;
  if (sqlite3_open_v2(table.path.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK ||
      sqlite3_prepare_v2(db,
                         "SELECT \"\xE9\x99\x84\xE5\x8A\xA0\xE4\xBF\xA1\xE6\x81\xAF\" FROM \"420_DIC\" WHERE "
                         "\"\xE8\xAF\x8D\" = ?1",
                         -1, &stmt, nullptr) != SQLITE_OK) {
    state.SkipWithError(sqlite3_errmsg(db));
    sqlite3_close(db);
    return;
  }
  size_t i = 0;
  char column[128];
  for (auto _ : state) {
    const std::string &word = table.words_utf8[i];
    sqlite3_bind_text(stmt, 1, word.data(), static_cast<int>(word.size()), SQLITE_STATIC);
    if (sqlite3_step(stmt) != SQLITE_ROW) {
      state.SkipWithError("a stored word was not found");
      break;
    }
    const int bytes = sqlite3_column_bytes(stmt, 0);
    std::memcpy(column, sqlite3_column_text(stmt, 0), static_cast<size_t>(std::min(bytes, 127)));
    benchmark::DoNotOptimize(column);
    sqlite3_reset(stmt);
    i = (i + 1) % table.words_utf8.size();
  }
  state.SetItemsProcessed(state.iterations());
  sqlite3_finalize(stmt);
  sqlite3_close(db);
}

BENCHMARK(BM_Classify)->Arg(1000)->Arg(1000000);
BENCHMARK(BM_Karvel)->Arg(1000)->Arg(1000000);
BENCHMARK(BM_Bare_Sqlite)->Arg(1000)->Arg(1000000);

}  // namespace

BENCHMARK_MAIN();
