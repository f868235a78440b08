// The C++ side of the five exports. exports.cc wraps each in a shim that lets
// no exception leave the library.
#ifndef TESQ_API_EXPORTS_H
#define TESQ_API_EXPORTS_H

#include <cstdint>

int32_t Lifecycle_Init(int32_t setting);
int32_t Lifecycle_UnInit();
int32_t Query_Search(const char *query, char *output, uint32_t *size);
int32_t Single_Word_Search(const char *word, char *output, uint32_t *size);
int32_t Essay_Search(const char *text, int32_t *word_ends, int32_t count, int32_t a, int32_t b, int16_t *tags);

#endif
