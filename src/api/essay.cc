// Tesquin_Search_Essay: not built yet beyond the plain segmentation.
#include "api/exports.h"
#include "services/services.h"

int32_t Essay_Search(const char *text, int32_t *word_ends, int32_t count, int32_t a, int32_t b, int16_t *tags) {
  if (text == nullptr || word_ends == nullptr || tags == nullptr) return 2;
  if (!services::Word_Sect(text, word_ends, count, a, b, tags)) {
    Report_Segmentation_Failure();
    return 1;
  }
  return 0;
}
