/* A Windows host's view of the library: tesqsrch.dll loaded at run time with
 * LoadLibrary, its five functions found by their plain names with
 * GetProcAddress and called through pointers of the header's convention,
 * on the built data ("data" beside the DLL). Runs in a fresh scratch
 * directory, where the query document's trace "as.txt" must appear as a
 * Windows text file (CR LF line ends). Prints "N passed, N failed" and exits
 * nonzero on any failure. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "host_library.h"

static int passed, failed;

#define CHECK(cond)                                                             \
  do {                                                                          \
    if (cond) {                                                                 \
      ++passed;                                                                 \
    } else {                                                                    \
      ++failed;                                                                 \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
    }                                                                           \
  } while (0)

/* GB2312 texts. */
#define GB_COMPUTER_SCIENCE "\xBC\xC6\xCB\xE3\xBB\xFA\xBF\xC6\xD1\xA7" /* 计算机科学 */
#define GB_MAO_ZEDONG "\xC3\xAB\xD4\xF3\xB6\xAB"                         /* 毛泽东 */
#define GB_PEKING_UNIVERSITY "\xB1\xB1\xBE\xA9\xB4\xF3\xD1\xA7"           /* 北京大学 */
#define GB_AT "\xD4\xDA"                                                  /* 在 */
#define GB_SPEECH "\xBD\xB2\xBB\xB0"                                      /* 讲话 */
#define GB_SUBJECT "\xD6\xF7\xCC\xE2\xB4\xCA"                             /* 主题词 */
#define GB_PERSON "\xC8\xCB\xC3\xFB"                                      /* 人名 */
#define GB_ORGANISATION "\xBB\xFA\xB9\xB9\xC3\xFB"                        /* 机构名 */

/* The whole content of a file, NUL-terminated; NULL when unreadable. */
static char *Read_Whole(const char *path, size_t *size) {
  FILE *f = fopen(path, "rb");
  char *buf = NULL;
  size_t used = 0, cap = 0, got;
  if (f == NULL) return NULL;
  do {
    if (cap - used < 4096) {
      char *grown = (char *)realloc(buf, cap + 65536);
      if (grown == NULL) break;
      buf = grown;
      cap += 65536;
    }
    got = fread(buf + used, 1, cap - used - 1, f);
    used += got;
  } while (got > 0);
  fclose(f);
  if (buf != NULL) buf[used] = '\0';
  *size = used;
  return buf;
}

static void Check_Query_Document(Search_Fn search) {
  static const char query[] = GB_COMPUTER_SCIENCE " 9787111123453 1234-5679 11-1234/G " GB_MAO_ZEDONG
                              " " GB_PEKING_UNIVERSITY;
  char output[8192];
  uint32_t size = sizeof output;
  int32_t rc = search(query, output, &size);
  CHECK(rc == 0);
  if (rc != 0) return;
  CHECK(strncmp(output, "<?xml version=\"1.0\" encoding=\"gb2312\" standalone=\"yes\" ?>\n<IR>\n", 62) == 0);
  CHECK(strstr(output, "<Sentence>" GB_COMPUTER_SCIENCE " 9787111123453") != NULL);
  CHECK(strstr(output, "\t<Word p=\"" GB_SUBJECT "\">" GB_COMPUTER_SCIENCE "</Word>\n") != NULL);
  CHECK(strstr(output, "\t<Word p=\"ISBN\">9787111123453</Word>\n") != NULL);
  CHECK(strstr(output, "\t<Word p=\"ISSN\">1234-5679</Word>\n") != NULL);
  CHECK(strstr(output, "\t<Word p=\"CN\">11-1234/G</Word>\n") != NULL);
  CHECK(strstr(output, "\t<Word p=\"" GB_PERSON "\">" GB_MAO_ZEDONG "</Word>\n") != NULL);
  CHECK(strstr(output, "\t<Word p=\"" GB_ORGANISATION "\">" GB_PEKING_UNIVERSITY "</Word>\n") != NULL);
  CHECK(strlen(output) >= 14 && strcmp(output + strlen(output) - 14, "</Items>\n</IR>") == 0);

  /* Too small: the size needed comes back, nothing is copied. */
  {
    const uint32_t needed = (uint32_t)strlen(output) + 1;
    char small[16];
    memset(small, 'x', sizeof small);
    size = sizeof small;
    CHECK(search(query, small, &size) == 1);
    CHECK(size == needed);
    CHECK(small[0] == 'x');
  }
}

/* The trace of the query document: six words, three lines each, every line
 * ended by CR LF as in any Windows text file. */
static void Check_Trace_File(void) {
  size_t size = 0, i, lines = 0;
  int bare_lf = 0;
  char *text = Read_Whole("as.txt", &size);
  CHECK(text != NULL);
  if (text == NULL) return;
  for (i = 0; i < size; ++i) {
    if (text[i] != '\n') continue;
    ++lines;
    if (i == 0 || text[i - 1] != '\r') bare_lf = 1;
  }
  CHECK(lines >= 6);
  CHECK(!bare_lf);
  CHECK(size >= 2 && text[size - 2] == '\r' && text[size - 1] == '\n');
  CHECK(strstr(text, "9787111123453\r\nISBN\r\n") != NULL);
  free(text);
}

static void Check_Single_Words(Singleword_Fn single) {
  static const struct {
    const char *word;
    int32_t result;
    const char *label;
  } cases[] = {
      {GB_COMPUTER_SCIENCE, 0, GB_SUBJECT},
      {"9787111123453", 0, "ISBN"},
      {"1234-5679", 0, "ISSN"},
      {GB_MAO_ZEDONG, 0, GB_PERSON},
      {GB_PEKING_UNIVERSITY, 0, GB_ORGANISATION},
      {"ab", 3, NULL},
  };
  size_t i;
  for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    char output[256];
    uint32_t size = sizeof output;
    const int32_t rc = single(cases[i].word, output, &size);
    CHECK(rc == cases[i].result);
    if (rc == 0 && cases[i].label != NULL) CHECK(strcmp(output, cases[i].label) == 0);
  }
  {
    char output[2];
    uint32_t size = sizeof output;
    CHECK(single("9787111123453", output, &size) == 2 && size == 5);
  }
}

static void Check_Essay(Essay_Fn essay) {
  static const char text[] = GB_MAO_ZEDONG GB_AT GB_PEKING_UNIVERSITY GB_SPEECH;
  int32_t ends[64];
  int16_t tags[64];
  /* 毛泽东/21 在/27 北京大学/23 讲话 */
  const int32_t expected_ends[] = {6, 8, 16, 20, 0};
  const int16_t expected_tags[] = {21, 27, 23};
  size_t i;
  memset(ends, 0x7f, sizeof ends);
  CHECK(essay(text, ends, (int32_t)strlen(text), -1, 1, tags) == 0);
  for (i = 0; i < sizeof expected_ends / sizeof expected_ends[0]; ++i) CHECK(ends[i] == expected_ends[i]);
  for (i = 0; i < sizeof expected_tags / sizeof expected_tags[0]; ++i) CHECK(tags[i] == expected_tags[i]);
  CHECK(essay(NULL, ends, 64, 0, 0, tags) == 2);
}

int main(void) {
  char scratch[MAX_PATH + 64];
  char home[MAX_PATH];
  struct Host_Library library;

  if (GetCurrentDirectoryA(sizeof home, home) == 0) return 2;
  if (!Enter_Scratch_Directory("loader", scratch, sizeof scratch)) {
    fprintf(stderr, "cannot make a scratch directory\n");
    return 2;
  }

  if (!Host_Library_Load(&library)) return 1;
  CHECK(Host_Library_Complete(&library));
  /* Only the plain names are exported. */
  CHECK(GetProcAddress(library.module, "Tesquin_Init@4") == NULL);
  CHECK(GetProcAddress(library.module, "_Tesquin_Init@4") == NULL);
  CHECK(GetProcAddress(library.module, "_Tesquin_Init") == NULL);
  if (!Host_Library_Complete(&library)) {
    fprintf(stderr, "%d passed, %d failed\n", passed, failed);
    return 1;
  }

  CHECK(library.init(0) == 0);
  CHECK(library.init(0) == 0);
  Check_Query_Document(library.search);
  Check_Trace_File();
  Check_Single_Words(library.single);
  Check_Essay(library.essay);
  CHECK(library.uninit() == 0);
  CHECK(library.uninit() == 0);
  /* A second life in the same process. */
  CHECK(library.init(0) == 0);
  Check_Single_Words(library.single);
  CHECK(library.uninit() == 0);
  CHECK(FreeLibrary(library.module));

  DeleteFileA("as.txt");
  SetCurrentDirectoryA(home);
  RemoveDirectoryA(scratch);
  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
