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
// `lookups`: one call's latency. Tables of 1,000 and 1,000,000 synthetic
// terms (fixed seed) in SQLite and PostgreSQL, each with the copy and
// without (TESQ_DB_COPY=0), one word found and one missed, on 1 and 8
// threads: calls per second and p50/p99 of steady_clock around every call.
// The copy rows are timed once a found word answers from the copy.
//
// `peers`: the corpus again, one call per query, CPU time, Singleword with
// the sample terms (copy) and with no term database beside friso (complex
// mode, names on, its UTF-8 dictionary: this friso reads text as UTF-8
// whatever its ini says) and cppjieba's Tag, each peer when the build found
// it; the peers get the queries in UTF-8, converted before timing.
//
// No argument runs `stores`, `lookups` and `peers` in turn.
//
//   TESQ_DATA_DIR=build/data scripts/with_postgres.sh build-bench/bench/karvel/store_bench [stores|lookups|peers]
#include <stdlib.h>
#include <time.h>
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

#ifdef TESQ_HAVE_FRISO
extern "C" {
#include <friso/friso.h>
}
#endif
#ifdef TESQ_CPPJIEBA_DICT
#include "cppjieba/Jieba.hpp"
#endif

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

void Init_Or_Exit(const std::string &db, bool copy) {
  setenv("TESQ_DB", db.c_str(), 1);
  setenv("TESQ_DB_COPY", copy ? "1" : "0", 1);
  if (Tesquin_Init(0) != 0) {
    std::fprintf(stderr, "Tesquin_Init failed\n");
    std::exit(1);
  }
}

double Measure(const Store &store, const std::vector<std::string> &queries, const std::string &known) {
  Init_Or_Exit(store.db, store.copy);
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

// Synthetic term `i`: three GB2312 characters (distinct for distinct i).
std::string Term_Word(int i) {
  std::string word;
  for (int k = 0, n = i; k < 3; ++k, n /= 3666) {
    word.push_back(static_cast<char>(0xB0 + (n % 3666) / 94));
    word.push_back(static_cast<char>(0xA1 + (n % 3666) % 94));
  }
  return word;
}

// Terms 0 to count-1, written as an import source with labels drawn from
// `seed`.
std::string Terms_File(const std::string &dir, int count, unsigned seed) {
  const std::string path = dir + "/terms-" + std::to_string(count) + ".tsv";
  std::ofstream out(path);
  std::mt19937 random(seed);
  std::string utf8;
  for (int i = 0; i < count; ++i) {
    gb::Gb_To_Utf8(Term_Word(i), &utf8);
    out << utf8 << "\t\xE6\xA0\x87\xE7\xAD\xBE" << (random() % 100) << "\n";  // 标签N
  }
  return path;
}

std::string Million_Terms_File(const std::string &dir) { return Terms_File(dir, 1000000, 1); }

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


struct Latency {
  double per_second;
  double p50_us;
  double p99_us;
};

// Calls of Tesquin_Search_Singleword(word) on `threads` threads for about
// `seconds`, each call timed on its own.
Latency Lookups(const std::string &word, int threads, double seconds) {
  const long kMaxPerThread = 1000000;
  std::vector<std::vector<float>> samples(threads);
  std::vector<std::thread> workers;
  const Clock::time_point start = Clock::now();
  for (int t = 0; t < threads; ++t)
    workers.emplace_back([&, t] {
      std::vector<float> &mine = samples[t];
      mine.reserve(kMaxPerThread);
      char label[256];
      while (static_cast<long>(mine.size()) < kMaxPerThread && Seconds_Since(start) < seconds)
        for (int k = 0; k < 100; ++k) {
          uint32_t size = 255;
          const Clock::time_point before = Clock::now();
          Tesquin_Search_Singleword(word.c_str(), label, &size);
          mine.push_back(std::chrono::duration<float, std::micro>(Clock::now() - before).count());
        }
    });
  for (std::thread &worker : workers) worker.join();
  const double wall = Seconds_Since(start);
  std::vector<float> all;
  for (const std::vector<float> &mine : samples) all.insert(all.end(), mine.begin(), mine.end());
  auto at = [&](double fraction) {
    std::vector<float>::iterator nth = all.begin() + static_cast<long>(fraction * (all.size() - 1));
    std::nth_element(all.begin(), nth, all.end());
    return static_cast<double>(*nth);
  };
  return {all.size() / wall, at(0.50), at(0.99)};
}

void Lookup_Rows(const char *store, int terms, const std::string &db, const std::string &found,
                 const std::string &missed, std::vector<std::string> *notes) {
  for (bool copy : {true, false}) {
    Init_Or_Exit(db, copy);
    char label[256];
    uint32_t size = 255;
    Tesquin_Search_Singleword(found.c_str(), label, &size);  // starts the copy
    if (copy) {
      const double seconds = Until_Copy_Answers(found, 120);
      char note[96];
      std::snprintf(note, sizeof note, "%s, %d terms: the copy answering after %.2f s", store, terms, seconds);
      notes->push_back(note);
    }
    for (int threads : {1, 8})
      for (bool hit : {true, false}) {
        const Latency latency = Lookups(hit ? found : missed, threads, 1.0);
        std::printf("| %-10s | %9d | %-4s | %7d | %-6s | %9.0f | %6.2f | %7.2f |\n", store, terms,
                    copy ? "copy" : "none", threads, hit ? "found" : "missed", latency.per_second, latency.p50_us,
                    latency.p99_us);
      }
    Tesquin_UnInit();
  }
}

int Lookup_Tables(const std::string &dir) {
  const std::string tool = TESQ_TOOL;
  const std::string pg = Env("TESQ_TEST_PG_URI");
  std::printf("One Tesquin_Search_Singleword call (1 s a row; latency in us):\n");
  std::printf("| store      |     terms | copy | threads | word   |   calls/s | p50 us |  p99 us |\n");
  std::vector<std::string> notes;
  // Missed by both tables; found words are terms of the table at hand.
  const std::string missed = Term_Word(1000017);
  for (int terms : {1000, 1000000}) {
    const std::string source = Terms_File(dir, terms, 20261209);
    std::mt19937 random(terms);
    const std::string found = Term_Word(static_cast<int>(random() % terms));
    const std::string db = dir + "/lookup-" + std::to_string(terms) + ".db";
    if (std::system(("'" + tool + "' terms import --db '" + db + "' '" + source + "' 2>/dev/null").c_str()) != 0)
      return 1;
    Lookup_Rows("SQLite", terms, db, found, missed, &notes);
    if (!pg.empty()) {
      if (std::system(("'" + tool + "' terms import --replace --db '" + pg + "' '" + source + "' 2>/dev/null").c_str()) !=
          0)
        return 1;
      Lookup_Rows("PostgreSQL", terms, pg, found, missed, &notes);
    }
  }
  for (const std::string &note : notes) std::printf("%s\n", note.c_str());
  return 0;
}

double Cpu_Seconds() {
  timespec now;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec * 1e-9;
}

// Queries per CPU second of `run` over the corpus, the best of three passes.
template <typename Run>
double Cpu_Pass(const std::vector<std::string> &queries, Run run) {
  double best = 0;
  for (int round = 0; round < 3; ++round) {
    const double start = Cpu_Seconds();
    for (const std::string &query : queries) run(query);
    best = std::max(best, queries.size() / (Cpu_Seconds() - start));
  }
  return best;
}

double Singleword_Cpu(const std::vector<std::string> &queries, const std::string &db, const std::string &known) {
  Init_Or_Exit(db, true);
  char label[256];
  uint32_t size = 255;
  Tesquin_Search_Singleword(known.c_str(), label, &size);
  Until_Copy_Answers(known, 30);
  long labelled = 0;
  const double qps = Cpu_Pass(queries, [&](const std::string &query) {
    uint32_t room = 255;
    labelled += Tesquin_Search_Singleword(query.c_str(), label, &room) == 0;
  });
  Tesquin_UnInit();
  return qps;
}

int Peer_Table(const std::vector<std::string> &queries, const std::string &data_dir, const std::string &dir,
               const std::string &known) {
  std::printf("The %zu queries, one call each, CPU time (best of 3 passes):\n", queries.size());
  std::printf("| Singleword, sample terms.db (copy) | %10.0f queries/s |\n",
              Singleword_Cpu(queries, data_dir + "/terms.db", known));
  std::printf("| Singleword, no term database       | %10.0f queries/s |\n",
              Singleword_Cpu(queries, dir + "/missing.db", known));
  long tokens = 0;
  std::vector<std::string> utf8(queries.size());
  for (std::size_t i = 0; i < queries.size(); ++i) gb::Gb_To_Utf8(queries[i], &utf8[i]);
#ifdef TESQ_HAVE_FRISO
  {
    const std::string ini = dir + "/friso.ini";
    std::ofstream(ini) << "friso.lex_dir = /usr/share/friso/dict/UTF-8/\nfriso.max_len = 5\nfriso.r_name = 1\n"
                          "friso.mix_len = 2\nfriso.lna_len = 1\nfriso.add_syn = 0\nfriso.clr_stw = 0\n"
                          "friso.keep_urec = 0\nfriso.spx_out = 0\nfriso.en_sseg = 0\nfriso.st_minl = 1\n"
                          "friso.kpuncs = @%.#&+\nfriso.mode = 2\n";
    friso_t friso = friso_new();
    friso_config_t config = friso_new_config();
    std::string path = ini;
    if (friso_init_from_ifile(friso, config, &path[0]) != 1) {
      std::printf("friso: cannot load %s\n", ini.c_str());
      return 1;
    }
    friso_task_t task = friso_new_task();
    std::vector<std::string> texts(utf8);
    std::size_t next = 0;
    const double qps = Cpu_Pass(texts, [&](const std::string &) {
      friso_set_text(task, &texts[next++ % texts.size()][0]);
      while (config->next_token(friso, config, task) != nullptr) ++tokens;
    });
    std::printf("| friso (complex mode, names)        | %10.0f queries/s |\n", qps);
    friso_free_task(task);
    friso_free(friso);
    free(config);
  }
#else
  std::printf("| friso                              | not built (libfriso-dev not found) |\n");
#endif
#ifdef TESQ_CPPJIEBA_DICT
  {
    const std::string dict = TESQ_CPPJIEBA_DICT;
    cppjieba::Jieba jieba(dict + "/jieba.dict.utf8", dict + "/hmm_model.utf8", dict + "/user.dict.utf8",
                          dict + "/idf.utf8", dict + "/stop_words.utf8");
    std::vector<std::pair<std::string, std::string>> tags;
    const double qps = Cpu_Pass(utf8, [&](const std::string &query) {
      tags.clear();  // Tag appends
      jieba.Tag(query, tags);
      tokens += static_cast<long>(tags.size());
    });
    std::printf("| cppjieba Tag                       | %10.0f queries/s |\n", qps);
  }
#else
  std::printf("| cppjieba Tag                       | not built (configure with -DTESQ_CPPJIEBA_DIR) |\n");
#endif
  std::printf("(%ld peer tokens in all passes)\n", tokens);
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (!mode.empty() && mode != "stores" && mode != "lookups" && mode != "peers") {
    std::fprintf(stderr, "usage: store_bench [stores|lookups|peers]\n");
    return 2;
  }
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
  if (mode == "lookups" || mode == "peers") {
    const int status = mode == "lookups" ? Lookup_Tables(dir) : Peer_Table(queries, data_dir, dir, known);
    std::filesystem::remove_all(dir);
    return status;
  }

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
  int status = 0;
  if (mode.empty()) status = Lookup_Tables(dir) != 0 || Peer_Table(queries, data_dir, dir, known) != 0;
  std::filesystem::remove_all(dir);
  return status;
}
