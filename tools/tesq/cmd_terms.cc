// Not built yet: reports that the command is unavailable.
#include <cstdio>

#include "commands.h"

int Command_Terms(int, char **argv) {
  std::fprintf(stderr, "tesq: '%s' is not available in this build\n", argv[0]);
  return 2;
}
