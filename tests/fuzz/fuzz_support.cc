#include "fuzz_support.h"

#include <unistd.h>

#include "tesqsrch/tesqsrch.h"

namespace fuzz {

namespace {
std::string g_scratch;

void Remove_Scratch() {
  if (g_scratch.empty()) return;
  std::remove((g_scratch + "/as.txt").c_str());
  rmdir(g_scratch.c_str());
}
}  // namespace

void Start_Library() {
  const int32_t rc = Tesquin_Init(0);
  if (rc != 0) {
    std::fprintf(stderr, "Tesquin_Init failed (%d): set TESQ_DATA_DIR to a built data directory\n", rc);
    std::abort();
  }
}

void Enter_Scratch_Directory() {
  const char *tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/tesq-fuzz-XXXXXX";
  if (mkdtemp(&pattern[0]) == nullptr || chdir(pattern.c_str()) != 0) {
    std::perror("scratch directory");
    std::abort();
  }
  g_scratch = pattern;
  std::atexit(Remove_Scratch);
}

void Trim_Trace(unsigned every) {
  static unsigned calls = 0;
  if (++calls % every == 0) {
    if (FILE *f = std::fopen("as.txt", "w")) std::fclose(f);
  }
}

}  // namespace fuzz
