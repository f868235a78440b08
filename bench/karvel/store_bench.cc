// The term stores under the classifier, measured the way a host sees them.
//
// Queries: the benchmark corpus, 100,000 short queries made here from the
// data directory (TESQ_DATA_DIR) with a fixed seed: one in ten a known term
// of the sample term database (data/terms.tsv), one in ten a standard
// number or an ASCII word, the rest words of the segmenter lexicon
// (segmenter.txt), one to four characters long. Each pass runs
// Tesquin_Search_Singleword on all of them, after a warm-up pass and, for a
// store with a copy in memory, once lookups answer from it.
//
// Stores: the sample term database through the copy, the same file with
// every lookup going to SQLite (TESQ_DB_COPY=0), no term database at all
// (TESQ_DB naming a missing file), and, when TESQ_TEST_PG_URI is set (run
// under scripts/with_postgres.sh), the sample terms in PostgreSQL with the
// copy and without it.
//
// Then 1,000,000 synthetic terms in an SQLite file (and in PostgreSQL when
// there is one): Tesquin_Init's time, the first lookup's, the time until
// the copy answers, and the resident memory the copy adds.
//
//   TESQ_DATA_DIR=build/data scripts/with_postgres.sh build-bench/bench/karvel/store_bench
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gb2312.h"
#include "tesqsrch/tesqsrch.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds_Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string Env(const char *name) {
  const char *value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string Gb(const std::string &utf8) {
  std::string out;
  return gb::Utf8_To_Gb(utf8, &out) ? out : std::string();
}

// Resident memory of this process, bytes.
double Resident_Bytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

std::vector<std::string> Read_Column(const std::string &path, char separator) {
  std::vector<std::string> words;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    const std::string word = Gb(line.substr(0, line.find(separator)));
    if (!word.empty()) words.push_back(word);
  }
  return words;
}

std::vector<std::string> Corpus(const std::string &data_dir, const std::string &terms_tsv) {
  const std::vector<std::string> terms = Read_Column(terms_tsv, '\t');
  std::vector<std::string> lexicon;
  for (const std::string &word : Read_Column(data_dir + "/segmenter.txt", ' '))
    if (word.size() <= 8) lexicon.push_back(word);
  const char *const kAscii[] = {"9787111123453", "7-111-12345-X", "1234-5679", "11-1234/G", "1234567", "xyz",
                                "CN11-1234", "ISBN 7111123453", "abc", "2024"};
  std::mt19937 random(42);
  std::vector<std::string> queries;
  for (int i = 0; i < 100000; ++i) {
    if (i % 10 == 0 && !terms.empty())
      queries.push_back(terms[random() % terms.size()]);
    else if (i % 10 == 1)
      queries.push_back(kAscii[random() % 10]);
    else
      queries.push_back(lexicon[random() % lexicon.size()]);
  }
  return queries;
}

// Queries per second of Tesquin_Search_Singleword over the corpus, the best
// of three passes.
double Pass(const std::vector<std::string> &queries, int *labelled) {
  double best = 0;
  for (int round = 0; round < 3; ++round) {
    int found = 0;
    char label[256];
    const Clock::time_point start = Clock::now();
    for (const std::string &query : queries) {
      uint32_t size = 255;
      found += Tesquin_Search_Singleword(query.c_str(), label, &size) == 0;
    }
    best = std::max(best, queries.size() / Seconds_Since(start));
    *labelled = found;
  }
  return best;
}

// Microseconds per lookup of `word` over a short burst: a copy answers in
// well under one.
double Lookup_Us(const std::string &word) {
  char label[256];
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < 200; ++i) {
    uint32_t size = 255;
    Tesquin_Search_Singleword(word.c_str(), label, &size);
  }
  return Seconds_Since(start) * 1e6 / 200;
}

// Waits until lookups of `word` cost what a copy's do (or `seconds` pass);
// the seconds waited.
double Until_Copy_Answers(const std::string &word, double seconds) {
  const Clock::time_point start = Clock::now();
  while (Seconds_Since(start) < seconds && Lookup_Us(word) > 3.0)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return Seconds_Since(start);
}

struct Store {
  const char *name;
  std::string db;
  bool copy;
};

double Measure(const Store &store, const std::vector<std::string> &queries, const std::string &known) {
  setenv("TESQ_DB", store.db.c_str(), 1);
  setenv("TESQ_DB_COPY", store.copy ? "1" : "0", 1);
  if (Tesquin_Init(0) != 0) {
    std::fprintf(stderr, "Tesquin_Init failed\n");
    std::exit(1);
  }
  int labelled = 0;
  char label[256];
  uint32_t size = 255;
  Tesquin_Search_Singleword(known.c_str(), label, &size);  // starts the copy
  if (store.copy) Until_Copy_Answers(known, 30);
  const double qps = Pass(queries, &labelled);
  std::printf("%-34s %10.0f queries/s  (%d labelled)\n", store.name, qps, labelled);
  Tesquin_UnInit();
  return qps;
}

// 1,000,000 synthetic terms: three GB2312 characters each (all distinct),
// written as an import source.
std::string Million_Terms_File(const std::string &dir) {
  const std::string path = dir + "/million.tsv";
  std::ofstream out(path);
  std::string word, utf8;
  for (int i = 0; i < 1000000; ++i) {
    word.clear();
    for (int k = 0, n = i; k < 3; ++k, n /= 3666) {
      word.push_back(static_cast<char>(0xB0 + (n % 3666) / 94));
      word.push_back(static_cast<char>(0xA1 + (n % 3666) % 94));
    }
    gb::Gb_To_Utf8(word, &utf8);
    out << utf8 << "\t\xE6\xA0\x87\xE7\xAD\xBE" << (i % 100) << "\n";  // 标签N
  }
  return path;
}

void Million(const char *name, const std::string &db, const std::string &word_gb) {
  setenv("TESQ_DB", db.c_str(), 1);
  setenv("TESQ_DB_COPY", "1", 1);
  const double before = Resident_Bytes();
  Clock::time_point start = Clock::now();
  if (Tesquin_Init(0) != 0) std::exit(1);
  const double init_ms = Seconds_Since(start) * 1e3;
  char label[256];
  uint32_t size = 255;
  start = Clock::now();
  const int first = Tesquin_Search_Singleword(word_gb.c_str(), label, &size);
  const double first_ms = Seconds_Since(start) * 1e3;
  const double ready = Until_Copy_Answers(word_gb, 120);
  const double after = Resident_Bytes();
  std::printf("%-12s 1,000,000 terms: Tesquin_Init %.1f ms, first lookup %.2f ms (result %d), copy answering "
              "after %.2f s, %.0f MB more resident, %.2f us a lookup from the copy\n",
              name, init_ms, first_ms, first, ready, (after - before) / 1e6, Lookup_Us(word_gb));
  Tesquin_UnInit();
}

}  // namespace

int main() {
  const std::string data_dir = Env("TESQ_DATA_DIR");
  if (data_dir.empty()) {
    std::fprintf(stderr, "set TESQ_DATA_DIR to the built data\n");
    return 1;
  }
  const std::string source_dir = TESQ_SOURCE_DIR;
  const std::vector<std::string> queries = Corpus(data_dir, source_dir + "/data/terms.tsv");
  const std::string known = Gb("计算机科学");
  char pattern[] = "/tmp/store-bench-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 1;
  const std::string dir = pattern;
  std::FILE *null = std::freopen("/dev/null", "w", stderr);  // the missing database's report
  (void)null;

  std::vector<Store> stores = {
      {"sample terms.db, copy", data_dir + "/terms.db", true},
      {"sample terms.db, SQLite lookups", data_dir + "/terms.db", false},
      {"no term database", dir + "/missing.db", true},
  };
  const std::string pg = Env("TESQ_TEST_PG_URI");
  const std::string tool = TESQ_TOOL;
  if (!pg.empty()) {
    const std::string import = "'" + tool + "' terms import --replace --db '" + pg + "' '" + source_dir +
                               "/data/terms.tsv' 2>/dev/null";
    if (std::system(import.c_str()) != 0) return 1;
    stores.push_back({"sample terms in PostgreSQL, copy", pg, true});
    stores.push_back({"sample terms in PostgreSQL, direct", pg, false});
  }
  std::printf("Tesquin_Search_Singleword on %zu queries (best of 3 passes):\n", queries.size());
  std::vector<double> qps;
  for (const Store &store : stores) qps.push_back(Measure(store, queries, known));
  std::printf("ratio copy / no term database: %.2f; SQLite lookups / no term database: %.2f\n", qps[0] / qps[2],
              qps[1] / qps[2]);
  if (!pg.empty())
    std::printf("ratio PostgreSQL copy / no term database: %.2f; PostgreSQL direct / no term database: %.3f\n",
                qps[3] / qps[2], qps[4] / qps[2]);

  const std::string million = Million_Terms_File(dir);
  const std::string million_db = dir + "/million.db";
  if (std::system(("'" + tool + "' terms import --db '" + million_db + "' '" + million + "' 2>/dev/null").c_str()) != 0)
    return 1;
  std::string probe;
  probe.assign("\xB0\xA1\xB0\xA1\xB0\xA1");  // term 0
  Million("SQLite", million_db, probe);
  if (!pg.empty()) {
    if (std::system(("'" + tool + "' terms import --replace --db '" + pg + "' '" + million + "' 2>/dev/null").c_str()) !=
        0)
      return 1;
    Million("PostgreSQL", pg, probe);
  }
  std::filesystem::remove_all(dir);
  return 0;
}
