// The adversarial essay: one short unit (中国, 北京, 中国人民) repeated from
// 10 KB to 10 MB, through the shared library and the service libraries of
// this tree. Such text makes every word a likely organisation beginning
// followed by words likelier inside a name than at its end, the case where a
// walk from every word to the end of the text would cost quadratic time.
// Prints the CPU time of one call at each size and its ratio to the size
// before (about 10 when the essay is linear). A size whose call took longer
// than the time limit ends the row, so a quadratic build still finishes.
//
//   essay_repeated [SECONDS_LIMIT]   (default 60)
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "tesqsrch/tesqsrch.h"

namespace {

double Cpu_Seconds() {
  timespec ts;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Unit {
  const char *name;  // UTF-8, for the table
  const char *gb;    // GB2312
};

}  // namespace

int main(int argc, char **argv) {
  const double limit = argc > 1 ? std::atof(argv[1]) : 60.0;
  if (Tesquin_Init(0) != 0) {
    std::fprintf(stderr, "essay_repeated: Tesquin_Init failed (set TESQ_DATA_DIR)\n");
    return 1;
  }
  const Unit units[] = {
      {"中国", "\xD6\xD0\xB9\xFA"},
      {"北京", "\xB1\xB1\xBE\xA9"},
      {"中国人民", "\xD6\xD0\xB9\xFA\xC8\xCB\xC3\xF1"},
  };
  const size_t sizes[] = {10u << 10, 100u << 10, 1u << 20, 10u << 20};
  std::printf("%-10s %10s %12s %8s\n", "unit", "bytes", "cpu_s", "ratio");
  for (const Unit &unit : units) {
    double previous = 0.0;
    for (const size_t size : sizes) {
      std::string text;
      const std::string piece(unit.gb);
      while (text.size() + piece.size() <= size) text += piece;
      const int32_t count = static_cast<int32_t>(text.size());
      std::vector<int32_t> ends(text.size());
      std::vector<int16_t> tags(text.size());
      const double start = Cpu_Seconds();
      const int32_t result = Tesquin_Search_Essay(text.c_str(), ends.data(), count, 0, 0, tags.data());  // text segmentation
      const double seconds = Cpu_Seconds() - start;
      if (result != 0) {
        std::printf("%-10s %10zu essay result %d\n", unit.name, text.size(), static_cast<int>(result));
        break;
      }
      if (previous > 0.0)
        std::printf("%-10s %10zu %12.4f %8.1f\n", unit.name, text.size(), seconds, seconds / previous);
      else
        std::printf("%-10s %10zu %12.4f %8s\n", unit.name, text.size(), seconds, "-");
      std::fflush(stdout);
      previous = seconds;
      if (seconds > limit) {
        std::printf("%-10s larger sizes skipped: %.1f s is over the limit of %.0f s\n", unit.name, seconds, limit);
        break;
      }
    }
  }
  Tesquin_UnInit();
  return 0;
}
