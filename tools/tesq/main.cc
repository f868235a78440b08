// tesq: the command-line face of libtesqsrch. Dispatches to one subcommand;
// "tesq --help" lists them, "tesq COMMAND --help" shows a command's options.
// Exit status 2 is a usage error throughout.
#include <cstdio>
#include <cstring>

#include "commands.h"

namespace {

struct Subcommand {
  const char *name;
  int (*run)(int, char **);
  const char *summary;
};

const Subcommand kSubcommands[] = {
    {"search", Command_Search, "print the XML query document for a query"},
    {"word", Command_Word, "print the category label of one word"},
    {"essay", Command_Essay, "print the enriched segmentation of a text"},
    {"terms", Command_Terms, "import or export the known terms of 420_DIC"},
    {"build-dicts", Command_Build_Dicts, "build the segmenter lexicon and the five dictionaries"},
    {"eval", Command_Eval, "evaluate the trained dictionaries on held-out words, beside jieba"},
};

void Print_Usage(FILE *out) {
  std::fprintf(out, "usage: tesq COMMAND [ARGS...]\n\ncommands:\n");
  for (const Subcommand &s : kSubcommands) std::fprintf(out, "  %-12s %s\n", s.name, s.summary);
  std::fprintf(out,
               "\nRun 'tesq COMMAND --help' for the options of a command.\n"
               "'tesq --version' prints the version.\n");
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    Print_Usage(stderr);
    return 2;
  }
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    Print_Usage(stdout);
    return 0;
  }
  if (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-V") == 0) {
    std::printf("tesq %s\n", TESQ_VERSION);
    return 0;
  }
  for (const Subcommand &s : kSubcommands)
    if (std::strcmp(argv[1], s.name) == 0) return s.run(argc - 1, argv + 1);
  std::fprintf(stderr, "tesq: unknown command '%s'\n", argv[1]);
  Print_Usage(stderr);
  return 2;
}
