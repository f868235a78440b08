/* The C figure beside the Python package's: Tesquin_Search_Singleword over the
 * GB2312 words of a file (one a line), best of REPEAT passes, nanoseconds per
 * call. Built and run by bench_python.py against the build's library. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <tesqsrch/tesqsrch.h>

static double Now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec * 1e-9;
}

int main(int argc, char **argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: label_c WORDS_FILE [REPEAT]\n");
    return 2;
  }
  const int repeat = argc > 2 ? atoi(argv[2]) : 3;
  FILE *file = fopen(argv[1], "rb");
  if (file == NULL) {
    perror(argv[1]);
    return 1;
  }
  size_t count = 0, capacity = 1024;
  char **words = malloc(capacity * sizeof *words);
  char line[4096];
  while (words != NULL && fgets(line, sizeof line, file) != NULL) {
    line[strcspn(line, "\n")] = '\0';
    if (count == capacity) {
      capacity *= 2;
      char **grown = realloc(words, capacity * sizeof *words);
      if (grown == NULL) break;
      words = grown;
    }
    words[count++] = strdup(line);
  }
  fclose(file);
  if (words == NULL || Tesquin_Init(0) != 0) {
    fprintf(stderr, "label_c: cannot start the library\n");
    return 1;
  }
  double best = 0;
  long labelled = 0;
  for (int r = 0; r < repeat; ++r) {
    labelled = 0;
    const double start = Now();
    for (size_t i = 0; i < count; ++i) {
      char label[256];
      uint32_t size = sizeof label;
      if (Tesquin_Search_Singleword(words[i], label, &size) == 0) ++labelled;
    }
    const double took = Now() - start;
    if (r == 0 || took < best) best = took;
  }
  printf("{\"calls\": %zu, \"labelled\": %ld, \"seconds\": %.6f}\n", count, labelled, best);
  Tesquin_UnInit();
  return 0;
}
