/* A tiny C program of another project: classifies one word with the
 * installed library and its installed data, no environment set. */
#include <stdio.h>

#include <tesqsrch/tesqsrch.h>

int main(int argc, char **argv) {
  const char *word = argc > 1 ? argv[1] : "9787111123453";
  char label[256];
  uint32_t size = sizeof label;
  int32_t init = Tesquin_Init(0);
  if (init != 0) {
    fprintf(stderr, "Tesquin_Init failed: %d\n", (int)init);
    return 1;
  }
  int32_t result = Tesquin_Search_Singleword(word, label, &size);
  Tesquin_UnInit();
  if (result != 0) {
    fprintf(stderr, "no label (%d)\n", (int)result);
    return 1;
  }
  printf("%s\n", label);
  return 0;
}
