/* The public header compiled as C, calling every export of the real library
 * with the built data. Prints "N passed, N failed" and exits nonzero on any
 * failure. */
#include <stdio.h>
#include <string.h>

#include "tesqsrch/tesqsrch.h"

static int passed, failed;

#define CHECK(cond)                                                    \
  do {                                                                 \
    if (cond) {                                                        \
      ++passed;                                                        \
    } else {                                                           \
      ++failed;                                                        \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
    }                                                                  \
  } while (0)

int main(void) {
  char output[4096];
  uint32_t size = sizeof output;
  int32_t word_ends[64];
  int16_t tags[64];
  const char *text = "abc";

  CHECK(Tesquin_Init(0) == 0);
  CHECK(Tesquin_Init(0) == 0);
  CHECK(Tesquin_Search("abc", output, &size) == 0);
  CHECK(strlen(output) == 137);
  CHECK(strstr(output, "<Sentence>abc</Sentence>") != NULL);
  size = 1;
  CHECK(Tesquin_Search("abc", output, &size) == 1 && size == 138);
  size = sizeof output;
  CHECK(Tesquin_Search_Singleword("ab", output, &size) == 3);
  CHECK(Tesquin_Search_Essay(NULL, word_ends, 64, 0, 0, tags) == 2);
  CHECK(Tesquin_Search_Essay(text, word_ends, 64, 0, 0, tags) == 0);
  {
    /* The segmentation covers the text and is terminated. */
    int k = 0;
    while (k < 63 && word_ends[k] != 0) ++k;
    CHECK(k > 0 && k <= 3 && word_ends[k - 1] == 3);
  }
  CHECK(Tesquin_UnInit() == 0);
  CHECK(Tesquin_UnInit() == 0);

  printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
