#include "core/library_state.h"

#include <iostream>

int32_t Region_Table[66];
int32_t Library_Initialised = 0;

void Region_Table_Fill() {
  static const int32_t kValidRegions[] = {11, 12, 13, 14, 15, 21, 22, 23, 31, 32, 33, 34, 35, 36, 37, 41,
                                          42, 43, 44, 45, 46, 50, 51, 52, 53, 54, 61, 62, 63, 64, 65};
  for (int32_t &entry : Region_Table) entry = 0;
  for (int32_t code : kValidRegions) Region_Table[code] = 1;
}

std::ostream &Log_Line(std::ostream &out) {
  out.put('\n');
  out.flush();
  return out;
}

// The line and its line feed in one write, so that lines of concurrent
// callers never run into each other; then flushed as Log_Line does.
void Report_Segmentation_Failure() {
  static const char kLine[] = "KV_Word_Sect Failed!\n";
  std::cout.write(kLine, sizeof kLine - 1);
  std::cout.flush();
}
