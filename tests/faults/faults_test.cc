// Faults in the library's surroundings, against the real service libraries:
// a missing, corrupt, locked or vanishing term database; damaged dictionary
// files; a data directory that is not there; a working directory where no
// "as.txt" can be written; a term import killed part-way. Each gives the
// documented result (and a "karvel: " diagnostic where one is documented),
// never a crash.
//
// Each test works on its own data directory: links to the built data files,
// with the file under test replaced by a damaged copy.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
#define TESQ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESQ_ASAN 1
#endif
#endif
#ifndef TESQ_ASAN
#define TESQ_ASAN 0
#endif
#if TESQ_ASAN
// The sanitizer runtime's allocator statistics (its header comes with clang
// only).
extern "C" size_t __sanitizer_get_current_allocated_bytes(void);
#else
#include <malloc.h>
#endif

#include "gb2312.h"
#include "gb_text.h"
#include "tesqsrch/tesqsrch.h"
#include "vornel/vornel.h"

namespace {

using tesq_test::Gb;

const char *const kDataFiles[] = {"segmenter.vlex", "foreign_dic.vdic", "name_dic.vdic", "org_dic.vdic",
                                  "fund_dic.vdic",  "place.vdic",       "terms.db"};

std::string Built_Data() {
  const char *env = std::getenv("TESQ_DATA_DIR");
  return env != nullptr && env[0] != '\0' ? env : TESQ_BUILT_DATA_DIR;
}

std::string Read(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Write(const std::string &path, const std::string &content) {
  std::remove(path.c_str());
  std::ofstream out(path, std::ios::binary);
  out << content;
}

// The label Tesquin_Search_Singleword gives, or "<rc N>" when it gives none.
std::string Label(const std::string &word_gb) {
  char label[256];
  uint32_t size = sizeof label;
  const int32_t rc = Tesquin_Search_Singleword(word_gb.c_str(), label, &size);
  return rc == 0 ? std::string(label) : "<rc " + std::to_string(rc) + ">";
}

// Label, asked again until it is `expected` or two seconds have passed: a
// change of the term database reaches the library's copy of the table
// within a second. The last answer.
std::string Label_Until(const std::string &word_gb, const std::string &expected) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  std::string label = Label(word_gb);
  while (label != expected && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    label = Label(word_gb);
  }
  return label;
}

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    const char *tmp = std::getenv("TMPDIR");
    dir_ = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/tesq-faults-XXXXXX";
    ASSERT_NE(mkdtemp(&dir_[0]), nullptr);
    built_ = Built_Data();
    for (const char *file : kDataFiles)
      ASSERT_EQ(symlink((built_ + "/" + file).c_str(), (dir_ + "/" + file).c_str()), 0) << file;
    // The term database is a copy of its own: tests change it.
    Replace("terms.db", Read(built_ + "/terms.db"));
    const char *old = std::getenv("TESQ_DATA_DIR");
    saved_data_dir_ = old != nullptr ? old : "";
    had_data_dir_ = old != nullptr;
    setenv("TESQ_DATA_DIR", dir_.c_str(), 1);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    cwd_ = cwd;
    ASSERT_EQ(chdir(dir_.c_str()), 0);  // "as.txt" goes here
  }

  void TearDown() override {
    Tesquin_UnInit();
    Free_All_Space();  // also after a test that used the service directly
    if (had_data_dir_) {
      setenv("TESQ_DATA_DIR", saved_data_dir_.c_str(), 1);
    } else {
      unsetenv("TESQ_DATA_DIR");
    }
    if (!cwd_.empty()) {
      EXPECT_EQ(chdir(cwd_.c_str()), 0);
    }
    Remove_Tree(dir_);
  }

  static void Remove_Tree(const std::string &path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
      chmod(path.c_str(), 0700);
      if (DIR *d = opendir(path.c_str())) {
        while (dirent *e = readdir(d)) {
          const std::string name = e->d_name;
          if (name != "." && name != "..") Remove_Tree(path + "/" + name);
        }
        closedir(d);
      }
      rmdir(path.c_str());
    } else {
      unlink(path.c_str());
    }
  }

  void Replace(const char *file, const std::string &content) { Write(dir_ + "/" + file, content); }
  std::string Path(const char *file) const { return dir_ + "/" + file; }

  // Runs `action` with standard error captured; returns what it printed.
  template <typename F>
  std::string Stderr_Of(F action) {
    ::testing::internal::CaptureStderr();
    action();
    return ::testing::internal::GetCapturedStderr();
  }

  std::string dir_, built_, cwd_, saved_data_dir_;
  bool had_data_dir_ = false;
  // 计算机科学 is a known term ("主题词" in data/terms.tsv); 北京大学 an
  // organisation name by the recognisers.
  const std::string term_ = Gb("计算机科学");
  const std::string term_label_ = Gb("主题词");
};

TEST_F(Faults, BaselineKnownTermIsFound) {
  ASSERT_EQ(Tesquin_Init(0), 0);
  EXPECT_EQ(Label(term_), term_label_);
  EXPECT_EQ(Label("9787111123453"), "ISBN");
}

// A term database that cannot be used: every word is classified as if the
// table had no row, and the reason is reported once on stderr.
TEST_F(Faults, TermDatabaseMissingAnswersNoRowWithDiagnostic) {
  ASSERT_EQ(std::remove(Path("terms.db").c_str()), 0);
  ASSERT_EQ(Tesquin_Init(0), 0);
  std::string label;
  const std::string err = Stderr_Of([&] { label = Label(term_); });
  EXPECT_NE(label, term_label_);
  EXPECT_EQ(Label("9787111123453"), "ISBN");
  EXPECT_NE(err.find("karvel: "), std::string::npos) << err;
  EXPECT_NE(err.find("no such file"), std::string::npos) << err;
}

TEST_F(Faults, TermDatabaseCorruptAnswersNoRowWithDiagnostic) {
  std::string garbage(64 * 1024, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 2654435761u) >> 13);
  Replace("terms.db", garbage);
  ASSERT_EQ(Tesquin_Init(0), 0);
  std::string label;
  const std::string err = Stderr_Of([&] { label = Label(term_); });
  EXPECT_NE(label, term_label_);
  EXPECT_NE(err.find("karvel: "), std::string::npos) << err;
}

TEST_F(Faults, TermDatabaseTruncatedAnswersNoRow) {
  const std::string db = Read(built_ + "/terms.db");
  Replace("terms.db", db.substr(0, db.size() / 2 + 7));
  ASSERT_EQ(Tesquin_Init(0), 0);
  std::string label;
  Stderr_Of([&] { label = Label(term_); });
  EXPECT_NE(label, term_label_);
}

// Another process holds an exclusive lock: lookups give up after a short
// wait (no row, diagnostic), and find the term again once the lock is gone.
TEST_F(Faults, TermDatabaseLockedByAnotherProcess) {
  ASSERT_EQ(Tesquin_Init(0), 0);
  ASSERT_EQ(Label(term_), term_label_);
  int to_child[2], to_parent[2];
  ASSERT_EQ(pipe(to_child), 0);
  ASSERT_EQ(pipe(to_parent), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Only the parent's ends stay open, so that the child ends when the
    // parent does (a failed assertion) instead of holding the test's output.
    close(to_child[1]);
    close(to_parent[0]);
    sqlite3 *db = nullptr;
    char c = 'x';
    // The copy's reader may hold a read lock just now: wait for it as any
    // writer would.
    if (sqlite3_open_v2(Path("terms.db").c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK &&
        sqlite3_busy_timeout(db, 10000) == SQLITE_OK &&
        sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr) == SQLITE_OK)
      c = 'L';
    if (write(to_parent[1], &c, 1) != 1) _exit(1);
    if (read(to_child[0], &c, 1) != 1) _exit(1);
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    _exit(0);
  }
  close(to_child[0]);
  close(to_parent[1]);
  char c = 0;
  ASSERT_EQ(read(to_parent[0], &c, 1), 1);
  ASSERT_EQ(c, 'L');
  // The table has not changed: a copy read before the lock goes on
  // answering; without one the lookup finds nothing and says why.
  std::string label;
  const auto begin = std::chrono::steady_clock::now();
  const std::string err = Stderr_Of([&] { label = Label(term_); });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  EXPECT_LT(seconds, 2.0);
  if (label != term_label_) {
    EXPECT_NE(err.find("locked"), std::string::npos) << err;
  }
  ASSERT_EQ(write(to_child[1], "u", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_EQ(Label(term_), term_label_);
}

// The database deleted under a running library, then put back.
TEST_F(Faults, TermDatabaseDeletedWhileRunning) {
  ASSERT_EQ(Tesquin_Init(0), 0);
  ASSERT_EQ(Label(term_), term_label_);
  const std::string db = Read(Path("terms.db"));
  std::string label;
  const std::string err = Stderr_Of([&] {
    ASSERT_EQ(std::remove(Path("terms.db").c_str()), 0);
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while ((label = Label(term_)) == term_label_ && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  });
  EXPECT_NE(label, term_label_);
  EXPECT_NE(err.find("karvel: "), std::string::npos) << err;
  Replace("terms.db", db);
  EXPECT_EQ(Label_Until(term_, term_label_), term_label_);
}

// A damaged dictionary file is a load failure with that dictionary's code;
// a damaged segmenter lexicon fails the service's start (-1). The library
// stays usable: once the file is sound again, Tesquin_Init succeeds.
struct Damaged_File {
  const char *file;
  int32_t code;
};
const Damaged_File kDamaged[] = {
    {"segmenter.vlex", -1}, {"foreign_dic.vdic", -2}, {"name_dic.vdic", -3},
    {"org_dic.vdic", -4},   {"fund_dic.vdic", -5},    {"place.vdic", -6},
};

TEST_F(Faults, DictionaryFileTruncatedFailsItsLoad) {
  for (const Damaged_File &d : kDamaged) {
    const std::string sound = Read(built_ + "/" + d.file);
    for (size_t keep : {size_t{0}, size_t{10}, size_t{64}, sound.size() / 2, sound.size() - 1}) {
      Replace(d.file, sound.substr(0, keep));
      EXPECT_EQ(Tesquin_Init(0), d.code) << d.file << " cut to " << keep << " bytes";
      Free_All_Space();
    }
    std::remove(Path(d.file).c_str());
    ASSERT_EQ(symlink((built_ + "/" + d.file).c_str(), Path(d.file).c_str()), 0);
  }
  EXPECT_EQ(Tesquin_Init(0), 0);
  EXPECT_EQ(Label(term_), term_label_);
}

TEST_F(Faults, DictionaryFileReplacedByGarbageFailsItsLoad) {
  for (const Damaged_File &d : kDamaged) {
    std::string sound = Read(built_ + "/" + d.file);
    // Garbage of the same size; then the sound file with one payload byte
    // flipped (caught by the checksum); then a directory in its place.
    std::string garbage(sound.size(), '\0');
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 7 + (i >> 9));
    std::string flipped = sound;
    flipped[flipped.size() / 2] ^= 0x20;
    for (const std::string *content : {&garbage, &flipped}) {
      Replace(d.file, *content);
      EXPECT_EQ(Tesquin_Init(0), d.code) << d.file;
      Free_All_Space();
    }
    std::remove(Path(d.file).c_str());
    ASSERT_EQ(mkdir(Path(d.file).c_str(), 0700), 0);
    EXPECT_EQ(Tesquin_Init(0), d.code) << d.file << " as a directory";
    Free_All_Space();
    rmdir(Path(d.file).c_str());
    ASSERT_EQ(symlink((built_ + "/" + d.file).c_str(), Path(d.file).c_str()), 0);
  }
  EXPECT_EQ(Tesquin_Init(0), 0);
}

// --- data files changed while loaded -----------------------------------------

// Everything a host gets from the dictionaries and the segmenter: the labels
// the recognisers give (organisation, person, foreign and fund names) and an
// essay's segmentation with its merged names (place names included).
std::string Answers() {
  std::string answers;
  for (const char *word : {"清华大学", "张建华", "爱因斯坦", "中国人口福利基金会", "王小明在北京工作"})
    answers += Label(Gb(word)) + "|";
  const std::string essay = Gb("张建华在北京大学学习，后来去了上海和广州。");
  const int32_t count = static_cast<int32_t>(essay.size()) + 1;
  std::vector<int32_t> ends(static_cast<size_t>(count));
  std::vector<int16_t> tags(static_cast<size_t>(count));
  answers += std::to_string(Tesquin_Search_Essay(essay.c_str(), ends.data(), count, -1, 1, tags.data()));
  for (int32_t i = 0; i < count && ends[i] > 0; ++i)
    answers += " " + std::to_string(ends[i]) + "/" + std::to_string(tags[i]);
  return answers;
}

// Writes `bytes` into the file at `offset`, in place (same inode), first
// cutting it to `keep` bytes when `keep` is not -1.
void Write_In_Place(const std::string &path, off_t keep, off_t offset, const std::string &bytes) {
  const int fd = open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0) << path;
  if (keep >= 0) {
    ASSERT_EQ(ftruncate(fd, keep), 0);
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = pwrite(fd, bytes.data() + done, bytes.size() - done, offset + static_cast<off_t>(done));
    ASSERT_GT(n, 0) << path;
    done += static_cast<size_t>(n);
  }
  close(fd);
}

// Ways a loaded file is changed in place rather than replaced by rename: a
// `cp` of the very same bytes over it (which cuts it to nothing first), an
// overwrite of the same size, a same-size rewrite that spoils only the
// tables behind the header, cuts.
struct In_Place_Change {
  const char *what;
  void (*apply)(const std::string &path, const std::string &sound);
};
const In_Place_Change kIn_Place_Changes[] = {
    {"the same bytes copied over it", [](const std::string &path, const std::string &sound) {
       Write_In_Place(path, 0, 0, sound);
     }},
    {"garbage of the same size written over it", [](const std::string &path, const std::string &sound) {
       std::string garbage(sound.size(), '\0');
       for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 7 + (i >> 9));
       Write_In_Place(path, -1, 0, garbage);
     }},
    {"its tables overwritten behind a sound header", [](const std::string &path, const std::string &sound) {
       Write_In_Place(path, -1, 64, std::string(sound.size() / 2, '\xFF'));
     }},
    {"truncated to 100 bytes", [](const std::string &path, const std::string &) {
       ASSERT_EQ(truncate(path.c_str(), 100), 0);
     }},
    {"truncated to nothing and grown back with zeros", [](const std::string &path, const std::string &sound) {
       ASSERT_EQ(truncate(path.c_str(), 0), 0);
       ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(sound.size())), 0);
     }},
};

TEST_F(Faults, ReplacingALoadedFileInPlaceCannotCrashTheHost) {
  ASSERT_EQ(Tesquin_Init(0), 0);
  const std::string expected = Answers();
  ASSERT_EQ(expected.substr(0, expected.find('|')), Gb("机构名"));
  Tesquin_UnInit();
  for (const Damaged_File &d : kDamaged) {
    const std::string sound = Read(built_ + "/" + d.file);
    for (const In_Place_Change &change : kIn_Place_Changes) {
      Replace(d.file, sound);  // a file of the test's own, not the built data
      ASSERT_EQ(Tesquin_Init(0), 0) << d.file;
      change.apply(Path(d.file), sound);
      EXPECT_EQ(Answers(), expected) << d.file << ": " << change.what;
      Tesquin_UnInit();
    }
    std::remove(Path(d.file).c_str());
    ASSERT_EQ(symlink((built_ + "/" + d.file).c_str(), Path(d.file).c_str()), 0);
  }
}

// Lets a reader blocked in opening a FIFO go after `patience`, by opening the
// FIFO's other end, so that a regression fails a test instead of hanging it.
class Fifo_Watchdog {
 public:
  Fifo_Watchdog(const std::string &path, std::chrono::milliseconds patience)
      : thread_([this, path, patience] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (stop_.wait_for(lock, patience, [this] { return stopped_; })) return;
          while (!stopped_) {
            const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) close(fd);
            stop_.wait_for(lock, std::chrono::milliseconds(50), [this] { return stopped_; });
          }
        }) {}
  ~Fifo_Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopped_ = true;
    }
    stop_.notify_all();
    thread_.join();
  }

 private:
  std::mutex mutex_;
  std::condition_variable stop_;
  bool stopped_ = false;
  std::thread thread_;
};

// A FIFO in place of a data file is refused at once, with that file's code,
// instead of waiting for a writer that never comes.
TEST_F(Faults, AFifoInPlaceOfADataFileIsRefusedAtOnce) {
  for (const Damaged_File &d : kDamaged) {
    std::remove(Path(d.file).c_str());
    ASSERT_EQ(mkfifo(Path(d.file).c_str(), 0600), 0) << d.file;
    double seconds;
    {
      Fifo_Watchdog watchdog(Path(d.file), std::chrono::milliseconds(3000));
      const auto begin = std::chrono::steady_clock::now();
      EXPECT_EQ(Tesquin_Init(0), d.code) << d.file;
      seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    }
    EXPECT_LT(seconds, 1.0) << d.file << ": Tesquin_Init waited on the FIFO";
    std::remove(Path(d.file).c_str());
    ASSERT_EQ(symlink((built_ + "/" + d.file).c_str(), Path(d.file).c_str()), 0);
  }
  EXPECT_EQ(Tesquin_Init(0), 0);
  EXPECT_EQ(Label(term_), term_label_);
}

TEST_F(Faults, DataDirectoryPointingNowhere) {
  setenv("TESQ_DATA_DIR", (dir_ + "/no/such/dir").c_str(), 1);
  EXPECT_EQ(Tesquin_Init(0), -1);
  setenv("TESQ_DATA_DIR", "/dev/null", 1);
  EXPECT_EQ(Tesquin_Init(0), -1);
  setenv("TESQ_DATA_DIR", dir_.c_str(), 1);
  EXPECT_EQ(Tesquin_Init(0), 0);
}

// No "as.txt" can be written (a directory of that name; and, when not run
// as root, a read-only working directory): the trace is skipped and the
// document is still produced.
TEST_F(Faults, TraceFileCannotBeWritten) {
  ASSERT_EQ(Tesquin_Init(0), 0);
  const std::string query = term_ + " 9787111123453";
  auto search = [&](std::string *doc) {
    char out[4096];
    uint32_t size = sizeof out;
    const int32_t rc = Tesquin_Search(query.c_str(), out, &size);
    if (rc == 0) *doc = out;
    return rc;
  };
  std::string expected;
  ASSERT_EQ(search(&expected), 0);
  std::remove("as.txt");

  ASSERT_EQ(mkdir("as.txt", 0700), 0);
  std::string doc;
  EXPECT_EQ(search(&doc), 0);
  EXPECT_EQ(doc, expected);
  rmdir("as.txt");

  if (geteuid() != 0) {
    ASSERT_EQ(mkdir("readonly", 0500), 0);
    ASSERT_EQ(chdir("readonly"), 0);
    doc.clear();
    EXPECT_EQ(search(&doc), 0);
    EXPECT_EQ(doc, expected);
    EXPECT_NE(access("as.txt", F_OK), 0);
    ASSERT_EQ(chdir(dir_.c_str()), 0);
  }
}

// --- a term import killed part-way -------------------------------------------

// `lines` terms in the import format (UTF-8), all new words labelled "新".
std::string Import_Source(size_t lines) {
  std::string text;
  std::string utf8;
  for (size_t i = 0; i < lines; ++i) {
    // Two Han characters from the GB2312 rows B0..D7, a digit string.
    const unsigned char gb[4] = {static_cast<unsigned char>(0xB0 + i % 40),
                                 static_cast<unsigned char>(0xA1 + (i / 40) % 94),
                                 static_cast<unsigned char>(0xB0 + (i / 3760) % 40), 0xA1};
    gb::Gb_To_Utf8(std::string(reinterpret_cast<const char *>(gb), 4), &utf8);
    text += utf8 + std::to_string(i) + "\t\xE6\x96\xB0\n";
  }
  return text;
}

// Runs `tesq terms import` on the test's database, its source fed through a
// pipe; kills it with SIGKILL once `before_kill` bytes have been fed (or after
// `delay_ms` of feeding everything when before_kill is 0). Returns true when
// the import was killed, false when it finished first.
bool Import_And_Kill(const std::string &db, const std::string &source, bool replace, size_t before_kill,
                     int delay_ms) {
  int in[2];
  if (pipe(in) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    close(in[0]);
    close(in[1]);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    if (replace)
      execl(TESQ_TOOL, TESQ_TOOL, "terms", "import", "--replace", "--db", db.c_str(), "-", (char *)nullptr);
    else
      execl(TESQ_TOOL, TESQ_TOOL, "terms", "import", "--db", db.c_str(), "-", (char *)nullptr);
    _exit(127);
  }
  close(in[0]);
  signal(SIGPIPE, SIG_IGN);
  const size_t feed = before_kill == 0 ? source.size() : before_kill;
  size_t done = 0;
  while (done < feed) {
    const ssize_t n = write(in[1], source.data() + done, feed - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (before_kill == 0) {
    close(in[1]);
    std::this_thread::sleep_for(std::chrono::milliseconds(delay_ms));
  } else {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let it write what it read
  }
  int status = 0;
  const bool finished = waitpid(pid, &status, WNOHANG) == pid;
  if (!finished) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  if (before_kill != 0) close(in[1]);
  return !finished && WIFSIGNALED(status);
}

std::string Export(const std::string &db) {
  const std::string out = db + ".export.txt";
  const std::string command = std::string(TESQ_TOOL) + " terms export --db '" + db + "' '" + out + "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return "<export failed>";
  const std::string text = Read(out);
  std::remove(out.c_str());
  return text;
}

TEST_F(Faults, TermImportKilledMidStreamLeavesDatabaseAsItWas) {
  ASSERT_EQ(Tesquin_Init(0), 0);
  const std::string db = Path("terms.db");
  const std::string before = Read(db);
  const std::string exported = Export(db);
  ASSERT_NE(exported.find("\t"), std::string::npos);
  const std::string source = Import_Source(200000);
  for (bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "--replace" : "merge");
    ASSERT_TRUE(Import_And_Kill(db, source, replace, source.size() / 2, 0));
    EXPECT_TRUE(Read(db) == before) << "the database file changed";
    EXPECT_NE(access((db + "-journal").c_str(), F_OK), 0) << "a journal was left beside the database";
    EXPECT_EQ(Label(term_), term_label_);
    const std::string first_new = Gb(source.substr(0, source.find('\t')));
    EXPECT_NE(Label(first_new), Gb("新"));
    EXPECT_EQ(Export(db), exported);
  }

  // The next import that completes removes what the killed ones left.
  auto leftovers = [&] {
    int n = 0;
    if (DIR *d = opendir(dir_.c_str())) {
      while (dirent *e = readdir(d)) n += std::strstr(e->d_name, ".import-") != nullptr;
      closedir(d);
    }
    return n;
  };
  EXPECT_GT(leftovers(), 0);
  const std::string small = dir_ + "/small.tsv";
  Write(small, "\xE6\x96\xB0\xE8\xAF\x8D\t\xE6\x96\xB0\n");  // 新词<TAB>新
  const std::string command = std::string(TESQ_TOOL) + " terms import --db '" + db + "' '" + small + "' 2>/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(Label_Until(Gb("新词"), Gb("新")), Gb("新"));
  EXPECT_EQ(leftovers(), 0);
}

// Killed at moments spread over the whole import, commit and rename
// included: the database is always either the old one or the complete new
// one, and always readable.
TEST_F(Faults, TermImportKilledAtAnyMomentLeavesOldOrNewDatabase) {
  ASSERT_EQ(Tesquin_Init(0), 0);
  const std::string db = Path("terms.db");
  const std::string exported = Export(db);
  const std::string source = Import_Source(20000);
  const std::string first_new = Gb(source.substr(0, source.find('\t')));
  int killed = 0, finished = 0;
  for (int delay_ms = 0; delay_ms <= 400 && finished < 2; delay_ms += 20) {
    if (Import_And_Kill(db, source, false, 0, delay_ms))
      ++killed;
    else
      ++finished;
    const std::string now = Export(db);
    const bool old_table = now == exported;
    const bool new_table = now.size() > exported.size() && now.find("\t\xE6\x96\xB0\n") != std::string::npos;
    ASSERT_TRUE(old_table || new_table) << "after a kill at " << delay_ms << " ms";
    EXPECT_EQ(Label(term_), term_label_);
    if (new_table) {
      EXPECT_EQ(Label_Until(first_new, Gb("新")), Gb("新"));
    } else {
      EXPECT_NE(Label(first_new), Gb("新"));
    }
    if (new_table) break;  // a finished import: later kills would test the new table
  }
  EXPECT_GT(killed, 0);
}

// Two merges at once: they take turns, and neither loses the other's terms.
TEST_F(Faults, ConcurrentTermImportsKeepEveryTerm) {
  ASSERT_EQ(Tesquin_Init(0), 0);
  const std::string db = Path("terms.db");
  const std::string source = Import_Source(40000);
  const size_t middle = source.find('\n', source.size() / 2) + 1;
  Write(dir_ + "/first.tsv", source.substr(0, middle));
  Write(dir_ + "/second.tsv", source.substr(middle));
  pid_t pids[2];
  const char *const files[2] = {"first.tsv", "second.tsv"};
  for (int i = 0; i < 2; ++i) {
    const std::string file = dir_ + "/" + files[i];
    pids[i] = fork();
    ASSERT_GE(pids[i], 0);
    if (pids[i] == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 2);
      execl(TESQ_TOOL, TESQ_TOOL, "terms", "import", "--db", db.c_str(), file.c_str(), (char *)nullptr);
      _exit(127);
    }
  }
  for (pid_t pid : pids) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  const std::string first_word = Gb(source.substr(0, source.find('\t')));
  const size_t last_line = source.rfind('\n', source.size() - 2) + 1;
  const std::string last_word = Gb(source.substr(last_line, source.find('\t', last_line) - last_line));
  EXPECT_EQ(Label(first_word), Gb("新"));
  EXPECT_EQ(Label(last_word), Gb("新"));
  EXPECT_EQ(Label(term_), term_label_);
}

// --- Init / UnInit cycles ----------------------------------------------------

// Descriptors of this process open on `path` (its real name).
int Descriptors_On(const std::string &path) {
  char real[4096];
  if (realpath(path.c_str(), real) == nullptr) return -1;
  int n = 0;
  if (DIR *d = opendir("/proc/self/fd")) {
    while (dirent *e = readdir(d)) {
      char target[4096];
      const std::string link = std::string("/proc/self/fd/") + e->d_name;
      const ssize_t length = readlink(link.c_str(), target, sizeof target - 1);
      if (length <= 0) continue;
      target[length] = '\0';
      n += std::strcmp(target, real) == 0;
    }
    closedir(d);
  }
  return n;
}

// Each thread that searched left a connection in the pool; Tesquin_UnInit
// closes them all, so that nothing keeps the database file open (on Windows
// an open file cannot be replaced by an import).
TEST_F(Faults, UnInitLeavesNoDescriptorOnTheTermDatabase) {
  ASSERT_EQ(Tesquin_Init(0), 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) threads.emplace_back([&] { EXPECT_EQ(Label(term_), term_label_); });
  for (std::thread &thread : threads) thread.join();
  ASSERT_GT(Descriptors_On(Path("terms.db")), 0);
  ASSERT_EQ(Tesquin_UnInit(), 0);
  EXPECT_EQ(Descriptors_On(Path("terms.db")), 0);
  // Initialised again, lookups open the database again.
  ASSERT_EQ(Tesquin_Init(0), 0);
  EXPECT_EQ(Label(term_), term_label_);
}

long Resident_Kb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.compare(0, 6, "VmRSS:") == 0) return std::atol(line.c_str() + 6);
  return -1;
}

size_t Mapping_Count() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  size_t n = 0;
  while (std::getline(maps, line)) ++n;
  return n;
}

// The heap in use, large blocks the allocator maps on their own included.
// Resident memory and mappings are compared only without AddressSanitizer,
// whose allocator keeps freed memory in quarantine.
size_t Heap_In_Use() {
#if TESQ_ASAN
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

TEST_F(Faults, InitUnInitCyclesDoNotGrowMemory) {
  for (int i = 0; i < 5; ++i) {  // warm up allocator and caches
    ASSERT_EQ(Tesquin_Init(0), 0);
    Label(term_);
    Tesquin_UnInit();
  }
  const long resident_before = Resident_Kb();
  const size_t heap_before = Heap_In_Use();
  const size_t maps_before = Mapping_Count();
  for (int i = 0; i < 40; ++i) {
    ASSERT_EQ(Tesquin_Init(0), 0);
    ASSERT_EQ(Label(term_), term_label_);
    ASSERT_EQ(Tesquin_UnInit(), 0);
  }
  const size_t heap_after = Heap_In_Use();
  EXPECT_LT(heap_after, heap_before + 16 * 1024) << "heap in use grew from " << heap_before << " to " << heap_after;
  if (!TESQ_ASAN) {
    const long resident_after = Resident_Kb();
    ASSERT_GT(resident_before, 0);
    EXPECT_LT(resident_after - resident_before, 2048)
        << "resident memory grew from " << resident_before << " kB to " << resident_after << " kB";
    EXPECT_EQ(Mapping_Count(), maps_before) << "mappings left behind";
  }
}

// A failed Tesquin_Init keeps nothing: the dictionaries it loaded before
// the failing one go with the service, so a host that gives up holds no
// data, and the next Tesquin_Init starts afresh and works.
TEST_F(Faults, FailedInitLeavesNothingLoaded) {
  // Lookups go to the file: a copy of the term table read in the background
  // meanwhile would count in the heap.
  setenv("TESQ_DB_COPY", "0", 1);
  struct Restore {
    ~Restore() { unsetenv("TESQ_DB_COPY"); }
  } restore;
  const std::string sound = Read(built_ + "/place.vdic");
  ASSERT_EQ(Tesquin_Init(0), 0);  // warm up allocator and caches
  ASSERT_EQ(Label(term_), term_label_);
  Tesquin_UnInit();
  Replace("place.vdic", sound.substr(0, sound.size() / 2));
  const size_t heap_before = Heap_In_Use();
  for (int i = 0; i < 20; ++i) ASSERT_EQ(Tesquin_Init(0), -6);  // more failures than dictionary slots
  for (const char *name : {"foreign_dic", "name_dic", "org_dic", "fund_dic", "place"})
    EXPECT_EQ(Dict_Get_Handle(name, ""), -1) << name << " is still loaded";
  EXPECT_EQ(Dict_Load_New("foreign_dic", ""), -5) << "the dictionary service is still started";
  const size_t heap_after = Heap_In_Use();
  EXPECT_LT(heap_after, heap_before + 16 * 1024) << "heap in use grew from " << heap_before << " to " << heap_after;
  Replace("place.vdic", sound);
  ASSERT_EQ(Tesquin_Init(0), 0);
  EXPECT_EQ(Label(term_), term_label_);
  EXPECT_EQ(Label(Gb("清华大学")), Gb("机构名"));
}

}  // namespace
