// The standard-number stage: not built yet; gives no category.
#include "classify/classify.h"

int32_t Standard_Number_Classify(const char *, char *, int32_t *, uint32_t *) { return kClassifyNoCategory; }
