// The exported C functions. Each is a thin shim over the C++ core that keeps
// every exception (in practice only std::bad_alloc) inside the library and
// turns it into the function's failure result.
#include "tesqsrch/tesqsrch.h"

#include "api/exports.h"

extern "C" {

TESQ_API int32_t TESQ_CALL Tesquin_Init(int32_t setting) {
  try {
    return Lifecycle_Init(setting);
  } catch (...) {
    return -1;
  }
}

TESQ_API int32_t TESQ_CALL Tesquin_UnInit(void) {
  try {
    return Lifecycle_UnInit();
  } catch (...) {
    return 0;
  }
}

TESQ_API int32_t TESQ_CALL Tesquin_Search(const char *query, char *output, uint32_t *size) {
  try {
    return Query_Search(query, output, size);
  } catch (...) {
    return 2;
  }
}

TESQ_API int32_t TESQ_CALL Tesquin_Search_Singleword(const char *word, char *output, uint32_t *size) {
  try {
    return Single_Word_Search(word, output, size);
  } catch (...) {
    return 1;
  }
}

TESQ_API int32_t TESQ_CALL Tesquin_Search_Essay(const char *text, int32_t *word_ends, int32_t count, int32_t a,
                                                int32_t b, int16_t *tags) {
  try {
    return Essay_Search(text, word_ends, count, a, b, tags);
  } catch (...) {
    return 1;
  }
}

}  // extern "C"
