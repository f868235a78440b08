/* tesqsrch.dll used from several threads at once, as a Windows host's
 * worker threads use it: loaded with LoadLibrary, initialised once, then
 *
 *   - long-lived workers that classify a fixed list of words (single words,
 *     query documents, essays) many times over, every answer compared with
 *     the one the main thread got alone beforehand;
 *   - short-lived threads, started and ended over and over, each making one
 *     lookup (each thread exit runs the DLLs' thread detach);
 *   - both at once,
 *
 * then shut down and unloaded. Every wait has a deadline: a thread that has
 * not finished in time is a hang, reported as such, and the process ends at
 * once (TerminateProcess: a hang under the loader lock would stop an
 * ordinary exit as well). TESQ_HANG_PAUSE=1 makes a hung process print its
 * id and wait to be examined instead (winedbg --auto PID).
 *
 * Runs in a fresh scratch directory, for the trace file "as.txt" that query
 * documents append to. Prints "N passed, N failed"; exits nonzero on any
 * failure, 3 on a hang. */
#include <windows.h>

#include <process.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host_library.h"

static struct Host_Library library;

static volatile LONG passed, failed;

#define CHECK(cond)                                                             \
  do {                                                                          \
    if (cond) {                                                                 \
      InterlockedIncrement(&passed);                                            \
    } else {                                                                    \
      InterlockedIncrement(&failed);                                            \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
    }                                                                           \
  } while (0)

/* GB2312 words: known terms (from the term database), names, organisations,
 * places, funds, plain words, codes and one that is nothing at all. */
static const char *const kWords[] = {
    "\xBC\xC6\xCB\xE3\xBB\xFA\xBF\xC6\xD1\xA7",                                 /* 计算机科学 */
    "\xC3\xAB\xD4\xF3\xB6\xAB",                                                 /* 毛泽东 */
    "\xB1\xB1\xBE\xA9\xB4\xF3\xD1\xA7",                                         /* 北京大学 */
    "\xC7\xE9\xB1\xA8\xD1\xA7\xB1\xA8",                                         /* 情报学报 */
    "\xC0\xEE\xD0\xA1\xC3\xF7",                                                 /* 李小明 */
    "\xC9\xCF\xBA\xA3",                                                         /* 上海 */
    "\xB9\xFA\xBC\xD2\xD7\xD4\xC8\xBB\xBF\xC6\xD1\xA7\xBB\xF9\xBD\xF0",         /* 国家自然科学基金 */
    "\xCD\xBC\xCA\xE9\xB9\xDD",                                                 /* 图书馆 */
    "\xCA\xFD\xBE\xDD\xCD\xDA\xBE\xF2",                                         /* 数据挖掘 */
    "\xC7\xE5\xBB\xAA\xB4\xF3\xD1\xA7\xBC\xC6\xCB\xE3\xBB\xFA\xCF\xB5",         /* 清华大学计算机系 */
    "\xC8\xCB\xB9\xA4\xD6\xC7\xC4\xDC",                                         /* 人工智能 */
    "\xD6\xD0\xB9\xFA\xCD\xBC\xCA\xE9\xB9\xDD\xD1\xA7\xB1\xA8",                 /* 中国图书馆学报 */
    "\xC9\xEE\xB6\xC8\xD1\xA7\xCF\xB0",                                         /* 深度学习 */
    "9787111123453",
    "1234-5679",
    "11-1234/G",
    "ab",
};
#define WORD_COUNT (sizeof kWords / sizeof kWords[0])

/* The query and the essay of the document and segmentation checks. */
static const char kQuery[] = "\xBC\xC6\xCB\xE3\xBB\xFA\xBF\xC6\xD1\xA7 9787111123453 \xC3\xAB\xD4\xF3\xB6\xAB "
                             "\xB1\xB1\xBE\xA9\xB4\xF3\xD1\xA7 \xC7\xE9\xB1\xA8\xD1\xA7\xB1\xA8";
/* 毛泽东在北京大学讲话，李小明在上海图书馆研究数据挖掘。 */
static const char kEssay[] = "\xC3\xAB\xD4\xF3\xB6\xAB\xD4\xDA\xB1\xB1\xBE\xA9\xB4\xF3\xD1\xA7\xBD\xB2\xBB\xB0"
                             "\xA3\xAC\xC0\xEE\xD0\xA1\xC3\xF7\xD4\xDA\xC9\xCF\xBA\xA3\xCD\xBC\xCA\xE9\xB9\xDD"
                             "\xD1\xD0\xBE\xBF\xCA\xFD\xBE\xDD\xCD\xDA\xBE\xF2\xA1\xA3";
#define ESSAY_SLOTS 64

/* The answers of the main thread alone. */
static struct {
  int32_t result;
  char label[256];
} expected_word[WORD_COUNT];
static char expected_document[8192];
static int32_t expected_essay_rc;
static int32_t expected_ends[ESSAY_SLOTS];
static int16_t expected_tags[ESSAY_SLOTS];

/* One answer, compared with the expected one; 1 when equal. */
static int Word_Matches(size_t i) {
  char output[256];
  uint32_t size = sizeof output;
  const int32_t rc = library.single(kWords[i], output, &size);
  if (rc != expected_word[i].result) return 0;
  return rc != 0 || strcmp(output, expected_word[i].label) == 0;
}

static int Document_Matches(void) {
  uint32_t size = sizeof expected_document;
  char *output = (char *)malloc(size);
  int same;
  if (output == NULL) return 0;
  same = library.search(kQuery, output, &size) == 0 && strcmp(output, expected_document) == 0;
  free(output);
  return same;
}

static int Essay_Matches(void) {
  int32_t ends[ESSAY_SLOTS];
  int16_t tags[ESSAY_SLOTS];
  memset(ends, 0, sizeof ends);
  memset(tags, 0, sizeof tags);
  if (library.essay(kEssay, ends, ESSAY_SLOTS, -1, 1, tags) != expected_essay_rc) return 0;
  return memcmp(ends, expected_ends, sizeof ends) == 0 && memcmp(tags, expected_tags, sizeof tags) == 0;
}

static void Take_Expected_Answers(void) {
  size_t i;
  uint32_t size;
  for (i = 0; i < WORD_COUNT; ++i) {
    size = sizeof expected_word[i].label;
    expected_word[i].result = library.single(kWords[i], expected_word[i].label, &size);
  }
  /* The list must exercise the classifier: known terms, names and words
   * that are nothing. */
  CHECK(expected_word[0].result == 0 && strcmp(expected_word[0].label, "\xD6\xF7\xCC\xE2\xB4\xCA") == 0);
  CHECK(expected_word[1].result == 0 && strcmp(expected_word[1].label, "\xC8\xCB\xC3\xFB") == 0);
  CHECK(expected_word[3].result == 0 && strcmp(expected_word[3].label, "\xBF\xAF\xC3\xFB") == 0);
  CHECK(expected_word[WORD_COUNT - 1].result == 3);
  size = sizeof expected_document;
  CHECK(library.search(kQuery, expected_document, &size) == 0);
  CHECK(strstr(expected_document, "\t<Word p=\"ISBN\">9787111123453</Word>\n") != NULL);
  expected_essay_rc = library.essay(kEssay, expected_ends, ESSAY_SLOTS, -1, 1, expected_tags);
  CHECK(expected_essay_rc == 0);
  CHECK(expected_ends[0] == 6); /* 毛泽东 */
}

/* --- threads --------------------------------------------------------------- */

/* Every thread is waited for at most this long. */
#define DEADLINE_MS 60000

/* A thread that did not end in time: the process cannot be trusted to end
 * normally, so it is ended here (or kept for a debugger). */
static void Hang(const char *what) {
  const char *pause = getenv("TESQ_HANG_PAUSE");
  fprintf(stderr, "HANG: %s did not finish within %d s (process %lu)\n", what, DEADLINE_MS / 1000,
          (unsigned long)GetCurrentProcessId());
  fflush(stderr);
  if (pause != NULL && pause[0] == '1') {
    for (;;) Sleep(1000);
  }
  TerminateProcess(GetCurrentProcess(), 3);
}

static HANDLE Start(unsigned(__stdcall *body)(void *), void *arg) {
  const uintptr_t h = _beginthreadex(NULL, 0, body, arg, 0, NULL);
  if (h == 0) {
    fprintf(stderr, "_beginthreadex failed\n");
    TerminateProcess(GetCurrentProcess(), 2);
  }
  return (HANDLE)h;
}

/* Waits for `thread`, closes it and returns its exit code. */
static DWORD Join(HANDLE thread, const char *what) {
  DWORD code = 1;
  if (WaitForSingleObject(thread, DEADLINE_MS) != WAIT_OBJECT_0) Hang(what);
  if (!GetExitCodeThread(thread, &code)) code = 1;
  CloseHandle(thread);
  return code;
}

#define WORKERS 4
#define ROUNDS 30

/* A long-lived worker: ROUNDS passes over the words, each from a different
 * starting word, with a document and an essay per pass. Returns the number
 * of wrong answers. */
static unsigned __stdcall Worker(void *arg) {
  const size_t offset = (size_t)(uintptr_t)arg;
  unsigned wrong = 0;
  int round;
  size_t k;
  for (round = 0; round < ROUNDS; ++round) {
    for (k = 0; k < WORD_COUNT; ++k)
      if (!Word_Matches((k + offset + (size_t)round) % WORD_COUNT)) ++wrong;
    if (!Document_Matches()) ++wrong;
    if (!Essay_Matches()) ++wrong;
  }
  return wrong;
}

/* A short-lived thread: one lookup, chosen by its number, then it ends. */
static unsigned __stdcall One_Lookup(void *arg) {
  const size_t n = (size_t)(uintptr_t)arg;
  if (n % 16 == 7) return Essay_Matches() ? 0 : 1;
  return Word_Matches(n % WORD_COUNT) ? 0 : 1;
}

static void Run_Workers(HANDLE *threads, size_t first) {
  size_t t;
  for (t = 0; t < WORKERS; ++t) threads[t] = Start(Worker, (void *)(uintptr_t)(first + t * 5));
}

static void Join_Workers(HANDLE *threads) {
  size_t t;
  for (t = 0; t < WORKERS; ++t) CHECK(Join(threads[t], "a worker thread") == 0);
}

#define SHORT_THREADS 200
#define SHORT_AT_ONCE 4

/* SHORT_THREADS short-lived threads, SHORT_AT_ONCE at a time. */
static void Run_Short_Threads(void) {
  HANDLE running[SHORT_AT_ONCE];
  size_t n, wrong = 0;
  for (n = 0; n < SHORT_THREADS; ++n) {
    const size_t k = n % SHORT_AT_ONCE;
    if (n >= SHORT_AT_ONCE) wrong += Join(running[k], "a short-lived thread");
    running[k] = Start(One_Lookup, (void *)(uintptr_t)n);
  }
  for (n = 0; n < SHORT_AT_ONCE; ++n) wrong += Join(running[n], "a short-lived thread");
  CHECK(wrong == 0);
}

int main(void) {
  char scratch[MAX_PATH + 64];
  char home[MAX_PATH];
  HANDLE workers[WORKERS];
  int life;

  setvbuf(stderr, NULL, _IONBF, 0);
  if (GetCurrentDirectoryA(sizeof home, home) == 0) return 2;
  if (!Enter_Scratch_Directory("threads", scratch, sizeof scratch)) {
    fprintf(stderr, "cannot make a scratch directory\n");
    return 2;
  }
  if (!Host_Library_Load(&library)) return 1;
  if (!Host_Library_Complete(&library)) {
    fprintf(stderr, "tesqsrch.dll lacks one of its five functions\n");
    return 1;
  }

  /* Two lives of the library in one process: the second finds whatever the
   * threads of the first left behind. */
  for (life = 0; life < 2; ++life) {
    CHECK(library.init(0) == 0);
    Take_Expected_Answers();
    Run_Workers(workers, (size_t)life);
    Join_Workers(workers);
    Run_Short_Threads();
    /* Workers and short-lived threads at once. */
    Run_Workers(workers, (size_t)life + 1);
    Run_Short_Threads();
    Join_Workers(workers);
    CHECK(library.uninit() == 0);
  }
  CHECK(FreeLibrary(library.module));

  DeleteFileA("as.txt");
  SetCurrentDirectoryA(home);
  RemoveDirectoryA(scratch);
  printf("%ld passed, %ld failed\n", (long)passed, (long)failed);
  return failed == 0 ? 0 : 1;
}
